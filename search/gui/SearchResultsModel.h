#pragma once
// The rows of the search window's result list (lvResults): Key, Value and
// Data columns, a check box per row, the row's kind as its image and failed
// rows in red. Rows stay in the list's order (CompareCaptions) as batches
// arrive: each batch is sorted and merged in, never the whole list re-sorted.

#include "search/SearchEngine.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <array>
#include <vector>

namespace vt::search {

class TSearchResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TSearchResultsModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void clear();
    // Merges a batch of rows in (stable: among equal captions, earlier rows first).
    void addRows(std::vector<TSearchListItem> &&batch);
    // Takes out the rows at these indices (ascending).
    void removeRows(const std::vector<size_t> &indices);
    // Checks or unchecks every row whose image is in the mask (bit per image).
    void setChecked(unsigned imageMask, bool checked);
    void rowsChanged(); // after the rows were changed in place

    const std::vector<TSearchListItem> &rows() const { return m_rows; }
    std::vector<TSearchListItem> &rows() { return m_rows; }
    bool anyChecked() const;

    QStringList Captions{tr("Key"), tr("Value"), tr("Data")};

private:
    std::vector<TSearchListItem> m_rows;
    std::array<QIcon, 6> m_images;
};

} // namespace vt::search
