#pragma once
// "Change multi-string value": one entry of a REG_MULTI_SZ per line.

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;

namespace vt::editors
{

class TformEditMultiString : public QDialog
{
    Q_OBJECT
public:
    explicit TformEditMultiString(QWidget *parent = nullptr);

    // The memo shows the text's lines (split at CR LF; a final CR LF opens no
    // further line); `text` receives every line of the memo followed by
    // CR LF, also on Cancel. Returns mrOK or mrCancel.
    int EditMultiString(const QString &name, QString &text);

    QLineEdit *editValue = nullptr;
    QPlainTextEdit *memoData = nullptr;
};

} // namespace vt::editors
