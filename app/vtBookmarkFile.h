#pragma once
// The bookmarks file: one entry per line as a comma list, folders nested
// between FOLDER_OPEN and FOLDER_CLOSE, each level listed from the bottom
// of the menu to the top.

#include <QString>
#include <QStringList>

#include <cstddef>
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

// The bounds of a bookmarks file: a larger file, or one that nests folders
// deeper, is not read and is left as it is (the bookmarks start empty and
// are not saved over it).
inline constexpr std::size_t MaxBookmarkFileBytes = std::size_t(32) << 20;
inline constexpr int MaxBookmarkDepth = 10000;

// Lines of a file into a tree (malformed lines are skipped), and back; time
// linear in the lines. tooDeep (when given) says that folders nest deeper
// than MaxBookmarkDepth; those lines then go to the deepest folder allowed.
TBookmarkNode ParseBookmarkLines(const QStringList &lines, bool *tooDeep = nullptr);
QStringList BookmarkLines(const TBookmarkNode &root);

struct TBookmarkFileResult {
    bool ok = true;      // false: the file was damaged or foreign, or unreadable
    QString keptAsideAs; // where a damaged file was moved, so nothing is lost
    QString problem;     // in words for the user
};

// Reads the file into `root` (empty when the file is missing). A file that
// holds no bookmark line at all yet is not empty, or that is not text, is
// moved aside (fileName + ".damaged", numbered when taken) and reported. A
// file that is no regular file (a FIFO, a device, a link to one), is larger
// than MaxBookmarkFileBytes or nests folders deeper than MaxBookmarkDepth is
// not read, left where it is, and reported (ok false, nothing kept aside).
TBookmarkFileResult LoadBookmarkFile(const QString &fileName, TBookmarkNode &root);
// Writes the file as a whole: a temporary file renamed over the old one, so
// a crash or a full disk leaves the old file intact. Raises
// std::runtime_error when it cannot be written.
void SaveBookmarkFile(const QString &fileName, const TBookmarkNode &root);

} // namespace vt::app
