// The key and value commands of the main window, driven as a user drives
// them: keys to the focused control, actions, drops onto the tree's viewport,
// dialogs answered through the seam.

#include "app/FormUnitMain.h"
#include "core/kltRegTools.h"
#include "history/gui/ChangeLogPane.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "knowledge/PathPlaceholders.h"
#include "platform/vtPlatform.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace vt::app;
using vt::i18n::setNextAnswer;
using vt::i18n::setNextPromptAnswer;
using Lines = std::vector<std::string>;

namespace {

const std::string CU = "HKEY_CURRENT_USER";

class KeyOps : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<TformMain> w;

    void SetUp() override { open(vt::platform::Identity::Administrator); }
    void open(vt::platform::Identity identity)
    {
        ASSERT_TRUE(dir.isValid());
        vt::platform::SystemOptions options;
        options.root = dir.path().toStdString() + "/system";
        options.identity = identity;
        ASSERT_EQ(vt::platform::openSystem(options), ERROR_SUCCESS);
        vt::knowledge::BuildPlaceholders();
    }
    void TearDown() override
    {
        EXPECT_EQ(vt::i18n::pendingAnswers(), 0) << "a question expected was not asked";
        vt::i18n::clearAnswers();
        w.reset();
        vt::platform::closeSystem();
    }
    void makeWindow()
    {
        w = std::make_unique<TformMain>();
        w->resize(900, 700);
        w->show();
    }
    static void write(HKEY root, const std::string &path, const std::string &name, const std::string &text)
    {
        TMyRegistry reg;
        reg.SetRootKey(root);
        ASSERT_TRUE(reg.OpenKey(path, true)) << path;
        reg.WriteString(name, text);
    }
    static void write(const std::string &path, const std::string &name, const std::string &text)
    {
        write(HKEY_CURRENT_USER, path, name, text);
    }
    static std::string read(const std::string &path, const std::string &name, HKEY root = HKEY_CURRENT_USER)
    {
        TMyRegistry reg;
        reg.SetRootKey(root);
        if (!reg.OpenKeyReadOnly(path) || !reg.ValueExists(name))
            return "<missing>";
        return reg.ReadString(name);
    }
    static bool exists(const std::string &path, HKEY root = HKEY_CURRENT_USER) { return KeyExistsAt(root, path); }
    static std::vector<std::string> valueNames(const std::string &path)
    {
        std::vector<std::string> names;
        ValueNamesAt(HKEY_CURRENT_USER, path, names);
        std::sort(names.begin(), names.end());
        return names;
    }

    void go(const QString &key)
    {
        w->GoToKey(key);
        w->tvKeys->setFocus();
        QApplication::processEvents();
    }
    QTreeWidgetItem *node() const { return w->tvKeys->currentItem(); }
    QTreeWidgetItem *nodeAt(const QString &key)
    {
        w->GoToKey(key);
        return node();
    }
    void press(QWidget *widget, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        widget->setFocus();
        QApplication::processEvents();
        QTest::keyClick(QApplication::focusWidget(), key, mods);
    }
    QStringList rowCaptions() const
    {
        QStringList list;
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            list << w->lvData->topLevelItem(i)->text(0);
        return list;
    }
    void selectRows(const QStringList &captions)
    {
        w->lvData->clearSelection();
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            if (captions.contains(w->lvData->topLevelItem(i)->text(0)))
                w->lvData->topLevelItem(i)->setSelected(true);
    }
    // The lines a pane gained since it held `from` lines: the redo pane
    // appends them, the undo pane puts the newest block right below its header.
    static Lines tail(QsciScintilla *pane, size_t from)
    {
        const Lines all = vt::history::ChangeLogLines(pane);
        const size_t start = std::min(from, all.size());
        if (pane->objectName() == QLatin1String("editUndoLog") && start > 0)
            return Lines(all.begin() + 1, all.begin() + std::ptrdiff_t(1 + all.size() - start));
        return Lines(all.begin() + std::ptrdiff_t(start), all.end());
    }
    size_t lines(QsciScintilla *pane) const { return vt::history::ChangeLogLines(pane).size(); }
    static bool contains(const Lines &lines, const std::string &line)
    {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    // A drag over the target node and, unless only hovering, the drop, as
    // the tree's viewport receives them.
    bool drop(QWidget *from, QTreeWidgetItem *target, bool ctrl, QMimeData *data = nullptr, bool release = true)
    {
        std::unique_ptr<QMimeData> mime(data ? data : w->CreateDragData(from));
        w->tvKeys->scrollToItem(target);
        const QPoint at = w->tvKeys->visualItemRect(target).center();
        const Qt::KeyboardModifiers mods = ctrl ? Qt::ControlModifier : Qt::NoModifier;
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, actions, mime.get(), Qt::LeftButton, mods);
        QApplication::sendEvent(w->tvKeys->viewport(), &enter);
        QDragMoveEvent move(at, actions, mime.get(), Qt::LeftButton, mods);
        QApplication::sendEvent(w->tvKeys->viewport(), &move);
        if (!release)
            return move.isAccepted();
        QDropEvent dropEvent(at, actions, mime.get(), Qt::LeftButton, mods);
        QApplication::sendEvent(w->tvKeys->viewport(), &dropEvent);
        return dropEvent.isAccepted();
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Keys

TEST_F(KeyOps, InsertInTheTreeAddsAKeyWithAFreeNameAndRecordsIt)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtAdd\\New key #1"));
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtAdd\\Zeta"));
    makeWindow();
    go("HKEY_CURRENT_USER\\Software\\VtAdd");
    QTreeWidgetItem *parent = node();

    setNextPromptAnswer(std::nullopt);
    press(w->tvKeys, Qt::Key_Insert);
    EXPECT_EQ(vt::i18n::lastPrompt().proposed, "New key #2");
    EXPECT_EQ(vt::i18n::lastPrompt().title, "New key");
    EXPECT_EQ(vt::i18n::lastPrompt().caption, "Please enter a name for the new key:");
    EXPECT_EQ(vt::i18n::lastPrompt().maxLength, vt::i18n::PromptKeyNameLength);

    // A taken name (in any case) is asked again with itself as the proposal.
    const size_t redo = lines(w->editRedoLog), undo = lines(w->editUndoLog);
    const size_t records = w->History()->Count();
    setNextPromptAnswer(QStringLiteral("zETA"));
    setNextPromptAnswer(QStringLiteral("Alpha"));
    press(w->tvKeys, Qt::Key_Insert);
    EXPECT_EQ(vt::i18n::lastPrompt().proposed, "zETA");
    EXPECT_TRUE(exists("\\Software\\VtAdd\\Alpha"));
    EXPECT_EQ(node(), parent) << "the new key is not selected";
    QStringList children;
    for (int i = 0; i < parent->childCount(); ++i)
        children << parent->child(i)->text(0);
    EXPECT_EQ(children, QStringList({"Alpha", "New key #1", "Zeta"})) << "reloaded in sorted order";
    EXPECT_EQ(tail(w->editRedoLog, redo), Lines({"REGEDIT4", "", "[" + CU + "\\Software\\VtAdd\\Alpha]"}));
    EXPECT_EQ(tail(w->editUndoLog, undo), Lines({"REGEDIT4", "", "[-" + CU + "\\Software\\VtAdd\\Alpha]"}));
    EXPECT_EQ(w->History()->Count(), records + 1);

    // Empty names and backslashes name no key: told, and asked again.
    setNextPromptAnswer(QStringLiteral("a\\b"));
    setNextAnswer(vt::i18n::mrOk);
    setNextPromptAnswer(std::nullopt);
    press(w->tvKeys, Qt::Key_Insert);
    EXPECT_FALSE(exists("\\Software\\VtAdd\\a"));
    EXPECT_EQ(w->History()->Count(), records + 1);
}

TEST_F(KeyOps, DeleteAsksFirstAndRemovesTheWholeKey)
{
    write("\\Software\\VtDel\\Victim\\Sub\\Deeper", "v", "1");
    write("\\Software\\VtDel\\Victim", "top", "2");
    makeWindow();
    go("HKEY_CURRENT_USER\\Software\\VtDel\\Victim");

    setNextAnswer(vt::i18n::mrNo);
    press(w->tvKeys, Qt::Key_Delete);
    EXPECT_EQ(vt::i18n::lastMessage().text, "Do you really want to delete this key (\"Victim\")?");
    EXPECT_EQ(vt::i18n::lastMessage().buttons, vt::i18n::mbYesNo);
    EXPECT_TRUE(exists("\\Software\\VtDel\\Victim\\Sub\\Deeper"));
    setNextAnswer(vt::i18n::mrCancel); // the close box
    press(w->tvKeys, Qt::Key_Delete);
    EXPECT_TRUE(exists("\\Software\\VtDel\\Victim"));

    const size_t redo = lines(w->editRedoLog), undo = lines(w->editUndoLog);
    const size_t records = w->History()->Count();
    setNextAnswer(vt::i18n::mrYes);
    press(w->tvKeys, Qt::Key_Delete);
    EXPECT_FALSE(exists("\\Software\\VtDel\\Victim"));
    ASSERT_GT(w->History()->Count(), records);
    EXPECT_EQ(w->History()->Item(records)->KeyPath.rfind("\\Software\\VtDel\\Victim\\", 0), 0u);
    ASSERT_NE(node(), nullptr);
    EXPECT_EQ(node()->text(0), "VtDel") << "the parent is selected, the node is gone";
    EXPECT_EQ(node()->childCount(), 0);
    EXPECT_EQ(tail(w->editRedoLog, redo), Lines({"REGEDIT4", "", "[-" + CU + "\\Software\\VtDel\\Victim]"}));
    const Lines undone = tail(w->editUndoLog, undo);
    EXPECT_TRUE(contains(undone, "[" + CU + "\\Software\\VtDel\\Victim\\Sub\\Deeper]"));
    EXPECT_TRUE(contains(undone, "\"top\"=\"2\""));
    EXPECT_EQ(w->pg->value(), 0);
    EXPECT_FALSE(w->IsBusy());
}

TEST_F(KeyOps, FailuresAreShownWithTheWindowsTextAndTheViewStaysTrue)
{
    // Machine keys a standard user may read but not change.
    write(HKEY_LOCAL_MACHINE, "\\SYSTEM\\VtLocked\\Sub", "v", "1");
    vt::platform::closeSystem();
    open(vt::platform::Identity::StandardUser);
    makeWindow();
    go("HKEY_LOCAL_MACHINE\\SYSTEM\\VtLocked\\Sub");
    ASSERT_EQ(node()->text(0), "Sub");

    setNextAnswer(vt::i18n::mrYes);
    setNextAnswer(vt::i18n::mrOk);
    press(w->tvKeys, Qt::Key_Delete);
    EXPECT_TRUE(exists("\\SYSTEM\\VtLocked\\Sub", HKEY_LOCAL_MACHINE));
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Error);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("Access is denied.")) << vt::i18n::lastMessage().text.toStdString();
    EXPECT_EQ(node()->text(0), "Sub") << "the node stays";

    setNextPromptAnswer(QStringLiteral("Renamed"));
    setNextAnswer(vt::i18n::mrOk);
    press(w->tvKeys, Qt::Key_F2);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("Access is denied."));
    EXPECT_EQ(node()->text(0), "Sub");
    EXPECT_FALSE(exists("\\SYSTEM\\VtLocked\\Renamed", HKEY_LOCAL_MACHINE));

    // The value's row stays when its deletion fails.
    selectRows({"v"});
    setNextAnswer(vt::i18n::mrYes);
    setNextAnswer(vt::i18n::mrOk);
    press(w->lvData, Qt::Key_Delete);
    EXPECT_TRUE(rowCaptions().contains("v"));
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("Access is denied."));
    EXPECT_EQ(read("\\SYSTEM\\VtLocked\\Sub", "v", HKEY_LOCAL_MACHINE), "1");
}

TEST_F(KeyOps, RenameKeepsTheKeyWholeWithItsClassTimeAndSecurity)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    char cls[] = "VtClass";
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\VtRen\\Old\\Child", 0, cls, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    RegCloseKey(key);
    write("\\Software\\VtRen\\Old", "v", "1");
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtRen\\Taken"));
    auto facts = [](const char *path) {
        HKEY k = nullptr;
        std::string out;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &k) != ERROR_SUCCESS)
            return std::string("<missing>");
        char cls[64] = {};
        DWORD clsLen = sizeof cls, sdLen = 0;
        FILETIME time{};
        RegQueryInfoKeyA(k, cls, &clsLen, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &sdLen,
                         &time);
        std::vector<BYTE> sd(sdLen);
        RegGetKeySecurity(k, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          sd.data(), &sdLen);
        RegCloseKey(k);
        return std::string(cls, clsLen) + "|" + std::to_string(time.dwLowDateTime) + "|" +
               std::string(sd.begin(), sd.begin() + sdLen);
    };
    const std::string before = facts("Software\\VtRen\\Old\\Child");
    makeWindow();
    go("HKEY_CURRENT_USER\\Software\\VtRen\\Old");

    // A taken name changes nothing and says why.
    setNextPromptAnswer(QStringLiteral("taken"));
    setNextAnswer(vt::i18n::mrOk);
    press(w->tvKeys, Qt::Key_F2);
    EXPECT_EQ(vt::i18n::lastPrompt().title, "Rename key (\"Old\")");
    EXPECT_EQ(vt::i18n::lastPrompt().proposed, "Old");
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("already exists"));
    EXPECT_EQ(node()->text(0), "Old");
    EXPECT_TRUE(exists("\\Software\\VtRen\\Old\\Child"));

    const size_t redo = lines(w->editRedoLog), undo = lines(w->editUndoLog);
    const size_t records = w->History()->Count();
    setNextPromptAnswer(QStringLiteral("New"));
    press(w->tvKeys, Qt::Key_F2);
    EXPECT_EQ(w->History()->Count(), records) << "renames go to the logs only";
    EXPECT_EQ(node()->text(0), "New");
    EXPECT_FALSE(exists("\\Software\\VtRen\\Old"));
    EXPECT_EQ(read("\\Software\\VtRen\\New", "v"), "1");
    EXPECT_EQ(facts("Software\\VtRen\\New\\Child"), before) << "class name, time and security kept";
    EXPECT_EQ(w->StatusText(0), "My Computer\\HKEY_CURRENT_USER\\Software\\VtRen\\New");
    const Lines undone = tail(w->editUndoLog, undo), redone = tail(w->editRedoLog, redo);
    EXPECT_TRUE(contains(undone, "[" + CU + "\\Software\\VtRen\\Old]"));
    EXPECT_EQ(undone.back(), "[-" + CU + "\\Software\\VtRen\\New]");
    EXPECT_TRUE(contains(redone, "[" + CU + "\\Software\\VtRen\\New\\Child]"));
    EXPECT_EQ(redone.back(), "[-" + CU + "\\Software\\VtRen\\Old]");

    // Letter case alone.
    setNextPromptAnswer(QStringLiteral("NEW"));
    press(w->tvKeys, Qt::Key_F2);
    EXPECT_EQ(node()->text(0), "NEW");
    std::vector<std::string> names;
    KeyNamesAt(HKEY_CURRENT_USER, "\\Software\\VtRen", names);
    EXPECT_EQ(names, std::vector<std::string>({"NEW", "Taken"}));
}

// A long deletion shows its progress, keeps the window painting, and lets no
// second command start meanwhile.
TEST_F(KeyOps, LongDeletionShowsProgressAndAdmitsNoSecondCommand)
{
    constexpr int Count = 20000;
    {
        vt::platform::Transaction tx;
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        for (int i = 0; i < Count; ++i)
            ASSERT_TRUE(reg.CreateKey("\\Software\\VtBig\\K" + std::to_string(i)));
    }
    makeWindow();
    go("HKEY_CURRENT_USER\\Software\\VtBig");
    struct Sample {
        bool busy;
        int value, maximum;
        bool deleteEnabled, renameEnabled, valueDeleteEnabled;
    };
    std::vector<Sample> samples;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!w->IsBusy())
            return;
        samples.push_back({true, w->pg->value(), w->pg->maximum(), w->aKeyDelete->isEnabled(),
                           w->aKeyRename->isEnabled(), w->aValueDelete->isEnabled()});
        // A second command asked for meanwhile does nothing.
        w->aKeyRename->trigger();
        w->aKeyDelete->trigger();
    });
    timer.start();
    setNextAnswer(vt::i18n::mrYes);
    press(w->tvKeys, Qt::Key_Delete);
    timer.stop();
    EXPECT_FALSE(exists("\\Software\\VtBig"));
    ASSERT_FALSE(samples.empty()) << "the window processed nothing while deleting";
    for (const Sample &s : samples) {
        EXPECT_EQ(s.maximum, Count + 1);
        EXPECT_FALSE(s.deleteEnabled || s.renameEnabled || s.valueDeleteEnabled);
    }
    EXPECT_GT(samples.back().value, 0);
    EXPECT_EQ(w->pg->value(), 0) << "cleared at the end";
    EXPECT_FALSE(w->IsBusy());
}

// ---------------------------------------------------------------------------
// Values

TEST_F(KeyOps, DeletingValuesFollowsEachAnswer)
{
    struct Case {
        const char *what;
        std::vector<int> answers; // for the rows from the last to the first: c, b, a
        std::vector<std::string> left;
    };
    const Case cases[] = {
        {"yes to all at the first question", {vt::i18n::mrYesToAll}, {""}},
        {"no to all at the first question", {vt::i18n::mrNoToAll}, {"", "a", "b", "c"}},
        {"yes, no, close box", {vt::i18n::mrYes, vt::i18n::mrNo, vt::i18n::mrCancel}, {"", "a", "b"}},
        {"no, then yes to all", {vt::i18n::mrNo, vt::i18n::mrYesToAll}, {"", "c"}},
        {"yes, then no to all", {vt::i18n::mrYes, vt::i18n::mrNoToAll}, {"", "a", "b"}},
    };
    makeWindow();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const char *name : {"", "a", "b", "c"})
            write("\\Software\\VtVals", name, name);
        go("HKEY_CURRENT_USER\\Software\\VtVals");
        selectRows({"a", "b", "c"});
        const size_t records = w->History()->Count();
        for (int answer : c.answers)
            setNextAnswer(answer);
        press(w->lvData, Qt::Key_Delete);
        EXPECT_EQ(vt::i18n::pendingAnswers(), 0);
        EXPECT_EQ(vt::i18n::lastMessage().buttons, vt::i18n::mbYesNoAll);
        EXPECT_EQ(valueNames("\\Software\\VtVals"), c.left);
        // Rows and records follow what was deleted.
        QStringList expectedRows{"(Default)"};
        for (const std::string &n : c.left)
            if (!n.empty())
                expectedRows << QString::fromStdString(n);
        EXPECT_EQ(rowCaptions(), expectedRows);
        EXPECT_EQ(w->History()->Count(), records + (4 - c.left.size()));
    }
    EXPECT_EQ(vt::i18n::lastMessage().text, "Do you really want to delete this value (\"b\")?");
}

TEST_F(KeyOps, DeletedValueIsRecordedAndTheNextRowSelected)
{
    write("\\Software\\VtOne", "a", "1");
    write("\\Software\\VtOne", "b", "2");
    makeWindow();
    go("HKEY_CURRENT_USER\\Software\\VtOne");
    selectRows({"a"});
    setNextAnswer(vt::i18n::mrYes);
    press(w->lvData, Qt::Key_Delete);
    EXPECT_EQ(tail(w->editRedoLog, 0), Lines({"REGEDIT4", "", "[" + CU + "\\Software\\VtOne]", "\"a\"=-"}));
    EXPECT_EQ(tail(w->editUndoLog, 0), Lines({"REGEDIT4", "", "[" + CU + "\\Software\\VtOne]", "\"a\"=\"1\""}));
    ASSERT_NE(w->lvData->currentItem(), nullptr);
    EXPECT_EQ(w->lvData->currentItem()->text(0), "b");
    EXPECT_TRUE(w->lvData->currentItem()->isSelected());

    // The default value: its row comes back as the stand-in without data.
    write("\\Software\\VtOne", "", "d");
    w->RefreshValueList();
    selectRows({"(Default)"});
    setNextAnswer(vt::i18n::mrYes);
    press(w->lvData, Qt::Key_Delete);
    EXPECT_EQ(read("\\Software\\VtOne", ""), "<missing>");
    EXPECT_EQ(rowCaptions(), QStringList({"(Default)", "b"}));
    EXPECT_EQ(w->lvData->topLevelItem(0)->text(2), "(Data not defined)");
}

TEST_F(KeyOps, RenamingValuesKeepsLongNamesAndRefusesTakenOnes)
{
    const std::string longName(300, 'L');
    write("\\Software\\VtRv", "", "default data");
    write("\\Software\\VtRv", "short", "s");
    write("\\Software\\VtRv", "other", "o");
    makeWindow();
    go("HKEY_CURRENT_USER\\Software\\VtRv");

    // Two rows, visited first to last; the default value proposes "(Default)".
    selectRows({"(Default)", "short"});
    const size_t redo = lines(w->editRedoLog), undo = lines(w->editUndoLog);
    const size_t records = w->History()->Count();
    setNextPromptAnswer(QStringLiteral("fromDefault"));
    setNextPromptAnswer(QString::fromStdString(longName));
    press(w->lvData, Qt::Key_F2);
    EXPECT_EQ(vt::i18n::lastPrompt().maxLength, vt::i18n::PromptValueNameLength);
    EXPECT_EQ(vt::i18n::lastPrompt().title, "Rename value (\"short\")");
    EXPECT_EQ(read("\\Software\\VtRv", "fromDefault"), "default data");
    EXPECT_EQ(read("\\Software\\VtRv", longName), "s") << "the whole long name";
    EXPECT_EQ(read("\\Software\\VtRv", ""), "<missing>");
    EXPECT_TRUE(rowCaptions().contains("fromDefault"));
    EXPECT_TRUE(rowCaptions().contains(QString::fromStdString(longName)));
    EXPECT_EQ(w->History()->Count(), records) << "renames go to the logs only";
    // The undo pane reads newest first.
    EXPECT_EQ(tail(w->editUndoLog, undo),
              Lines({"REGEDIT4", "", "[" + CU + "\\Software\\VtRv]", "\"short\"=\"s\"", "\"" + longName + "\"=-", "",
                     "[" + CU + "\\Software\\VtRv]", "@=\"default data\"", "\"fromDefault\"=-"}));
    EXPECT_EQ(tail(w->editRedoLog, redo),
              Lines({"REGEDIT4", "", "[" + CU + "\\Software\\VtRv]", "\"fromDefault\"=\"default data\"", "\"\"=-", "",
                     "[" + CU + "\\Software\\VtRv]", "\"" + longName + "\"=\"s\"", "\"short\"=-"}));

    // A taken name: both values and the caption stay, and the user is told.
    selectRows({"other"});
    setNextPromptAnswer(QStringLiteral("FROMDEFAULT"));
    setNextAnswer(vt::i18n::mrOk);
    press(w->lvData, Qt::Key_F2);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("already exists"));
    EXPECT_EQ(read("\\Software\\VtRv", "other"), "o");
    EXPECT_EQ(read("\\Software\\VtRv", "fromDefault"), "default data");
    EXPECT_TRUE(rowCaptions().contains("other"));

    // Letter case alone renames it; Cancel ends the command.
    selectRows({"other"});
    setNextPromptAnswer(QStringLiteral("OTHER"));
    press(w->lvData, Qt::Key_F2);
    EXPECT_EQ(valueNames("\\Software\\VtRv"), std::vector<std::string>({longName, "OTHER", "fromDefault"}));
    EXPECT_TRUE(rowCaptions().contains("OTHER"));
}

// ---------------------------------------------------------------------------
// Enabling and keys

TEST_F(KeyOps, EnablingFollowsTheSelectedNodeAndRow)
{
    write("\\Software\\{00000000-0000-0000-0000-000000000000}", "{11111111-0000-0000-0000-000000000000}", "x");
    write("\\Software\\{00000000-0000-0000-0000-000000000000}", "plain", "{22222222-0000-0000-0000-000000000000}");
    write("\\Software\\{00000000-0000-0000-0000-000000000000}", "none", "text");
    makeWindow();
    struct Row {
        const char *key;
        bool refresh, deleteRename, add, copyPath, clsid;
    };
    const Row rows[] = {
        {"My Computer", true, false, false, false, false},
        {"HKEY_CURRENT_USER", true, false, true, true, false},
        {"HKEY_CURRENT_USER\\Software", true, true, true, true, false},
        {"HKEY_CURRENT_USER\\Software\\{00000000-0000-0000-0000-000000000000}", true, true, true, true, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.key);
        if (QString(r.key) == "My Computer")
            w->tvKeys->setCurrentItem(w->MyComputerNode());
        else
            w->GoToKey(r.key);
        w->pmKeys->aboutToShow();
        EXPECT_EQ(w->aKeyRefresh->isEnabled(), r.refresh);
        EXPECT_EQ(w->aKeyDelete->isEnabled(), r.deleteRename);
        EXPECT_EQ(w->aKeyRename->isEnabled(), r.deleteRename);
        EXPECT_EQ(w->aKeyAdd->isEnabled(), r.add);
        EXPECT_EQ(w->aKeyCopyPath->isEnabled(), r.copyPath);
        EXPECT_EQ(w->aKeyJumpToHKCRCLSID->isEnabled(), r.clsid);
        // Features not built here stay greyed.
        EXPECT_FALSE(w->aSecurityInformationExportToClipboard->isEnabled());
    }
    w->tvKeys->setCurrentItem(nullptr);
    w->pmKeys->aboutToShow();
    for (QAction *a : {w->aKeyRefresh, w->aKeyDelete, w->aKeyRename, w->aKeyAdd, w->aKeyCopyPath,
                       w->aKeyJumpToHKCRCLSID})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();

    // Rows: a braced caption or value text enables the jump; selection
    // enables delete and rename.
    w->GoToKey("HKEY_CURRENT_USER\\Software\\{00000000-0000-0000-0000-000000000000}");
    w->lvData->clearSelection();
    w->pmValues->aboutToShow();
    EXPECT_FALSE(w->aValueDelete->isEnabled());
    EXPECT_FALSE(w->aValueRename->isEnabled());
    for (const auto &[caption, jump] : std::vector<std::pair<QString, bool>>{
             {"{11111111-0000-0000-0000-000000000000}", true}, {"plain", true}, {"none", false}}) {
        selectRows({caption});
        w->pmValues->aboutToShow();
        EXPECT_EQ(w->aValueJumpToHKCRCLSID->isEnabled(), jump) << caption.toStdString();
        EXPECT_TRUE(w->aValueDelete->isEnabled());
        EXPECT_TRUE(w->aValueRename->isEnabled());
        EXPECT_TRUE(w->StatusText(1).isEmpty());
    }
}

TEST_F(KeyOps, KeysOfTheTreeAndListRunOnlyWhatIsEnabled)
{
    makeWindow();
    // Delete and F2 on a root key or My Computer ask nothing and change
    // nothing; neither does Insert at My Computer. (A question would take
    // the queued answer.)
    for (QTreeWidgetItem *n : {w->MyComputerNode(), w->MyComputerNode()->child(1)}) {
        w->tvKeys->setCurrentItem(n);
        setNextAnswer(vt::i18n::mrYes);
        setNextPromptAnswer(QStringLiteral("X"));
        press(w->tvKeys, Qt::Key_Delete);
        press(w->tvKeys, Qt::Key_F2);
        if (n == w->MyComputerNode())
            press(w->tvKeys, Qt::Key_Insert);
        EXPECT_EQ(vt::i18n::pendingAnswers(), 2);
        vt::i18n::clearAnswers();
    }
    EXPECT_TRUE(exists("\\Software"));

    // F5 reloads the selected node's children from the registry.
    write("\\Software\\VtF5", "v", "1");
    go("HKEY_CURRENT_USER\\Software\\VtF5");
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtF5\\Later"));
    EXPECT_EQ(node()->childCount(), 0);
    press(w->tvKeys, Qt::Key_F5);
    ASSERT_EQ(node()->childCount(), 1);
    EXPECT_EQ(node()->child(0)->text(0), "Later");
    EXPECT_TRUE(node()->isExpanded());

    // Ctrl+A selects every row and focuses the list.
    write("\\Software\\VtF5", "w", "2");
    press(w->tvKeys, Qt::Key_F5);
    w->RefreshValueList();
    w->tvKeys->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(w->lvData->selectedItems().size(), 3);
    EXPECT_EQ(QApplication::focusWidget(), w->lvData);

    // Insert in the list opens the value pop-up.
    press(w->lvData, Qt::Key_Insert);
    EXPECT_TRUE(w->pmValues->isVisible());
    w->pmValues->close();
}

TEST_F(KeyOps, CopyPathAndJumps)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\Classes\\CLSID\\{00000000-0000-0000-0000-000000000000}"));
    write("\\Software\\VtJump", "{00000000-0000-0000-0000-000000000000}", "x");
    makeWindow();
    go("HKEY_CURRENT_USER\\Software\\VtJump");
    w->pmKeys->aboutToShow();
    w->aKeyCopyPath->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "HKEY_CURRENT_USER\\Software\\VtJump");

    // The jump proposes the clipboard's text and takes paths of any length.
    setNextPromptAnswer(QStringLiteral("HKEY_CURRENT_USER\\Software"));
    w->tvKeys->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_J, Qt::ControlModifier);
    EXPECT_EQ(vt::i18n::lastPrompt().proposed, "HKEY_CURRENT_USER\\Software\\VtJump");
    EXPECT_EQ(vt::i18n::lastPrompt().title, "Jump to key");
    EXPECT_EQ(vt::i18n::lastPrompt().maxLength, vt::i18n::PromptNoLimit);
    EXPECT_EQ(node()->text(0), "Software");

    go("HKEY_CURRENT_USER\\Software\\VtJump");
    selectRows({"{00000000-0000-0000-0000-000000000000}"});
    w->pmValues->aboutToShow();
    ASSERT_TRUE(w->aValueJumpToHKCRCLSID->isEnabled());
    w->aValueJumpToHKCRCLSID->trigger();
    EXPECT_EQ(w->StatusText(0), "My Computer\\HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000000}");
    w->pmKeys->aboutToShow();
    w->aKeyCopyPath->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000000}");
}

// ---------------------------------------------------------------------------
// Drag and drop

TEST_F(KeyOps, DroppingValuesCopiesWithControlAndMovesWithout)
{
    write("\\Software\\VtSrc", "one", "1");
    write("\\Software\\VtSrc", "two", "2");
    write("\\Software\\VtSrc", "three", "3");
    write("\\Software\\VtDst", "two", "old");
    makeWindow();
    QTreeWidgetItem *target = nodeAt("HKEY_CURRENT_USER\\Software\\VtDst");
    go("HKEY_CURRENT_USER\\Software\\VtSrc");

    // Hovering shows what the drop would do.
    selectRows({"one", "two"});
    EXPECT_TRUE(drop(w->lvData, target, true, nullptr, false));
    EXPECT_EQ(w->StatusText(0), "Copying value(s) to VtDst...");
    EXPECT_TRUE(drop(w->lvData, target, false, nullptr, false));
    EXPECT_EQ(w->StatusText(0), "Moving value(s) to VtDst...");
    QDragLeaveEvent leave;
    QApplication::sendEvent(w->tvKeys->viewport(), &leave);
    EXPECT_EQ(w->StatusText(0), QString());

    // Copy; "two" exists there: No keeps it.
    setNextAnswer(vt::i18n::mrNo);
    EXPECT_TRUE(drop(w->lvData, target, true));
    EXPECT_EQ(vt::i18n::lastMessage().text,
              "A value of that name (\"two\") already exists in your destination key. Do you really want to "
              "overwrite it?");
    EXPECT_EQ(read("\\Software\\VtDst", "one"), "1");
    EXPECT_EQ(read("\\Software\\VtDst", "two"), "old");
    EXPECT_EQ(rowCaptions(), QStringList({"(Default)", "one", "three", "two"})) << "a copy leaves the source";

    // Move with Yes to all: both overwrite, the source list loses them.
    selectRows({"one", "two"});
    setNextAnswer(vt::i18n::mrYesToAll);
    EXPECT_TRUE(drop(w->lvData, target, false));
    EXPECT_EQ(read("\\Software\\VtDst", "two"), "2");
    EXPECT_EQ(valueNames("\\Software\\VtSrc"), std::vector<std::string>({"three"}));
    EXPECT_EQ(rowCaptions(), QStringList({"(Default)", "three"}));

    // Onto their own key, nothing changes; no log records drops.
    QTreeWidgetItem *own = nodeAt("HKEY_CURRENT_USER\\Software\\VtSrc");
    selectRows({"three"});
    EXPECT_TRUE(drop(w->lvData, own, false));
    EXPECT_EQ(valueNames("\\Software\\VtSrc"), std::vector<std::string>({"three"}));
    EXPECT_TRUE(vt::history::ChangeLogLines(w->editRedoLog).empty());

    // No to all skips also what would overwrite nothing.
    write("\\Software\\VtSrc", "zz", "z");
    write("\\Software\\VtDst", "three", "t");
    w->RefreshValueList();
    selectRows({"three", "zz"});
    setNextAnswer(vt::i18n::mrNoToAll);
    EXPECT_TRUE(drop(w->lvData, target, false));
    EXPECT_EQ(read("\\Software\\VtDst", "zz"), "<missing>");
    EXPECT_EQ(read("\\Software\\VtSrc", "zz"), "z");
}

TEST_F(KeyOps, DroppingAKeyMovesCopiesOrReplacesIt)
{
    write("\\Software\\VtK\\A\\Moved\\Sub", "v", "1");
    write("\\Software\\VtK\\B\\Moved", "old", "o");
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtK\\C"));
    makeWindow();
    QTreeWidgetItem *b = nodeAt("HKEY_CURRENT_USER\\Software\\VtK\\B");
    QTreeWidgetItem *c = nodeAt("HKEY_CURRENT_USER\\Software\\VtK\\C");
    QTreeWidgetItem *machine = nodeAt("HKEY_LOCAL_MACHINE\\SOFTWARE");
    go("HKEY_CURRENT_USER\\Software\\VtK\\A\\Moved");
    QTreeWidgetItem *moved = node();

    EXPECT_TRUE(drop(w->tvKeys, c, true, nullptr, false));
    EXPECT_EQ(w->StatusText(0), "Copying key Moved into C...");
    EXPECT_TRUE(drop(w->tvKeys, c, false, nullptr, false));
    EXPECT_EQ(w->StatusText(0), "Moving key Moved into C...");

    // Into itself or below itself, or from another program: refused.
    EXPECT_FALSE(drop(w->tvKeys, moved, false));
    EXPECT_FALSE(drop(w->tvKeys, moved->child(0), true));
    auto *foreign = new QMimeData;
    foreign->setData("application/x-vantrel-drag", "1:2:key");
    EXPECT_FALSE(drop(w->tvKeys, c, false, foreign));
    EXPECT_TRUE(exists("\\Software\\VtK\\A\\Moved\\Sub"));
    EXPECT_FALSE(exists("\\Software\\VtK\\C\\Moved"));

    // Another root key: told, and nothing changes.
    setNextAnswer(vt::i18n::mrOk);
    EXPECT_TRUE(drop(w->tvKeys, machine, false));
    EXPECT_EQ(vt::i18n::lastMessage().text, "You cannot move keys between different root keys (yet)!");
    EXPECT_TRUE(exists("\\Software\\VtK\\A\\Moved\\Sub"));

    // Copy with Ctrl.
    EXPECT_TRUE(drop(w->tvKeys, c, true));
    EXPECT_EQ(read("\\Software\\VtK\\C\\Moved\\Sub", "v"), "1");
    EXPECT_TRUE(exists("\\Software\\VtK\\A\\Moved\\Sub"));
    EXPECT_EQ(node(), moved);

    // Onto a key that has one of that name: No keeps both.
    setNextAnswer(vt::i18n::mrNo);
    drop(w->tvKeys, b, false);
    EXPECT_EQ(vt::i18n::lastMessage().buttons, vt::i18n::mbYesNo);
    EXPECT_EQ(read("\\Software\\VtK\\B\\Moved", "old"), "o");
    EXPECT_TRUE(exists("\\Software\\VtK\\A\\Moved"));

    // Yes replaces it, its deletion recorded first so it can come back.
    const size_t undo = lines(w->editUndoLog);
    setNextAnswer(vt::i18n::mrYes);
    drop(w->tvKeys, b, false);
    EXPECT_EQ(read("\\Software\\VtK\\B\\Moved", "old"), "<missing>");
    EXPECT_EQ(read("\\Software\\VtK\\B\\Moved\\Sub", "v"), "1");
    EXPECT_FALSE(exists("\\Software\\VtK\\A\\Moved"));
    EXPECT_TRUE(contains(tail(w->editUndoLog, undo), "\"old\"=\"o\""));
    ASSERT_NE(node(), nullptr);
    EXPECT_EQ(node()->text(0), "A") << "the source's parent is selected";
    EXPECT_EQ(node()->childCount(), 0) << "the moved node is gone";
    QTreeWidgetItem *replaced = w->FindChildNode(b, "Moved");
    ASSERT_NE(replaced, nullptr);
    w->tvKeys->setCurrentItem(replaced);
    w->tvKeysExpanding(replaced);
    replaced->setExpanded(true);
    EXPECT_EQ(replaced->childCount(), 1) << "the replaced node shows the new content";
}

// Drags out of a tree that is not the local registry's change nothing here.
TEST_F(KeyOps, DropsFromOtherTreesAreRefused)
{
    write("\\Software\\VtFile\\K", "v", "1");
    makeWindow();
    QTreeWidgetItem *target = nodeAt("HKEY_CURRENT_USER\\Software");
    // A stand-in for a registry file's tree: a top node of its own kind.
    auto *fileTop = new QTreeWidgetItem(QStringList{"file.reg"});
    fileTop->setData(0, NodeImageRole, 99);
    w->tvKeys->addTopLevelItem(fileTop);
    auto *fileRoot = new QTreeWidgetItem(fileTop, QStringList{"HKEY_CURRENT_USER"});
    auto *fileKey = new QTreeWidgetItem(new QTreeWidgetItem(new QTreeWidgetItem(fileRoot, {"Software"}), {"VtFile"}),
                                        {"K"});
    w->tvKeys->setCurrentItem(fileKey);
    EXPECT_FALSE(drop(w->tvKeys, target, false));
    EXPECT_TRUE(exists("\\Software\\VtFile\\K"));
    EXPECT_FALSE(exists("\\Software\\K"));
    w->pmKeys->aboutToShow();
    EXPECT_FALSE(w->aKeyDelete->isEnabled());
    EXPECT_FALSE(w->aKeyAdd->isEnabled());
    EXPECT_TRUE(w->aKeyCopyPath->isEnabled());

    // Refreshing such a tree keeps its nodes: they cannot be read again.
    w->tvKeys->setCurrentItem(fileRoot);
    press(w->tvKeys, Qt::Key_F5);
    ASSERT_EQ(fileRoot->childCount(), 1);
    EXPECT_EQ(fileRoot->child(0)->text(0), "Software");
}
