// What the main window shows after an import: the result in words and the
// imported keys in the tree; and the class jump, which finds a class in the
// view the tree shows it in.

#include "FormUnitMainShared.h"

#include "app/vtImageList.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/gui/RegFileActions.h"

#include <QSet>

namespace vt::app
{

using namespace mainform;
using vt::i18n::ShowMessageDialog;
using vt::i18n::TMsgDlgType;

void TformMain::ShowImportResult(const vt::regfile::TImportResult &result, bool quiet)
{
    const QString text = vt::regfile::ImportResultText(result);
    setStatusText(0, text);
    const bool troubled = !result.Applied || !result.Error.empty() || result.IgnoredLines > 0 || result.KeysFailed > 0;
    if (troubled)
        ShowMessageDialog(text,
                          result.Applied && result.Error.empty() && result.KeysFailed == 0 ? TMsgDlgType::Warning
                                                                                           : TMsgDlgType::Error,
                          vt::i18n::mbOK);
    else if (!quiet)
        ShowMessageDialog(text, TMsgDlgType::Information, vt::i18n::mbOK);
}

namespace
{

// Follows a key's path down the loaded nodes below `node`; notes the nodes
// whose children no longer match: the deepest loaded node that lacks the
// next name, or the parent of a node whose key was deleted.
void markStale(QTreeWidgetItem *node, const QStringList &elements, qsizetype at, bool deleted,
               QSet<QTreeWidgetItem *> &stale)
{
    if (at == elements.size()) {
        if (deleted && node->parent())
            stale.insert(node->parent());
        return;
    }
    if (node->childCount() == 0) {
        if (!deleted)
            stale.insert(node); // shows its expand button again
        return;
    }
    bool found = false;
    // A name may have two nodes (SOFTWARE in either view): follow both.
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem *child = node->child(i);
        if (child->text(0).compare(elements[at], Qt::CaseInsensitive) == 0) {
            found = true;
            markStale(child, elements, at + 1, deleted, stale);
        }
    }
    if (!found && !deleted)
        stale.insert(node);
}

void expandedNodes(QTreeWidgetItem *node, QList<QTreeWidgetItem *> &out)
{
    if (node->childCount() > 0 && node->isExpanded())
        out.append(node);
    for (int i = 0; i < node->childCount(); ++i)
        expandedNodes(node->child(i), out);
}

} // namespace

void TformMain::ShowImportedKeys(const vt::regfile::TImportResult &result)
{
    if (!m_MyComputer)
        return;
    QSet<QTreeWidgetItem *> stale;
    if (result.TouchedAll) {
        for (const auto &key : result.Touched) {
            const QString rootName = fromStd(RootKeyToName(key.Root));
            const QStringList elements = fromStd(key.Path).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
            for (int i = 0; i < m_MyComputer->childCount(); ++i)
                if (m_MyComputer->child(i)->text(0).compare(rootName, Qt::CaseInsensitive) == 0)
                    markStale(m_MyComputer->child(i), elements, 0, key.Deleted, stale);
        }
    } else {
        // Too many keys to follow one by one: what is open is brought up to date.
        QList<QTreeWidgetItem *> open;
        expandedNodes(m_MyComputer, open);
        for (QTreeWidgetItem *node : std::as_const(open))
            stale.insert(node);
    }
    // Deepest first: a node's sync may delete children, and none of them is
    // visited afterwards.
    QList<QTreeWidgetItem *> order(stale.begin(), stale.end());
    std::sort(order.begin(), order.end(),
              [](QTreeWidgetItem *a, QTreeWidgetItem *b) { return nodeLevel(a) > nodeLevel(b); });
    for (QTreeWidgetItem *node : std::as_const(order))
        syncChildren(node);
    RefreshValueList();
}

void TformMain::JumpToClass(const QString &clsid)
{
    const std::string path = toStd(QStringLiteral("\\CLSID\\") + clsid);
    // The tree lists HKEY_CLASSES_ROOT as the program's own (32-bit) view
    // does. A class only the 64-bit view holds gets a node of that view
    // below CLSID, in its sorted place, so that its values are listed.
    if (m_IsWow64 && !KeyExistsAt(HKEY_CLASSES_ROOT, path, 0) && KeyExistsAt(HKEY_CLASSES_ROOT, path, 1)) {
        GoToKey(QStringLiteral("HKEY_CLASSES_ROOT\\CLSID"));
        QTreeWidgetItem *branch = tvKeys->currentItem();
        if (branch && nodeLevel(branch) == 2 && GetTreeKind(branch) == 1 &&
            nodeKeyOf(*this, branch).root == HKEY_CLASSES_ROOT) {
            QTreeWidgetItem *node = nullptr;
            for (int i = 0; i < branch->childCount() && !node; ++i)
                if (branch->child(i)->text(0).compare(clsid, Qt::CaseInsensitive) == 0 &&
                    nodeImage(branch->child(i)) == imgFolder64)
                    node = branch->child(i);
            if (!node) {
                node = makeKeyNode(branch, clsid, 0);
                node->setData(0, NodeImageRole, int(imgFolder64));
                node->setData(0, NodeSelectedImageRole, int(imgFolder64Open));
                node->setIcon(0, ImageListIcon(imgFolder64));
                insertNodeSorted(branch, node);
            }
            SelectNode(node);
            tvKeys->scrollToItem(node);
            return;
        }
    }
    GoToKey(QStringLiteral("HKEY_CLASSES_ROOT\\CLSID\\") + clsid);
}

} // namespace vt::app
