#include "search/gui/SearchResultsModel.h"

#include <QApplication>
#include <QBrush>
#include <QStyle>

#include <algorithm>

namespace vt::search {

namespace {

// Cells show at most this much of a long data text; the row keeps all of it.
constexpr int CellTextLimit = 4000;

bool captionLess(const TSearchListItem &a, const TSearchListItem &b)
{
    return CompareCaptions(a.Caption, b.Caption) < 0;
}

} // namespace

TSearchResultsModel::TSearchResultsModel(QObject *parent) : QAbstractTableModel(parent)
{
    QStyle *style = QApplication::style();
    m_images[rkKey] = style->standardIcon(QStyle::SP_DirIcon);
    m_images[rkValueName] = style->standardIcon(QStyle::SP_FileIcon);
    m_images[rkData] = style->standardIcon(QStyle::SP_FileDialogContentsView);
    m_images[rkStringData] = style->standardIcon(QStyle::SP_FileDialogDetailedView);
    m_images[rkKey32] = style->standardIcon(QStyle::SP_DirLinkIcon);
    m_images[rkKey64] = style->standardIcon(QStyle::SP_DirOpenIcon);
}

int TSearchResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TSearchResultsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant TSearchResultsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_rows.size())
        return {};
    const TSearchListItem &row = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (index.column() == 0)
            return QString::fromStdString(row.Caption);
        if (index.column() == 1)
            return QString::fromStdString(row.ValueName);
        if (role == Qt::DisplayRole && row.DataText.size() > size_t(CellTextLimit))
            return QString::fromStdString(row.DataText.substr(0, CellTextLimit));
        return QString::fromStdString(row.DataText);
    case Qt::CheckStateRole:
        if (index.column() == 0)
            return row.Checked ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::DecorationRole:
        if (index.column() == 0 && row.ImageIndex < m_images.size())
            return m_images[row.ImageIndex];
        return {};
    case Qt::ForegroundRole:
        if (row.Failed)
            return QBrush(Qt::red);
        return {};
    case Qt::UserRole:
        return int(row.ImageIndex);
    default:
        return {};
    }
}

bool TSearchResultsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != 0 || size_t(index.row()) >= m_rows.size())
        return false;
    m_rows[size_t(index.row())].Checked = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags TSearchResultsModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant TSearchResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < Captions.size())
        return Captions[section];
    return {};
}

void TSearchResultsModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

void TSearchResultsModel::addRows(std::vector<TSearchListItem> &&batch)
{
    if (batch.empty())
        return;
    std::stable_sort(batch.begin(), batch.end(), captionLess);
    if (m_rows.empty()) {
        beginInsertRows({}, 0, int(batch.size()) - 1);
        m_rows = std::move(batch);
        endInsertRows();
        return;
    }
    // Merge: an old row goes before a new one of equal caption, as it came first.
    std::vector<TSearchListItem> merged;
    merged.reserve(m_rows.size() + batch.size());
    std::vector<int> oldToNew(m_rows.size());
    size_t i = 0, j = 0;
    while (i < m_rows.size() || j < batch.size()) {
        // Runs of old rows move as a block up to the next new row's place.
        if (j == batch.size()) {
            for (; i < m_rows.size(); ++i) {
                oldToNew[i] = int(merged.size());
                merged.push_back(std::move(m_rows[i]));
            }
            break;
        }
        const auto end = std::upper_bound(m_rows.begin() + long(i), m_rows.end(), batch[j], captionLess);
        for (; m_rows.begin() + long(i) != end; ++i) {
            oldToNew[i] = int(merged.size());
            merged.push_back(std::move(m_rows[i]));
        }
        merged.push_back(std::move(batch[j++]));
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex &index : from)
        to.append(index.isValid() ? createIndex(oldToNew[size_t(index.row())], index.column()) : QModelIndex());
    m_rows = std::move(merged);
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TSearchResultsModel::removeRows(const std::vector<size_t> &indices)
{
    // From the end, in runs, so that each signal names rows that exist.
    size_t k = indices.size();
    while (k > 0) {
        size_t last = indices[k - 1], first = last;
        --k;
        while (k > 0 && indices[k - 1] + 1 == first)
            first = indices[--k];
        beginRemoveRows({}, int(first), int(last));
        m_rows.erase(m_rows.begin() + long(first), m_rows.begin() + long(last) + 1);
        endRemoveRows();
    }
}

void TSearchResultsModel::setChecked(unsigned imageMask, bool checked)
{
    for (TSearchListItem &row : m_rows)
        if (imageMask & (1u << row.ImageIndex))
            row.Checked = checked;
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, 0), {Qt::CheckStateRole});
}

void TSearchResultsModel::rowsChanged()
{
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, 2));
}

bool TSearchResultsModel::anyChecked() const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [](const TSearchListItem &r) { return r.Checked; });
}

} // namespace vt::search
