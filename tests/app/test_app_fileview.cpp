// Registry files in the key tree, driven as a user drives them: open, open
// as a difference view, select file keys, read colours and hints, close.

#include "app/FormUnitMain.h"
#include "app/vtImageList.h"
#include "core/kltRegistry.h"
#include "editors/gui/vzoHexView.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "platform/vtPlatform.h"
#include "regfile/RegFileText.h"
#include "regfile/gui/RegFileActions.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

using namespace vt::app;

namespace {

class FileView : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<TformMain> w;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        vt::platform::SystemOptions options;
        options.root = dir.path().toStdString() + "/system";
        ASSERT_EQ(vt::platform::openSystem(options), ERROR_SUCCESS);
        w = std::make_unique<TformMain>();
        w->show();
    }
    void TearDown() override
    {
        vt::regfile::setFileDialogSeam(nullptr);
        vt::i18n::clearAnswers();
        w.reset();
        vt::platform::closeSystem();
    }

    QString writeFile(const QString &name, const std::string &bytes)
    {
        const QString path = dir.path() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), qint64(bytes.size()));
        return path;
    }
    static std::string version5(const std::string &text)
    {
        std::string out = "\xFF\xFE";
        AppendUtf16le(std::string(RegFileHeader5) + "\r\n\r\n" + text, out);
        return out;
    }
    // Chooses the file in the open dialog of the action, as a user would.
    void openThrough(QAction *action, const QString &file)
    {
        QString dialogName;
        vt::regfile::setFileDialogSeam([&](QFileDialog &dialog) {
            dialogName = dialog.objectName();
            EXPECT_EQ(dialog.defaultSuffix(), "reg");
            EXPECT_EQ(dialog.nameFilters(), QStringList({"Registry file (*.reg)"}));
            return std::optional<vt::regfile::TFileChoice>(vt::regfile::TFileChoice{file, 1});
        });
        ASSERT_TRUE(action->isEnabled());
        action->trigger();
        EXPECT_EQ(dialogName, "odDisplayReg");
    }
    QList<QTreeWidgetItem *> fileBranches() const
    {
        QList<QTreeWidgetItem *> list;
        for (int i = 0; i < w->tvKeys->topLevelItemCount(); ++i)
            if (w->tvKeys->topLevelItem(i)->data(0, NodeImageRole).toInt() == imgRegistryFile)
                list << w->tvKeys->topLevelItem(i);
        return list;
    }
    static QTreeWidgetItem *child(QTreeWidgetItem *node, const QString &path)
    {
        for (const QString &name : path.split('\\')) {
            QTreeWidgetItem *next = nullptr;
            for (int i = 0; node && i < node->childCount(); ++i)
                if (node->child(i)->text(0) == name)
                    next = node->child(i);
            node = next;
        }
        return node;
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
    QStringList rowTexts(int column) const
    {
        QStringList list;
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            list << w->lvData->topLevelItem(i)->text(column);
        return list;
    }
    static QString background(TRegistryValueListItem *r)
    {
        const QVariant v = r->data(0, Qt::BackgroundRole);
        return v.isValid() ? v.value<QColor>().name() : QString("none");
    }
};

const std::string kSample = "[HKEY_CURRENT_USER\\Software\\VtFile]\r\n"
                            "\"Text\"=\"C:\\\\Temp\"\r\n"
                            "\"Bin\"=hex:01,02,\\\r\n"
                            "  03\r\n"
                            "\r\n"
                            "[HKEY_CURRENT_USER\\software\\vtfile\\Sub]\r\n"
                            "\"Num\"=dword:0000002a\r\n"
                            "[HKEY_CURRENT_USER\\Software\\VtFile]\r\n"
                            "@=\"def\"\r\n";

TEST_F(FileView, OpenShowsTheFileAsABranchAndItsKeysValues)
{
    const QString file = writeFile("sample.reg", version5(kSample));
    openThrough(w->aFileOpenReg, file);
    ASSERT_EQ(fileBranches().size(), 1);
    QTreeWidgetItem *top = fileBranches()[0];
    EXPECT_EQ(top->text(0), "sample.reg");
    EXPECT_EQ(top->data(0, NodeSelectedImageRole).toInt(), int(imgRegistryFile));
    EXPECT_TRUE(top->isExpanded());
    QTreeWidgetItem *key = child(top, "HKEY_CURRENT_USER\\Software\\VtFile");
    ASSERT_NE(key, nullptr) << "a key met twice in other case is one node, named as first met";
    EXPECT_EQ(key->childCount(), 1);
    EXPECT_EQ(w->GetTreeKind(key), 2);
    EXPECT_EQ(key->data(0, NodeImageRole).toInt(), int(imgFolder));
    EXPECT_EQ(child(key, "Sub")->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);

    select(key);
    EXPECT_EQ(rowTexts(0), QStringList({"Text", "Bin", "@", "(Default)"}));
    EXPECT_EQ(rowTexts(1), QStringList({"REG_SZ", "REG_BINARY", "REG_SZ", "REG_SZ"}));
    EXPECT_EQ(rowTexts(2), QStringList({"C:\\Temp", "01 02 03", "def", "(Data not defined)"}));
    EXPECT_EQ(rowTexts(3), QStringList({"7", "3", "3", "0"}));
    EXPECT_FALSE(w->lvData->isColumnHidden(4)) << "the Registry Value column, empty without comparison";
    EXPECT_EQ(rowTexts(4), QStringList({"", "", "", ""}));
    EXPECT_EQ(background(row("Text")), "none");
    EXPECT_EQ(row("Text")->data(0, Qt::ToolTipRole).toString(),
              "Name: Text\r\nType: REG_SZ\r\nValue: C:\\Temp\r\nSize: 7");

    // The bytes the hex view shows: listed bytes for binary rows, the
    // characters for strings, none for numbers.
    w->lvData->setCurrentItem(row("Bin"));
    EXPECT_EQ(w->HexBytes(), (TRegByteArray{1, 2, 3}));
    EXPECT_TRUE(w->lvHexDump->isVisible());
    w->lvData->setCurrentItem(row("Text"));
    EXPECT_EQ(w->HexBytes(), (TRegByteArray{'C', ':', '\\', 'T', 'e', 'm', 'p'}));

    // Keys are selected with the keyboard too; the file's own node lists
    // nothing, not even the placeholder, and hides the column.
    for (QTreeWidgetItem *n = key; n; n = n->parent())
        n->setExpanded(true);
    w->tvKeys->setFocus();
    QTest::keyClick(w->tvKeys, Qt::Key_Down);
    EXPECT_EQ(w->tvKeys->currentItem()->text(0), "Sub");
    EXPECT_EQ(rowTexts(2), QStringList({"0x0000002A (42)", "(Data not defined)"}));
    w->lvData->setCurrentItem(row("Num"));
    EXPECT_FALSE(w->lvHexDump->isVisible());
    select(top);
    EXPECT_EQ(w->lvData->topLevelItemCount(), 0);
    EXPECT_TRUE(w->lvData->isColumnHidden(4));

    // Opening the same file again adds a second branch; a local key hides
    // the column again.
    openThrough(w->aFileOpenReg, file);
    EXPECT_EQ(fileBranches().size(), 2);
    select(child(fileBranches()[1], "HKEY_CURRENT_USER\\Software\\VtFile"));
    EXPECT_FALSE(w->lvData->isColumnHidden(4));
    w->GoToKey("HKEY_CURRENT_USER\\Software");
    EXPECT_TRUE(w->lvData->isColumnHidden(4));
}

TEST_F(FileView, DifferenceViewColoursRowsAndExplainsThemInTheHint)
{
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey("\\Software\\VtFile", true));
        reg.WriteString("Text", "C:\\Temp");
        reg.writeValue("Bin", REG_BINARY, {1, 2, 4});
        reg.WriteString("", "other");
    }
    const QString file = writeFile("diff.reg", version5(kSample + "\"Gone\"=dword:00000001\r\n"
                                                                  "\"Typed\"=dword:00000001\r\n"));
    TMyRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Software\\VtFile", false));
    reg.WriteString("Typed", "1");
    openThrough(w->aFileDiffOpenReg, file);
    ASSERT_EQ(fileBranches().size(), 1);
    select(child(fileBranches()[0], "HKEY_CURRENT_USER\\Software\\VtFile"));

    EXPECT_EQ(rowTexts(0), QStringList({"Text", "Bin", "@", "Gone", "Typed", "(Default)"}));
    EXPECT_EQ(rowTexts(4), QStringList({"C:\\Temp", "01 02 04", "other", "", "1", ""}));
    const QString blue = QColor(166, 202, 240).name(), red = QColor(255, 127, 128).name();
    EXPECT_EQ(background(row("Text")), "none");
    EXPECT_EQ(background(row("Bin")), blue) << "binary data that differs is marked";
    EXPECT_EQ(background(row("@")), blue);
    EXPECT_EQ(background(row("Gone")), red);
    EXPECT_EQ(background(row("Typed")), blue);
    EXPECT_EQ(background(row("(Default)")), "none");

    const QString four = "Name: Bin\r\nType: REG_BINARY\r\nValue: 01 02 03\r\nSize: 3";
    EXPECT_EQ(row("Bin")->data(2, Qt::ToolTipRole).toString(),
              four + "\r\n\r\nData is different in registry.\r\nValue: 01 02 04");
    EXPECT_TRUE(row("Text")->data(0, Qt::ToolTipRole).toString().endsWith(
        "\r\n\r\nThis value and data exists in your registry."));
    EXPECT_TRUE(row("Gone")->data(0, Qt::ToolTipRole).toString().endsWith("\r\n\r\nNot in registry."));
    EXPECT_TRUE(row("Typed")->data(0, Qt::ToolTipRole).toString().endsWith(
        "\r\n\r\nType is different in registry.\r\nValue: 1"));
    // The comparison was made when the file was read; a later change of the
    // registry does not show until the file is opened again.
    reg.writeValue("Bin", REG_BINARY, {1, 2, 3});
    select(child(fileBranches()[0], "HKEY_CURRENT_USER\\Software\\VtFile"));
    EXPECT_EQ(background(row("Bin")), blue);
}

TEST_F(FileView, FilesThatCannotBeShownSaySoAndAddNoBranch)
{
    const QString plain = writeFile("plain.reg", std::string(RegFileHeader5) + "\r\n\r\n" + kSample);
    struct Case {
        QString file;
        const char *says;
    } cases[] = {
        {dir.path() + "/missing.reg", "cannot be opened"},
        {plain, "is not a registry file"},
        {dir.path(), "is not a regular file"},
    };
    for (const Case &c : cases) {
        vt::i18n::setNextAnswer(vt::i18n::mrOk);
        openThrough(w->aFileDiffOpenReg, c.file);
        EXPECT_EQ(vt::i18n::pendingAnswers(), 0) << c.file.toStdString();
        EXPECT_TRUE(vt::i18n::lastMessage().text.contains(c.says)) << vt::i18n::lastMessage().text.toStdString();
        EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Error);
        EXPECT_TRUE(fileBranches().isEmpty()) << c.file.toStdString();
        EXPECT_TRUE(w->aFileOpenReg->isEnabled());
    }
}

TEST_F(FileView, ABranchClosesFromItsPopupMenu)
{
    const QString file = writeFile("close.reg", version5(kSample));
    openThrough(w->aFileOpenReg, file);
    openThrough(w->aFileOpenReg, file);
    ASSERT_EQ(fileBranches().size(), 2);

    // The local tree's pop-up has no such entry.
    w->GoToKey("HKEY_CURRENT_USER\\Software");
    w->UpdateActionStates();
    EXPECT_FALSE(w->aFileCloseReg->isVisible());
    EXPECT_FALSE(w->aFileCloseReg->isEnabled());

    QTreeWidgetItem *first = fileBranches()[0];
    QTreeWidgetItem *key = child(first, "HKEY_CURRENT_USER\\Software\\VtFile");
    first->setExpanded(true);
    child(first, "HKEY_CURRENT_USER")->setExpanded(true);
    child(first, "HKEY_CURRENT_USER\\Software")->setExpanded(true);
    emit w->tvKeys->customContextMenuRequested(w->tvKeys->visualItemRect(key).center());
    EXPECT_EQ(w->tvKeys->currentItem(), key);
    ASSERT_TRUE(w->pmKeys->isVisible());
    EXPECT_TRUE(w->aFileCloseReg->isVisible());
    ASSERT_TRUE(w->aFileCloseReg->isEnabled());
    EXPECT_FALSE(w->lvData->topLevelItemCount() == 0);
    w->pmKeys->close();
    w->aFileCloseReg->trigger();

    EXPECT_EQ(fileBranches().size(), 1);
    EXPECT_EQ(w->tvKeys->currentItem(), w->MyComputerNode());
    EXPECT_EQ(w->lvData->topLevelItemCount(), 0);
    // A click on a key of the other branch lists its values: that branch
    // and its file's tree are untouched.
    QTreeWidgetItem *other = child(fileBranches()[0], "HKEY_CURRENT_USER\\Software\\VtFile");
    for (QTreeWidgetItem *n = other; n; n = n->parent())
        n->setExpanded(true);
    QTest::mouseClick(w->tvKeys->viewport(), Qt::LeftButton, {}, w->tvKeys->visualItemRect(other).center());
    EXPECT_EQ(w->tvKeys->currentItem(), other);
    EXPECT_EQ(rowTexts(0), QStringList({"Text", "Bin", "@", "(Default)"}));
}

// A big file is read with the progress bar moving and the window serving
// its events meanwhile; opening another file waits until it is done.
TEST_F(FileView, BigFileShowsProgressAndKeepsTheWindowResponsive)
{
    std::string text;
    for (int k = 0; k < 400; ++k) {
        text += "[HKEY_CURRENT_USER\\Software\\VtBig\\Key" + std::to_string(k) + "]\r\n";
        for (int v = 0; v < 100; ++v)
            text += "\"Value" + std::to_string(v) + "\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f\r\n";
    }
    const QString file = writeFile("big.reg", version5(text));
    // What the bar showed whenever the window served a timer meanwhile.
    QList<int> served;
    bool openDisabledMeanwhile = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        served << w->pg->value();
        openDisabledMeanwhile = openDisabledMeanwhile || !w->aFileOpenReg->isEnabled();
    });
    timer.start(0);
    openThrough(w->aFileDiffOpenReg, file);
    timer.stop();
    EXPECT_TRUE(std::any_of(served.begin(), served.end(), [](int v) { return v > 0 && v < 100; }))
        << "no event was served while the bar stood between start and end";
    EXPECT_TRUE(openDisabledMeanwhile);
    EXPECT_EQ(w->pg->value(), 0);
    EXPECT_TRUE(w->aFileOpenReg->isEnabled());
    ASSERT_EQ(fileBranches().size(), 1);
    EXPECT_EQ(child(fileBranches()[0], "HKEY_CURRENT_USER\\Software\\VtBig")->childCount(), 400);
}

} // namespace
