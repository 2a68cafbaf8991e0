// The value list of the main window and the hex view of the selected value.

#include "FormUnitMainShared.h"

#include "app/vtImageList.h"
#include "core/zoStrings.h"
#include "editors/gui/vzoHexView.h"

#include <QProgressBar>
#include <QSplitter>

#include <algorithm>
#include <cmath>

namespace vt::app
{

using namespace mainform;

// ---------------------------------------------------------------------------
// TRegistryValueListItem

QVariant TRegistryValueListItem::data(int column, int role) const
{
    if (role == Qt::ToolTipRole)
        return Hint();
    if (role == Qt::BackgroundRole && RowColor > 0 && RowColor <= 0x00FFFFFF)
        return QColor(int(RowColor & 0xFF), int((RowColor >> 8) & 0xFF), int((RowColor >> 16) & 0xFF));
    return QTreeWidgetItem::data(column, role);
}

QString TRegistryValueListItem::Hint() const
{
    const QTreeWidget *tree = treeWidget();
    QStringList lines;
    for (int col : {int(colName), int(colType), int(colValue), int(colSize)}) {
        const QString caption = tree ? tree->headerItem()->text(col) : QString();
        lines << caption + QStringLiteral(": ") + (col == colValue ? fromStd(FullDataText()) : text(col));
    }
    return lines.join(QStringLiteral("\r\n"));
}

std::string TRegistryValueListItem::FullDataText() const
{
    if (!TextFromBytes)
        return DataText;
    bool ok = true;
    return ValueDisplayText(DataInfo.RegData, Bytes.data(), Bytes.size(), ok);
}

// ---------------------------------------------------------------------------
// Construction

TformMain::TformMain(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("formMain"));
    setWindowTitle(QStringLiteral("Vantrel"));
    resize(900, 600);

    // FormCreate
    BOOL wow64 = FALSE;
    m_IsWow64 = IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
    for (HKEY root : ::RootKeyList())
        m_RootKeyList << fromStd(RootKeyToName(root));

    createActions();
    createControls();
    createMenus();
    connectActions();
    createSettings();
    createHistoryStore();
    UpdateActionStates();
}

// ---------------------------------------------------------------------------
// The value list

void TformMain::listDefaultPlaceholder(HKEY root, const std::string &keyPath, QList<QTreeWidgetItem *> &rows) const
{
    auto *row = new TRegistryValueListItem;
    const QString notDefined = msg("DialogDataNotDefined");
    row->setText(colName, msg("DialogValueDefault"));
    row->setText(colType, QStringLiteral("REG_SZ"));
    row->setText(colValue, notDefined);
    row->setText(colSize, QStringLiteral("0"));
    row->setIcon(colName, ImageListIcon(imgText));
    row->StateImage = 1;
    row->RootKey = root;
    row->KeyPath = keyPath;
    row->DataInfo.RegData = rdString;
    row->DataInfo.DataSize = 0;
    row->DataText = toStd(notDefined);
    rows.append(row);
}

void TformMain::FillValueList(HKEY root, const std::string &keyPath, int viewMode)
{
    followWithMonitor(root, keyPath, viewMode);
    m_Listed = TListedKey{true, root, keyPath, viewMode};
    m_FillingList = true;
    const bool wasEnabled = lvData->updatesEnabled();
    lvData->setUpdatesEnabled(false);
    lvData->clear();

    QList<QTreeWidgetItem *> rows;
    TMyRegistry64 reg;
    bool opened = false;
    try {
        reg.SetViewMode(std::uint8_t(viewMode));
        reg.SetRootKey(root);
        opened = reg.OpenKeyReadOnly(keyPath);
    } catch (...) {
        opened = false;
    }
    if (opened) {
        std::vector<std::string> names;
        try {
            reg.GetValueNames(names);
        } catch (...) {
            names.clear();
        }
        sortKeyNames(names);
        startProgress(int(names.size()));

        TDataTexts texts;
        texts.notDefined = toStd(msg("DialogDataNotDefined"));
        texts.notSupported = toStd(msg("DialogDataNotSupported"));
        texts.binaryZero = toStd(msg("DialogDataBinaryZero"));
        texts.error = toStd(msg("DialogDataError"));
        const QString defaultCaption = msg("DialogValueDefault");

        const bool hasDefault = std::any_of(names.begin(), names.end(), [](const std::string &n) { return n.empty(); });
        if (!hasDefault)
            listDefaultPlaceholder(root, keyPath, rows);
        rows.reserve(rows.size() + qsizetype(names.size()));

        TRegByteArray data;
        for (std::size_t i = 0; i < names.size(); ++i) {
            setProgress(int(i));
            const std::string &name = names[i];
            auto *row = new TRegistryValueListItem;
            rows.append(row);
            row->RootKey = root;
            row->KeyPath = keyPath;
            row->ValueName = name;
            if (name.empty()) {
                row->setText(colName, defaultCaption);
                row->StateImage = 1;
            } else {
                row->setText(colName, fromStd(name));
            }
            try {
                // One query gives type, size and data. The registry looks a
                // value up by a walk over the key's values, so on keys with
                // thousands of values every further query per row would cost
                // as much as the whole listing.
                std::uint32_t code = 0;
                const bool read = reg.readValue(name, code, data);
                TRegDataInfo info;
                if (read) {
                    info.RegData = CodeToDataType(code);
                    info.DataType = code;
                    info.DataSize = std::int32_t(data.size());
                }
                row->DataInfo = info;
                row->setIcon(colName, ImageListIcon(DataTypeImageIndex(info.RegData)));
                std::string typeText = DisplayTypeName(info.RegData);
                std::string valueText;
                bool ok = read;
                // A large value shows the text of its first bytes only: Qt
                // lays out a cell's whole text, which for megabytes freezes
                // the window. Its whole text is built from its bytes when the
                // hint or an editor asks for it.
                const bool large = read && data.size() > std::size_t(TRegistryValueListItem::CellTextLimit) &&
                                   hasPrefixText(info.RegData);
                if (read && (info.RegData == rdUnknown || info.RegData == rdCardinal))
                    valueText = texts.notSupported;
                else if (read)
                    valueText = ValueDisplayText(
                        info.RegData, data.data(),
                        large ? std::size_t(TRegistryValueListItem::CellTextLimit) : data.size(), ok, texts);
                if (!ok) {
                    typeText = "N/A";
                    valueText = texts.error;
                }
                QString cell = fromStd(valueText);
                if (large && ok) {
                    row->Bytes = std::move(data);
                    data = TRegByteArray();
                    row->TextFromBytes = true;
                } else {
                    row->DataText = std::move(valueText);
                }
                if (cell.size() > TRegistryValueListItem::CellTextLimit || row->TextFromBytes) {
                    cell.truncate(TRegistryValueListItem::CellTextLimit - 1);
                    if (cell.endsWith(QChar::ReplacementCharacter)) // a character cut at the end of the bytes
                        cell.chop(1);
                    cell += QChar(0x2026);
                }
                row->setText(colType, fromStd(typeText));
                row->setText(colValue, cell);
                row->setText(colSize, QString::number(read ? info.DataSize : -1));
            } catch (...) {
                // The row stays as far as it was filled.
            }
        }
        try {
            reg.CloseKey();
        } catch (...) {
        }
    }
    lvData->addTopLevelItems(rows);
    pg->setValue(0);
    lvData->setUpdatesEnabled(wasEnabled);
    m_FillingList = false;
    // No row is selected now: the hex view lets go of the bytes it showed
    // (a value dragged away, deleted or changed elsewhere).
    lvDataSelect();
}

bool TformMain::ValueNameExists(const QString &name) const
{
    for (int i = 0; i < lvData->topLevelItemCount(); ++i)
        if (sameNameAsciiCase(lvData->topLevelItem(i)->text(colName), name))
            return true;
    return false;
}

void TformMain::MakeUniqueValueName(QString &base) const
{
    for (int n = 1;; ++n)
        if (!ValueNameExists(base + QString::number(n))) {
            base += QString::number(n);
            return;
        }
}

void TformMain::RefreshValueList()
{
    // Only a key of the local registry is listed from the registry; a file
    // or remote node, or "My Computer", lists what its selection shows.
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (!node || node == m_MyComputer || GetTreeKind(node) != 1) {
        tvKeysChange();
        return;
    }
    HKEY root;
    std::string keyPath;
    int viewMode;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    FillValueList(root, keyPath, viewMode);
}

void TformMain::hideHexView()
{
    if (lvHexDump->isVisible())
        HexDumpSize = lvHexDump->height(); // the height the user gave it, for its return
    lvHexDump->hide();
}

void TformMain::lvDataSelect()
{
    m_HexViewSize = 0;
    m_HexBytes.clear();
    lvHexDump->SetDataSize(0);

    QTreeWidgetItem *current = lvData->currentItem();
    if (!current || !current->isSelected()) {
        const QList<QTreeWidgetItem *> selected = lvData->selectedItems();
        current = selected.isEmpty() ? nullptr : selected.first();
    }
    auto *row = current && current->type() == TRegistryValueListItem::ItemType
                    ? static_cast<TRegistryValueListItem *>(current)
                    : nullptr;
    bool show = false;
    if (row) {
        switch (row->DataInfo.RegData) {
        case rdNone:
        case rdString:
        case rdExpandString:
        case rdBinary:
        case rdBigEndianInteger:
        case rdLink:
        case rdMultiString:
        case rdResourceList:
        case rdFullResourceDescriptor:
        case rdResourceRequirementsList:
        case rdInt64:
        case rdLittleEndianInt64: {
            QTreeWidgetItem *node = tvKeys->currentItem();
            const int kind = GetTreeKind(node);
            if (kind == 1) {
                try {
                    TMyRegistry64 reg;
                    reg.SetViewMode(std::uint8_t(m_Listed.viewMode));
                    reg.SetRootKey(row->RootKey);
                    if (reg.OpenKeyReadOnly(row->KeyPath)) {
                        m_HexViewSize = std::max<std::int32_t>(row->DataInfo.DataSize, 0);
                        m_HexBytes.resize(std::size_t(m_HexViewSize));
                        const std::int32_t got = m_HexBytes.empty()
                                                     ? 0
                                                     : reg.ReadBinaryData(row->ValueName, m_HexBytes.data(),
                                                                          std::int32_t(m_HexBytes.size()));
                        m_HexBytes.resize(std::size_t(std::max(got, 0)));
                        show = true;
                    }
                } catch (...) {
                    // A value that changed meanwhile shows what could be read.
                    show = true;
                }
            } else if (kind == 2) {
                show = fileRowHexBytes(row);
            } else if (kind == 3) {
                show = true;
            }
            break;
        }
        default:
            break;
        }
    }
    if (show) {
        lvHexDump->SetDataSize(m_HexViewSize);
        if (lvHexDump->isHidden()) {
            // It comes back at the height the user last gave it.
            lvHexDump->show();
            const QList<int> sizes = splitterData->sizes();
            const int total = sizes.value(0) + sizes.value(1);
            if (total > 0)
                splitterData->setSizes({std::max(total - HexDumpSize, 0), std::min(HexDumpSize, total)});
        }
    } else {
        hideHexView();
    }
    UpdateActionStates();
}

void TformMain::HexViewGetBytes(std::int64_t offset, std::int64_t count, std::uint8_t *out) const
{
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t at = offset + i;
        out[i] = at >= 0 && at < std::int64_t(m_HexBytes.size()) ? m_HexBytes[std::size_t(at)] : 0;
    }
}

} // namespace vt::app
