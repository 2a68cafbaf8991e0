#pragma once
// "Change numeric data": one number in three linked fields (decimal, hex,
// binary), 32 or 64 bits wide. The hex field decides the number.

#include <QDialog>

#include <cstdint>

class QLineEdit;

namespace vt::editors
{

class TformEditInteger : public QDialog
{
    Q_OBJECT
public:
    explicit TformEditInteger(QWidget *parent = nullptr);

    // Set the width mode, fill the fields and show; `number` receives the
    // hex field's number, also on Cancel. Return mrOK or mrCancel.
    int EditInt32(const QString &name, uint32_t &number);
    int EditInt64(const QString &name, int64_t &number);

    bool Is64() const { return m_is64; }
    // Why OK is refused now: the decimal or binary field shows a text that
    // does not read as the hex field's number. Empty when OK may close.
    QString Disagreement() const;

    void accept() override;

    QLineEdit *editValue = nullptr;
    QLineEdit *editDataDecimal = nullptr;
    QLineEdit *editDataHex = nullptr;
    QLineEdit *editDataBinary = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int edit(const QString &name, int64_t &number);
    void fill(int64_t number, QLineEdit *except);
    bool keyAllowed(QLineEdit *field, const QString &text) const;

    bool m_is64 = false;
};

} // namespace vt::editors
