#pragma once
// "Modify binary data": a value's raw bytes as hex pairs, sixteen to a line,
// edited in place (THexEdit), for REG_BINARY and every type the program
// edits only as bytes.

#include <QDialog>

#include <cstdint>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;

namespace vt::editors
{

class THexEdit;

class TformEditBinary : public QDialog
{
    Q_OBJECT
public:
    explicit TformEditBinary(QWidget *parent = nullptr);

    // The most bytes the dialog edits. The editor keeps the bytes and paints
    // only what is in sight, so the limit is memory, not speed.
    static constexpr size_t MaxBytes = size_t(64) << 20;

    // Shows the bytes; on OK `bytes` receives the edited ones. Returns mrOK
    // or mrCancel.
    int EditBinary(const QString &name, const QString &typeName, std::vector<uint8_t> &bytes);

    // Hex pairs separated or not by blanks and line breaks; none when the
    // text holds anything else or an odd number of digits.
    static std::optional<std::vector<uint8_t>> ParseHexText(const QString &text);
    static QString FormatHexText(const std::vector<uint8_t> &bytes);

    QLineEdit *editValue = nullptr;
    QLineEdit *editType = nullptr;
    THexEdit *hexData = nullptr;
    QLabel *lblSize = nullptr;

private:
    void updateSize();
};

} // namespace vt::editors
