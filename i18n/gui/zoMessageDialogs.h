#pragma once
// The message dialog and the one-line text prompt, built in code so that
// captions, titles and font follow the active language.
//
// Test seam: setNextAnswer()/setNextPromptAnswer() queue answers that the
// next calls of ShowMessageDialog()/PromptForText() return without showing
// anything, so tests of other windows never block on a modal dialog. Each
// answered call is recorded (lastMessage(), lastPrompt()). clearAnswers()
// empties both queues; an empty queue means the real dialog is shown.

#include "i18n/zoMessages.h"

#include <QDialog>
#include <QFont>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace vt::i18n
{

// Dialog units of a font: average width of "A".."Z" "a".."z" (integer
// division by 52) and the text height; lengths rounded like MulDiv.
struct TDialogUnits {
    int charWidth = 0;
    int charHeight = 0;
    static TDialogUnits of(const QFont &font);
    int h(int units) const; // units * charWidth / 4
    int v(int units) const; // units * charHeight / 8
};

// The process-wide dialog font as a QFont.
QFont DialogQFont();

class TMessageForm : public QDialog
{
    Q_OBJECT
public:
    explicit TMessageForm(QWidget *parent = nullptr);

    int HelpContext = 0;
    QPushButton *defaultButton() const { return m_default; }
    QPushButton *cancelButton() const { return m_cancel; }
    // Client rectangle the layout arithmetic produced (the window's size).
    QSize clientSize() const { return m_client; }

    void reject() override; // close box and reject(): result 2

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    friend TMessageForm *BuildMessageDialog(const QString &, TMsgDlgType, TMsgDlgButtons);
    QPushButton *m_default = nullptr;
    QPushButton *m_cancel = nullptr;
    QSize m_client;
};

// A new, unshown dialog; the caller shows and deletes it.
TMessageForm *BuildMessageDialog(const QString &text, TMsgDlgType kind, TMsgDlgButtons buttons);

// Shows the dialog modally and returns the result code of the pressed button,
// or 2 (mrCancel) when the window was closed.
int ShowMessageDialog(const QString &text, TMsgDlgType kind, TMsgDlgButtons buttons, int helpContext = 0);

// The longest text each kind of prompt takes: a key name as Windows limits it,
// a value name, and no limit (a whole key path).
inline constexpr int PromptKeyNameLength = 255;
inline constexpr int PromptValueNameLength = 16383;
inline constexpr int PromptNoLimit = 0;

// One-line prompt: true and `value` replaced on OK; false and `value`
// untouched on Cancel, Escape or the close box. Input is capped at maxLength
// characters (PromptNoLimit: not capped).
bool PromptForText(const QString &title, const QString &caption, QString &value,
                   int maxLength = PromptKeyNameLength);

// Opens help for a context; installed by the main window. Without one the
// Help button does nothing.
void SetHelpHandler(std::function<void(int helpContext)> handler);

// ---- Test seam --------------------------------------------------------------

struct TMessageCall {
    QString text;
    TMsgDlgType kind = TMsgDlgType::Information;
    TMsgDlgButtons buttons = 0;
};
struct TPromptCall {
    QString title;
    QString caption;
    QString proposed;
    int maxLength = 0;
};

void setNextAnswer(int resultCode);
// std::nullopt answers Cancel; a text answers OK with that text.
void setNextPromptAnswer(std::optional<QString> answer);
void clearAnswers();
int pendingAnswers(); // message and prompt answers not used yet
TMessageCall lastMessage();
TPromptCall lastPrompt();

} // namespace vt::i18n
