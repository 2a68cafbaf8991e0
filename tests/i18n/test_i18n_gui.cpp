#include "i18n/gui/zoMessageDialogs.h"
#include "i18n/zoMessages.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <memory>

// Readable failure output for Qt strings.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

using namespace vt::i18n;

namespace
{

QPushButton *button(QWidget *form, const char *name)
{
    return form->findChild<QPushButton *>(QLatin1String(name));
}

// Runs `act` on the modal dialog once it is shown; a dialog the action fails
// to close is closed with -1 after a few seconds so a fault cannot hang the run.
void whenShown(std::function<void(QWidget *)> act)
{
    QTimer::singleShot(0, [act] {
        auto *w = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(w, nullptr);
        QPointer<QDialog> guard(w);
        QTimer::singleShot(3000, [guard] {
            if (guard && guard->isVisible()) {
                ADD_FAILURE() << "dialog still open";
                guard->done(-1);
            }
        });
        act(w);
    });
}

class Dialogs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetDialogTexts();
        clearAnswers();
    }
    void TearDown() override
    {
        ResetDialogTexts();
        clearAnswers();
        QGuiApplication::setLayoutDirection(Qt::LeftToRight);
    }
};

int screenWidth()
{
    return QGuiApplication::primaryScreen()->geometry().width();
}

} // namespace

TEST_F(Dialogs, LayoutFollowsTheDialogUnitArithmetic)
{
    const TDialogUnits du = TDialogUnits::of(DialogQFont());
    ASSERT_GT(du.charWidth, 0);
    const struct {
        TMsgDlgType kind;
        TMsgDlgButtons buttons;
        const char *text;
    } cases[] = {
        {TMsgDlgType::Confirmation, mbYesNo, "Delete?"},  {TMsgDlgType::Error, mbOK, "Something failed\twith a tab"},
        {TMsgDlgType::Custom, mbYesNoAll, "Custom kind"}, {TMsgDlgType::Warning, 0x7ff, "All eleven buttons"},
        {TMsgDlgType::Information, 0, "No buttons"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        std::unique_ptr<TMessageForm> form(BuildMessageDialog(QString::fromLatin1(c.text), c.kind, c.buttons));
        const QFontMetrics fm(form->font());
        const QSize text = fm.boundingRect(QRect(0, 0, screenWidth() / 2, 0), Qt::TextWordWrap | Qt::TextExpandTabs,
                                           QString::fromLatin1(c.text))
                               .size();
        const bool icon = c.kind != TMsgDlgType::Custom;
        const int blockW = text.width() + (icon ? 32 + du.h(10) : 0);
        const int blockH = icon ? std::max(text.height(), 32) : text.height();
        const int n = std::popcount(unsigned(c.buttons));
        const int bw = du.h(50); // English captions are all narrower
        const int groupW = n ? n * bw + (n - 1) * du.h(4) : 0;
        EXPECT_EQ(form->clientSize(),
                  QSize(std::max(blockW, groupW) + 2 * du.h(8), blockH + du.v(14) + du.v(10) + 2 * du.v(8)));
        EXPECT_EQ(form->size(), form->clientSize());
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        EXPECT_EQ(form->pos(),
                  QPoint(screen.width() / 2 - form->width() / 2, screen.height() / 2 - form->height() / 2));

        auto *label = form->findChild<QLabel *>(QStringLiteral("Message"));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->geometry(), QRect(QPoint(blockW - text.width() + du.h(8), du.v(8)), text));
        EXPECT_EQ(form->findChild<QLabel *>(QStringLiteral("Image")) != nullptr, icon);

        // Buttons in position order, centred, equal width.
        int x = (form->clientSize().width() - groupW) / 2;
        int seen = 0;
        for (int i = 0; i < DialogButtonCount; ++i) {
            QPushButton *b = button(form.get(), ButtonInfo[i].name);
            ASSERT_EQ(b != nullptr, (c.buttons >> i & 1) != 0) << ButtonInfo[i].name;
            if (!b)
                continue;
            EXPECT_EQ(b->geometry(), QRect(x, blockH + du.v(8) + du.v(10), bw, du.v(14))) << ButtonInfo[i].name;
            EXPECT_EQ(b->text(), QString::fromLatin1(ButtonInfo[i].english));
            x += bw + du.h(4);
            ++seen;
        }
        EXPECT_EQ(seen, n);
    }
}

TEST_F(Dialogs, TitleAndIconFollowTheKind)
{
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vantrel"));
    SetDialogTitle(TMsgDlgType::Error, QStringLiteral("Fehler"));
    const struct {
        TMsgDlgType kind;
        const char *title;
        bool icon;
    } cases[] = {
        {TMsgDlgType::Warning, "Warning", true},         {TMsgDlgType::Error, "Fehler", true},
        {TMsgDlgType::Information, "Information", true}, {TMsgDlgType::Confirmation, "Confirmation", true},
        {TMsgDlgType::Custom, "Vantrel", false},
    };
    for (const auto &c : cases) {
        std::unique_ptr<TMessageForm> form(BuildMessageDialog(QStringLiteral("x"), c.kind, mbOK));
        EXPECT_EQ(form->windowTitle(), QString::fromLatin1(c.title));
        auto *image = form->findChild<QLabel *>(QStringLiteral("Image"));
        ASSERT_EQ(image != nullptr, c.icon) << c.title;
        if (image) {
            EXPECT_EQ(image->geometry().size(), QSize(32, 32));
            EXPECT_FALSE(image->pixmap().isNull());
        }
        EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    }
}

TEST_F(Dialogs, DefaultAndCancelButtonsPerButtonSet)
{
    using B = TMsgDlgBtn;
    const struct {
        TMsgDlgButtons set;
        const char *def;
        const char *cancel;
    } cases[] = {
        {mbYesNo, "Yes", "No"},
        {mbOK, "OK", "OK"},
        {mbOKCancel, "OK", "Cancel"},
        {mbYesNoCancel, "Yes", "Cancel"},
        {mbYesNoAll, "Yes", "No"},
        {B::Abort | B::Retry | B::Ignore, "Retry", nullptr},
        {B::Abort | B::Ignore, nullptr, nullptr},
        {btn(B::All) | B::Help, nullptr, nullptr},
        {btn(B::Retry) | B::Cancel, "Retry", "Cancel"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.set);
        std::unique_ptr<TMessageForm> form(BuildMessageDialog(QStringLiteral("x"), TMsgDlgType::Confirmation, c.set));
        EXPECT_EQ(form->defaultButton(), c.def ? button(form.get(), c.def) : nullptr);
        EXPECT_EQ(form->cancelButton(), c.cancel ? button(form.get(), c.cancel) : nullptr);
        int defaults = 0;
        for (QPushButton *b : form->findChildren<QPushButton *>())
            defaults += b->isDefault();
        EXPECT_EQ(defaults, c.def ? 1 : 0);
    }
}

TEST_F(Dialogs, WideTranslatedCaptionWidensEveryButton)
{
    const QString wide = QStringLiteral("Ja, ganz bestimmt und ohne jeden Zweifel");
    SetButtonCaption(TMsgDlgBtn::Yes, wide);
    std::unique_ptr<TMessageForm> form(BuildMessageDialog(QStringLiteral("?"), TMsgDlgType::Confirmation, mbYesNo));
    const int expected = QFontMetrics(form->font()).horizontalAdvance(wide) + 8;
    ASSERT_GT(expected, TDialogUnits::of(form->font()).h(50));
    EXPECT_EQ(button(form.get(), "Yes")->width(), expected);
    EXPECT_EQ(button(form.get(), "No")->width(), expected);
    EXPECT_EQ(button(form.get(), "Yes")->text(), wide);
    EXPECT_GE(form->clientSize().width(), 2 * expected);
}

TEST_F(Dialogs, LongTextWrapsAtHalfTheScreenAndShortTextKeepsIconHeight)
{
    QString longText;
    for (int i = 0; i < 200; ++i)
        longText += QStringLiteral("word ");
    std::unique_ptr<TMessageForm> form(BuildMessageDialog(longText, TMsgDlgType::Custom, mbOK));
    auto *label = form->findChild<QLabel *>(QStringLiteral("Message"));
    const int lineHeight = QFontMetrics(form->font()).height();
    EXPECT_LE(label->width(), screenWidth() / 2);
    EXPECT_GT(label->width(), screenWidth() / 2 - 10 * QFontMetrics(form->font()).horizontalAdvance(QLatin1Char('w')));
    EXPECT_GE(label->height(), 3 * lineHeight);
    EXPECT_TRUE(label->wordWrap());

    std::unique_ptr<TMessageForm> small(BuildMessageDialog(QStringLiteral("Hi"), TMsgDlgType::Warning, mbOK));
    const TDialogUnits du = TDialogUnits::of(small->font());
    ASSERT_LT(lineHeight, 32);
    EXPECT_EQ(button(small.get(), "OK")->y(), 32 + du.v(8) + du.v(10));
}

TEST_F(Dialogs, DoubleAmpersandProcessesPrefixesSingleOneStaysLiteral)
{
    std::unique_ptr<TMessageForm> a(BuildMessageDialog(QStringLiteral("Tom && &Jerry"), TMsgDlgType::Custom, mbOK));
    EXPECT_EQ(a->findChild<QLabel *>(QStringLiteral("Message"))->text(), QStringLiteral("Tom & Jerry"));
    std::unique_ptr<TMessageForm> b(BuildMessageDialog(QStringLiteral("Tom & Jerry"), TMsgDlgType::Custom, mbOK));
    EXPECT_EQ(b->findChild<QLabel *>(QStringLiteral("Message"))->text(), QStringLiteral("Tom & Jerry"));
}

TEST_F(Dialogs, RightToLeftMirrorsTheMessage)
{
    QGuiApplication::setLayoutDirection(Qt::RightToLeft);
    std::unique_ptr<TMessageForm> form(BuildMessageDialog(QStringLiteral("Hi"), TMsgDlgType::Warning, mbOK));
    const TDialogUnits du = TDialogUnits::of(form->font());
    auto *label = form->findChild<QLabel *>(QStringLiteral("Message"));
    EXPECT_EQ(form->layoutDirection(), Qt::RightToLeft);
    const int ltrLeft = 32 + du.h(10) + du.h(8);
    EXPECT_EQ(label->x(), form->clientSize().width() - ltrLeft - label->width());
}

TEST_F(Dialogs, ShownDialogAnswersButtonsEscapeAndCloseBox)
{
    using B = TMsgDlgBtn;
    const struct {
        const char *what;
        TMsgDlgButtons set;
        std::function<void(QWidget *)> act;
        int expected;
    } cases[] = {
        {"Escape in Yes/No presses No", mbYesNo, [](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); }, mrNo},
        {"Escape in OK only presses OK", mbOK, [](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); }, mrOk},
        {"Escape with Cancel", mbYesNoCancel, [](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); }, mrCancel},
        {"close box in Yes/No", mbYesNo, [](QWidget *w) { w->close(); }, mrCancel},
        {"close box without Cancel", B::Abort | B::Retry, [](QWidget *w) { w->close(); }, mrCancel},
        {"Enter presses the default", mbYesNoAll, [](QWidget *w) { QTest::keyClick(w, Qt::Key_Return); }, mrYes},
        {"No to all", mbYesNoAll, [](QWidget *w) { button(w, "NoToAll")->click(); }, mrNoToAll},
        {"Yes to all", mbYesNoAll, [](QWidget *w) { button(w, "YesToAll")->click(); }, mrYesToAll},
        {"Abort", B::Abort | B::Ignore, [](QWidget *w) { button(w, "Abort")->click(); }, mrAbort},
        {"Ignore", B::Abort | B::Ignore, [](QWidget *w) { button(w, "Ignore")->click(); }, mrIgnore},
        {"All", btn(B::All), [](QWidget *w) { button(w, "All")->click(); }, mrAll},
        {"Help does not close", btn(B::Help) | B::Retry,
         [](QWidget *w) {
             button(w, "Help")->click();
             QTimer::singleShot(0, [w] { button(w, "Retry")->click(); });
         },
         mrRetry},
    };
    int helpContext = -1;
    SetHelpHandler([&](int ctx) { helpContext = ctx; });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        whenShown(c.act);
        EXPECT_EQ(ShowMessageDialog(QStringLiteral("Question"), TMsgDlgType::Confirmation, c.set, 77), c.expected);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    EXPECT_EQ(helpContext, 77);
    SetHelpHandler({});
}

TEST_F(Dialogs, EscapeWithoutCancelButtonKeepsTheDialogOpen)
{
    using B = TMsgDlgBtn;
    whenShown([](QWidget *w) {
        QTest::keyClick(w, Qt::Key_Escape);
        QTimer::singleShot(0, [w] {
            EXPECT_TRUE(w->isVisible());
            button(w, "Ignore")->click();
        });
    });
    EXPECT_EQ(ShowMessageDialog(QStringLiteral("x"), TMsgDlgType::Error, B::Abort | B::Ignore), mrIgnore);
}

TEST_F(Dialogs, SeamAnswersWithoutShowingAndRecordsTheCall)
{
    setNextAnswer(mrYes);
    setNextAnswer(mrNoToAll);
    EXPECT_EQ(ShowMessageDialog(QStringLiteral("first"), TMsgDlgType::Confirmation, mbYesNoAll), mrYes);
    EXPECT_EQ(ShowMessageDialog(QStringLiteral("second"), TMsgDlgType::Warning, mbYesNo), mrNoToAll);
    EXPECT_EQ(lastMessage().text, QStringLiteral("second"));
    EXPECT_EQ(lastMessage().kind, TMsgDlgType::Warning);
    EXPECT_EQ(lastMessage().buttons, mbYesNo);
    EXPECT_EQ(pendingAnswers(), 0);

    QString value = QStringLiteral("proposed");
    setNextPromptAnswer(std::nullopt);
    EXPECT_FALSE(PromptForText(QStringLiteral("T"), QStringLiteral("C"), value));
    EXPECT_EQ(value, QStringLiteral("proposed"));
    setNextPromptAnswer(QStringLiteral("typed"));
    EXPECT_TRUE(PromptForText(QStringLiteral("T2"), QStringLiteral("C2"), value));
    EXPECT_EQ(value, QStringLiteral("typed"));
    EXPECT_EQ(lastPrompt().title, QStringLiteral("T2"));
    EXPECT_EQ(lastPrompt().proposed, QStringLiteral("proposed"));
}

TEST_F(Dialogs, PromptLayoutAndSelection)
{
    SetButtonCaption(TMsgDlgBtn::OK, QStringLiteral("Gut"));
    QString value = QStringLiteral("New key #1");
    whenShown([](QWidget *w) {
        const TDialogUnits du = TDialogUnits::of(w->font());
        auto *label = w->findChild<QLabel *>(QStringLiteral("Prompt"));
        auto *edit = w->findChild<QLineEdit *>(QStringLiteral("Edit"));
        QPushButton *ok = button(w, "OK"), *cancel = button(w, "Cancel");
        ASSERT_TRUE(label && edit && ok && cancel);
        EXPECT_EQ(w->windowTitle(), QStringLiteral("New key"));
        EXPECT_EQ(label->pos(), QPoint(du.h(8), du.v(8)));
        EXPECT_LE(label->width(), du.h(164));
        EXPECT_EQ(edit->geometry().topLeft(), QPoint(du.h(8), label->geometry().bottom() + 1 + 5));
        EXPECT_EQ(edit->width(), du.h(164));
        EXPECT_EQ(edit->selectedText(), QStringLiteral("New key #1"));
        EXPECT_EQ(ok->geometry(), QRect(du.h(38), edit->geometry().bottom() + 1 + 15, du.h(50), du.v(14)));
        EXPECT_EQ(cancel->geometry(), QRect(du.h(92), ok->y(), du.h(50), du.v(14)));
        EXPECT_EQ(ok->text(), QStringLiteral("Gut"));
        EXPECT_TRUE(ok->isDefault());
        EXPECT_EQ(w->size(), QSize(du.h(180), cancel->geometry().bottom() + 1 + 13));
        // Typing replaces the selected proposal.
        QTest::keyClicks(edit, QStringLiteral("Run"));
        QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_TRUE(
        PromptForText(QStringLiteral("New key"), QStringLiteral("Please enter a name for the new key:"), value));
    EXPECT_EQ(value, QStringLiteral("Run"));
}

TEST_F(Dialogs, PromptCutsAtItsCallersLengthAndCancelLeavesTheValue)
{
    // A value name may be far longer than a key name; a path is not cut at all.
    const struct {
        int maxLength;
        int typed;
        int kept;
    } lengths[] = {{PromptKeyNameLength, 300, 255},
                   {PromptValueNameLength, 16400, 16383},
                   {PromptNoLimit, 40000, 40000}};
    for (const auto &l : lengths) {
        SCOPED_TRACE(l.maxLength);
        QString value;
        whenShown([&](QWidget *w) {
            auto *e = w->findChild<QLineEdit *>(QStringLiteral("Edit"));
            e->insert(QString(l.typed, QLatin1Char('v')));
            QTest::keyClick(e, Qt::Key_Return);
        });
        EXPECT_TRUE(PromptForText(QStringLiteral("T"), QStringLiteral("C"), value, l.maxLength));
        EXPECT_EQ(value.size(), l.kept);
    }

    const QString longInput(300, QLatin1Char('x'));
    const struct {
        const char *what;
        std::function<void(QLineEdit *, QWidget *)> act;
        bool ok;
        QString result;
    } cases[] = {
        {"typing 300 characters",
         [&](QLineEdit *e, QWidget *) {
             e->clear();
             QTest::keyClicks(e, longInput);
             QTest::keyClick(e, Qt::Key_Return);
         },
         true, QString(255, QLatin1Char('x'))},
        {"Cancel",
         [](QLineEdit *e, QWidget *w) {
             QTest::keyClicks(e, QStringLiteral("abc"));
             button(w, "Cancel")->click();
         },
         false, QStringLiteral("keep me")},
        {"Escape",
         [](QLineEdit *e, QWidget *) {
             QTest::keyClicks(e, QStringLiteral("abc"));
             QTest::keyClick(e, Qt::Key_Escape);
         },
         false, QStringLiteral("keep me")},
        {"close box",
         [](QLineEdit *e, QWidget *w) {
             QTest::keyClicks(e, QStringLiteral("abc"));
             w->close();
         },
         false, QStringLiteral("keep me")},
        {"OK button",
         [](QLineEdit *e, QWidget *w) {
             QTest::keyClick(e, Qt::Key_End);
             QTest::keyClicks(e, QStringLiteral("!"));
             button(w, "OK")->click();
         },
         true, QStringLiteral("keep me!")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QString value = QStringLiteral("keep me");
        auto act = c.act;
        whenShown([act](QWidget *w) { act(w->findChild<QLineEdit *>(QStringLiteral("Edit")), w); });
        EXPECT_EQ(PromptForText(QStringLiteral("T"), QStringLiteral("C"), value), c.ok);
        EXPECT_EQ(value, c.result);
    }
}

// A prompt is wide enough for its whole title beside the frame's icon and
// buttons (the bold title of many window managers), whatever the key's name.
TEST_F(Dialogs, PromptIsWideEnoughForItsTitle)
{
    const QString titles[] = {QStringLiteral("New bookmark name"),
                              QStringLiteral("Rename key (\"{4D36E972-E325-11CE-BFC1-08002BE10318}\")"),
                              QStringLiteral("Rename key (\"Key00028\")")};
    for (const QString &title : titles) {
        SCOPED_TRACE(title.toStdString());
        QString value = QStringLiteral("x");
        whenShown([title](QWidget *w) {
            QFont bold = w->font();
            bold.setBold(true);
            EXPECT_GE(w->width(), QFontMetrics(bold).horizontalAdvance(title) + 100);
            auto *edit = w->findChild<QLineEdit *>(QStringLiteral("Edit"));
            QPushButton *ok = button(w, "OK"), *cancel = button(w, "Cancel");
            ASSERT_TRUE(edit && ok && cancel);
            EXPECT_LE(edit->geometry().right(), w->width());
            EXPECT_LE(cancel->geometry().right(), w->width());
            // The buttons stay centred.
            EXPECT_LE(std::abs(ok->geometry().left() - (w->width() - cancel->geometry().right() - 1)), 2);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        EXPECT_TRUE(PromptForText(title, QStringLiteral("Name:"), value));
    }
}
