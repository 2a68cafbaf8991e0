// The "Security information" tab of the main window: filled for the selected
// key, its hint, the three actions' enabling, the report on the clipboard and
// in a file, and granting all rights, driven through the window's actions.
#include "app/FormUnitMain.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "knowledge/PathPlaceholders.h"
#include "platform/security/SecurityDescriptor.h"
#include "platform/vtPlatform.h"
#include "regfile/gui/RegFileActions.h"
#include "security/zoSecurity.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace vt::app;

namespace
{

class SecurityTab : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    std::unique_ptr<TformMain> w;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        open(vt::platform::Identity::Administrator);
        makeKey("SYSTEM\\VtSec\\Secret", "O:SYD:P(A;;KA;;;SY)");
        makeKey("SYSTEM\\VtSec", "O:BAD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)");
        makeKey("SYSTEM\\VtOther", "O:BAD:(A;;KA;;;BA)");
    }
    void open(vt::platform::Identity identity)
    {
        w.reset();
        vt::platform::closeSystem();
        vt::platform::SystemOptions options;
        options.root = dir.path().toStdString() + "/system";
        options.identity = identity;
        ASSERT_EQ(vt::platform::openSystem(options), ERROR_SUCCESS);
        vt::knowledge::BuildPlaceholders();
        w = std::make_unique<TformMain>();
        w->resize(900, 700);
        w->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        EXPECT_EQ(vt::i18n::pendingAnswers(), 0);
        vt::i18n::clearAnswers();
        vt::regfile::setFileDialogSeam(nullptr);
        w.reset();
        vt::platform::closeSystem();
    }
    static void makeKey(const std::string &path, const char *sddl)
    {
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            0);
        auto sd = vt::security::descriptorFromSddl(sddl);
        ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, sd->data()), 0);
        RegCloseKey(key);
    }
    void go(const QString &key)
    {
        w->GoToKey(key);
        QApplication::processEvents();
    }
    // A key the user may not open is listed but cannot be jumped to.
    void selectChild(const QString &parent, const QString &name)
    {
        go(parent);
        QTreeWidgetItem *node = w->tvKeys->currentItem();
        node->setExpanded(true);
        QTreeWidgetItem *child = w->FindChildNode(node, name);
        ASSERT_NE(child, nullptr) << name.toStdString();
        w->tvKeys->setCurrentItem(child);
        w->tvKeysChange();
        QApplication::processEvents();
    }
    void showTab(QWidget *tab)
    {
        w->pcMain->setCurrentWidget(tab);
        QApplication::processEvents();
    }
    QStringList topCaptions() const
    {
        QStringList out;
        for (int i = 0; i < w->tvInfo->topLevelItemCount(); ++i)
            out << w->tvInfo->topLevelItem(i)->text(0);
        return out;
    }
    QString report(const std::string &path) const
    {
        return QString::fromStdString(
            vt::security_info::ReportText(vt::security_info::SecurityReport(HKEY_LOCAL_MACHINE, path, 0)));
    }
};

} // namespace

TEST_F(SecurityTab, SelectingAKeyFillsTheTreeAndItsHint)
{
    EXPECT_TRUE(w->pcMain->isTabVisible(w->pcMain->indexOf(w->tsInfo)));
    go("HKEY_LOCAL_MACHINE\\SYSTEM\\VtSec");
    ASSERT_EQ(topCaptions(), (QStringList{"SYSTEM (NT AUTHORITY)", "Users (BUILTIN)"}));
    QTreeWidgetItem *system = w->tvInfo->topLevelItem(0);
    EXPECT_EQ(system->data(0, Qt::UserRole).toInt(), 5);
    ASSERT_EQ(system->childCount(), 3);
    const char *categories[][2] = {
        {"ACE Type", "ACCESS_ALLOWED_ACE_TYPE"}, {"ACE Flags", "CONTAINER_INHERIT_ACE"}, {"Rights", "KEY_ALL_ACCESS"}};
    for (int i = 0; i < 3; ++i) {
        QTreeWidgetItem *category = system->child(i);
        EXPECT_EQ(category->text(0), categories[i][0]);
        EXPECT_EQ(category->data(0, Qt::UserRole).toInt(), 1);
        ASSERT_EQ(category->childCount(), 1);
        EXPECT_EQ(category->child(0)->text(0), categories[i][1]);
        EXPECT_EQ(category->child(0)->data(0, Qt::UserRole).toInt(), 6);
    }
    const QStringList hint = w->tvInfo->toolTip().split(QStringLiteral("\r\n"));
    ASSERT_EQ(hint.size(), 6);
    EXPECT_EQ(hint[0], "  NumSubKeys: 1");
    EXPECT_TRUE(hint[5].startsWith("  FileTime: ")) << hint[5].toStdString();

    // The tree follows the selection while another tab is shown, too.
    showTab(w->tsData);
    go("HKEY_LOCAL_MACHINE\\SYSTEM\\VtOther");
    EXPECT_EQ(topCaptions(), QStringList{"Administrators (BUILTIN)"});
    EXPECT_TRUE(w->tvInfo->toolTip().startsWith("  NumSubKeys: 0"));
}

TEST_F(SecurityTab, AKeyWithoutReadableInfoShowsNoEarlierHint)
{
    open(vt::platform::Identity::StandardUser);
    go("HKEY_LOCAL_MACHINE\\SYSTEM\\VtSec");
    ASSERT_FALSE(w->tvInfo->toolTip().isEmpty());
    ASSERT_EQ(w->tvInfo->topLevelItemCount(), 2);
    selectChild("HKEY_LOCAL_MACHINE\\SYSTEM\\VtSec", "Secret"); // closed to the user
    EXPECT_EQ(w->tvInfo->topLevelItemCount(), 0);
    EXPECT_EQ(w->tvInfo->toolTip(), QString());
}

TEST_F(SecurityTab, ActionsFollowTheTreeKindAndTheTab)
{
    struct Case {
        const char *key; // empty: "My Computer"
        QWidget *TformMain::*tab;
        bool exports, grant;
    };
    const Case cases[] = {
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\VtSec", &TformMain::tsData, false, true},
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\VtSec", &TformMain::tsInfo, true, true},
        {"HKEY_LOCAL_MACHINE", &TformMain::tsInfo, true, true},
        {"", &TformMain::tsInfo, false, false},
        {"", &TformMain::tsData, false, false},
    };
    for (const Case &c : cases) {
        if (*c.key)
            go(c.key);
        else
            w->tvKeys->setCurrentItem(w->MyComputerNode());
        showTab((*w).*c.tab);
        EXPECT_EQ(w->aSecurityInformationExportToClipboard->isEnabled(), c.exports) << c.key;
        EXPECT_EQ(w->aSecurityInformationExportToFile->isEnabled(), c.exports) << c.key;
        EXPECT_EQ(w->aSecurityInformationGrantAll->isEnabled(), c.grant) << c.key;
        // The menus' own enabling agrees.
        w->UpdateActionStates();
        EXPECT_EQ(w->aSecurityInformationExportToClipboard->isEnabled(), c.exports) << c.key;
        EXPECT_EQ(w->aSecurityInformationGrantAll->isEnabled(), c.grant) << c.key;
    }

    // A key of a registry file's branch has no security to show or change.
    const QString file = dir.filePath("branch.reg");
    QFile reg(file);
    ASSERT_TRUE(reg.open(QIODevice::WriteOnly));
    reg.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\VtFile]\r\n\"A\"=\"1\"\r\n");
    reg.close();
    go("HKEY_LOCAL_MACHINE\\SYSTEM\\VtSec");
    ASSERT_FALSE(w->tvInfo->toolTip().isEmpty());
    ASSERT_TRUE(w->OpenRegistryFileView(file, false));
    QTreeWidgetItem *top = w->tvKeys->topLevelItem(w->tvKeys->topLevelItemCount() - 1);
    ASSERT_NE(top, w->MyComputerNode());
    top->setExpanded(true);
    ASSERT_GT(top->childCount(), 0);
    w->tvKeys->setCurrentItem(top->child(0));
    w->tvKeysChange();
    showTab(w->tsInfo);
    EXPECT_EQ(w->GetTreeKind(top->child(0)), 2);
    EXPECT_FALSE(w->aSecurityInformationExportToClipboard->isEnabled());
    EXPECT_FALSE(w->aSecurityInformationGrantAll->isEnabled());
    EXPECT_EQ(w->tvInfo->topLevelItemCount(), 0);
    EXPECT_EQ(w->tvInfo->toolTip(), QString()) << "no hint of the local key before";
}

TEST_F(SecurityTab, ReportOnTheClipboardAndInAFile)
{
    go("HKEY_LOCAL_MACHINE\\SYSTEM\\VtSec");
    showTab(w->tsInfo);
    QApplication::clipboard()->clear();
    w->aSecurityInformationExportToClipboard->trigger();
    const QString text = QApplication::clipboard()->text();
    EXPECT_TRUE(text.startsWith("+ Accessing HKEY_LOCAL_MACHINE\\SYSTEM\\VtSec\r\n  NumSubKeys: 1\r\n"))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith("\r\n"));
    EXPECT_FALSE(text.contains(QRegularExpression("[^\r]\n")));
    EXPECT_EQ(text, report("\\SYSTEM\\VtSec"));

    const QString file = dir.filePath("report.txt");
    QString dialogName, suffix;
    vt::regfile::setFileDialogSeam([&](QFileDialog &d) {
        dialogName = d.objectName();
        suffix = d.defaultSuffix();
        return vt::regfile::TFileChoice{file, 1};
    });
    w->aSecurityInformationExportToFile->trigger();
    EXPECT_EQ(dialogName, "sdSecurityReport");
    EXPECT_EQ(suffix, "txt");
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), text);

    // Cancel writes nothing.
    QFile::remove(file);
    vt::regfile::setFileDialogSeam([](QFileDialog &) { return std::optional<vt::regfile::TFileChoice>(); });
    w->aSecurityInformationExportToFile->trigger();
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(SecurityTab, GrantAllRefillsTheTreeOrSaysWhyNot)
{
    go("HKEY_LOCAL_MACHINE\\SYSTEM\\VtSec");
    showTab(w->tsInfo);
    ASSERT_EQ(w->tvInfo->topLevelItemCount(), 2);
    w->aSecurityInformationGrantAll->trigger();
    // A null access list has no entries to list; no message was shown.
    EXPECT_EQ(w->tvInfo->topLevelItemCount(), 0);
    EXPECT_TRUE(report("\\SYSTEM\\VtSec").contains("+ Accessing DACL_SECURITY_INFORMATION\r\n"));

    open(vt::platform::Identity::StandardUser);
    selectChild("HKEY_LOCAL_MACHINE\\SYSTEM\\VtSec", "Secret");
    ASSERT_TRUE(w->aSecurityInformationGrantAll->isEnabled());
    vt::i18n::setNextAnswer(1);
    w->aSecurityInformationGrantAll->trigger();
    const vt::i18n::TMessageCall call = vt::i18n::lastMessage();
    EXPECT_EQ(call.text, "- Could not set key security: Access is denied.");
    EXPECT_EQ(call.kind, vt::i18n::TMsgDlgType::Information);
}
