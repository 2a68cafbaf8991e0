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
#include <vector>

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

// What an import did, for the user to be told.
struct TImportResult {
    QString FileName;
    bool Applied = false; // a registry file, applied as far as it went
    std::string Error;    // why nothing was applied, or why the import stopped
    size_t Keys = 0, Values = 0, IgnoredLines = 0, KeysFailed = 0;
    std::vector<size_t> FirstIgnoredLines;
    // The keys the file named (root, path, deleted), once each, so that the
    // window can show them; at most MaxTouchedKeys, TouchedAll says whether
    // every one is here.
    struct TKey {
        HKEY Root;
        std::string Path;
        bool Deleted;
    };
    std::vector<TKey> Touched;
    bool TouchedAll = true;
    static constexpr size_t MaxTouchedKeys = 100000;
};
// The result as one or two sentences: keys and values written, lines
// ignored (with the first line numbers), keys that failed, or the error.
QString ImportResultText(const TImportResult &result);

// Applies a file with the progress window shown over owner; returns the
// reader's verdict (false: not a registry file, nothing applied). A registry
// write failure ends the import with an exception, after `result` (when
// given) was filled.
bool ImportFileWithProgress(QWidget *owner, TformImportProgress &progress, const std::string &fileName,
                            TImportResult *result = nullptr);

} // namespace vt::regfile

// Export action: sdExportReg, then the key (keyPath as the main window holds
// it, empty for a root) with everything below it, in the 64-bit view when
// use64. Returns false when the dialog was cancelled.
bool aKeyExportExecute(QWidget *parent, HKEY root, const std::string &keyPath, bool use64);

// Import action: odImportReg, then the file with the progress window.
// Returns false when the dialog was cancelled.
bool aKeyImportExecute(QWidget *parent, TformImportProgress &progress,
                       vt::regfile::TImportResult *result = nullptr);

// Start-up import of a file named on the command line: asks
// "DialogConfirmImport", naming the file, unless silent, then applies the
// file without a progress window. Returns true when the file was applied;
// `result` (when given) says what was done, also when an exception ends it.
bool ImportFileAtStartup(const std::string &fileName, bool silent, vt::regfile::TImportResult *result = nullptr);
