// A hive file opened for recovery, driven as a user drives it: the File
// menu's command, the read-only branch with live and deleted keys, the colour
// and hint of a deleted value, export of the recovered items and of a key,
// find in the branch, closing it; the hive file stays byte-identical.

#include "app/FormUnitMain.h"
#include "app/FormUnitMainRecovery.h"
#include "app/vtImageList.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "platform/vtPlatform.h"
#include "regfile/gui/RegFileActions.h"
#include "tests/support/TestData.h"

#include <QAction>
#include <QCryptographicHash>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace vt::app;

namespace
{

class RecoveryView : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    std::unique_ptr<TformMain> w;
    QString hive;

    void SetUp() override
    {
        VT_SKIP_WITHOUT_TESTDATA();
        ASSERT_TRUE(dir.isValid());
        vt::platform::SystemOptions options;
        options.root = dir.path().toStdString() + "/system";
        ASSERT_EQ(vt::platform::openSystem(options), ERROR_SUCCESS);
        w = std::make_unique<TformMain>();
        w->show();
        hive = dir.path() + "/DeletedDataHive";
        ASSERT_TRUE(QFile::copy(
            QString::fromStdString((vt::test::testdataDir() / "hives/damaged/yarp/DeletedDataHive").string()), hive));
    }
    void TearDown() override
    {
        vt::regfile::setFileDialogSeam(nullptr);
        vt::i18n::clearAnswers();
        w.reset();
        if (vt::test::haveTestdata())
            vt::platform::closeSystem();
    }
    static QByteArray sha256(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QCryptographicHash h(QCryptographicHash::Sha256);
        h.addData(&f);
        return h.result().toHex();
    }
    QAction *action(const char *name) const { return w->findChild<QAction *>(QString::fromLatin1(name)); }
    // Answers the file dialog the action shows, as a user would.
    void chooseFile(QAction *a, const QString &file, const QString &expectedDialog)
    {
        QString dialogName;
        vt::regfile::setFileDialogSeam([&](QFileDialog &dialog) {
            dialogName = dialog.objectName();
            return std::optional<vt::regfile::TFileChoice>(vt::regfile::TFileChoice{file, 1});
        });
        ASSERT_TRUE(a->isEnabled());
        a->trigger();
        vt::regfile::setFileDialogSeam(nullptr);
        EXPECT_EQ(dialogName, expectedDialog);
    }
    QTreeWidgetItem *branch() const
    {
        for (int i = 0; i < w->tvKeys->topLevelItemCount(); ++i)
            if (w->tvKeys->topLevelItem(i)->text(0) == "DeletedDataHive")
                return w->tvKeys->topLevelItem(i);
        return nullptr;
    }
    static QTreeWidgetItem *child(QTreeWidgetItem *node, const QString &name)
    {
        for (int i = 0; node && i < node->childCount(); ++i)
            if (node->child(i)->text(0) == name)
                return node->child(i);
        return nullptr;
    }
    void select(QTreeWidgetItem *node)
    {
        ASSERT_NE(node, nullptr);
        w->tvKeys->setCurrentItem(node);
        w->tvKeysChange();
    }
    TRegistryValueListItem *row(const QString &caption) const
    {
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            if (w->lvData->topLevelItem(i)->text(0) == caption)
                return static_cast<TRegistryValueListItem *>(w->lvData->topLevelItem(i));
        return nullptr;
    }
    static QString readUtf16(const QString &path)
    {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_TRUE(bytes.startsWith("\xFF\xFE"));
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData() + 2), (bytes.size() - 2) / 2);
    }
};

TEST_F(RecoveryView, BranchColoursDeletedItemsExportsFindsAndCloses)
{
    const QByteArray before = sha256(hive);
    QAction *open = action("aFileRecoverHive");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->text(), "Open hive file for recovery...");
    EXPECT_TRUE(w->findChild<QMenu *>("mFile")->actions().contains(open));
    chooseFile(open, hive, "odRecoverHive");
    QTreeWidgetItem *top = branch();
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(w->GetTreeKind(top), 2); // read-only, like a registry file branch
    EXPECT_EQ(RecoveryBranchesAlive(), 1);

    // A live key holding a value deleted from it, and a deleted key.
    QTreeWidgetItem *live = child(top, "123");
    QTreeWidgetItem *deleted = child(top, "456");
    ASSERT_TRUE(live && deleted);
    EXPECT_FALSE(live->data(0, Qt::ForegroundRole).isValid());
    EXPECT_TRUE(deleted->data(0, Qt::ForegroundRole).isValid());
    EXPECT_TRUE(deleted->toolTip(0).contains("Deleted key: found at offset 0x00001230"));
    EXPECT_TRUE(deleted->toolTip(0).contains("last written 2017-03-20 21:15:37"));

    select(deleted);
    TRegistryValueListItem *v = row("v");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->text(1), "REG_SZ");
    EXPECT_EQ(v->text(2), "123456");
    EXPECT_EQ(v->data(0, Qt::BackgroundRole).value<QColor>(), QColor(255, 200, 150));
    const QString hint = v->data(0, Qt::ToolTipRole).toString();
    EXPECT_TRUE(hint.contains("Deleted value: found at offset 0x000012C8")) << hint.toStdString();
    EXPECT_TRUE(hint.contains("14 of 14 bytes of data survived (whole)")) << hint.toStdString();

    select(live);
    TRegistryValueListItem *v2 = row("v2");
    ASSERT_NE(v2, nullptr);
    EXPECT_EQ(v2->text(2), "456");
    EXPECT_EQ(v2->data(0, Qt::BackgroundRole).value<QColor>(), QColor(255, 200, 150));

    // Export of all recovered items, from the branch's top node.
    select(top);
    const QString all = dir.path() + "/all.reg";
    chooseFile(action("aFileRecoverExport"), all, "sdRecoverExport");
    const QString text = readUtf16(all);
    EXPECT_TRUE(text.startsWith("Windows Registry Editor Version 5.00\r\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("[HKEY_CURRENT_USER\\DeletedDataHive\\456]\r\n\"v\"=\"123456\"")) << text.toStdString();
    EXPECT_TRUE(text.contains("[HKEY_CURRENT_USER\\DeletedDataHive\\123]\r\n\"v2\"=\"456\"")) << text.toStdString();
    // Export of one key: only its branch.
    select(deleted);
    const QString one = dir.path() + "/one.reg";
    chooseFile(action("aFileRecoverExport"), one, "sdRecoverExport");
    const QString keyText = readUtf16(one);
    EXPECT_TRUE(keyText.contains("[HKEY_CURRENT_USER\\DeletedDataHive\\456]"));
    EXPECT_FALSE(keyText.contains("\\123]"));

    // Find: a deleted value's data from the top of the branch.
    select(top);
    vt::i18n::setNextPromptAnswer(QString("123456"));
    QAction *find = action("aFileRecoverFind");
    ASSERT_TRUE(find->isEnabled());
    find->trigger();
    EXPECT_EQ(w->tvKeys->currentItem(), deleted);
    ASSERT_NE(w->lvData->currentItem(), nullptr);
    EXPECT_EQ(w->lvData->currentItem()->text(0), "v");

    // Closing the branch frees the scan; the hive was never written.
    QAction *close = action("aFileCloseReg");
    ASSERT_TRUE(close->isEnabled());
    close->trigger();
    EXPECT_EQ(branch(), nullptr);
    EXPECT_EQ(RecoveryBranchesAlive(), 0);
    EXPECT_EQ(sha256(hive), before);
}

TEST_F(RecoveryView, NotAHiveSaysWhyAndAddsNothing)
{
    const QString text = dir.path() + "/text.txt";
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("hello\n");
    f.close();
    const int before = w->tvKeys->topLevelItemCount();
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    chooseFile(action("aFileRecoverHive"), text, "odRecoverHive");
    EXPECT_EQ(w->tvKeys->topLevelItemCount(), before);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("not a registry hive"));
    EXPECT_EQ(RecoveryBranchesAlive(), 0);
}

} // namespace
