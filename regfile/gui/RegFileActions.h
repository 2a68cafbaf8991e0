#pragma once
// The main window's Export and Import actions and the start-up import.
// The main window passes what its selected tree node stands for; the
// functions show the dialogs and do the work. Failures writing the file or
// the registry raise exceptions for the main window's general error display.

#include "platform/win32.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>

class QFileDialog;
class QWidget;
class TformImportProgress;
class TMyRegistryReader;

namespace vt::regfile
{

// The file chosen in sdExportReg or odImportReg; filterIndex counts from 1
// (1: version 5, 2: version 4).
struct TFileChoice {
    QString fileName;
    int filterIndex = 1;
};

// Test seam: while set, the file dialogs are not shown; the seam gets the
// fully configured dialog and answers for the user (std::nullopt: Cancel).
using TFileDialogSeam = std::function<std::optional<TFileChoice>(QFileDialog &dialog)>;
void setFileDialogSeam(TFileDialogSeam seam);
// Shows a configured file dialog (or asks the seam); std::nullopt: Cancel.
std::optional<TFileChoice> RunFileDialog(QFileDialog &dialog);

// Applies a file with the progress window shown over owner; returns the
// reader's verdict (false: not a registry file, nothing applied).
bool ImportFileWithProgress(QWidget *owner, TformImportProgress &progress, const std::string &fileName);

} // namespace vt::regfile

// Export action: sdExportReg, then the key (keyPath as the main window holds
// it, empty for a root) with everything below it, in the 64-bit view when
// use64. Returns false when the dialog was cancelled.
bool aKeyExportExecute(QWidget *parent, HKEY root, const std::string &keyPath, bool use64);

// Import action: odImportReg, then the file with the progress window.
// Returns false when the dialog was cancelled.
bool aKeyImportExecute(QWidget *parent, TformImportProgress &progress);

// Start-up import of a file named on the command line: asks
// "DialogConfirmImport" unless silent, then applies the file without a
// progress window. Returns true when the file was applied.
bool ImportFileAtStartup(const std::string &fileName, bool silent);
