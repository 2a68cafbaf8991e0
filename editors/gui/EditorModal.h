#pragma once
// How the value editors run modally, with a seam for tests: a queued driver
// takes the place of the dialog's own event loop. The dialog is shown
// (offscreen in tests), the driver works it as a person would (keys to the
// focused field, a click on OK), and a dialog the driver left open counts
// as cancelled.

#include <QDialog>

#include <functional>

namespace vt::editors
{

// Result codes of the editors: OK 1, Cancel, Escape and the close box 2.
inline constexpr int mrOK = 1;
inline constexpr int mrCancel = 2;

// Shows the dialog modally (or hands it to the next queued driver) and
// returns mrOK or mrCancel.
int RunEditorModal(QDialog &dialog);

// ---- Test seam --------------------------------------------------------------
using TEditorDriver = std::function<void(QDialog &dialog)>;
void setNextEditorDriver(TEditorDriver driver);
void clearEditorDrivers();
int pendingEditorDrivers();

} // namespace vt::editors

class QBoxLayout;
class QPushButton;

namespace vt::editors
{
// The OK and Cancel buttons (`bnOK`, `bnCancel`) at the foot of an editor;
// OK is the default button. Returns OK.
QPushButton *AddEditorButtons(QDialog *dialog, QBoxLayout *layout);
} // namespace vt::editors
