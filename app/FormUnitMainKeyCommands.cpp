// The key commands of the main window: new, delete, rename, refresh, copy
// the name, jumps; when each key and value command is enabled; the keys of
// the tree and the list that run them; progress of long key operations.

#include "FormUnitMainShared.h"

#include "i18n/gui/zoMessageDialogs.h"
#include "platform/vtPlatform.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QProgressBar>

namespace vt::app {

using namespace mainform;
using vt::i18n::ShowMessageDialog;
using vt::i18n::TMsgDlgType;

namespace {

// An accessor on the node's key, the way every command here makes one.
void prepare(TMyRegistry &reg, HKEY root, int viewMode)
{
    reg.SetViewMode(std::uint8_t(viewMode));
    reg.SetRootKey(root);
}

bool validKeyName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('\\'));
}

} // namespace

std::uint64_t mainform::countKeysBelow(TMyRegistry &reg, const std::string &path)
{
    std::uint64_t count = 0;
    std::vector<std::string> names;
    if (!reg.OpenKeyReadOnly(path))
        return 0;
    reg.GetKeyNames(names);
    reg.CloseKey();
    for (const std::string &name : names)
        count += 1 + countKeysBelow(reg, path + '\\' + name);
    return count;
}

QString mainform::windowsErrorText(LONG code)
{
    char text[512];
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                       nullptr, DWORD(code), 0, text, sizeof text, nullptr);
    QString out = n ? QString::fromUtf8(text, int(n)).trimmed() : QStringLiteral("Error %1").arg(code);
    return out;
}

void TformMain::showRegistryError(const QString &text, LONG code)
{
    ShowMessageDialog(code == ERROR_SUCCESS ? text : text + QStringLiteral("\r\n") + windowsErrorText(code),
                      TMsgDlgType::Error, vt::i18n::mbOK);
}

void TformMain::connectKeyCommands()
{
    connectHandler(aKeyAdd, &TformMain::aKeyAddExecute);
    connectHandler(aKeyDelete, &TformMain::aKeyDeleteExecute);
    connectHandler(aKeyRename, &TformMain::aKeyRenameExecute);
    connectHandler(aKeyRefresh, &TformMain::aKeyRefreshExecute);
    connectHandler(aKeyCopyPath, &TformMain::aKeyCopyPathExecute);
    connectHandler(aKeyJump, &TformMain::aKeyJumpExecute);
    connectHandler(aKeyJumpToHKCRCLSID, &TformMain::aKeyJumpToHKCRCLSIDExecute);
    connectHandler(aValueDelete, &TformMain::aValueDeleteExecute);
    connectHandler(aValueRename, &TformMain::aValueRenameExecute);
    connectHandler(aValueSelectAll, &TformMain::aValueSelectAllExecute);
    connectHandler(aValueJumpToHKCRCLSID, &TformMain::aValueJumpToHKCRCLSIDExecute);
    connect(pmKeys, &QMenu::aboutToShow, this, &TformMain::updateKeyCommandStates);
    connect(pmValues, &QMenu::aboutToShow, this, &TformMain::updateValueCommandStates);

    // The views start drags, with this window's own data; drag enabled views
    // keep a multiple selection when a selected row is pressed.
    for (QTreeWidget *view : {tvKeys, lvData})
        if (auto *source = dynamic_cast<TDragSourceTree *>(view))
            source->OnStartDrag = [this, view] { startDrag(view); };
    tvKeys->setDragDropMode(QAbstractItemView::NoDragDrop);
    tvKeys->setDragEnabled(true);
    lvData->setDragEnabled(true);
    tvKeys->viewport()->setAcceptDrops(true);
    tvKeys->viewport()->installEventFilter(this);
    lvData->viewport()->installEventFilter(this);
}

// ---------------------------------------------------------------------------
// Enabling

void TformMain::updateKeyCommandStates()
{
    QTreeWidgetItem *node = tvKeys->currentItem();
    const int level = nodeLevel(node);
    const bool local = node && GetTreeKind(node) == 1;
    const bool idle = !m_Busy;
    aKeyRefresh->setEnabled(node && idle);
    aKeyDelete->setEnabled(local && level >= 2 && idle);
    aKeyRename->setEnabled(local && level >= 2 && idle);
    aKeyAdd->setEnabled(local && level >= 1 && idle);
    aKeyCopyPath->setEnabled(node && level >= 1);
    aKeyJumpToHKCRCLSID->setEnabled(node && isBraced(node->text(0)));
}

void TformMain::updateValueCommandStates()
{
    aValueJumpToHKCRCLSID->setEnabled(false);
    QTreeWidgetItem *row = lvData->currentItem();
    if (!row || !row->isSelected()) {
        const QList<QTreeWidgetItem *> selected = lvData->selectedItems();
        row = selected.isEmpty() ? nullptr : selected.first();
    }
    if (!row) {
        // Nothing to act on: the commands that act on selected rows rest.
        aValueDelete->setEnabled(false);
        aValueRename->setEnabled(false);
        return;
    }
    setStatusText(1, QString());
    const bool local = m_Listed.valid;
    const bool valueRow = row->type() == TRegistryValueListItem::ItemType;
    aValueDelete->setEnabled(valueRow && local && !m_Busy);
    aValueRename->setEnabled(valueRow && local && !m_Busy);
    if (row->columnCount() > 1)
        aValueJumpToHKCRCLSID->setEnabled(isBraced(row->text(colName)) || isBraced(row->text(colValue)));
}

// ---------------------------------------------------------------------------
// Keyboard

bool TformMain::commandKeyPress(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || (watched != tvKeys && watched != lvData))
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier))
        return false;
    // A command runs only when its rules allow it for what is selected now.
    auto run = [this](QAction *action, bool keyCommand) {
        if (keyCommand)
            updateKeyCommandStates();
        else
            updateValueCommandStates();
        if (action->isEnabled())
            action->trigger();
        return true;
    };
    if (watched == tvKeys) {
        switch (key->key()) {
        case Qt::Key_Insert:
            return run(aKeyAdd, true);
        case Qt::Key_Delete:
            return run(aKeyDelete, true);
        case Qt::Key_F2:
            return run(aKeyRename, true);
        case Qt::Key_F5: // reaches here only while aKeyRefresh is disabled
            tvKeysChange();
            return true;
        default:
            return false;
        }
    }
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!m_Busy)
            lvDataDblClick();
        return true;
    case Qt::Key_Delete:
        return run(aValueDelete, false);
    case Qt::Key_F2:
        return run(aValueRename, false);
    case Qt::Key_F5:
        RefreshValueList();
        return true;
    case Qt::Key_Insert:
        UpdateActionStates();
        pmValues->popup(QCursor::pos());
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Long operations

void TformMain::startLongOperation(TMyRegistry &reg, std::uint64_t total)
{
    m_Busy = true;
    m_ProgressDone = 0;
    UpdateActionStates();
    pg->setMinimum(0);
    pg->setMaximum(int(std::min<std::uint64_t>(std::max<std::uint64_t>(total, 1), INT32_MAX)));
    pg->setValue(0);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    reg.KeyProgress = [this, clock] {
        ++m_ProgressDone;
        // Painting is what costs; every 20 ms is smooth enough to see.
        if ((m_ProgressDone & 0x3F) == 0 && clock->elapsed() >= 20) {
            pg->setValue(int(std::min<std::uint64_t>(m_ProgressDone, std::uint64_t(pg->maximum()))));
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            clock->restart();
        }
    };
}

void TformMain::endLongOperation()
{
    pg->setValue(0);
    m_Busy = false;
    UpdateActionStates();
}

// ---------------------------------------------------------------------------
// Key commands

void TformMain::aKeyAddExecute()
{
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (m_Busy || !node || nodeLevel(node) < 1 || GetTreeKind(node) != 1)
        return;
    const auto [root, viewMode, treePath, keyPath] = nodeKeyOf(*this, node);
    // The children come from the registry first, so that the proposal and the
    // test below know every existing key, not just the ones shown so far.
    tvKeysExpanding(node);

    TMyRegistry64 reg;
    prepare(reg, root, viewMode);
    QString name = msg("DialogNewKeyDefault") + QStringLiteral(" #");
    MakeUniqueKeyName(node, name);
    for (;;) {
        if (!vt::i18n::PromptForText(msg("DialogNewKeyTitle"), msg("DialogNewKeyCaption"), name,
                                     vt::i18n::PromptKeyNameLength))
            return;
        if (!validKeyName(name)) {
            ShowMessageDialog(tr("A key name cannot be empty or contain a backslash."), TMsgDlgType::Error,
                              vt::i18n::mbOK);
            continue;
        }
        // Creating a key that exists would open it and record it as new.
        if (!ChildKeyExists(node, name) && !reg.KeyExists(keyPath + '\\' + toStd(name)))
            break;
    }
    const std::string newPath = keyPath + '\\' + toStd(name);
    try {
        reg.CreateKey(newPath);
    } catch (const std::exception &e) {
        showRegistryError(QString::fromUtf8(e.what()), reg.LastError());
        return;
    }
    AddKeyNode(node, name, 0);
    reloadChildren(node);
    try {
        LogKeyAdd(root, newPath);
    } catch (const std::exception &e) {
        ShowMessageDialog(QString::fromUtf8(e.what()), TMsgDlgType::Error, vt::i18n::mbOK);
    }
}

void TformMain::aKeyDeleteExecute()
{
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (m_Busy || !node || nodeLevel(node) < 2 || GetTreeKind(node) != 1)
        return;
    if (ShowMessageDialog(msg("ConfirmKeyDelete", {node->text(0)}), TMsgDlgType::Confirmation,
                          vt::i18n::mbYesNo) != vt::i18n::mrYes)
        return;
    const auto [root, viewMode, treePath, keyPath] = nodeKeyOf(*this, node);
    try {
        // Before the deletion, so the undo log can still export the key; a
        // history that fails to record stops the deletion.
        LogKeyDelete(root, keyPath);
    } catch (const std::exception &e) {
        ShowMessageDialog(QString::fromUtf8(e.what()), TMsgDlgType::Error, vt::i18n::mbOK);
        return;
    }
    TMyRegistry64 reg;
    prepare(reg, root, viewMode);
    bool deleted = false;
    LONG error = ERROR_SUCCESS;
    startLongOperation(reg, countKeysBelow(reg, keyPath) + 1);
    try {
        deleted = reg.DeleteKey(keyPath);
        error = reg.LastError();
    } catch (...) {
        error = reg.LastError();
    }
    endLongOperation();
    QTreeWidgetItem *parent = node->parent();
    if (deleted) {
        SelectNode(parent);
        delete node;
        return;
    }
    // Part of the subtree may be gone: show what is left.
    showRegistryError(tr("The key %1 cannot be deleted.").arg(node->text(0)), error);
    if (!KeyExistsAt(root, keyPath, viewMode == 2 ? 1 : 0)) {
        SelectNode(parent);
        delete node;
    } else {
        reloadChildren(node);
    }
}

void TformMain::aKeyRenameExecute()
{
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (m_Busy || !node || nodeLevel(node) < 2 || GetTreeKind(node) != 1)
        return;
    const QString oldName = node->text(0);
    QString name = oldName;
    if (!vt::i18n::PromptForText(msg("DialogRenameKeyTitle", {oldName}), msg("DialogRenameKeyCaption"), name,
                                 vt::i18n::PromptKeyNameLength) ||
        name == oldName)
        return;
    if (!validKeyName(name)) {
        ShowMessageDialog(tr("A key name cannot be empty or contain a backslash."), TMsgDlgType::Error,
                          vt::i18n::mbOK);
        return;
    }
    const auto [root, viewMode, treePath, oldPath] = nodeKeyOf(*this, node);
    const std::string newPath = oldPath.substr(0, oldPath.rfind('\\') + 1) + toStd(name);
    TMyRegistry64 reg;
    prepare(reg, root, viewMode);
    // A name taken by another key leaves both keys and the caption as they
    // are; a change of letter case alone renames the key itself.
    if (name.compare(oldName, Qt::CaseInsensitive) != 0 && reg.KeyExists(newPath)) {
        ShowMessageDialog(tr("The key %1 cannot be renamed: a key named %2 already exists.").arg(oldName, name),
                          TMsgDlgType::Error, vt::i18n::mbOK);
        return;
    }
    try {
        LogKeyRename(root, oldPath, TRenamePhase::Before, newPath);
    } catch (const std::exception &e) {
        ShowMessageDialog(QString::fromUtf8(e.what()), TMsgDlgType::Error, vt::i18n::mbOK);
        return;
    }
    if (!reg.RenameKey(oldPath, toStd(name))) {
        showRegistryError(tr("The key %1 cannot be renamed.").arg(oldName), reg.LastError());
        return;
    }
    node->setText(0, name);
    try {
        LogKeyRename(root, oldPath, TRenamePhase::After, newPath);
    } catch (const std::exception &e) {
        ShowMessageDialog(QString::fromUtf8(e.what()), TMsgDlgType::Error, vt::i18n::mbOK);
    }
    // The list's rows and the address carry the key's path.
    if (node == tvKeys->currentItem())
        tvKeysChange();
}

void TformMain::reloadChildren(QTreeWidgetItem *node)
{
    if (!node)
        return;
    const bool local = GetTreeKind(node) == 1;
    if (node == m_MyComputer) {
        // Its children are the root keys, not keys of a registry path.
        qDeleteAll(node->takeChildren());
        for (const QString &name : std::as_const(m_RootKeyList))
            AddKeyNode(node, name, 0);
    } else if (local) {
        node->setExpanded(false);
        qDeleteAll(node->takeChildren());
        setHasChildren(node, false);
        setHasChildren(node, true);
        tvKeysExpanding(node);
    }
    // Trees of registry files (built whole when opened) and remote trees keep
    // their nodes: removing them would lose what cannot be reloaded.
    node->setExpanded(true);
}

void TformMain::aKeyRefreshExecute()
{
    if (m_Busy)
        return;
    reloadChildren(tvKeys->currentItem());
}

void TformMain::aKeyCopyPathExecute()
{
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (!node || nodeLevel(node) < 1)
        return;
    const auto [root, viewMode, treePath, keyPath] = nodeKeyOf(*this, node);
    QApplication::clipboard()->setText(fromStd(RootKeyToName(root) + keyPath));
}

void TformMain::aKeyJumpExecute()
{
    QString text = QApplication::clipboard()->text();
    if (vt::i18n::PromptForText(msg("DialogJumpToKeyTitle"), msg("DialogJumpToKeyCaption"), text,
                                vt::i18n::PromptNoLimit))
        GoToKey(text);
}

void TformMain::aKeyJumpToHKCRCLSIDExecute()
{
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (node && isBraced(node->text(0)))
        JumpToClass(node->text(0));
}

} // namespace vt::app
