// The history window driven offscreen: its columns, sorting by each header,
// and undo, redo, save and delete of a multi-selection.
#include "HistoryFixture.h"

#include "history/gui/FormUnitHistory.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/gui/RegFileActions.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QToolBar>
#include <QTreeView>

#include <fstream>
#include <sstream>

using namespace historytest;
using namespace vt::history;

namespace
{

class HistoryWindow : public HistoryTest
{
protected:
    void SetUp() override
    {
        HistoryTest::SetUp();
        w = std::make_unique<TformHistory>();
        tester = std::make_unique<QAbstractItemModelTester>(w->model,
                                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
    }
    void TearDown() override
    {
        vt::regfile::setFileDialogSeam(nullptr);
        vt::i18n::clearAnswers();
        tester.reset();
        w.reset();
        HistoryTest::TearDown();
    }
    void open()
    {
        w->SetHistory(&store());
        w->show();
        QApplication::processEvents();
    }
    QString cell(int row, int column) const { return w->model->index(row, column).data().toString(); }
    void clickHeader(int column)
    {
        QHeaderView *h = w->lvHistory->header();
        const int x = h->sectionViewportPosition(column) + h->sectionSize(column) / 2;
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(x, h->height() / 2));
    }
    void selectRows(std::initializer_list<int> rows)
    {
        w->lvHistory->setFocus();
        w->lvHistory->clearSelection();
        for (int row : rows) {
            const QRect r = w->lvHistory->visualRect(w->model->index(row, 0));
            QTest::mouseClick(w->lvHistory->viewport(), Qt::LeftButton, Qt::ControlModifier, r.center());
        }
    }
    std::string saveThrough(QAction *action)
    {
        const fs::path file = m_dir / "out.reg";
        vt::regfile::setFileDialogSeam([&](QFileDialog &d) {
            dialogSuffix = d.defaultSuffix();
            dialogFilters = d.nameFilters();
            confirmsOverwrite = !d.testOption(QFileDialog::DontConfirmOverwrite);
            return std::optional<vt::regfile::TFileChoice>({QString::fromStdString(file.string()), 1});
        });
        action->trigger();
        std::ifstream f(file, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }
    // The four records of a deleted key A: w of B, B, v, A.
    void recordTreeDeletion()
    {
        writeRaw(HKEY_CURRENT_USER, "\\Software\\A", "v", REG_SZ, bytesOf("1", true));
        writeRaw(HKEY_CURRENT_USER, "\\Software\\A\\B", "w", REG_DWORD, {2, 0, 0, 0});
        store().RecordKeyDelete(HKEY_CURRENT_USER, "\\Software\\A");
        ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\A"));
    }

    std::unique_ptr<TformHistory> w;
    std::unique_ptr<QAbstractItemModelTester> tester;
    QString dialogSuffix;
    QStringList dialogFilters;
    bool confirmsOverwrite = true;
};

} // namespace

TEST_F(HistoryWindow, ColumnsAndRowTexts)
{
    writeRaw(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Q", "n", REG_DWORD, {1, 0, 0, 0});
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\Software\\K");
    store().RecordValueDelete(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Q", "n");
    open();
    EXPECT_EQ(w->windowTitle(), "Change History");
    const QStringList captions = {"ID", "Timestamp", "Type", "Action", "Root", "Key Path", "Value", "Type"};
    const std::vector<int> widths = {64, 128, -1, -1, 64, 192, 96, 128};
    const std::vector<Qt::Alignment> align = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignHCenter, Qt::AlignHCenter,
                                              Qt::AlignLeft, Qt::AlignLeft,    Qt::AlignLeft,    Qt::AlignHCenter};
    ASSERT_EQ(w->model->columnCount(), 8);
    for (int c = 0; c < 8; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(w->model->headerData(c, Qt::Horizontal).toString(), captions[c]);
        // The time's column widens when its text would not fit (below).
        if (widths[size_t(c)] > 0 && c != 1) {
            EXPECT_EQ(w->lvHistory->header()->sectionSize(c), widths[size_t(c)]);
        } else if (c == 1) {
            EXPECT_GE(w->lvHistory->header()->sectionSize(c), widths[size_t(c)]);
        }
        const auto a = Qt::Alignment(w->model->index(0, c).data(Qt::TextAlignmentRole).toInt());
        EXPECT_EQ(a & Qt::AlignHorizontal_Mask, align[size_t(c)]);
    }
    ASSERT_EQ(w->model->rowCount(), 2);
    QStringList key, value;
    for (int c = 0; c < 8; ++c) {
        key << cell(0, c);
        value << cell(1, c);
    }
    EXPECT_EQ(key[0], "1");
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(key[1]).hasMatch())
        << key[1].toStdString();
    EXPECT_EQ(key.mid(2), QStringList({"Key", "New", "HKCU", "\\Software\\K\\", "", ""}));
    EXPECT_EQ(value.mid(2), QStringList({"Value", "Delete", "HKLM", "\\SOFTWARE\\Q\\", "n", "REG_DWORD"}));
    EXPECT_EQ(w->lvHistory->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(w->lvHistory->selectionBehavior(), QAbstractItemView::SelectRows);

    // Records added while the window is open wait for the next reload.
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\Software\\Later");
    EXPECT_EQ(w->model->rowCount(), 2);
    w->hide();
    w->show();
    EXPECT_EQ(w->model->rowCount(), 3);
}

TEST_F(HistoryWindow, SortingByEachHeader)
{
    writeRaw(HKEY_CURRENT_USER, "\\software\\b", "zed", REG_BINARY, {1});
    writeRaw(HKEY_CURRENT_USER, "\\SOFTWARE\\a", "Alpha", REG_SZ, bytesOf("x", true));
    store().RecordValueDelete(HKEY_CURRENT_USER, "\\software\\b", "zed");   // 1
    store().RecordKeyNew(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\c");              // 2
    store().RecordValueDelete(HKEY_CURRENT_USER, "\\SOFTWARE\\a", "Alpha"); // 3
    store().RecordKeyNew(HKEY_CLASSES_ROOT, "\\Software\\A\\x");            // 4
    open();
    auto column0 = [&] {
        QStringList ids;
        for (int r = 0; r < w->model->rowCount(); ++r)
            ids << cell(r, 0);
        return ids.join(',');
    };
    struct Case {
        int column;
        QStringList accepted;
    };
    const std::vector<Case> cases = {
        {0, {"4,3,2,1"}},
        {2, {"2,4,1,3", "2,4,3,1", "4,2,1,3", "4,2,3,1"}}, // keys first
        {3, {"3,1,4,2", "3,1,2,4", "1,3,4,2", "1,3,2,4"}}, // delete, then new
        {4, {"4,3,1,2", "4,1,3,2"}},                       // HKCR, HKCU, HKLM
        {5, {"3,4,1,2"}},                                  // key path, case ignored
        {6, {"4,2,3,1", "2,4,3,1"}},                       // "", "", Alpha, zed
        {7, {"4,2,3,1", "2,4,3,1"}},                       // none, string, binary
    };
    for (const Case &c : cases) {
        clickHeader(c.column);
        SCOPED_TRACE(c.column);
        EXPECT_TRUE(c.accepted.contains(column0())) << column0().toStdString();
    }
    // Timestamps: recorded within a second, so only "newest first" among
    // distinct seconds is decided; all four compare equal or descend.
    clickHeader(1);
    for (int r = 1; r < 4; ++r)
        EXPECT_GE(cell(r - 1, 1), cell(r, 1));
    // A second click sorts the same way again.
    clickHeader(0);
    clickHeader(0);
    EXPECT_EQ(column0(), "4,3,2,1");
}

TEST_F(HistoryWindow, ActionsFollowTheSelection)
{
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\Software\\K");
    open();
    const std::vector<QAction *> actions = {w->aUndoSaveReg4, w->aRedoSaveReg4, w->aUndoSelected, w->aRedoSelected,
                                            w->aDeleteSelected};
    for (QAction *a : actions)
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    selectRows({0});
    for (QAction *a : actions)
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_TRUE(w->mFile->actions().contains(w->aUndoSaveReg4));
    EXPECT_TRUE(w->mEdit->actions().contains(w->aDeleteSelected));
    EXPECT_TRUE(w->pmHistory->actions().contains(w->aDeleteSelected));
    EXPECT_TRUE(w->tbHistory->actions().contains(w->aUndoSelected));

    TformHistory none;
    none.SetHistory(nullptr, "the file is read-only");
    none.show();
    EXPECT_TRUE(none.lblUnavailable->isVisible());
    EXPECT_TRUE(none.lblUnavailable->text().contains("the file is read-only"));
    EXPECT_EQ(none.model->rowCount(), 0);
    EXPECT_FALSE(none.aUndoSelected->isEnabled());
}

// Undo of the four records of a deleted key, all selected with Ctrl+A:
// written and applied from the last row to the first, parents first.
TEST_F(HistoryWindow, UndoRedoAndSaveOfAMultiSelection)
{
    recordTreeDeletion();
    open();
    ASSERT_EQ(w->model->rowCount(), 4);
    w->lvHistory->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    ASSERT_TRUE(w->aUndoSaveReg4->isEnabled());

    const std::string undo = saveThrough(w->aUndoSaveReg4);
    EXPECT_EQ(undo, "REGEDIT4\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\A\\]\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\A\\]\r\n\"v\"=\"1\"\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\A\\B\\]\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\A\\B\\]\r\n\"w\"=dword:00000002\r\n\r\n");
    EXPECT_EQ(dialogSuffix, "reg");
    EXPECT_EQ(dialogFilters, QStringList({"Registry v4 file (*.reg)"}));
    EXPECT_FALSE(confirmsOverwrite);

    w->aUndoSelected->trigger();
    uint32_t code = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, "\\Software\\A", "v", code, data));
    EXPECT_EQ(data, bytesOf("1", true));
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, "\\Software\\A\\B", "w", code, data));
    EXPECT_EQ(data, std::vector<uint8_t>({2, 0, 0, 0}));
    EXPECT_EQ(w->model->rowCount(), 4); // nothing recorded, nothing reloaded

    // Redo of the two value records only.
    selectRows({0, 2});
    w->aRedoSelected->trigger();
    EXPECT_FALSE(readRaw(HKEY_CURRENT_USER, "\\Software\\A", "v", code, data));
    EXPECT_FALSE(readRaw(HKEY_CURRENT_USER, "\\Software\\A\\B", "w", code, data));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\A\\B"));
}

TEST_F(HistoryWindow, SaveRedoOfACreatedKey)
{
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\Software\\K");
    open();
    selectRows({0});
    EXPECT_EQ(saveThrough(w->aRedoSaveReg4), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\K\\]\r\n\r\n");
}

TEST_F(HistoryWindow, DeleteOfAMultiSelection)
{
    for (const char *k : {"\\K1", "\\K2", "\\K3", "\\K4"})
        store().RecordKeyNew(HKEY_CURRENT_USER, k);
    open();
    selectRows({1, 3});
    w->aDeleteSelected->trigger();
    ASSERT_EQ(w->model->rowCount(), 2);
    EXPECT_EQ(cell(0, 5), "\\K1\\");
    EXPECT_EQ(cell(1, 5), "\\K3\\");
    EXPECT_FALSE(w->lvHistory->selectionModel()->hasSelection());
    EXPECT_FALSE(w->aDeleteSelected->isEnabled());
    EXPECT_EQ(shellScalar(dbPath(), "select group_concat(id) from registry_history"), "1,3");
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\K5");
    w->RefreshList();
    EXPECT_EQ(cell(2, 0), "5");
}

// A value made with New and then given its data: redo makes them again
// oldest first and undo takes them back newest first, by id, whatever order
// a header click gave the list. Checked against the registry.
TEST_F(HistoryWindow, UndoNewestFirstRedoOldestFirstWhateverTheOrder)
{
    const std::string key = "\\Software\\E";
    writeRaw(HKEY_CURRENT_USER, key, "Expand", REG_EXPAND_SZ, bytesOf("", true));
    store().RecordValueNew(HKEY_CURRENT_USER, key, rdExpandString, "Expand");
    writeRaw(HKEY_CURRENT_USER, key, "Expand", REG_EXPAND_SZ, bytesOf("%X%", true));
    store().RecordValueChange(HKEY_CURRENT_USER, key, stream(bytesOf("", true)), rdExpandString, "Expand");
    TMyRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(key, false));
    reg.DeleteValue("Expand");
    open();
    ASSERT_EQ(w->model->rowCount(), 2);
    uint32_t code = 0;
    std::vector<uint8_t> data;
    struct Step {
        int header; // -1: the list as loaded
        QAction *action;
        bool exists;
        std::vector<uint8_t> data;
    };
    const Step steps[] = {
        {-1, w->aRedoSelected, true, bytesOf("%X%", true)}, // New, then Change
        {0, w->aUndoSelected, false, {}},                   // Change, then New: no value
        {0, w->aRedoSelected, true, bytesOf("%X%", true)},
        {-1, w->aUndoSelected, false, {}},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.action->objectName().toStdString() + " after header " + std::to_string(s.header));
        if (s.header >= 0)
            clickHeader(s.header);
        else
            w->RefreshList();
        w->lvHistory->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        s.action->trigger();
        ASSERT_EQ(readRaw(HKEY_CURRENT_USER, key, "Expand", code, data), s.exists);
        if (s.exists) {
            EXPECT_EQ(data, s.data);
        }
    }
}

// Nothing short is cut: every caption, the id, the time, the kinds and the
// root fit their columns in the window's font.
TEST_F(HistoryWindow, TimestampAndCaptionsFitTheirColumns)
{
    store().RecordKeyNew(HKEY_CURRENT_USER, "\\Software\\K");
    writeRaw(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Q", "n", REG_DWORD, {1, 0, 0, 0});
    store().RecordValueDelete(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Q", "n");
    open();
    ASSERT_EQ(w->model->rowCount(), 2);
    QHeaderView *header = w->lvHistory->header();
    for (int c = 0; c < 8; ++c) {
        SCOPED_TRACE(c);
        EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c)) << "caption cut";
        if (c > 4 && c != 7)
            continue; // paths and names may be longer than any column
        for (int row = 0; row < w->model->rowCount(); ++row) {
            QStyleOptionViewItem option;
            option.initFrom(w->lvHistory->viewport());
            option.font = w->lvHistory->font();
            const QModelIndex index = w->model->index(row, c);
            EXPECT_GE(header->sectionSize(c), w->lvHistory->itemDelegate()->sizeHint(option, index).width())
                << "cell text cut: " << index.data().toString().toStdString();
        }
    }
}
