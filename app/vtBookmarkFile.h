#pragma once
// The bookmarks file: one entry per line as a comma list, folders nested
// between FOLDER_OPEN and FOLDER_CLOSE, each level listed from the bottom
// of the menu to the top.

#include <QString>
#include <QStringList>

#include <vector>

namespace vt::app
{

// Fields joined by commas; a field with a blank, a control character, a
// double quote or a comma is quoted, inner quotes doubled.
QString JoinCommaText(const QStringList &fields);
// The reverse, as the file's reader takes it: outside quotes blanks and
// control characters also end a field and are skipped between fields; a
// trailing comma gives an empty last field.
QStringList SplitCommaText(const QString &line);

// A bookmark or a folder; children in menu order, top first.
struct TBookmarkNode {
    bool folder = false;
    QString name;
    QString location; // bookmarks only
    std::vector<TBookmarkNode> children;
};

// Lines of a file into a tree (malformed lines are skipped), and back.
TBookmarkNode ParseBookmarkLines(const QStringList &lines);
QStringList BookmarkLines(const TBookmarkNode &root);

struct TBookmarkFileResult {
    bool ok = true;      // false: the file was damaged or foreign, or unreadable
    QString keptAsideAs; // where a damaged file was moved, so nothing is lost
    QString problem;     // in words for the user
};

// Reads the file into `root` (empty when the file is missing). A file that
// holds no bookmark line at all yet is not empty, or that is not text, is
// moved aside (fileName + ".damaged", numbered when taken) and reported.
TBookmarkFileResult LoadBookmarkFile(const QString &fileName, TBookmarkNode &root);
// Writes the file as a whole: a temporary file renamed over the old one, so
// a crash or a full disk leaves the old file intact. Raises
// std::runtime_error when it cannot be written.
void SaveBookmarkFile(const QString &fileName, const TBookmarkNode &root);

} // namespace vt::app
