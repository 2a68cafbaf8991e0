// Bookmarks: the file with nested folders and odd names, a damaged file, the
// main window's menu and the manager's operations, and exporting a folder.

#include "app/FormUnitBookmarks.h"
#include "app/FormUnitMain.h"
#include "app/kltConfig.h"
#include "app/vtBookmarkFile.h"
#include "app/vtStartup.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/gui/RegFileActions.h"
#include "tests/support/TempSystem.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace vt::app;

namespace
{

QByteArray readAll(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &file, const QByteArray &bytes)
{
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Captions of a menu's bookmark entries, folders as "name[...]".
QString describe(QMenu *menu)
{
    QStringList parts;
    for (QAction *a : menu->actions()) {
        if (MenuGroupIndex(a) != 1)
            continue;
        if (a->menu()) {
            emit a->menu()->aboutToShow(); // opened, as a user reads it
            parts << a->text() + QLatin1Char('[') + describe(a->menu()) + QLatin1Char(']');
        } else
            parts << a->text();
    }
    return parts.join(QLatin1Char(','));
}

TEST(BookmarkFile, CommaTextQuotesWhatNeedsIt)
{
    struct Case {
        QStringList fields;
        QString line;
    };
    const std::vector<Case> cases = {
        {{"ITEM", "My Keys", "HKEY_LOCAL_MACHINE\\SOFTWARE"}, "ITEM,\"My Keys\",HKEY_LOCAL_MACHINE\\SOFTWARE"},
        {{"ITEM", "a,b", "say \"hi\""}, "ITEM,\"a,b\",\"say \"\"hi\"\"\""},
        {{"ITEM", "[x]=y", "HKEY_CURRENT_USER\\Software\\Ünïcødé"}, "ITEM,[x]=y,HKEY_CURRENT_USER\\Software\\Ünïcødé"},
        {{"ITEM", "", "tab\there"}, "ITEM,,\"tab\there\""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(JoinCommaText(c.fields), c.line);
        EXPECT_EQ(SplitCommaText(c.line), c.fields) << qPrintable(c.line);
    }
    // Blanks end an unquoted field; blanks between fields are skipped; a
    // trailing comma gives an empty field.
    EXPECT_EQ(SplitCommaText("  ITEM , a b,c,"), QStringList({"ITEM", "a", "b", "c", ""}));
    EXPECT_EQ(SplitCommaText(""), QStringList());
}

TEST(BookmarkFile, LinesRoundTripWithNestedFolders)
{
    const QStringList lines = {"FOLDER_OPEN,Work",
                               "ITEM,A,HKEY_CURRENT_USER\\Software\\A",
                               "FOLDER_OPEN,\"Sub [1]\"",
                               "ITEM,\"x=1, y\",HKEY_CURRENT_USER\\Software\\Ärger",
                               "FOLDER_CLOSE",
                               "ITEM,B,HKEY_CURRENT_USER\\Software\\B",
                               "FOLDER_CLOSE",
                               "ITEM,\"My Keys\",HKEY_LOCAL_MACHINE\\SOFTWARE"};
    const TBookmarkNode root = ParseBookmarkLines(lines);
    ASSERT_EQ(root.children.size(), 2u);
    // The last line of a level is the top entry.
    EXPECT_EQ(root.children[0].name, "My Keys");
    const TBookmarkNode &work = root.children[1];
    ASSERT_TRUE(work.folder);
    ASSERT_EQ(work.children.size(), 3u);
    EXPECT_EQ(work.children[0].name, "B");
    EXPECT_EQ(work.children[1].name, "Sub [1]");
    EXPECT_EQ(work.children[2].name, "A");
    EXPECT_EQ(work.children[1].children[0].location, "HKEY_CURRENT_USER\\Software\\Ärger");
    EXPECT_EQ(BookmarkLines(root), lines);

    // Malformed lines are skipped; a folder never closed keeps the rest.
    const TBookmarkNode odd = ParseBookmarkLines({"ITEM,OnlyName", "FOLDER_CLOSE", "// ITEM,c,d", "## x",
                                                  "item,lower,case", "", "FOLDER_OPEN,Open", "ITEM,In,HKEY_USERS"});
    ASSERT_EQ(odd.children.size(), 1u);
    EXPECT_EQ(odd.children[0].name, "Open");
    ASSERT_EQ(odd.children[0].children.size(), 1u);
    EXPECT_EQ(odd.children[0].children[0].location, "HKEY_USERS");
}

// Files that are not what they seem: nothing blocks, nothing is read past
// the bound, nothing is moved or saved over; each is said in words.
TEST(BookmarkFile, HostileFilesAreRefusedAndLeftAlone)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo.txt");
    ASSERT_EQ(QProcess::execute(QStringLiteral("mkfifo"), {fifo}), 0);
    const QString toZero = dir.filePath("zero.txt");
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), toZero));
    const QString folder = dir.filePath("folder.txt");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString huge = dir.filePath("huge.txt");
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(qint64(MaxBookmarkFileBytes) + 1)); // sparse: no disk taken
    }
    const QString deep = dir.filePath("deep.txt");
    {
        QByteArray bytes;
        for (int i = 0; i <= MaxBookmarkDepth; ++i)
            bytes += "FOLDER_OPEN,f\r\n";
        writeAll(deep, bytes);
    }
    struct Case {
        QString file, words;
    } cases[] = {
        {fifo, "is not a regular file"},
        {toZero, "is not a regular file"},
        {QStringLiteral("/dev/null"), "is not a regular file"},
        {folder, "is not a regular file"},
        {huge, "is larger than 32 MiB"},
        {deep, "nests folders deeper than 10000 levels"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        TBookmarkNode root;
        const TBookmarkFileResult r = LoadBookmarkFile(c.file, root);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.keptAsideAs.isEmpty());
        EXPECT_TRUE(r.problem.contains(c.words)) << r.problem.toStdString();
        EXPECT_TRUE(r.problem.contains(QStringLiteral("not saved over it"))) << r.problem.toStdString();
        EXPECT_TRUE(root.children.empty());
        EXPECT_TRUE(QFileInfo::exists(c.file)) << "left where it is";
    }
    EXPECT_EQ(QFileInfo(huge).size(), qint64(MaxBookmarkFileBytes) + 1);

    // Just inside the bounds: read whole.
    QByteArray bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += "FOLDER_OPEN,f\r\n";
    bytes += "ITEM,leaf,HKEY_USERS\r\n";
    writeAll(deep, bytes);
    TBookmarkNode root;
    EXPECT_TRUE(LoadBookmarkFile(deep, root).ok);
    const TBookmarkNode *node = &root;
    for (int i = 0; i < 5000; ++i) {
        ASSERT_EQ(node->children.size(), 1u) << i;
        node = &node->children[0];
    }
    ASSERT_EQ(node->children.size(), 1u);
    EXPECT_EQ(node->children[0].name, "leaf");
}

TEST(BookmarkFile, DamagedFileIsKeptAsideAndAnAtomicWriteReplacesIt)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Bookmarks.txt");
    TBookmarkNode root;
    EXPECT_TRUE(LoadBookmarkFile(file, root).ok) << "no file: no bookmarks";

    struct Case {
        const char *what;
        QByteArray bytes;
        bool damaged;
    };
    const std::vector<Case> cases = {
        {"binary",
         QByteArray("\x7F"
                    "ELF\x02\x01\x00\x00ITEM,a,b",
                    16),
         true},
        {"foreign text", "[Section]\r\nkey=value\r\n", true},
        {"not UTF-8", "ITEM,\xE4rger,HKEY_USERS\r\n", true},
        {"only comments", "// nothing yet\r\n\r\n", false},
        {"one good line among others", "junk\r\nITEM,a,HKEY_USERS\r\n", false},
    };
    for (const Case &c : cases) {
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(name));
        writeAll(file, c.bytes);
        const TBookmarkFileResult r = LoadBookmarkFile(file, root);
        EXPECT_EQ(!r.ok, c.damaged) << c.what;
        if (c.damaged) {
            EXPECT_FALSE(QFile::exists(file)) << c.what;
            EXPECT_EQ(readAll(r.keptAsideAs), c.bytes) << c.what;
            EXPECT_FALSE(r.problem.isEmpty());
            EXPECT_TRUE(root.children.empty());
        } else {
            EXPECT_EQ(readAll(file), c.bytes) << c.what;
        }
    }
    // A second damaged file does not replace the first one kept aside.
    writeAll(file, "garbage\r\n");
    const QString first = LoadBookmarkFile(file, root).keptAsideAs;
    writeAll(file, "more garbage\r\n");
    const QString second = LoadBookmarkFile(file, root).keptAsideAs;
    EXPECT_NE(first, second);
    EXPECT_EQ(readAll(first), "garbage\r\n");

    root = ParseBookmarkLines({"ITEM,A,HKEY_USERS"});
    SaveBookmarkFile(file, root);
    EXPECT_EQ(readAll(file), "ITEM,A,HKEY_USERS\r\n");
    // Nothing is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList({"Bookmarks.txt*"}, QDir::Files).size(), 3);
    // A file that cannot be written raises and leaves the old one.
    EXPECT_THROW(SaveBookmarkFile(dir.filePath("missing/Bookmarks.txt"), root), std::runtime_error);
}

class Bookmarks : public ::testing::Test
{
protected:
    vt::test::TempSystem sys;
    std::unique_ptr<TApplicationForms> forms;
    TformMain *w = nullptr;
    TformBookmarks *dlg = nullptr;

    void SetUp() override
    {
        ASSERT_EQ(sys.openResult(), ERROR_SUCCESS);
        vt::i18n::clearAnswers();
        QDir().mkpath(QString::fromStdString(ProgramFolder()));
    }
    void TearDown() override
    {
        forms.reset();
        vt::regfile::setFileDialogSeam(nullptr);
    }
    QString file() const { return QString::fromStdString(ProgramFile("Bookmarks.txt")); }
    void start()
    {
        forms = std::make_unique<TApplicationForms>();
        w = forms->formMain();
        dlg = qobject_cast<TformBookmarks *>(forms->form("formBookmarks"));
        ASSERT_NE(dlg, nullptr);
        w->show();
    }
    // Runs `work` inside the modal manager, then closes it with OK or Cancel.
    bool manage(const std::function<void()> &work, bool ok = true)
    {
        QTimer::singleShot(0, dlg, [&] {
            work();
            ok ? dlg->accept() : dlg->reject();
        });
        w->aBookmarksManage->trigger();
        return ok;
    }
    QTreeWidgetItem *node(const QString &path) const
    {
        QTreeWidgetItem *found = nullptr;
        for (const QString &part : path.split('/')) {
            QTreeWidgetItem *next = nullptr;
            const int count = found ? found->childCount() : dlg->tvBookmarks->topLevelItemCount();
            for (int i = 0; i < count; ++i) {
                QTreeWidgetItem *c = found ? found->child(i) : dlg->tvBookmarks->topLevelItem(i);
                if (c->text(0) == part)
                    next = c;
            }
            if (!next)
                return nullptr;
            found = next;
        }
        return found;
    }
};

// The file fills the menu; Ctrl+B adds the selected key at the very top and
// writes the file; a bookmark entry jumps to its key.
TEST_F(Bookmarks, MenuFromFileAddAndJump)
{
    writeAll(file(), "FOLDER_OPEN,Work\r\nITEM,A,HKEY_CURRENT_USER\\Software\\A\r\n"
                     "ITEM,B,HKEY_CURRENT_USER\\Software\\B\r\nFOLDER_CLOSE\r\n");
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\B"));
    start();
    EXPECT_EQ(describe(w->mBookmarks), "Work[B,A]");
    // The fixed entries stay at the bottom.
    EXPECT_EQ(w->mBookmarks->actions().last(), w->aBookmarksManage);

    EXPECT_FALSE(w->aKeyAddBookmark->isEnabled()) << "nothing selected";
    w->GoToKey("HKEY_CURRENT_USER\\Software");
    w->UpdateActionStates();
    ASSERT_TRUE(w->aKeyAddBookmark->isEnabled());
    setNextInputAnswer(QStringLiteral("Soft [ware] = ü & co"));
    w->aKeyAddBookmark->trigger();
    EXPECT_EQ(describe(w->mBookmarks), "Soft [ware] = ü && co,Work[B,A]") << "an ampersand is shown, not an access key";
    EXPECT_EQ(dlg->LastLocation, "HKEY_CURRENT_USER\\Software");
    EXPECT_EQ(readAll(file()), QStringLiteral("FOLDER_OPEN,Work\r\nITEM,A,HKEY_CURRENT_USER\\Software\\A\r\n"
                                              "ITEM,B,HKEY_CURRENT_USER\\Software\\B\r\nFOLDER_CLOSE\r\n"
                                              "ITEM,\"Soft [ware] = ü & co\",HKEY_CURRENT_USER\\Software\r\n")
                                   .toUtf8());
    setNextInputAnswer(std::nullopt);
    w->aKeyAddBookmark->trigger();
    EXPECT_EQ(describe(w->mBookmarks), "Soft [ware] = ü && co,Work[B,A]") << "Cancel adds nothing";

    QMenu *work = w->mBookmarks->actions()[1]->menu();
    ASSERT_NE(work, nullptr);
    emit work->aboutToShow();
    work->actions()[0]->trigger();
    ASSERT_TRUE(w->tvKeys->currentItem());
    EXPECT_EQ(w->tvKeys->currentItem()->text(0), "B");
}

// The manager's operations land in the menu and the file on OK only.
TEST_F(Bookmarks, ManagerOperations)
{
    writeAll(file(), "FOLDER_OPEN,Work\r\nITEM,b,HKEY_USERS\\b\r\nITEM,a,HKEY_USERS\\a\r\nFOLDER_CLOSE\r\n"
                     "ITEM,Top,HKEY_USERS\\top\r\n");
    start();
    EXPECT_EQ(describe(w->mBookmarks), "Top,Work[a,b]");
    const QByteArray before = readAll(file());

    // Cancel discards everything.
    manage(
        [&] {
            dlg->tvBookmarks->setCurrentItem(node("Top"));
            vt::i18n::setNextAnswer(vt::i18n::mrYes);
            dlg->aBookmarkDelete->trigger();
        },
        false);
    EXPECT_EQ(describe(w->mBookmarks), "Top,Work[a,b]");
    EXPECT_EQ(readAll(file()), before);

    manage([&] {
        EXPECT_FALSE(dlg->aBookmarkRename->isEnabled());
        EXPECT_FALSE(dlg->aFolderDelete->isEnabled());
        // With a top-level bookmark selected a new bookmark goes to the top level.
        dlg->tvBookmarks->setCurrentItem(node("Top"));
        EXPECT_TRUE(dlg->aBookmarkRename->isEnabled());
        EXPECT_FALSE(dlg->aFolderRename->isEnabled());
        EXPECT_EQ(dlg->sbStatus->text(), "HKEY_USERS\\top");
        setNextInputAnswer(QStringLiteral("New"));
        setNextInputAnswer(QStringLiteral("HKEY_USERS\\new"));
        dlg->aBookmarkAdd->trigger();
        // Inside a folder: a new folder, and a bookmark in it.
        dlg->tvBookmarks->setCurrentItem(node("Work/a"));
        setNextInputAnswer(QStringLiteral("Zed"));
        dlg->aFolderAdd->trigger();
        dlg->tvBookmarks->setCurrentItem(node("Work/Zed"));
        EXPECT_TRUE(dlg->aFolderRename->isEnabled());
        setNextInputAnswer(QStringLiteral("c"));
        setNextInputAnswer(QStringLiteral("HKEY_USERS\\c"));
        dlg->aBookmarkAdd->trigger();
        // Cancel at the location prompt adds nothing.
        setNextInputAnswer(QStringLiteral("never"));
        setNextInputAnswer(std::nullopt);
        dlg->aBookmarkAdd->trigger();
        // Rename, then sort the folder one level.
        dlg->tvBookmarks->setCurrentItem(node("Work/b"));
        setNextInputAnswer(QStringLiteral("0b"));
        dlg->aBookmarkRename->trigger();
        dlg->aSortOneLevel->trigger();
        // No answer left: No keeps the folder.
        dlg->tvBookmarks->setCurrentItem(node("Work"));
        vt::i18n::setNextAnswer(vt::i18n::mrNo);
        dlg->aFolderDelete->trigger();
        EXPECT_NE(node("Work"), nullptr);
        // A top-level bookmark is deleted after Yes.
        dlg->tvBookmarks->setCurrentItem(node("Top"));
        vt::i18n::setNextAnswer(vt::i18n::mrYes);
        dlg->aBookmarkDelete->trigger();
        EXPECT_EQ(pendingInputAnswers(), 0);
    });
    EXPECT_EQ(describe(w->mBookmarks), "Work[0b,a,Zed[c]],New");
    EXPECT_EQ(readAll(file()), "ITEM,New,HKEY_USERS\\new\r\nFOLDER_OPEN,Work\r\nFOLDER_OPEN,Zed\r\n"
                               "ITEM,c,HKEY_USERS\\c\r\nFOLDER_CLOSE\r\nITEM,a,HKEY_USERS\\a\r\n"
                               "ITEM,0b,HKEY_USERS\\b\r\nFOLDER_CLOSE\r\n");
}

// Dropping a bookmark on another puts it right above; on itself nothing
// moves; on a folder it becomes the folder's last entry.
TEST_F(Bookmarks, DragMovesBookmarksOnly)
{
    writeAll(file(), "FOLDER_OPEN,F\r\nITEM,x,HKEY_USERS\\x\r\nFOLDER_CLOSE\r\n"
                     "ITEM,c,HKEY_USERS\\c\r\nITEM,b,HKEY_USERS\\b\r\nITEM,a,HKEY_USERS\\a\r\n");
    start();
    manage([&] {
        EXPECT_FALSE(dlg->MoveBookmarkNode(node("a"), node("a")));
        EXPECT_FALSE(dlg->MoveBookmarkNode(node("F"), node("a"))) << "folders are not dragged";
        EXPECT_TRUE(dlg->MoveBookmarkNode(node("c"), node("a")));
        EXPECT_TRUE(dlg->MoveBookmarkNode(node("b"), node("F")));
        EXPECT_TRUE(dlg->MoveBookmarkNode(node("F/x"), nullptr));
        EXPECT_EQ(node("a")->toolTip(0), "HKEY_USERS\\a");
    });
    EXPECT_EQ(describe(w->mBookmarks), "c,a,F[b],x");
}

// Export one level covers the folder and its direct sub-folders; recursive
// covers every level. Each key goes with its own values only.
TEST_F(Bookmarks, ExportFolderKeys)
{
    for (const char *k : {"A", "B", "C"}) {
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, std::string("\\Software\\VtBm\\") + k, "v", 32, k));
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, std::string("\\Software\\VtBm\\") + k + "\\Child", "w", 32, "no"));
    }
    writeAll(file(), "FOLDER_OPEN,Work\r\nFOLDER_OPEN,Sub\r\nFOLDER_OPEN,Deep\r\n"
                     "ITEM,C,HKEY_CURRENT_USER\\Software\\VtBm\\C\r\nFOLDER_CLOSE\r\n"
                     "ITEM,B,HKEY_CURRENT_USER\\Software\\VtBm\\B\r\nFOLDER_CLOSE\r\n"
                     "ITEM,A,HKEY_CURRENT_USER\\Software\\VtBm\\A\r\nFOLDER_CLOSE\r\n");
    start();
    QTemporaryDir dir;
    int filterIndex = 1;
    QString target;
    vt::regfile::setFileDialogSeam([&](QFileDialog &) { return vt::regfile::TFileChoice{target, filterIndex}; });
    manage([&] {
        dlg->tvBookmarks->setCurrentItem(node("Work"));
        target = dir.filePath("one.reg");
        dlg->aFolderExportOneLevel->trigger();
        target = dir.filePath("all.reg");
        filterIndex = 2;
        dlg->aFolderExportRecursive->trigger();
    });
    const QString one =
        QString::fromUtf16(reinterpret_cast<const char16_t *>(readAll(dir.filePath("one.reg")).constData() + 2));
    EXPECT_TRUE(one.startsWith("Windows Registry Editor Version 5.00")) << qPrintable(one.left(40));
    EXPECT_TRUE(one.contains("[HKEY_CURRENT_USER\\Software\\VtBm\\A]"));
    EXPECT_TRUE(one.contains("[HKEY_CURRENT_USER\\Software\\VtBm\\B]"));
    EXPECT_FALSE(one.contains("VtBm\\C"));
    EXPECT_FALSE(one.contains("Child"));
    const QByteArray all = readAll(dir.filePath("all.reg"));
    EXPECT_TRUE(all.startsWith("REGEDIT4"));
    for (const char *k : {"A]", "B]", "C]"})
        EXPECT_TRUE(all.contains(QByteArray(QByteArray("[HKEY_CURRENT_USER\\Software\\VtBm\\") + k))) << k;
}

// A damaged file is reported at start and kept; the next save writes a new one.
TEST_F(Bookmarks, DamagedFileAtStartIsReportedAndKept)
{
    writeAll(file(), QByteArray("\x00\x01\x02 not bookmarks", 18));
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    start();
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Warning);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("Bookmarks.txt.damaged"));
    EXPECT_EQ(readAll(file() + ".damaged"), QByteArray("\x00\x01\x02 not bookmarks", 18));
    EXPECT_EQ(describe(w->mBookmarks), "");
    w->GoToKey("HKEY_USERS");
    w->UpdateActionStates();
    setNextInputAnswer(QStringLiteral("Users"));
    w->aKeyAddBookmark->trigger();
    EXPECT_EQ(readAll(file()), "ITEM,Users,HKEY_USERS\r\n");
}

// A Bookmarks.txt that is a FIFO does not hold the window up: it shows, says
// why there are no bookmarks, and a bookmark added later is not written into
// the pipe.
TEST_F(Bookmarks, FifoAtStartDoesNotBlockTheWindow)
{
    QFile::remove(file());
    ASSERT_EQ(QProcess::execute(QStringLiteral("mkfifo"), {file()}), 0);
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    start();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Warning);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("is not a regular file"));
    w->GoToKey("HKEY_USERS");
    w->UpdateActionStates();
    setNextInputAnswer(QStringLiteral("Users"));
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    w->aKeyAddBookmark->trigger();
    EXPECT_TRUE(QFileInfo(file()).isSymLink() || !QFileInfo(file()).isFile()) << "still the FIFO";
    QFile::remove(file());
}

// Folders fill when they are first shown; one never shown is saved as read.
TEST_F(Bookmarks, UnopenedFoldersAreSavedAsRead)
{
    const QByteArray text = "FOLDER_OPEN,Outer\r\nFOLDER_OPEN,Inner\r\nITEM,deep,HKEY_USERS\\d\r\nFOLDER_CLOSE\r\n"
                            "ITEM,x,HKEY_USERS\\x\r\nFOLDER_CLOSE\r\n";
    writeAll(file(), text);
    start();
    QMenu *outer = w->mBookmarks->actions()[0]->menu();
    ASSERT_NE(outer, nullptr);
    EXPECT_TRUE(outer->actions().isEmpty()) << "filled only when shown";
    w->GoToKey("HKEY_USERS");
    w->UpdateActionStates();
    setNextInputAnswer(QStringLiteral("Users"));
    w->aKeyAddBookmark->trigger();
    EXPECT_EQ(readAll(file()), text + "ITEM,Users,HKEY_USERS\r\n");
    emit outer->aboutToShow();
    EXPECT_EQ(describe(w->mBookmarks), "Users,Outer[x,Inner[deep]]");
    emit outer->aboutToShow(); // once only
    EXPECT_EQ(describe(w->mBookmarks), "Users,Outer[x,Inner[deep]]");
}

} // namespace
