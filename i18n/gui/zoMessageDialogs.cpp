#include "i18n/gui/zoMessageDialogs.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <deque>
#include <limits>

namespace vt::i18n
{

namespace
{

int mulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const long long p = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return int(p >= 0 ? (p + half) / c : (p - half) / c);
}

QRect screenRect()
{
    if (QScreen *s = QGuiApplication::primaryScreen())
        return s->geometry();
    return QRect(0, 0, 1024, 768);
}

// "&&" makes the whole text go through prefix processing: "&&" shows one
// ampersand, a single "&" marks the next character and disappears.
QString processPrefixes(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;
            out += text[i];
        } else if (text[i] != QLatin1Char('&')) {
            out += text[i];
        }
    }
    return out;
}

QStyle::StandardPixmap iconFor(TMsgDlgType kind)
{
    switch (kind) {
    case TMsgDlgType::Warning:
        return QStyle::SP_MessageBoxWarning;
    case TMsgDlgType::Error:
        return QStyle::SP_MessageBoxCritical;
    case TMsgDlgType::Information:
        return QStyle::SP_MessageBoxInformation;
    case TMsgDlgType::Confirmation:
        return QStyle::SP_MessageBoxQuestion;
    default:
        return QStyle::SP_CustomBase;
    }
}

void prepareWindow(QDialog *w)
{
    w->setFont(DialogQFont());
    w->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    w->setLayoutDirection(QGuiApplication::layoutDirection());
}

// What a title bar takes besides its text: the window's icon and its
// minimise, maximise and close buttons, with their spacing.
constexpr int kTitleBarExtras = 120;

void centre(QWidget *w, QSize client)
{
    const QRect screen = screenRect();
    w->setFixedSize(client);
    w->move(screen.x() + screen.width() / 2 - client.width() / 2,
            screen.y() + screen.height() / 2 - client.height() / 2);
}

constexpr int kMessageFlags = Qt::TextWordWrap | Qt::TextExpandTabs;

// Draws with the very flags the layout measured with, so the wrapped lines
// always fit the box computed for them.
class TMessageLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(palette().color(foregroundRole()));
        const int align = layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
        painter.drawText(contentsRect(), kMessageFlags | align | Qt::AlignTop, text());
    }
};

std::function<void(int)> &helpHandler()
{
    static std::function<void(int)> h;
    return h;
}

struct Seam {
    std::deque<int> answers;
    std::deque<std::optional<QString>> prompts;
    TMessageCall lastMessage;
    TPromptCall lastPrompt;
};
Seam &seam()
{
    static Seam s;
    return s;
}

} // namespace

TDialogUnits TDialogUnits::of(const QFont &font)
{
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics fm(font);
    const QSize size = fm.size(Qt::TextSingleLine, letters);
    return {size.width() / 52, size.height()};
}

int TDialogUnits::h(int units) const
{
    return mulDiv(units, charWidth, 4);
}
int TDialogUnits::v(int units) const
{
    return mulDiv(units, charHeight, 8);
}

QFont DialogQFont()
{
    const TDialogFont f = DialogFont();
    QFont font(f.name);
    if (f.size > 0)
        font.setPointSize(f.size);
    return font;
}

TMessageForm::TMessageForm(QWidget *parent) : QDialog(parent) {}

void TMessageForm::reject()
{
    done(mrCancel);
}

void TMessageForm::keyPressEvent(QKeyEvent *event)
{
    // Escape presses the cancel button; without one it does nothing, as the
    // close box is then the only way out without an answer.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (m_cancel)
            m_cancel->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

TMessageForm *BuildMessageDialog(const QString &text, TMsgDlgType kind, TMsgDlgButtons buttons)
{
    auto *form = new TMessageForm;
    form->setObjectName(QStringLiteral("TMessageForm"));
    prepareWindow(form);
    form->setWindowFlag(Qt::WindowStaysOnTopHint);

    const QFont font = form->font();
    const QFontMetrics fm(font);
    const TDialogUnits du = TDialogUnits::of(font);
    const int hMargin = du.h(8), vMargin = du.v(8);
    const int hSpacing = du.h(10), vSpacing = du.v(10);
    const int buttonHeight = du.v(14), buttonSpacing = du.h(4);
    int buttonWidth = du.h(50);

    int count = 0;
    for (int i = 0; i < DialogButtonCount; ++i)
        if (buttons & (1u << i)) {
            ++count;
            buttonWidth = std::max(buttonWidth, fm.horizontalAdvance(ButtonCaption(TMsgDlgBtn(i))) + 8);
        }

    const QString shown = text.contains(QLatin1String("&&")) ? processPrefixes(text) : text;
    const QRect box(0, 0, screenRect().width() / 2, 0);
    const QSize textSize = fm.boundingRect(box, kMessageFlags, shown).size();

    const bool hasIcon = kind != TMsgDlgType::Custom && int(kind) >= 0 && int(kind) < DialogKindCount;
    int blockWidth = textSize.width(), blockHeight = textSize.height();
    if (hasIcon) {
        blockWidth += 32 + hSpacing;
        blockHeight = std::max(blockHeight, 32);
    }
    const int groupWidth = count ? count * buttonWidth + (count - 1) * buttonSpacing : 0;
    const int clientWidth = std::max(blockWidth, groupWidth) + 2 * hMargin;
    const int clientHeight = blockHeight + buttonHeight + vSpacing + 2 * vMargin;
    form->m_client = QSize(clientWidth, clientHeight);
    centre(form, form->m_client);

    form->setWindowTitle(kind == TMsgDlgType::Custom ? QGuiApplication::applicationDisplayName() : DialogTitle(kind));

    if (hasIcon) {
        auto *image = new QLabel(form);
        image->setObjectName(QStringLiteral("Image"));
        image->setPixmap(form->style()->standardIcon(iconFor(kind), nullptr, form).pixmap(32, 32));
        image->setGeometry(hMargin, vMargin, 32, 32);
    }

    auto *label = new TMessageLabel(form);
    label->setObjectName(QStringLiteral("Message"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setText(shown);
    label->setLayoutDirection(form->layoutDirection());
    int left = blockWidth - textSize.width() + hMargin;
    if (form->layoutDirection() == Qt::RightToLeft)
        left = clientWidth - left - textSize.width();
    label->setGeometry(left, vMargin, textSize.width(), textSize.height());

    auto has = [&](TMsgDlgBtn b) { return (buttons & btn(b)) != 0; };
    const TMsgDlgBtn defaultBtn = has(TMsgDlgBtn::OK)    ? TMsgDlgBtn::OK
                                  : has(TMsgDlgBtn::Yes) ? TMsgDlgBtn::Yes
                                                         : TMsgDlgBtn::Retry;
    const TMsgDlgBtn cancelBtn = has(TMsgDlgBtn::Cancel) ? TMsgDlgBtn::Cancel
                                 : has(TMsgDlgBtn::No)   ? TMsgDlgBtn::No
                                                         : TMsgDlgBtn::OK;

    int x = (clientWidth - groupWidth) / 2;
    const int top = blockHeight + vMargin + vSpacing;
    for (int i = 0; i < DialogButtonCount; ++i) {
        if (!(buttons & (1u << i)))
            continue;
        const TMsgDlgBtn b = TMsgDlgBtn(i);
        auto *button = new QPushButton(ButtonCaption(b), form);
        button->setObjectName(QString::fromLatin1(ButtonInfo[i].name));
        button->setGeometry(x, top, buttonWidth, buttonHeight);
        button->setAutoDefault(false);
        x += buttonWidth + buttonSpacing;
        if (b == defaultBtn) {
            button->setDefault(true);
            form->m_default = button;
        }
        if (b == cancelBtn)
            form->m_cancel = button;
        if (b == TMsgDlgBtn::Help) {
            QObject::connect(button, &QPushButton::clicked, form, [form] {
                if (helpHandler())
                    helpHandler()(form->HelpContext);
            });
        } else {
            const int result = ButtonInfo[i].result;
            QObject::connect(button, &QPushButton::clicked, form, [form, result] { form->done(result); });
        }
    }
    if (form->m_default)
        form->m_default->setFocus();
    return form;
}

int ShowMessageDialog(const QString &text, TMsgDlgType kind, TMsgDlgButtons buttons, int helpContext)
{
    Seam &s = seam();
    if (!s.answers.empty()) {
        const int answer = s.answers.front();
        s.answers.pop_front();
        s.lastMessage = {text, kind, buttons};
        return answer;
    }
    TMessageForm *form = BuildMessageDialog(text, kind, buttons);
    form->HelpContext = helpContext;
    const int result = form->exec();
    delete form;
    return result;
}

bool PromptForText(const QString &title, const QString &caption, QString &value, int maxLength)
{
    Seam &s = seam();
    if (!s.prompts.empty()) {
        const std::optional<QString> answer = s.prompts.front();
        s.prompts.pop_front();
        s.lastPrompt = {title, caption, value, maxLength};
        if (!answer)
            return false;
        value = maxLength > 0 ? answer->left(maxLength) : *answer;
        return true;
    }

    QDialog form;
    form.setObjectName(QStringLiteral("PromptForm"));
    prepareWindow(&form);
    form.setWindowTitle(title);
    const QFont font = form.font();
    const TDialogUnits du = TDialogUnits::of(font);
    const QFontMetrics fm(font);

    // Wide enough for the whole title beside the frame's icon and buttons
    // (drawn bold by many window managers), up to most of the screen.
    QFont titleFont = font;
    titleFont.setBold(true);
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(title) + kTitleBarExtras;
    const int clientWidth = std::clamp(titleWidth, du.h(180), std::max(du.h(180), screenRect().width() * 9 / 10));
    const int innerWidth = clientWidth - du.h(16);

    auto *label = new QLabel(&form);
    label->setObjectName(QStringLiteral("Prompt"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setText(caption);
    const QSize labelSize =
        fm.boundingRect(QRect(0, 0, innerWidth, 0), Qt::TextWordWrap | Qt::TextExpandTabs, caption).size();
    label->setGeometry(du.h(8), du.v(8), labelSize.width(), labelSize.height());

    auto *edit = new QLineEdit(&form);
    edit->setObjectName(QStringLiteral("Edit"));
    // QLineEdit takes no more than its own maximum whatever is asked.
    edit->setMaxLength(maxLength > 0 ? maxLength : std::numeric_limits<int>::max());
    edit->setText(value);
    edit->selectAll();
    edit->setGeometry(label->x(), label->geometry().bottom() + 1 + 5, innerWidth, edit->sizeHint().height());

    const int buttonTop = edit->geometry().bottom() + 1 + 15;
    const int buttonShift = (clientWidth - du.h(180)) / 2; // the pair stays centred
    auto *ok = new QPushButton(ButtonCaption(TMsgDlgBtn::OK), &form);
    ok->setObjectName(QStringLiteral("OK"));
    ok->setGeometry(buttonShift + du.h(38), buttonTop, du.h(50), du.v(14));
    ok->setDefault(true);
    auto *cancel = new QPushButton(ButtonCaption(TMsgDlgBtn::Cancel), &form);
    cancel->setObjectName(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    cancel->setGeometry(buttonShift + du.h(92), buttonTop, du.h(50), du.v(14));
    QObject::connect(ok, &QPushButton::clicked, &form, [&form] { form.done(mrOk); });
    QObject::connect(cancel, &QPushButton::clicked, &form, [&form] { form.done(mrCancel); });

    centre(&form, QSize(clientWidth, cancel->geometry().bottom() + 1 + 13));
    edit->setFocus();

    // QDialog answers Escape and the close box with reject(), i.e. 0.
    if (form.exec() != mrOk)
        return false;
    value = edit->text();
    return true;
}

void SetHelpHandler(std::function<void(int)> handler)
{
    helpHandler() = std::move(handler);
}

void setNextAnswer(int resultCode)
{
    seam().answers.push_back(resultCode);
}
void setNextPromptAnswer(std::optional<QString> answer)
{
    seam().prompts.push_back(std::move(answer));
}
void clearAnswers()
{
    seam().answers.clear();
    seam().prompts.clear();
}
int pendingAnswers()
{
    return int(seam().answers.size() + seam().prompts.size());
}
TMessageCall lastMessage()
{
    return seam().lastMessage;
}
TPromptCall lastPrompt()
{
    return seam().lastPrompt;
}

} // namespace vt::i18n
