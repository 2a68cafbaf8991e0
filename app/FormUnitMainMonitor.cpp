// The main window's change monitor: the value list follows changes of the
// listed key, made by this program or any other.

#include "FormUnitMainShared.h"

#include "app/UnitRegMonitorThread.h"

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
    if (lvDataTag != 0)
        return; // a value editor works on the list
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
    FillValueList(root, "\\" + path, viewMode);
}

} // namespace vt::app
