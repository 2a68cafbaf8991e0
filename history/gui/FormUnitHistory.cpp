#include "history/gui/FormUnitHistory.h"

#include "history/RegistryChangeHistory.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/gui/RegFileActions.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace vt::history
{

namespace
{

struct ColumnSpec {
    const char *caption;
    int width; // 0: the default width
    Qt::Alignment alignment;
};
const ColumnSpec kColumns[8] = {
    {QT_TRANSLATE_NOOP("TformHistory", "ID"), 64, Qt::AlignLeft},
    {QT_TRANSLATE_NOOP("TformHistory", "Timestamp"), 128, Qt::AlignHCenter},
    {QT_TRANSLATE_NOOP("TformHistory", "Type"), 0, Qt::AlignHCenter},
    {QT_TRANSLATE_NOOP("TformHistory", "Action"), 0, Qt::AlignHCenter},
    {QT_TRANSLATE_NOOP("TformHistory", "Root"), 64, Qt::AlignLeft},
    {QT_TRANSLATE_NOOP("TformHistory", "Key Path"), 192, Qt::AlignLeft},
    {QT_TRANSLATE_NOOP("TformHistory", "Value"), 96, Qt::AlignLeft},
    {QT_TRANSLATE_NOOP("TformHistory", "Type"), 128, Qt::AlignHCenter},
};

// Widens columns that would cut what they show: every caption, and the
// time, whose text has one width for every moment in this font.
void fitColumns(QTreeView *list)
{
    QHeaderView *header = list->header();
    const int margin = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    const int time = list->fontMetrics().horizontalAdvance(QStringLiteral("8888-88-88 88:88:88")) + margin + 8;
    for (int c = 0; c < header->count(); ++c) {
        int width = std::max(header->sectionSize(c), header->sectionSizeHint(c));
        if (c == 1)
            width = std::max(width, time);
        header->resizeSection(c, width);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// THistoryListModel

THistoryListModel::THistoryListModel(QObject *parent) : QAbstractTableModel(parent) {}

void THistoryListModel::setHistory(TRegistryChangeHistory *history)
{
    beginResetModel();
    m_history = history;
    m_rows = 0;
    endResetModel();
}

void THistoryListModel::setRowCount(int rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
}

void THistoryListModel::repaint()
{
    if (m_rows > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1), {Qt::DisplayRole});
}

int THistoryListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int THistoryListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 8;
}

QVariant THistoryListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || index.column() >= 8)
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kColumns[index.column()].alignment | Qt::AlignVCenter);
    if (role != Qt::DisplayRole || !m_history)
        return {};
    // Asked for the visible rows only; rows beyond the collection stay empty.
    THistoryRowTexts texts;
    if (!m_history->FillListItem(size_t(index.row()), texts))
        return QString();
    const std::string &text = texts[size_t(index.column())];
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QVariant THistoryListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= 8)
        return {};
    if (role == Qt::DisplayRole)
        return QCoreApplication::translate("TformHistory", kColumns[section].caption);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kColumns[section].alignment | Qt::AlignVCenter);
    return {};
}

// ---------------------------------------------------------------------------
// TformHistory

TformHistory::TformHistory(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("formHistory"));
    setWindowTitle(tr("Change History"));
    resize(820, 420);
    // The main window alone decides when the program ends.
    setAttribute(Qt::WA_QuitOnClose, false);

    auto newAction = [this](const char *name, const QString &caption, QStyle::StandardPixmap icon) {
        auto *action = new QAction(style()->standardIcon(icon), caption, this);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    aUndoSaveReg4 =
        newAction("aUndoSaveReg4", tr("Save undo for selected to .reg file..."), QStyle::SP_DialogSaveButton);
    aRedoSaveReg4 =
        newAction("aRedoSaveReg4", tr("Save redo for selected to .reg file..."), QStyle::SP_DialogSaveButton);
    aUndoSelected = newAction("aUndoSelected", tr("&Undo selected"), QStyle::SP_ArrowBack);
    aRedoSelected = newAction("aRedoSelected", tr("&Redo selected"), QStyle::SP_ArrowForward);
    aDeleteSelected = newAction("aDeleteSelected", tr("&Delete selected"), QStyle::SP_TrashIcon);

    mFile = menuBar()->addMenu(tr("&File"));
    mFile->setObjectName(QStringLiteral("mFile"));
    mFile->addAction(aUndoSaveReg4);
    mFile->addAction(aRedoSaveReg4);
    mEdit = menuBar()->addMenu(tr("&Edit"));
    mEdit->setObjectName(QStringLiteral("mEdit"));
    mEdit->addAction(aUndoSelected);
    mEdit->addAction(aRedoSelected);
    mEdit->addSeparator();
    mEdit->addAction(aDeleteSelected);

    tbHistory = addToolBar(tr("History"));
    tbHistory->setObjectName(QStringLiteral("tbHistory"));
    tbHistory->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tbHistory->addAction(aUndoSelected);
    tbHistory->addAction(aRedoSelected);

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    lblUnavailable = new QLabel(central);
    lblUnavailable->setObjectName(QStringLiteral("lblUnavailable"));
    lblUnavailable->setWordWrap(true);
    lblUnavailable->setMargin(6);
    lblUnavailable->hide();
    layout->addWidget(lblUnavailable);

    model = new THistoryListModel(this);
    lvHistory = new QTreeView(central);
    lvHistory->setObjectName(QStringLiteral("lvHistory"));
    lvHistory->setModel(model);
    lvHistory->setRootIsDecorated(false);
    lvHistory->setUniformRowHeights(true);
    lvHistory->setItemsExpandable(false);
    lvHistory->setAllColumnsShowFocus(true);
    lvHistory->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvHistory->setSortingEnabled(false);
    lvHistory->header()->setSectionsClickable(true);
    lvHistory->header()->setStretchLastSection(false);
    for (int c = 0; c < 8; ++c)
        if (kColumns[c].width > 0)
            lvHistory->header()->resizeSection(c, kColumns[c].width);
    fitColumns(lvHistory);
    lvHistory->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(lvHistory, 1);
    setCentralWidget(central);

    pmHistory = new QMenu(this);
    pmHistory->setObjectName(QStringLiteral("pmHistory"));
    pmHistory->addAction(aDeleteSelected);

    connect(aUndoSaveReg4, &QAction::triggered, this, &TformHistory::aUndoSaveReg4Execute);
    connect(aRedoSaveReg4, &QAction::triggered, this, &TformHistory::aRedoSaveReg4Execute);
    connect(aUndoSelected, &QAction::triggered, this, &TformHistory::aUndoSelectedExecute);
    connect(aRedoSelected, &QAction::triggered, this, &TformHistory::aRedoSelectedExecute);
    connect(aDeleteSelected, &QAction::triggered, this, &TformHistory::aDeleteSelectedExecute);
    connect(lvHistory->header(), &QHeaderView::sectionClicked, this, &TformHistory::lvHistoryColumnClick);
    connect(lvHistory->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TformHistory::UpdateActions);
    connect(model, &QAbstractItemModel::modelReset, this, &TformHistory::UpdateActions);
    connect(lvHistory, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { pmHistory->popup(lvHistory->viewport()->mapToGlobal(pos)); });
    UpdateActions();
}

void TformHistory::SetHistory(TRegistryChangeHistory *history, const QString &unavailableReason)
{
    m_history = history;
    model->setHistory(history);
    lblUnavailable->setText(history ? QString() : tr("The change history is not available: %1").arg(unavailableReason));
    lblUnavailable->setVisible(!history);
    UpdateActions();
}

void TformHistory::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    try {
        RefreshList();
    } catch (const std::exception &e) {
        showError(e);
    }
}

void TformHistory::RefreshList()
{
    if (!m_history) {
        model->setRowCount(0);
        return;
    }
    m_history->Clear();
    try {
        m_history->LoadAll();
    } catch (...) {
        model->setRowCount(0);
        throw;
    }
    model->setRowCount(int(m_history->Count()));
}

void TformHistory::UpdateActions()
{
    const bool any = m_history && lvHistory->selectionModel()->hasSelection();
    for (QAction *a : {aUndoSaveReg4, aRedoSaveReg4, aUndoSelected, aRedoSelected, aDeleteSelected})
        a->setEnabled(any);
}

void TformHistory::lvHistoryColumnClick(int column)
{
    if (!m_history)
        return;
    m_history->SortByColumn(column);
    model->repaint();
}

std::vector<int> TformHistory::selectedRowsDescending() const
{
    std::vector<int> rows;
    for (const QModelIndex &index : lvHistory->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    return rows;
}

std::vector<const TRegistryChange *> TformHistory::selectedChanges(bool newestFirst) const
{
    std::vector<const TRegistryChange *> changes;
    if (!m_history)
        return changes;
    for (int row : selectedRowsDescending())
        if (size_t(row) < m_history->Count())
            changes.push_back(m_history->Item(size_t(row)));
    // Changes build on each other in the order they were made: undo takes
    // them back newest first, redo makes them again oldest first. Ids grow
    // with time; the list's sorting says nothing about that order.
    std::sort(changes.begin(), changes.end(), [newestFirst](const TRegistryChange *a, const TRegistryChange *b) {
        return newestFirst ? a->TableIndex > b->TableIndex : a->TableIndex < b->TableIndex;
    });
    return changes;
}

void TformHistory::aUndoSelectedExecute()
{
    for (const TRegistryChange *change : selectedChanges(true))
        change->Undo();
}

void TformHistory::aRedoSelectedExecute()
{
    for (const TRegistryChange *change : selectedChanges(false))
        change->Redo();
}

void TformHistory::saveSelected(bool undo)
{
    if (!m_history)
        return;
    QFileDialog dialog(this);
    dialog.setObjectName(undo ? QStringLiteral("sdUndoSaveReg4") : QStringLiteral("sdRedoSaveReg4"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("reg"));
    dialog.setNameFilters({tr("Registry v4 file (*.reg)")});
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const auto choice = vt::regfile::RunFileDialog(dialog);
    if (!choice)
        return;
    std::vector<std::string> lines = {"REGEDIT4", ""};
    // In the order undo and redo apply them, so that the file does the same.
    for (const TRegistryChange *change : selectedChanges(undo)) {
        if (undo)
            change->WriteUndoText(lines);
        else
            change->WriteRedoText(lines);
    }
    QByteArray bytes;
    for (const std::string &line : lines) {
        bytes.append(line.data(), qsizetype(line.size()));
        bytes.append("\r\n");
    }
    QFile file(choice->fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush())
        throw std::runtime_error(
            tr("The file %1 cannot be written: %2").arg(choice->fileName, file.errorString()).toStdString());
}

void TformHistory::aUndoSaveReg4Execute()
{
    try {
        saveSelected(true);
    } catch (const std::exception &e) {
        showError(e);
    }
}

void TformHistory::aRedoSaveReg4Execute()
{
    try {
        saveSelected(false);
    } catch (const std::exception &e) {
        showError(e);
    }
}

void TformHistory::aDeleteSelectedExecute()
{
    if (!m_history)
        return;
    try {
        // Many rows, one commit; a failure keeps every row.
        TRegistryChangeHistory::TOperation operation(*m_history);
        for (int row : selectedRowsDescending()) {
            if (size_t(row) >= m_history->Count())
                continue;
            m_history->Item(size_t(row))->DeleteFromDatabase();
            lvHistory->selectionModel()->select(model->index(row, 0),
                                                QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        }
        operation.Commit();
        RefreshList();
    } catch (const std::exception &e) {
        showError(e);
    }
}

void TformHistory::showError(const std::exception &e)
{
    vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
}

} // namespace vt::history
