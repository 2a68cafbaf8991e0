// The main window's side of the bookmarks: the Bookmarks menu, adding the
// selected key, the manager, jumping to a bookmark and exporting the keys of
// a folder.

#include "FormUnitMainShared.h"

#include "app/FormUnitBookmarks.h"
#include "app/kltConfig.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/RegFileWriter.h"
#include "regfile/gui/RegFileActions.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

namespace vt::app
{

using namespace mainform;

static TformBookmarks *bookmarksForm(QWidget *form)
{
    return qobject_cast<TformBookmarks *>(form);
}

QString TformMain::BookmarksFile() const
{
    return fromStd(ProgramFile("Bookmarks.txt"));
}

void TformMain::bookmarksFormShow()
{
    TformBookmarks *form = bookmarksForm(formBookmarks);
    if (!form)
        return;
    form->OnBookmarkClick = [this](const QString &location) { OnBookmarkClick(location); };
    form->OnExportBookmarks = [this](const QStringList &locations) { ExportBookmarkedKeys(locations); };
    const TBookmarkFileResult result = form->LoadBookmarks(BookmarksFile(), mBookmarks);
    // A file that could not be moved aside must not be overwritten by the
    // next save.
    m_BookmarksWritable = result.ok || !result.keptAsideAs.isEmpty();
    if (!result.ok)
        vt::i18n::ShowMessageDialog(result.problem, vt::i18n::TMsgDlgType::Warning, vt::i18n::mbOK);
}

static void saveBookmarks(TformBookmarks *form, const QString &file, QMenu *menu, bool writable)
{
    if (!writable)
        throw std::runtime_error(
            QStringLiteral("The bookmarks are not saved: %1 could not be read and is left as it is.")
                .arg(file)
                .toStdString());
    // A system made before the program's folder existed lacks it.
    QDir().mkpath(QFileInfo(file).absolutePath());
    form->SaveBookmarks(file, menu);
}

void TformMain::aKeyAddBookmarkExecute()
{
    TformBookmarks *form = bookmarksForm(formBookmarks);
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (!form || !node)
        return;
    HKEY root;
    std::string keyPath;
    int viewMode;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    const QString location = fromStd(RootKeyToName(root) + keyPath);
    try {
        if (form->AddBookmarkToMenu(mBookmarks, location))
            saveBookmarks(form, BookmarksFile(), mBookmarks, m_BookmarksWritable);
    } catch (const std::exception &e) {
        vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
    }
}

void TformMain::aBookmarksManageExecute()
{
    TformBookmarks *form = bookmarksForm(formBookmarks);
    if (!form)
        return;
    try {
        if (form->ManageBookmarks(mBookmarks))
            saveBookmarks(form, BookmarksFile(), mBookmarks, m_BookmarksWritable);
    } catch (const std::exception &e) {
        vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
    }
}

void TformMain::OnBookmarkClick(const QString &location)
{
    GoToKey(location);
}

void TformMain::ExportBookmarkedKeys(const QStringList &locations)
{
    std::vector<HKEY> roots;
    std::vector<std::string> paths;
    for (const QString &location : locations) {
        const qsizetype slash = location.indexOf(QLatin1Char('\\'));
        const QString rootName = slash < 0 ? location : location.left(slash);
        const QString path = slash < 0 ? QStringLiteral("\\") : location.mid(slash);
        roots.push_back(NameToRootKey(toStd(rootName)));
        paths.push_back(toStd(path));
    }
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("sdExportReg"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("reg"));
    dialog.setNameFilters({tr("Registry files (v5) (*.reg)"), tr("Win 9x/NT4 registry files (v4) (*.reg)")});
    const std::optional<vt::regfile::TFileChoice> choice = vt::regfile::RunFileDialog(dialog);
    if (!choice)
        return;
    try {
        // Each key with its own values only, in the default view.
        ExportKeysToFile(roots, paths, false, false, choice->filterIndex != 2, toStd(choice->fileName));
    } catch (const std::exception &e) {
        vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
    }
}

} // namespace vt::app
