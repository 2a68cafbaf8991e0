#include "vzoHexView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStandardItemModel>

#include <limits>

#include <algorithm>

namespace vt::editors
{

namespace
{

// Bytes 0x80 to 0x9F of the Windows ANSI code page (1252); the others are
// the Latin-1 characters of the same number.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QChar ansiChar(uint8_t b) { return b >= 0x80 && b <= 0x9F ? QChar(Cp1252High[b - 0x80]) : QChar(b); }

constexpr char HexDigits[] = "0123456789ABCDEF";

} // namespace

THexView::THexView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setObjectName(QStringLiteral("hexView"));
    QFont mono(QStringLiteral("Courier New"));
    mono.setStyleHint(QFont::Monospace);
    mono.setFixedPitch(true);
    setFont(mono);
    setFocusPolicy(Qt::StrongFocus);
    m_columns = new QStandardItemModel(0, 3, this);
    m_columns->setHorizontalHeaderLabels({tr("Pos"), tr("Dump"), tr("Text")});
    m_header = new QHeaderView(Qt::Horizontal, this);
    m_header->setObjectName(QStringLiteral("hexViewHeader"));
    m_header->setModel(m_columns);
    m_header->setSectionsClickable(false);
    m_header->setStretchLastSection(false);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_header->resizeSection(0, 68);
    m_header->resizeSection(1, 260);
    m_header->resizeSection(2, 128);
    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        updateScrollBars();
        viewport()->update();
    });
    verticalScrollBar()->setSingleStep(1);
    layoutHeader();
}

int THexView::rowHeight() const { return fontMetrics().height() + 2; }

int THexView::VisibleRows() const { return std::max(1, (viewport()->height() + rowHeight() - 1) / rowHeight()); }

int64_t THexView::TopRow() const { return verticalScrollBar()->value(); }

int64_t THexView::BytesShown() const { return int64_t(VisibleRows()) * RowWidth(); }

void THexView::SetDataSize(int64_t size)
{
    m_dataSize = std::max<int64_t>(size, 0);
    updateRows();
    if (m_current >= m_rowCount)
        m_current = m_rowCount - 1;
    viewport()->update();
}

void THexView::updateRows()
{
    const int64_t width = RowWidth();
    m_rowCount = m_dataSize == 0 ? 0 : (m_dataSize + width - 1) / width;
    updateScrollBars();
}

void THexView::updateScrollBars()
{
    const int full = std::max(1, viewport()->height() / rowHeight());
    const int64_t maxTop = std::max<int64_t>(0, m_rowCount - full);
    verticalScrollBar()->setRange(0, int(std::min<int64_t>(maxTop, std::numeric_limits<int>::max())));
    verticalScrollBar()->setPageStep(full);
    const int contentWidth = m_header->length();
    horizontalScrollBar()->setRange(0, std::max(0, contentWidth - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void THexView::fetch(int64_t firstByte, int64_t count) const
{
    if (OnGetAvailableData) {
        std::fill_n(m_rowEnabled, count, false);
        OnGetAvailableData(firstByte, count, m_rowData, m_rowEnabled);
        return;
    }
    std::fill_n(m_rowEnabled, count, true);
    if (OnGetBinaryData)
        OnGetBinaryData(firstByte, count, m_rowData);
    else
        std::fill_n(m_rowData, count, uint8_t(0));
}

void THexView::RowTexts(int64_t row, QString &pos, QString &dump, QString &text) const
{
    ++m_rowsFormatted;
    const int64_t first = row * RowWidth();
    const int64_t count = std::clamp<int64_t>(m_dataSize - first, 0, RowWidth());
    pos = QString::number(uint32_t(uint64_t(first)), 16).toUpper().rightJustified(8, u'0');
    dump.clear();
    text.clear();
    if (count == 0)
        return;
    fetch(first, count);
    dump.reserve(int(count * 2 + count / 4));
    text.reserve(int(count));
    for (int64_t i = 0; i < count; ++i) {
        if (i > 0 && i % 4 == 0)
            dump += u' ';
        const uint8_t b = m_rowData[i];
        if (m_rowEnabled[i]) {
            dump += QLatin1Char(HexDigits[b >> 4]);
            dump += QLatin1Char(HexDigits[b & 15]);
            text += b > 31 ? ansiChar(b) : QChar(u'.');
        } else {
            dump += DisabledHexChar;
            dump += DisabledHexChar;
            text += DisabledTextChar;
        }
    }
}

void THexView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int height = rowHeight();
    const int dx = -horizontalScrollBar()->value();
    const int64_t top = TopRow();
    const int64_t end = std::min<int64_t>(m_rowCount, top + VisibleRows());
    const int pad = 4;
    QString pos, dump, text;
    for (int64_t row = top; row < end; ++row) {
        const int y = int(row - top) * height;
        const QRect line(0, y, viewport()->width(), height);
        QColor color = palette().color(QPalette::Text);
        if (row == m_current) {
            // The selection stays visible while the view has no focus.
            painter.fillRect(line, palette().color(QPalette::Active, QPalette::Highlight));
            color = palette().color(QPalette::Active, QPalette::HighlightedText);
        } else if (OnGetRowColor) {
            const int64_t first = row * RowWidth();
            OnGetRowColor(first, std::min(first + RowWidth(), m_dataSize) - 1, color);
        }
        RowTexts(row, pos, dump, text);
        painter.setPen(color);
        const QString *cells[3] = {&pos, &dump, &text};
        for (int c = 0; c < 3; ++c) {
            const QRect cell(dx + m_header->sectionPosition(c) + pad, y, m_header->sectionSize(c) - 2 * pad, height);
            painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, *cells[c]);
        }
    }
}

void THexView::recalcBlocks()
{
    const QFontMetrics metrics(font());
    const int available = viewport()->width() - m_header->sectionSize(0) - 20;
    auto hexWidth = [&](int n) { return metrics.horizontalAdvance(QStringLiteral("AABBCCDD ").repeated(n)); };
    auto charWidth = [&](int n) { return metrics.horizontalAdvance(QStringLiteral("ABCD").repeated(n)); };
    int blocks = MinHexBlocks;
    for (int n = MaxHexBlocks; n > MinHexBlocks; --n)
        if (hexWidth(n) + charWidth(n) < available) {
            blocks = n;
            break;
        }
    const int64_t selectedByte = m_current >= 0 ? m_current * RowWidth() : -1;
    const bool changed = blocks != m_hexBlocks;
    m_hexBlocks = blocks;
    m_header->resizeSection(1, hexWidth(blocks) + 8);
    m_header->resizeSection(2, charWidth(blocks) + 12);
    updateRows();
    if (changed && selectedByte >= 0)
        SetCurrentRow(selectedByte / RowWidth()); // the same bytes stay selected and in view
}

void THexView::layoutHeader()
{
    const int headerHeight = m_header->sizeHint().height();
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect vg = viewport()->geometry();
    m_header->setGeometry(vg.left(), vg.top() - headerHeight, vg.width(), headerHeight);
    m_header->setOffset(horizontalScrollBar()->value());
}

void THexView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    layoutHeader();
    recalcBlocks();
    updateScrollBars();
}

void THexView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange && m_header) {
        layoutHeader();
        recalcBlocks();
    }
}

void THexView::scrollContentsBy(int, int)
{
    m_header->setOffset(horizontalScrollBar()->value());
    viewport()->update();
}

void THexView::SetCurrentRow(int64_t row)
{
    m_current = m_rowCount == 0 ? -1 : std::clamp<int64_t>(row, 0, m_rowCount - 1);
    if (m_current >= 0) {
        const int full = std::max(1, viewport()->height() / rowHeight());
        if (m_current < TopRow())
            verticalScrollBar()->setValue(int(m_current));
        else if (m_current >= TopRow() + full)
            verticalScrollBar()->setValue(int(m_current - full + 1));
    }
    viewport()->update();
}

void THexView::keyPressEvent(QKeyEvent *event)
{
    const int page = std::max(1, viewport()->height() / rowHeight());
    const int64_t current = std::max<int64_t>(m_current, 0);
    switch (event->key()) {
    case Qt::Key_Up:
        SetCurrentRow(current - 1);
        break;
    case Qt::Key_Down:
        SetCurrentRow(m_current < 0 ? 0 : current + 1);
        break;
    case Qt::Key_PageUp:
        SetCurrentRow(current - page);
        break;
    case Qt::Key_PageDown:
        SetCurrentRow(current + page);
        break;
    case Qt::Key_Home:
        SetCurrentRow(0);
        break;
    case Qt::Key_End:
        SetCurrentRow(m_rowCount - 1);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void THexView::mousePressEvent(QMouseEvent *event)
{
    const int64_t row = TopRow() + event->position().toPoint().y() / rowHeight();
    if (row < m_rowCount)
        SetCurrentRow(row);
    QAbstractScrollArea::mousePressEvent(event);
}

} // namespace vt::editors
