#pragma once
// Bookmarks: the entries of the main window's Bookmarks menu (bookmarks and
// nested folders), the file they are kept in, and the manager dialog.

#include "app/vtBookmarkFile.h"

#include <QAction>
#include <QDialog>

#include <functional>
#include <optional>

class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace vt::app
{

// A bookmark in the menu: an entry that remembers its key.
class TBookmarkMenuItem : public QAction
{
    Q_OBJECT
public:
    using QAction::QAction;
    QString Location;
};

// Entries of the Bookmarks menu carry a group index: 1 for bookmarks and
// folders, anything else (the separator and "Manage bookmarks") is fixed and
// stays at the bottom.
int MenuGroupIndex(const QAction *action);

// The framework's one-line input box: true and `value` replaced on OK.
// Test seam: queued answers are used instead of showing the box
// (std::nullopt answers Cancel).
bool InputQuery(const QString &title, const QString &prompt, QString &value);
void setNextInputAnswer(std::optional<QString> answer);
int pendingInputAnswers();

class TformBookmarks : public QDialog
{
    Q_OBJECT
public:
    explicit TformBookmarks(QWidget *parent = nullptr);

    // Set by the main window at start-up.
    std::function<void(const QString &location)> OnBookmarkClick;
    std::function<void(const QStringList &locations)> OnExportBookmarks;
    // The location of the last bookmark added from the main window.
    QString LastLocation;

    // Fills the menu from the file; a damaged file is kept aside and
    // reported in the result (the menu then has no bookmarks).
    TBookmarkFileResult LoadBookmarks(const QString &fileName, QMenu *menu);
    void SaveBookmarks(const QString &fileName, QMenu *menu);
    bool AddBookmarkToMenu(QMenu *menu, const QString &location);
    // Shows the manager; true when it was closed with OK (the menu then
    // shows the manager's tree).
    bool ManageBookmarks(QMenu *menu);
    void ExportBookmarks(QTreeWidgetItem *node, bool recursive);

    // The menu's entries as a tree and back.
    TBookmarkNode MenuToNode(QMenu *menu) const;
    void NodeToMenu(const TBookmarkNode &root, QMenu *menu);
    void MenuToTree(QMenu *menu);
    void TreeToMenu(QMenu *menu);

    // Moves a bookmark node as dropping it on `target` does (none: the top
    // level's end); false when nothing moves.
    bool MoveBookmarkNode(QTreeWidgetItem *dragged, QTreeWidgetItem *target);

    static bool IsFolderNode(const QTreeWidgetItem *node);
    static QString NodeLocation(const QTreeWidgetItem *node);

    QTreeWidget *tvBookmarks = nullptr;
    QLabel *sbStatus = nullptr;
    QAction *aBookmarkAdd = nullptr, *aBookmarkRename = nullptr, *aBookmarkDelete = nullptr, *aFolderAdd = nullptr,
            *aFolderRename = nullptr, *aFolderDelete = nullptr, *aSortOneLevel = nullptr, *aSortRecursive = nullptr,
            *aFolderExportOneLevel = nullptr, *aFolderExportRecursive = nullptr;

    void UpdateActionStates();

private:
    void aBookmarkAddExecute();
    void aBookmarkRenameExecute();
    void aBookmarkDeleteExecute();
    void aFolderAddExecute();
    void aFolderRenameExecute();
    void aFolderDeleteExecute();
    void sortSelected(bool recursive);

    QTreeWidgetItem *targetFolder() const;
    QTreeWidgetItem *newNode(bool folder, const QString &name, const QString &location) const;
    void addNode(QTreeWidgetItem *parent, QTreeWidgetItem *node);
    QAction *newAction(const char *name, const QString &caption);
    QAction *bookmarkEntry(const QString &name, const QString &location, QMenu *menu);
    QMenu *folderEntry(const QString &name, QMenu *menu);
    void insertTop(QMenu *menu, QAction *entry);
    // The level's entries before `before` (none: at the end), in order.
    void fillLevel(const TBookmarkNode &level, QMenu *into, QAction *before);
};

} // namespace vt::app
