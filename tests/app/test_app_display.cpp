// What the main window shows, driven as a person drives it: key paths typed
// with short or differently cased root names wherever a path is typed, and
// displays that must not go stale (progress bar, hex view, last-write time)
// or open too small (hex view).

#include "app/FormUnitMain.h"
#include "app/kltConfig.h"
#include "app/vtCommandLine.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "editors/gui/vzoHexView.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/gui/RegFileActions.h"
#include "tests/support/TempSystem.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace vt::app;

namespace
{

class Display : public ::testing::Test
{
protected:
    vt::test::TempSystem sys;
    std::unique_ptr<TformMain> w;

    void SetUp() override
    {
        ASSERT_EQ(sys.openResult(), ERROR_SUCCESS);
        SetProgramCommandLine({});
        vt::i18n::clearAnswers();
    }
    void TearDown() override
    {
        w.reset();
        SetProgramCommandLine({});
        vt::i18n::clearAnswers();
        vt::regfile::setFileDialogSeam(nullptr);
    }
    void makeWindow()
    {
        w = std::make_unique<TformMain>();
        w->resize(900, 640);
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    QString selectedPath() const
    {
        if (!w->tvKeys->currentItem())
            return {};
        HKEY root;
        std::string keyPath;
        int view;
        QString treePath;
        w->GetSelectedKey(root, keyPath, view, treePath);
        return treePath;
    }
    QTreeWidgetItem *row(const QString &caption) const
    {
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            if (w->lvData->topLevelItem(i)->text(0) == caption)
                return w->lvData->topLevelItem(i);
        return nullptr;
    }
    void click(QTreeWidget *view, QTreeWidgetItem *item)
    {
        view->scrollToItem(item);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(item).center());
    }
    static void writeValue(const std::string &path, const std::string &name, uint32_t code,
                           const std::vector<uint8_t> &bytes)
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(path, true)) << path;
        reg.writeValue(name, code, bytes);
    }
};

// ---------------------------------------------------------------------------
// Root names as people type them

struct Typed {
    const char *text;
    const char *selected;
};

const Typed kTyped[] = {
    {"HKCU\\Software\\VtTyped\\Deep", "My Computer\\HKEY_CURRENT_USER\\Software\\VtTyped\\Deep"},
    {"hkcu\\software\\vttyped\\deep\\", "My Computer\\HKEY_CURRENT_USER\\Software\\VtTyped\\Deep"},
    {"My Computer\\HkCu\\Software\\VtTyped", "My Computer\\HKEY_CURRENT_USER\\Software\\VtTyped"},
    {"hkey_current_user\\Software\\VtTyped", "My Computer\\HKEY_CURRENT_USER\\Software\\VtTyped"},
    {"HKLM\\SOFTWARE", "My Computer\\HKEY_LOCAL_MACHINE\\SOFTWARE"},
    {"hklm", "My Computer\\HKEY_LOCAL_MACHINE"},
    {"HKCR", "My Computer\\HKEY_CLASSES_ROOT"},
    {"hkcc", "My Computer\\HKEY_CURRENT_CONFIG"},
    {"HKUS", "My Computer\\HKEY_USERS"},
    {"hku", "My Computer\\HKEY_USERS"},
    {"HKX\\Software", ""},
};

// The address box and Jump take HKCU, hklm, HKU... as the tree's full root
// names; a name that is no root selects nothing.
TEST_F(Display, AddressBoxAndJumpTakeShortRootNamesInAnyCase)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtTyped\\Deep"));
    makeWindow();
    for (const Typed &c : kTyped) {
        SCOPED_TRACE(c.text);
        w->GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software"));
        const QString start = selectedPath();
        const QString want = *c.selected ? QString::fromUtf8(c.selected) : start;

        w->cbAddress->setFocus(Qt::MouseFocusReason);
        w->cbAddress->clearEditText();
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        QTest::keyClicks(QApplication::focusWidget(), QString::fromUtf8(c.text));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_EQ(selectedPath(), want) << "address box";

        w->GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software"));
        w->tvKeys->setFocus(Qt::MouseFocusReason);
        vt::i18n::setNextPromptAnswer(QString::fromUtf8(c.text));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_J, Qt::ControlModifier);
        EXPECT_EQ(vt::i18n::pendingAnswers(), 0) << "Ctrl+J asked for a key";
        EXPECT_EQ(selectedPath(), want) << "Jump to key";
    }
}

// The window's command line jumps to a key named with a short root, and a
// search started there runs below that key.
TEST_F(Display, CommandLineTakesShortRootNames)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtTyped\\Deep"));
    for (const Typed &c : kTyped) {
        if (!*c.selected)
            continue;
        SCOPED_TRACE(c.text);
        SetProgramCommandLine(ParseCommandLine({QString::fromUtf8(c.text)}));
        makeWindow();
        EXPECT_EQ(selectedPath(), QString::fromUtf8(c.selected));
        w.reset();
    }
    const TCommandLine search =
        ParseCommandLine({QStringLiteral("hkcu\\Software\\VtTyped"), QStringLiteral("x"), QStringLiteral("/search")});
    ASSERT_TRUE(search.search);
    EXPECT_EQ(search.search->root, HKEY_CURRENT_USER);
    EXPECT_EQ(search.search->keyPath, "\\Software\\VtTyped");
    const TCommandLine rootOnly =
        ParseCommandLine({QStringLiteral("HKU"), QStringLiteral("x"), QStringLiteral("/search")});
    ASSERT_TRUE(rootOnly.search);
    EXPECT_EQ(rootOnly.search->root, HKEY_USERS);
    EXPECT_EQ(rootOnly.search->keyPath, "");
}

// ---------------------------------------------------------------------------
// Displays that must not go stale

// Expanding a node by its expander lists its subkeys with the progress bar
// running; the bar is empty again afterwards, though no value list follows.
TEST_F(Display, ProgressBarIsEmptyAfterAnExpansion)
{
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtProgress\\Branch\\Leaf" + std::to_string(i)));
    makeWindow();
    w->GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\VtProgress"));
    QTreeWidgetItem *current = w->tvKeys->currentItem();
    ASSERT_NE(current, nullptr);
    ASSERT_EQ(current->childCount(), 1);
    QTreeWidgetItem *branch = current->child(0);
    current->setExpanded(true);
    ASSERT_EQ(branch->childCount(), 0) << "not listed yet";
    w->tvKeys->scrollToItem(branch);
    const QRect rect = w->tvKeys->visualItemRect(branch);
    QTest::mouseClick(w->tvKeys->viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() - w->tvKeys->indentation() / 2, rect.center().y()));
    ASSERT_TRUE(branch->isExpanded()) << "the expander was clicked";
    ASSERT_EQ(branch->childCount(), 6);
    EXPECT_EQ(w->tvKeys->currentItem(), current) << "the expander does not select";
    EXPECT_GT(w->pg->maximum(), w->pg->minimum());
    EXPECT_EQ(w->pg->value(), w->pg->minimum()) << "the bar stayed full after the expansion";
}

// A value dragged to another key leaves this one: the hex view that showed
// its bytes lets go of them.
TEST_F(Display, HexViewLetsGoOfAValueDraggedAway)
{
    writeValue("\\Software\\VtHexDrag", "Blob", REG_BINARY, {1, 2, 3, 4, 5});
    writeValue("\\Software\\VtHexDrag", "Keep", REG_SZ, {'k', 0});
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtHexDrag\\Target"));
    makeWindow();
    w->GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\VtHexDrag"));
    QTreeWidgetItem *source = w->tvKeys->currentItem();
    ASSERT_NE(source, nullptr);
    source->setExpanded(true);
    QTreeWidgetItem *target = source->child(0);
    ASSERT_NE(target, nullptr);
    QTreeWidgetItem *blob = row(QStringLiteral("Blob"));
    ASSERT_NE(blob, nullptr);
    click(w->lvData, blob);
    ASSERT_TRUE(w->lvHexDump->isVisible());
    ASSERT_EQ(w->lvHexDump->DataSize(), 5);

    // The drop as the tree's viewport receives it at the end of the drag.
    std::unique_ptr<QMimeData> mime(w->CreateDragData(w->lvData));
    ASSERT_NE(mime, nullptr);
    w->tvKeys->scrollToItem(target);
    const QPoint at = w->tvKeys->visualItemRect(target).center();
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w->tvKeys->viewport(), &enter);
    QDragMoveEvent move(at, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w->tvKeys->viewport(), &move);
    QDropEvent drop(at, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w->tvKeys->viewport(), &drop);

    ASSERT_TRUE(ValueExistsAt(HKEY_CURRENT_USER, "\\Software\\VtHexDrag\\Target", "Blob", 0)) << "moved";
    ASSERT_FALSE(ValueExistsAt(HKEY_CURRENT_USER, "\\Software\\VtHexDrag", "Blob", 0));
    EXPECT_EQ(row(QStringLiteral("Blob")), nullptr);
    EXPECT_NE(row(QStringLiteral("Keep")), nullptr);
    EXPECT_FALSE(w->lvHexDump->isVisible()) << "the hex view still shows the value that left";
    EXPECT_EQ(w->lvHexDump->DataSize(), 0);
}

// A key of a registry file has no last-write time: selecting one after a
// local key shows none, not the local key's.
TEST_F(Display, RegistryFileKeyShowsNoLocalLastWriteTime)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtStamp"));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("stamp.reg"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\VtFileKey]\r\n\"A\"=\"1\"\r\n\r\n");
    }
    makeWindow();
    w->GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\VtStamp"));
    ASSERT_TRUE(w->StatusText(1).startsWith(QStringLiteral("Last write access: ")));

    vt::regfile::setFileDialogSeam([&](QFileDialog &) {
        return std::optional<vt::regfile::TFileChoice>(vt::regfile::TFileChoice{file, 1});
    });
    ASSERT_TRUE(w->aFileOpenReg->isEnabled());
    w->aFileOpenReg->trigger();
    QTreeWidgetItem *fileKey = nullptr;
    for (int i = 0; i < w->tvKeys->topLevelItemCount() && !fileKey; ++i) {
        QTreeWidgetItem *top = w->tvKeys->topLevelItem(i);
        if (top->text(0) != QStringLiteral("stamp.reg"))
            continue;
        const QList<QTreeWidgetItem *> found =
            w->tvKeys->findItems(QStringLiteral("VtFileKey"), Qt::MatchExactly | Qt::MatchRecursive);
        for (QTreeWidgetItem *item : found)
            if (w->GetTreeKind(item) == 2)
                fileKey = item;
    }
    ASSERT_NE(fileKey, nullptr);
    for (QTreeWidgetItem *up = fileKey->parent(); up; up = up->parent())
        up->setExpanded(true);
    click(w->tvKeys, fileKey);
    ASSERT_EQ(w->tvKeys->currentItem(), fileKey);
    EXPECT_NE(row(QStringLiteral("A")), nullptr) << "the file's values are listed";
    EXPECT_EQ(w->StatusText(1), QString()) << "the local key's time stayed";
}

// The hex view opens tall enough to read several rows: without a stored
// height, and with the 40 pixels earlier runs stored.
TEST_F(Display, HexViewOpensAtAReadableHeight)
{
    writeValue("\\Software\\VtHexHeight", "Blob", REG_BINARY, std::vector<uint8_t>(4096, 0xAB));
    for (const int stored : {0, 40}) {
        SCOPED_TRACE(stored);
        if (stored)
            ASSERT_TRUE(ConfigManager().WriteInteger("HexDumpSize", stored));
        makeWindow();
        w->GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\VtHexHeight"));
        QTreeWidgetItem *blob = row(QStringLiteral("Blob"));
        ASSERT_NE(blob, nullptr);
        click(w->lvData, blob);
        ASSERT_TRUE(w->lvHexDump->isVisible());
        EXPECT_GE(w->lvHexDump->VisibleRows(), 4) << "height " << w->lvHexDump->height();
        EXPECT_GE(w->lvData->height(), w->lvHexDump->height() / 2) << "the list keeps its room";
        w.reset();
    }
}

} // namespace
