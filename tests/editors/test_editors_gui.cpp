// The editor dialogs on their own, worked through their modal seam with
// keys as a person types them, and the hex view's rows and sizing.

#include "editors/gui/EditorModal.h"
#include "editors/gui/FormUnitEditBinary.h"
#include "editors/gui/FormUnitEditInteger.h"
#include "editors/gui/FormUnitEditMultiString.h"
#include "editors/gui/FormUnitEditType.h"
#include "editors/gui/vzoHexEdit.h"
#include "editors/gui/vzoHexView.h"
#include "i18n/gui/zoMessageDialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace vt::editors;

namespace
{

QWidget *focused() { return QApplication::focusWidget(); }

void activate(QDialog &dialog)
{
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
}

struct Fields {
    QString decimal, hex, binary;
    bool operator==(const Fields &) const = default;
};
std::ostream &operator<<(std::ostream &os, const Fields &f)
{
    return os << f.decimal.toStdString() << " | " << f.hex.toStdString() << " | " << f.binary.toStdString();
}
Fields fields(const TformEditInteger &form)
{
    return {form.editDataDecimal->text(), form.editDataHex->text(), form.editDataBinary->text()};
}

class Dialogs : public ::testing::Test
{
protected:
    void TearDown() override
    {
        clearEditorDrivers();
        vt::i18n::clearAnswers();
    }
};

} // namespace

TEST_F(Dialogs, NumberFieldsFollowEachOtherIn32BitMode)
{
    TformEditInteger form;
    struct Step {
        const char *field; // the field typed into, after Ctrl+A
        const char *keys;
        Fields after;
    };
    const Step steps[] = {
        {"editDataDecimal", "4294967295", {"4294967295", "FFFFFFFF", QString(32, u'1')}},
        // Only the low 32 bits are used.
        {"editDataDecimal", "4294967296", {"4294967296", "00000000", "0"}},
        {"editDataHex", "1G", {"16", "1G", "10000"}},
        // g and the minus sign and letters in the other fields are dropped.
        {"editDataHex", "g2", {"2", "2", "10"}},
        {"editDataDecimal", "-7x", {"7", "00000007", "111"}},
        {"editDataBinary", "1021", {"5", "00000005", "101"}},
    };
    Fields initial;
    std::vector<Fields> seen;
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        EXPECT_EQ(focused(), form.editDataDecimal);
        initial = fields(form);
        for (const Step &s : steps) {
            auto *field = dialog.findChild<QLineEdit *>(s.field);
            field->setFocus();
            QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(field, s.keys);
            seen.push_back(fields(form));
        }
        QTest::keyClick(focused(), Qt::Key_Return);
    });
    uint32_t number = 0x01000000;
    EXPECT_EQ(form.EditInt32("n", number), mrOK);
    EXPECT_EQ(initial, (Fields{"16777216", "01000000", "1" + QString(24, u'0')}));
    ASSERT_EQ(seen.size(), std::size(steps));
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], steps[i].after) << steps[i].keys;
    EXPECT_EQ(number, 5u);
    EXPECT_FALSE(form.Is64());
}

TEST_F(Dialogs, NumberFieldsIn64BitModeShowSignedDecimal)
{
    TformEditInteger form;
    Fields initial, typed;
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        initial = fields(form);
        QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focused(), "9223372036854775807");
        typed = fields(form);
        QTest::keyClick(focused(), Qt::Key_Return);
    });
    int64_t number = -1;
    EXPECT_EQ(form.EditInt64("q", number), mrOK);
    EXPECT_EQ(initial, (Fields{"-1", "FFFFFFFFFFFFFFFF", QString(64, u'1')}));
    EXPECT_EQ(typed, (Fields{"9223372036854775807", "7FFFFFFFFFFFFFFF", QString(63, u'1')}));
    EXPECT_EQ(number, INT64_MAX);
}

// A field that does not read leaves the hex field at the old number: OK is
// refused with the reason until every field shows the same number.
TEST_F(Dialogs, OkRefusedWhileAFieldShowsAnotherNumber)
{
    TformEditInteger form;
    std::vector<QString> reasons;
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        QTest::keyClick(focused(), Qt::Key_Backspace); // the decimal field empty
        vt::i18n::setNextAnswer(vt::i18n::mrOk);
        QTest::keyClick(focused(), Qt::Key_Return);
        reasons.push_back(dialog.isVisible() ? vt::i18n::lastMessage().text : QString());
        form.editDataBinary->setFocus();
        QTest::keyClick(focused(), Qt::Key_End);
        QTest::keyClicks(focused(), QString(40, u'1')); // more digits than 32 bits hold
        vt::i18n::setNextAnswer(vt::i18n::mrOk);
        QTest::keyClick(focused(), Qt::Key_Return);
        reasons.push_back(dialog.isVisible() ? vt::i18n::lastMessage().text : QString());
        // Typing the number again in the hex field mends both.
        form.editDataHex->setFocus();
        QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focused(), "2A");
        QTest::keyClick(focused(), Qt::Key_Return);
    });
    uint32_t number = 7;
    EXPECT_EQ(form.EditInt32("n", number), mrOK);
    ASSERT_EQ(reasons.size(), 2u);
    EXPECT_TRUE(reasons[0].contains("decimal")) << reasons[0].toStdString();
    EXPECT_TRUE(reasons[1].contains("binary")) << reasons[1].toStdString();
    EXPECT_EQ(number, 42u);
}

TEST_F(Dialogs, CancelHandsBackTheHexFieldsNumberAndResultTwo)
{
    TformEditInteger form;
    setNextEditorDriver([&](QDialog &) {
        QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focused(), "9");
        QTest::keyClick(focused(), Qt::Key_Escape);
    });
    uint32_t number = 1;
    EXPECT_EQ(form.EditInt32("n", number), mrCancel);
    EXPECT_EQ(number, 9u);
}

TEST_F(Dialogs, MultiStringLinesAndTheirLineEnds)
{
    TformEditMultiString form;
    struct Case {
        QString in, shown, out;
    };
    const Case cases[] = {
        {"a\r\nb\r\n", "a\nb", "a\r\nb\r\n"},
        {"a\r\nb", "a\nb", "a\r\nb\r\n"},
        {"", "", ""},
        {"\r\n\r\nx", "\n\nx", "\r\n\r\nx\r\n"},
    };
    for (const Case &c : cases) {
        QString shown;
        setNextEditorDriver([&](QDialog &dialog) {
            activate(dialog);
            shown = form.memoData->toPlainText();
            EXPECT_EQ(focused(), form.memoData);
            QTest::mouseClick(dialog.findChild<QPushButton *>("bnOK"), Qt::LeftButton);
        });
        QString text = c.in;
        EXPECT_EQ(form.EditMultiString("(Default)", text), mrOK);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(text, c.out);
    }
}

TEST_F(Dialogs, TypeDialogOffersTheAllowedTypesAndWaitsForOne)
{
    TformValueType form;
    QStringList offered;
    bool okAtFirst = true, okAfter = false;
    setNextEditorDriver([&](QDialog &dialog) {
        activate(dialog);
        for (int i = 0; i < form.cbTypeNew->count(); ++i)
            offered << form.cbTypeNew->itemText(i);
        okAtFirst = form.bnOK->isEnabled();
        QTest::keyClick(form.cbTypeNew, Qt::Key_Down);
        okAfter = form.bnOK->isEnabled();
        QTest::mouseClick(form.bnOK, Qt::LeftButton);
    });
    TRegDataType chosen = rdUnknown;
    EXPECT_TRUE(form.SelectNewType("v", "x\r\ny", rdMultiString, chosen));
    EXPECT_EQ(offered, QStringList({"REG_SZ", "REG_EXPAND_SZ"}));
    EXPECT_FALSE(okAtFirst);
    EXPECT_TRUE(okAfter);
    EXPECT_EQ(chosen, rdString);
    EXPECT_EQ(form.editData->text(), "x y");
    EXPECT_EQ(form.editTypeCurrent->text(), "REG_MULTI_SZ");
    // Closed without a type: no success.
    setNextEditorDriver([](QDialog &dialog) { dialog.reject(); });
    EXPECT_FALSE(form.SelectNewType("v", "1", rdInteger, chosen));
}

// ---------------------------------------------------------------------------
// Hex view

TEST(HexView, RowsAndTheirTexts)
{
    THexView view;
    EXPECT_EQ(view.HexBlocks(), 4); // until first sized
    const std::vector<uint8_t> bytes = {0x41, 0x42, 0x00, 0x7F, 0xE4, 0x80, 0x1F, 0x20, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    view.OnGetBinaryData = [&](int64_t first, int64_t count, uint8_t *out) {
        for (int64_t i = 0; i < count; ++i)
            out[i] = bytes[size_t(first + i)];
    };
    view.SetDataSize(16);
    EXPECT_EQ(view.RowCount(), 1);
    view.SetDataSize(17);
    EXPECT_EQ(view.RowCount(), 2);
    QString pos, dump, text;
    view.RowTexts(0, pos, dump, text);
    EXPECT_EQ(pos, "00000000");
    EXPECT_EQ(dump, "4142007F E4801F20 01020304 05060708");
    // 0x80 is the euro sign of the ANSI code page; control bytes are dots.
    EXPECT_EQ(text, QStringLiteral("AB.\u007F\u00E4\u20AC. ........"));
    view.RowTexts(1, pos, dump, text);
    EXPECT_EQ(pos, "00000010");
    EXPECT_EQ(dump, "09");
    EXPECT_EQ(text, ".");
    view.SetDataSize(0);
    EXPECT_EQ(view.RowCount(), 0);

    // Bytes that are not available show the disabled characters.
    view.OnGetAvailableData = [](int64_t first, int64_t count, uint8_t *out, bool *enabled) {
        for (int64_t i = 0; i < count; ++i) {
            out[i] = uint8_t(0x30 + i);
            enabled[i] = (first + i) % 2 == 0;
        }
    };
    view.SetDataSize(5);
    view.RowTexts(0, pos, dump, text);
    EXPECT_EQ(dump, QStringLiteral("30\u00A4\u00A432\u00A4\u00A4 34"));
    EXPECT_EQ(text, QStringLiteral("0\u00A42\u00A44"));
}

TEST(HexView, GroupsPerRowFollowTheWidthBetweenTwoAndSeventeen)
{
    THexView view;
    view.show();
    view.SetDataSize(1000);
    int previous = 0;
    for (int width : {120, 400, 700, 1000, 3000}) {
        view.resize(width, 200);
        QApplication::processEvents();
        const int blocks = view.HexBlocks();
        EXPECT_GE(blocks, THexView::MinHexBlocks);
        EXPECT_LE(blocks, THexView::MaxHexBlocks);
        EXPECT_GE(blocks, previous) << width;
        EXPECT_EQ(view.RowCount(), (1000 + blocks * 4 - 1) / (blocks * 4));
        // The dump and text columns fit the groups shown.
        const QFontMetrics m(view.font());
        EXPECT_EQ(view.Header()->sectionSize(1), m.horizontalAdvance(QString("AABBCCDD ").repeated(blocks)) + 8);
        previous = blocks;
    }
    view.resize(120, 200);
    QApplication::processEvents();
    EXPECT_EQ(view.HexBlocks(), THexView::MinHexBlocks);
    view.resize(3000, 200);
    QApplication::processEvents();
    EXPECT_EQ(view.HexBlocks(), THexView::MaxHexBlocks);
}

TEST(HexView, SelectedBytesStayInViewWhenTheRowWidthChanges)
{
    THexView view;
    view.resize(3000, 200);
    view.show();
    QApplication::processEvents();
    view.SetDataSize(100000);
    view.SetCurrentRow(1000);
    const int64_t firstByte = view.CurrentRow() * view.RowWidth();
    view.resize(300, 200);
    QApplication::processEvents();
    EXPECT_LE(view.CurrentRow() * view.RowWidth(), firstByte);
    EXPECT_GT((view.CurrentRow() + 1) * view.RowWidth(), firstByte);
    EXPECT_GE(view.CurrentRow(), view.TopRow());
    EXPECT_LT(view.CurrentRow(), view.TopRow() + view.VisibleRows());
}

TEST(HexView, OnlyVisibleRowsAreFormatted)
{
    THexView view;
    int64_t asked = 0;
    view.OnGetBinaryData = [&](int64_t, int64_t count, uint8_t *out) {
        asked += count;
        std::fill_n(out, count, uint8_t(0xAB));
    };
    view.resize(700, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.SetDataSize(int64_t(64) << 20);
    view.repaint();
    const int64_t visible = view.VisibleRows();
    EXPECT_LE(view.RowsFormatted(), 2 * visible);
    EXPECT_LE(asked, 2 * visible * view.RowWidth());
    EXPECT_EQ(view.BytesShown(), visible * view.RowWidth());
    // The end, by keyboard.
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_End);
    view.repaint();
    EXPECT_EQ(view.CurrentRow(), view.RowCount() - 1);
    EXPECT_LE(view.RowsFormatted(), 4 * visible);
}

// ---------------------------------------------------------------------------
// The binary editor: bytes edited in place, as a person types them

TEST(HexEdit, KeysEditTheBytes)
{
    using B = std::vector<uint8_t>;
    struct Key {
        int code;
        Qt::KeyboardModifiers mods;
        QString text;
    };
    auto digits = [](const char *t) {
        std::vector<Key> keys;
        for (const char *c = t; *c; ++c)
            keys.push_back({0, Qt::NoModifier, QString(QLatin1Char(*c))});
        return keys;
    };
    const Key ctrlEnd{Qt::Key_End, Qt::ControlModifier, {}}, ctrlA{Qt::Key_A, Qt::ControlModifier, {}};
    struct Case {
        const char *what;
        std::vector<Key> keys;
        B after;
    };
    auto with = [](std::vector<Key> a, const std::vector<Key> &b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        {"a digit overwrites the high nibble", digits("a"), {0xA1, 0x02}},
        {"two digits the whole byte", digits("ab"), {0xAB, 0x02}},
        {"after the last byte a digit appends", with({ctrlEnd}, digits("c")), {0x01, 0x02, 0xC0}},
        {"other characters are dropped", digits("xz g-"), {0x01, 0x02}},
        {"Insert puts a zero byte in", {{Qt::Key_Insert, Qt::NoModifier, {}}}, {0x00, 0x01, 0x02}},
        {"Delete removes the byte at the cursor", {{Qt::Key_Delete, Qt::NoModifier, {}}}, {0x02}},
        {"Backspace the one before it", {ctrlEnd, {Qt::Key_Backspace, Qt::NoModifier, {}}}, {0x01}},
        {"typing replaces the selection", with({ctrlA}, digits("ff")), {0xFF}},
        {"Delete removes the selection", {ctrlA, {Qt::Key_Delete, Qt::NoModifier, {}}}, {}},
        {"Shift selects", with({{Qt::Key_Right, Qt::ShiftModifier, {}}}, digits("3")), {0x30, 0x02}},
        {"copy and paste as hex pairs",
         {ctrlA, {Qt::Key_C, Qt::ControlModifier, {}}, ctrlEnd, {Qt::Key_V, Qt::ControlModifier, {}}},
         {0x01, 0x02, 0x01, 0x02}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        THexEdit edit;
        edit.resize(500, 200);
        edit.show();
        edit.SetData({0x01, 0x02});
        for (const Key &k : c.keys) {
            if (k.code)
                QTest::keyClick(&edit, Qt::Key(k.code), k.mods);
            else
                QTest::keyClicks(&edit, k.text);
        }
        EXPECT_EQ(edit.Data(), c.after);
    }
}

TEST(HexEdit, RowsShowOffsetPairsAndCharacters)
{
    THexEdit edit;
    std::vector<uint8_t> bytes(20, 0x41);
    bytes[1] = 0;
    edit.SetData(bytes);
    EXPECT_EQ(edit.RowText(0).trimmed(),
              "00000000  41 00 41 41 41 41 41 41 41 41 41 41 41 41 41 41  A.AAAAAAAAAAAAAA");
    EXPECT_EQ(edit.RowText(1).left(21), "00000010  41 41 41 41");
}

TEST_F(Dialogs, BinaryEditorHandsBackTheBytesOnOkOnly)
{
    TformEditBinary form;
    for (const bool ok : {true, false}) {
        SCOPED_TRACE(ok);
        setNextEditorDriver([&](QDialog &dialog) {
            activate(dialog);
            EXPECT_EQ(focused(), form.hexData);
            EXPECT_EQ(form.lblSize->text(), "2 byte(s)");
            QTest::keyClick(focused(), Qt::Key_End, Qt::ControlModifier);
            QTest::keyClicks(focused(), "7f");
            EXPECT_EQ(form.lblSize->text(), "3 byte(s)");
            if (ok)
                QTest::mouseClick(dialog.findChild<QPushButton *>("bnOK"), Qt::LeftButton);
            else
                QTest::keyClick(focused(), Qt::Key_Escape);
        });
        std::vector<uint8_t> bytes{1, 2};
        EXPECT_EQ(form.EditBinary("v", "REG_BINARY", bytes), ok ? mrOK : mrCancel);
        EXPECT_EQ(bytes, ok ? std::vector<uint8_t>({1, 2, 0x7F}) : std::vector<uint8_t>({1, 2}));
    }
}


// A big value opens without a copy: bytes typed over it are kept apart until
// the data is asked for; the value handed in stays as it was.
TEST(HexEdit, TypingOverSharedBytesLeavesThemAlone)
{
    const std::vector<uint8_t> shared{1, 2, 3};
    THexEdit edit;
    edit.SetSharedData(shared);
    QTest::keyClick(&edit, Qt::Key_Right);
    QTest::keyClicks(&edit, "ab");
    EXPECT_EQ(edit.RowText(0).mid(10, 8), "01 AB 03");
    EXPECT_EQ(edit.Cursor(), 2);
    EXPECT_EQ(shared, std::vector<uint8_t>({1, 2, 3}));
    QTest::keyClick(&edit, Qt::Key_Insert);
    EXPECT_EQ(edit.Data(), std::vector<uint8_t>({1, 0xAB, 0, 3}));
    EXPECT_EQ(shared, std::vector<uint8_t>({1, 2, 3}));
}
