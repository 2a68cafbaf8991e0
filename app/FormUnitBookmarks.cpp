#include "FormUnitBookmarks.h"

#include "i18n/gui/zoMessageDialogs.h"
#include "i18n/zoMessages.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <deque>

namespace vt::app
{

namespace
{

constexpr int LocationRole = Qt::UserRole;
constexpr int FolderRole = Qt::UserRole + 1;
constexpr int ImageRole = Qt::UserRole + 2;
const char *const kGroupIndex = "GroupIndex";
const char *const kName = "BookmarkName";

// The Bookmarks menu has no access keys: an ampersand in a name is shown.
QString menuCaption(const QString &name)
{
    QString caption = name;
    return caption.replace(QLatin1Char('&'), QLatin1String("&&"));
}

std::deque<std::optional<QString>> &inputAnswers()
{
    static std::deque<std::optional<QString>> answers;
    return answers;
}

QString msg(const char *key)
{
    return vt::i18n::MessageText(key);
}

bool confirm(const char *key)
{
    using namespace vt::i18n;
    return ShowMessageDialog(msg(key), TMsgDlgType::Confirmation, mbYesNo) == mrYes;
}

// One icon shared by every entry: the style makes a new one (with its own
// pixmaps) each time it is asked, tens of kilobytes per entry of a large
// file. Kept for the program's life, never freed after the application.
QIcon folderIcon()
{
    static const QIcon *icon = new QIcon(QApplication::style()->standardIcon(QStyle::SP_DirIcon));
    return *icon;
}
QIcon bookmarkIcon()
{
    static const QIcon *icon = new QIcon(QApplication::style()->standardIcon(QStyle::SP_FileLinkIcon));
    return *icon;
}

// The tree of the manager: only bookmarks can be dragged, and a drop moves
// the node by the manager's rules rather than Qt's.
class TBookmarkTree : public QTreeWidget
{
public:
    TBookmarkTree(TformBookmarks *owner, QWidget *parent) : QTreeWidget(parent), m_owner(owner)
    {
        setDragEnabled(true);
        setAcceptDrops(true);
        setDropIndicatorShown(true);
        setDragDropMode(QAbstractItemView::InternalMove);
    }

protected:
    void startDrag(Qt::DropActions actions) override
    {
        QTreeWidgetItem *node = currentItem();
        if (!node || TformBookmarks::IsFolderNode(node))
            return;
        m_dragged = node;
        QTreeWidget::startDrag(actions);
        m_dragged = nullptr;
    }
    void dragMoveEvent(QDragMoveEvent *event) override
    {
        QTreeWidgetItem *target = itemAt(event->position().toPoint());
        if (!m_dragged || target == m_dragged)
            event->ignore();
        else
            event->acceptProposedAction();
    }
    void dropEvent(QDropEvent *event) override
    {
        QTreeWidgetItem *target = itemAt(event->position().toPoint());
        if (m_dragged && target != m_dragged)
            m_owner->MoveBookmarkNode(m_dragged, target);
        // The move is done; Qt must not remove the source as well.
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
    }

private:
    TformBookmarks *m_owner;
    QTreeWidgetItem *m_dragged = nullptr;
};

} // namespace

int MenuGroupIndex(const QAction *action)
{
    return action->property(kGroupIndex).toInt();
}

bool InputQuery(const QString &title, const QString &prompt, QString &value)
{
    if (!inputAnswers().empty()) {
        const std::optional<QString> answer = inputAnswers().front();
        inputAnswers().pop_front();
        if (!answer)
            return false;
        value = *answer;
        return true;
    }
    bool ok = false;
    const QString text =
        QInputDialog::getText(QApplication::activeWindow(), title, prompt, QLineEdit::Normal, value, &ok);
    if (ok)
        value = text;
    return ok;
}

void setNextInputAnswer(std::optional<QString> answer)
{
    inputAnswers().push_back(std::move(answer));
}

int pendingInputAnswers()
{
    return int(inputAnswers().size());
}

// ---------------------------------------------------------------------------
// The dialog

TformBookmarks::TformBookmarks(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formBookmarks"));
    setWindowTitle(tr("Bookmarks"));
    setModal(true);
    resize(460, 420);

    aBookmarkAdd = newAction("aBookmarkAdd", tr("Add bookmark..."));
    aBookmarkRename = newAction("aBookmarkRename", tr("Rename bookmark..."));
    aBookmarkDelete = newAction("aBookmarkDelete", tr("Delete bookmark"));
    aFolderAdd = newAction("aFolderAdd", tr("Add folder..."));
    aFolderRename = newAction("aFolderRename", tr("Rename folder..."));
    aFolderDelete = newAction("aFolderDelete", tr("Delete folder"));
    aSortOneLevel = newAction("aSortOneLevel", tr("Sort one level"));
    aSortRecursive = newAction("aSortRecursive", tr("Sort recursive"));
    aFolderExportOneLevel = newAction("aFolderExportOneLevel", tr("Export one level"));
    aFolderExportRecursive = newAction("aFolderExportRecursive", tr("Export recursive"));

    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    tvBookmarks = new TBookmarkTree(this, this);
    tvBookmarks->setObjectName(QStringLiteral("tvBookmarks"));
    tvBookmarks->setHeaderHidden(true);
    tvBookmarks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvBookmarks->setContextMenuPolicy(Qt::CustomContextMenu);
    row->addWidget(tvBookmarks, 1);
    auto *buttons = new QVBoxLayout;
    for (QAction *a : {aBookmarkAdd, aBookmarkRename, aBookmarkDelete, aFolderAdd, aFolderRename, aFolderDelete}) {
        auto *b = new QPushButton(a->text(), this);
        b->setObjectName(QStringLiteral("bn") + a->objectName().mid(1));
        connect(b, &QPushButton::clicked, a, &QAction::trigger);
        connect(a, &QAction::changed, b, [a, b] {
            b->setEnabled(a->isEnabled());
            b->setText(a->text());
        });
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    row->addLayout(buttons);
    layout->addLayout(row, 1);
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    box->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("bnOK"));
    box->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("bnCancel"));
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);
    sbStatus = new QLabel(this);
    sbStatus->setObjectName(QStringLiteral("sbStatus"));
    layout->addWidget(sbStatus);

    auto *popup = new QMenu(this);
    popup->setObjectName(QStringLiteral("pmBookmarks"));
    popup->addActions({aBookmarkAdd, aBookmarkRename, aBookmarkDelete});
    popup->addSeparator();
    popup->addActions({aFolderAdd, aFolderRename, aFolderDelete});
    popup->addSeparator();
    popup->addActions({aSortOneLevel, aSortRecursive});
    popup->addSeparator();
    popup->addActions({aFolderExportOneLevel, aFolderExportRecursive});
    connect(tvBookmarks, &QWidget::customContextMenuRequested, this, [this, popup](const QPoint &pos) {
        // Right click selects.
        if (QTreeWidgetItem *node = tvBookmarks->itemAt(pos))
            tvBookmarks->setCurrentItem(node);
        UpdateActionStates();
        popup->popup(tvBookmarks->viewport()->mapToGlobal(pos));
    });
    connect(tvBookmarks, &QTreeWidget::currentItemChanged, this, [this] { UpdateActionStates(); });

    connect(aBookmarkAdd, &QAction::triggered, this, &TformBookmarks::aBookmarkAddExecute);
    connect(aBookmarkRename, &QAction::triggered, this, &TformBookmarks::aBookmarkRenameExecute);
    connect(aBookmarkDelete, &QAction::triggered, this, &TformBookmarks::aBookmarkDeleteExecute);
    connect(aFolderAdd, &QAction::triggered, this, &TformBookmarks::aFolderAddExecute);
    connect(aFolderRename, &QAction::triggered, this, &TformBookmarks::aFolderRenameExecute);
    connect(aFolderDelete, &QAction::triggered, this, &TformBookmarks::aFolderDeleteExecute);
    connect(aSortOneLevel, &QAction::triggered, this, [this] { sortSelected(false); });
    connect(aSortRecursive, &QAction::triggered, this, [this] { sortSelected(true); });
    connect(aFolderExportOneLevel, &QAction::triggered, this,
            [this] { ExportBookmarks(tvBookmarks->currentItem(), false); });
    connect(aFolderExportRecursive, &QAction::triggered, this,
            [this] { ExportBookmarks(tvBookmarks->currentItem(), true); });
    UpdateActionStates();
}

QAction *TformBookmarks::newAction(const char *name, const QString &caption)
{
    auto *a = new QAction(caption, this);
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

bool TformBookmarks::IsFolderNode(const QTreeWidgetItem *node)
{
    return node && node->data(0, FolderRole).toBool();
}

QString TformBookmarks::NodeLocation(const QTreeWidgetItem *node)
{
    return node ? node->data(0, LocationRole).toString() : QString();
}

void TformBookmarks::UpdateActionStates()
{
    QTreeWidgetItem *node = tvBookmarks->currentItem();
    const bool bookmark = node && !IsFolderNode(node);
    const bool folder = node && IsFolderNode(node);
    aBookmarkRename->setEnabled(bookmark);
    aBookmarkDelete->setEnabled(bookmark);
    aFolderRename->setEnabled(folder);
    aFolderDelete->setEnabled(folder);
    sbStatus->setText(bookmark ? NodeLocation(node) : QString());
}

QTreeWidgetItem *TformBookmarks::newNode(bool folder, const QString &name, const QString &location) const
{
    auto *node = new QTreeWidgetItem;
    node->setText(0, name);
    node->setData(0, FolderRole, folder);
    node->setData(0, ImageRole, folder ? 0 : 2);
    node->setIcon(0, folder ? folderIcon() : bookmarkIcon());
    if (!folder) {
        node->setData(0, LocationRole, location);
        node->setToolTip(0, location); // the tree's hint
    }
    return node;
}

void TformBookmarks::addNode(QTreeWidgetItem *parent, QTreeWidgetItem *node)
{
    if (parent)
        parent->addChild(node);
    else
        tvBookmarks->addTopLevelItem(node);
}

QTreeWidgetItem *TformBookmarks::targetFolder() const
{
    QTreeWidgetItem *node = tvBookmarks->currentItem();
    if (!node)
        return nullptr;
    return IsFolderNode(node) ? node : node->parent();
}

void TformBookmarks::aBookmarkAddExecute()
{
    QString name = msg("BookmarkItemDefaultName");
    if (!InputQuery(msg("BookmarkItemAddTitle"), msg("BookmarkItemAddCaption"), name))
        return;
    QString location = LastLocation;
    if (!InputQuery(msg("BookmarkItemAddLocationTitle"), msg("BookmarkItemAddLocationCaption"), location))
        return;
    QTreeWidgetItem *node = newNode(false, name, location);
    addNode(targetFolder(), node);
}

void TformBookmarks::aFolderAddExecute()
{
    QString name = msg("BookmarkFolderDefaultName");
    if (!InputQuery(msg("BookmarkFolderAddTitle"), msg("BookmarkFolderAddCaption"), name))
        return;
    QTreeWidgetItem *parent = targetFolder();
    QTreeWidgetItem *node = newNode(true, name, {});
    addNode(parent, node);
    if (parent)
        parent->setExpanded(true);
    node->setExpanded(true);
}

void TformBookmarks::aBookmarkRenameExecute()
{
    QTreeWidgetItem *node = tvBookmarks->currentItem();
    if (!node || IsFolderNode(node))
        return;
    QString name = node->text(0);
    if (InputQuery(msg("BookmarkItemRenameTitle"), msg("BookmarkItemRenameCaption"), name))
        node->setText(0, name);
}

void TformBookmarks::aFolderRenameExecute()
{
    QTreeWidgetItem *node = tvBookmarks->currentItem();
    if (!node || !IsFolderNode(node))
        return;
    QString name = node->text(0);
    if (InputQuery(msg("BookmarkFolderRenameTitle"), msg("BookmarkFolderRenameCaption"), name))
        node->setText(0, name);
}

void TformBookmarks::aBookmarkDeleteExecute()
{
    QTreeWidgetItem *node = tvBookmarks->currentItem();
    if (node && !IsFolderNode(node) && confirm("BookmarkItemDeleteCaption"))
        delete node;
    UpdateActionStates();
}

void TformBookmarks::aFolderDeleteExecute()
{
    QTreeWidgetItem *node = tvBookmarks->currentItem();
    if (node && IsFolderNode(node) && confirm("BookmarkFolderDeleteCaption"))
        delete node; // with everything in it
    UpdateActionStates();
}

static void sortChildren(QTreeWidgetItem *node, bool recursive)
{
    QList<QTreeWidgetItem *> children = node->takeChildren();
    std::stable_sort(children.begin(), children.end(), [](QTreeWidgetItem *a, QTreeWidgetItem *b) {
        // As the system's locale comparison: letters first, regardless of
        // case; of two names that differ in case only, the lower-case one first.
        const QString x = a->text(0), y = b->text(0);
        const int folded = QString::localeAwareCompare(x.toCaseFolded(), y.toCaseFolded());
        return folded != 0 ? folded < 0 : QString::compare(x, y) > 0;
    });
    node->addChildren(children);
    if (recursive)
        for (QTreeWidgetItem *child : children)
            if (TformBookmarks::IsFolderNode(child))
                sortChildren(child, true);
}

void TformBookmarks::sortSelected(bool recursive)
{
    QTreeWidgetItem *node = tvBookmarks->currentItem();
    if (!node)
        return;
    if (!IsFolderNode(node) && node->parent())
        node = node->parent();
    const bool wasExpanded = node->isExpanded();
    sortChildren(node, recursive);
    node->setExpanded(wasExpanded);
}

void TformBookmarks::ExportBookmarks(QTreeWidgetItem *node, bool recursive)
{
    if (!node || !OnExportBookmarks)
        return;
    auto level = [](const QTreeWidgetItem *n) {
        int depth = 0;
        for (; n->parent(); n = n->parent())
            ++depth;
        return depth;
    };
    const int start = level(node);
    QStringList locations;
    std::function<void(QTreeWidgetItem *)> visit = [&](QTreeWidgetItem *n) {
        if (!IsFolderNode(n)) {
            locations << NodeLocation(n);
            return;
        }
        if (recursive || level(n) <= start + 1)
            for (int i = 0; i < n->childCount(); ++i)
                visit(n->child(i));
    };
    visit(node);
    OnExportBookmarks(locations);
}

bool TformBookmarks::MoveBookmarkNode(QTreeWidgetItem *dragged, QTreeWidgetItem *target)
{
    if (!dragged || dragged == target || IsFolderNode(dragged))
        return false;
    QTreeWidgetItem *node = dragged->parent()
                                ? dragged->parent()->takeChild(dragged->parent()->indexOfChild(dragged))
                                : tvBookmarks->takeTopLevelItem(tvBookmarks->indexOfTopLevelItem(dragged));
    if (!target) {
        tvBookmarks->addTopLevelItem(node);
    } else if (IsFolderNode(target)) {
        target->addChild(node);
    } else if (QTreeWidgetItem *parent = target->parent()) {
        parent->insertChild(parent->indexOfChild(target), node);
    } else {
        tvBookmarks->insertTopLevelItem(tvBookmarks->indexOfTopLevelItem(target), node);
    }
    tvBookmarks->setCurrentItem(node);
    return true;
}

// ---------------------------------------------------------------------------
// The menu

QAction *TformBookmarks::bookmarkEntry(const QString &name, const QString &location, QMenu *menu)
{
    auto *entry = new TBookmarkMenuItem(bookmarkIcon(), menuCaption(name), menu);
    entry->setProperty(kName, name);
    entry->Location = location;
    entry->setProperty(kGroupIndex, 1);
    connect(entry, &QAction::triggered, this, [this, entry] {
        if (OnBookmarkClick)
            OnBookmarkClick(entry->Location);
    });
    return entry;
}

QMenu *TformBookmarks::folderEntry(const QString &name, QMenu *menu)
{
    auto *folder = new QMenu(menuCaption(name), menu);
    folder->menuAction()->setProperty(kName, name);
    folder->setIcon(folderIcon());
    folder->menuAction()->setProperty(kGroupIndex, 1);
    return folder;
}

namespace
{

// A folder's entries until the folder is first shown: a menu per folder and
// an entry per bookmark made at start, for every folder of a large file,
// would cost time and memory for what is never opened.
class TPendingBookmarks : public QObject
{
public:
    TPendingBookmarks(TBookmarkNode node, QObject *parent) : QObject(parent), Node(std::move(node))
    {
        setObjectName(QStringLiteral("vtPendingBookmarks"));
    }
    TBookmarkNode Node;
};

TPendingBookmarks *pendingOf(const QMenu *menu)
{
    return dynamic_cast<TPendingBookmarks *>(
        menu->findChild<QObject *>(QStringLiteral("vtPendingBookmarks"), Qt::FindDirectChildrenOnly));
}

} // namespace

void TformBookmarks::fillLevel(const TBookmarkNode &level, QMenu *into, QAction *before)
{
    QList<QAction *> entries;
    entries.reserve(qsizetype(level.children.size()));
    for (const TBookmarkNode &child : level.children) {
        if (!child.folder) {
            entries << bookmarkEntry(child.name, child.location, into);
            continue;
        }
        QMenu *folder = folderEntry(child.name, into);
        if (!child.children.empty()) {
            TBookmarkNode content;
            content.folder = true;
            content.children = child.children;
            new TPendingBookmarks(std::move(content), folder);
            connect(folder, &QMenu::aboutToShow, this, [this, folder] {
                if (TPendingBookmarks *pending = pendingOf(folder)) {
                    const TBookmarkNode content = std::move(pending->Node);
                    delete pending;
                    const QList<QAction *> actions = folder->actions();
                    fillLevel(content, folder, actions.isEmpty() ? nullptr : actions.first());
                }
            });
        }
        entries << folder->menuAction();
    }
    into->insertActions(before, entries);
}

void TformBookmarks::insertTop(QMenu *menu, QAction *entry)
{
    const QList<QAction *> actions = menu->actions();
    menu->insertAction(actions.isEmpty() ? nullptr : actions.first(), entry);
}

static void fillNode(QMenu *menu, TBookmarkNode &out)
{
    for (QAction *a : menu->actions()) {
        if (MenuGroupIndex(a) != 1)
            continue;
        TBookmarkNode node;
        node.name = a->property(kName).toString();
        if (QMenu *sub = a->menu()) {
            node.folder = true;
            if (const TPendingBookmarks *pending = pendingOf(sub))
                node.children = pending->Node.children; // never shown: as read
            else
                fillNode(sub, node);
        } else if (auto *item = qobject_cast<TBookmarkMenuItem *>(a)) {
            node.location = item->Location;
        } else {
            continue;
        }
        out.children.push_back(std::move(node));
    }
}

TBookmarkNode TformBookmarks::MenuToNode(QMenu *menu) const
{
    TBookmarkNode root;
    root.folder = true;
    if (menu)
        fillNode(menu, root);
    return root;
}

void TformBookmarks::NodeToMenu(const TBookmarkNode &root, QMenu *menu)
{
    for (QAction *a : menu->actions()) {
        if (MenuGroupIndex(a) != 1)
            continue;
        menu->removeAction(a);
        if (QMenu *sub = a->menu())
            sub->deleteLater();
        else
            a->deleteLater();
    }
    // Above the fixed entries, in the tree's order; folders fill when shown.
    const QList<QAction *> fixed = menu->actions();
    QAction *before = nullptr;
    for (QAction *a : fixed)
        if (MenuGroupIndex(a) != 1) {
            before = a;
            break;
        }
    fillLevel(root, menu, before);
}

TBookmarkFileResult TformBookmarks::LoadBookmarks(const QString &fileName, QMenu *menu)
{
    TBookmarkNode root;
    TBookmarkFileResult result = LoadBookmarkFile(fileName, root);
    if (menu)
        NodeToMenu(root, menu);
    return result;
}

void TformBookmarks::SaveBookmarks(const QString &fileName, QMenu *menu)
{
    SaveBookmarkFile(fileName, MenuToNode(menu));
}

bool TformBookmarks::AddBookmarkToMenu(QMenu *menu, const QString &location)
{
    QString name = msg("BookmarkItemDefaultName");
    if (!InputQuery(msg("BookmarkItemAddTitle"), msg("BookmarkItemAddCaption"), name))
        return false;
    insertTop(menu, bookmarkEntry(name, location, menu));
    LastLocation = location;
    return true;
}

void TformBookmarks::MenuToTree(QMenu *menu)
{
    tvBookmarks->clear();
    std::function<void(const TBookmarkNode &, QTreeWidgetItem *)> fill = [&](const TBookmarkNode &level,
                                                                             QTreeWidgetItem *parent) {
        for (const TBookmarkNode &n : level.children) {
            QTreeWidgetItem *node = newNode(n.folder, n.name, n.location);
            addNode(parent, node);
            if (n.folder)
                fill(n, node);
        }
    };
    fill(MenuToNode(menu), nullptr);
}

void TformBookmarks::TreeToMenu(QMenu *menu)
{
    TBookmarkNode root;
    root.folder = true;
    std::function<void(QTreeWidgetItem *, TBookmarkNode &)> take = [&](QTreeWidgetItem *node, TBookmarkNode &out) {
        TBookmarkNode n;
        n.folder = IsFolderNode(node);
        n.name = node->text(0);
        if (n.folder) {
            for (int i = 0; i < node->childCount(); ++i)
                take(node->child(i), n);
        } else {
            n.location = NodeLocation(node); // a bookmark's children are not carried over
        }
        out.children.push_back(std::move(n));
    };
    for (int i = 0; i < tvBookmarks->topLevelItemCount(); ++i)
        take(tvBookmarks->topLevelItem(i), root);
    NodeToMenu(root, menu);
}

bool TformBookmarks::ManageBookmarks(QMenu *menu)
{
    MenuToTree(menu);
    UpdateActionStates();
    if (exec() != QDialog::Accepted)
        return false;
    TreeToMenu(menu);
    return true;
}

} // namespace vt::app
