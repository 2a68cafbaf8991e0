#pragma once
// "Change string data": one line of REG_SZ or REG_EXPAND_SZ text.

#include <QDialog>

class QLineEdit;

namespace vt::editors
{

class TformEditString : public QDialog
{
    Q_OBJECT
public:
    explicit TformEditString(QWidget *parent = nullptr);

    // Shows the name and the text; `text` receives the edited text, also on
    // Cancel. Returns mrOK or mrCancel.
    int EditString(const QString &name, QString &text);

    QLineEdit *editValue = nullptr;
    QLineEdit *editData = nullptr;
};

} // namespace vt::editors
