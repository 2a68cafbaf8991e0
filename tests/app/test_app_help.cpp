// The manual behind Help, F1 in each window, and the About window.

#include "app/FormUnitAbout.h"
#include "app/FormUnitHelp.h"
#include "app/FormUnitMain.h"
#include "app/vtProgramData.h"
#include "app/vtStartup.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "platform/vtPlatform.h"
#include "tests/support/TempSystem.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QHelpEngine>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>

using namespace vt::app;

namespace
{

class Help : public ::testing::Test
{
protected:
    vt::test::TempSystem system;
    QTemporaryDir cache;

    void SetUp() override
    {
        ASSERT_EQ(system.openResult(), ERROR_SUCCESS);
        // The copy of the collection and its search index go to a private cache.
        qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
        SetShippedFolder(QStringLiteral("Help"), QStringLiteral(VT_HELP_DIR));
    }
    void TearDown() override { SetShippedFolder(QStringLiteral("Help"), QString()); }

    static QString collection() { return QStringLiteral(VT_HELP_DIR "/English.qhc"); }
};

// Every page of the collection: each link points at a page or file the
// collection holds, and every window the program makes has its page.
TEST_F(Help, EveryWindowHasAPageAndEveryLinkResolves)
{
    TformHelp help;
    QString error;
    ASSERT_TRUE(help.OpenCollection(collection(), &error)) << error.toStdString();
    const QList<QUrl> pages = help.Pages();
    std::set<QString> names;
    for (const QUrl &url : pages)
        names.insert(url.fileName());
    ASSERT_TRUE(names.count(QStringLiteral("index.html")));

    TApplicationForms forms;
    QStringList windows;
    for (QWidget *form : forms.forms())
        windows << form->objectName();
    windows << TformAbout().objectName() << help.objectName();
    for (const QString &window : std::as_const(windows)) {
        EXPECT_FALSE(window.isEmpty());
        EXPECT_TRUE(names.count(window + QStringLiteral(".html"))) << window.toStdString();
    }

    const QRegularExpression link(QStringLiteral(R"((?:href|src)="([^"#]*)(#[^"]*)?")"));
    int links = 0;
    for (const QUrl &page : pages) {
        const QString html = QString::fromUtf8(help.engine()->fileData(page));
        ASSERT_FALSE(html.isEmpty()) << page.toString().toStdString();
        for (auto it = link.globalMatch(html); it.hasNext();) {
            const QString target = it.next().captured(1);
            if (target.isEmpty())
                continue;
            ++links;
            EXPECT_FALSE(target.contains(QLatin1Char(':'))) << "a link outside the manual: " << target.toStdString();
            const QUrl resolved = page.resolved(QUrl(target));
            EXPECT_FALSE(help.engine()->fileData(resolved).isEmpty())
                << page.fileName().toStdString() << " -> " << target.toStdString();
        }
    }
    EXPECT_GT(links, int(pages.size()));
}

// F1 in the main window opens the contents; F1 in another window its page; a
// missing manual is said, not ignored.
TEST_F(Help, F1OpensTheContentsAndEachWindowItsPage)
{
    TApplicationForms forms;
    TformMain *main = forms.formMain();
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
    main->activateWindow();
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : main, Qt::Key_F1);
    auto *help = main->findChild<TformHelp *>(QStringLiteral("formHelp"));
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->CurrentPage(), QStringLiteral("index.html"));
    help->hide();

    QWidget *search = forms.form(QStringLiteral("formSearch"));
    ASSERT_NE(search, nullptr);
    search->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(search));
    search->activateWindow();
    QApplication::setActiveWindow(search);
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : search, Qt::Key_F1);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->CurrentPage(), QStringLiteral("formSearch.html"));

    // Without a manual: a message, and no help window.
    SetShippedFolder(QStringLiteral("Help"), cache.path() + QStringLiteral("/none"));
    vt::i18n::clearAnswers();
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    EXPECT_FALSE(main->ShowHelpPage(QStringLiteral("index.html")));
    EXPECT_EQ(vt::i18n::pendingAnswers(), 0);
    const vt::i18n::TMessageCall said = vt::i18n::lastMessage();
    EXPECT_EQ(said.kind, vt::i18n::TMsgDlgType::Error);
    EXPECT_TRUE(said.text.contains(QStringLiteral("English.chm"))) << said.text.toStdString();
    vt::i18n::clearAnswers();
}

// The About window names the version, the licence, Qt's and SQLite's
// versions and the system root in use.
TEST_F(Help, AboutShowsVersionLicenceLibrariesAndSystemRoot)
{
    TformMain main;
    main.show();
    QString shown;
    QTimer::singleShot(0, &main, [&] {
        auto *about = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(about->objectName(), QStringLiteral("formAbout"));
        if (auto *label = about->findChild<QLabel *>(QStringLiteral("labelInfo")))
            shown = label->text();
        about->accept();
    });
    main.aAbout->trigger();
    const QStringList expectedParts = {QStringLiteral("Vantrel " VT_EXPECTED_VERSION),
                                       QStringLiteral("GPL-3.0-or-later"),
                                       QString(QStringLiteral("Qt ") + QString::fromLatin1(qVersion())),
                                       QString(QStringLiteral("SQLite ") + QString::fromLatin1(sqlite3_libversion())),
                                       QString::fromStdString(vt::platform::systemRoot())};
    for (const QString &expected : expectedParts)
        EXPECT_TRUE(shown.contains(expected)) << expected.toStdString() << " in " << shown.toStdString();
}

} // namespace
