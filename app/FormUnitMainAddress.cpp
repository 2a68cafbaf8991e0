// Going to a key typed into the address box, and the keyboard handling of
// the tree, list and address box.

#include "FormUnitMainShared.h"


#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>

#include <algorithm>
#include <cmath>

namespace vt::app {

using namespace mainform;

// ---------------------------------------------------------------------------
// Going to a key

void TformMain::GoToKey(const QString &input)
{
    QString text = input;
    // "My Computer\" or a computer name in front of the root goes.
    if (!text.startsWith(QStringLiteral("HK"), Qt::CaseInsensitive)) {
        const qsizetype slash = text.indexOf(QLatin1Char('\\'));
        if (slash >= 0 && slash == text.indexOf(QStringLiteral("\\HK"), 0, Qt::CaseInsensitive))
            text.remove(0, slash + 1);
    }
    if (text.endsWith(QLatin1Char('\\')))
        text.chop(1);
    // A root typed short (HKCU, HKU) or in another letter case stands for the
    // full name the tree's root nodes carry.
    const QString typedRoot = text.left(text.indexOf(QLatin1Char('\\')));
    if (const HKEY typed = ParseRootName(toStd(typedRoot)))
        text.replace(0, typedRoot.size(), fromStd(RootKeyToName(typed)));

    auto split = [](const QString &t, QStringList &elements, HKEY &root, std::string &rest) {
        elements = t.split(QLatin1Char('\\'));
        root = NameToRootKey(toStd(elements.first()));
        const qsizetype slash = t.indexOf(QLatin1Char('\\'));
        rest = toStd(slash >= 0 ? t.mid(slash) : t);
    };
    QStringList elements;
    HKEY root;
    std::string rest;
    split(text, elements, root, rest);
    if (!KeyExistsAt(root, rest, 0)) {
        // Pasted paths often carry blanks around their separators.
        text.replace(QStringLiteral("\\ "), QStringLiteral("\\"));
        text.replace(QStringLiteral(" \\"), QStringLiteral("\\"));
    }
    split(text, elements, root, rest);

    bool exists = false;
    try {
        TMyRegistry64 reg;
        reg.SetRootKey(root);
        // The tree shows some branches in the 32-bit view (HKCR's classes):
        // a key either view holds can have a node.
        exists = reg.KeyExists(rest) || KeyExistsAt(root, rest, 0);
    } catch (...) {
        exists = false;
    }

    QTreeWidgetItem *start = nullptr;
    if ((exists || elements.size() == 1) && m_MyComputer) {
        for (int i = 0; i < m_MyComputer->childCount(); ++i)
            if (m_MyComputer->child(i)->text(0).compare(elements.first(), Qt::CaseInsensitive) == 0)
                start = m_MyComputer->child(i);
    }
    if (start) {
        tvKeysExpanding(start);
        const bool wasEnabled = tvKeys->updatesEnabled();
        tvKeys->setUpdatesEnabled(false);
        QTreeWidgetItem *current = start;
        for (qsizetype i = 1; i < elements.size(); ++i) {
            // Two backslashes in a row name no key: stay at the last one found.
            if (elements[i].isEmpty())
                break;
            QTreeWidgetItem *next = FindChildNode(current, elements[i]);
            // A key made after its parent was listed gets its node, in its
            // sorted place; a name the node's view does not hold ends the walk.
            if (!next)
                next = addExistingKeyNode(current, elements[i]);
            if (!next)
                break;
            tvKeysExpanding(next);
            current = next;
        }
        for (QTreeWidgetItem *up = current->parent(); up; up = up->parent())
            up->setExpanded(true);
        tvKeys->setUpdatesEnabled(wasEnabled);
        SelectNode(current);
        tvKeys->scrollToItem(current);
        tvKeys->setFocus(Qt::OtherFocusReason);
    } else {
        tvKeysChange();
    }
}

// ---------------------------------------------------------------------------
// Address box

void TformMain::cbAddressSelect(int index)
{
    QString text = cbAddress->itemText(index);
    const qsizetype slash = text.indexOf(QLatin1Char('\\'));
    const QString myComputer = m_MyComputer ? m_MyComputer->text(0) : msg("MyComputer");
    if (slash >= 0 && text.left(slash).compare(myComputer, Qt::CaseInsensitive) == 0)
        text.remove(0, slash + 1);
    GoToKey(text);
}

void TformMain::cbAddressEnter() { GoToKey(cbAddress->currentText()); }

// ---------------------------------------------------------------------------
// Focus, keys and the "&Edit" mirror

void TformMain::dropEditMirror()
{
    for (QAction *action : std::as_const(m_EditMirror)) {
        mEdit->removeAction(action);
        if (action->parent() == mEdit)
            delete action;
    }
    m_EditMirror.clear();
}

void TformMain::mirrorPopupInEdit(QMenu *popup)
{
    dropEditMirror();
    for (QAction *action : popup->actions()) {
        QAction *copy = action;
        if (action->isSeparator()) {
            copy = new QAction(mEdit);
            copy->setSeparator(true);
        } else if (action->menu()) {
            // Submenus are not copied: the entry stands alone.
            copy = new QAction(action->text(), mEdit);
            copy->setObjectName(action->objectName() + QStringLiteral("Mirror"));
            copy->setEnabled(action->isEnabled());
            connect(copy, &QAction::triggered, action, &QAction::trigger);
        }
        mEdit->insertAction(m_EditPermanentFirst, copy);
        m_EditMirror.append(copy);
    }
    mEdit->setEnabled(true);
}

bool TformMain::eventFilter(QObject *watched, QEvent *event)
{
    if (commandKeyPress(watched, event) || dragDropEvent(watched, event))
        return true;
    if (watched == tvKeys || watched == lvData) {
        if (event->type() == QEvent::FocusIn) {
            mirrorPopupInEdit(watched == tvKeys ? pmKeys : pmValues);
        } else if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            // Opening a menu or leaving the window is not leaving the list.
            if (reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason &&
                reason != Qt::ActiveWindowFocusReason) {
                dropEditMirror();
                mEdit->setEnabled(false);
            }
        }
        // Keys that move the current node are followed by its change signal.
    } else if (cbAddress && (watched == cbAddress || watched == cbAddress->lineEdit()) &&
               event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            cbAddressEnter();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace vt::app
