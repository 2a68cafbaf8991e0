// Window placements of the settings store; the only part of it that needs
// widgets.

#include "kltConfig.h"

#include "core/kltRegistry.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace vt::app
{

namespace
{

// Dynamic properties a window's placement keeps between restore, show and
// save: whether a stored place was put on it, and whether it was ever shown.
constexpr const char *kPlacedProperty = "vtPlacementRestored";
constexpr const char *kShownProperty = "vtPlacementShown";

// Whether a window at this frame rectangle can be reached: some part of its
// top edge (where it is grabbed) lies on a screen.
bool onSomeScreen(const QRect &frame)
{
    const QRect grip(frame.left(), frame.top(), frame.width(), std::min(frame.height(), 30));
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersects(grip))
            return true;
    return false;
}

// A size larger than every screen taken together is a damaged value.
int sizeLimit()
{
    QRect all;
    for (const QScreen *screen : QGuiApplication::screens())
        all = all.united(screen->geometry());
    return std::max({all.width(), all.height(), 640}) * 4;
}

// The usable area of the screen that holds most of this frame (the primary
// one when none does).
QRect bestScreenArea(const QRect &frame)
{
    QRect best;
    qint64 bestArea = -1;
    for (const QScreen *screen : QGuiApplication::screens()) {
        const QRect common = screen->availableGeometry().intersected(frame);
        const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen->availableGeometry();
        }
    }
    if (bestArea <= 0 && QGuiApplication::primaryScreen())
        best = QGuiApplication::primaryScreen()->availableGeometry();
    return best;
}

// The frame's margins: the window's own once the window system told them,
// else the main window's, which has the same kind of frame.
QMargins frameMargins(const QWidget *form)
{
    const QRect frame = form->frameGeometry(), client = form->geometry();
    if (frame != client)
        return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                        frame.bottom() - client.bottom());
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != form && w->objectName() == QLatin1String("formMain") && w->isVisible()) {
            const QRect f = w->frameGeometry(), c = w->geometry();
            return QMargins(c.left() - f.left(), c.top() - f.top(), f.right() - c.right(), f.bottom() - c.bottom());
        }
    return {};
}

// Puts the window's frame at this point. Before the window exists the point
// is handed on as the frame's place, which the window manager honours once
// it knows the frame; a window that exists is placed by its client area.
void moveFrameTo(QWidget *form, QPoint frameTopLeft)
{
    if (!form->testAttribute(Qt::WA_WState_Created)) {
        form->move(frameTopLeft);
        return;
    }
    const QMargins m = frameMargins(form);
    form->setGeometry(QRect(frameTopLeft + QPoint(m.left(), m.top()), form->size()));
}

// Moves a frame rectangle so that it lies on the screen it is mostly on,
// keeping its size unless the screen is smaller.
QRect ontoScreen(QRect frame)
{
    const QRect area = bestScreenArea(frame);
    if (area.isEmpty())
        return frame;
    frame.setWidth(std::min(frame.width(), area.width()));
    frame.setHeight(std::min(frame.height(), area.height()));
    if (frame.right() > area.right())
        frame.moveRight(area.right());
    if (frame.bottom() > area.bottom())
        frame.moveBottom(area.bottom());
    if (frame.left() < area.left())
        frame.moveLeft(area.left());
    if (frame.top() < area.top())
        frame.moveTop(area.top());
    return frame;
}

QWidget *mainForm()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("formMain"))
            return w;
    return nullptr;
}

// Follows the program's windows as they are shown: marks them shown, and
// opens one without a stored place centred on the main window.
class TPlacementWatcher : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Show || !watched->isWidgetType())
            return false;
        auto *form = static_cast<QWidget *>(watched);
        if (!form->isWindow() || form->property(kShownProperty).toBool())
            return false;
        form->setProperty(kShownProperty, true);
        const QMargins margins = frameMargins(form);
        if (form->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
            return false; // the window system places those
        if (form->property(kPlacedProperty).toBool()) {
            // The frame is known (or like the main window's) only now: the
            // whole of it onto the screen.
            const QRect frame(form->pos(), form->size().grownBy(margins));
            const QRect fitted = ontoScreen(frame);
            if (fitted.size() != frame.size())
                form->resize(fitted.size().shrunkBy(margins));
            if (fitted.topLeft() != frame.topLeft())
                moveFrameTo(form, fitted.topLeft());
            return false;
        }
        QWidget *main = mainForm();
        if (!main || main == form || !main->isVisible() || form->testAttribute(Qt::WA_Moved))
            return false;
        const QSize frameSize = form->size().grownBy(margins);
        QRect frame(QPoint(), frameSize);
        frame.moveCenter(main->frameGeometry().center());
        moveFrameTo(form, ontoScreen(frame).topLeft());
        return false;
    }
};

void watchPlacement(QWidget *form)
{
    static QPointer<QObject> watcher;
    if (!watcher && qApp)
        watcher = new TPlacementWatcher(qApp);
    if (watcher && !form->property(kPlacedProperty).isValid())
        form->installEventFilter(watcher);
}

} // namespace

std::string TKLTConfigManager::FormPath(const QWidget *form) const
{
    return SettingsPath() + "UI\\Forms\\" + form->objectName().toStdString();
}

void TKLTConfigManager::RestoreFormPlacement(QWidget *form) const
{
    watchPlacement(form);
    const std::string sub = "UI\\Forms\\" + form->objectName().toStdString();
    const QPoint beforePos = form->pos();
    const QSize beforeSize = form->size();
    const int limit = sizeLimit();
    QPoint pos = beforePos;
    QSize size = beforeSize;
    bool placed = false;
    int value = 0;
    if (ReadInteger("Left", value, sub)) {
        pos.setX(value);
        placed = true;
    }
    if (ReadInteger("Top", value, sub)) {
        pos.setY(value);
        placed = true;
    }
    if (ReadInteger("Width", value, sub) && value > 0 && value <= limit)
        size.setWidth(value);
    if (ReadInteger("Height", value, sub) && value > 0 && value <= limit)
        size.setHeight(value);
    // The layout will not let it be smaller than this; the place must hold
    // the size the window will have.
    size = size.expandedTo(form->minimumSizeHint());
    QRect frame(pos, size.grownBy(frameMargins(form)));
    if (!onSomeScreen(frame)) {
        // A screen that is gone, or a damaged value: where it was before.
        frame = QRect(beforePos, beforeSize.grownBy(frameMargins(form)));
        size = beforeSize;
        placed = false;
    } else if (placed) {
        // Partly off the screen: all of it onto the screen.
        frame = ontoScreen(frame);
        size = size.boundedTo(frame.size().shrunkBy(frameMargins(form)));
    }
    if (size != form->size())
        form->resize(size);
    if (frame.topLeft() != form->pos())
        moveFrameTo(form, frame.topLeft());
    form->setProperty(kPlacedProperty, placed);
    if (ReadInteger("WindowState", value, sub)) {
        switch (value) {
        case 0:
            form->setWindowState(form->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
            break;
        case 1:
            form->setWindowState((form->windowState() & ~Qt::WindowMaximized) | Qt::WindowMinimized);
            break;
        case 2:
            form->setWindowState((form->windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
            break;
        default:
            break; // no state of ours
        }
    }
}

void TKLTConfigManager::SaveFormPlacement(QWidget *form, bool machine) const
{
    // A window that was restored but never shown keeps what is stored; it
    // has no place of its own to store.
    if (form->property(kPlacedProperty).isValid() && !form->property(kShownProperty).toBool())
        return;
    const std::string sub = "UI\\Forms\\" + form->objectName().toStdString();
    auto save = [&](bool toMachine) {
        bool ok = true;
        const Qt::WindowStates state = form->windowState();
        if (!(state & Qt::WindowMaximized)) {
            // A minimised window keeps the bounds it had before. Left and Top
            // are the frame's place, Width and Height the client's size.
            QRect normal(form->pos(), form->size());
            if ((state & Qt::WindowMinimized) && form->normalGeometry().isValid()) {
                const QMargins m = frameMargins(form);
                normal =
                    QRect(form->normalGeometry().topLeft() - QPoint(m.left(), m.top()), form->normalGeometry().size());
            }
            ok = WriteInteger("Left", normal.left(), toMachine, sub) &&
                 WriteInteger("Top", normal.top(), toMachine, sub) &&
                 WriteInteger("Width", normal.width(), toMachine, sub) &&
                 WriteInteger("Height", normal.height(), toMachine, sub);
        }
        const int code = (state & Qt::WindowMaximized) ? 2 : (state & Qt::WindowMinimized) ? 1 : 0;
        return WriteInteger("WindowState", code, toMachine, sub) && ok;
    };
    if (machine) {
        try {
            if (save(true))
                return;
        } catch (const ERegistryException &) {
            // The machine's branch is not writable for this user.
        }
    }
    save(false);
}

static QList<QWidget *> programForms()
{
    QList<QWidget *> forms;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName().startsWith(QLatin1String("form")))
            forms << w;
    return forms;
}

void TKLTConfigManager::RestoreAllForms() const
{
    for (QWidget *form : programForms())
        RestoreFormPlacement(form);
}

void TKLTConfigManager::SaveAllForms() const
{
    for (QWidget *form : programForms())
        SaveFormPlacement(form, false);
}

} // namespace vt::app
