// The main window's change recorder: the exact lines each operation puts in
// the two change-log panes, the history records it adds, the panes' Save and
// Apply actions, the history window reached with Ctrl+H, and a start without
// a usable history.

#include "app/FormUnitMain.h"
#include "app/vtStartup.h"
#include "core/kltRegTools.h"
#include "history/gui/ChangeLogPane.h"
#include "history/gui/FormUnitHistory.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "knowledge/PathPlaceholders.h"
#include "platform/vtPlatform.h"
#include "regfile/gui/RegFileActions.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <Qsci/qscilexerproperties.h>
#include <Qsci/qsciscintilla.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace vt::app;
using Lines = std::vector<std::string>;

namespace
{

class Recorder : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    std::unique_ptr<TformMain> w;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        vt::platform::SystemOptions options;
        options.root = dir.path().toStdString() + "/system";
        ASSERT_EQ(vt::platform::openSystem(options), ERROR_SUCCESS);
        vt::knowledge::BuildPlaceholders();
    }
    void TearDown() override
    {
        vt::regfile::setFileDialogSeam(nullptr);
        vt::i18n::clearAnswers();
        w.reset();
        vt::platform::closeSystem();
    }
    void makeWindow()
    {
        w = std::make_unique<TformMain>();
        w->show();
    }
    static void writeRaw(const std::string &path, const std::string &name, uint32_t code,
                         const std::vector<uint8_t> &bytes)
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(path, true));
        reg.writeValue(name, code, bytes);
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
    size_t redoCount() const { return vt::history::ChangeLogLines(w->editRedoLog).size(); }
    size_t undoCount() const { return vt::history::ChangeLogLines(w->editUndoLog).size(); }
    std::string appData() const { return vt::platform::toNativePath(vt::knowledge::ExpandPlaceholders("<$APPDATA>")); }
};

const std::string CU = "HKEY_CURRENT_USER";

} // namespace

TEST_F(Recorder, PanesAreLineNumberedIniEditors)
{
    makeWindow();
    for (QsciScintilla *pane : {w->editRedoLog, w->editUndoLog}) {
        EXPECT_TRUE(pane->isReadOnly());
        EXPECT_NE(qobject_cast<QsciLexerProperties *>(pane->lexer()), nullptr);
        EXPECT_TRUE(pane->marginLineNumbers(0));
        EXPECT_GT(pane->marginWidth(0), 0);
        EXPECT_TRUE(vt::history::ChangeLogLines(pane).empty());
    }
    EXPECT_TRUE(w->HistoryError().isEmpty()) << w->HistoryError().toStdString();
    ASSERT_NE(w->History(), nullptr);
    EXPECT_TRUE(std::filesystem::exists(appData() + "/Brakmoor/Vantrel/history.sqlite"));
}

// Every operation of the recorder, in one session, with the lines each pane
// gains and the history records made.
TEST_F(Recorder, LinesOfEachOperation)
{
    writeRaw("\\Software\\X", "Test", REG_DWORD, {1, 0, 0, 0});
    writeRaw("\\Software\\X", "", REG_SZ, {'d', 0});
    makeWindow();
    auto &history = *w->History();

    // The first deletion of a value after start-up.
    w->LogValueDelete(HKEY_CURRENT_USER, "\\Software\\X", "Test");
    EXPECT_EQ(tail(w->editRedoLog, 0), Lines({"REGEDIT4", "", "[" + CU + "\\Software\\X]", "\"Test\"=-"}));
    EXPECT_EQ(tail(w->editUndoLog, 0), Lines({"REGEDIT4", "", "[" + CU + "\\Software\\X]", "\"Test\"=dword:00000001"}));
    ASSERT_EQ(history.Count(), 1u);
    EXPECT_EQ(history.Item(0)->Value, "Test");

    // The default value.
    size_t redo = redoCount(), undo = undoCount();
    w->LogValueDelete(HKEY_CURRENT_USER, "\\Software\\X", "");
    EXPECT_EQ(tail(w->editRedoLog, redo), Lines({"", "[" + CU + "\\Software\\X]", "\"\"=-"}));
    EXPECT_EQ(tail(w->editUndoLog, undo), Lines({"", "[" + CU + "\\Software\\X]", "@=\"d\""}));

    // Creating a key.
    redo = redoCount(), undo = undoCount();
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\Test"));
    w->LogKeyAdd(HKEY_CURRENT_USER, "\\Software\\Test");
    EXPECT_EQ(tail(w->editRedoLog, redo), Lines({"", "[" + CU + "\\Software\\Test]"}));
    EXPECT_EQ(tail(w->editUndoLog, undo), Lines({"", "[-" + CU + "\\Software\\Test]"}));
    EXPECT_EQ(history.Item(history.Count() - 1)->KeyPath, "\\Software\\Test\\");

    // Renaming a key: before into the undo pane, after into the redo pane.
    writeRaw("\\Software\\A", "x", REG_SZ, {'1', 0});
    redo = redoCount(), undo = undoCount();
    const size_t records = history.Count();
    w->LogKeyRename(HKEY_CURRENT_USER, "\\Software\\A", TformMain::TRenamePhase::Before, "\\Software\\B");
    ASSERT_TRUE(MoveKeyAt(HKEY_CURRENT_USER, "\\Software\\A", "\\Software\\B", false));
    w->LogKeyRename(HKEY_CURRENT_USER, "\\Software\\A", TformMain::TRenamePhase::After, "\\Software\\B");
    EXPECT_EQ(tail(w->editUndoLog, undo),
              Lines({"", "[" + CU + "\\Software\\A]", "\"x\"=\"1\"", "", "[-" + CU + "\\Software\\B]"}));
    EXPECT_EQ(tail(w->editRedoLog, redo),
              Lines({"", "[" + CU + "\\Software\\B]", "\"x\"=\"1\"", "", "[-" + CU + "\\Software\\A]"}));
    EXPECT_EQ(history.Count(), records); // renames stay out of the history

    // Changing a value's data: empty previous text deletes on undo.
    writeRaw("\\Software\\B", "n", REG_DWORD, {9, 0, 0, 0});
    redo = redoCount(), undo = undoCount();
    w->LogValueChange(HKEY_CURRENT_USER, "\\Software\\B", "", "n");
    w->LogValueChange(HKEY_CURRENT_USER, "\\Software\\B", "dword:00000005", "n");
    w->LogValueChange(HKEY_CURRENT_USER, "\\Software\\B", "\"old\"", "");
    EXPECT_EQ(tail(w->editRedoLog, redo),
              Lines({"", "[" + CU + "\\Software\\B]", "\"n\"=dword:00000009", "", "[" + CU + "\\Software\\B]",
                     "\"n\"=dword:00000009", "", "[" + CU + "\\Software\\B]", "// the value \"@\" does not exist"}));
    // The undo pane reads newest first.
    EXPECT_EQ(tail(w->editUndoLog, undo),
              Lines({"", "[" + CU + "\\Software\\B]", "@=\"old\"", "", "[" + CU + "\\Software\\B]",
                     "\"n\"=dword:00000005", "", "[" + CU + "\\Software\\B]", "\"n\"=-"}));
    EXPECT_EQ(history.Count(), records);

    // Renaming a value: before into the undo pane, after into the redo pane.
    redo = redoCount(), undo = undoCount();
    w->LogValueRename(w->editUndoLog, HKEY_CURRENT_USER, "m", "n", "\\Software\\B");
    ASSERT_TRUE(RenameValueAt(HKEY_CURRENT_USER, "\\Software\\B", "n", false, "m"));
    w->LogValueRename(w->editRedoLog, HKEY_CURRENT_USER, "n", "m", "\\Software\\B");
    EXPECT_EQ(tail(w->editUndoLog, undo), Lines({"", "[" + CU + "\\Software\\B]", "\"n\"=dword:00000009", "\"m\"=-"}));
    EXPECT_EQ(tail(w->editRedoLog, redo), Lines({"", "[" + CU + "\\Software\\B]", "\"m\"=dword:00000009", "\"n\"=-"}));

    // Deleting a key: the whole tree into the undo pane, one history operation.
    writeRaw("\\Software\\B\\C", "w", REG_BINARY, {0xAB});
    redo = redoCount(), undo = undoCount();
    w->LogKeyDelete(HKEY_CURRENT_USER, "\\Software\\B");
    EXPECT_EQ(tail(w->editUndoLog, undo), Lines({"", "[" + CU + "\\Software\\B]", "\"x\"=\"1\"", "\"m\"=dword:00000009",
                                                 "", "[" + CU + "\\Software\\B\\C]", "\"w\"=hex:AB"}));
    EXPECT_EQ(tail(w->editRedoLog, redo), Lines({"", "[-" + CU + "\\Software\\B]"}));
    std::string order;
    for (size_t i = records; i < history.Count(); ++i)
        order += history.Item(i)->KeyPath + "|" + history.Item(i)->Value + " ";
    EXPECT_EQ(order, "\\Software\\B\\C\\|w \\Software\\B\\C\\| \\Software\\B\\|x \\Software\\B\\|m \\Software\\B\\| ");
}

// A history failure ends the user's operation with an exception; the lines
// written before it stay, and no half operation is left in the history.
TEST_F(Recorder, HistoryFailureEndsTheOperation)
{
    makeWindow();
    writeRaw("\\Software\\F\\G", "v", REG_SZ, {'1', 0});
    w->History()->ExecSql("CREATE TRIGGER refuse BEFORE INSERT ON registry_history WHEN NEW.entrytype = 0 "
                          "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_THROW(w->LogKeyDelete(HKEY_CURRENT_USER, "\\Software\\F"), vt::history::ESQLiteException);
    EXPECT_EQ(vt::history::ChangeLogLines(w->editRedoLog), Lines({"REGEDIT4", "", "[-" + CU + "\\Software\\F]"}));
    EXPECT_EQ(w->History()->Count(), 0u);
    w->History()->LoadAll();
    EXPECT_EQ(w->History()->Count(), 0u);
}

// Save and Apply, reached through the panes' own buttons.
TEST_F(Recorder, SaveAndApplyThroughThePaneButtons)
{
    makeWindow();
    const std::string file = dir.path().toStdString() + "/log.reg";
    QStringList filters;
    bool confirms = false;
    vt::regfile::setFileDialogSeam([&](QFileDialog &d) {
        filters = d.nameFilters();
        confirms = !d.testOption(QFileDialog::DontConfirmOverwrite);
        return std::optional<vt::regfile::TFileChoice>({QString::fromStdString(file), 2});
    });
    auto click = [&](const char *page, const char *button) {
        w->pcMain->setCurrentWidget(w->tsChangeLogs);
        w->pcChangeLogs->setCurrentWidget(w->findChild<QWidget *>(page));
        auto *b = w->findChild<QToolButton *>(button);
        ASSERT_NE(b, nullptr) << button;
        QTest::mouseClick(b, Qt::LeftButton);
    };
    auto readFile = [&] {
        std::ifstream f(file, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    };

    // A pane never written saves as an empty file and applies as nothing.
    std::ofstream(file) << "old";
    click("tsRedoLog", "bnChangeLogRedoSave");
    EXPECT_EQ(readFile(), "");
    EXPECT_EQ(filters, QStringList({"Registry files (v5) (*.reg)", "Win 9x/NT4 registry files (v4) (*.reg)"}));
    EXPECT_TRUE(confirms);
    click("tsRedoLog", "bnChangeLogRedoApply");

    // Create K, then K\L; the undo log holds the newest change first, so
    // applying it deletes K\L, then K.
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\K"));
    w->LogKeyAdd(HKEY_CURRENT_USER, "\\Software\\K");
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\K\\L"));
    w->LogKeyAdd(HKEY_CURRENT_USER, "\\Software\\K\\L");
    click("tsUndoLog", "bnChangeLogUndoSave");
    EXPECT_EQ(readFile(), "REGEDIT4\r\n\r\n[-" + CU + "\\Software\\K\\L]\r\n\r\n[-" + CU + "\\Software\\K]\r\n");
    click("tsUndoLog", "bnChangeLogUndoApply");
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\K"));
    click("tsRedoLog", "bnChangeLogRedoApply");
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\K\\L"));
    // Applying records nothing.
    EXPECT_EQ(w->History()->Count(), 2u);
    EXPECT_EQ(vt::history::ChangeLogLines(w->editUndoLog).size(), 5u);
}

// Ctrl+H shows the history window with the records made so far; closing the
// main window still ends the program while it is open.
TEST_F(Recorder, CtrlHShowsTheHistoryAndClosingTheMainWindowEnds)
{
    TApplicationForms forms;
    TformMain *main = forms.formMain();
    main->show();
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\H"));
    main->LogKeyAdd(HKEY_CURRENT_USER, "\\Software\\H");
    main->activateWindow();
    main->tvKeys->setFocus();
    QApplication::processEvents();
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier);
    auto *history = qobject_cast<vt::history::TformHistory *>(forms.form(QStringLiteral("formHistory")));
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->isVisible());
    EXPECT_EQ(history->History(), main->History());
    ASSERT_EQ(history->model->rowCount(), 1);
    EXPECT_EQ(history->model->index(0, 5).data().toString(), "\\Software\\H\\");

    // The program ends when its event loop ends; a stuck one is stopped after a while.
    bool stuck = false;
    QTimer::singleShot(0, main, [main] { main->close(); });
    QTimer::singleShot(5000, qApp, [&stuck] {
        stuck = true;
        QApplication::quit();
    });
    QApplication::exec();
    EXPECT_FALSE(stuck);
}

// A history file that cannot be made: the user is told, without a modal
// stop, the logs still work, and the history window says why it is empty.
TEST_F(Recorder, StartWithoutAUsableHistory)
{
    std::filesystem::create_directories(appData());
    std::ofstream(appData() + "/Brakmoor") << "a file where the folder belongs";
    TApplicationForms forms;
    TformMain *main = forms.formMain();
    main->show();
    QApplication::processEvents();
    EXPECT_EQ(main->History(), nullptr);
    EXPECT_TRUE(main->HistoryError().contains("Failed to open database")) << main->HistoryError().toStdString();
    QWidget *notice = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->objectName() == "dlgHistoryUnavailable" && top->isVisible())
            notice = top;
    ASSERT_NE(notice, nullptr);
    EXPECT_FALSE(notice->isModal());
    notice->close();

    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\N"));
    main->LogKeyAdd(HKEY_CURRENT_USER, "\\Software\\N");
    EXPECT_EQ(vt::history::ChangeLogLines(main->editRedoLog), Lines({"REGEDIT4", "", "[" + CU + "\\Software\\N]"}));
    main->aShowHistory->trigger();
    auto *history = qobject_cast<vt::history::TformHistory *>(forms.form(QStringLiteral("formHistory")));
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->lblUnavailable->isVisible());
    EXPECT_TRUE(history->lblUnavailable->text().contains("Failed to open database"));
    EXPECT_EQ(history->model->rowCount(), 0);
}
