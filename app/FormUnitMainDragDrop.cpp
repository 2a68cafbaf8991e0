// Dragging values and keys onto a key of the tree: the control key copies,
// otherwise they move.

#include "FormUnitMainShared.h"

#include "i18n/gui/zoMessageDialogs.h"
#include "platform/vtPlatform.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>

namespace vt::app {

using namespace mainform;
using vt::i18n::ShowMessageDialog;
using vt::i18n::TMsgDlgType;

namespace {

const QString DragFormat = QStringLiteral("application/x-vantrel-drag");

// The one-shot functions' view byte of a node's view mode.
std::uint8_t viewByte(int viewMode) { return viewMode == 2 ? 1 : 0; }

bool samePath(const std::string &a, const std::string &b)
{
    return fromStd(a).compare(fromStd(b), Qt::CaseInsensitive) == 0;
}

// Whether `inner` is `outer` or a key below it.
bool pathWithin(const std::string &inner, const std::string &outer)
{
    return samePath(inner, outer) ||
           (inner.size() > outer.size() && inner[outer.size()] == '\\' && samePath(inner.substr(0, outer.size()), outer));
}

} // namespace

QMimeData *TformMain::CreateDragData(QWidget *source) const
{
    auto *data = new QMimeData;
    // Which window and process it came from: a drag from another copy of the
    // program, or from anywhere else, changes nothing here.
    const QString what = source == tvKeys ? QStringLiteral("key") : QStringLiteral("values");
    data->setData(DragFormat, QStringLiteral("%1:%2:%3")
                                  .arg(QCoreApplication::applicationPid())
                                  .arg(quintptr(this))
                                  .arg(what)
                                  .toUtf8());
    return data;
}

void TformMain::startDrag(QWidget *source)
{
    if (m_Busy)
        return;
    if (source == tvKeys ? !tvKeys->currentItem() : lvData->selectedItems().isEmpty())
        return;
    ++m_DragsStarted;
    auto *drag = new QDrag(source);
    drag->setMimeData(CreateDragData(source));
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    // The drag's own texts go; the panel names the current key again.
    setStatusText(0, nodeKeyOf(*this, tvKeys->currentItem()).treePath);
}

bool TformMain::dragDropEvent(QObject *watched, QEvent *event)
{
    if (!tvKeys || !lvData) // events of the controls built before them
        return false;
    if (watched != tvKeys->viewport())
        return false;
    // The views start drags themselves (startDrag below): their own state
    // ends with the drag, so nothing is left half-pressed afterwards.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        m_KeyChangesAtPress = m_KeyChanges;
        return false;
    case QEvent::DragLeave:
        setStatusText(0, QString());
        return true;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        break;
    default:
        return false;
    }
    auto *drop = static_cast<QDropEvent *>(event);
    // Only this window's own drags, of a local key or of the local rows.
    const QList<QByteArray> parts = drop->mimeData()->data(DragFormat).split(':');
    const bool ours = parts.size() == 3 && parts[0].toLongLong() == QCoreApplication::applicationPid() &&
                      parts[1].toULongLong() == quintptr(this);
    const bool keys = ours && parts[2] == "key";
    const bool values = ours && parts[2] == "values";
    if (event->type() == QEvent::DragEnter) {
        // The drag begins over the dragged node itself: refusing the entry
        // would make the tree ignore the whole drag until the pointer leaves
        // it. Our own drag is taken in; each move decides where it may drop.
        if (!keys && !values) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
    }
    QTreeWidgetItem *source = tvKeys->currentItem();
    QTreeWidgetItem *target = tvKeys->itemAt(drop->position().toPoint());
    bool allowed = !m_Busy && target && GetTreeKind(target) == 1 && nodeLevel(target) > 0 && source &&
                   GetTreeKind(source) == 1;
    if (values)
        allowed = allowed && m_Listed.valid && !lvData->selectedItems().isEmpty();
    else if (keys) {
        // Not a root key, never into itself or its own subtree, and not onto
        // its own parent, where it already is.
        bool inside = false;
        for (QTreeWidgetItem *n = target; n && !inside; n = n->parent())
            inside = n == source;
        allowed = allowed && nodeLevel(source) >= 2 && !inside && target != source->parent();
    } else {
        allowed = false;
    }
    if (!allowed) {
        if (event->type() != QEvent::DragEnter)
            drop->ignore();
        if (event->type() != QEvent::Drop)
            setStatusText(0, QString());
        return true;
    }
    const bool copy = drop->modifiers() & Qt::ControlModifier;
    drop->setDropAction(copy ? Qt::CopyAction : Qt::MoveAction);
    drop->accept();
    if (event->type() != QEvent::Drop) {
        if (values)
            setStatusText(0, msg(copy ? "DragDropValueCopyStatus" : "DragDropValueMoveStatus", {target->text(0)}));
        else
            setStatusText(0, msg(copy ? "DragDropKeyCopyStatus" : "DragDropKeyMoveStatus",
                                 {source->text(0), target->text(0)}));
        return true;
    }
    setStatusText(0, QString());
    if (values)
        dropValues(target, copy);
    else
        dropKey(target, copy);
    return true;
}

void TformMain::dropValues(QTreeWidgetItem *target, bool copy)
{
    if (!m_Listed.valid)
        return;
    const HKEY root = m_Listed.root;
    const int viewMode = m_Listed.viewMode;
    const std::string keyPath = m_Listed.keyPath;
    const auto [targetRoot, targetView, targetTree, targetPath] = nodeKeyOf(*this, target);
    // Onto their own key the values stay as they are.
    if (root == targetRoot && viewByte(viewMode) == viewByte(targetView) && samePath(keyPath, targetPath))
        return;
    // Every question first, so that the change itself is one step that
    // holds no other process waiting on an answer.
    std::vector<std::pair<std::string, QString>> chosen; // name, caption
    bool yesToAll = false;
    for (TRegistryValueListItem *row : selectedValueRows()) {
        if (!yesToAll && ValueExistsAt(targetRoot, targetPath, row->ValueName, viewByte(targetView))) {
            const TToAll answer = confirmWithToAll(msg("ConfirmCopyOverwrite", {row->text(colName)}), yesToAll);
            if (answer == TToAll::Stop)
                break;
            if (answer == TToAll::Skip)
                continue;
        }
        chosen.emplace_back(row->ValueName, row->text(colName));
    }
    QStringList failed;
    {
        vt::platform::Transaction tx;
        for (const auto &[name, caption] : chosen) {
            bool done = false;
            try {
                done = CopyValueAt(root, keyPath, name, !copy, name, targetPath, targetRoot, viewByte(viewMode),
                                   viewByte(targetView));
            } catch (...) {
                done = false;
            }
            if (!done)
                failed << caption;
        }
        if (tx.commit() != ERROR_SUCCESS)
            failed = QStringList{tr("(all)")};
    }
    if (!failed.isEmpty())
        ShowMessageDialog(tr("These values could not be copied: %1").arg(failed.join(QStringLiteral(", "))),
                          TMsgDlgType::Error, vt::i18n::mbOK);
    if (!copy)
        RefreshValueList();
}

void TformMain::dropKey(QTreeWidgetItem *target, bool copy)
{
    QTreeWidgetItem *source = tvKeys->currentItem();
    const auto [root, viewMode, treePath, sourcePath] = nodeKeyOf(*this, source);
    const auto [targetRoot, targetView, targetTree, targetPath] = nodeKeyOf(*this, target);
    if (root != targetRoot) {
        ShowMessageDialog(msg("DragDropWrongRootKeyWarning"), TMsgDlgType::Error, vt::i18n::mbOK);
        return;
    }
    // One accessor walks both keys, in one view.
    if (viewByte(viewMode) != viewByte(targetView)) {
        ShowMessageDialog(tr("You cannot move keys between the 32-bit and the 64-bit view."), TMsgDlgType::Error,
                          vt::i18n::mbOK);
        return;
    }
    const QString caption = source->text(0);
    std::string newPath = targetPath;
    if (newPath.empty() || newPath.back() != '\\')
        newPath += '\\';
    newPath += toStd(caption);
    // Onto its own parent it would replace itself; into itself, never end.
    if (samePath(newPath, sourcePath) || pathWithin(targetPath, sourcePath))
        return;
    TMyRegistry64 reg;
    reg.SetViewMode(std::uint8_t(viewMode));
    reg.SetRootKey(root);
    const bool replace = reg.KeyExists(newPath);
    if (replace) {
        if (ShowMessageDialog(msg("ConfirmCopyOverwrite", {caption}), TMsgDlgType::Confirmation,
                              vt::i18n::mbYesNo) != vt::i18n::mrYes)
            return;
        // Replacing a key that holds the dragged one would delete the source.
        if (pathWithin(sourcePath, newPath)) {
            ShowMessageDialog(tr("The key %1 cannot be replaced: it holds the key you dragged.").arg(caption),
                              TMsgDlgType::Error, vt::i18n::mbOK);
            return;
        }
        try {
            // The replaced key can be brought back from the undo log.
            LogKeyDelete(root, newPath);
        } catch (const std::exception &e) {
            ShowMessageDialog(QString::fromUtf8(e.what()), TMsgDlgType::Error, vt::i18n::mbOK);
            return;
        }
    }
    bool done = false;
    LONG error = ERROR_SUCCESS;
    startLongOperation(reg, countKeysBelow(reg, sourcePath) + 1 + (replace ? countKeysBelow(reg, newPath) + 1 : 0));
    try {
        // The replaced key, the copy and the source's removal are one change:
        // a crash leaves the state before the drop or after it.
        vt::platform::Transaction tx;
        done = (!replace || reg.DeleteKey(newPath)) && reg.MoveKey(sourcePath, newPath, !copy);
        error = reg.LastError();
        if (tx.commit() != ERROR_SUCCESS) {
            done = false;
            error = ERROR_REGISTRY_IO_FAILED;
        }
    } catch (const std::exception &) {
        error = reg.LastError();
    }
    endLongOperation();
    if (!done)
        showRegistryError(copy ? tr("The key %1 cannot be copied.").arg(caption)
                               : tr("The key %1 cannot be moved.").arg(caption),
                          error);
    // The tree follows what the registry now holds; children not loaded yet
    // come with the target's expansion.
    const bool loaded = target->childCount() > 0 || !hasChildrenFlag(target);
    const bool arrived = KeyExistsAt(root, newPath, viewByte(viewMode));
    if (QTreeWidgetItem *old = FindChildNode(target, caption); old && (replace || done))
        delete old;
    if (arrived && loaded)
        AddKeyNode(target, caption, 0);
    setHasChildren(target, target->childCount() > 0 || arrived);
    if (!copy && !KeyExistsAt(root, sourcePath, viewByte(viewMode))) {
        QTreeWidgetItem *parent = source->parent();
        SelectNode(parent);
        delete source;
    }
}

} // namespace vt::app
