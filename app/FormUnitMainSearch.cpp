// The main window's side of the search window: opening it for the selected
// key, and showing a result the user double-clicks there.

#include "app/FormUnitMain.h"
#include "app/vtAnimate.h"
#include "search/gui/FormUnitSearch.h"

#include <QTreeWidget>

namespace vt::app {

void TformMain::aSearchExecute()
{
    auto *form = qobject_cast<vt::search::TformSearch *>(formSearch.data());
    if (!form)
        return;
    HKEY root = nullptr;
    std::string keyPath;
    int viewMode = 0;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    if (!root) {
        // No key selected (My Computer, a file or remote tree): the window
        // keeps its last start.
        form->show();
        form->raise();
        form->activateWindow();
        return;
    }
    form->SetSearchStart(root, keyPath, uint8_t(viewMode));
}

void TformMain::searchFormShow()
{
    auto *form = qobject_cast<vt::search::TformSearch *>(formSearch.data());
    if (!form)
        return;
    form->IsWow64 = m_IsWow64;
    form->OnSearchRunning = [this](bool running) { animSearch->SetActive(running); };
    form->OnGoToResult = [this](const QString &key, const QString &valueName) {
        GoToKey(key);
        if (valueName.isEmpty())
            return;
        for (int i = 0; i < lvData->topLevelItemCount(); ++i) {
            auto *row = dynamic_cast<TRegistryValueListItem *>(lvData->topLevelItem(i));
            if (row && row->ValueName == valueName.toStdString()) {
                lvData->clearSelection();
                lvData->setCurrentItem(row);
                row->setSelected(true);
                lvData->scrollToItem(row);
                break;
            }
        }
        raise();
        activateWindow();
    };
}

} // namespace vt::app
