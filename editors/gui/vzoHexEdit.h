#pragma once
// THexEdit: bytes edited in place as hex pairs, sixteen to a row, with the
// offset before and the characters after. It holds the bytes themselves and
// paints only the rows in sight, so opening a value of many megabytes and
// each keystroke cost the same as for a few bytes (a byte inserted or
// deleted moves the bytes after it, one memmove).
//
// Keys: the hex digits overwrite the nibble at the cursor (after the last
// byte they append one); Insert inserts a zero byte; Backspace and Delete
// remove the byte before or at the cursor, or the selection; arrows, Home,
// End, Page Up and Page Down move (Ctrl+Home and Ctrl+End to the ends,
// Shift selects); Ctrl+A selects all, Ctrl+C copies and Ctrl+V pastes hex
// pairs. Typing over a selection replaces it.

#include <QAbstractScrollArea>

#include <cstdint>
#include <map>
#include <vector>

namespace vt::editors
{

class THexEdit : public QAbstractScrollArea
{
    Q_OBJECT
public:
    static constexpr int BytesPerRow = 16;

    explicit THexEdit(QWidget *parent = nullptr);

    // The bytes to edit, copied.
    void SetData(std::vector<uint8_t> bytes);
    // The bytes to edit, not copied until the first change: opening costs
    // nothing however big they are. They must stay alive and unchanged until
    // that change, the next SetData or SetSharedData, or the editor's end.
    void SetSharedData(const std::vector<uint8_t> &bytes);
    // The bytes as edited (bytes overwritten in shared data are merged in
    // here, once).
    const std::vector<uint8_t> &Data() const;
    int64_t Size() const { return int64_t(m_shared ? m_shared->size() : m_data.size()); }
    uint8_t ByteAt(int64_t offset) const;

    // The cursor: a byte offset (0 to the size) and which nibble of it.
    int64_t Cursor() const { return m_cursor; }
    bool LowNibble() const { return m_low; }
    void SetCursor(int64_t offset, bool select = false);
    // The selected bytes [start, end); empty when nothing is selected.
    int64_t SelectionStart() const;
    int64_t SelectionEnd() const;
    void SelectAll();

    // The row's three texts, as painted.
    QString RowText(int64_t row) const;

signals:
    void changed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int rowHeight() const;
    int charWidth() const;
    int64_t rowCount() const;
    void updateScrollBars();
    void ensureVisible();
    bool removeSelection();
    void typeNibble(int value);
    void paste();
    void copy() const;

    // Makes the bytes the editor's own before their first change.
    void own() const;

    // Own bytes, or shared ones with the bytes typed over them kept apart:
    // overwriting does not copy; inserting or deleting makes them own.
    mutable std::vector<uint8_t> m_data;
    mutable const std::vector<uint8_t> *m_shared = nullptr;
    mutable std::map<int64_t, uint8_t> m_patch;
    int64_t m_cursor = 0;
    int64_t m_anchor = -1; // selection's other end, -1 without one
    bool m_low = false;
};

} // namespace vt::editors
