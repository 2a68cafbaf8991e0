// Developer tool, not a test: the search window with the results of a search
// (started with Return in "Search for") and the history window with a few
// recorded changes, on a fresh temporary system, saved as PNGs for docs/.
// Run under a real X server (xvfb-run) for fonts.
//
//   xvfb-run -s "-screen 0 1280x800x24" windows_screenshot docs/screenshot-search.png docs/screenshot-history.png

#include "app/FormUnitMain.h"
#include "app/vtStartup.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "history/RegistryChangeHistory.h"
#include "history/gui/FormUnitHistory.h"
#include "platform/vtPlatform.h"
#include "search/gui/FormUnitSearch.h"
#include "search/gui/SearchResultsModel.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: windows_screenshot SEARCH.png HISTORY.png\n");
        return 2;
    }
    QTemporaryDir dir;
    vt::platform::SystemOptions options;
    options.root = dir.path().toStdString() + "/system";
    if (vt::platform::openSystem(options) != ERROR_SUCCESS)
        return 1;

    // Keys whose paths differ only towards their end, as real ones do.
    const std::string base = "\\Software\\Contoso\\Office Suite\\16.0\\Common\\Open Find\\Places";
    for (const char *place : {"Desktop", "Documents", "Recent Projects", "Shared Drives"}) {
        const std::string key = base + "\\" + place;
        CreateKeyAt(HKEY_CURRENT_USER, key);
        WriteStringAt(HKEY_CURRENT_USER, key, "RecentPath", 32, std::string("C:\\Users\\demo\\") + place);
        WriteStringAt(HKEY_CURRENT_USER, key, "Recent Label", 32, place);
    }

    int result = 0;
    {
        vt::app::TApplicationForms forms;
        vt::app::TformMain *main = forms.formMain();
        main->resize(1000, 640);
        main->show();
        QTest::qWaitForWindowExposed(main);
        main->GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Contoso"));

        auto *search = qobject_cast<vt::search::TformSearch *>(forms.form(QStringLiteral("formSearch")));
        main->aSearch->trigger();
        search->resize(760, 420);
        QTest::qWaitForWindowExposed(search);
        search->editSearchTerm->setFocus();
        search->editSearchTerm->setText(QStringLiteral("Recent"));
        QTest::keyClick(search->editSearchTerm, Qt::Key_Return);
        QTest::qWaitFor([&] { return !search->Searching() && search->Results()->rowCount() > 0; }, 20000);
        search->pcSearch->setCurrentWidget(search->tsResults);
        search->lvResults->setColumnWidth(0, 330);
        search->lvResults->setColumnWidth(1, 120);
        QTest::qWait(200);
        if (!search->grab().save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            result = 1;
        }
        search->close();

        auto *history = qobject_cast<vt::history::TformHistory *>(forms.form(QStringLiteral("formHistory")));
        if (vt::history::TRegistryChangeHistory *store = history->History()) {
            store->RecordKeyNew(HKEY_CURRENT_USER, base + "\\Archive");
            store->RecordValueDelete(HKEY_CURRENT_USER, base + "\\Desktop", "Recent Label");
            store->RecordKeyNew(HKEY_CURRENT_USER, "\\Software\\Contoso\\Updates");
        }
        main->aShowHistory->trigger();
        history->resize(900, 300);
        QTest::qWaitForWindowExposed(history);
        QTest::qWait(200);
        if (!history->grab().save(QString::fromLocal8Bit(argv[2]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            result = 1;
        }
        history->close();
        main->close();
    }
    vt::platform::closeSystem();
    return result;
}
