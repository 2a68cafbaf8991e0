// The main window's side of the search window: opening it for the selected
// key, and showing a result the user double-clicks there.

#include "app/FormUnitMain.h"
#include "app/vtAnimate.h"
#include "app/vtCommandLine.h"
#include "app/vtSearchSettings.h"
#include "search/gui/FormUnitSearch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTreeWidget>

namespace vt::app
{

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
        // The result is shown here, so this window comes to the front, for
        // key rows as for value rows.
        if (isMinimized())
            setWindowState(windowState() & ~Qt::WindowMinimized);
        raise();
        activateWindow();
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
    };
    ApplySearchSettings = [form](const TSearchSettings &o) {
        form->cbFocusKeys->setChecked(o.SearchKeys);
        form->cbFocusValues->setChecked(o.SearchValues);
        form->cbFocusData->setChecked(o.SearchData);
        (o.SearchRange ? form->rbRangeComplete : form->rbRangeKey)->setChecked(true);
        form->cbIgnoreCase->setChecked(o.SearchIgnoreCase);
        form->cbHighSpeed->setChecked(o.SearchHighSpeed);
        form->cbDataTypeStrings->setChecked(o.SearchTypeStrings);
        form->cbDataTypeNumerics->setChecked(o.SearchTypeNumerics);
        form->cbDataTypeBinary->setChecked(o.SearchTypeBinary);
        form->cbHex->setChecked(o.SearchForHex);
        form->editSearchTerm->setText(QString::fromStdString(o.SearchTerm));
        QDate date;
        QTime time;
        DateTimeToParts(o.SearchDateTime1, date, time);
        form->dtDate1->setDate(date);
        form->dtTime1->setTime(time);
        DateTimeToParts(o.SearchDateTime2, date, time);
        form->dtDate2->setDate(date);
        form->dtTime2->setTime(time);
        if (o.SearchByDateMode >= 0 && o.SearchByDateMode < form->cbByDateMode->count())
            form->cbByDateMode->setCurrentIndex(o.SearchByDateMode);
        if (o.SearchStyle >= 0 && o.SearchStyle < form->cbSearchStyle->count())
            form->cbSearchStyle->setCurrentIndex(o.SearchStyle);
        form->cbReplaceIgnoreCase->setChecked(o.ReplaceIgnoreCase);
        form->cbReplaceOverwriteValues->setChecked(o.ReplaceOverwriteExistingValues);
        form->cbReplaceOverwriteKeys->setChecked(o.ReplaceOverwriteExistingKeys);
    };
    CollectSearchSettings = [form](TSearchSettings &o) {
        o.SearchKeys = form->cbFocusKeys->isChecked();
        o.SearchValues = form->cbFocusValues->isChecked();
        o.SearchData = form->cbFocusData->isChecked();
        o.SearchRange = form->rbRangeComplete->isChecked();
        o.SearchIgnoreCase = form->cbIgnoreCase->isChecked();
        o.SearchHighSpeed = form->cbHighSpeed->isChecked();
        o.SearchTypeStrings = form->cbDataTypeStrings->isChecked();
        o.SearchTypeNumerics = form->cbDataTypeNumerics->isChecked();
        o.SearchTypeBinary = form->cbDataTypeBinary->isChecked();
        o.SearchForHex = form->cbHex->isChecked();
        o.SearchTerm = form->editSearchTerm->text().toStdString();
        o.SearchDateTime1 = DateTimeFromParts(form->dtDate1->date(), form->dtTime1->time());
        o.SearchDateTime2 = DateTimeFromParts(form->dtDate2->date(), form->dtTime2->time());
        o.SearchByDateMode = form->cbByDateMode->currentIndex();
        o.SearchStyle = form->cbSearchStyle->currentIndex();
        o.ReplaceIgnoreCase = form->cbReplaceIgnoreCase->isChecked();
        o.ReplaceOverwriteExistingValues = form->cbReplaceOverwriteValues->isChecked();
        o.ReplaceOverwriteExistingKeys = form->cbReplaceOverwriteKeys->isChecked();
    };
    // A search asked for on the command line: its options into the
    // controls, then the search from its start.
    StartSearch = [form](const TSearchStart &start) {
        if (start.style && *start.style >= 0 && *start.style < form->cbSearchStyle->count())
            form->cbSearchStyle->setCurrentIndex(*start.style);
        auto set = [](QCheckBox *box, const std::optional<bool> &on) {
            if (on)
                box->setChecked(*on);
        };
        set(form->cbFocusKeys, start.focusKeys);
        set(form->cbFocusValues, start.focusValues);
        set(form->cbFocusData, start.focusData);
        set(form->cbDataTypeStrings, start.typeStrings);
        set(form->cbDataTypeNumerics, start.typeNumerics);
        set(form->cbDataTypeBinary, start.typeBinary);
        set(form->cbIgnoreCase, start.ignoreCase);
        form->editSearchTerm->setText(start.term);
        (start.wholeRegistry ? form->rbRangeComplete : form->rbRangeKey)->setChecked(true);
        form->SetSearchStart(start.wholeRegistry ? nullptr : start.root,
                             start.wholeRegistry ? std::string() : start.keyPath, 0);
        form->aSearchStartExecute();
    };
}

} // namespace vt::app
