#include "vtBookmarkFile.h"

#include "core/vtBoundedFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <stdexcept>

namespace vt::app
{

namespace
{

bool blankOrControl(QChar c)
{
    return c.unicode() <= 0x20;
}

bool needsQuotes(const QString &field)
{
    for (QChar c : field)
        if (blankOrControl(c) || c == QLatin1Char('"') || c == QLatin1Char(','))
            return true;
    return false;
}

} // namespace

QString JoinCommaText(const QStringList &fields)
{
    QStringList out;
    for (const QString &f : fields) {
        if (needsQuotes(f)) {
            QString q = f;
            q.replace(QLatin1Char('"'), QLatin1String("\"\""));
            out << QLatin1Char('"') + q + QLatin1Char('"');
        } else {
            out << f;
        }
    }
    return out.join(QLatin1Char(','));
}

QStringList SplitCommaText(const QString &line)
{
    QStringList fields;
    const qsizetype n = line.size();
    qsizetype i = 0;
    auto skipBlanks = [&] {
        while (i < n && blankOrControl(line[i]))
            ++i;
    };
    skipBlanks();
    while (i < n) {
        QString field;
        if (line[i] == QLatin1Char('"')) {
            ++i;
            while (i < n) {
                if (line[i] == QLatin1Char('"')) {
                    if (i + 1 < n && line[i + 1] == QLatin1Char('"')) {
                        field += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
        } else {
            while (i < n && line[i] != QLatin1Char(',') && !blankOrControl(line[i]))
                field += line[i++];
        }
        fields << field;
        skipBlanks();
        if (i < n && line[i] == QLatin1Char(',')) {
            ++i;
            if (i >= n) {
                fields << QString(); // a trailing comma
                break;
            }
            skipBlanks();
            if (i >= n)
                fields << QString();
        }
    }
    return fields;
}

static bool isEntryLine(const QStringList &f)
{
    return !f.isEmpty() &&
           ((f[0] == QLatin1String("ITEM") && f.size() >= 3) ||
            (f[0] == QLatin1String("FOLDER_OPEN") && f.size() >= 2) || f[0] == QLatin1String("FOLDER_CLOSE"));
}

// Each level's entries in file order, which is the menu's order from the
// bottom up.
static void reverseLevels(TBookmarkNode &root)
{
    std::vector<TBookmarkNode *> todo{&root};
    while (!todo.empty()) {
        TBookmarkNode *node = todo.back();
        todo.pop_back();
        std::reverse(node->children.begin(), node->children.end());
        for (TBookmarkNode &child : node->children)
            if (child.folder)
                todo.push_back(&child);
    }
}

TBookmarkNode ParseBookmarkLines(const QStringList &lines, bool *tooDeep)
{
    TBookmarkNode root;
    root.folder = true;
    if (tooDeep)
        *tooDeep = false;
    // The open folders, innermost last. Entries are appended in file order
    // and each level turned round at the end, as each line names the entry
    // above the ones before it (inserting at the top would cost time
    // quadratic in a folder's size). A folder deeper than the bound is not
    // opened: its entries go to its parent, and its closing line is skipped.
    std::vector<TBookmarkNode *> stack{&root};
    int unopened = 0;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("//")) || line.startsWith(QLatin1String("##")))
            continue;
        const QStringList f = SplitCommaText(line);
        if (f.isEmpty())
            continue;
        TBookmarkNode *parent = stack.back();
        if (f[0] == QLatin1String("ITEM") && f.size() >= 3) {
            TBookmarkNode item;
            item.name = f[1];
            item.location = f[2];
            parent->children.push_back(std::move(item));
        } else if (f[0] == QLatin1String("FOLDER_OPEN") && f.size() >= 2) {
            if (int(stack.size()) > MaxBookmarkDepth) {
                ++unopened;
                if (tooDeep)
                    *tooDeep = true;
                continue;
            }
            TBookmarkNode folder;
            folder.folder = true;
            folder.name = f[1];
            parent->children.push_back(std::move(folder));
            stack.push_back(&parent->children.back());
        } else if (f[0] == QLatin1String("FOLDER_CLOSE")) {
            if (unopened > 0)
                --unopened;
            else if (stack.size() > 1)
                stack.pop_back();
        }
    }
    reverseLevels(root);
    return root;
}

static void appendLines(const TBookmarkNode &level, QStringList &lines)
{
    for (auto it = level.children.rbegin(); it != level.children.rend(); ++it) {
        if (it->folder) {
            lines << JoinCommaText({QStringLiteral("FOLDER_OPEN"), it->name});
            appendLines(*it, lines);
            lines << QStringLiteral("FOLDER_CLOSE");
        } else {
            lines << JoinCommaText({QStringLiteral("ITEM"), it->name, it->location});
        }
    }
}

QStringList BookmarkLines(const TBookmarkNode &root)
{
    QStringList lines;
    appendLines(root, lines);
    return lines;
}

static QString asideName(const QString &fileName)
{
    QString name = fileName + QStringLiteral(".damaged");
    for (int i = 1; QFileInfo::exists(name); ++i)
        name = fileName + QStringLiteral(".damaged.%1").arg(i);
    return name;
}

TBookmarkFileResult LoadBookmarkFile(const QString &fileName, TBookmarkNode &root)
{
    TBookmarkFileResult result;
    root = TBookmarkNode();
    root.folder = true;
    std::string raw;
    const std::string native = QFile::encodeName(fileName).toStdString();
    const TBoundedFileStatus status = ReadBoundedFile(native, MaxBookmarkFileBytes, raw);
    if (status == TBoundedFileStatus::Missing)
        return result;
    if (status != TBoundedFileStatus::Ok) {
        // Left where it is, and not saved over: the user decides about it.
        result.ok = false;
        result.problem = QString::fromStdString(BoundedFileProblem(status, native, MaxBookmarkFileBytes)) +
                         QStringLiteral(" The bookmarks start empty and are not saved over it.");
        return result;
    }
    const QByteArray bytes = QByteArray::fromStdString(raw);
    raw = std::string();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    const bool isText = !decoder.hasError() && !bytes.contains('\0');
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    bool anyEntry = false, anyOther = false;
    for (const QString &line : lines) {
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1String("//")) || line.startsWith(QLatin1String("##")))
            continue;
        (isEntryLine(SplitCommaText(line)) ? anyEntry : anyOther) = true;
    }
    if (isText && (anyEntry || !anyOther)) {
        bool tooDeep = false;
        root = ParseBookmarkLines(lines, &tooDeep);
        if (tooDeep) {
            root = TBookmarkNode();
            root.folder = true;
            result.ok = false;
            result.problem = QStringLiteral("The bookmarks file %1 nests folders deeper than %2 levels; it was not "
                                            "read. The bookmarks start empty and are not saved over it.")
                                 .arg(fileName)
                                 .arg(MaxBookmarkDepth);
        }
        return result;
    }
    // Not ours: keep it where the user can find it, and start without.
    result.ok = false;
    const QString aside = asideName(fileName);
    if (QFile::rename(fileName, aside)) {
        result.keptAsideAs = aside;
        result.problem = QStringLiteral("The bookmarks file %1 is damaged or not a bookmarks file. It was kept as %2; "
                                        "the bookmarks start empty.")
                             .arg(fileName, aside);
    } else {
        result.problem = QStringLiteral("The bookmarks file %1 is damaged or not a bookmarks file, and it could not be "
                                        "moved aside.")
                             .arg(fileName);
    }
    return result;
}

void SaveBookmarkFile(const QString &fileName, const TBookmarkNode &root)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error(QStringLiteral("Cannot write %1: %2").arg(fileName, file.errorString()).toStdString());
    QByteArray bytes;
    for (const QString &line : BookmarkLines(root))
        bytes += line.toUtf8() + "\r\n";
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw std::runtime_error(QStringLiteral("Cannot write %1: %2").arg(fileName, file.errorString()).toStdString());
}

} // namespace vt::app
