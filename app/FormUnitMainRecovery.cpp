// Hive files opened for recovery: a read-only branch of the key tree with
// the hive's live keys and the keys and values deleted from it, deleted items
// coloured and explained in their hints; export of a key or of everything
// recovered; a find over the branch. The branch's top node owns the scan, so
// closing the branch (its pop-up's close command) frees it.

#include "app/FormUnitMainRecovery.h"
#include "FormUnitMainShared.h"

#include "app/vtImageList.h"
#include "core/zoStrings.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "recovery/HiveRecovery.h"
#include "recovery/RecoveryExport.h"
#include "regfile/RegFileWriter.h"
#include "regfile/gui/RegFileActions.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace vt::app
{

using namespace mainform;
using namespace vt::recovery;

namespace
{

// What a node of a recovery branch stands for: a key's index, or one of these.
constexpr int RecoveryKeyRole = Qt::UserRole + 20;
constexpr int kTopNode = -1;
constexpr int kUnknownParentNode = -2;
constexpr int kUnplacedNode = -3;

std::atomic<int> g_branchesAlive{0};

class TRecoveryBranchItem : public QTreeWidgetItem
{
public:
    static constexpr int ItemType = QTreeWidgetItem::UserType + 31;
    TRecoveryBranchItem(std::shared_ptr<const RecoveryResult> result, QString fileName)
        : QTreeWidgetItem(ItemType), Result(std::move(result)), FileName(std::move(fileName))
    {
        ++g_branchesAlive;
    }
    ~TRecoveryBranchItem() override { --g_branchesAlive; }
    std::shared_ptr<const RecoveryResult> Result;
    QString FileName;
};

// A value row of a recovered hive; deleted ones say so in their hint.
class TRecoveryValueListItem : public TRegistryValueListItem
{
public:
    QString Note;
    QVariant data(int column, int role) const override
    {
        if (role == Qt::ToolTipRole && !Note.isEmpty())
            return QString(Hint() + QStringLiteral("\r\n\r\n") + Note);
        return TRegistryValueListItem::data(column, role);
    }
};

QTreeWidgetItem *topOf(QTreeWidgetItem *node)
{
    while (node && node->parent())
        node = node->parent();
    return node;
}

TRecoveryBranchItem *branchOf(QTreeWidgetItem *node)
{
    QTreeWidgetItem *top = topOf(node);
    return top && top->type() == TRecoveryBranchItem::ItemType ? static_cast<TRecoveryBranchItem *>(top) : nullptr;
}

QString hex32(uint32_t v)
{
    return QStringLiteral("0x%1").arg(v, 8, 16, QChar('0')).toUpper().replace("0X", "0x");
}

QString deletedKeyNote(const RecoveredKey &k)
{
    QString note = TformMain::tr("Deleted key: found at offset %1, in a %2").arg(hex32(k.offset), originName(k.origin));
    if (k.lastWrite)
        note += TformMain::tr("; last written %1 (UTC)").arg(fromStd(fileTimeText(k.lastWrite)));
    if (!k.pathComplete)
        note += TformMain::tr("; its parent is no longer in the file");
    if (k.nameTruncated)
        note += TformMain::tr("; name cut short");
    if (!k.className.empty())
        note += TformMain::tr("; class %1").arg(fromStd(k.className));
    if (!k.security.empty())
        note += TformMain::tr("; its security descriptor (%1 bytes) is still there").arg(k.security.size());
    return note + ".";
}

QString deletedValueNote(const RecoveredValue &v)
{
    QString note = TformMain::tr("Deleted value: found at offset %1, in a %2; %3 of %4 bytes of data survived (%5)")
                       .arg(hex32(v.offset), originName(v.origin))
                       .arg(v.data.size())
                       .arg(v.dataSize)
                       .arg(dataStateName(v.dataState));
    if (v.dataState == DataState::Reused)
        note += TformMain::tr(", the data's cell is in use again: the bytes may belong to something else");
    if (v.overlapping)
        note += TformMain::tr("; it overlaps another carved record and may be chance bytes");
    return note + ".";
}

// Light orange: apart from the difference colours of registry file rows.
constexpr std::uint32_t kDeletedRowColor = 0x0096C8FF; // 0x00BBGGRR
const QColor kDeletedKeyColor(176, 32, 0);

TRecoveryValueListItem *makeRow(const RecoveredValue &v, bool deleted)
{
    auto *row = new TRecoveryValueListItem;
    const std::vector<uint8_t> api = apiData(v);
    const TRegDataType type = CodeToDataType(v.type);
    bool ok = true;
    std::string text;
    if (type == rdUnknown || type == rdCardinal) {
        static const char digits[] = "0123456789ABCDEF";
        for (size_t i = 0; i < v.data.size() && i < size_t(TRegistryValueListItem::CellTextLimit / 3); ++i)
            text += std::string(i ? " " : "") + digits[v.data[i] >> 4] + digits[v.data[i] & 15];
    } else {
        text = ValueDisplayText(type, api.data(),
                                std::min(api.size(), std::size_t(TRegistryValueListItem::CellTextLimit)), ok);
    }
    QString cell = fromStd(text);
    if (cell.size() > TRegistryValueListItem::CellTextLimit) {
        cell.truncate(TRegistryValueListItem::CellTextLimit - 1);
        cell += QChar(0x2026);
    }
    row->setText(colName, v.name.empty() ? msg("DialogValueDefault") : fromStd(v.name));
    row->setText(colType, ok ? fromStd(valueTypeName(v.type)) : QStringLiteral("N/A"));
    row->setText(colValue, cell);
    row->setText(colSize, QString::number(qulonglong(v.data.size())));
    row->setIcon(colName, ImageListIcon(DataTypeImageIndex(type)));
    row->ValueName = v.name;
    row->DataText = text;
    row->Bytes = v.data;
    row->DataInfo.RegData = type;
    row->DataInfo.DataType = v.type;
    row->DataInfo.DataSize = std::int32_t(v.data.size());
    if (deleted) {
        row->RowColor = kDeletedRowColor;
        row->Note = deletedValueNote(v);
    }
    return row;
}

bool rowMatches(const RecoveredValue &v, const QString &text)
{
    if (fromStd(v.name).contains(text, Qt::CaseInsensitive))
        return true;
    const std::vector<uint8_t> api = apiData(v);
    const std::string data =
        SearchableDataText(CodeToDataType(v.type), api.data(), std::min<size_t>(api.size(), 1u << 20));
    return fromStd(data).contains(text, Qt::CaseInsensitive);
}

QString g_findText;

} // namespace

int RecoveryBranchesAlive()
{
    return g_branchesAlive.load();
}

// ---------------------------------------------------------------------------
// Actions

void TformMain::createRecoveryActions()
{
    aFileRecoverHive = newAction("aFileRecoverHive", tr("Open hive file for recovery..."));
    aFileRecoverExport = newAction("aFileRecoverExport", tr("Export recovered items..."));
    aFileRecoverFind = newAction("aFileRecoverFind", tr("Find in recovered hive..."));
    // In the File menu after the other ways of opening registries.
    const QList<QAction *> items = mFile->actions();
    const qsizetype at = items.indexOf(aFileConnectReg);
    QAction *before = at >= 0 && at + 1 < items.size() ? items[at + 1] : nullptr;
    mFile->insertActions(before, {aFileRecoverHive, aFileRecoverExport, aFileRecoverFind});
    pmKeys->addAction(aFileRecoverExport);
    pmKeys->addAction(aFileRecoverFind);
    connectHandler(aFileRecoverHive, &TformMain::aFileRecoverHiveExecute);
    connectHandler(aFileRecoverExport, &TformMain::aFileRecoverExportExecute);
    connectHandler(aFileRecoverFind, &TformMain::aFileRecoverFindExecute);
}

void TformMain::updateRecoveryActions()
{
    if (!aFileRecoverHive)
        return;
    const bool branch = m_Shown && branchOf(tvKeys->currentItem()) != nullptr;
    aFileRecoverHive->setEnabled(!m_OpeningFile);
    aFileRecoverExport->setEnabled(branch);
    aFileRecoverExport->setVisible(branch);
    aFileRecoverFind->setEnabled(branch);
    aFileRecoverFind->setVisible(branch);
}

void TformMain::aFileRecoverHiveExecute()
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("odRecoverHive"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({tr("Hive file (*)")});
    if (const auto choice = vt::regfile::RunFileDialog(dialog))
        OpenHiveRecoveryView(choice->fileName);
}

void TformMain::aFileRecoverExportExecute()
{
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (!branchOf(node))
        return;
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("sdRecoverExport"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("reg"));
    dialog.setNameFilters({tr("Registry file (*.reg)")});
    if (const auto choice = vt::regfile::RunFileDialog(dialog))
        ExportRecoveryNode(node, choice->fileName);
}

void TformMain::aFileRecoverFindExecute()
{
    if (!branchOf(tvKeys->currentItem()))
        return;
    QString text = g_findText;
    if (!vt::i18n::PromptForText(tr("Find in recovered hive"), tr("Key, value or data containing:"), text,
                                 vt::i18n::PromptNoLimit) ||
        text.isEmpty())
        return;
    g_findText = text;
    if (!FindInRecoveryBranch(text))
        vt::i18n::ShowMessageDialog(tr("\"%1\" was not found below this point of the branch.").arg(text),
                                    vt::i18n::TMsgDlgType::Information, vt::i18n::mbOK);
}

// ---------------------------------------------------------------------------
// Opening

bool TformMain::OpenHiveRecoveryView(const QString &fileName)
{
    if (m_OpeningFile)
        return false;
    m_OpeningFile = true;
    UpdateActionStates();
    struct Done {
        TformMain *w;
        QString status;
        ~Done()
        {
            w->m_OpeningFile = false;
            w->UpdateActionStates();
        }
    } done{this, StatusText(0)};
    setStatusText(0, tr("Scanning %1 for deleted keys and values...").arg(QDir::toNativeSeparators(fileName)));

    // The scan runs beside the window, which keeps painting; the file is only read.
    auto result = std::make_shared<RecoveryResult>();
    std::string error;
    const std::string path = fileName.toStdString();
    auto scan = std::async(std::launch::async, [&] { return recoverHiveFile(path, *result, error); });
    while (scan.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!scan.get()) {
        setStatusText(0, done.status);
        vt::i18n::ShowMessageDialog(fromStd(error), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
        return false;
    }
    const RecoveryResult &r = *result;
    size_t unplaced = 0;
    for (const RecoveredValue &v : r.values)
        unplaced += v.key < 0;

    const bool wasEnabled = tvKeys->updatesEnabled();
    tvKeys->setUpdatesEnabled(false);
    auto *top = new TRecoveryBranchItem(result, fileName);
    top->setText(0, QFileInfo(fileName).fileName());
    top->setData(0, NodeImageRole, int(imgRegistryFile));
    top->setData(0, NodeSelectedImageRole, int(imgRegistryFile));
    top->setIcon(0, ImageListIcon(imgRegistryFile));
    top->setData(0, RecoveryKeyRole, kTopNode);
    top->setToolTip(0, tr("%1 (read-only): %2 deleted key(s), %3 deleted value(s), %4 of them not placed under a key")
                           .arg(QDir::toNativeSeparators(fileName))
                           .arg(r.deletedKeys)
                           .arg(r.values.size())
                           .arg(unplaced));

    auto addKey = [&](QTreeWidgetItem *parent, uint32_t index) {
        const RecoveredKey &k = r.keys[index];
        QTreeWidgetItem *item = makeKeyNode(parent, fromStd(k.name), 0);
        item->setData(0, RecoveryKeyRole, int(index));
        if (k.deleted()) {
            item->setForeground(0, kDeletedKeyColor);
            item->setToolTip(0, deletedKeyNote(k));
        }
        setHasChildren(item, !k.children.empty());
        return item;
    };
    auto sortedChildren = [&](const std::vector<uint32_t> &children) {
        std::vector<uint32_t> sorted = children;
        std::sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) {
            return QString::compare(fromStd(r.keys[a].name), fromStd(r.keys[b].name), Qt::CaseInsensitive) < 0;
        });
        return sorted;
    };
    std::vector<std::pair<QTreeWidgetItem *, uint32_t>> pending;
    if (r.root >= 0)
        pending.emplace_back(top, uint32_t(r.root));
    // Keys whose parent the file no longer holds.
    std::vector<uint32_t> orphans;
    for (uint32_t i = 0; i < r.keys.size(); ++i)
        if (r.keys[i].parent < 0 && int32_t(i) != r.root && !r.keys[i].isRoot)
            orphans.push_back(i);
    if (!orphans.empty()) {
        QTreeWidgetItem *group = makeKeyNode(top, QString::fromLatin1(kUnknownParent), 0);
        group->setData(0, RecoveryKeyRole, kUnknownParentNode);
        group->setForeground(0, kDeletedKeyColor);
        setHasChildren(group, true);
        QList<QTreeWidgetItem *> items;
        for (uint32_t i : sortedChildren(orphans)) {
            items.append(addKey(group, i));
            pending.emplace_back(items.back(), i);
        }
        group->addChildren(items);
        top->addChild(group);
    }
    while (!pending.empty()) {
        auto [item, index] = pending.back();
        pending.pop_back();
        QList<QTreeWidgetItem *> children;
        for (uint32_t c : sortedChildren(r.keys[index].children)) {
            children.append(addKey(item, c));
            pending.emplace_back(children.back(), c);
        }
        item->addChildren(children);
    }
    if (unplaced) {
        QTreeWidgetItem *group = makeKeyNode(top, QString::fromLatin1(kUnplacedValues), 0);
        group->setData(0, RecoveryKeyRole, kUnplacedNode);
        group->setForeground(0, kDeletedKeyColor);
        group->setToolTip(0, tr("Deleted values whose key could not be decided"));
        setHasChildren(group, false);
        top->addChild(group);
    }
    setHasChildren(top, top->childCount() > 0);
    tvKeys->addTopLevelItem(top);
    top->setExpanded(true);
    tvKeys->setUpdatesEnabled(wasEnabled);
    done.status = tr("%1: %2 deleted key(s) and %3 deleted value(s) recovered")
                      .arg(QFileInfo(fileName).fileName())
                      .arg(r.deletedKeys)
                      .arg(r.values.size());
    setStatusText(0, done.status);
    return true;
}

// ---------------------------------------------------------------------------
// Listing

bool TformMain::ShowRecoveryKeyValues(QTreeWidgetItem *node)
{
    TRecoveryBranchItem *branch = branchOf(node);
    if (!branch)
        return false;
    const RecoveryResult &r = *branch->Result;
    const int index = node->data(0, RecoveryKeyRole).toInt();
    m_FillingList = true;
    const bool wasEnabled = lvData->updatesEnabled();
    lvData->setUpdatesEnabled(false);
    lvData->clear();
    lvData->setColumnHidden(colRegistryValue, true);
    QList<QTreeWidgetItem *> rows;
    setStatusText(1, QString());
    if (index >= 0 && size_t(index) < r.keys.size()) {
        const RecoveredKey &k = r.keys[size_t(index)];
        for (const RecoveredValue &v : liveValues(r, k))
            rows.append(makeRow(v, false));
        for (uint32_t v : k.values)
            rows.append(makeRow(r.values[v], true));
        if (k.lastWrite)
            setStatusText(1, tr("Last write access: ") + fromStd(fileTimeText(k.lastWrite)) + " UTC");
    } else if (index == kUnplacedNode) {
        for (const RecoveredValue &v : r.values)
            if (v.key < 0)
                rows.append(makeRow(v, true));
    }
    lvData->addTopLevelItems(rows);
    lvData->setUpdatesEnabled(wasEnabled);
    m_FillingList = false;
    return true;
}

// ---------------------------------------------------------------------------
// Export

bool TformMain::ExportRecoveryNode(QTreeWidgetItem *node, const QString &fileName)
{
    TRecoveryBranchItem *branch = branchOf(node);
    if (!branch)
        return false;
    const RecoveryResult &r = *branch->Result;
    const int index = node->data(0, RecoveryKeyRole).toInt();
    std::vector<RegBlock> blocks;
    if (index == kTopNode) {
        blocks = recoveredBlocks(r, true, true);
    } else if (index == kUnplacedNode) {
        for (RegBlock &b : recoveredBlocks(r, false, true))
            if (b.path == kUnplacedValues)
                blocks.push_back(std::move(b));
    } else {
        // The key with everything below it, live and deleted.
        std::vector<uint32_t> keys;
        if (index >= 0)
            keys.push_back(uint32_t(index));
        else
            for (uint32_t i = 0; i < r.keys.size(); ++i)
                if (r.keys[i].parent < 0 && !r.keys[i].isRoot)
                    keys.push_back(i);
        std::vector<uint8_t> seen(r.keys.size(), 0);
        while (!keys.empty()) {
            const uint32_t i = keys.back();
            keys.pop_back();
            if (seen[i])
                continue;
            seen[i] = 1;
            const RecoveredKey &k = r.keys[i];
            RegBlock b;
            b.path = displayPath(k);
            b.values = liveValues(r, k);
            for (uint32_t v : k.values)
                b.values.push_back(r.values[v]);
            blocks.push_back(std::move(b));
            keys.insert(keys.end(), k.children.begin(), k.children.end());
        }
        std::sort(blocks.begin(), blocks.end(), [](const RegBlock &a, const RegBlock &b) { return a.path < b.path; });
    }
    try {
        TRegFileOutput output(fileName.toStdString());
        writeRegFile("HKEY_CURRENT_USER\\" + QFileInfo(branch->FileName).fileName().toStdString(), blocks, output);
        output.commit();
    } catch (const std::exception &e) {
        vt::i18n::ShowMessageDialog(fromStd(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Find

bool TformMain::FindInRecoveryBranch(const QString &text)
{
    QTreeWidgetItem *current = tvKeys->currentItem();
    TRecoveryBranchItem *branch = branchOf(current);
    if (!branch || text.isEmpty())
        return false;
    const RecoveryResult &r = *branch->Result;
    auto valuesOf = [&](QTreeWidgetItem *node) {
        std::vector<RecoveredValue> values;
        const int index = node->data(0, RecoveryKeyRole).toInt();
        if (index >= 0 && size_t(index) < r.keys.size()) {
            values = liveValues(r, r.keys[size_t(index)]);
            for (uint32_t v : r.keys[size_t(index)].values)
                values.push_back(r.values[v]);
        } else if (index == kUnplacedNode) {
            for (const RecoveredValue &v : r.values)
                if (v.key < 0)
                    values.push_back(v);
        }
        return values;
    };
    auto selectRow = [&](const std::string &name) {
        for (int i = 0; i < lvData->topLevelItemCount(); ++i) {
            auto *row = dynamic_cast<TRegistryValueListItem *>(lvData->topLevelItem(i));
            if (row && row->ValueName == name) {
                lvData->clearSelection();
                lvData->setCurrentItem(row);
                row->setSelected(true);
                lvData->scrollToItem(row);
                return;
            }
        }
    };
    // The rows of the current node after the current row first.
    {
        const auto *currentRow = dynamic_cast<TRegistryValueListItem *>(lvData->currentItem());
        const int from = currentRow ? lvData->indexOfTopLevelItem(lvData->currentItem()) + 1 : 0;
        for (int i = from; i < lvData->topLevelItemCount(); ++i) {
            auto *row = dynamic_cast<TRegistryValueListItem *>(lvData->topLevelItem(i));
            if (row && (row->text(colName).contains(text, Qt::CaseInsensitive) ||
                        fromStd(row->DataText).contains(text, Qt::CaseInsensitive))) {
                selectRow(row->ValueName);
                return true;
            }
        }
    }
    // Then the nodes after the current one, in tree order.
    QTreeWidgetItemIterator it(current);
    for (++it; *it && topOf(*it) == branch; ++it) {
        QTreeWidgetItem *node = *it;
        const bool nameMatch = node->text(0).contains(text, Qt::CaseInsensitive);
        std::string rowName;
        bool rowMatch = false;
        if (!nameMatch)
            for (const RecoveredValue &v : valuesOf(node))
                if (rowMatches(v, text)) {
                    rowMatch = true;
                    rowName = v.name;
                    break;
                }
        if (!nameMatch && !rowMatch)
            continue;
        for (QTreeWidgetItem *p = node->parent(); p; p = p->parent())
            p->setExpanded(true);
        tvKeys->setCurrentItem(node);
        tvKeys->scrollToItem(node);
        tvKeysChange();
        if (rowMatch)
            selectRow(rowName);
        return true;
    }
    return false;
}

} // namespace vt::app
