// Registry files shown as branches of the key tree, optionally compared with
// the registry value by value: opening, listing a file key's values with
// their markers and colours, the rows' bytes for the hex view, and closing a
// branch again from its pop-up menu.

#include "FormUnitMainShared.h"

#include "app/vtImageList.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/RegFileView.h"
#include "regfile/gui/RegFileActions.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>

#include <memory>

namespace vt::app {

using namespace mainform;

namespace {

// The file's node a tree node of a file branch stands for.
constexpr int FileNodeRole = Qt::UserRole + 3;

// The top node of a file branch; it owns the file's tree, to which the
// branch's nodes point, so closing the branch frees it.
class TFileBranchItem : public QTreeWidgetItem {
public:
    static constexpr int ItemType = QTreeWidgetItem::UserType + 2;
    explicit TFileBranchItem(std::unique_ptr<TRegFileView> view) : QTreeWidgetItem(ItemType), View(std::move(view)) {}
    std::unique_ptr<TRegFileView> View;
};

// A value row of a file key: the row of the value list with the file's
// marker and the registry's data it was compared with.
class TFileValueListItem : public TRegistryValueListItem {
public:
    char Marker = 'U';
    std::string RegistryText;
    TRegDataType FileType = rdUnknown; // as the file gave it, also for data not understood
    bool Compared = false;

    QVariant data(int column, int role) const override
    {
        if (role == Qt::ToolTipRole && Compared) {
            const QTreeWidget *tree = treeWidget();
            const QString caption = tree ? tree->headerItem()->text(colValue) : QString();
            return QString(Hint() + QStringLiteral("\r\n\r\n") +
                           fromStd(FileDifferenceText(Marker, toStd(caption), RegistryText)));
        }
        return TRegistryValueListItem::data(column, role);
    }
};

const TFileKeyNode *fileNodeOf(const QTreeWidgetItem *node)
{
    return node ? reinterpret_cast<const TFileKeyNode *>(node->data(0, FileNodeRole).value<quintptr>()) : nullptr;
}

QTreeWidgetItem *topOf(QTreeWidgetItem *node)
{
    while (node && node->parent())
        node = node->parent();
    return node;
}

// A cell shows the start of a long text; Qt lays out a cell's whole text.
QString cellText(const std::string &text)
{
    QString cell = fromStd(text);
    if (cell.size() > TRegistryValueListItem::CellTextLimit) {
        cell.truncate(TRegistryValueListItem::CellTextLimit - 1);
        cell += QChar(0x2026);
    }
    return cell;
}

} // namespace

// ---------------------------------------------------------------------------
// Opening

void TformMain::aFileOpenRegExecute() { openRegistryFile(false); }

void TformMain::aFileDiffOpenRegExecute() { openRegistryFile(true); }

void TformMain::openRegistryFile(bool compare)
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("odDisplayReg"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("reg"));
    dialog.setNameFilters({tr("Registry file (*.reg)")});
    const std::optional<vt::regfile::TFileChoice> choice = vt::regfile::RunFileDialog(dialog);
    if (choice)
        OpenRegistryFileView(choice->fileName, compare);
}

bool TformMain::OpenRegistryFileView(const QString &fileName, bool compare)
{
    if (m_OpeningFile)
        return false;
    // The window stays usable while a big file is read; opening another
    // file meanwhile waits for this one.
    m_OpeningFile = true;
    UpdateActionStates();
    struct Done {
        TformMain *w;
        QString status;
        ~Done()
        {
            w->m_OpeningFile = false;
            w->pg->setValue(0);
            w->setStatusText(0, status);
            w->UpdateActionStates();
        }
    } done{this, StatusText(0)};

    auto view = std::make_unique<TRegFileView>(compare);
    setStatusText(0, tr("Reading %1...").arg(QDir::toNativeSeparators(fileName)));
    pg->setRange(0, 100);
    pg->setValue(0);
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    int servedAt = 0;
    view->OnProgress = [&](std::uint64_t read, std::uint64_t total) {
        const int percent = total ? int(read * 100 / total) : 0;
        if (percent != pg->value())
            pg->setValue(percent);
        // A few dozen times a second, and at every tenth of the file, the
        // window paints and serves its events.
        if (sinceEvents.elapsed() < 40 && percent - servedAt < 10)
            return;
        QApplication::processEvents();
        sinceEvents.restart();
        servedAt = percent;
    };
    QApplication::processEvents();
    if (!view->LoadFromFile(fileName.toStdString())) {
        vt::i18n::ShowMessageDialog(fromStd(view->Error()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
        return false;
    }
    pg->setValue(100);

    const bool wasEnabled = tvKeys->updatesEnabled();
    tvKeys->setUpdatesEnabled(false);
    TFileKeyNode &fileNode = view->FileNode();
    auto *top = new TFileBranchItem(std::move(view));
    top->setText(0, fromStd(fileNode.Text));
    top->setData(0, NodeImageRole, int(imgRegistryFile));
    top->setData(0, NodeSelectedImageRole, int(imgRegistryFile));
    top->setIcon(0, ImageListIcon(imgRegistryFile));
    top->setData(0, FileNodeRole, QVariant::fromValue(quintptr(&fileNode)));
    // Depth first; each node's children are added at once.
    std::vector<std::pair<QTreeWidgetItem *, const TFileKeyNode *>> pending{{top, &fileNode}};
    while (!pending.empty()) {
        auto [item, node] = pending.back();
        pending.pop_back();
        QList<QTreeWidgetItem *> children;
        children.reserve(qsizetype(node->Children.size()));
        for (const auto &child : node->Children) {
            QTreeWidgetItem *childItem = makeKeyNode(item, fromStd(child->Text), 0);
            childItem->setData(0, FileNodeRole, QVariant::fromValue(quintptr(child.get())));
            setHasChildren(childItem, !child->Children.empty());
            children.append(childItem);
            pending.emplace_back(childItem, child.get());
        }
        item->addChildren(children);
    }
    setHasChildren(top, !fileNode.Children.empty());
    tvKeys->addTopLevelItem(top);
    top->setExpanded(true);
    tvKeys->setUpdatesEnabled(wasEnabled);
    return true;
}

// ---------------------------------------------------------------------------
// Listing

void TformMain::ShowFileKeyValues(QTreeWidgetItem *node)
{
    if (ShowRecoveryKeyValues(node))
        return;
    const TFileKeyNode *fileNode = fileNodeOf(node);
    const auto *branch = dynamic_cast<const TFileBranchItem *>(topOf(node));
    m_FillingList = true;
    const bool wasEnabled = lvData->updatesEnabled();
    lvData->setUpdatesEnabled(false);
    lvData->clear();
    QList<QTreeWidgetItem *> rows;
    if (fileNode && branch) {
        HKEY root;
        int viewMode;
        QString treePath;
        std::string keyPath;
        GetNodeKey(node, root, viewMode, treePath, keyPath);
        const bool compared = branch->View->Compare();
        rows.reserve(qsizetype(fileNode->Records.size()) + 1);
        for (const TFileValueRecord &record : fileNode->Records) {
            auto *row = new TFileValueListItem;
            const std::string typeName = record.TypeName();
            row->setText(colName, fromStd(record.Name));
            row->setText(colType, fromStd(typeName));
            row->setText(colValue, cellText(record.DisplayText));
            row->setText(colSize, QString::number(record.Size));
            row->setText(colRegistryValue, cellText(record.RegistryValueText()));
            row->setIcon(colName, ImageListIcon(record.Icon));
            row->RowColor = FileMarkerColor(record.Marker);
            row->Marker = record.Marker;
            row->RegistryText = record.RegistryValueText();
            row->FileType = record.Type;
            row->Compared = compared;
            row->RootKey = root;
            row->KeyPath = keyPath;
            row->ValueName = record.Name;
            row->DataText = record.DisplayText;
            row->DataInfo.RegData = NameToDataType(typeName);
            row->DataInfo.DataType = DataTypeToCode(row->DataInfo.RegData);
            row->DataInfo.DataSize = DataSizeFromText(record.DisplayText, row->DataInfo.RegData);
            rows.append(row);
        }
        // The registry's data beside the file's, for every node with values;
        // empty for a file opened without comparison.
        lvData->setColumnHidden(colRegistryValue, fileNode->Records.empty());
        if (node->parent())
            listDefaultPlaceholder(root, keyPath, rows);
    }
    lvData->addTopLevelItems(rows);
    lvData->setUpdatesEnabled(wasEnabled);
    m_FillingList = false;
}

bool TformMain::fileRowHexBytes(const TRegistryValueListItem *row)
{
    // The placeholder of the default value has no bytes; the hex view shows
    // an empty dump for it.
    if (const auto *fileRow = dynamic_cast<const TFileValueListItem *>(row))
        m_HexBytes = FileTextToBytes(fileRow->DataText, fileRow->FileType);
    else if (row)
        m_HexBytes = row->Bytes; // rows of a recovered hive carry their bytes
    m_HexViewSize = std::int64_t(m_HexBytes.size());
    return true;
}

// ---------------------------------------------------------------------------
// Closing

void TformMain::aFileCloseRegExecute()
{
    QTreeWidgetItem *top = topOf(tvKeys->currentItem());
    if (!top || GetTreeKind(top) != 2)
        return;
    // Away from the branch first: the tree must not report a node being
    // deleted as the one left.
    SelectNode(m_MyComputer);
    delete top;
}

void TformMain::updateFileViewActions()
{
    const bool fileBranch = m_Shown && GetTreeKind(tvKeys->currentItem()) == 2;
    aFileCloseReg->setVisible(fileBranch);
    aFileCloseReg->setEnabled(fileBranch);
    m_FileCloseSeparator->setVisible(fileBranch);
    aFileOpenReg->setEnabled(!m_OpeningFile);
    aFileDiffOpenReg->setEnabled(!m_OpeningFile);
    updateRecoveryActions();
}

} // namespace vt::app
