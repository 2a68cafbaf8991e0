#pragma once
// THexView: any byte sequence as rows of offset, hex dump and characters.
// It keeps no data and no row texts: every visible row is fetched through
// the events and formatted when it is painted, so values of any size show
// at once and the view's memory does not grow with them.

#include <QAbstractScrollArea>
#include <QColor>

#include <cstdint>
#include <functional>

class QHeaderView;
class QStandardItemModel;

namespace vt::editors
{

class THexView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    // Fill `data` (and `enabled`: whether each byte is available) for
    // `count` bytes from `firstByte`.
    using TOnGetAvailableData =
        std::function<void(int64_t firstByte, int64_t count, uint8_t *data, bool *enabled)>;
    using TOnGetBinaryData = std::function<void(int64_t firstByte, int64_t count, uint8_t *data)>;
    using TOnGetRowColor = std::function<void(int64_t firstByte, int64_t lastByte, QColor &color)>;

    static constexpr int MinHexBlocks = 2;
    static constexpr int MaxHexBlocks = 17;

    explicit THexView(QWidget *parent = nullptr);

    int64_t DataSize() const { return m_dataSize; }
    void SetDataSize(int64_t size);
    // 4-byte groups per row; 4 until the view is first sized.
    int HexBlocks() const { return m_hexBlocks; }
    int RowWidth() const { return m_hexBlocks * 4; }
    int64_t RowCount() const { return m_rowCount; }
    // Bytes on the rows the window shows.
    int64_t BytesShown() const;
    QChar DisabledHexChar = QChar(0xA4);
    QChar DisabledTextChar = QChar(0xA4);

    TOnGetAvailableData OnGetAvailableData;
    TOnGetBinaryData OnGetBinaryData;
    TOnGetRowColor OnGetRowColor;

    // The three column texts of a row, as painted.
    void RowTexts(int64_t row, QString &pos, QString &dump, QString &text) const;

    // The selected row, or -1.
    int64_t CurrentRow() const { return m_current; }
    void SetCurrentRow(int64_t row);
    int64_t TopRow() const;
    int VisibleRows() const;
    QHeaderView *Header() const { return m_header; }
    // Rows formatted since the view was made (painting, RowTexts).
    int64_t RowsFormatted() const { return m_rowsFormatted; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent *event) override;

private:
    int rowHeight() const;
    void fetch(int64_t firstByte, int64_t count) const;
    void updateRows();
    void updateScrollBars();
    void recalcBlocks();
    void layoutHeader();

    QHeaderView *m_header = nullptr;
    QStandardItemModel *m_columns = nullptr;
    int64_t m_dataSize = 0;
    int64_t m_rowCount = 0;
    int64_t m_current = -1;
    int m_hexBlocks = 4;
    mutable int64_t m_rowsFormatted = 0;
    // One row's bytes; a row is at most MaxHexBlocks * 4 bytes.
    mutable uint8_t m_rowData[MaxHexBlocks * 4] = {};
    mutable bool m_rowEnabled[MaxHexBlocks * 4] = {};
};

} // namespace vt::editors
