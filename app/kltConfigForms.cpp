// Window placements of the settings store; the only part of it that needs
// widgets.

#include "kltConfig.h"

#include "core/kltRegistry.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace vt::app
{

namespace
{

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

} // namespace

std::string TKLTConfigManager::FormPath(const QWidget *form) const
{
    return SettingsPath() + "UI\\Forms\\" + form->objectName().toStdString();
}

void TKLTConfigManager::RestoreFormPlacement(QWidget *form) const
{
    const std::string sub = "UI\\Forms\\" + form->objectName().toStdString();
    const QRect before = form->geometry();
    const QPoint beforePos = form->pos();
    const int limit = sizeLimit();
    int value = 0;
    if (ReadInteger("Left", value, sub))
        form->move(value, form->pos().y());
    if (ReadInteger("Top", value, sub))
        form->move(form->pos().x(), value);
    if (ReadInteger("Width", value, sub) && value > 0 && value <= limit)
        form->resize(value, form->height());
    if (ReadInteger("Height", value, sub) && value > 0 && value <= limit)
        form->resize(form->width(), value);
    const QRect frame(form->pos(), form->size());
    if (!onSomeScreen(frame)) {
        // A screen that is gone, or a damaged value: where it was before.
        form->move(beforePos);
        form->resize(before.size());
    }
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
    const std::string sub = "UI\\Forms\\" + form->objectName().toStdString();
    auto save = [&](bool toMachine) {
        bool ok = true;
        const Qt::WindowStates state = form->windowState();
        if (!(state & Qt::WindowMaximized)) {
            // A minimised window keeps the bounds it had before.
            const QRect normal = (state & Qt::WindowMinimized) && form->normalGeometry().isValid()
                                     ? form->normalGeometry()
                                     : QRect(form->pos(), form->size());
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
