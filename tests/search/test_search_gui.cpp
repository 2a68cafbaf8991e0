// The search window driven as a user drives it, offscreen, on a temporary
// system: options, styles, hex terms, dates, both views, stop, export,
// delete, the jump to the main window, and replace.
#include "app/FormUnitMain.h"
#include "app/vtStartup.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/gui/RegFileActions.h"
#include "search/gui/FormUnitSearch.h"
#include "search/gui/SearchResultsModel.h"
#include "tests/support/TempSystem.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>
#include <QTimeEdit>
#include <QTreeView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace vt::search;

namespace
{

const std::string kPath = "\\Software\\VtSearchGui";
const std::string kFull = "HKEY_CURRENT_USER\\Software\\VtSearchGui";

class SearchWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_system = std::make_unique<vt::test::TempSystem>();
        ASSERT_EQ(m_system->openResult(), ERROR_SUCCESS);
        TMyRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kPath, true));
        reg.WriteString("AutoRun", "run.exe");
        reg.WriteString("New Value", "AB");
        reg.writeValue("Blob", REG_BINARY, {0x41, 0x42});
        reg.CloseKey();
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kPath + "\\Runner"));
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath + "\\Runner", "Run", 32, "x"));
        vt::i18n::clearAnswers();
        w = std::make_unique<TformSearch>();
        w->SetSearchStart(HKEY_CURRENT_USER, kPath, 0);
    }
    void TearDown() override
    {
        w.reset();
        vt::regfile::setFileDialogSeam(nullptr);
        vt::i18n::clearAnswers();
        m_system.reset();
    }

    void runSearch(const QString &term)
    {
        w->editSearchTerm->setText(term);
        QTest::mouseClick(w->bnSearch, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w->Searching(); }, 20000));
    }
    std::vector<std::string> captions() const
    {
        std::vector<std::string> out;
        for (const auto &r : w->Results()->rows())
            out.push_back(std::to_string(r.ImageIndex) + " " + r.Caption + " | " + r.ValueName);
        return out;
    }

    std::unique_ptr<vt::test::TempSystem> m_system;
    std::unique_ptr<TformSearch> w;
};

TEST_F(SearchWindow, OptionsAndTheirControls)
{
    EXPECT_EQ(w->cbSearchStyle->count(), 4);
    EXPECT_EQ(w->cbSearchStyle->currentIndex(), 0);
    for (QCheckBox *on : {w->cbFocusKeys, w->cbFocusValues, w->cbFocusData, w->cbDataTypeStrings,
                          w->cbDataTypeNumerics})
        EXPECT_TRUE(on->isChecked()) << on->objectName().toStdString();
    for (QCheckBox *off : {w->cbDataTypeBinary, w->cbHex, w->cbIgnoreCase, w->cbHighSpeed})
        EXPECT_FALSE(off->isChecked()) << off->objectName().toStdString();
    EXPECT_TRUE(w->rbRangeKey->isChecked());
    EXPECT_EQ(w->lblFocus->text().toStdString(), "Search limited to " + kFull + ".");
    QTest::mouseClick(w->rbRangeComplete, Qt::LeftButton);
    EXPECT_EQ(w->lblFocus->text(), QStringLiteral("Search complete registry."));
    QTest::mouseClick(w->rbRangeKey, Qt::LeftButton);
    EXPECT_EQ(w->lblFocus->text().toStdString(), "Search limited to " + kFull + ".");

    // The regular-expression style greys Ignore case.
    w->cbSearchStyle->setCurrentIndex(3);
    EXPECT_FALSE(w->cbIgnoreCase->isEnabled());
    w->cbSearchStyle->setCurrentIndex(1);
    EXPECT_TRUE(w->cbIgnoreCase->isEnabled());

    // Date pickers follow the mode.
    const struct {
        int mode;
        bool first, second;
    } modes[] = {{0, false, false}, {1, true, false}, {2, true, false}, {3, true, true}, {4, true, true}};
    for (const auto &m : modes) {
        w->cbByDateMode->setCurrentIndex(m.mode);
        EXPECT_EQ(!w->dtDate1->isHidden(), m.first) << m.mode;
        EXPECT_EQ(!w->dtTime1->isHidden(), m.first) << m.mode;
        EXPECT_EQ(!w->dtDate2->isHidden(), m.second) << m.mode;
        EXPECT_EQ(!w->lblAnd->isHidden(), m.second) << m.mode;
    }
    // The Replace page shows only after a search with rows.
    EXPECT_FALSE(w->pcSearch->isTabVisible(w->pcSearch->indexOf(w->tsReplace)));
    EXPECT_EQ(w->pcSearch->currentWidget(), w->tsSearchCriteria);
}

TEST_F(SearchWindow, SearchListsSortedRowsAndFinishes)
{
    w->cbIgnoreCase->setChecked(true);
    runSearch("run");
    EXPECT_EQ(captions(), (std::vector<std::string>{"1 " + kFull + "\\ | AutoRun", "3 " + kFull + "\\ | AutoRun",
                                                    "0 " + kFull + "\\Runner | ", "1 " + kFull + "\\Runner\\ | Run"}));
    EXPECT_EQ(w->pcSearch->currentWidget(), w->tsResults);
    EXPECT_EQ(w->StatusText(), QStringLiteral("Search has finished with 4 results. (00:00:00)"));
    EXPECT_FALSE(w->bnStop->isEnabled());
    EXPECT_TRUE(w->pcSearch->isTabVisible(w->pcSearch->indexOf(w->tsReplace)));
    EXPECT_EQ(w->editReplaceSource->text(), QStringLiteral("run"));
    auto *model = w->Results();
    EXPECT_EQ(model->data(model->index(1, 2), Qt::DisplayRole).toString(), QStringLiteral("run.exe"));
    EXPECT_EQ(model->data(model->index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // Case counts unless ignored; keys only hide the other columns.
    w->cbFocusValues->setChecked(false);
    w->cbFocusData->setChecked(false);
    w->cbIgnoreCase->setChecked(false);
    runSearch("RUN");
    EXPECT_TRUE(captions().empty());
    EXPECT_EQ(w->StatusText(), QStringLiteral("Search has finished with 0 results. (00:00:00)"));
    EXPECT_TRUE(w->lvResults->isColumnHidden(1));
    EXPECT_TRUE(w->lvResults->isColumnHidden(2));
    EXPECT_FALSE(w->pcSearch->isTabVisible(w->pcSearch->indexOf(w->tsReplace)));
    w->cbIgnoreCase->setChecked(true);
    runSearch("RUN");
    EXPECT_EQ(captions(), (std::vector<std::string>{"0 " + kFull + "\\Runner | "}));

    // Each style through its own list item.
    w->cbFocusValues->setChecked(true);
    w->cbFocusData->setChecked(true);
    const struct {
        int style;
        QString term;
        size_t rows;
    } styles[] = {{1, "run*", 3}, {1, "*un", 2}, {2, "auto AND NOT exe", 1}, {2, "auto OR runner", 2}, {3, "^r.n$", 1}};
    for (const auto &s : styles) {
        w->cbSearchStyle->setCurrentIndex(s.style);
        runSearch(s.term);
        EXPECT_EQ(captions().size(), s.rows) << s.term.toStdString() << ": " << ::testing::PrintToString(captions());
    }
}

TEST_F(SearchWindow, HexTermsBadExpressionsBinaryAndHighSpeed)
{
    // Hex: 41 42 is the text AB (the value "New Value" holds it); "4" is refused.
    w->cbHex->setChecked(true);
    runSearch("41 42");
    EXPECT_EQ(captions(), (std::vector<std::string>{"3 " + kFull + "\\ | New Value"}));
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    runSearch("4");
    EXPECT_EQ(vt::i18n::lastMessage().text, QStringLiteral("Please enter a valid hex term first!"));
    EXPECT_EQ(vt::i18n::lastMessage().kind, vt::i18n::TMsgDlgType::Error);
    EXPECT_EQ(w->Results()->rowCount(), 1) << "no search ran";
    w->cbHex->setChecked(false);

    // A regular expression that does not compile is reported before any walk.
    w->cbSearchStyle->setCurrentIndex(3);
    vt::i18n::setNextAnswer(vt::i18n::mrOk);
    runSearch("(run");
    EXPECT_EQ(vt::i18n::lastMessage().text,
              QStringLiteral("The regular expression cannot be used: missing closing parenthesis at position 4."));
    EXPECT_EQ(w->Results()->rowCount(), 1);

    // Binary data only when asked for, or in high speed mode.
    w->cbSearchStyle->setCurrentIndex(0);
    runSearch("41 42");
    EXPECT_TRUE(captions().empty());
    w->cbDataTypeBinary->setChecked(true);
    runSearch("41 42");
    EXPECT_EQ(captions(), (std::vector<std::string>{"2 " + kFull + "\\ | Blob"}));
    w->cbDataTypeBinary->setChecked(false);
    w->cbHighSpeed->setChecked(true);
    runSearch("41 42");
    EXPECT_EQ(captions().size(), 1u);

    // A key date filter that no key passes keeps value rows.
    w->cbHighSpeed->setChecked(false);
    w->cbIgnoreCase->setChecked(true);
    w->cbByDateMode->setCurrentIndex(1); // newer than
    w->dtDate1->setDate(QDate::currentDate().addDays(2));
    runSearch("run");
    EXPECT_EQ(captions().size(), 3u) << ::testing::PrintToString(captions());
    w->cbByDateMode->setCurrentIndex(2); // older than
    runSearch("run");
    EXPECT_EQ(captions().size(), 4u);
}

// A value the regular expression cannot decide (its backtracking limit
// reached) is said on the status line as a failure, not taken for a miss.
TEST_F(SearchWindow, UndecidedRegularExpressionIsReported)
{
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath, "Heavy", 32, std::string(30, 'x')));
    w->cbSearchStyle->setCurrentIndex(3);
    runSearch("(x+x+)+y|needle");
    EXPECT_TRUE(captions().empty());
    EXPECT_TRUE(w->StatusText().startsWith(QStringLiteral("Search has finished with 0 results.")));
    EXPECT_TRUE(w->StatusText().endsWith(
        QStringLiteral("Failed: the regular expression could not be decided for 1 names or data (match limit "
                       "exceeded); they are not listed.")))
        << w->StatusText().toStdString();
    runSearch("^x+$"); // Heavy's data and Runner's "x"
    EXPECT_EQ(captions().size(), 2u);
    EXPECT_FALSE(w->StatusText().contains(QStringLiteral("Failed")));
}

TEST_F(SearchWindow, StopKeepsTheRowsSoFar)
{
    // Enough keys that the walk is still going when Stop is pressed.
    {
        vt::platform::DeferredSync batch;
        for (int i = 0; i < 100000; ++i)
            ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kPath + "\\Many\\Key" + std::to_string(i)));
    }
    w->editSearchTerm->setText(QStringLiteral("Key"));
    QTest::mouseClick(w->bnSearch, Qt::LeftButton);
    EXPECT_TRUE(w->bnStop->isEnabled());
    QTest::mouseClick(w->bnStop, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->Searching(); }, 20000));
    EXPECT_TRUE(w->StatusText().startsWith(QStringLiteral("You have stopped the search. (00:00:")))
        << w->StatusText().toStdString();
    EXPECT_LT(w->Results()->rowCount(), 100000);
}

TEST_F(SearchWindow, ContextMenuExportAndDelete)
{
    w->cbIgnoreCase->setChecked(true);
    runSearch("run");
    ASSERT_EQ(w->Results()->rowCount(), 4);
    w->aSearchResultsDeSelectAll->trigger();
    EXPECT_FALSE(w->Results()->anyChecked());
    emit w->pmResults->aboutToShow();
    EXPECT_FALSE(w->aSearchResultsDeleteSelected->isEnabled());
    EXPECT_TRUE(w->aSearchResultsExportAll->isEnabled());
    w->aSearchResultsSelectKeys->trigger();
    w->aSearchResultsSelectValues->trigger();
    w->aSearchResultsDeSelectKeys->trigger();
    // Ctrl+A through the list checks every row.
    w->show();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    w->pcSearch->setCurrentWidget(w->tsResults);
    w->lvResults->setFocus();
    QApplication::processEvents();
    QTest::keyClick(w->lvResults, Qt::Key_A, Qt::ControlModifier);
    for (const auto &r : w->Results()->rows())
        EXPECT_TRUE(r.Checked);
    w->aSearchResultsDeSelectData->trigger();

    // Export of the checked rows: header, then each row.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("results.reg"));
    QString suffix;
    vt::regfile::setFileDialogSeam([&](QFileDialog &d) {
        suffix = d.defaultSuffix();
        return vt::regfile::TFileChoice{file, 1};
    });
    w->aSearchResultsExportSelected->trigger();
    EXPECT_EQ(suffix, QStringLiteral("reg"));
    const std::string text = vt::test::fileBytes(file.toStdString());
    EXPECT_EQ(text.rfind("REGEDIT4\r\n\r\n; Search results from ", 0), 0u) << text;
    for (const std::string &line : std::vector<std::string>{"; Search style: Simple substring search\r\n", "; Search for: run\r\n",
          "; Search for keys that are of any date. \r\n", "; Search in: Keys, Values, Data\r\n",
          "; Data types: Strings, Numerics\r\n", "; Range: " + kFull + "\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_NE(text.find("\r\n[" + kFull + "]\r\n\"AutoRun\"=\"run.exe\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n[" + kFull + "\\Runner]\r\n\r\n[" + kFull + "\\Runner]\r\n\"Run\"=\"x\"\r\n"),
              std::string::npos)
        << text;

    // Delete: No keeps everything, Yes deletes the checked rows.
    w->aSearchResultsDeSelectAll->trigger();
    w->Results()->setData(w->Results()->index(3, 0), Qt::Checked, Qt::CheckStateRole); // Runner\Run
    vt::i18n::setNextAnswer(vt::i18n::mrNo);
    emit w->pmResults->aboutToShow(); // the menu opening enables what can run
    w->aSearchResultsDeleteSelected->trigger();
    EXPECT_EQ(w->Results()->rowCount(), 4);
    EXPECT_TRUE(ValueExistsAt(HKEY_CURRENT_USER, kPath + "\\Runner", "Run"));
    vt::i18n::setNextAnswer(vt::i18n::mrYes);
    emit w->pmResults->aboutToShow();
    w->aSearchResultsDeleteSelected->trigger();
    EXPECT_EQ(vt::i18n::lastMessage().text,
              QStringLiteral("Are you sure you want to delete the selected search results?"));
    EXPECT_EQ(w->Results()->rowCount(), 3);
    EXPECT_FALSE(ValueExistsAt(HKEY_CURRENT_USER, kPath + "\\Runner", "Run"));
}

TEST_F(SearchWindow, ReplaceRenamesAndMarksFailures)
{
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath, "AutoGo", 32, "taken"));
    w->cbFocusData->setChecked(false);
    w->cbIgnoreCase->setChecked(true);
    runSearch("run");
    ASSERT_EQ(captions(), (std::vector<std::string>{"1 " + kFull + "\\ | AutoRun", "0 " + kFull + "\\Runner | ",
                                                    "1 " + kFull + "\\Runner\\ | Run"}));
    w->pcSearch->setCurrentWidget(w->tsReplace);
    EXPECT_EQ(w->editReplaceSource->text(), QStringLiteral("run"));
    EXPECT_TRUE(w->editReplaceNew->text().isEmpty());
    w->editReplaceSource->setText(QStringLiteral("Run"));
    w->editReplaceNew->setText(QStringLiteral("Go"));
    QTest::mouseClick(w->bnReplace, Qt::LeftButton);
    // AutoRun -> AutoGo is taken: the row stays, red and checked.
    EXPECT_EQ(captions(), (std::vector<std::string>{"1 " + kFull + "\\ | AutoRun"}));
    EXPECT_EQ(w->StatusText(),
              QStringLiteral("3 occurences have been replaced. 1 entries could not be changed."));
    auto *model = w->Results();
    EXPECT_EQ(model->data(model->index(0, 0), Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
    EXPECT_EQ(w->pcSearch->currentWidget(), w->tsResults);
    EXPECT_TRUE(ValueExistsAt(HKEY_CURRENT_USER, kPath + "\\Goner", "Go"));
    std::string data;
    ASSERT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, kPath, "AutoGo", 32, data));
    EXPECT_EQ(data, "taken");

    // With overwriting on, a second replace gets it done.
    w->cbReplaceOverwriteValues->setChecked(true);
    QTest::mouseClick(w->bnReplace, Qt::LeftButton);
    EXPECT_TRUE(captions().empty());
    EXPECT_EQ(w->StatusText(), QStringLiteral("1 occurences have been replaced."));
    ASSERT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, kPath, "AutoGo", 32, data));
    EXPECT_EQ(data, "run.exe");
}

// The whole registry with both views of HKLM\SOFTWARE: a key in each view is
// found once, with its view's image, and deleting a row acts in its view.
TEST_F(SearchWindow, WholeRegistryBothViews)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtViewProbe", 1)); // 64-bit view
    ASSERT_TRUE(CreateKeyAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtViewProbe", 0)); // 32-bit view
    w->IsWow64 = true;
    QTest::mouseClick(w->rbRangeComplete, Qt::LeftButton);
    w->cbFocusValues->setChecked(false);
    w->cbFocusData->setChecked(false);
    runSearch("VtViewProbe");
    EXPECT_EQ(captions(), (std::vector<std::string>{"5 HKEY_LOCAL_MACHINE\\SOFTWARE\\VtViewProbe | ",
                                                    "4 HKEY_LOCAL_MACHINE\\SOFTWARE\\VtViewProbe | "}));
    // Delete only the 64-bit row.
    w->aSearchResultsDeSelectAll->trigger();
    w->Results()->setData(w->Results()->index(0, 0), int(Qt::Checked), Qt::CheckStateRole);
    vt::i18n::setNextAnswer(vt::i18n::mrYes);
    emit w->pmResults->aboutToShow();
    w->aSearchResultsDeleteSelected->trigger();
    EXPECT_EQ(captions(), (std::vector<std::string>{"4 HKEY_LOCAL_MACHINE\\SOFTWARE\\VtViewProbe | "}));
    EXPECT_FALSE(KeyExistsAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtViewProbe", 1));
    EXPECT_TRUE(KeyExistsAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtViewProbe", 0));
}

// The main window's search action opens the window for the selected key; a
// double click on a result shows it there.
TEST_F(SearchWindow, MainWindowOpensItAndShowsAResult)
{
    w.reset();
    vt::app::TApplicationForms forms;
    vt::app::TformMain *main = forms.formMain();
    main->show();
    auto *search = qobject_cast<TformSearch *>(forms.form(QStringLiteral("formSearch")));
    ASSERT_NE(search, nullptr);
    main->GoToKey(QString::fromStdString(kFull));
    main->UpdateActionStates();
    ASSERT_TRUE(main->aSearch->isEnabled());
    main->aSearch->trigger();
    EXPECT_TRUE(search->isVisible());
    EXPECT_EQ(search->lblFocus->text().toStdString(), "Search limited to " + kFull + ".");

    search->editSearchTerm->setText(QStringLiteral("Run"));
    QTest::mouseClick(search->bnSearch, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !search->Searching(); }, 20000));
    ASSERT_EQ(search->Results()->rowCount(), 3);
    // Row 2 is the value Run of the key Runner.
    search->pcSearch->setCurrentWidget(search->tsResults);
    const QModelIndex index = search->Results()->index(2, 0);
    search->lvResults->scrollTo(index);
    const QRect rect = search->lvResults->visualRect(index);
    ASSERT_TRUE(rect.isValid()) << rect.width() << "x" << rect.height();
    QSignalSpy spy(search->lvResults, &QAbstractItemView::doubleClicked);
    // A double click: a first click, then the second one that the system
    // reports as the double click.
    QTest::mouseClick(search->lvResults->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(search->lvResults->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(spy.count(), 1);
    ASSERT_NE(main->tvKeys->currentItem(), nullptr);
    HKEY root = nullptr;
    std::string keyPath;
    int viewMode = 0;
    QString treePath;
    main->GetSelectedKey(root, keyPath, viewMode, treePath);
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(keyPath, kPath + "\\Runner");
    const QList<QTreeWidgetItem *> selected = main->lvData->selectedItems();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first()->text(0), QStringLiteral("Run"));
}

} // namespace

namespace
{

// Return in "Search for" starts the search as the button does; a double
// click on a key result shows it in the main window and brings that window
// to the front, over the search window.
TEST_F(SearchWindow, ReturnSearchesAndAResultBringsTheMainWindowForward)
{
    w.reset();
    vt::app::TApplicationForms forms;
    vt::app::TformMain *main = forms.formMain();
    main->show();
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    auto *search = qobject_cast<TformSearch *>(forms.form(QStringLiteral("formSearch")));
    ASSERT_NE(search, nullptr);
    main->GoToKey(QString::fromStdString(kFull));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(search->isVisible());
    search->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(search));

    search->pcSearch->setCurrentWidget(search->tsSearchCriteria);
    QTest::mouseClick(search->editSearchTerm, Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), search->editSearchTerm);
    search->editSearchTerm->clear();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Runner"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->Results()->rowCount() > 0 && !search->Searching(); }, 20000))
        << "Return in the search term started no search";
    ASSERT_EQ(search->Results()->rowCount(), 1);
    EXPECT_EQ(search->Results()->rows()[0].Caption, kFull + "\\Runner");
    EXPECT_TRUE(search->Results()->rows()[0].ValueName.empty()) << "a key result";

    search->pcSearch->setCurrentWidget(search->tsResults);
    // Results differ at the end of their paths: a narrow Key column gives
    // way in the middle.
    EXPECT_EQ(search->lvResults->textElideMode(), Qt::ElideMiddle);
    ASSERT_EQ(QApplication::activeWindow(), search);
    const QModelIndex index = search->Results()->index(0, 0);
    const QRect rect = search->lvResults->visualRect(index);
    ASSERT_TRUE(rect.isValid());
    QTest::mouseClick(search->lvResults->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(search->lvResults->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == main; }, 2000))
        << "the main window stayed behind the search window";
    HKEY root = nullptr;
    std::string keyPath;
    int viewMode = 0;
    QString treePath;
    main->GetSelectedKey(root, keyPath, viewMode, treePath);
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(keyPath, kPath + "\\Runner");
}

} // namespace
