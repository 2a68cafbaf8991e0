// The main window's change monitor: the value list follows changes of the
// listed key, made by this program or any other.

#include "FormUnitMainShared.h"

#include "app/UnitRegMonitorThread.h"

#include <QScrollBar>
#include <QTreeWidget>

#include <algorithm>
#include <optional>

namespace vt::app
{

using namespace mainform;

void TformMain::followWithMonitor(HKEY root, const std::string &keyPath, int viewMode)
{
    std::string path = keyPath;
    if (!path.empty() && path.front() == '\\')
        path.erase(0, 1);
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    const std::uint8_t bitness = viewMode < 2 ? 32 : 64;
    // The view counts too: both SOFTWARE nodes have one root and one path.
    if (m_Monitor && (m_Monitor->Root != root || m_Monitor->Path != path || m_Monitor->Bitness != bitness))
        StopMonitor();
    if (m_Monitor)
        return; // this key is watched already (or could not be opened: not again)
    m_Monitor = std::make_unique<TRegMonitorThread>();
    m_Monitor->Bitness = bitness;
    m_Monitor->Root = root;
    m_Monitor->Path = path;
    m_Monitor->CallbackContext = this;
    m_Monitor->Callback = [this](HKEY changedRoot, const std::string &changedPath) {
        OnRegistryChanged(changedRoot, changedPath);
    };
    m_Monitor->start();
    // Registered before the key is listed: a change in between is not lost.
    // The thread reports once itself should it be slower than this.
    m_Monitor->WaitRegistered(250);
}

void TformMain::StopMonitor()
{
    if (!m_Monitor)
        return;
    m_Monitor->RequestStop();
    m_Monitor->wait();
    m_Monitor.reset();
}

void TformMain::OnRegistryChanged(HKEY root, const std::string &path)
{
    // A value editor works on the list, or a long key operation drives the
    // progress bar the listing would take over; each lists the key again
    // when it ends.
    if (lvDataTag != 0 || m_Busy)
        return;
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (!node || node == m_MyComputer || GetTreeKind(node) != 1)
        return;
    HKEY selectedRoot;
    std::string keyPath;
    int viewMode;
    QString treePath;
    GetSelectedKey(selectedRoot, keyPath, viewMode, treePath);
    const std::string selectedPath = keyPath.empty() ? keyPath : keyPath.substr(1);
    if (selectedRoot != root || selectedPath != path)
        return;
    // The list follows the registry, the user's place in it stays: the
    // selected rows, the current one and the scroll position by value name.
    std::vector<std::string> selected;
    std::optional<std::string> current;
    for (QTreeWidgetItem *item : lvData->selectedItems())
        if (item->type() == TRegistryValueListItem::ItemType)
            selected.push_back(static_cast<TRegistryValueListItem *>(item)->ValueName);
    if (QTreeWidgetItem *item = lvData->currentItem(); item && item->type() == TRegistryValueListItem::ItemType)
        current = static_cast<TRegistryValueListItem *>(item)->ValueName;
    const int scroll = lvData->verticalScrollBar()->value();
    FillValueList(root, "\\" + path, viewMode);
    if (selected.empty() && !current)
        return;
    lvData->clearSelection();
    for (int i = 0; i < lvData->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = lvData->topLevelItem(i);
        if (item->type() != TRegistryValueListItem::ItemType)
            continue;
        const std::string &name = static_cast<TRegistryValueListItem *>(item)->ValueName;
        if (current && name == *current)
            lvData->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        if (std::find(selected.begin(), selected.end(), name) != selected.end())
            item->setSelected(true);
    }
    lvData->verticalScrollBar()->setValue(scroll);
}

} // namespace vt::app
