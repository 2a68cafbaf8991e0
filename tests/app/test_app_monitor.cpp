// The change monitor: the value list follows changes of the listed key, made
// by another process too; one monitor at a time; none outlives the window.

#include "app/FormUnitMain.h"
#include "app/UnitRegMonitorThread.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "tests/support/TempSystem.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace vt::app;

namespace
{

class Monitor : public ::testing::Test
{
protected:
    vt::test::TempSystem sys;
    std::unique_ptr<TformMain> w;

    void SetUp() override
    {
        ASSERT_EQ(sys.openResult(), ERROR_SUCCESS);
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtMon", "First", 32, "1"));
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtMon\\Sub"));
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtOther"));
        w = std::make_unique<TformMain>();
        w->show();
    }
    void TearDown() override { w.reset(); }

    bool listed(const QString &name) const
    {
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            if (w->lvData->topLevelItem(i)->text(0) == name)
                return true;
        return false;
    }
    // Serves the event loop until the list shows `name` or the time is up.
    bool waitListed(const QString &name, int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (listed(name))
                return true;
            QTest::qWait(10);
        }
        return listed(name);
    }
    // Waits until the monitor has registered for the key.
    void waitWatching()
    {
        QElapsedTimer t;
        t.start();
        while (w->Monitor() && !w->Monitor()->Watching() && t.elapsed() < 2000)
            QTest::qWait(5);
        ASSERT_TRUE(w->Monitor() && w->Monitor()->Watching());
    }
};

#ifdef VT_CLI_PATH
TEST_F(Monitor, ValueAddedByAnotherProcessAppearsWithinASecond)
{
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtMon");
    ASSERT_TRUE(listed("First"));
    waitWatching();
    // The row the user is on stays selected and current through the refill.
    QTreeWidgetItem *first = nullptr;
    for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
        if (w->lvData->topLevelItem(i)->text(0) == "First")
            first = w->lvData->topLevelItem(i);
    ASSERT_NE(first, nullptr);
    w->lvData->setCurrentItem(first);
    QProcess cli;
    cli.start(QStringLiteral(VT_CLI_PATH), {"--system", QString::fromStdString(sys.root()), "add",
                                            "HKCU\\Software\\VtMon", "/v", "FromCli", "/t", "REG_SZ", "/d", "x", "/f"});
    ASSERT_TRUE(cli.waitForFinished(30000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    // The cli has returned: the change is made; the list follows within a second.
    EXPECT_TRUE(waitListed("FromCli", 1000));
    ASSERT_NE(w->lvData->currentItem(), nullptr);
    EXPECT_EQ(w->lvData->currentItem()->text(0), "First");
    EXPECT_TRUE(w->lvData->currentItem()->isSelected());
    EXPECT_EQ(w->lvData->selectedItems().size(), 1);
}
#endif

TEST_F(Monitor, ChangesBelowTheKeyRefreshAndEditorsHoldItOff)
{
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtMon");
    waitWatching();
    TRegMonitorThread *monitor = w->Monitor();
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtMon", "Second", 32, "2"));
    EXPECT_TRUE(waitListed("Second", 1000));

    // A change in a subkey reports too (the list stays the same).
    const int before = monitor->ReportCount();
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtMon\\Sub", "Deep", 32, "3"));
    QElapsedTimer t;
    t.start();
    while (monitor->ReportCount() == before && t.elapsed() < 1000)
        QTest::qWait(10);
    EXPECT_GT(monitor->ReportCount(), before);
    EXPECT_FALSE(listed("Deep"));

    // While a value editor works on the list, nothing refreshes it.
    w->lvDataTag = 1;
    const int reports = monitor->ReportCount();
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtMon", "Third", 32, "3"));
    t.restart();
    while (monitor->ReportCount() == reports && t.elapsed() < 1000)
        QTest::qWait(10);
    QTest::qWait(50);
    EXPECT_GT(monitor->ReportCount(), reports);
    EXPECT_FALSE(listed("Third"));
    w->lvDataTag = 0;
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtMon", "Fourth", 32, "4"));
    EXPECT_TRUE(waitListed("Fourth", 1000));
    EXPECT_TRUE(listed("Third"));
}

// The monitor registers before the key is listed: a change made at once,
// before any event is served, is shown all the same.
TEST_F(Monitor, AChangeRightAfterListingIsShown)
{
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        w->GoToKey("HKEY_CURRENT_USER\\Software\\VtOther");
        w->GoToKey("HKEY_CURRENT_USER\\Software\\VtMon");
        const std::string name = "Quick" + std::to_string(round);
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtMon", name, 32, "x"));
        EXPECT_TRUE(waitListed(QString::fromStdString(name), 1500));
    }
}

// A monitor that is slower than its owner's wait reports once when it has
// registered, so the list made meanwhile is made again.
TEST(MonitorThread, ALateRegistrationReportsOnce)
{
    vt::test::TempSystem sys;
    ASSERT_EQ(sys.openResult(), ERROR_SUCCESS);
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtLate"));
    TRegMonitorThread monitor;
    monitor.Root = HKEY_CURRENT_USER;
    monitor.Path = "Software\\VtLate";
    EXPECT_FALSE(monitor.WaitRegistered(0)); // not started: the wait gives up
    monitor.start();
    QElapsedTimer t;
    t.start();
    while (monitor.ReportCount() == 0 && t.elapsed() < 2000)
        QThread::msleep(5);
    EXPECT_EQ(monitor.ReportCount(), 1);
    EXPECT_TRUE(monitor.Watching());
    QThread::msleep(100);
    EXPECT_EQ(monitor.ReportCount(), 1);
    TRegMonitorThread prompt;
    prompt.Root = HKEY_CURRENT_USER;
    prompt.Path = "Software\\VtLate";
    prompt.start();
    EXPECT_TRUE(prompt.WaitRegistered(2000));
    EXPECT_TRUE(prompt.Watching());
    QThread::msleep(100);
    EXPECT_EQ(prompt.ReportCount(), 0);
}

TEST_F(Monitor, OneMonitorFollowsTheListedKey)
{
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtMon");
    waitWatching();
    QPointer<TRegMonitorThread> first = w->Monitor();
    EXPECT_EQ(first->Path, "Software\\VtMon");
    EXPECT_EQ(first->Root, HKEY_CURRENT_USER);

    // A subkey of the same root: the old monitor is stopped and gone first.
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtMon\\Sub");
    EXPECT_TRUE(first.isNull());
    ASSERT_TRUE(w->Monitor());
    EXPECT_EQ(w->Monitor()->Path, "Software\\VtMon\\Sub");
    waitWatching();

    // The same key listed again keeps its monitor.
    QPointer<TRegMonitorThread> sub = w->Monitor();
    w->RefreshValueList();
    EXPECT_FALSE(sub.isNull());
    EXPECT_EQ(w->Monitor(), sub);

    // A key that does not open is not watched, and not tried again.
    w->FillValueList(HKEY_CURRENT_USER, "\\Software\\VtMissing", 0);
    ASSERT_TRUE(w->Monitor());
    ASSERT_TRUE(w->Monitor()->wait(2000));
    EXPECT_FALSE(w->Monitor()->Watching());
    QPointer<TRegMonitorThread> missing = w->Monitor();
    w->FillValueList(HKEY_CURRENT_USER, "\\Software\\VtMissing", 0);
    EXPECT_FALSE(missing.isNull());
    EXPECT_EQ(w->Monitor(), missing);

    // The 64-bit view of the same path is another key.
    w->FillValueList(HKEY_LOCAL_MACHINE, "\\SOFTWARE", 0);
    QPointer<TRegMonitorThread> view32 = w->Monitor();
    EXPECT_EQ(view32->Bitness, 32);
    w->FillValueList(HKEY_LOCAL_MACHINE, "\\SOFTWARE", 2);
    EXPECT_TRUE(view32.isNull());
    EXPECT_EQ(w->Monitor()->Bitness, 64);
}

TEST_F(Monitor, ClosingTheWindowEndsTheMonitorAtOnce)
{
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtMon");
    waitWatching();
    QPointer<TRegMonitorThread> monitor = w->Monitor();
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(w->close());
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(monitor.isNull());
    EXPECT_EQ(w->Monitor(), nullptr);
    // A change after the end reaches nobody.
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtMon", "Late", 32, "x"));
    QTest::qWait(300);
    EXPECT_FALSE(listed("Late"));
}

// The thread alone: a stop request wakes it at once.
TEST(MonitorThread, StopRequestEndsTheWait)
{
    vt::test::TempSystem sys;
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtAlone"));
    TRegMonitorThread thread;
    thread.Root = HKEY_CURRENT_USER;
    thread.Path = "Software\\VtAlone";
    thread.start();
    QElapsedTimer t;
    t.start();
    while (!thread.Watching() && t.elapsed() < 2000)
        QThread::msleep(2);
    ASSERT_TRUE(thread.Watching());
    t.restart();
    thread.RequestStop();
    ASSERT_TRUE(thread.wait(1000));
    EXPECT_LT(t.elapsed(), 200);
    EXPECT_TRUE(thread.StoppedOnRequest());
    EXPECT_EQ(thread.ReportCount(), 0);
}

} // namespace
