// The main window driven as a user drives it, on a temporary system each.

#include "app/FormUnitMain.h"
#include "editors/gui/vzoHexView.h"
#include "app/vtImageList.h"
#include "app/vtStartup.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "core/zoStrings.h"
#include "regfile/gui/FormUnitImportProgress.h"
#include "regfile/gui/RegFileActions.h"
#include "platform/vtPlatform.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace vt::app;

namespace {


class MainWindow : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<TformMain> w;

    void openSystem(bool wow64)
    {
        ASSERT_TRUE(dir.isValid());
        vt::platform::SystemOptions options;
        options.root = dir.path().toStdString() + "/system";
        options.wow64 = wow64;
        ASSERT_EQ(vt::platform::openSystem(options), ERROR_SUCCESS);
    }
    void SetUp() override { openSystem(true); }
    void TearDown() override
    {
        w.reset();
        vt::platform::closeSystem();
    }
    void makeWindow()
    {
        w = std::make_unique<TformMain>();
        w->show();
    }

    static void createKey(HKEY root, const std::string &path, bool view64 = false)
    {
        std::unique_ptr<TMyRegistry> reg(view64 ? new TMyRegistry64 : new TMyRegistry);
        reg->SetRootKey(root);
        ASSERT_TRUE(reg->OpenKey(path, true)) << path;
    }
    static void writeRaw(const std::string &path, const std::string &name, uint32_t code,
                         const std::vector<uint8_t> &bytes)
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(path, true));
        reg.writeValue(name, code, bytes);
    }

    QTreeWidgetItem *root(const QString &name) const
    {
        QTreeWidgetItem *top = w->MyComputerNode();
        for (int i = 0; i < top->childCount(); ++i)
            if (top->child(i)->text(0) == name)
                return top->child(i);
        return nullptr;
    }
    static QStringList captions(QTreeWidgetItem *node)
    {
        QStringList list;
        for (int i = 0; i < node->childCount(); ++i)
            list << node->child(i)->text(0);
        return list;
    }
    static int image(QTreeWidgetItem *node) { return node->data(0, NodeImageRole).toInt(); }
    static int selectedImage(QTreeWidgetItem *node) { return node->data(0, NodeSelectedImageRole).toInt(); }
    static bool showsExpander(QTreeWidgetItem *node)
    {
        return node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator || node->childCount() > 0;
    }
    QString selectedPath() const
    {
        HKEY r;
        std::string keyPath;
        int view;
        QString treePath;
        w->GetSelectedKey(r, keyPath, view, treePath);
        return w->tvKeys->currentItem() ? treePath : QString();
    }
    TRegistryValueListItem *row(const QString &caption) const
    {
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            if (w->lvData->topLevelItem(i)->text(0) == caption)
                return static_cast<TRegistryValueListItem *>(w->lvData->topLevelItem(i));
        return nullptr;
    }
    QStringList rowCaptions() const
    {
        QStringList list;
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            list << w->lvData->topLevelItem(i)->text(0);
        return list;
    }
    void selectRow(const QString &caption)
    {
        TRegistryValueListItem *r = row(caption);
        ASSERT_NE(r, nullptr) << caption.toStdString();
        w->lvData->clearSelection();
        w->lvData->setCurrentItem(r);
    }
};

// ---------------------------------------------------------------------------
// Layout, actions and menus

TEST_F(MainWindow, ControlsCarryTheirNamesAndTabsTheirCaptions)
{
    makeWindow();
    EXPECT_EQ(w->windowTitle(), "Vantrel");
    for (const char *name : {"cbAddress", "animSearch", "tvKeys", "pcMain", "tsData", "lvData", "lvHexDump", "tsInfo",
                             "tvInfo", "tsDatabaseInfo", "mInfoDBKey", "mInfoDBValue", "tsChangeLogs", "editRedoLog",
                             "editUndoLog", "tsDatabaseInfoDebug", "pg", "sbar"})
        EXPECT_NE(w->findChild<QWidget *>(QString::fromLatin1(name)), nullptr) << name;

    QStringList visibleTabs;
    for (int i = 0; i < w->pcMain->count(); ++i)
        if (w->pcMain->isTabVisible(i))
            visibleTabs << w->pcMain->tabText(i);
    EXPECT_EQ(visibleTabs, QStringList({"Data", "Security information", "Info database", "Change logs"}));
    EXPECT_EQ(w->pcMain->currentWidget(), w->tsData);
    EXPECT_TRUE(w->editRedoLog->isReadOnly());
    EXPECT_TRUE(w->editUndoLog->isReadOnly());
    EXPECT_EQ(w->cbAddress->maxVisibleItems(), 12);
    EXPECT_FALSE(w->lvHexDump->isVisible());

    const QStringList headers = {"Name", "Type", "Value", "Size", "Registry Value"};
    for (int i = 0; i < headers.size(); ++i)
        EXPECT_EQ(w->lvData->headerItem()->text(i), headers[i]);
    EXPECT_TRUE(w->lvData->isColumnHidden(3));
    EXPECT_TRUE(w->lvData->isColumnHidden(4));
    EXPECT_EQ(w->lvData->selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(MainWindow, ActionsHaveCaptionShortcutAndStartingState)
{
    makeWindow();
    struct Row {
        const char *name, *caption, *shortcut;
        bool enabled;
    };
    const Row rows[] = {
        {"aKeyDelete", "&Delete key", "", false},
        {"aKeyAdd", "&New key...", "", false},
        {"aKeyRename", "&Rename key...", "", false},
        {"aValueDelete", "&Delete value", "", false},
        {"aValueRename", "&Rename value...", "", false},
        {"aValueChange", "&Change data...", "", false},
        {"aValueChangeType", "Change type", "", false},
        {"aKeyCopyPath", "Copy key name to clipboard", "", false},
        {"aSearch", "&Search...", "Ctrl+F", true},
        {"aKeyRefresh", "&Refresh", "F5", false},
        {"aKeyJump", "Jump to key...", "Ctrl+J", true},
        {"aValueAdd", "New", "", false},
        {"aValueAddString", "String", "", false},
        {"aValueAddExpandString", "String (with placeholders)", "", false},
        {"aValueAddMultiString", "String (multi-line)", "", false},
        {"aValueAddInteger", "Numeric value (32 bit)", "", false},
        {"aValueAddLEInteger", "Numeric value (32 bit, little endian)", "", false},
        {"aValueAddBEInteger", "Numeric value (32 bit, big endian)", "", false},
        {"aValueAddInt64", "Numeric value (64 bit)", "", false},
        {"aValueAddLEInt64", "Numeric value (64 bit, little endian)", "", false},
        {"aValueAddBinary", "Binary data", "", false},
        {"aValueAddLink", "Link", "", false},
        {"aValueAddResourceList", "Resource List", "", false},
        {"aValueAddResourceRequirementsList", "Resource Requirements List", "", false},
        {"aValueAddFullResourceDescriptor", "Full Resource Descriptor", "", false},
        {"aValueAddNone", "None (empty type)", "", false},
        {"aSecurityInformationExportToFile", "Export security information to file...", "", false},
        {"aSecurityInformationExportToClipboard", "Copy security information to clipboard", "", false},
        {"aFileExit", "E&xit", "", true},
        {"aBookmarksManage", "&Manage bookmarks", "Ctrl+M", true},
        {"aFileOpenReg", "&Open registry file...", "Ctrl+O", true},
        {"aKeyExport", "&Export...", "", false},
        {"aFileDiffOpenReg", "Open registry file (&difference only)...", "", true},
        {"aFileConnectReg", "Connect to &remote registry...", "", false},
        {"aKeyImport", "&Import...", "", true},
        {"aKeyAddBookmark", "Add to bookmarks...", "Ctrl+B", false},
        {"aAbout", "About...", "", true},
        {"aInfoDBSaveKeyInfo", "Save key info", "", true},
        {"aInfoDBSaveValueInfo", "Save value info", "", false},
        {"aHelpContents", "Contents", "F1", true},
        {"aHelpIndex", "Index", "", true},
        {"aMenuHelp", "Help", "", true},
        {"aValueSelectAll", "Select all", "Ctrl+A", true},
        {"aSecurityInformationGrantAll", "Grant all rights to everyone on this key", "", false},
        {"aKeyJumpToHKCRCLSID", "Jump to CLSID in HKCR", "", false},
        {"aValueJumpToHKCRCLSID", "Jump to CLSID in HKCR", "", false},
        {"aChangeLogRedoSave", "Save", "", true},
        {"aChangeLogRedoApply", "Apply", "", true},
        {"aChangeLogUndoSave", "Save", "", true},
        {"aChangeLogUndoApply", "Apply", "", true},
        {"aFileLogonUser", "Open user registry (logon)...", "", false},
        {"aFileOpenHive", "Load hive file...", "", false},
        {"aValueCreateRule", "Copy OpenZTI rule to clipboard", "", true},
        {"aKeyCreateRule", "Copy OpenZTI rule to clipboard", "", false},
        {"aShowHistory", "Show history...", "Ctrl+H", true},
    };
    for (const Row &r : rows) {
        auto *action = w->findChild<QAction *>(QString::fromLatin1(r.name));
        ASSERT_NE(action, nullptr) << r.name;
        EXPECT_EQ(action->text(), QString::fromUtf8(r.caption)) << r.name;
        EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromLatin1(r.shortcut))) << r.name;
        EXPECT_EQ(action->isEnabled(), r.enabled) << r.name;
    }
}

QStringList menuNames(const QMenu *menu)
{
    QStringList names;
    for (QAction *a : menu->actions())
        names << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    return names;
}

TEST_F(MainWindow, MenusAndPopupsListTheirActionsInOrder)
{
    makeWindow();
    EXPECT_EQ(menuNames(w->mFile), QStringList({"aKeyImport", "aKeyExport", "-", "aFileOpenReg", "aFileDiffOpenReg",
                                                "aFileOpenHive", "aFileLogonUser", "aFileConnectReg",
                                                "aFileRecoverHive", "aFileRecoverExport", "aFileRecoverFind", "-",
                                                "aShowHistory", "-", "aSecurityInformationExportToFile", "-",
                                                "aFileExit"}));
    EXPECT_EQ(menuNames(w->mEdit), QStringList({"-", "aKeyJump", "-", "aSearch"}));
    EXPECT_EQ(menuNames(w->mBookmarks), QStringList({"-", "aBookmarksManage"}));
    EXPECT_EQ(menuNames(w->mHelp), QStringList({"aHelpContents", "aHelpIndex", "-", "aAbout"}));
    EXPECT_EQ(menuNames(w->pmKeys),
              QStringList({"aKeyAdd", "-", "aKeyDelete", "aKeyRename", "-", "aKeyImport", "aKeyExport", "-",
                           "aKeyRefresh", "aKeyCopyPath", "aSecurityInformationExportToClipboard", "aKeyCreateRule",
                           "aKeyJumpToHKCRCLSID", "aSecurityInformationGrantAll", "aKeyAddBookmark", "-",
                           "aFileCloseReg", "aFileRecoverExport", "aFileRecoverFind"}));
    EXPECT_EQ(menuNames(w->pmValues),
              QStringList({"aValueAdd", "-", "aValueChange", "aValueChangeType", "aValueModifyBinary",
                           "aValueJumpToHKCRCLSID", "-", "aValueDelete", "aValueRename", "-", "aValueSelectAll", "-", "aValueCreateRule"}));
    ASSERT_NE(w->aValueAdd->menu(), nullptr);
    EXPECT_EQ(menuNames(w->aValueAdd->menu()),
              QStringList({"aValueAddString", "aValueAddExpandString", "aValueAddMultiString", "aValueAddInteger",
                           "aValueAddLEInteger", "aValueAddBEInteger", "aValueAddInt64", "aValueAddLEInt64",
                           "aValueAddBinary", "-", "aValueAddLink", "aValueAddResourceList",
                           "aValueAddResourceRequirementsList", "aValueAddFullResourceDescriptor",
                           "aValueAddNone"}));
}

TEST_F(MainWindow, EditMenuMirrorsThePopupOfTheFocusedList)
{
    makeWindow();
    auto focus = [&](QWidget *target, QEvent::Type type) {
        QFocusEvent event(type, Qt::TabFocusReason);
        QApplication::sendEvent(target, &event);
    };
    focus(w->tvKeys, QEvent::FocusIn);
    QStringList expected = menuNames(w->pmKeys);
    expected << "-" << "aKeyJump" << "-" << "aSearch";
    EXPECT_EQ(menuNames(w->mEdit), expected);
    EXPECT_TRUE(w->mEdit->isEnabled());

    // Moving from the tree to the list swaps the mirrored items.
    focus(w->tvKeys, QEvent::FocusOut);
    focus(w->lvData, QEvent::FocusIn);
    const QList<QAction *> items = w->mEdit->actions();
    ASSERT_EQ(items.size(), w->pmValues->actions().size() + 4);
    EXPECT_EQ(items[0]->text(), "New");
    EXPECT_EQ(items[0]->menu(), nullptr) << "submenus are not copied";
    EXPECT_EQ(items[2], w->aValueChange);
    EXPECT_EQ(items.last(), w->aSearch);

    focus(w->lvData, QEvent::FocusOut);
    EXPECT_EQ(menuNames(w->mEdit), QStringList({"-", "aKeyJump", "-", "aSearch"}));
    EXPECT_FALSE(w->mEdit->isEnabled());
}

TEST_F(MainWindow, WindowsAreCreatedInStartupOrder)
{
    TApplicationForms forms;
    QStringList classes;
    for (QWidget *form : forms.forms())
        classes << QString::fromLatin1(form->metaObject()->className()).section(QStringLiteral("::"), -1);
    EXPECT_EQ(classes, QStringList({"TformMain", "TformEditString", "TformEditInteger", "TformEditMultiString",
                                    "TformSearch", "TformBookmarks", "TformEditResourceRequirementsList",
                                    "TformRemoteConnect", "TformImportProgress", "TformValueType",
                                    "TformUserLogon", "TformOpenCustomHive", "TformOpenZTIValue",
                                    "TformHistory"}));
    EXPECT_EQ(forms.formMain(), forms.forms().front());
}

// Closing the main window ends the program, even with another window open.
TEST_F(MainWindow, ClosingTheMainWindowEndsTheProgram)
{
    TApplicationForms forms;
    forms.formMain()->show();
    QWidget *other = forms.form(QStringLiteral("formHistory"));
    ASSERT_NE(other, nullptr);
    other->show();
    QTimer::singleShot(0, forms.formMain(), [&] { forms.formMain()->aFileExit->trigger(); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(7); }); // still running: the fault
    EXPECT_EQ(QApplication::exec(), 0);
}

// A command whose feature is not built is greyed: no enabled action, in any
// state of the window, does nothing when chosen.
TEST_F(MainWindow, NoEnabledActionIsSilent)
{
    writeRaw("\\Software\\VtSilent", "v", REG_SZ, {'x', 0});
    makeWindow();
    // Actions enabled in some state, with where they were seen.
    std::vector<std::pair<QPointer<QAction>, std::string>> enabled;
    auto check = [&](const char *state) {
        // The window's actions and whatever its menus and pop-ups show.
        QList<QAction *> actions = w->actions();
        for (QMenu *menu : {w->mFile, w->mEdit, w->mBookmarks, w->mLanguages, w->mHelp, w->pmKeys, w->pmValues,
                            w->pmSecurity, w->pmValueAdd})
            actions += menu->actions();
        for (QAction *action : std::as_const(actions))
            if (action->isEnabled() && !action->isSeparator() && !action->menu() &&
                std::none_of(enabled.begin(), enabled.end(), [&](const auto &seen) { return seen.first == action; }))
                enabled.emplace_back(action, state);
    };
    check("shown");
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtSilent");
    w->UpdateActionStates();
    check("key selected");
    selectRow("v");
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(w->lvData, &in);
    w->UpdateActionStates();
    check("value selected, Edit mirrors the value list");
    for (QAction *action :
         {w->aFileOpenHive, w->aFileLogonUser, w->aFileConnectReg})
        EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
    // Disconnecting reports whether anything listened; the window is done with.
    for (const auto &[action, state] : enabled) {
        if (action) {
            EXPECT_TRUE(QObject::disconnect(action, &QAction::triggered, nullptr, nullptr))
                << state << ": " << action->objectName().toStdString() << " \"" << action->text().toStdString()
                << "\"";
        }
    }
}

// ---------------------------------------------------------------------------
// The key tree

TEST_F(MainWindow, TopNodesAreMyComputerAndTheSevenRoots)
{
    makeWindow();
    ASSERT_EQ(w->tvKeys->topLevelItemCount(), 1);
    QTreeWidgetItem *top = w->MyComputerNode();
    EXPECT_EQ(top->text(0), "My Computer");
    EXPECT_EQ(image(top), 0);
    EXPECT_TRUE(top->isExpanded());
    EXPECT_EQ(captions(top), QStringList({"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                          "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"}));
    for (int i = 0; i < top->childCount(); ++i) {
        QTreeWidgetItem *r = top->child(i);
        EXPECT_EQ(image(r), 1);
        EXPECT_EQ(selectedImage(r), 2);
        EXPECT_EQ(r->childCount(), 0) << "roots load when expanded";
        EXPECT_TRUE(showsExpander(r));
        EXPECT_EQ(w->GetTreeKind(r), 1);
    }
    EXPECT_EQ(w->GetTreeKind(nullptr), 0);
}

TEST_F(MainWindow, ExpandingListsSortedChildrenWithExpandersOnlyWhereSubkeysExist)
{
    createKey(HKEY_CURRENT_USER, "\\Software\\VtTree\\beta\\inner");
    createKey(HKEY_CURRENT_USER, "\\Software\\VtTree\\Alpha");
    createKey(HKEY_CURRENT_USER, "\\Software\\VtTree\\gamma");
    createKey(HKEY_CURRENT_USER, "\\Software\\VtTree\\Delta\\x");
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtTree");
    QTreeWidgetItem *node = w->tvKeys->currentItem();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(captions(node), QStringList({"Alpha", "beta", "Delta", "gamma"}));
    const bool expected[] = {false, true, true, false};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(showsExpander(node->child(i)), expected[i]) << node->child(i)->text(0).toStdString();

    // Expanding a child with the mouse loads it once.
    node->child(1)->setExpanded(true);
    EXPECT_EQ(captions(node->child(1)), QStringList({"inner"}));
    node->child(1)->setExpanded(false);
    node->child(1)->setExpanded(true);
    EXPECT_EQ(node->child(1)->childCount(), 1);

    // A node whose key has vanished loses its expander when expanded.
    node->child(2)->setExpanded(false);
    TMyRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.DeleteKey("\\Software\\VtTree\\Delta"));
    node->child(2)->setExpanded(true);
    EXPECT_EQ(node->child(2)->childCount(), 0);
    EXPECT_FALSE(showsExpander(node->child(2)));
}

TEST_F(MainWindow, TwoSoftwareViewsForA32BitProgramOn64BitWindows)
{
    createKey(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtOnly32", false);
    createKey(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtOnly64", true);
    createKey(HKEY_CURRENT_USER, "\\Software\\Wow6432Node\\Kept");
    makeWindow();
    ASSERT_TRUE(w->IsWow64());
    QTreeWidgetItem *hklm = root("HKEY_LOCAL_MACHINE");
    hklm->setExpanded(true);
    QList<QTreeWidgetItem *> software;
    for (int i = 0; i < hklm->childCount(); ++i)
        if (hklm->child(i)->text(0) == "SOFTWARE")
            software << hklm->child(i);
    ASSERT_EQ(software.size(), 2);
    EXPECT_EQ(image(software[0]), 17);
    EXPECT_EQ(selectedImage(software[0]), 18);
    EXPECT_EQ(image(software[1]), 15);
    EXPECT_EQ(selectedImage(software[1]), 16);

    struct View {
        int index, viewMode;
        const char *present, *absent;
    };
    for (const View &v : {View{0, 2, "VtOnly64", "VtOnly32"}, View{1, 1, "VtOnly32", "VtOnly64"}}) {
        QTreeWidgetItem *node = software[v.index];
        node->setExpanded(true);
        const QStringList children = captions(node);
        EXPECT_TRUE(children.contains(v.present)) << v.index;
        EXPECT_FALSE(children.contains(v.absent)) << v.index;
        EXPECT_FALSE(children.contains("Wow6432Node")) << v.index;
        // Children inherit the view's image pair and with it the view.
        ASSERT_GT(node->childCount(), 0);
        EXPECT_EQ(image(node->child(0)), image(node));
        HKEY r;
        int view;
        QString treePath;
        std::string keyPath;
        w->GetNodeKey(node->child(0), r, view, treePath, keyPath);
        EXPECT_EQ(view, v.viewMode);
        EXPECT_EQ(r, HKEY_LOCAL_MACHINE);
    }

    // Only the exact "\SOFTWARE" and "\SOFTWARE\Classes" hide the redirection node.
    w->GoToKey("HKEY_CURRENT_USER\\Software");
    EXPECT_TRUE(captions(w->tvKeys->currentItem()).contains("Wow6432Node"));
}

TEST_F(MainWindow, OneSoftwareNodeWhenTheProgramSeesOneView)
{
    vt::platform::closeSystem();
    openSystem(false);
    makeWindow();
    ASSERT_FALSE(w->IsWow64());
    QTreeWidgetItem *hklm = root("HKEY_LOCAL_MACHINE");
    hklm->setExpanded(true);
    EXPECT_EQ(captions(hklm).count("SOFTWARE"), 1);
    for (int i = 0; i < hklm->childCount(); ++i)
        EXPECT_EQ(image(hklm->child(i)), 1);
}

TEST_F(MainWindow, KeysThatDoNotOpenShowNothing)
{
    makeWindow();
    // HKLM\SECURITY grants access to the local system account only.
    QTreeWidgetItem *hklm = root("HKEY_LOCAL_MACHINE");
    hklm->setExpanded(true);
    QTreeWidgetItem *node = w->FindChildNode(hklm, "SECURITY");
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(showsExpander(node)) << "untested until expanded";
    w->tvKeys->setCurrentItem(node);
    w->tvKeysChange();
    node->setExpanded(true);
    EXPECT_EQ(node->childCount(), 0);
    EXPECT_FALSE(showsExpander(node));
    EXPECT_EQ(w->lvData->topLevelItemCount(), 0) << "not even the default placeholder";
    EXPECT_EQ(w->StatusText(1), "");
    EXPECT_EQ(w->StatusText(0), "My Computer\\HKEY_LOCAL_MACHINE\\SECURITY");
    // A jump does not walk into a key it cannot open.
    w->tvKeys->setCurrentItem(w->MyComputerNode());
    w->GoToKey("HKEY_LOCAL_MACHINE\\SECURITY\\Policy");
    EXPECT_EQ(selectedPath(), "My Computer");
}

TEST_F(MainWindow, GetNodeKeyWalksToTheRoot)
{
    createKey(HKEY_CURRENT_USER, "\\Software\\VtPath\\Inner");
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtPath\\Inner");
    struct Case {
        QTreeWidgetItem *node;
        HKEY root;
        const char *treePath, *keyPath;
    };
    const Case cases[] = {
        {nullptr, HKEY_LOCAL_MACHINE, "", ""},
        {w->MyComputerNode(), HKEY_LOCAL_MACHINE, "My Computer", ""},
        {root("HKEY_USERS"), HKEY_USERS, "My Computer\\HKEY_USERS", ""},
        {w->tvKeys->currentItem(), HKEY_CURRENT_USER, "My Computer\\HKEY_CURRENT_USER\\Software\\VtPath\\Inner",
         "\\Software\\VtPath\\Inner"},
    };
    for (const Case &c : cases) {
        HKEY r = nullptr;
        int view = -1;
        QString treePath = "x";
        std::string keyPath = "x";
        w->GetNodeKey(c.node, r, view, treePath, keyPath);
        EXPECT_EQ(r, c.root) << c.treePath;
        EXPECT_EQ(view, 0) << c.treePath;
        EXPECT_EQ(treePath, c.treePath);
        EXPECT_EQ(keyPath, c.keyPath);
    }
    EXPECT_EQ(w->AddKeyNode(w->MyComputerNode(), QString(), 0), nullptr);
}

TEST_F(MainWindow, GoToKeyAcceptsTheAddressFormsUsersType)
{
    createKey(HKEY_CURRENT_USER, "\\Software\\VtGo");
    makeWindow();
    const QString target = "My Computer\\HKEY_CURRENT_USER\\Software";
    struct Case {
        const char *text;
        const char *expected; // empty: the selection does not move
    };
    const Case cases[] = {
        {"My Computer\\HKEY_CURRENT_USER\\Software", "My Computer\\HKEY_CURRENT_USER\\Software"},
        {"HKEY_CURRENT_USER\\Software\\", "My Computer\\HKEY_CURRENT_USER\\Software"},
        {"HKEY_CURRENT_USER \\ Software", "My Computer\\HKEY_CURRENT_USER\\Software"},
        {"HKEY_CURRENT_USER\\software", "My Computer\\HKEY_CURRENT_USER\\Software"},
        {"SomePC\\HKEY_CURRENT_USER\\Software\\VtGo", "My Computer\\HKEY_CURRENT_USER\\Software\\VtGo"},
        {"HKEY_CURRENT_USER", "My Computer\\HKEY_CURRENT_USER"},
        {"HKCU\\Software", "My Computer\\HKEY_CURRENT_USER\\Software"}, // a short root names its key
        {"HKEY_CURRENT_USER\\Software\\NoSuchKey", ""},
        {"Nonsense", ""},
    };
    for (const Case &c : cases) {
        w->tvKeys->setCurrentItem(w->MyComputerNode());
        w->GoToKey(QString::fromUtf8(c.text));
        const QString expected = *c.expected ? QString::fromUtf8(c.expected) : QStringLiteral("My Computer");
        EXPECT_EQ(selectedPath(), expected) << c.text;
        EXPECT_EQ(w->StatusText(0), expected) << c.text;
    }
    // Jumping twice neither duplicates nodes nor address entries.
    w->GoToKey(target);
    w->GoToKey(target);
    EXPECT_EQ(captions(root("HKEY_CURRENT_USER")).count("Software"), 1);
    EXPECT_EQ(w->cbAddress->findText(target), w->cbAddress->currentIndex());
    int entries = 0;
    for (int i = 0; i < w->cbAddress->count(); ++i)
        entries += w->cbAddress->itemText(i) == target;
    EXPECT_EQ(entries, 1);
}

TEST_F(MainWindow, GoToKeyAddsNodesForNewKeysAndFindsTheLastChild)
{
    createKey(HKEY_CURRENT_USER, "\\Software\\VtSorted\\Aa");
    createKey(HKEY_CURRENT_USER, "\\Software\\VtSorted\\Mm");
    createKey(HKEY_CURRENT_USER, "\\Software\\VtSorted\\Zz");
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtSorted");
    QTreeWidgetItem *parent = w->tvKeys->currentItem();
    ASSERT_EQ(captions(parent), QStringList({"Aa", "Mm", "Zz"}));

    for (const char *name : {"zz", "AA", "mm"}) {
        w->GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\VtSorted\\") + QLatin1String(name));
        EXPECT_EQ(w->tvKeys->currentItem()->parent(), parent) << name;
        EXPECT_EQ(w->tvKeys->currentItem()->text(0).compare(QLatin1String(name), Qt::CaseInsensitive), 0);
        EXPECT_EQ(parent->childCount(), 3) << name;
    }

    // Created after the parent was listed: added once, then found again even
    // though it sits out of order at the end.
    createKey(HKEY_CURRENT_USER, "\\Software\\VtSorted\\Bb\\Deep");
    for (int round = 0; round < 2; ++round) {
        w->GoToKey("HKEY_CURRENT_USER\\Software\\VtSorted\\Bb\\Deep");
        EXPECT_EQ(selectedPath(), "My Computer\\HKEY_CURRENT_USER\\Software\\VtSorted\\Bb\\Deep");
        EXPECT_EQ(captions(parent).count("Bb"), 1);
    }
    EXPECT_TRUE(parent->isExpanded());
    EXPECT_TRUE(w->tvKeys->currentItem()->parent()->isExpanded());
}

// Keys go where a keyboard sends them: to the focused widget, which for an
// editable combo box is the box itself, not its line edit.
TEST_F(MainWindow, AddressBoxEnterAndChoiceJump)
{
    createKey(HKEY_CURRENT_USER, "\\Software\\VtAddr");
    createKey(HKEY_CURRENT_USER, "\\Software\\VtAddr\\Pad");
    makeWindow();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    struct Case {
        const char *typed;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char *selected;
    } cases[] = {
        {"my computer\\HKEY_CURRENT_USER\\Software\\VtAddr", Qt::Key_Return, Qt::NoModifier,
         "My Computer\\HKEY_CURRENT_USER\\Software\\VtAddr"},
        {"HKEY_CURRENT_USER\\Software\\VtAddr\\Pad", Qt::Key_Enter, Qt::KeypadModifier,
         "My Computer\\HKEY_CURRENT_USER\\Software\\VtAddr\\Pad"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        w->GoToKey("HKEY_LOCAL_MACHINE");
        w->cbAddress->setFocus(Qt::MouseFocusReason);
        w->cbAddress->clearEditText();
        QWidget *focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QTest::keyClicks(focused, QString::fromUtf8(c.typed));
        ASSERT_EQ(w->cbAddress->currentText(), QString::fromUtf8(c.typed));
        QTest::keyClick(QApplication::focusWidget(), c.key, c.modifiers);
        EXPECT_EQ(selectedPath(), QString::fromUtf8(c.selected));
    }

    w->GoToKey("HKEY_LOCAL_MACHINE");
    const int entry = w->cbAddress->findText("My Computer\\HKEY_CURRENT_USER\\Software\\VtAddr");
    ASSERT_GE(entry, 0);
    emit w->cbAddress->activated(entry);
    EXPECT_EQ(selectedPath(), "My Computer\\HKEY_CURRENT_USER\\Software\\VtAddr");
}

TEST_F(MainWindow, ArrowKeyReleaseListsTheNewlySelectedKey)
{
    writeRaw("\\Software\\VtArrow\\First", "one", REG_SZ, {'1', 0});
    writeRaw("\\Software\\VtArrow\\Second", "two", REG_SZ, {'2', 0});
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtArrow\\First");
    EXPECT_NE(row("one"), nullptr);
    QTest::keyClick(w->tvKeys, Qt::Key_Down);
    EXPECT_EQ(selectedPath(), "My Computer\\HKEY_CURRENT_USER\\Software\\VtArrow\\Second");
    EXPECT_NE(row("two"), nullptr);
    EXPECT_EQ(row("one"), nullptr);
}

TEST_F(MainWindow, RightClickSelectsTheNodeBeforeThePopupOpens)
{
    writeRaw("\\Software\\VtRight\\First", "one", REG_SZ, {'1', 0});
    writeRaw("\\Software\\VtRight\\Second", "two", REG_SZ, {'2', 0});
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtRight\\First");
    QTreeWidgetItem *second = w->tvKeys->currentItem()->parent()->child(1);
    const QPoint at = w->tvKeys->visualItemRect(second).center();
    emit w->tvKeys->customContextMenuRequested(at);
    EXPECT_EQ(w->tvKeys->currentItem(), second);
    EXPECT_NE(row("two"), nullptr);
    EXPECT_TRUE(w->pmKeys->isVisible());
    w->pmKeys->close();
}

TEST_F(MainWindow, OtherTreeKindsListNoRegistryValues)
{
    makeWindow();
    struct Case {
        int topImage, kind, rows;
    };
    // Registry file trees bring their own rows; remote trees show only the
    // placeholder for the default value.
    for (const Case &c : {Case{imgRegistryFile, 2, 0}, Case{imgRemoteComputer, 3, 1}, Case{5, 0, 0}}) {
        auto *top = new QTreeWidgetItem(QStringList{"\\\\SERVER"});
        top->setData(0, NodeImageRole, c.topImage);
        w->tvKeys->addTopLevelItem(top);
        QTreeWidgetItem *child = w->AddKeyNode(top, "HKEY_LOCAL_MACHINE", 0);
        EXPECT_EQ(w->GetTreeKind(child), c.kind);
        w->tvKeys->setCurrentItem(child);
        w->tvKeysChange();
        EXPECT_EQ(w->lvData->topLevelItemCount(), c.rows) << c.kind;
        if (c.rows) {
            EXPECT_EQ(rowCaptions(), QStringList({"(Default)"}));
        }
        w->tvKeys->setCurrentItem(w->MyComputerNode());
        delete top;
    }
}

TEST_F(MainWindow, StatusBarShowsPathAndLastWriteTime)
{
    createKey(HKEY_CURRENT_USER, "\\Software\\VtStatus");
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtStatus");
    EXPECT_EQ(w->StatusText(0), "My Computer\\HKEY_CURRENT_USER\\Software\\VtStatus");
    const QString stamp = w->StatusText(1);
    EXPECT_TRUE(stamp.startsWith("Last write access: ")) << stamp.toStdString();
    // The key was written moments ago: today's date is in the text.
    EXPECT_TRUE(stamp.contains(QLocale().toString(QDate::currentDate(), QLocale::ShortFormat)))
        << stamp.toStdString();
    EXPECT_GE(w->sbarPanel1->width(), 220);

    // "My Computer" lists nothing but describes HKEY_LOCAL_MACHINE.
    w->tvKeys->setCurrentItem(w->MyComputerNode());
    w->tvKeysChange();
    EXPECT_EQ(w->lvData->topLevelItemCount(), 0);
    EXPECT_EQ(w->StatusText(0), "My Computer");
    EXPECT_TRUE(w->StatusText(1).startsWith("Last write access: ")) << w->StatusText(1).toStdString();
}

// ---------------------------------------------------------------------------
// The value list

TEST_F(MainWindow, ValueListRowsForEveryType)
{
    const std::string key = "\\Software\\VtValues";
    struct Case {
        const char *name;
        uint32_t code;
        std::vector<uint8_t> bytes;
        const char *type, *value;
        int icon;
        uint8_t regData;
    };
    const Case cases[] = {
        {"sz", REG_SZ, {'h', 'i', 0}, "REG_SZ", "hi", 3, rdString},
        {"sz embedded nul", REG_SZ, {'a', 0, 'b', 0}, "REG_SZ", "a", 3, rdString},
        {"expand", REG_EXPAND_SZ, {'%', 'X', '%', 0}, "REG_EXPAND_SZ", "%X%", 3, rdExpandString},
        {"multi", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}, "REG_MULTI_SZ", "a\r\nb\r\n", 3, rdMultiString},
        {"multi open", REG_MULTI_SZ, {'a', 0, 'b'}, "REG_MULTI_SZ", "a\r\nb", 3, rdMultiString},
        {"dword", REG_DWORD, {0, 0, 0, 0x80}, "REG_DWORD", "0x80000000 (2147483648)", 4, rdInteger},
        {"big endian", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0}, "REG_DWORD_BIG_ENDIAN", "0x00000100 (256)", 4,
         rdBigEndianInteger},
        {"qword", REG_QWORD, {0, 0, 0, 0, 0, 0, 0, 0x80}, "REG_QWORD",
         "0x8000000000000000 (-9223372036854775808)", 4, rdInt64},
        {"binary", REG_BINARY, {0x01, 0x00, 0xAB}, "REG_BINARY", "01 00 AB", 4, rdBinary},
        {"binary empty", REG_BINARY, {}, "REG_BINARY", "(Binary data of zero length)", 4, rdBinary},
        {"none", REG_NONE, {0xFE}, "REG_NONE", "FE", 4, rdNone},
        {"none empty", REG_NONE, {}, "REG_NONE", "(Binary data of zero length)", 4, rdNone},
        {"link", REG_LINK, {0x5C, 0x00}, "REG_LINK", "5C 00", 4, rdLink},
        {"resource list", REG_RESOURCE_LIST, {1, 2}, "REG_RESOURCE_LIST", "01 02", 4, rdResourceList},
        {"full resource", REG_FULL_RESOURCE_DESCRIPTOR, {3}, "REG_FULL_RESOURCE_DESCRIPTOR", "03", 4,
         rdFullResourceDescriptor},
        {"requirements", REG_RESOURCE_REQUIREMENTS_LIST, {4, 5}, "REG_RESOURCE_REQUIREMENTS_LIST", "04 05", 4,
         rdResourceRequirementsList},
        {"unknown type", 20, {1, 2, 3}, "N/A", "(Data type not supported)", -1, rdUnknown},
        {"dword too long", REG_DWORD, {1, 2, 3, 4, 5, 6}, "N/A", "(Error reading data)", 4, rdInteger},
    };
    for (const Case &c : cases)
        writeRaw(key, c.name, c.code, c.bytes);
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtValues");

    for (const Case &c : cases) {
        TRegistryValueListItem *r = row(QString::fromUtf8(c.name));
        ASSERT_NE(r, nullptr) << c.name;
        EXPECT_EQ(r->text(1), QString::fromUtf8(c.type)) << c.name;
        EXPECT_EQ(r->text(2), QString::fromUtf8(c.value)) << c.name;
        EXPECT_EQ(r->text(3), QString::number(c.bytes.size())) << c.name;
        EXPECT_EQ(r->DataText, c.value) << c.name;
        EXPECT_EQ(r->ValueName, c.name);
        EXPECT_EQ(r->KeyPath, key);
        EXPECT_EQ(r->RootKey, HKEY_CURRENT_USER);
        EXPECT_EQ(r->DataInfo.RegData, c.regData) << c.name;
        EXPECT_EQ(r->DataInfo.DataType, c.code) << c.name;
        EXPECT_EQ(r->DataInfo.DataSize, int32_t(c.bytes.size())) << c.name;
        EXPECT_EQ(r->icon(0).cacheKey(), ImageListIcon(c.icon).cacheKey()) << c.name;
    }
    // No default value: the placeholder row comes first.
    TRegistryValueListItem *first = static_cast<TRegistryValueListItem *>(w->lvData->topLevelItem(0));
    EXPECT_EQ(first->text(0), "(Default)");
    EXPECT_EQ(first->text(1), "REG_SZ");
    EXPECT_EQ(first->text(2), "(Data not defined)");
    EXPECT_EQ(first->text(3), "0");
    EXPECT_EQ(first->ValueName, "");
    EXPECT_EQ(first->DataInfo.RegData, rdString);
    EXPECT_EQ(first->icon(0).cacheKey(), ImageListIcon(3).cacheKey());
    EXPECT_EQ(w->lvData->topLevelItemCount(), int(std::size(cases)) + 1);
}

// The progress bar shows nothing when idle: a listing of one entry must not
// leave the range 0..0 that Qt draws as a busy bar.
TEST_F(MainWindow, ProgressBarIsEmptyAfterShortListings)
{
    writeRaw("\\Software\\VtOne\\Only", "single", REG_SZ, {'1', 0});
    makeWindow();
    auto idle = [&](const char *what) {
        EXPECT_LT(w->pg->minimum(), w->pg->maximum()) << what;
        EXPECT_EQ(w->pg->value(), w->pg->minimum()) << what;
    };
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtOne"); // one subkey, no values
    idle("key with one subkey");
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtOne\\Only");
    idle("key with one value");
}

// A value of megabytes shows a cut text in its cell (Qt lays out the whole
// text of a cell, which froze the window); the hint and the editors get the
// whole text, built from the bytes the row keeps.
TEST_F(MainWindow, LargeValuesShowACutCellAndKeepTheirWholeText)
{
    const int limit = TRegistryValueListItem::CellTextLimit;
    std::vector<uint8_t> binary(3u << 20);
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = uint8_t(i * 7);
    std::vector<uint8_t> text(1u << 20, 'a');
    text[0] = 0xC3, text[1] = 0xA4; // a two-byte character first
    text.back() = 0;
    std::vector<uint8_t> edge(size_t(limit) + 1, 'e'); // one character over the cell's limit
    edge.back() = 0;
    writeRaw("\\Software\\VtLarge", "binary", REG_BINARY, binary);
    writeRaw("\\Software\\VtLarge", "text", REG_SZ, text);
    writeRaw("\\Software\\VtLarge", "edge", REG_SZ, edge);
    writeRaw("\\Software\\VtLarge", "small", REG_SZ, {'s', 0});
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtLarge");

    struct Case {
        const char *name;
        const std::vector<uint8_t> &bytes;
        uint8_t type;
    } cases[] = {{"binary", binary, rdBinary}, {"text", text, rdString}, {"edge", edge, rdString}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TRegistryValueListItem *r = row(QString::fromUtf8(c.name));
        ASSERT_NE(r, nullptr);
        bool ok = false;
        const QString whole =
            QString::fromStdString(ValueDisplayText(TRegDataType(c.type), c.bytes.data(), c.bytes.size(), ok));
        ASSERT_TRUE(ok);
        const QString cell = r->text(2);
        EXPECT_EQ(cell.size(), limit);
        EXPECT_TRUE(cell.endsWith(QChar(0x2026)));
        EXPECT_TRUE(whole.startsWith(cell.chopped(1)));
        EXPECT_EQ(QString::fromStdString(r->FullDataText()), whole);
        EXPECT_TRUE(r->Hint().contains(QStringLiteral("Value: ") + whole));
        EXPECT_EQ(r->text(3), QString::number(c.bytes.size()));
    }
    EXPECT_EQ(row("small")->text(2), "s");
    EXPECT_EQ(row("small")->DataText, "s");
}

// The list's starting widths fit the common type names and a long common
// value name in the font the list really uses.
TEST_F(MainWindow, ColumnsFitTheCommonTypeNames)
{
    const std::string key = "\\Software\\VtWidths";
    writeRaw(key, "CurrentMajorVersionNumber", REG_DWORD, {10, 0, 0, 0});
    writeRaw(key, "e", REG_EXPAND_SZ, {'x', 0});
    writeRaw(key, "m", REG_MULTI_SZ, {'x', 0, 0});
    writeRaw(key, "b", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1});
    writeRaw(key, "q", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
    writeRaw(key, "n", REG_BINARY, {1});
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtWidths");
    ASSERT_EQ(w->lvData->topLevelItemCount(), 7);
    // Fitting a column to its rows' cells must not have to widen it.
    for (int column : {0, 1}) {
        const int start = w->lvData->columnWidth(column);
        w->lvData->resizeColumnToContents(column);
        EXPECT_GE(start, w->lvData->columnWidth(column)) << column;
    }
}

TEST_F(MainWindow, ValueListOrderAndTheDefaultValue)
{
    writeRaw("\\Software\\VtOrder", "b", REG_SZ, {'b', 0});
    writeRaw("\\Software\\VtOrder", "A", REG_SZ, {'a', 0});
    writeRaw("\\Software\\VtOrder", "c", REG_SZ, {'c', 0});
    writeRaw("\\Software\\VtOrder", "", REG_DWORD, {7, 0, 0, 0});
    createKey(HKEY_CURRENT_USER, "\\Software\\VtEmpty");
    makeWindow();

    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtOrder");
    EXPECT_EQ(rowCaptions(), QStringList({"(Default)", "A", "b", "c"}));
    TRegistryValueListItem *def = row("(Default)");
    EXPECT_EQ(def->text(1), "REG_DWORD") << "a real default value replaces the placeholder";
    EXPECT_EQ(def->text(2), "0x00000007 (7)");
    EXPECT_EQ(def->StateImage, 1);

    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtEmpty");
    EXPECT_EQ(rowCaptions(), QStringList({"(Default)"}));
    EXPECT_EQ(row("(Default)")->text(2), "(Data not defined)");
}

// Proposals for new names skip what the tree or list shows already, letters
// A to Z without case but other letters exactly, as the registry compares.
TEST_F(MainWindow, UniqueNamesSkipTakenOnesWithoutRegardToAsciiCase)
{
    createKey(HKEY_CURRENT_USER, "\\Software\\VtNames\\NEW KEY #1");
    createKey(HKEY_CURRENT_USER, "\\Software\\VtNames\\New key #2");
    createKey(HKEY_CURRENT_USER, "\\Software\\VtNames\\\u00C4");
    writeRaw("\\Software\\VtNames", "NEW VALUE #1", REG_SZ, {0, 0});
    writeRaw("\\Software\\VtNames", "new value #3", REG_SZ, {0, 0});
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtNames");
    QTreeWidgetItem *node = w->tvKeys->currentItem();
    w->tvKeysExpanding(node);

    QString key = QStringLiteral("New key #");
    w->MakeUniqueKeyName(node, key);
    EXPECT_EQ(key, "New key #3");
    EXPECT_TRUE(w->ChildKeyExists(node, "new KEY #2"));
    EXPECT_FALSE(w->ChildKeyExists(node, "\u00E4")) << "only A to Z fold";
    EXPECT_FALSE(w->ChildKeyExists(node, "New key #"));

    QString value = QStringLiteral("New Value #");
    w->MakeUniqueValueName(value);
    EXPECT_EQ(value, "New Value #2");
    EXPECT_TRUE(w->ValueNameExists("(default)"));
    EXPECT_FALSE(w->ValueNameExists("New value"));
}

TEST_F(MainWindow, HintListsTheVisibleColumnTexts)
{
    writeRaw("\\Software\\VtHint", "greeting", REG_SZ, {'h', 'i', 0});
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtHint");
    EXPECT_EQ(row("greeting")->data(0, Qt::ToolTipRole).toString(),
              "Name: greeting\r\nType: REG_SZ\r\nValue: hi\r\nSize: 3");
    // Captions follow the header as shown (a translation changes them).
    w->lvData->headerItem()->setText(1, "Typ");
    EXPECT_TRUE(row("greeting")->data(2, Qt::ToolTipRole).toString().contains("\r\nTyp: REG_SZ\r\n"));
}

TEST_F(MainWindow, SelectingARowKeepsTheBytesForTheHexView)
{
    writeRaw("\\Software\\VtHex", "", REG_BINARY, {0xDE, 0xAD});
    writeRaw("\\Software\\VtHex", "dword", REG_DWORD, {1, 0, 0, 0});
    writeRaw("\\Software\\VtHex", "text", REG_SZ, {'o', 'k', 0});
    writeRaw("\\Software\\VtHex", "qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtHex");
    EXPECT_FALSE(w->lvHexDump->isVisible()) << "no row selected after listing";

    struct Case {
        const char *row;
        bool shown;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"dword", false, {}},
        {"text", true, {'o', 'k', 0}},
        {"(Default)", true, {0xDE, 0xAD}},
        {"qword", true, {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const Case &c : cases) {
        selectRow(QString::fromUtf8(c.row));
        EXPECT_EQ(w->lvHexDump->isVisible(), c.shown) << c.row;
        EXPECT_EQ(w->HexBytes(), c.bytes) << c.row;
        EXPECT_EQ(w->HexViewSize(), int64_t(c.bytes.size())) << c.row;
    }
    // The byte callback pads with zeros past the end.
    selectRow("text");
    uint8_t out[5] = {9, 9, 9, 9, 9};
    w->HexViewGetBytes(1, 5, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{'k', 0, 0, 0, 0}));

    w->lvData->clearSelection();
    EXPECT_FALSE(w->lvHexDump->isVisible());
    EXPECT_TRUE(w->HexBytes().empty());
}

TEST_F(MainWindow, RefreshValueListShowsChangesOfTheSelectedKey)
{
    writeRaw("\\Software\\VtRefresh", "old", REG_SZ, {'1', 0});
    makeWindow();
    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtRefresh");
    EXPECT_EQ(rowCaptions(), QStringList({"(Default)", "old"}));
    writeRaw("\\Software\\VtRefresh", "new", REG_DWORD, {2, 0, 0, 0});
    w->RefreshValueList();
    EXPECT_EQ(rowCaptions(), QStringList({"(Default)", "new", "old"}));
    EXPECT_EQ(w->pg->value(), 0);
}

} // namespace

// The File menu's Export and Import act on the selected key: what one writes
// the other brings back.
TEST_F(MainWindow, ExportThenImportRestoresTheSelectedKey)
{
    writeRaw("\\Software\\VtTrip", "Text", REG_SZ, {'h', 'i', 0});
    writeRaw("\\Software\\VtTrip\\Sub", "Number", REG_DWORD, {42, 0, 0, 0});
    makeWindow();
    const QString file = dir.path() + "/trip.reg";

    w->tvKeys->setCurrentItem(w->MyComputerNode());
    w->UpdateActionStates();
    EXPECT_FALSE(w->aKeyExport->isEnabled()) << "nothing to export at My Computer";

    w->GoToKey("HKEY_CURRENT_USER\\Software\\VtTrip");
    w->UpdateActionStates();
    ASSERT_TRUE(w->aKeyExport->isEnabled());
    vt::regfile::setFileDialogSeam([&](QFileDialog &) { return vt::regfile::TFileChoice{file, 1}; });
    w->aKeyExport->trigger();
    ASSERT_TRUE(QFileInfo::exists(file));

    ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtTrip", 0));
    ASSERT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtTrip\\Sub", 0));
    TformImportProgress progress;
    w->formImportProgress = &progress;
    w->aKeyImport->trigger();
    vt::regfile::setFileDialogSeam(nullptr);

    TMyRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Software\\VtTrip\\Sub", false));
    EXPECT_EQ(reg.ReadInteger("Number"), 42);
    ASSERT_TRUE(reg.OpenKey("\\Software\\VtTrip", false));
    EXPECT_EQ(reg.ReadString("Text"), "hi");
    EXPECT_FALSE(progress.isVisible());
}
