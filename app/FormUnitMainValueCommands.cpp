// The value commands of the main window: delete and rename the selected
// values, select all rows, jump to a class identifier a row names.

#include "FormUnitMainShared.h"

#include "i18n/gui/zoMessageDialogs.h"
#include "platform/vtPlatform.h"

namespace vt::app {

using namespace mainform;
using vt::i18n::ShowMessageDialog;
using vt::i18n::TMsgDlgType;

TToAll mainform::confirmWithToAll(const QString &text, bool &yesToAll)
{
    if (yesToAll)
        return TToAll::Go;
    switch (ShowMessageDialog(text, TMsgDlgType::Confirmation, vt::i18n::mbYesNoAll)) {
    case vt::i18n::mrYesToAll:
        yesToAll = true;
        return TToAll::Go;
    case vt::i18n::mrYes:
        return TToAll::Go;
    case vt::i18n::mrNoToAll:
        return TToAll::Stop;
    default:
        return TToAll::Skip;
    }
}

void TformMain::aValueDeleteExecute()
{
    if (m_Busy || !m_Listed.valid || lvData->selectedItems().isEmpty())
        return;
    // The key the rows belong to: the one listed, not whatever else may be
    // highlighted.
    const HKEY root = m_Listed.root;
    const int viewMode = m_Listed.viewMode;
    const std::string keyPath = m_Listed.keyPath;
    // Taken first: selecting the next row after each deletion changes the selection.
    const QList<TRegistryValueListItem *> rows = selectedValueRows();
    bool yesToAll = false, defaultGone = false;
    for (qsizetype r = rows.size() - 1; r >= 0; --r) {
        TRegistryValueListItem *row = rows[r];
        const TToAll answer = confirmWithToAll(msg("ConfirmValueDelete", {row->text(colName)}), yesToAll);
        if (answer == TToAll::Stop)
            break;
        if (answer == TToAll::Skip)
            continue;
        TMyRegistry64 reg;
        reg.SetViewMode(std::uint8_t(viewMode));
        reg.SetRootKey(root);
        if (!reg.OpenKey(keyPath, false)) {
            showRegistryError(tr("The value %1 cannot be deleted.").arg(row->text(colName)), reg.LastError());
            continue;
        }
        if (!reg.ValueExists(row->ValueName)) {
            // Gone already, or the stand-in row of a default value that has
            // none: nothing to delete or record; the default row stays.
            if (!row->ValueName.empty())
                delete row;
            continue;
        }
        try {
            LogValueDelete(root, keyPath, row->ValueName);
        } catch (const std::exception &e) {
            // The history could not record it: the value stays, and so do
            // the values not handled yet.
            ShowMessageDialog(QString::fromUtf8(e.what()), TMsgDlgType::Error, vt::i18n::mbOK);
            return;
        }
        if (!reg.DeleteValue(row->ValueName)) {
            showRegistryError(tr("The value %1 cannot be deleted.").arg(row->text(colName)), reg.LastError());
            continue;
        }
        const int index = lvData->indexOfTopLevelItem(row);
        defaultGone = defaultGone || row->ValueName.empty();
        delete row;
        if (QTreeWidgetItem *next = lvData->topLevelItem(index))
            lvData->setCurrentItem(next);
    }
    // Without its value the default row shows the stand-in again.
    if (defaultGone)
        RefreshValueList();
    lvDataSelect();
}

void TformMain::aValueRenameExecute()
{
    if (m_Busy || !m_Listed.valid)
        return;
    const HKEY root = m_Listed.root;
    const int viewMode = m_Listed.viewMode;
    const std::string keyPath = m_Listed.keyPath;
    const QList<TRegistryValueListItem *> rows = selectedValueRows();
    for (TRegistryValueListItem *row : rows) {
        const QString caption = row->text(colName);
        QString name = caption;
        if (!vt::i18n::PromptForText(msg("DialogRenameValueTitle", {caption}), msg("DialogRenameValueCaption"),
                                     name, vt::i18n::PromptValueNameLength))
            return;
        const std::string oldName = row->ValueName;
        const std::string newName = toStd(name);
        if (newName == oldName || (oldName.empty() && name == caption))
            continue;
        TMyRegistry64 reg;
        reg.SetViewMode(std::uint8_t(viewMode));
        reg.SetRootKey(root);
        if (!reg.OpenKey(keyPath, false)) {
            showRegistryError(tr("The value %1 cannot be renamed.").arg(caption), reg.LastError());
            continue;
        }
        if (!reg.ValueExists(oldName)) {
            showRegistryError(tr("The value %1 cannot be renamed.").arg(caption), ERROR_FILE_NOT_FOUND);
            continue;
        }
        const bool caseOnly = sameNameAsciiCase(fromStd(oldName), name);
        if (!caseOnly && reg.ValueExists(newName)) {
            ShowMessageDialog(
                tr("The value %1 cannot be renamed: a value named %2 already exists.").arg(caption, name),
                TMsgDlgType::Error, vt::i18n::mbOK);
            continue;
        }
        try {
            LogValueRename(editUndoLog, root, newName, oldName, keyPath);
        } catch (const std::exception &e) {
            ShowMessageDialog(QString::fromUtf8(e.what()), TMsgDlgType::Error, vt::i18n::mbOK);
            return;
        }
        bool renamed = false;
        try {
            vt::platform::Transaction tx;
            if (caseOnly) {
                // Names that differ in case only name one value: it passes
                // through a free name on its way.
                std::string free = oldName + "~";
                while (reg.ValueExists(free))
                    free += '~';
                reg.RenameValue(oldName, free);
                reg.RenameValue(free, newName);
            } else {
                reg.RenameValue(oldName, newName);
            }
            renamed = tx.commit() == ERROR_SUCCESS && reg.ValueExists(newName) &&
                      (caseOnly || !reg.ValueExists(oldName));
        } catch (const std::exception &e) {
            showRegistryError(QString::fromUtf8(e.what()), reg.LastError());
            RefreshValueList();
            return;
        }
        if (!renamed) {
            showRegistryError(tr("The value %1 cannot be renamed.").arg(caption), reg.LastError());
            continue;
        }
        row->ValueName = newName;
        row->setText(colName, name);
        row->StateImage = 0;
        LogValueRename(editRedoLog, root, oldName, newName, keyPath);
    }
}

void TformMain::aValueSelectAllExecute()
{
    lvData->selectAll();
    lvData->setFocus(Qt::OtherFocusReason);
}

void TformMain::aValueJumpToHKCRCLSIDExecute()
{
    QTreeWidgetItem *row = lvData->currentItem();
    if (!row || !row->isSelected()) {
        const QList<QTreeWidgetItem *> selected = lvData->selectedItems();
        row = selected.isEmpty() ? nullptr : selected.first();
    }
    if (!row)
        return;
    if (isBraced(row->text(colName)))
        JumpToClass(row->text(colName));
    else if (isBraced(row->text(colValue)))
        JumpToClass(row->text(colValue));
}

} // namespace vt::app
