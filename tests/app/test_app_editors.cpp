// The main window's value editors as a person uses them: double click or
// the value menu opens the dialog for the value's type, the test types into
// the focused field and confirms, and the registry, the change logs and the
// history show the result. Dialogs run through the editors' modal seam.

#include "app/FormUnitMain.h"
#include "app/FormUnitMainEditors.h"
#include "core/zoStrings.h"
#include "editors/gui/EditorModal.h"
#include "editors/gui/FormUnitEditBinary.h"
#include "editors/gui/FormUnitEditInteger.h"
#include "editors/gui/FormUnitEditMultiString.h"
#include "editors/gui/FormUnitEditString.h"
#include "editors/gui/FormUnitEditType.h"
#include "editors/gui/vzoHexEdit.h"
#include "editors/gui/FormUnitResourceRequirementsList.h"
#include "editors/gui/vzoHexView.h"
#include "history/gui/ChangeLogPane.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "knowledge/PathPlaceholders.h"
#include "platform/vtPlatform.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace vt::app;
using vt::editors::setNextEditorDriver;
using Bytes = std::vector<uint8_t>;

namespace
{

const std::string Key = "\\Software\\VtEdit";
const std::string CU = "HKEY_CURRENT_USER";

class Editors : public ::testing::Test
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
        createKey();
    }
    void TearDown() override
    {
        vt::editors::clearEditorDrivers();
        vt::i18n::clearAnswers();
        setTypeChangeWriterSeam(nullptr);
        w.reset();
        vt::platform::closeSystem();
    }
    static void createKey()
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(Key, true));
    }
    static void writeRaw(const std::string &name, uint32_t code, const Bytes &bytes)
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(Key, true));
        reg.writeValue(name, code, bytes);
    }
    static bool readRaw(const std::string &name, uint32_t &code, Bytes &bytes)
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        return reg.OpenKeyReadOnly(Key) && reg.readValue(name, code, bytes);
    }
    static std::vector<std::string> valueNames()
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        std::vector<std::string> names;
        if (reg.OpenKeyReadOnly(Key))
            reg.GetValueNames(names);
        std::sort(names.begin(), names.end());
        return names;
    }
    void open()
    {
        w = std::make_unique<TformMain>();
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        w->GoToKey(QString::fromStdString(CU + Key));
    }
    TRegistryValueListItem *row(const QString &caption) const
    {
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            if (w->lvData->topLevelItem(i)->text(0) == caption)
                return static_cast<TRegistryValueListItem *>(w->lvData->topLevelItem(i));
        return nullptr;
    }
    void select(const QString &caption)
    {
        TRegistryValueListItem *r = row(caption);
        ASSERT_NE(r, nullptr) << caption.toStdString();
        w->lvData->clearSelection();
        w->lvData->setCurrentItem(r);
    }
    void doubleClick(const QString &caption)
    {
        select(caption);
        const QRect rect = w->lvData->visualItemRect(row(caption));
        // The events a double click makes: press, release, double click, release.
        QTest::mouseClick(w->lvData->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(w->lvData->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseRelease(w->lvData->viewport(), Qt::LeftButton, {}, rect.center());
    }
    // The value menu's command, reached as the pop-up shows it.
    void runFromValueMenu(QAction *action)
    {
        w->UpdateActionStates();
        ASSERT_TRUE(w->pmValues->actions().contains(action) || w->pmValueAdd->actions().contains(action));
        ASSERT_TRUE(action->isEnabled()) << action->objectName().toStdString();
        action->trigger();
    }
    size_t undoCount() const { return vt::history::ChangeLogLines(w->editUndoLog).size(); }
    size_t historyCount() const { return w->History() ? w->History()->Count() : 0; }
    // The last line of the newest undo block, which sits right below the
    // pane's header.
    std::string lastUndoLine() const
    {
        const auto lines = vt::history::ChangeLogLines(w->editUndoLog);
        size_t end = 2;
        while (end < lines.size() && !lines[end].empty())
            ++end;
        return lines.size() < 2 ? std::string() : lines[end - 1];
    }
};

// Waits for the dialog, then gives it keys as a person types them.
void activate(QDialog &dialog)
{
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
}
QWidget *focused() { return QApplication::focusWidget(); }
void replaceText(const QString &text)
{
    QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(focused(), text);
}
void clickOK(QDialog &dialog) { QTest::mouseClick(dialog.findChild<QPushButton *>("bnOK"), Qt::LeftButton); }

} // namespace

// ---------------------------------------------------------------------------
// Enabling

TEST_F(Editors, ValueMenuEnablesWhatTheRowsTypeAllows)
{
    writeRaw("sz", REG_SZ, {0});
    writeRaw("dword", REG_DWORD, {0, 0, 0, 0});
    writeRaw("bin", REG_BINARY, {1});
    writeRaw("req", REG_RESOURCE_REQUIREMENTS_LIST, {});
    open();
    struct Case {
        QString row;
        bool change, changeType, modifyBinary;
    };
    const Case cases[] = {
        {"sz", true, true, true},
        {"dword", true, true, true},
        {"bin", false, false, true},
        {"req", false, false, true},
        // The key has no default value: nothing to modify as bytes yet.
        {"(Default)", true, true, false},
    };
    for (const Case &c : cases) {
        select(c.row);
        w->UpdateActionStates();
        EXPECT_EQ(w->aValueChange->isEnabled(), c.change) << c.row.toStdString();
        EXPECT_EQ(w->aValueChangeType->isEnabled(), c.changeType) << c.row.toStdString();
        EXPECT_EQ(w->aValueModifyBinary->isEnabled(), c.modifyBinary) << c.row.toStdString();
        EXPECT_TRUE(w->aValueAddNone->isEnabled());
    }
    // "My Computer" is no key: nothing can be added there.
    w->tvKeys->setCurrentItem(w->MyComputerNode());
    w->tvKeysChange();
    w->UpdateActionStates();
    EXPECT_FALSE(w->aValueAddString->isEnabled());
    EXPECT_FALSE(w->aValueChange->isEnabled());
}

// ---------------------------------------------------------------------------
// Changing data

TEST_F(Editors, DoubleClickEditsEachTypeWritesAndRecords)
{
    struct Case {
        const char *name;
        uint32_t code;
        Bytes before;
        QString typed;       // replaces the focused field's text
        const char *dialog;  // object name of the dialog that opens
        QString shown;       // what the focused field showed first
        Bytes after;
        std::string undo;    // the undo log's last line
        QString valueColumn; // the row's Value column afterwards
    };
    const Case cases[] = {
        {"sz", REG_SZ, {'o', 'l', 'd', 0}, "new", "formEditString", "old", {'n', 'e', 'w', 0}, "\"sz\"=\"old\"", "new"},
        {"expand", REG_EXPAND_SZ, {'%', 'X', '%', 0}, "%Y%", "formEditString", "%X%", {'%', 'Y', '%', 0},
         "\"expand\"=hex(2):25,58,25,00", "%Y%"},
        {"dword", REG_DWORD, {0x2A, 0, 0, 0}, "255", "formEditInteger", "42", {0xFF, 0, 0, 0},
         "\"dword\"=dword:0000002A", "0x000000FF (255)"},
        // A big-endian 1 shows 1 everywhere and goes back high byte first.
        {"big", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}, "2", "formEditInteger", "1", {0, 0, 0, 2},
         "\"big\"=hex(5):00,00,00,01", "0x00000002 (2)"},
        {"qword", REG_QWORD, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "5", "formEditInteger", "-1",
         {5, 0, 0, 0, 0, 0, 0, 0}, "\"qword\"=hex(B):FF,FF,FF,FF,FF,FF,FF,FF", "0x0000000000000005 (5)"},
    };
    for (const Case &c : cases)
        writeRaw(c.name, c.code, c.before);
    open();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QString shown, dialogName;
        bool busy = false;
        setNextEditorDriver([&](QDialog &dialog) {
            activate(dialog);
            dialogName = dialog.objectName();
            shown = qobject_cast<QLineEdit *>(focused()) ? qobject_cast<QLineEdit *>(focused())->text() : QString();
            busy = w->ValueListBusy();
            replaceText(c.typed);
            QTest::keyClick(focused(), Qt::Key_Return);
        });
        const size_t records = historyCount();
        doubleClick(QString::fromLatin1(c.name));
        EXPECT_EQ(vt::editors::pendingEditorDrivers(), 0);
        EXPECT_EQ(dialogName.toStdString(), c.dialog);
        EXPECT_EQ(shown, c.shown);
        EXPECT_TRUE(busy) << "the change monitor must leave the list alone while an editor is open";
        EXPECT_FALSE(w->ValueListBusy());
        uint32_t code = 0;
        Bytes bytes;
        ASSERT_TRUE(readRaw(c.name, code, bytes));
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(bytes, c.after);
        EXPECT_EQ(lastUndoLine(), c.undo);
        EXPECT_EQ(row(QString::fromLatin1(c.name))->text(2), c.valueColumn);
        EXPECT_EQ(historyCount(), records + 1);
    }
}

TEST_F(Editors, MultiStringEditorShowsOneEntryPerLine)
{
    writeRaw("multi", REG_MULTI_SZ, {'a', 0, 'b', 0, 0});
    open();
    QString shown;
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        auto *memo = qobject_cast<QPlainTextEdit *>(focused());
        ASSERT_NE(memo, nullptr);
        shown = memo->toPlainText();
        QTest::keyClick(memo, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(memo, Qt::Key_Return);
        QTest::keyClicks(memo, "c");
        clickOK(dialog);
    });
    // Opened by Enter in the list, as the keyboard reaches it.
    select("multi");
    w->lvData->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(shown, "a\nb");
    uint32_t code = 0;
    Bytes bytes;
    ASSERT_TRUE(readRaw("multi", code, bytes));
    EXPECT_EQ(code, uint32_t(REG_MULTI_SZ));
    EXPECT_EQ(bytes, Bytes({'a', 0, 'b', 0, 'c', 0, 0}));
    EXPECT_EQ(lastUndoLine(), "\"multi\"=hex(7):61,00,62,00,00");
}

TEST_F(Editors, CancelAndTypesWithoutEditorWriteAndRecordNothing)
{
    writeRaw("sz", REG_SZ, {'x', 0});
    writeRaw("bin", REG_BINARY, {1, 2});
    open();
    const size_t undo = undoCount(), records = historyCount();
    uint32_t code0 = 0;
    Bytes bytes0;
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        replaceText("changed");
        QTest::keyClick(focused(), Qt::Key_Escape);
    });
    doubleClick("sz");
    // A binary value opens the binary editor; Escape there changes nothing.
    QString opened;
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        opened = dialog.objectName();
        replaceText("ff");
        QTest::keyClick(focused(), Qt::Key_Escape);
    });
    doubleClick("bin");
    EXPECT_EQ(vt::editors::pendingEditorDrivers(), 0);
    EXPECT_EQ(opened, "formEditBinary");
    ASSERT_TRUE(readRaw("bin", code0, bytes0));
    EXPECT_EQ(bytes0, Bytes({1, 2}));
    uint32_t code = 0;
    Bytes bytes;
    ASSERT_TRUE(readRaw("sz", code, bytes));
    EXPECT_EQ(bytes, Bytes({'x', 0}));
    EXPECT_EQ(undoCount(), undo);
    EXPECT_EQ(historyCount(), records);
}

TEST_F(Editors, NumberWhoseDataDoesNotFitItsTypeShowsTheError)
{
    writeRaw("odd", REG_DWORD, {1, 2, 3, 4, 5});
    open();
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    setNextEditorDriver([](QDialog &dialog) { FAIL() << dialog.objectName().toStdString(); });
    doubleClick("odd");
    EXPECT_EQ(vt::editors::pendingEditorDrivers(), 1);
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Error);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("odd")) << vt::i18n::lastMessage().text.toStdString();
    EXPECT_EQ(undoCount(), 0u);
}

TEST_F(Editors, NumberNotMatchingTheHexFieldIsRefusedNotWritten)
{
    writeRaw("dword", REG_DWORD, {7, 0, 0, 0});
    open();
    QString reason;
    bool stayedOpen = false;
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        // Too big for 64 bits: the decimal field does not read, the hex field
        // keeps 7, and OK must not write the 7 the user no longer sees.
        replaceText("99999999999999999999");
        vt::i18n::setNextAnswer(vt::i18n::mrOk);
        QTest::keyClick(focused(), Qt::Key_Return);
        stayedOpen = dialog.isVisible();
        reason = vt::i18n::lastMessage().text;
        QTest::keyClick(focused(), Qt::Key_Escape);
    });
    const size_t undo = undoCount();
    doubleClick("dword");
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(reason.contains("decimal")) << reason.toStdString();
    EXPECT_EQ(undoCount(), undo);
}

TEST_F(Editors, RequirementsListOpensItsWindowAndWritesNothing)
{
    // One list, one Port descriptor 0x3F8-0x3FF, length 8, preferred.
    Bytes data(72, 0);
    data[0] = 72;
    data[28] = 1;   // one alternative list
    data[36] = 1;   // one descriptor
    data[40] = 1;   // preferred
    data[41] = 1;   // port
    data[48] = 8;   // length
    data[52] = 1;   // alignment
    data[56] = 0xF8, data[57] = 0x03;
    data[64] = 0xFF, data[65] = 0x03;
    writeRaw("req", REG_RESOURCE_REQUIREMENTS_LIST, data);
    writeRaw("bad", REG_RESOURCE_REQUIREMENTS_LIST, Bytes(39, 0));
    open();
    QStringList cells;
    bool note = true;
    setNextEditorDriver([&](QDialog &dialog) {
        auto &form = static_cast<vt::editors::TformEditResourceRequirementsList &>(dialog);
        ASSERT_EQ(form.lvList->topLevelItemCount(), 1);
        for (int c = 0; c < 6; ++c)
            cells << form.lvList->topLevelItem(0)->text(c);
        note = form.lblMalformed->isVisible();
        clickOK(dialog);
    });
    w->UpdateActionStates();
    doubleClick("req");
    EXPECT_EQ(cells, QStringList({"Port", "000003F8", "000003FF", "08", "01", "Preferred "}));
    EXPECT_FALSE(note);
    // Malformed data: an empty list with its note, the bytes in the hex view.
    int rows = -1;
    setNextEditorDriver([&](QDialog &dialog) {
        auto &form = static_cast<vt::editors::TformEditResourceRequirementsList &>(dialog);
        rows = form.lvList->topLevelItemCount();
        note = form.lblMalformed->isVisible() && !form.lblMalformed->text().isEmpty();
    });
    doubleClick("bad");
    EXPECT_EQ(rows, 0);
    EXPECT_TRUE(note);
    EXPECT_TRUE(w->lvHexDump->isVisible());
    EXPECT_EQ(w->lvHexDump->DataSize(), 39);
    EXPECT_EQ(undoCount(), 0u);
}

// ---------------------------------------------------------------------------
// Changing the type

TEST_F(Editors, EveryAllowedTypeChangeStoresItsBytes)
{
    struct Case {
        uint32_t code;
        Bytes before;
        QString target; // entry of the type list
        int entry;      // which entry of that name (REG_DWORD comes twice for a number)
        uint32_t codeAfter;
        Bytes after;
    };
    const Bytes dw42 = {0x2A, 0, 0, 0};
    const Bytes sz = {'4', '2', 0};
    auto text = [](const std::string &s) {
        Bytes b(s.begin(), s.end());
        b.push_back(0);
        return b;
    };
    const Case cases[] = {
        {REG_DWORD, dw42, "REG_DWORD_LITTLE_ENDIAN", 0, REG_DWORD, dw42},
        {REG_DWORD, dw42, "REG_DWORD_BIG_ENDIAN", 0, REG_DWORD_BIG_ENDIAN, {0, 0, 0, 0x2A}},
        {REG_DWORD, dw42, "REG_QWORD", 0, REG_QWORD, {0x2A, 0, 0, 0, 0, 0, 0, 0}},
        {REG_DWORD, dw42, "REG_QWORD_LITTLE_ENDIAN", 0, REG_QWORD, {0x2A, 0, 0, 0, 0, 0, 0, 0}},
        {REG_DWORD, dw42, "REG_DWORD", 0, REG_DWORD, dw42},
        {REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0}, "REG_DWORD", 0, REG_DWORD, {0, 1, 0, 0}},
        {REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0}, "REG_QWORD", 0, REG_QWORD, {0, 1, 0, 0, 0, 0, 0, 0}},
        // A 64-bit number made 32-bit keeps its low half.
        {REG_QWORD, {1, 0, 0, 0, 2, 0, 0, 0}, "REG_DWORD", 0, REG_DWORD, {1, 0, 0, 0}},
        {REG_QWORD, {1, 0, 0, 0, 2, 0, 0, 0}, "REG_DWORD", 1, REG_DWORD, {1, 0, 0, 0}},
        {REG_QWORD, {1, 0, 0, 0, 2, 0, 0, 0}, "REG_DWORD_BIG_ENDIAN", 0, REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}},
        {REG_SZ, sz, "REG_EXPAND_SZ", 0, REG_EXPAND_SZ, sz},
        // The text's one line becomes one entry followed by a zero.
        {REG_SZ, sz, "REG_MULTI_SZ", 0, REG_MULTI_SZ, {'4', '2', 0}},
        {REG_EXPAND_SZ, sz, "REG_SZ", 0, REG_SZ, sz},
        {REG_MULTI_SZ, {'a', 0, 'b', 0, 0}, "REG_SZ", 0, REG_SZ, text("a\r\nb\r\n")},
        {REG_MULTI_SZ, {'a', 0, 'b', 0}, "REG_EXPAND_SZ", 0, REG_EXPAND_SZ, text("a\r\nb")},
    };
    int n = 0;
    for (const Case &c : cases)
        writeRaw("v" + std::to_string(n++), c.code, c.before);
    open();
    n = 0;
    for (const Case &c : cases) {
        const std::string name = "v" + std::to_string(n++);
        SCOPED_TRACE(name + " to " + c.target.toStdString());
        QStringList offered;
        bool okBefore = true;
        setNextEditorDriver([&](QDialog &dialog) {
            auto &form = static_cast<vt::editors::TformValueType &>(dialog);
            for (int i = 0; i < form.cbTypeNew->count(); ++i)
                offered << form.cbTypeNew->itemText(i);
            okBefore = form.bnOK->isEnabled();
            int index = -1;
            for (int i = 0, seen = 0; i < form.cbTypeNew->count(); ++i)
                if (form.cbTypeNew->itemText(i) == c.target && seen++ == c.entry)
                    index = i;
            ASSERT_GE(index, 0);
            form.cbTypeNew->setCurrentIndex(index);
            clickOK(dialog);
        });
        select(QString::fromStdString(name));
        runFromValueMenu(w->aValueChangeType);
        EXPECT_FALSE(okBefore) << "OK waits for a type";
        if (c.code == REG_DWORD) {
            EXPECT_EQ(offered, QStringList({"REG_DWORD_LITTLE_ENDIAN", "REG_DWORD_BIG_ENDIAN", "REG_QWORD",
                                            "REG_QWORD_LITTLE_ENDIAN", "REG_DWORD"}));
        }
        uint32_t code = 0;
        Bytes bytes;
        ASSERT_TRUE(readRaw(name, code, bytes));
        EXPECT_EQ(code, c.codeAfter);
        EXPECT_EQ(bytes, c.after);
        // The row follows at once: its type and size as stored.
        EXPECT_EQ(row(QString::fromStdString(name))->text(3), QString::number(c.after.size()));
        EXPECT_EQ(row(QString::fromStdString(name))->text(1),
                  QString::fromStdString(DisplayTypeName(CodeToDataType(c.codeAfter))));
    }
    // No temporary value is left behind, and nothing was recorded.
    EXPECT_EQ(valueNames().size(), std::size(cases));
    EXPECT_EQ(undoCount(), 0u);
    EXPECT_EQ(historyCount(), 0u);
}

TEST_F(Editors, FailedWriteDuringTypeChangePutsTheValueBack)
{
    writeRaw("keep", REG_DWORD, {5, 0, 0, 0});
    open();
    setTypeChangeWriterSeam([](TMyRegistry &, const std::string &name, const std::string &, TRegDataType,
                               TRegDataType) { throw ERegistryException("Failed to write data for '" + name + "'"); });
    setNextEditorDriver([&](QDialog &dialog) {
        auto &form = static_cast<vt::editors::TformValueType &>(dialog);
        form.cbTypeNew->setCurrentIndex(form.cbTypeNew->findText("REG_QWORD"));
        clickOK(dialog);
    });
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    select("keep");
    runFromValueMenu(w->aValueChangeType);
    EXPECT_EQ(valueNames(), std::vector<std::string>({"keep"}));
    uint32_t code = 0;
    Bytes bytes;
    ASSERT_TRUE(readRaw("keep", code, bytes));
    EXPECT_EQ(code, uint32_t(REG_DWORD));
    EXPECT_EQ(bytes, Bytes({5, 0, 0, 0}));
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("Failed to write data for 'keep'"));
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Error);
}

// ---------------------------------------------------------------------------
// New values

TEST_F(Editors, NewValueOfEveryTypeIsEmptyRecordedAndEdited)
{
    struct Case {
        QAction *TformMain::*action;
        const char *proposal;
        bool warns;
        const char *editor; // the dialog that opens after creation, or none
        uint32_t code;
        Bytes bytes;
    };
    const Case cases[] = {
        {&TformMain::aValueAddString, "New string #1", false, "formEditString", REG_SZ, {0}},
        {&TformMain::aValueAddExpandString, "New string #2", false, "formEditString", REG_EXPAND_SZ, {0}},
        {&TformMain::aValueAddMultiString, "New string #3", false, "formEditMultiString", REG_MULTI_SZ, {0}},
        {&TformMain::aValueAddInteger, "New numeric #1", false, "formEditInteger", REG_DWORD, {0, 0, 0, 0}},
        {&TformMain::aValueAddLEInteger, "New numeric #2", false, "formEditInteger", REG_DWORD, {0, 0, 0, 0}},
        {&TformMain::aValueAddBEInteger, "New numeric #3", false, "formEditInteger", REG_DWORD_BIG_ENDIAN,
         {0, 0, 0, 0}},
        {&TformMain::aValueAddInt64, "New numeric #4", false, "formEditInteger", REG_QWORD, Bytes(8, 0)},
        {&TformMain::aValueAddLEInt64, "New numeric #5", false, "formEditInteger", REG_QWORD, Bytes(8, 0)},
        // Bytes are all these types have: their editor is the binary one.
        {&TformMain::aValueAddBinary, "New binary data #1", false, "formEditBinary", REG_BINARY, {}},
        {&TformMain::aValueAddLink, "New binary data #2", true, "formEditBinary", REG_LINK, {}},
        {&TformMain::aValueAddResourceList, "New binary data #3", true, nullptr, REG_RESOURCE_LIST, {}},
        {&TformMain::aValueAddFullResourceDescriptor, "New binary data #4", true, nullptr,
         REG_FULL_RESOURCE_DESCRIPTOR, {}},
        {&TformMain::aValueAddResourceRequirementsList, "New binary data #5", true, "formEditResourceRequirementsList",
         REG_RESOURCE_REQUIREMENTS_LIST, {}},
        {&TformMain::aValueAddNone, "New binary data #6", true, "formEditBinary", REG_NONE, {}},
    };
    open();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.proposal);
        QAction *action = (*w).*c.action;
        if (c.warns) {
            // No at the warning creates nothing.
            vt::i18n::setNextAnswer(vt::i18n::mrNo);
            runFromValueMenu(action);
            EXPECT_EQ(vt::i18n::pendingAnswers(), 0);
            EXPECT_TRUE(vt::i18n::lastMessage().text.startsWith("Vantrel can add a value of this type"));
            EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Confirmation);
            vt::i18n::setNextAnswer(vt::i18n::mrYes);
        }
        // The proposal is accepted as it stands.
        vt::i18n::setNextPromptAnswer(QString::fromLatin1(c.proposal));
        QString opened;
        setNextEditorDriver([&](QDialog &dialog) {
            opened = dialog.objectName();
            dialog.reject();
        });
        const size_t records = historyCount();
        runFromValueMenu(action);
        EXPECT_EQ(vt::i18n::lastPrompt().proposed.toStdString(), c.proposal);
        EXPECT_EQ(vt::i18n::lastPrompt().maxLength, vt::i18n::PromptValueNameLength);
        EXPECT_EQ(opened.toStdString(), c.editor ? c.editor : "");
        if (!c.editor)
            vt::editors::clearEditorDrivers();
        uint32_t code = 0;
        Bytes bytes;
        ASSERT_TRUE(readRaw(c.proposal, code, bytes));
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(bytes, c.bytes);
        EXPECT_EQ(historyCount(), records + 1);
        ASSERT_NE(row(QString::fromLatin1(c.proposal)), nullptr);
        EXPECT_TRUE(row(QString::fromLatin1(c.proposal))->isSelected());
    }
    EXPECT_EQ(undoCount(), 0u) << "a new value writes no change-log lines";
}

TEST_F(Editors, NewValueNameThatExistsIsAskedAgain)
{
    writeRaw("Taken", REG_SZ, {0});
    writeRaw("", REG_SZ, {'d', 0});
    open();
    // "taken" differs only in case; the empty name would empty the key's
    // default value. Both are asked again; Cancel then ends it.
    vt::i18n::setNextPromptAnswer(QString("taken"));
    vt::i18n::setNextPromptAnswer(QString());
    vt::i18n::setNextPromptAnswer(std::nullopt);
    runFromValueMenu(w->aValueAddBinary);
    EXPECT_EQ(vt::i18n::pendingAnswers(), 0);
    EXPECT_EQ(vt::i18n::lastPrompt().proposed, QString());
    EXPECT_EQ(valueNames(), std::vector<std::string>({"", "Taken"}));
    uint32_t code = 0;
    Bytes bytes;
    ASSERT_TRUE(readRaw("", code, bytes));
    EXPECT_EQ(bytes, Bytes({'d', 0}));
    EXPECT_EQ(historyCount(), 0u);
}

TEST_F(Editors, EmptyNameCreatesTheDefaultValueWhenTheKeyHasNone)
{
    open();
    vt::i18n::setNextPromptAnswer(QString());
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        QTest::keyClicks(focused(), "hello");
        clickOK(dialog);
    });
    runFromValueMenu(w->aValueAddString);
    uint32_t code = 0;
    Bytes bytes;
    ASSERT_TRUE(readRaw("", code, bytes));
    EXPECT_EQ(bytes, Bytes({'h', 'e', 'l', 'l', 'o', 0}));
    EXPECT_EQ(row("(Default)")->text(2), "hello");
}

TEST_F(Editors, NewValueTakesALongName)
{
    open();
    const QString name(vt::i18n::PromptValueNameLength, QLatin1Char('n'));
    vt::i18n::setNextPromptAnswer(name);
    setNextEditorDriver([](QDialog &dialog) { dialog.reject(); });
    runFromValueMenu(w->aValueAddBinary);
    EXPECT_EQ(valueNames(), std::vector<std::string>({name.toStdString()}));
}

TEST_F(Editors, ProposalTakesTheNextFreeNumber)
{
    writeRaw("New string #1", REG_SZ, {0});
    open();
    vt::i18n::setNextPromptAnswer(std::nullopt);
    runFromValueMenu(w->aValueAddString);
    EXPECT_EQ(vt::i18n::lastPrompt().proposed, "New string #2");
    EXPECT_EQ(vt::i18n::lastPrompt().title, "New string value");
    EXPECT_EQ(vt::i18n::lastPrompt().caption, "Please enter a name for the new string value:");
}

// ---------------------------------------------------------------------------
// Binary data and the hex view

TEST_F(Editors, ModifyBinaryDataWritesTheBytesAndRecords)
{
    writeRaw("bin", REG_BINARY, {1, 2});
    writeRaw("link", REG_LINK, {3});
    open();
    Bytes shown;
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        auto *hex = qobject_cast<vt::editors::THexEdit *>(focused());
        ASSERT_NE(hex, nullptr);
        shown = hex->Data();
        replaceText("0a 0B");
        QTest::keyClick(focused(), Qt::Key_Return);
        QTest::keyClicks(focused(), "0c");
        clickOK(dialog);
    });
    select("bin");
    runFromValueMenu(w->aValueModifyBinary);
    EXPECT_EQ(shown, Bytes({1, 2}));
    uint32_t code = 0;
    Bytes bytes;
    ASSERT_TRUE(readRaw("bin", code, bytes));
    EXPECT_EQ(code, uint32_t(REG_BINARY));
    EXPECT_EQ(bytes, Bytes({0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(lastUndoLine(), "\"bin\"=hex:01,02");
    EXPECT_EQ(historyCount(), 1u);
    EXPECT_EQ(row("bin")->text(2), "0A 0B 0C");
    EXPECT_EQ(w->lvHexDump->DataSize(), 3);

    // Keys that are no hex digits are not taken; the type code stays.
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        replaceText("zG f");
        QTest::keyClicks(focused(), "F");
        clickOK(dialog);
    });
    select("link");
    runFromValueMenu(w->aValueModifyBinary);
    ASSERT_TRUE(readRaw("link", code, bytes));
    EXPECT_EQ(code, uint32_t(REG_LINK));
    EXPECT_EQ(bytes, Bytes({0xFF}));
    EXPECT_EQ(lastUndoLine(), "\"link\"=hex(6):03");
}

TEST_F(Editors, BinaryEditorDeclinesValuesTooBigForIt)
{
    writeRaw("huge", REG_BINARY, Bytes(vt::editors::TformEditBinary::MaxBytes + 1, 7));
    open();
    setNextEditorDriver([](QDialog &dialog) { FAIL() << dialog.objectName().toStdString(); });
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    select("huge");
    runFromValueMenu(w->aValueModifyBinary);
    EXPECT_EQ(vt::editors::pendingEditorDrivers(), 1);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("at most")) << vt::i18n::lastMessage().text.toStdString();
    EXPECT_EQ(undoCount(), 0u);
}

TEST_F(Editors, HexViewShowsTheSelectedValuesBytes)
{
    writeRaw("bin", REG_BINARY, {'A', 'B', 0, 0x7F, 1, 2, 3, 4, 5});
    writeRaw("dword", REG_DWORD, {1, 0, 0, 0});
    open();
    select("bin");
    ASSERT_TRUE(w->lvHexDump->isVisible());
    EXPECT_EQ(w->lvHexDump->DataSize(), 9);
    QString pos, dump, text;
    w->lvHexDump->RowTexts(0, pos, dump, text);
    EXPECT_EQ(pos, "00000000");
    EXPECT_TRUE(dump.startsWith("4142007F 01020304 05")) << dump.toStdString();
    EXPECT_TRUE(text.startsWith(QStringLiteral("AB.\u007F"))) << text.toStdString();
    select("dword");
    EXPECT_FALSE(w->lvHexDump->isVisible());
    EXPECT_EQ(w->lvHexDump->DataSize(), 0);
}

// ---------------------------------------------------------------------------
// Faults met in use

// Double click or Enter on the types shown as bytes opens the binary editor;
// what it writes is recorded like any change.
TEST_F(Editors, BytesTypesOpenTheBinaryEditor)
{
    struct Case {
        const char *name;
        uint32_t code;
        bool byEnter;
        std::string undo;
    };
    const Case cases[] = {
        {"bin", REG_BINARY, false, "\"bin\"=hex:01"},
        {"none", REG_NONE, true, "\"none\"=hex(0):01"},
        {"link", REG_LINK, false, "\"link\"=hex(6):01"},
    };
    for (const Case &c : cases)
        writeRaw(c.name, c.code, {1});
    open();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QString opened;
        setNextEditorDriver([&](QDialog &dialog) {
            activate(dialog);
            opened = dialog.objectName();
            replaceText("0a 0b");
            clickOK(dialog);
        });
        if (c.byEnter) {
            select(QString::fromLatin1(c.name));
            QTest::keyClick(w->lvData, Qt::Key_Return);
        } else {
            doubleClick(QString::fromLatin1(c.name));
        }
        EXPECT_EQ(opened, "formEditBinary");
        uint32_t code = 0;
        Bytes bytes;
        ASSERT_TRUE(readRaw(c.name, code, bytes));
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(bytes, Bytes({0x0A, 0x0B}));
        EXPECT_EQ(lastUndoLine(), c.undo);
    }
}

// A decimal number too big for a DWORD is refused with the reason, not cut
// to its low 32 bits.
TEST_F(Editors, DecimalDwordOverflowIsRefused)
{
    writeRaw("dword", REG_DWORD, {7, 0, 0, 0});
    open();
    bool stayedOpen = false;
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        replaceText("99999999999");
        vt::i18n::setNextAnswer(vt::i18n::mrOk);
        clickOK(dialog);
        stayedOpen = dialog.isVisible();
        dialog.reject();
    });
    doubleClick("dword");
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("does not fit in 32 bits"))
        << vt::i18n::lastMessage().text.toStdString();
    uint32_t code = 0;
    Bytes bytes;
    ASSERT_TRUE(readRaw("dword", code, bytes));
    EXPECT_EQ(bytes, Bytes({7, 0, 0, 0}));
    EXPECT_EQ(undoCount(), 0u);
}

// A value made with New and then given data, then changed: the undo log
// takes both back, newest first, to no value at all; the redo log makes
// them again. Checked against the registry.
TEST_F(Editors, NewValueThenChangesUndoToNoValue)
{
    open();
    auto typeInEditor = [&](const QString &text) {
        setNextEditorDriver([text](QDialog &dialog) {
            activate(dialog);
            replaceText(text);
            clickOK(dialog);
        });
    };
    vt::i18n::setNextPromptAnswer(QString("U"));
    typeInEditor("1");
    runFromValueMenu(w->aValueAddString);
    typeInEditor("2");
    doubleClick("U");
    uint32_t code = 0;
    Bytes bytes;
    ASSERT_TRUE(readRaw("U", code, bytes));
    EXPECT_EQ(bytes, Bytes({'2', 0}));
    EXPECT_EQ(lastUndoLine(), "\"U\"=\"1\"") << "the newest change is at the top";

    w->aChangeLogUndoApply->trigger();
    EXPECT_FALSE(readRaw("U", code, bytes)) << "undone to no value, not to the empty data New wrote";
    w->aChangeLogRedoApply->trigger();
    ASSERT_TRUE(readRaw("U", code, bytes));
    EXPECT_EQ(bytes, Bytes({'2', 0}));

    // A number made with New undoes to no value too.
    vt::i18n::setNextPromptAnswer(QString("N"));
    typeInEditor("5");
    runFromValueMenu(w->aValueAddInteger);
    EXPECT_EQ(lastUndoLine(), "\"N\"=-");
}

