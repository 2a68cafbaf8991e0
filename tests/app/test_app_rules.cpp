// The rule dialog and the info database tab, driven as a person uses them:
// values selected with the mouse, commands through their actions, text typed
// into the focused field, the clipboard and the file checked afterwards.

#include "app/FormUnitMain.h"
#include "app/kltConfig.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "editors/gui/EditorModal.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "knowledge/RegistryInfo.h"
#include "knowledge/RuleLines.h"
#include "knowledge/gui/FormUnitZTIValue.h"
#include "tests/support/TempSystem.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace vt::app;
using vt::knowledge::TformOpenZTIValue;

namespace
{

const std::string Key = "\\Software\\VtRules";

QWidget *focused()
{
    return QApplication::focusWidget();
}

void replaceText(const QString &text)
{
    QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(focused(), text);
}

template <class T> T *child(QWidget *w, const char *name)
{
    T *c = w->findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

void click(QWidget *w)
{
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
}

QByteArray readAll(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// ---------------------------------------------------------------------------
// The dialog alone

class RuleDialog : public ::testing::Test
{
protected:
    TformOpenZTIValue dlg;
    void TearDown() override { vt::editors::clearEditorDrivers(); }
    // Runs Execute with a driver that works the dialog, then returns the line
    // (empty when cancelled).
    std::string run(TRegDataType type, const std::string &name, const std::string &data,
                    const std::function<void(QDialog &)> &work)
    {
        vt::editors::setNextEditorDriver(work);
        std::string line;
        return dlg.Execute(HKEY_CURRENT_USER, type, Key, name, data, line) ? line : std::string("(cancelled)");
    }
};

TEST_F(RuleDialog, ControlsCaptionsAndTokens)
{
    EXPECT_EQ(dlg.windowTitle(), "Create OpenZTI for registry value");
    for (const char *name : {"labelRootKey", "labelKeyPath", "labelValueName", "labelType", "labelData"})
        child<QLabel>(&dlg, name);
    EXPECT_EQ(child<QGroupBox>(&dlg, "groupZTI")->title(), "OpenZTI command");
    EXPECT_EQ(child<QRadioButton>(&dlg, "rbRegyValue")->text(), "Regy&Value,");
    EXPECT_EQ(child<QRadioButton>(&dlg, "rbRegyRemove")->text(), "Regy&Remove, removing the text below from the data:");
    EXPECT_EQ(child<QRadioButton>(&dlg, "rbRegyChange")->text(),
              "Regy&Change, changing the data back to the default below:");
    EXPECT_EQ(child<QRadioButton>(&dlg, "rbRegyFix")->text(),
              "Regy&Fix, removing the value if the data is the same as below:");
    EXPECT_EQ(child<QCheckBox>(&dlg, "cbVerifier")->text(), "using the &advanced registry parameter below:");
    child<QLineEdit>(&dlg, "editVerifier");
    EXPECT_EQ(child<QPushButton>(&dlg, "bnOK")->text(), "O&K");
    EXPECT_TRUE(dlg.bnOK->isDefault());
    EXPECT_EQ(child<QPushButton>(&dlg, "bnCancel")->text(), "Cancel");
    EXPECT_TRUE(dlg.rbRegyValue->isChecked());
    QComboBox *cb = child<QComboBox>(&dlg, "cbDescription");
    EXPECT_TRUE(cb->isEditable());
    EXPECT_EQ(cb->currentText(), "enter or select description text here");
    ASSERT_EQ(cb->count(), 75);
    for (int i = 0; i < cb->count(); ++i)
        EXPECT_EQ(cb->itemText(i), QStringLiteral("<$%1>").arg(vt::knowledge::DescriptionTokens[i]));
}

// The description, the command and the check box stay from one use to the
// next; Remove is offered for strings only and, disabled, still counts.
TEST_F(RuleDialog, StateKeptAndRemoveForStringsOnly)
{
    std::string line = run(rdString, "Example", "C:\\x.exe", [&](QDialog &) {
        EXPECT_EQ(dlg.labelRootKey->text(), "HKEY_CURRENT_USER");
        EXPECT_EQ(dlg.labelKeyPath->text(), QString::fromStdString(Key));
        EXPECT_EQ(dlg.labelValueName->text(), "Example");
        EXPECT_EQ(dlg.labelType->text(), "REG_SZ");
        EXPECT_EQ(dlg.labelData->text(), "C:\\x.exe");
        EXPECT_EQ(dlg.editVerifier->text(), "Example=C:\\x.exe");
        EXPECT_TRUE(dlg.rbRegyRemove->isEnabled());
        dlg.cbDescription->setCurrentIndex(18); // <$REG_AUTORUN>
        click(dlg.rbRegyRemove);
        dlg.editVerifier->setFocus();
        replaceText("x.exe");
        click(dlg.bnOK);
    });
    EXPECT_EQ(line, "RegyRemove:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"" + Key + "\",\"Example\",\"x.exe\"");

    line = run(rdInteger, "Count", "0x0000002A (42)", [&](QDialog &) {
        EXPECT_FALSE(dlg.rbRegyRemove->isEnabled());
        EXPECT_TRUE(dlg.rbRegyRemove->isChecked());
        EXPECT_EQ(dlg.cbDescription->currentText(), "<$REG_AUTORUN>");
        EXPECT_EQ(dlg.editVerifier->text(), "Count=0x0000002A (42)") << "the check field is filled afresh";
        click(dlg.bnOK);
    });
    EXPECT_EQ(line,
              "RegyRemove:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"" + Key + "\",\"Count\",\"Count=0x0000002A (42)\"");

    line = run(rdExpandString, "", "%x%", [&](QDialog &) {
        EXPECT_TRUE(dlg.rbRegyRemove->isEnabled());
        click(dlg.rbRegyChange);
        dlg.cbDescription->setFocus();
        replaceText("own words");
        click(dlg.cbVerifier);
        click(dlg.bnOK);
    });
    EXPECT_EQ(line, "RegyChange:\"own words\",HKEY_CURRENT_USER,\"" + Key + "\",\"==%x%\"");

    line = run(rdMultiString, "List", "a\r\nb\r\n", [&](QDialog &) {
        EXPECT_TRUE(dlg.rbRegyChange->isChecked());
        EXPECT_TRUE(dlg.cbVerifier->isChecked());
        EXPECT_EQ(dlg.cbDescription->currentText(), "own words");
        click(dlg.rbRegyValue);
        click(dlg.bnOK);
    });
    EXPECT_EQ(line, "RegyValue:\"own words\",HKEY_CURRENT_USER,\"" + Key + "\",\"List\",\"List=a b \"");

    EXPECT_EQ(run(rdString, "x", "y", [&](QDialog &) { click(dlg.bnCancel); }), "(cancelled)");
    EXPECT_EQ(run(rdString, "x", "y", [&](QDialog &) { QTest::keyClick(focused(), Qt::Key_Escape); }), "(cancelled)");
}

// OK is refused, with the reason, while a field holds a line break.
TEST_F(RuleDialog, OkRefusedWhileAFieldHoldsALineBreak)
{
    const std::string line = run(rdString, "S", "one\r\ntwo", [&](QDialog &d) {
        click(dlg.bnOK);
        EXPECT_TRUE(d.isVisible()) << "still open";
        EXPECT_FALSE(dlg.labelProblem->isHidden());
        EXPECT_TRUE(dlg.labelProblem->text().contains("line break"));
        dlg.editVerifier->setText("S=one two");
        dlg.cbDescription->setEditText("two\nlines");
        click(dlg.bnOK);
        EXPECT_TRUE(d.isVisible());
        dlg.cbDescription->setEditText("one line");
        click(dlg.bnOK);
    });
    EXPECT_EQ(line, "RegyValue:\"one line\",HKEY_CURRENT_USER,\"" + Key + "\",\"S\"");
}

// ---------------------------------------------------------------------------
// The main window

class RulesWindow : public ::testing::Test
{
protected:
    vt::test::TempSystem sys;
    std::unique_ptr<TformMain> w;

    void SetUp() override
    {
        ASSERT_EQ(sys.openResult(), ERROR_SUCCESS);
        vt::i18n::clearAnswers();
        QDir().mkpath(QString::fromStdString(ProgramFolder()));
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, Key));
    }
    void TearDown() override
    {
        vt::editors::clearEditorDrivers();
        vt::i18n::clearAnswers();
        w.reset();
    }
    void open()
    {
        w = std::make_unique<TformMain>();
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    QTreeWidgetItem *row(const QString &caption) const
    {
        for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
            if (w->lvData->topLevelItem(i)->text(0) == caption)
                return w->lvData->topLevelItem(i);
        return nullptr;
    }
    // Clicks the rows, Ctrl held after the first.
    void selectRows(const QStringList &captions)
    {
        w->lvData->clearSelection();
        bool first = true;
        for (const QString &c : captions) {
            QTreeWidgetItem *r = row(c);
            ASSERT_NE(r, nullptr) << c.toStdString();
            const QRect rect = w->lvData->visualItemRect(r);
            QTest::mouseClick(w->lvData->viewport(), Qt::LeftButton,
                              first ? Qt::KeyboardModifiers{} : Qt::ControlModifier, rect.center());
            first = false;
        }
    }
    QString clipboard() const { return QGuiApplication::clipboard()->text(); }
    QToolButton *button(const char *name) const { return w->findChild<QToolButton *>(QString::fromLatin1(name)); }
    QString dbFile() const { return w->InfoDBFile(); }
    void typeInto(QPlainTextEdit *memo, const QString &text)
    {
        w->pcMain->setCurrentWidget(w->tsDatabaseInfo);
        memo->setFocus();
        ASSERT_EQ(focused(), memo);
        QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0)
                QTest::keyClick(focused(), Qt::Key_Return);
            QTest::keyClicks(focused(), lines[i]);
        }
    }
};

// Three selected values give three dialogs in list order and, for those
// confirmed, one line each ended by CR LF; the rule reads the whole data text.
TEST_F(RulesWindow, ValueRulesForTheSelectedRowsInListOrder)
{
    const std::string big(5000, 'z');
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, Key, "Alpha", 32, "a"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, Key, "Beta", 32, "b"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, Key, "Big", 32, big));
    ASSERT_TRUE(WriteIntegerAt(HKEY_CURRENT_USER, Key, "Gamma", 32, 7));
    open();
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Key));
    ASSERT_NE(row("Big"), nullptr);
    ASSERT_LT(row("Big")->text(2).size(), 4001) << "the cell is cut";

    QStringList seen;
    auto confirm = [&](QDialog &d) {
        auto &dlg = static_cast<TformOpenZTIValue &>(d);
        seen << dlg.labelValueName->text();
        click(dlg.bnOK);
    };
    for (int i = 0; i < 3; ++i)
        vt::editors::setNextEditorDriver(confirm);
    selectRows({"Gamma", "Alpha", "Big"});
    ASSERT_TRUE(w->pmValues->actions().contains(w->aValueCreateRule));
    w->UpdateActionStates();
    ASSERT_TRUE(w->aValueCreateRule->isEnabled());
    w->aValueCreateRule->trigger();
    EXPECT_EQ(seen, QStringList({"Alpha", "Big", "Gamma"}));
    const QString path = QString::fromStdString(Key);
    const QString desc = "\"enter or select description text here\",HKEY_CURRENT_USER,\"" + path + "\",";
    EXPECT_EQ(clipboard(), "RegyValue:" + desc + "\"Alpha\"\r\nRegyValue:" + desc + "\"Big\"\r\nRegyValue:" + desc +
                               "\"Gamma\"\r\n");

    // The whole text of the large value reaches the check field.
    vt::editors::setNextEditorDriver([&](QDialog &d) {
        auto &dlg = static_cast<TformOpenZTIValue &>(d);
        click(dlg.cbVerifier);
        click(dlg.bnOK);
    });
    vt::editors::setNextEditorDriver([&](QDialog &d) { click(static_cast<TformOpenZTIValue &>(d).bnCancel); });
    selectRows({"Big", "Beta"});
    w->aValueCreateRule->trigger();
    EXPECT_EQ(clipboard(), "RegyValue:" + desc + "\"Beta\",\"Beta=b\"\r\n") << "Big was cancelled";
    EXPECT_EQ(vt::editors::pendingEditorDrivers(), 0);
    vt::editors::setNextEditorDriver([&](QDialog &d) { click(static_cast<TformOpenZTIValue &>(d).bnOK); });
    selectRows({"Big"});
    w->aValueCreateRule->trigger();
    EXPECT_EQ(clipboard(), "RegyValue:" + desc + "\"Big\",\"Big=" + QString::fromStdString(big) + "\"\r\n");

    // Every dialog cancelled, or nothing selected: the clipboard is emptied.
    vt::editors::setNextEditorDriver([&](QDialog &d) { click(static_cast<TformOpenZTIValue &>(d).bnCancel); });
    selectRows({"Alpha"});
    w->aValueCreateRule->trigger();
    EXPECT_EQ(clipboard(), "");
    QGuiApplication::clipboard()->setText("old");
    w->lvData->clearSelection();
    w->aValueCreateRule->trigger();
    EXPECT_EQ(clipboard(), "");
    EXPECT_EQ(vt::editors::pendingEditorDrivers(), 0);
}

// A name with a line break gets no rule and a message; the clipboard stays.
TEST_F(RulesWindow, NamesWithLineBreaksGetNoRule)
{
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, Key, "two\r\nlines", 32, "x"));
    ASSERT_TRUE(WriteTypedStringAt(HKEY_CURRENT_USER, Key, "Multi", 32, rdMultiString, "a\r\nb"));
    open();
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Key));
    QTreeWidgetItem *broken = nullptr;
    for (int i = 0; i < w->lvData->topLevelItemCount(); ++i)
        if (w->lvData->topLevelItem(i)->text(0).contains('\n'))
            broken = w->lvData->topLevelItem(i);
    ASSERT_NE(broken, nullptr);
    QGuiApplication::clipboard()->setText("old");
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    w->lvData->clearSelection();
    broken->setSelected(true);
    w->aValueCreateRule->trigger();
    EXPECT_EQ(vt::i18n::lastMessage().text, "A rule line cannot hold a line break; no rule was made for two\r\nlines.");
    EXPECT_EQ(clipboard(), "old");
    EXPECT_EQ(vt::editors::pendingEditorDrivers(), 0);

    // A multi-string's entries are joined by a blank in its check field.
    vt::editors::setNextEditorDriver([&](QDialog &d) {
        auto &dlg = static_cast<TformOpenZTIValue &>(d);
        click(dlg.rbRegyFix);
        click(dlg.bnOK);
    });
    selectRows({"Multi"});
    w->aValueCreateRule->trigger();
    EXPECT_EQ(clipboard(), "RegyFix:\"enter or select description text here\",HKEY_CURRENT_USER,\"" +
                               QString::fromStdString(Key) + "\",\"Multi=Multi=a b\"\r\n");
    EXPECT_FALSE(clipboard().chopped(2).contains('\n'));
}

TEST_F(RulesWindow, KeyRuleForTheSelectedNode)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, Key + "\\Deep, \"quoted\""));
    open();
    ASSERT_TRUE(w->pmKeys->actions().contains(w->aKeyCreateRule));
    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Key + "\\Deep, \"quoted\""));
    w->UpdateActionStates();
    ASSERT_TRUE(w->aKeyCreateRule->isEnabled());
    w->aKeyCreateRule->trigger();
    EXPECT_EQ(clipboard(), "RegyKey:\"description\",HKEY_CURRENT_USER,\"" + QString::fromStdString(Key) +
                               "\\\",\"Deep, \"quoted\"\"");
    w->GoToKey("HKEY_USERS");
    w->aKeyCreateRule->trigger();
    EXPECT_EQ(clipboard(), "RegyKey:\"description\",HKEY_USERS,\"\",\"\"");
    w->tvKeys->setCurrentItem(w->MyComputerNode());
    w->tvKeysChange();
    w->aKeyCreateRule->trigger();
    EXPECT_EQ(clipboard(), "RegyKey:\"description\",HKEY_LOCAL_MACHINE,\"\",\"\"");
}

// Absent file: empty key information, typing shows the button, saving makes
// the file; letter case is ignored; the top node shares HKEY_LOCAL_MACHINE's.
TEST_F(RulesWindow, KeyInformationSavedAndShownAgain)
{
    ASSERT_FALSE(QFile::exists(QString::fromStdString(ProgramFile("Vantrel.rdb"))));
    open();
    EXPECT_TRUE(w->InfoDBProblem().isEmpty());
    w->GoToKey("HKEY_CURRENT_USER\\Software");
    EXPECT_EQ(w->mInfoDBKey->toPlainText(), "");
    EXPECT_TRUE(button("bnInfoDBSaveKeyInfo")->isHidden());
    typeInto(w->mInfoDBKey, "What programs keep\nper user");
    EXPECT_FALSE(button("bnInfoDBSaveKeyInfo")->isHidden());
    EXPECT_EQ(button("bnInfoDBSaveKeyInfo")->defaultAction(), w->aInfoDBSaveKeyInfo);
    click(button("bnInfoDBSaveKeyInfo"));
    EXPECT_TRUE(button("bnInfoDBSaveKeyInfo")->isHidden());
    EXPECT_EQ(readAll(dbFile()), QByteArray("TPF0\x01\x06\x11TRegistryInfoItem\x06\x1aHKEY_CURRENT_USER\\Software"
                                            "\x06\x00\x06\x1eWhat programs keep\r\nper user\r\n\x06\x00\x00",
                                            5 + 19 + 28 + 2 + 32 + 2 + 1));

    w->GoToKey(QString::fromStdString("HKEY_CURRENT_USER" + Key));
    EXPECT_EQ(w->mInfoDBKey->toPlainText(), "");
    w->ShowKeyInfo("HKEY_CURRENT_USER\\SOFTWARE");
    EXPECT_EQ(w->mInfoDBKey->toPlainText(), "What programs keep\nper user");

    // An empty memo stores an item with empty information.
    w->GoToKey("HKEY_LOCAL_MACHINE");
    typeInto(w->mInfoDBKey, "x");
    QTest::keyClick(focused(), Qt::Key_Backspace);
    w->aInfoDBSaveKeyInfo->trigger();
    EXPECT_EQ(w->RegistryInfo().Count(), 2u);
    ASSERT_NE(w->RegistryInfo().FindKeyItem("HKEY_LOCAL_MACHINE"), nullptr);
    EXPECT_TRUE(w->RegistryInfo().FindKeyItem("HKEY_LOCAL_MACHINE")->Info.empty());
    typeInto(w->mInfoDBKey, "The machine");
    w->aInfoDBSaveKeyInfo->trigger();
    w->tvKeys->setCurrentItem(w->MyComputerNode());
    w->tvKeysChange();
    EXPECT_EQ(w->mInfoDBKey->toPlainText(), "The machine");

    // A new window reads the file again.
    w.reset();
    open();
    w->GoToKey("HKEY_CURRENT_USER\\Software");
    EXPECT_EQ(w->mInfoDBKey->toPlainText(), "What programs keep\nper user");
}

// The value area stands for exactly one named value; the default value and
// several values leave it empty and read-only.
TEST_F(RulesWindow, ValueInformationForOneNamedValue)
{
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, Key, "", 32, "default"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, Key, "Alpha", 32, "a"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, Key, "Beta", 32, "b"));
    open();
    const QString key = QString::fromStdString("HKEY_CURRENT_USER" + Key);
    w->GoToKey(key);
    EXPECT_TRUE(w->mInfoDBValue->isReadOnly());
    selectRows({"Alpha"});
    EXPECT_FALSE(w->mInfoDBValue->isReadOnly());
    typeInto(w->mInfoDBValue, "the first letter");
    EXPECT_FALSE(button("bnInfoDBSaveValueInfo")->isHidden());
    w->UpdateActionStates();
    click(button("bnInfoDBSaveValueInfo"));
    EXPECT_TRUE(button("bnInfoDBSaveValueInfo")->isHidden());
    const vt::knowledge::TRegistryInfoItem *item = w->RegistryInfo().FindValueItem(key.toStdString(), "alpha");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Info, std::vector<std::string>{"the first letter"});
    EXPECT_EQ(w->RegistryInfo().FindKeyItem(key.toStdString()), nullptr) << "not the key's item";
    EXPECT_TRUE(readAll(dbFile()).contains("\x06\x05"
                                           "Alpha"));

    selectRows({"Beta"});
    EXPECT_EQ(w->mInfoDBValue->toPlainText(), "");
    selectRows({"Alpha"});
    EXPECT_EQ(w->mInfoDBValue->toPlainText(), "the first letter");
    selectRows({"Alpha", "Beta"});
    EXPECT_EQ(w->mInfoDBValue->toPlainText(), "");
    EXPECT_TRUE(w->mInfoDBValue->isReadOnly());
    selectRows({"(Default)"});
    EXPECT_TRUE(w->mInfoDBValue->isReadOnly());
    w->UpdateActionStates();
    EXPECT_FALSE(w->aInfoDBSaveValueInfo->isEnabled());
}

// A damaged file is reported once, its items stay, and it is kept aside
// before the first save replaces it.
TEST_F(RulesWindow, DamagedFileIsReportedAndKeptAside)
{
    const QString file = QString::fromStdString(ProgramFile("Vantrel.rdb"));
    const QByteArray damaged("TPF0\x01\x06\x11TRegistryInfoItem\x06\x0aHKEY_USERS\x06\x00\x06\x03old\x06\x00\x07", 46);
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(damaged);
    }
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    open();
    QTest::qWait(1);
    QApplication::processEvents();
    EXPECT_EQ(vt::i18n::pendingAnswers(), 0);
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Warning);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("Vantrel.rdb.damaged"));
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("Invalid property value"));
    w->GoToKey("HKEY_USERS");
    EXPECT_EQ(w->mInfoDBKey->toPlainText(), "old");
    typeInto(w->mInfoDBKey, "new");
    w->aInfoDBSaveKeyInfo->trigger();
    EXPECT_EQ(readAll(file + ".damaged"), damaged);
    EXPECT_EQ(readAll(file), QByteArray("TPF0\x01\x06\x11TRegistryInfoItem\x06\x0aHKEY_USERS\x06\x00\x06\x05new\r\n"
                                        "\x06\x00\x00",
                                        48));
}

// A folder that cannot take the file: the error is shown, the button stays
// and the new text is kept in memory.
TEST_F(RulesWindow, SaveFailureIsShownAndLosesNothing)
{
    open();
    const QString folder = QString::fromStdString(ProgramFolder());
    ASSERT_TRUE(QDir(folder).removeRecursively());
    {
        QFile f(folder);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)); // a file where the folder was
    }
    w->GoToKey("HKEY_CURRENT_USER\\Software");
    typeInto(w->mInfoDBKey, "kept");
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    click(button("bnInfoDBSaveKeyInfo"));
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Error);
    EXPECT_TRUE(vt::i18n::lastMessage().text.contains("Vantrel.rdb"));
    EXPECT_FALSE(button("bnInfoDBSaveKeyInfo")->isHidden());
    ASSERT_NE(w->RegistryInfo().FindKeyItem("HKEY_CURRENT_USER\\Software"), nullptr);
    EXPECT_EQ(w->RegistryInfo().FindKeyItem("HKEY_CURRENT_USER\\Software")->Info, std::vector<std::string>{"kept"});
    QFile::remove(folder);
}

// In the preinstallation-environment mode both save buttons are disabled
// with their hint.
TEST_F(RulesWindow, PreinstallationModeDisablesSaving)
{
    {
        QFile ini(QString::fromStdString(ProgramFile("Quillon.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Orvask]\r\nBartPE=1\r\n");
    }
    open();
    ASSERT_TRUE(w->BartPEMode());
    w->GoToKey("HKEY_CURRENT_USER\\Software");
    w->UpdateActionStates();
    for (QAction *a : {w->aInfoDBSaveKeyInfo, w->aInfoDBSaveValueInfo}) {
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
        EXPECT_EQ(a->toolTip(), "Not available in BartPE");
    }
    EXPECT_FALSE(button("bnInfoDBSaveKeyInfo")->isEnabled());
    EXPECT_EQ(button("bnInfoDBSaveKeyInfo")->toolTip(), "Not available in BartPE");
}

} // namespace
