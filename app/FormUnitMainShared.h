// Helpers shared by the source files of the main window; not for other users.
#pragma once

#include "FormUnitMain.h"

#include "core/kltRegTools.h"
#include "i18n/zoMessages.h"

#include <QCollator>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <functional>
#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

namespace vt::app::mainform {

inline QString fromStd(const std::string &text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }
inline std::string toStd(const QString &text) { return text.toUtf8().toStdString(); }

inline QString msg(const char *key) { return vt::i18n::MessageText(key); }

// A message with its "%s" places filled in order; what is filled in is not
// searched again, so a name holding "%s" stays as it is.
inline QString msg(const char *key, std::initializer_list<QString> args)
{
    QString text = msg(key);
    qsizetype at = 0;
    for (const QString &arg : args) {
        at = text.indexOf(QStringLiteral("%s"), at);
        if (at < 0)
            break;
        text.replace(at, 2, arg);
        at += arg.size();
    }
    return text;
}

// Key names sort and match the way the user's locale orders them, without
// regard to case; sorting and the binary search of FindChildNode share this
// order. Qt's collator ignores the case setting in its sort keys for the C
// locale, so there the order is that of the case-folded names.
class TKeyNameOrder {
public:
    TKeyNameOrder() : m_collator(QLocale()), m_plain(QLocale().language() == QLocale::C)
    {
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }
    int compare(const QString &a, const QString &b) const
    {
        return m_plain ? a.toCaseFolded().compare(b.toCaseFolded()) : m_collator.compare(a, b);
    }
    // Names sorted in place; sort keys are built once per name, which is far
    // cheaper on big keys than collating for every comparison.
    void sort(std::vector<std::string> &names) const
    {
        std::vector<std::size_t> order(names.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        if (m_plain) {
            std::vector<QString> keys;
            keys.reserve(names.size());
            for (const std::string &n : names)
                keys.push_back(fromStd(n).toCaseFolded());
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
        } else {
            std::vector<QCollatorSortKey> keys;
            keys.reserve(names.size());
            for (const std::string &n : names)
                keys.push_back(m_collator.sortKey(fromStd(n)));
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return keys[a].compare(keys[b]) < 0; });
        }
        std::vector<std::string> sorted;
        sorted.reserve(names.size());
        for (std::size_t i : order)
            sorted.push_back(std::move(names[i]));
        names.swap(sorted);
    }

private:
    QCollator m_collator;
    bool m_plain;
};

inline const TKeyNameOrder &keyNameOrder()
{
    static const TKeyNameOrder order;
    return order;
}

inline void sortKeyNames(std::vector<std::string> &names) { keyNameOrder().sort(names); }

// Names equal when they differ only in the case of the letters A to Z, as
// Windows' registry keeps names apart.
inline bool sameNameAsciiCase(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a[i].unicode(), y = b[i].unicode();
        if (x >= u'a' && x <= u'z')
            x = char16_t(x - 32);
        if (y >= u'a' && y <= u'z')
            y = char16_t(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

inline bool hasChildrenFlag(const QTreeWidgetItem *node)
{
    return node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

inline void setHasChildren(QTreeWidgetItem *node, bool flag)
{
    node->setChildIndicatorPolicy(flag ? QTreeWidgetItem::ShowIndicator
                                       : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

inline int nodeImage(const QTreeWidgetItem *node) { return node->data(0, NodeImageRole).toInt(); }

// 0 for a top node ("My Computer", a file or remote tree), 1 for a root key,
// 2 and deeper for keys.
inline int nodeLevel(const QTreeWidgetItem *node)
{
    int level = 0;
    for (const QTreeWidgetItem *n = node ? node->parent() : nullptr; n; n = n->parent())
        ++level;
    return level;
}

// A node's key as GetNodeKey gives it, for structured bindings.
struct TNodeKey {
    HKEY root = nullptr;
    int viewMode = 0;
    QString treePath;
    std::string keyPath;
};
inline TNodeKey nodeKeyOf(const TformMain &w, QTreeWidgetItem *node)
{
    TNodeKey key;
    w.GetNodeKey(node, key.root, key.viewMode, key.treePath, key.keyPath);
    return key;
}

// One confirmation of a loop whose answers may hold for all further items:
// Go for Yes (and without asking once Yes to all was given), Skip for No or
// the close box, Stop for No to all.
enum class TToAll { Go, Skip, Stop };
TToAll confirmWithToAll(const QString &text, bool &yesToAll);

// A class identifier's form: "{" ... "}".
inline bool isBraced(const QString &text)
{
    return text.startsWith(QLatin1Char('{')) && text.endsWith(QLatin1Char('}'));
}

// The Windows text of an error code, as the system words it.
QString windowsErrorText(LONG code);

// Keys below path, the key itself not counted; for progress only.
std::uint64_t countKeysBelow(TMyRegistry &reg, const std::string &path);

// Multi-line values keep CR LF in their text; the cell shows them on one line.
class TValueDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        // The base has turned each LF into a line separator already.
        QString &text = option->text;
        if (text.contains(QChar::LineSeparator) || text.contains(QLatin1Char('\r'))) {
            text.replace(QStringLiteral("\r\u2028"), QStringLiteral(" \u00B6 "));
            text.replace(QChar::LineSeparator, QLatin1Char(' '));
            text.replace(QLatin1Char('\r'), QLatin1Char(' '));
        }
    }
};

// The key tree and the value list: the view decides when a press and move
// start a drag, as it does for any drag, and ends its own pressed state when
// the drag is over; the window supplies the drag itself.
class TDragSourceTree : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;
    std::function<void()> OnStartDrag;

protected:
    void startDrag(Qt::DropActions) override
    {
        if (OnStartDrag)
            OnStartDrag();
    }
};

enum ValueColumn { colName = 0, colType, colValue, colSize, colRegistryValue, colCount };

// Types whose display text of the first bytes is the start of the whole
// value's display text.
inline bool hasPrefixText(TRegDataType type)
{
    switch (type) {
    case rdString:
    case rdExpandString:
    case rdMultiString:
    case rdNone:
    case rdBinary:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList:
        return true;
    default:
        return false;
    }
}

inline QDateTime dateTimeFromDays(TDateTime days)
{
    const double whole = std::floor(days);
    const qint64 msecs = qint64(std::llround((days - whole) * 86400000.0));
    return QDateTime(QDate(1899, 12, 30).addDays(qint64(whole)), QTime(0, 0)).addMSecs(msecs);
}

// Short date and long time of the user's locale, without a time zone.
inline QString formatLastWrite(const QDateTime &dt)
{
    const QLocale locale;
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    return locale.toString(dt.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(dt.time(), timeFormat.trimmed());
}

} // namespace vt::app::mainform
