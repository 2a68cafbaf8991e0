// The key tree of the main window: root nodes, expanding keys into child
// nodes, selecting a key, and the progress bar the long listings drive.

#include "FormUnitMainShared.h"

#include "app/vtImageList.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace vt::app {

using namespace mainform;

void TformMain::BuildKeyTree()
{
    tvKeys->setUpdatesEnabled(false);
    tvKeys->clear();
    m_IconSelected = nullptr;
    m_MyComputer = new QTreeWidgetItem(QStringList{msg("MyComputer")});
    m_MyComputer->setData(0, NodeImageRole, int(imgComputer));
    m_MyComputer->setData(0, NodeSelectedImageRole, int(imgComputer));
    m_MyComputer->setIcon(0, ImageListIcon(imgComputer));
    tvKeys->addTopLevelItem(m_MyComputer);
    for (const QString &name : std::as_const(m_RootKeyList))
        AddKeyNode(m_MyComputer, name, 0);
    m_MyComputer->setExpanded(true);
    tvKeys->setUpdatesEnabled(true);
}

// ---------------------------------------------------------------------------
// Tree nodes

int TformMain::GetTreeKind(QTreeWidgetItem *node, QString *topCaption) const
{
    if (topCaption)
        topCaption->clear();
    if (!node)
        return 0;
    while (node->parent())
        node = node->parent();
    if (topCaption)
        *topCaption = node->text(0);
    switch (nodeImage(node)) {
    case imgComputer:
        return 1;
    case imgRegistryFile:
        return 2;
    case imgRemoteComputer:
        return 3;
    default:
        return 0;
    }
}

void TformMain::GetNodeKey(QTreeWidgetItem *node, HKEY &root, int &viewMode, QString &treePath,
                           std::string &keyPath) const
{
    root = HKEY_LOCAL_MACHINE;
    viewMode = 0;
    treePath.clear();
    keyPath.clear();
    if (!node)
        return;
    const int image = nodeImage(node);
    viewMode = image == imgFolder32 ? 1 : image == imgFolder64 ? 2 : 0;
    QStringList captions;
    for (QTreeWidgetItem *n = node; n; n = n->parent())
        captions.prepend(n->text(0));
    treePath = captions.join(QLatin1Char('\\'));
    if (captions.size() >= 2)
        root = NameToRootKey(toStd(captions[1]));
    QString path;
    for (qsizetype i = 2; i < captions.size(); ++i)
        path += QLatin1Char('\\') + captions[i];
    keyPath = toStd(path);
}

void TformMain::GetSelectedKey(HKEY &root, std::string &keyPath, int &viewMode, QString &treePath) const
{
    GetNodeKey(tvKeys->currentItem(), root, viewMode, treePath, keyPath);
}

QTreeWidgetItem *TformMain::makeKeyNode(QTreeWidgetItem *parent, const QString &name, int pairIndex) const
{
    if (name.isEmpty())
        return nullptr;
    int image = pairIndex == 1 ? imgFolder32 : imgFolder;
    int selected = pairIndex == 1 ? imgFolder32Open : imgFolderOpen;
    if (pairIndex == 0 && parent) {
        const int parentImage = nodeImage(parent);
        if (parentImage >= imgFolder32 && parentImage <= imgFolder64Open) {
            image = parentImage;
            selected = parent->data(0, NodeSelectedImageRole).toInt();
        }
    }
    auto *node = new QTreeWidgetItem(QStringList{name});
    node->setData(0, NodeImageRole, image);
    node->setData(0, NodeSelectedImageRole, selected);
    node->setIcon(0, ImageListIcon(image));
    setHasChildren(node, true);
    return node;
}

QTreeWidgetItem *TformMain::AddKeyNode(QTreeWidgetItem *parent, const QString &name, int pairIndex)
{
    QTreeWidgetItem *node = makeKeyNode(parent, name, pairIndex);
    if (!node)
        return nullptr;
    if (parent)
        parent->addChild(node);
    else
        tvKeys->addTopLevelItem(node);
    return node;
}

void TformMain::setNodeIcon(QTreeWidgetItem *node, bool selected)
{
    const int image = node->data(0, selected ? NodeSelectedImageRole : NodeImageRole).toInt();
    node->setIcon(0, ImageListIcon(image));
}

QTreeWidgetItem *TformMain::FindChildNode(QTreeWidgetItem *parent, const QString &name) const
{
    if (!parent)
        return nullptr;
    const int count = parent->childCount();
    // Children are loaded in sorted order, so a binary search finds the first
    // candidate; nodes added later by a jump sit at the end, out of order,
    // hence the plain scan when the search misses.
    const TKeyNameOrder &order = keyNameOrder();
    int lo = 0, hi = count;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (order.compare(parent->child(mid)->text(0), name) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    for (int i = lo; i < count && order.compare(parent->child(i)->text(0), name) == 0; ++i)
        if (parent->child(i)->text(0).compare(name, Qt::CaseInsensitive) == 0)
            return parent->child(i);
    for (int i = 0; i < count; ++i)
        if (parent->child(i)->text(0).compare(name, Qt::CaseInsensitive) == 0)
            return parent->child(i);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Expanding

void TformMain::tvKeysExpanding(QTreeWidgetItem *node)
{
    if (!node || !hasChildrenFlag(node) || node->childCount() > 0)
        return;
    HKEY root;
    int viewMode;
    QString treePath;
    std::string keyPath;
    const int kind = GetTreeKind(node);
    GetNodeKey(node, root, viewMode, treePath, keyPath);
    if (kind == 1)
        expandLocal(node, root, viewMode, keyPath);
    // Remote trees list their keys once remote connections exist; registry
    // file trees are built completely when the file is opened.
}

void TformMain::expandLocal(QTreeWidgetItem *node, HKEY root, int viewMode, const std::string &keyPath)
{
    TMyRegistry64 reg;
    std::vector<std::string> names;
    QList<QTreeWidgetItem *> children;
    const bool wasEnabled = tvKeys->updatesEnabled();
    tvKeys->setUpdatesEnabled(false);
    try {
        reg.SetViewMode(std::uint8_t(viewMode));
        reg.SetRootKey(root);
        if (reg.OpenKeyReadOnly(keyPath + '\\')) {
            reg.GetKeyNames(names);
            setHasChildren(node, !names.empty());
            reg.CloseKey();
        } else {
            setHasChildren(node, false);
        }
        sortKeyNames(names);
        startProgress(int(names.size()));
        const bool hidesWow = keyPath == "\\SOFTWARE" || keyPath == "\\SOFTWARE\\Classes";
        children.reserve(qsizetype(names.size()) + 1);
        for (std::size_t i = 0; i < names.size(); ++i) {
            setProgress(int(i));
            const std::string &name = names[i];
            if (hidesWow && name == "Wow6432Node")
                continue;
            QTreeWidgetItem *child = makeKeyNode(node, fromStd(name), 0);
            if (!child)
                continue;
            children.append(child);
            if (reg.OpenKeyReadOnly(keyPath + '\\' + name)) {
                setHasChildren(child, reg.HasSubKeys());
                reg.CloseKey();
            }
            if (keyPath.empty() && name == "SOFTWARE" && m_IsWow64) {
                child->setData(0, NodeImageRole, int(imgFolder64));
                child->setData(0, NodeSelectedImageRole, int(imgFolder64Open));
                child->setIcon(0, ImageListIcon(imgFolder64));
                children.append(makeKeyNode(node, fromStd(name), 1));
            }
        }
    } catch (...) {
        // Whatever was listed stays; the node that failed shows no children.
        if (!children.isEmpty())
            setHasChildren(children.last(), false);
    }
    node->addChildren(children);
    tvKeys->setUpdatesEnabled(wasEnabled);
    pg->setValue(0); // the listing is over, whether or not a value list follows
}

QTreeWidgetItem *TformMain::addExistingKeyNode(QTreeWidgetItem *parent, const QString &name)
{
    if (!parent || name.isEmpty() || GetTreeKind(parent) != 1 || parent == m_MyComputer)
        return nullptr;
    const auto [root, viewMode, treePath, keyPath] = nodeKeyOf(*this, parent);
    if (!KeyExistsAt(root, keyPath + '\\' + toStd(name), viewMode == 2 ? 1 : 0))
        return nullptr;
    QTreeWidgetItem *node = makeKeyNode(parent, name, 0);
    insertNodeSorted(parent, node);
    return node;
}

void TformMain::insertNodeSorted(QTreeWidgetItem *parent, QTreeWidgetItem *node)
{
    const QString name = node->text(0);
    const TKeyNameOrder &order = keyNameOrder();
    int lo = 0, hi = parent->childCount();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (order.compare(parent->child(mid)->text(0), name) <= 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    parent->insertChild(lo, node);
    setHasChildren(parent, true);
}

void TformMain::syncChildren(QTreeWidgetItem *node)
{
    if (!node || GetTreeKind(node) != 1 || node == m_MyComputer)
        return;
    if (node->childCount() == 0) {
        // Not loaded yet: its expansion will list what is there now.
        setHasChildren(node, true);
        return;
    }
    const auto [root, viewMode, treePath, keyPath] = nodeKeyOf(*this, node);
    std::vector<std::string> names;
    try {
        TMyRegistry64 reg;
        reg.SetViewMode(std::uint8_t(viewMode));
        reg.SetRootKey(root);
        if (reg.OpenKeyReadOnly(keyPath + '\\')) {
            reg.GetKeyNames(names);
            reg.CloseKey();
        }
    } catch (...) {
        return; // browsing shows no registry errors; the nodes stay
    }
    const bool hidesWow = keyPath == "\\SOFTWARE" || keyPath == "\\SOFTWARE\\Classes";
    QSet<QString> present;
    for (const std::string &name : names)
        if (!(hidesWow && name == "Wow6432Node"))
            present.insert(fromStd(name).toCaseFolded());
    QSet<QString> shown;
    for (int i = node->childCount() - 1; i >= 0; --i) {
        const QString folded = node->child(i)->text(0).toCaseFolded();
        if (!present.contains(folded))
            delete node->takeChild(i);
        else
            shown.insert(folded);
    }
    for (const std::string &name : names) {
        const QString caption = fromStd(name);
        if (shown.contains(caption.toCaseFolded()) || (hidesWow && name == "Wow6432Node"))
            continue;
        if (QTreeWidgetItem *child = addExistingKeyNode(node, caption)) {
            try {
                TMyRegistry64 reg;
                reg.SetViewMode(std::uint8_t(viewMode));
                reg.SetRootKey(root);
                if (reg.OpenKeyReadOnly(keyPath + '\\' + name)) {
                    setHasChildren(child, reg.HasSubKeys());
                    reg.CloseKey();
                }
            } catch (...) {
            }
        }
    }
    setHasChildren(node, node->childCount() > 0);
}

bool TformMain::ChildKeyExists(QTreeWidgetItem *node, const QString &name) const
{
    if (!node)
        return false;
    for (int i = 0; i < node->childCount(); ++i)
        if (sameNameAsciiCase(node->child(i)->text(0), name))
            return true;
    return false;
}

void TformMain::MakeUniqueKeyName(QTreeWidgetItem *node, QString &base) const
{
    for (int n = 1;; ++n)
        if (!ChildKeyExists(node, base + QString::number(n))) {
            base += QString::number(n);
            return;
        }
}

// ---------------------------------------------------------------------------
// Progress

void TformMain::startProgress(int count)
{
    // A range of 0..0 would show Qt's busy bar; one step or none keeps a range
    // with nothing to show.
    pg->setMinimum(0);
    pg->setMaximum(count > 1 ? count - 1 : std::max(pg->maximum(), 1));
    pg->setValue(0);
}

void TformMain::setProgress(int position)
{
    // Painting the bar for every one of many thousand entries costs more
    // than the listing; every 256th step and the last one are enough to see.
    if ((position & 0xFF) == 0 || position == pg->maximum())
        pg->setValue(position);
}

// ---------------------------------------------------------------------------
// Selecting a key

void TformMain::setStatusText(int panel, const QString &text)
{
    (panel == 0 ? sbarPanel0 : sbarPanel1)->setText(text);
}

QString TformMain::StatusText(int panel) const { return (panel == 0 ? sbarPanel0 : sbarPanel1)->text(); }

void TformMain::SelectNode(QTreeWidgetItem *node)
{
    const std::uint64_t before = m_KeyChanges;
    tvKeys->setCurrentItem(node);
    if (m_KeyChanges == before)
        tvKeysChange();
}

void TformMain::tvKeysChange()
{
    ++m_KeyChanges;
    m_Listed = TListedKey();
    QTreeWidgetItem *node = tvKeys->currentItem();
    HKEY root;
    std::string keyPath;
    int viewMode;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    ShowKeyInfo(fromStd(RootKeyToName(root) + keyPath));

    setStatusText(0, treePath);
    if (node) {
        int entry = cbAddress->findText(treePath, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (entry < 0) {
            cbAddress->addItem(ImageListIcon(nodeImage(node)), treePath);
            entry = cbAddress->count() - 1;
        }
        cbAddress->setCurrentIndex(entry);
    }

    const int kind = GetTreeKind(node);
    // Only registry file rows have a registry value to show beside theirs.
    if (kind != 2)
        lvData->setColumnHidden(colRegistryValue, true);
    // Only a key of the local registry shows its last-write time below.
    setStatusText(1, QString());
    if (kind == 1) {
        if (node == m_MyComputer) {
            lvData->clear();
        } else {
            FillValueList(root, keyPath, viewMode);
        }
        try {
            TMyRegistry64 reg;
            reg.SetViewMode(std::uint8_t(viewMode));
            reg.SetRootKey(root);
            TRegKeyInfo info;
            if (reg.OpenKeyReadOnly(keyPath) && reg.GetKeyInfo(info)) {
                const TDateTime when = KeyTimeToDateTime(info.LastWriteTime);
                if (when > 0)
                    setStatusText(1, tr("Last write access: ") + formatLastWrite(dateTimeFromDays(when)));
            }
        } catch (...) {
            // Browsing never reports registry errors.
        }
        fillSecurityTab(root, keyPath, viewMode);
    } else if (kind == 2) {
        tvInfo->clear();
        ShowFileKeyValues(node);
    } else {
        tvInfo->clear();
        m_FillingList = true;
        lvData->clear();
        if (kind == 3) {
            QList<QTreeWidgetItem *> rows;
            listDefaultPlaceholder(root, keyPath, rows);
            lvData->addTopLevelItems(rows);
        }
        m_FillingList = false;
    }
    lvDataSelect();
}

} // namespace vt::app
