#include "vzoHexEdit.h"

#include "FormUnitEditBinary.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace vt::editors
{

namespace
{
constexpr char HexDigits[] = "0123456789ABCDEF";
// Offset (8), two blanks, 16 pairs with a blank after each, a blank, text.
constexpr int HexColumn = 10;
constexpr int TextColumn = HexColumn + THexEdit::BytesPerRow * 3 + 1;
} // namespace

THexEdit::THexEdit(QWidget *parent) : QAbstractScrollArea(parent)
{
    setObjectName(QStringLiteral("hexEdit"));
    QFont mono(QStringLiteral("Courier New"));
    mono.setStyleHint(QFont::Monospace);
    mono.setFixedPitch(true);
    setFont(mono);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(1);
}

int THexEdit::rowHeight() const
{
    return fontMetrics().height();
}
int THexEdit::charWidth() const
{
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

// One row more than the bytes fill, so that the cursor after the last byte
// of a full row has a place.
int64_t THexEdit::rowCount() const
{
    return Size() / BytesPerRow + 1;
}

void THexEdit::SetSharedData(const std::vector<uint8_t> &bytes)
{
    SetData({});
    m_shared = &bytes;
    updateScrollBars();
    viewport()->update();
}

void THexEdit::own() const
{
    if (!m_shared)
        return;
    m_data = *m_shared;
    for (const auto &[at, b] : m_patch)
        m_data[size_t(at)] = b;
    m_patch.clear();
    m_shared = nullptr;
}

const std::vector<uint8_t> &THexEdit::Data() const
{
    if (m_shared && !m_patch.empty())
        own();
    return m_shared ? *m_shared : m_data;
}

uint8_t THexEdit::ByteAt(int64_t offset) const
{
    if (!m_shared)
        return m_data[size_t(offset)];
    const auto patched = m_patch.find(offset);
    return patched != m_patch.end() ? patched->second : (*m_shared)[size_t(offset)];
}

void THexEdit::SetData(std::vector<uint8_t> bytes)
{
    m_shared = nullptr;
    m_patch.clear();
    m_data = std::move(bytes);
    m_cursor = 0;
    m_anchor = -1;
    m_low = false;
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

void THexEdit::updateScrollBars()
{
    const int visible = std::max(1, viewport()->height() / rowHeight());
    const int64_t rows = rowCount();
    verticalScrollBar()->setRange(0, int(std::max<int64_t>(0, rows - visible)));
    verticalScrollBar()->setPageStep(visible);
    horizontalScrollBar()->setRange(0, std::max(0, (TextColumn + BytesPerRow + 1) * charWidth() - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void THexEdit::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

int64_t THexEdit::SelectionStart() const
{
    return m_anchor < 0 ? m_cursor : std::min(m_anchor, m_cursor);
}
int64_t THexEdit::SelectionEnd() const
{
    return m_anchor < 0 ? m_cursor : std::max(m_anchor, m_cursor);
}

void THexEdit::SelectAll()
{
    m_anchor = 0;
    m_cursor = Size();
    m_low = false;
    viewport()->update();
}

void THexEdit::SetCursor(int64_t offset, bool select)
{
    offset = std::clamp<int64_t>(offset, 0, Size());
    if (select && m_anchor < 0)
        m_anchor = m_cursor;
    else if (!select)
        m_anchor = -1;
    m_cursor = offset;
    m_low = false;
    ensureVisible();
    viewport()->update();
}

void THexEdit::ensureVisible()
{
    const int64_t row = m_cursor / BytesPerRow;
    const int visible = std::max(1, viewport()->height() / rowHeight());
    QScrollBar *bar = verticalScrollBar();
    if (row < bar->value())
        bar->setValue(int(row));
    else if (row >= bar->value() + visible)
        bar->setValue(int(row - visible + 1));
}

QString THexEdit::RowText(int64_t row) const
{
    QString text(TextColumn + BytesPerRow, QLatin1Char(' '));
    const int64_t first = row * BytesPerRow;
    for (int i = 0; i < 8; ++i)
        text[i] = QLatin1Char(HexDigits[(uint64_t(first) >> (28 - 4 * i)) & 15]);
    const int64_t size = Size();
    for (int i = 0; i < BytesPerRow && first + i < size; ++i) {
        const uint8_t b = ByteAt(first + i);
        text[HexColumn + 3 * i] = QLatin1Char(HexDigits[b >> 4]);
        text[HexColumn + 3 * i + 1] = QLatin1Char(HexDigits[b & 15]);
        text[TextColumn + i] = b >= 0x20 && b < 0x7F ? QLatin1Char(char(b)) : QLatin1Char('.');
    }
    return text;
}

void THexEdit::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int h = rowHeight(), cw = charWidth();
    const int dx = -horizontalScrollBar()->value();
    const int64_t top = verticalScrollBar()->value();
    const int rows = viewport()->height() / h + 1;
    const int64_t selStart = SelectionStart(), selEnd = SelectionEnd();
    const QColor selection = palette().color(QPalette::Highlight).lighter(160);
    for (int r = 0; r < rows && top + r < rowCount(); ++r) {
        const int64_t row = top + r;
        const int y = r * h;
        const int64_t first = row * BytesPerRow;
        for (int i = 0; i < BytesPerRow; ++i) {
            const int64_t at = first + i;
            if (at >= selStart && at < selEnd && at < Size()) {
                painter.fillRect(dx + (HexColumn + 3 * i) * cw, y, 2 * cw, h, selection);
                painter.fillRect(dx + (TextColumn + i) * cw, y, cw, h, selection);
            }
        }
        painter.drawText(dx, y + fontMetrics().ascent(), RowText(row));
        if (m_cursor / BytesPerRow == row) {
            const int col = int(m_cursor % BytesPerRow);
            const int x = dx + (HexColumn + 3 * col + (m_low ? 1 : 0)) * cw;
            painter.fillRect(x, y, 2, h, palette().color(QPalette::Text));
        }
    }
}

bool THexEdit::removeSelection()
{
    const int64_t start = SelectionStart(), end = SelectionEnd();
    m_anchor = -1;
    if (start == end)
        return false;
    own();
    m_data.erase(m_data.begin() + start, m_data.begin() + end);
    m_cursor = start;
    m_low = false;
    return true;
}

void THexEdit::typeNibble(int value)
{
    const bool selection = m_anchor >= 0 && SelectionStart() != SelectionEnd();
    if (m_shared && !selection && m_cursor < Size()) {
        // Typed over shared bytes: kept apart, nothing copied.
        uint8_t b = ByteAt(m_cursor);
        b = m_low ? uint8_t((b & 0xF0) | value) : uint8_t((b & 0x0F) | (value << 4));
        m_patch[m_cursor] = b;
        m_anchor = -1;
        if (m_low)
            ++m_cursor;
        m_low = !m_low;
        return;
    }
    own();
    if (m_anchor >= 0 && SelectionStart() != SelectionEnd()) {
        removeSelection();
        m_data.insert(m_data.begin() + m_cursor, uint8_t(0));
    } else if (m_cursor >= int64_t(m_data.size())) {
        m_data.push_back(0);
    }
    m_anchor = -1;
    uint8_t &b = m_data[size_t(m_cursor)];
    if (m_low) {
        b = uint8_t((b & 0xF0) | value);
        ++m_cursor;
        m_low = false;
    } else {
        b = uint8_t((b & 0x0F) | (value << 4));
        m_low = true;
    }
}

void THexEdit::copy() const
{
    const int64_t start = SelectionStart(), end = SelectionEnd();
    if (start == end)
        return;
    const std::vector<uint8_t> part(Data().begin() + start, Data().begin() + end);
    QApplication::clipboard()->setText(TformEditBinary::FormatHexText(part));
}

void THexEdit::paste()
{
    const auto bytes = TformEditBinary::ParseHexText(QApplication::clipboard()->text());
    if (!bytes)
        return;
    own();
    removeSelection();
    m_data.insert(m_data.begin() + m_cursor, bytes->begin(), bytes->end());
    m_cursor += int64_t(bytes->size());
    m_low = false;
}

void THexEdit::keyPressEvent(QKeyEvent *event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const int64_t size = Size();
    const int page = std::max(1, viewport()->height() / rowHeight()) * BytesPerRow;
    bool edited = false;
    switch (event->key()) {
    case Qt::Key_Left:
        SetCursor(m_low && !shift ? m_cursor : m_cursor - 1, shift);
        break;
    case Qt::Key_Right:
        SetCursor(m_cursor + 1, shift);
        break;
    case Qt::Key_Up:
        SetCursor(m_cursor - BytesPerRow, shift);
        break;
    case Qt::Key_Down:
        SetCursor(m_cursor + BytesPerRow, shift);
        break;
    case Qt::Key_PageUp:
        SetCursor(m_cursor - page, shift);
        break;
    case Qt::Key_PageDown:
        SetCursor(m_cursor + page, shift);
        break;
    case Qt::Key_Home:
        SetCursor(ctrl ? 0 : m_cursor - m_cursor % BytesPerRow, shift);
        break;
    case Qt::Key_End:
        SetCursor(ctrl ? size : std::min(size, m_cursor - m_cursor % BytesPerRow + BytesPerRow - 1), shift);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Line ends mean nothing here; the dialog's OK stays a click away.
        break;
    case Qt::Key_Backspace:
        own();
        if (!removeSelection() && m_cursor > 0) {
            const int64_t at = m_low ? m_cursor : m_cursor - 1;
            m_data.erase(m_data.begin() + at);
            m_cursor = at;
            m_low = false;
        }
        edited = true;
        break;
    case Qt::Key_Delete:
        own();
        if (!removeSelection() && m_cursor < size) {
            m_data.erase(m_data.begin() + m_cursor);
            m_low = false;
        }
        edited = true;
        break;
    case Qt::Key_Insert:
        own();
        removeSelection();
        m_data.insert(m_data.begin() + m_cursor, uint8_t(0));
        m_low = false;
        edited = true;
        break;
    default:
        if (ctrl && event->key() == Qt::Key_A) {
            SelectAll();
        } else if (ctrl && event->key() == Qt::Key_C) {
            copy();
        } else if (ctrl && event->key() == Qt::Key_V) {
            paste();
            edited = true;
        } else if (event->text().size() == 1 && !ctrl) {
            const QChar c = event->text()[0];
            int v = -1;
            if (c >= u'0' && c <= u'9')
                v = c.unicode() - u'0';
            else if (c >= u'a' && c <= u'f')
                v = c.unicode() - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                v = c.unicode() - u'A' + 10;
            if (v >= 0) {
                typeNibble(v);
                edited = true;
            } else if (!c.isPrint()) {
                QAbstractScrollArea::keyPressEvent(event); // Return, Escape: the dialog's
                return;
            }
            // Other characters (blanks between pairs among them) are dropped.
        } else {
            QAbstractScrollArea::keyPressEvent(event);
            return;
        }
        break;
    }
    event->accept();
    if (edited) {
        updateScrollBars();
        ensureVisible();
        viewport()->update();
        emit changed();
    }
}

void THexEdit::mousePressEvent(QMouseEvent *event)
{
    const int cw = charWidth();
    const int x = int(event->position().x()) + horizontalScrollBar()->value();
    const int64_t row = verticalScrollBar()->value() + int64_t(event->position().y()) / rowHeight();
    int col = x / cw;
    int64_t byte = -1;
    if (col >= HexColumn && col < HexColumn + BytesPerRow * 3)
        byte = (col - HexColumn) / 3;
    else if (col >= TextColumn && col < TextColumn + BytesPerRow)
        byte = col - TextColumn;
    if (byte >= 0)
        SetCursor(row * BytesPerRow + byte, event->modifiers() & Qt::ShiftModifier);
    setFocus(Qt::MouseFocusReason);
}

} // namespace vt::editors
