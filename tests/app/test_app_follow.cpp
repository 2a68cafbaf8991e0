// What the window shows follows the tree's current node, whatever moved it,
// and commands act on the key that is listed; keys dragged inside the tree
// drop; the class jumps land on the node the tree shows, in its sorted
// place; imports say what they did and show it in the tree. Driven as a
// person drives the window: keys to the focused control, mouse presses and
// moves on the views, commands through their actions.

#include "app/FormUnitMain.h"
#include "app/vtCommandLine.h"
#include "core/kltRegTools.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "knowledge/PathPlaceholders.h"
#include "platform/vtPlatform.h"
#include "regfile/gui/FormUnitImportProgress.h"
#include "regfile/gui/RegFileActions.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using namespace vt::app;

namespace
{

const std::string Base = "\\Software\\VtFollow";

// The view's own interaction state (pressed, dragging, ...), which decides
// what its next mouse event does.
struct ViewPeek : QAbstractItemView {
    static int stateOf(QAbstractItemView *view) { return int((view->*(&ViewPeek::state))()); }
    static constexpr int Idle = NoState;
};

class Follow : public ::testing::Test
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
        EXPECT_EQ(vt::i18n::pendingAnswers(), 0) << "a question expected was not asked";
        vt::i18n::clearAnswers();
        vt::regfile::setFileDialogSeam(nullptr);
        w.reset();
        vt::platform::closeSystem();
    }
    void makeWindow()
    {
        w = std::make_unique<TformMain>();
        w->resize(900, 700);
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    // view: 0 default, 1 the 32-bit view, 2 the 64-bit view.
    static void write(HKEY root, const std::string &path, const std::string &name, const std::string &text,
                      int view = 0)
    {
        TMyRegistry64 reg;
        reg.SetViewMode(std::uint8_t(view));
        reg.SetRootKey(root);
        ASSERT_TRUE(reg.OpenKey(path, true)) << path;
        reg.WriteString(name, text);
    }
    static std::string read(const std::string &path, const std::string &name)
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        if (!reg.OpenKeyReadOnly(path) || !reg.ValueExists(name))
            return "<missing>";
        return reg.ReadString(name);
    }
    QWidget *focusOn(QWidget *widget)
    {
        widget->setFocus();
        QApplication::processEvents();
        return QApplication::focusWidget();
    }
    QTreeWidgetItem *current() const { return w->tvKeys->currentItem(); }
    QTreeWidgetItem *child(QTreeWidgetItem *parent, const QString &name) const
    {
        for (int i = 0; parent && i < parent->childCount(); ++i)
            if (parent->child(i)->text(0) == name)
                return parent->child(i);
        return nullptr;
    }
    QStringList captions(QTreeWidgetItem *parent) const
    {
        QStringList list;
        for (int i = 0; parent && i < parent->childCount(); ++i)
            list << parent->child(i)->text(0);
        return list;
    }
    QTreeWidgetItem *row(const QString &caption) const
    {
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            if (w->lvData->topLevelItem(i)->text(0) == caption)
                return w->lvData->topLevelItem(i);
        return nullptr;
    }
    QPoint at(QTreeWidgetItem *node) const
    {
        w->tvKeys->scrollToItem(node);
        return w->tvKeys->visualItemRect(node).center();
    }
    // Everything that shows the key agrees with the current node.
    void expectFollows(const std::string &what) const
    {
        SCOPED_TRACE(what);
        QTreeWidgetItem *node = current();
        ASSERT_NE(node, nullptr);
        HKEY root = nullptr;
        int view = 0;
        QString treePath;
        std::string keyPath;
        w->GetNodeKey(node, root, view, treePath, keyPath);
        EXPECT_EQ(w->StatusText(0), treePath);
        EXPECT_EQ(w->cbAddress->currentText(), treePath);
        if (node == w->MyComputerNode()) {
            EXPECT_FALSE(w->ListedKey().valid);
            EXPECT_EQ(w->lvData->topLevelItemCount(), 0);
            return;
        }
        ASSERT_TRUE(w->ListedKey().valid);
        EXPECT_EQ(w->ListedKey().root, root);
        EXPECT_EQ(w->ListedKey().keyPath, keyPath);
        EXPECT_EQ(w->ListedKey().viewMode, view);
        if (node->parent() && node->parent()->text(0) == QStringLiteral("VtFollow") &&
            node->text(0).startsWith(QStringLiteral("Key"))) {
            EXPECT_TRUE(w->StatusText(1).startsWith(QStringLiteral("Last write access: ")))
                << w->StatusText(1).toStdString();
            QTreeWidgetItem *v = row(QStringLiteral("V"));
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(v->text(2), QStringLiteral("in ") + node->text(0));
        }
    }
    void makeKeys(int count)
    {
        for (int i = 0; i < count; ++i) {
            const std::string name = QStringLiteral("Key%1").arg(i, 5, 10, QLatin1Char('0')).toStdString();
            write(HKEY_CURRENT_USER, Base + "\\" + name, "V", "in " + name);
        }
    }
    bool sendDrag(QEvent::Type type, QTreeWidgetItem *over, QMimeData *mime)
    {
        const QPoint p = at(over);
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        if (type == QEvent::DragEnter) {
            QDragEnterEvent e(p, actions, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(w->tvKeys->viewport(), &e);
            return e.isAccepted();
        }
        if (type == QEvent::DragMove) {
            QDragMoveEvent e(p, actions, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(w->tvKeys->viewport(), &e);
            return e.isAccepted();
        }
        QDropEvent e(p, actions, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w->tvKeys->viewport(), &e);
        return e.isAccepted();
    }
};

} // namespace

// ---------------------------------------------------------------------------
// The list, the address box, the time and the commands follow the node

TEST_F(Follow, EveryWayOfMovingTheNodeMovesTheList)
{
    makeKeys(40);
    makeWindow();
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Base + "\\Key00000"));
    expectFollows("jump");
    QWidget *tree = focusOn(w->tvKeys);
    ASSERT_EQ(tree, w->tvKeys);

    struct Move {
        const char *what;
        std::function<void()> act;
    };
    const Move moves[] = {
        {"PageDown", [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown); }},
        {"PageDown again", [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown); }},
        {"PageUp", [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp); }},
        {"type-ahead", [&] { QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Key00028")); }},
        {"End", [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_End); }},
        {"Home", [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home); }},
        {"press on a node",
         [&] {
             QTreeWidgetItem *target =
                 child(w->tvKeys->findItems(QStringLiteral("VtFollow"), Qt::MatchRecursive | Qt::MatchExactly).value(0),
                       QStringLiteral("Key00013"));
             ASSERT_NE(target, nullptr);
             QTest::mousePress(w->tvKeys->viewport(), Qt::LeftButton, {}, at(target));
         }},
        {"and drag on over the others",
         [&] {
             QTreeWidgetItem *target = current()->parent()->child(17);
             QTest::mouseMove(w->tvKeys->viewport(), at(target));
             QTest::mouseMove(w->tvKeys->viewport(), at(target) + QPoint(0, 3));
             QTest::mouseRelease(w->tvKeys->viewport(), Qt::LeftButton, {}, at(target) + QPoint(0, 3));
         }},
        {"Down", [&] { QTest::keyClick(focusOn(w->tvKeys), Qt::Key_Down); }},
        {"code", [&] { w->tvKeys->setCurrentItem(current()->parent()->child(5)); }},
    };
    for (const Move &m : moves) {
        QTreeWidgetItem *before = current();
        m.act();
        QApplication::processEvents();
        if (std::string(m.what) != "and drag on over the others") {
            EXPECT_NE(current(), before) << m.what << ": the move must move the node for this test";
        }
        expectFollows(m.what);
    }
}

// Delete in the list removes the value of the key the list shows: the node
// PageDown reached, listed at once, not the one listed before.
TEST_F(Follow, DeleteAfterPageDownDeletesFromTheListedKey)
{
    makeKeys(40);
    makeWindow();
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Base + "\\Key00000"));
    QTest::keyClick(focusOn(w->tvKeys), Qt::Key_PageDown);
    const QString reached = current()->text(0);
    ASSERT_NE(reached, QStringLiteral("Key00000"));
    ASSERT_NE(row(QStringLiteral("V")), nullptr);
    EXPECT_EQ(row(QStringLiteral("V"))->text(2), QStringLiteral("in ") + reached);

    w->lvData->setCurrentItem(row(QStringLiteral("V")));
    vt::i18n::setNextAnswer(vt::i18n::mrYes);
    QTest::keyClick(focusOn(w->lvData), Qt::Key_Delete);
    EXPECT_EQ(read(Base + "\\" + reached.toStdString(), "V"), "<missing>");
    EXPECT_EQ(read(Base + "\\Key00000", "V"), "in Key00000");
    EXPECT_EQ(row(QStringLiteral("V")), nullptr);
}

// ---------------------------------------------------------------------------
// Dragging a key inside the tree

TEST_F(Follow, KeyDraggedInsideTheTreeDrops)
{
    write(HKEY_CURRENT_USER, Base + "\\Src", "s", "1");
    write(HKEY_CURRENT_USER, Base + "\\Src\\Child", "c", "2");
    write(HKEY_CURRENT_USER, Base + "\\Dst", "d", "3");
    makeWindow();
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Base + "\\Src\\Child"));
    QTreeWidgetItem *childNode = current();
    QTreeWidgetItem *src = childNode->parent();
    QTreeWidgetItem *parent = src->parent();
    QTreeWidgetItem *dst = child(parent, QStringLiteral("Dst"));
    ASSERT_NE(dst, nullptr);

    // Press on the key and move: the tree starts the drag, and once it is
    // over the tree is no longer pressed or dragging, so the next click
    // selects as any click does.
    const int drags = w->DragsStarted();
    QTest::mousePress(w->tvKeys->viewport(), Qt::LeftButton, {}, at(src));
    EXPECT_EQ(current(), src);
    QTest::mouseMove(w->tvKeys->viewport(), at(src) + QPoint(1, 0));
    QTest::mouseMove(w->tvKeys->viewport(), at(src) + QPoint(2 * QApplication::startDragDistance() + 4, 0));
    EXPECT_EQ(w->DragsStarted(), drags + 1);
    EXPECT_EQ(ViewPeek::stateOf(w->tvKeys), ViewPeek::Idle) << "the drag left the tree pressed";
    QTest::mouseClick(w->tvKeys->viewport(), Qt::LeftButton, {}, at(dst));
    EXPECT_EQ(current(), dst);
    expectFollows("click after the drag");

    // The drag enters over the dragged node: taken in; each move decides.
    w->SelectNode(src);
    std::unique_ptr<QMimeData> mime(w->CreateDragData(w->tvKeys));
    EXPECT_TRUE(sendDrag(QEvent::DragEnter, src, mime.get())) << "the drag's own start refused";
    struct Over {
        QTreeWidgetItem *node;
        bool allowed;
        const char *what;
    };
    for (const Over &o : {Over{src, false, "itself"}, Over{childNode, false, "its subtree"},
                          Over{parent, false, "its own parent"}, Over{dst, true, "another key"}})
        EXPECT_EQ(sendDrag(QEvent::DragMove, o.node, mime.get()), o.allowed) << o.what;
    EXPECT_EQ(w->StatusText(0), QStringLiteral("Moving key Src into Dst..."));
    EXPECT_TRUE(sendDrag(QEvent::Drop, dst, mime.get()));
    QDragLeaveEvent leave;
    QApplication::sendEvent(w->tvKeys->viewport(), &leave);

    EXPECT_EQ(read(Base + "\\Dst\\Src", "s"), "1");
    EXPECT_EQ(read(Base + "\\Dst\\Src\\Child", "c"), "2");
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, Base + "\\Src"));
    EXPECT_EQ(current(), parent);
    EXPECT_EQ(child(parent, QStringLiteral("Src")), nullptr);
    expectFollows("after the drop");
}

// ---------------------------------------------------------------------------
// Jump to CLSID in HKCR

TEST_F(Follow, ClassJumpLandsOnTheSortedNodeWithItsValues)
{
    const QString onlyIn32 = QStringLiteral("{32323232-0000-0000-0000-000000000032}");
    const QString later = QStringLiteral("{11111111-0000-0000-0000-000000000011}");
    const QString onlyIn64 = QStringLiteral("{64646464-0000-0000-0000-000000000064}");
    write(HKEY_CLASSES_ROOT, "\\CLSID\\" + onlyIn32.toStdString(), "", "thirty-two", 1);
    write(HKEY_CLASSES_ROOT, "\\CLSID\\{00000000-0000-0000-0000-0000000000AA}", "", "both", 1);
    write(HKEY_CLASSES_ROOT, "\\CLSID\\{FFFFFFFF-0000-0000-0000-0000000000FF}", "", "both", 1);
    write(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Classes\\CLSID\\" + onlyIn64.toStdString(), "", "sixty-four", 2);
    ASSERT_FALSE(KeyExistsAt(HKEY_CLASSES_ROOT, "\\CLSID\\" + onlyIn32.toStdString(), 1));
    ASSERT_FALSE(KeyExistsAt(HKEY_CLASSES_ROOT, "\\CLSID\\" + onlyIn64.toStdString(), 0));
    // Keys and values that name the classes, to jump from.
    write(HKEY_CURRENT_USER, Base + "\\" + onlyIn32.toStdString(), "x", "y");
    write(HKEY_CURRENT_USER, Base + "\\Refs", "ref", later.toStdString());
    write(HKEY_CURRENT_USER, Base + "\\Refs", onlyIn64.toStdString(), "named");
    makeWindow();

    // The branch is listed first; the class added afterwards goes in its place.
    w->GoToKey(QStringLiteral("HKEY_CLASSES_ROOT\\CLSID"));
    QTreeWidgetItem *clsid = current();
    ASSERT_GT(clsid->childCount(), 2);
    write(HKEY_CLASSES_ROOT, "\\CLSID\\" + later.toStdString(), "", "added later", 1);

    auto expectClass = [&](const QString &name, const QString &data, const std::string &what) {
        SCOPED_TRACE(what);
        ASSERT_NE(current(), nullptr);
        EXPECT_EQ(current()->text(0), name);
        QTreeWidgetItem *parent = current()->parent();
        QStringList names = captions(parent), sorted = names;
        std::sort(sorted.begin(), sorted.end(),
                  [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        EXPECT_EQ(names, sorted) << "the node sits in its sorted place";
        EXPECT_EQ(names.count(name), 1);
        ASSERT_NE(row(QStringLiteral("(Default)")), nullptr);
        EXPECT_EQ(row(QStringLiteral("(Default)"))->text(2), data);
        expectFollows(what);
    };

    // From a key named by the class: only the 32-bit view, the tree's, has it.
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Base + "\\") + onlyIn32);
    w->UpdateActionStates();
    ASSERT_TRUE(w->aKeyJumpToHKCRCLSID->isEnabled());
    w->aKeyJumpToHKCRCLSID->trigger();
    expectClass(onlyIn32, QStringLiteral("thirty-two"), "32-bit view only");
    EXPECT_EQ(current()->parent(), clsid);

    // From a value's data: the class made after the branch was listed.
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Base + "\\Refs"));
    w->lvData->setCurrentItem(row(QStringLiteral("ref")));
    w->UpdateActionStates();
    ASSERT_TRUE(w->aValueJumpToHKCRCLSID->isEnabled());
    w->aValueJumpToHKCRCLSID->trigger();
    expectClass(later, QStringLiteral("added later"), "added after the listing");
    EXPECT_EQ(current()->parent(), clsid);

    // From a value's name: a class of the 64-bit view only gets a node of
    // that view in its place, which lists its values.
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Base + "\\Refs"));
    w->lvData->setCurrentItem(row(onlyIn64));
    w->UpdateActionStates();
    w->aValueJumpToHKCRCLSID->trigger();
    expectClass(onlyIn64, QStringLiteral("sixty-four"), "64-bit view only");
    EXPECT_EQ(current()->parent(), clsid);
    EXPECT_EQ(w->ListedKey().viewMode, 2);
    // A second jump finds the same node.
    QTreeWidgetItem *first = current();
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Base + "\\Refs"));
    w->lvData->setCurrentItem(row(onlyIn64));
    w->aValueJumpToHKCRCLSID->trigger();
    EXPECT_EQ(current(), first);
}

// ---------------------------------------------------------------------------
// Imports

TEST_F(Follow, ImportSaysWhatItDidAndShowsTheKeys)
{
    write(HKEY_CURRENT_USER, Base + "\\Old", "o", "1");
    write(HKEY_CURRENT_USER, Base + "\\Zed", "z", "1");
    makeWindow();
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Base));
    QTreeWidgetItem *base = current();
    base->setExpanded(true);
    ASSERT_EQ(captions(base), QStringList({"Old", "Zed"}));

    TformImportProgress progress;
    w->formImportProgress = &progress;
    auto importFile = [&](const QByteArray &content) {
        const QString file = dir.filePath(QStringLiteral("in.reg"));
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        vt::regfile::setFileDialogSeam([file](QFileDialog &) { return vt::regfile::TFileChoice{file, 1}; });
        w->aKeyImport->trigger();
        return file;
    };

    // Two keys and three values; a new key appears in its place, one
    // deleted goes, and the list shows what the import wrote.
    const std::string key = "HKEY_CURRENT_USER" + Base;
    QString file = importFile(QByteArray::fromStdString("REGEDIT4\r\n\r\n[" + key +
                                                        "\\Mid]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\r\n[" + key +
                                                        "]\r\n\"top\"=\"3\"\r\n\r\n[-" + key + "\\Zed]\r\n"));
    // Keys written and deleted count alike.
    EXPECT_EQ(w->StatusText(0), QStringLiteral("Imported 3 keys and 3 values from %1.").arg(file));
    EXPECT_EQ(captions(base), QStringList({"Mid", "Old"})) << "the tree shows the import without F5";
    EXPECT_EQ(current(), base);
    EXPECT_NE(row(QStringLiteral("top")), nullptr) << "the listed key's new value is shown";

    // Lines the import could not use are said, with their numbers.
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    importFile(QByteArray::fromStdString("REGEDIT4\r\n\r\n[" + key + "\\Mid]\r\n\"c\"=\"4\"\r\nnonsense\r\n"));
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Warning);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains(QStringLiteral("1 key and 1 value")))
        << vt::i18n::lastMessage().text.toStdString();
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains(QStringLiteral("1 line was ignored (line 5).")))
        << vt::i18n::lastMessage().text.toStdString();

    // A file that is no registry file: nothing imported, and why.
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    importFile("not a registry file\r\n");
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Error);
    EXPECT_TRUE(vt::i18n::lastMessage().text.startsWith(QStringLiteral("Nothing was imported: ")))
        << vt::i18n::lastMessage().text.toStdString();
}

// `vantrel file.reg`: the question names the file and the result is told;
// a missing file is reported with the system's text, not taken for a key.
TEST_F(Follow, CommandLineImportNamesTheFileAndTellsTheResult)
{
    makeWindow();
    const QString file = dir.filePath(QStringLiteral("start.reg"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\VtStart]\r\n\"A\"=dword:00000001\r\n");
    f.close();

    vt::i18n::setNextAnswer(vt::i18n::mrNo);
    EXPECT_FALSE(w->ProcessCommandLine(ParseCommandLine({file})));
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains(file)) << vt::i18n::lastMessage().text.toStdString();
    EXPECT_TRUE(vt::i18n::lastMessage().text.startsWith(vt::i18n::MessageText("DialogConfirmImport")));
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtStart"));

    vt::i18n::setNextAnswer(vt::i18n::mrYes);
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    EXPECT_FALSE(w->ProcessCommandLine(ParseCommandLine({file})));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtStart"));
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Information);
    EXPECT_EQ(vt::i18n::lastMessage().text, QStringLiteral("Imported 1 key and 1 value from %1.").arg(file));

    const QString missing = dir.filePath(QStringLiteral("missing.reg"));
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    EXPECT_FALSE(w->ProcessCommandLine(ParseCommandLine({missing})));
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Error);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains(missing)) << vt::i18n::lastMessage().text.toStdString();
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains(QStringLiteral("The system cannot find the file specified.")))
        << vt::i18n::lastMessage().text.toStdString();

    // With /gui the window stays and shows the imported key.
    ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtStart"));
    w->GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software"));
    current()->setExpanded(true);
    vt::i18n::setNextAnswer(vt::i18n::mrYes);
    EXPECT_TRUE(w->ProcessCommandLine(ParseCommandLine({file, QStringLiteral("/gui")})));
    EXPECT_EQ(w->StatusText(0), QStringLiteral("Imported 1 key and 1 value from %1.").arg(file));
    EXPECT_NE(child(current(), QStringLiteral("VtStart")), nullptr);
}
