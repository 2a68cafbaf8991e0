// The main window's value editors: changing a value's data and type, and
// creating values of every type.

#include "FormUnitMainEditors.h"
#include "FormUnitMainShared.h"

#include "core/zoStrings.h"
#include "editors/ValueEditing.h"
#include "editors/gui/EditorModal.h"
#include "editors/gui/FormUnitEditBinary.h"
#include "editors/gui/FormUnitEditInteger.h"
#include "editors/gui/FormUnitEditMultiString.h"
#include "editors/gui/FormUnitEditString.h"
#include "editors/gui/FormUnitEditType.h"
#include "editors/gui/FormUnitResourceRequirementsList.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/RegFileText.h"
#include "regfile/RegFileWriter.h"

#include <QAction>
#include <QMenu>
#include <QRandomGenerator>

#include <cstdio>
#include <cstring>

namespace vt::app
{

using namespace mainform;
using namespace vt::editors;

namespace
{

TTypeChangeWriter &typeChangeWriter()
{
    static TTypeChangeWriter writer;
    return writer;
}

// Marks the value list busy for as long as an editor works on it.
class TListBusy
{
public:
    explicit TListBusy(int &tag) : m_tag(tag) { ++m_tag; }
    ~TListBusy() { --m_tag; }
    TListBusy(const TListBusy &) = delete;
    TListBusy &operator=(const TListBusy &) = delete;

private:
    int &m_tag;
};

// The row that stands for a default value the key does not have.
bool isDefaultPlaceholder(const TRegistryValueListItem *row)
{
    return row->ValueName.empty() && row->DataInfo.RegData == rdString && row->DataInfo.DataType == 0;
}

// The data part of a version 4 value line, as the undo log restores it;
// types a file line cannot carry otherwise as a raw hex(N) list.
std::string previousDataText(const std::string &name, uint32_t code, const TRegByteArray &bytes)
{
    const size_t column = RegValueNamePart(name).size() + 1;
    std::string part;
    if (FormatRegDataPart(code, bytes.data(), bytes.size(), false, column, part))
        return part;
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%X):", code);
    return prefix + FormatHexList(bytes, column + std::strlen(prefix));
}

// The key the value list shows; every operation makes its own accessor on it.
struct TKeyAt {
    HKEY root = nullptr;
    std::string path;
    int view = 0;
    void prepare(TMyRegistry &reg) const
    {
        reg.SetViewMode(std::uint8_t(view));
        reg.SetRootKey(root);
    }
};

TKeyAt selectedKeyAt(const TformMain &w)
{
    const TformMain::TListedKey &listed = w.ListedKey();
    TKeyAt key;
    key.root = listed.root;
    key.path = listed.keyPath;
    key.view = listed.viewMode;
    return key;
}

// A confirmed data change: its undo and redo lines, then its history record
// with the old bytes.
void recordDataChange(TformMain &w, const TKeyAt &key, const std::string &previous, const std::string &name,
                      const TRegByteArray &oldBytes, TRegDataType type)
{
    w.LogValueChange(key.root, key.path, previous, name);
    if (vt::history::TRegistryChangeHistory *history = w.History()) {
        TMemoryStream old;
        old.write(oldBytes.data(), oldBytes.size());
        history->RecordValueChange(key.root, key.path, old, type, name);
    }
}

void showError(const std::exception &e)
{
    vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
}

struct TNewValueTexts {
    const char *title, *caption, *defaultName;
};

TNewValueTexts newValueTexts(TRegDataType type)
{
    switch (type) {
    case rdString:
    case rdExpandString:
    case rdMultiString:
        return {"DialogNewValueStringTitle", "DialogNewValueStringCaption", "DialogNewValueStringDefault"};
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger:
    case rdInt64:
    case rdLittleEndianInt64:
        return {"DialogNewValueNumericTitle", "DialogNewValueNumericCaption", "DialogNewValueNumericDefault"};
    case rdBinary:
    case rdLink:
        return {"DialogNewValueBinaryTitle", "DialogNewValueBinaryCaption", "DialogNewValueBinaryDefault"};
    default:
        return {"DialogNewValueTitle", "DialogNewValueCaption", "DialogNewValueBinaryDefault"};
    }
}

// Types the program can create but edits only as bytes.
bool needsComplicatedTypeWarning(TRegDataType type)
{
    return type == rdLink || type == rdResourceList || type == rdFullResourceDescriptor ||
           type == rdResourceRequirementsList || type == rdNone;
}

} // namespace

void setTypeChangeWriterSeam(TTypeChangeWriter writer) { typeChangeWriter() = std::move(writer); }

template <class T> T *TformMain::editorForm(QPointer<T> &form)
{
    if (!form)
        form = new T(this);
    return form;
}

void TformMain::connectEditors()
{
    connectHandler(aValueChange, &TformMain::aValueChangeExecute);
    connectHandler(aValueChangeType, &TformMain::aValueChangeTypeExecute);
    connectHandler(aValueModifyBinary, &TformMain::aValueModifyBinaryExecute);
    const std::pair<QAction *, TRegDataType> adds[] = {
        {aValueAddString, rdString},
        {aValueAddExpandString, rdExpandString},
        {aValueAddMultiString, rdMultiString},
        {aValueAddInteger, rdInteger},
        {aValueAddLEInteger, rdLittleEndianInteger},
        {aValueAddBEInteger, rdBigEndianInteger},
        {aValueAddInt64, rdInt64},
        {aValueAddLEInt64, rdLittleEndianInt64},
        {aValueAddBinary, rdBinary},
        {aValueAddLink, rdLink},
        {aValueAddResourceList, rdResourceList},
        {aValueAddFullResourceDescriptor, rdFullResourceDescriptor},
        {aValueAddResourceRequirementsList, rdResourceRequirementsList},
        {aValueAddNone, rdNone},
    };
    for (const auto &[action, type] : adds) {
        const TRegDataType t = type;
        connect(action, &QAction::triggered, this, [this, t] { AddValue(t); });
        m_Built.insert(action);
    }
    m_Built.insert(aValueAdd); // opens its submenu
    connect(lvData, &QTreeWidget::itemDoubleClicked, this, [this] { lvDataDblClick(); });
}

void TformMain::UpdateEditorActionStates()
{
    // Nothing else starts while a long key operation runs.
    const bool local = m_Shown && !m_Busy && m_Listed.valid;
    QTreeWidgetItem *current = lvData->currentItem();
    if (!current || !current->isSelected()) {
        const QList<QTreeWidgetItem *> selected = lvData->selectedItems();
        current = selected.isEmpty() ? nullptr : selected.first();
    }
    const auto *row = current && current->type() == TRegistryValueListItem::ItemType
                          ? static_cast<const TRegistryValueListItem *>(current)
                          : nullptr;
    const TRegDataType type = row ? row->DataInfo.RegData : rdUnknown;
    aValueChange->setEnabled(local && row && HasDataEditor(type));
    aValueChangeType->setEnabled(local && row && !AllowedTypeChanges(type).empty());
    aValueModifyBinary->setEnabled(local && row && !isDefaultPlaceholder(row) && type != rdUnknown &&
                                   type != rdCardinal);
    aValueAdd->setEnabled(local);
    for (QAction *action : pmValueAdd->actions())
        action->setEnabled(local);
}

QList<TRegistryValueListItem *> TformMain::selectedValueRows() const
{
    QList<TRegistryValueListItem *> rows;
    for (int i = 0; i < lvData->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = lvData->topLevelItem(i);
        if (item->isSelected() && item->type() == TRegistryValueListItem::ItemType)
            rows.append(static_cast<TRegistryValueListItem *>(item));
    }
    return rows;
}

void TformMain::lvDataDblClick()
{
    if (m_Busy || lvData->selectedItems().isEmpty())
        return;
    aValueChange->setEnabled(true);
    aValueChange->trigger();
}

void TformMain::aValueChangeExecute()
{
    TListBusy busy(lvDataTag);
    bool changed = false;
    for (TRegistryValueListItem *row : selectedValueRows()) {
        try {
            changed = ChangeValueData(row) || changed;
        } catch (const std::exception &e) {
            showError(e);
            break;
        }
    }
    if (changed)
        lvDataSelect(); // the hex view shows the new bytes
}

void TformMain::aValueChangeTypeExecute()
{
    TListBusy busy(lvDataTag);
    for (TRegistryValueListItem *row : selectedValueRows()) {
        try {
            ChangeValueType(row);
        } catch (const std::exception &e) {
            showError(e);
            break;
        }
    }
    lvDataSelect();
}

void TformMain::aValueModifyBinaryExecute()
{
    TListBusy busy(lvDataTag);
    bool changed = false;
    for (TRegistryValueListItem *row : selectedValueRows()) {
        try {
            changed = ChangeValueBinary(row) || changed;
        } catch (const std::exception &e) {
            showError(e);
            break;
        }
    }
    if (changed)
        lvDataSelect();
}

// ---------------------------------------------------------------------------
// Changing data

namespace
{

// The row's cells after its data changed: the value text (cut for the cell
// as the list cuts it), the size and the type info as now stored.
void refreshRow(TRegistryValueListItem *row, TMyRegistry &reg, const std::string &valueText)
{
    TRegDataInfo info;
    if (reg.GetDataInfo(row->ValueName, info)) {
        row->DataInfo.DataSize = info.DataSize;
        row->DataInfo.DataType = info.DataType;
        row->setText(colSize, QString::number(info.DataSize));
    }
    row->DataText = valueText;
    row->Bytes.clear();
    row->TextFromBytes = false;
    QString cell = fromStd(valueText);
    if (cell.size() > TRegistryValueListItem::CellTextLimit) {
        cell.truncate(TRegistryValueListItem::CellTextLimit - 1);
        cell += QChar(0x2026);
    }
    row->setText(colValue, cell);
}

} // namespace

bool TformMain::ChangeValueData(TRegistryValueListItem *row, bool createdNow)
{
    if (!row || !m_Listed.valid)
        return false;
    const TKeyAt key = selectedKeyAt(*this);
    const std::string name = row->ValueName;
    const TRegDataType type = row->DataInfo.RegData;

    // The old bytes, for the undo log and the history.
    uint32_t oldCode = 0;
    TRegByteArray oldBytes;
    bool existed = false;
    {
        TMyRegistry64 reader;
        key.prepare(reader);
        if (reader.OpenKeyReadOnly(key.path))
            existed = reader.readValue(name, oldCode, oldBytes);
    }
    // Nothing to restore for a value New has just made: its undo deletes it.
    const std::string previous =
        existed && !createdNow ? previousDataText(name, oldCode, oldBytes) : std::string();

    TMyRegistry64 reg;
    key.prepare(reg);
    switch (type) {
    case rdString:
    case rdExpandString: {
        QString text = isDefaultPlaceholder(row) ? QString() : fromStd(row->FullDataText());
        if (editorForm(formEditString)->EditString(fromStd(name), text) != mrOK || !reg.OpenKey(key.path, false))
            return false;
        reg.WriteDataFromText(name, toStd(text), type, type);
        refreshRow(row, reg, toStd(text));
        break;
    }
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger: {
        if (!reg.OpenKey(key.path, false))
            return false;
        uint32_t number = type == rdBigEndianInteger ? reg.ReadBigEndianInteger(name) : uint32_t(reg.ReadInteger(name));
        if (editorForm(formEditInteger)->EditInt32(fromStd(name), number) != mrOK)
            return false;
        if (type == rdBigEndianInteger)
            reg.WriteBigEndianInteger(name, number);
        else
            reg.WriteInteger(name, int32_t(number));
        refreshRow(row, reg, FormatDWordText(number));
        break;
    }
    case rdMultiString: {
        QString text = fromStd(row->FullDataText());
        if (editorForm(formEditMultiString)->EditMultiString(row->text(colName), text) != mrOK ||
            !reg.OpenKey(key.path, false))
            return false;
        reg.WriteMultiString(name, toStd(text));
        refreshRow(row, reg, toStd(text));
        break;
    }
    case rdInt64:
    case rdLittleEndianInt64: {
        if (!reg.OpenKey(key.path, false))
            return false;
        int64_t number = reg.ReadInt64(name);
        if (editorForm(formEditInteger)->EditInt64(row->text(colName), number) != mrOK)
            return false;
        reg.WriteInt64(name, number);
        refreshRow(row, reg, FormatQWordText(number));
        break;
    }
    case rdResourceRequirementsList: {
        TformEditResourceRequirementsList *form = editorForm(formEditResourceRequirementsList);
        form->ShowRequirements(m_HexBytes.data(), m_HexBytes.size());
        RunEditorModal(*form);
        return false;
    }
    case rdBinary:
    case rdNone:
    case rdLink:
        // Bytes are all these types have: the binary editor is theirs.
        return ChangeValueBinary(row, createdNow);
    default:
        return false;
    }
    recordDataChange(*this, key, previous, name, oldBytes, type);
    return true;
}

bool TformMain::ChangeValueBinary(TRegistryValueListItem *row, bool createdNow)
{
    if (!row || isDefaultPlaceholder(row) || !m_Listed.valid)
        return false;
    const TKeyAt key = selectedKeyAt(*this);
    const std::string name = row->ValueName;
    TMyRegistry64 reg;
    key.prepare(reg);
    uint32_t code = 0;
    TRegByteArray oldBytes;
    if (!reg.OpenKeyReadOnly(key.path) || !reg.readValue(name, code, oldBytes))
        return false;
    reg.CloseKey();
    if (oldBytes.size() > TformEditBinary::MaxBytes) {
        vt::i18n::ShowMessageDialog(tr("The value %1 holds %2 bytes; the binary editor takes at most %3.")
                                        .arg(row->text(colName))
                                        .arg(qulonglong(oldBytes.size()))
                                        .arg(qulonglong(TformEditBinary::MaxBytes)),
                                    vt::i18n::TMsgDlgType::Information, vt::i18n::mbOK);
        return false;
    }
    TRegByteArray bytes = oldBytes;
    if (editorForm(formEditBinary)->EditBinary(row->text(colName), fromStd(DataTypeToName(row->DataInfo.RegData)),
                                                bytes) != mrOK ||
        bytes == oldBytes || !reg.OpenKey(key.path, false))
        return false;
    const std::string previous = createdNow ? std::string() : previousDataText(name, code, oldBytes);
    // The stored type code stays, whatever the type's name.
    reg.writeValue(name, code, bytes);
    bool ok = true;
    const TRegDataType type = row->DataInfo.RegData;
    std::string text = ValueDisplayText(type, bytes.data(), bytes.size(), ok);
    if (!ok) {
        row->setText(colType, QStringLiteral("N/A"));
        text = toStd(msg("DialogDataError"));
    } else {
        row->setText(colType, fromStd(DisplayTypeName(type)));
    }
    refreshRow(row, reg, text);
    recordDataChange(*this, key, previous, name, oldBytes, type);
    return true;
}

// ---------------------------------------------------------------------------
// Changing the type

void TformMain::ChangeValueType(TRegistryValueListItem *row)
{
    if (!row || isDefaultPlaceholder(row) || !m_Listed.valid)
        return;
    const TKeyAt key = selectedKeyAt(*this);
    const std::string name = row->ValueName;
    const TRegDataType oldType = row->DataInfo.RegData;
    // The whole text: the cell holds only the start of a long value.
    const std::string dataText = row->FullDataText();
    TRegDataType newType = rdUnknown;
    if (!editorForm(formValueType)->SelectNewType(fromStd(name), fromStd(dataText), oldType, newType) ||
        newType == rdUnknown)
        return;
    TMyRegistry64 reg;
    key.prepare(reg);
    if (!reg.OpenKey(key.path, false))
        return;

    QRandomGenerator random(QRandomGenerator::system()->generate());
    std::string temp;
    do
        temp = name + "-temp-" + std::to_string(random.bounded(2147483647u));
    while (reg.ValueExists(temp));
    reg.RenameValue(name, temp);
    try {
        if (typeChangeWriter())
            typeChangeWriter()(reg, name, dataText, newType, oldType);
        else
            reg.WriteDataFromText(name, dataText, newType, oldType);
    } catch (const std::exception &e) {
        // The value goes back under its own name with its old data and type.
        QString text = QString::fromUtf8(e.what());
        try {
            if (reg.ValueExists(name))
                reg.DeleteValue(name);
            reg.RenameValue(temp, name);
        } catch (const std::exception &restore) {
            text += QStringLiteral("\r\n") + tr("The value is kept under the name %1: %2")
                                                 .arg(fromStd(temp), QString::fromUtf8(restore.what()));
        }
        vt::i18n::ShowMessageDialog(text, vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
        return;
    }
    row->DataInfo.RegData = newType;
    row->DataInfo.DataSize = reg.GetDataSize(name);
    if (reg.ValueExists(name))
        reg.DeleteValue(temp);
    // The row shows the value as it is now stored rather than waiting for
    // the next refill, so that it agrees with the hex view.
    uint32_t code = 0;
    TRegByteArray bytes;
    if (reg.readValue(name, code, bytes)) {
        bool ok = true;
        const std::string text = ValueDisplayText(CodeToDataType(code), bytes.data(), bytes.size(), ok);
        row->setText(colType, fromStd(DisplayTypeName(CodeToDataType(code))));
        refreshRow(row, reg, ok ? text : toStd(msg("DialogDataError")));
    }
}

// ---------------------------------------------------------------------------
// New values

bool TformMain::AskNewValueName(TRegDataType type, QString &name)
{
    const TNewValueTexts texts = newValueTexts(type);
    const TKeyAt key = selectedKeyAt(*this);
    for (;;) {
        if (!vt::i18n::PromptForText(msg(texts.title), msg(texts.caption), name, vt::i18n::PromptValueNameLength))
            return false;
        if (ValueNameExists(name))
            continue;
        // The default value's row is captioned "(Default)", not by the empty
        // name: ask again rather than empty a default value the key has.
        if (name.isEmpty()) {
            TMyRegistry64 reg;
            key.prepare(reg);
            if (reg.OpenKeyReadOnly(key.path) && reg.ValueExists(std::string()))
                continue;
        }
        return true;
    }
}

void TformMain::AddValue(TRegDataType type)
{
    if (!m_Listed.valid)
        return;
    if (needsComplicatedTypeWarning(type) &&
        vt::i18n::ShowMessageDialog(msg("WarningComplicatedDataType"), vt::i18n::TMsgDlgType::Confirmation,
                                    vt::i18n::mbYesNo) != vt::i18n::mrYes)
        return;
    QString name = msg(newValueTexts(type).defaultName) + QStringLiteral(" #");
    MakeUniqueValueName(name);
    if (!AskNewValueName(type, name))
        return;
    const TKeyAt key = selectedKeyAt(*this);
    const std::string valueName = toStd(name);
    try {
        TMyRegistry64 reg;
        key.prepare(reg);
        if (!reg.OpenKey(key.path, false))
            return;
        switch (type) {
        case rdString:
            reg.WriteString(valueName, std::string());
            break;
        case rdExpandString:
            reg.WriteExpandString(valueName, std::string());
            break;
        case rdMultiString:
            reg.WriteMultiString(valueName, std::string());
            break;
        case rdInteger:
        case rdLittleEndianInteger:
            reg.WriteInteger(valueName, 0);
            break;
        case rdBigEndianInteger:
            reg.WriteBigEndianInteger(valueName, 0);
            break;
        case rdInt64:
        case rdLittleEndianInt64:
            reg.WriteInt64(valueName, 0);
            break;
        default:
            // REG_NONE, REG_BINARY, REG_LINK and the resource types: no bytes.
            reg.writeValue(valueName, DataTypeToCode(type), {});
            break;
        }
        FillValueList(key.root, key.path, key.view);
        const QString caption = valueName.empty() ? msg("DialogValueDefault") : name;
        TRegistryValueListItem *row = nullptr;
        for (int i = 0; i < lvData->topLevelItemCount() && !row; ++i) {
            QTreeWidgetItem *item = lvData->topLevelItem(i);
            if (item->type() == TRegistryValueListItem::ItemType && sameNameAsciiCase(item->text(colName), caption))
                row = static_cast<TRegistryValueListItem *>(item);
        }
        if (row)
            reg.GetDataInfo(valueName, row->DataInfo);
        reg.CloseKey();
        if (m_History)
            m_History->RecordValueNew(key.root, key.path, type, valueName);
        if (row) {
            lvData->setFocus();
            lvData->clearSelection();
            lvData->setCurrentItem(row);
            row->setSelected(true);
            TListBusy busy(lvDataTag);
            if (ChangeValueData(row, true))
                lvDataSelect();
        }
    } catch (const std::exception &e) {
        showError(e);
    }
}

} // namespace vt::app
