#include "vtStartup.h"

#include "app/FormUnitBookmarks.h"
#include "app/FormUnitMain.h"
#include "editors/gui/FormUnitEditInteger.h"
#include "editors/gui/FormUnitEditMultiString.h"
#include "editors/gui/FormUnitEditString.h"
#include "editors/gui/FormUnitEditType.h"
#include "editors/gui/FormUnitResourceRequirementsList.h"
#include "hives/gui/FormUnitCustomHive.h"
#include "hives/gui/FormUnitRemoteConnect.h"
#include "hives/gui/FormUnitUserLogon.h"
#include "history/gui/FormUnitHistory.h"
#include "knowledge/gui/FormUnitZTIValue.h"
#include "search/gui/FormUnitSearch.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/gui/FormUnitImportProgress.h"

#include <QApplication>
#include <QShortcut>

namespace vt::app {

template <class T> T *TApplicationForms::create()
{
    auto form = std::make_unique<T>();
    T *raw = form.get();
    m_order.push_back(raw);
    m_owned.push_back(std::move(form));
    return raw;
}

TApplicationForms::TApplicationForms()
{
    m_formMain = create<TformMain>();
    m_formMain->formEditString = create<vt::editors::TformEditString>();
    m_formMain->formEditInteger = create<vt::editors::TformEditInteger>();
    m_formMain->formEditMultiString = create<vt::editors::TformEditMultiString>();
    m_formMain->formSearch = create<vt::search::TformSearch>();
    m_formMain->formBookmarks = create<TformBookmarks>();
    m_formMain->formEditResourceRequirementsList = create<vt::editors::TformEditResourceRequirementsList>();
    create<vt::hives::TformRemoteConnect>();
    m_formMain->formImportProgress = create<TformImportProgress>();
    m_formMain->formValueType = create<vt::editors::TformValueType>();
    create<vt::hives::TformUserLogon>();
    create<vt::hives::TformOpenCustomHive>();
    m_formMain->formOpenZTIValue = create<vt::knowledge::TformOpenZTIValue>();
    m_formMain->formHistory = create<vt::history::TformHistory>();
    // Closing the main window ends the program, whatever else is open.
    for (QWidget *form : m_order)
        if (form != m_formMain)
            form->setAttribute(Qt::WA_QuitOnClose, false);
    // F1 in a window opens its page of the manual (in the main window it is
    // the Contents command); the message dialogs' Help button opens the page
    // of the window they were shown over.
    TformMain *main = m_formMain;
    for (QWidget *form : m_order) {
        if (form == m_formMain)
            continue;
        auto *f1 = new QShortcut(QKeySequence(Qt::Key_F1), form);
        f1->setObjectName(QStringLiteral("shortcutHelp"));
        QObject::connect(f1, &QShortcut::activated, main,
                         [main, form] { main->ShowHelpPage(form->objectName() + QStringLiteral(".html")); });
    }
    vt::i18n::SetHelpHandler([main](int) {
        QWidget *over = QApplication::activeWindow(); // the message dialog
        if (over && over->parentWidget())
            over = over->parentWidget()->window();
        main->ShowHelpPage((over ? over->objectName() : QStringLiteral("index")) + QStringLiteral(".html"));
    });
}

TApplicationForms::~TApplicationForms()
{
    // The main window goes last, as the other windows may still refer to it.
    while (!m_owned.empty())
        m_owned.pop_back();
}

QWidget *TApplicationForms::form(const QString &objectName) const
{
    for (QWidget *w : m_order)
        if (w->objectName() == objectName)
            return w;
    return nullptr;
}

} // namespace vt::app
