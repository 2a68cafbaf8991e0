#include "app/vtProgramData.h"

#include "app/kltConfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace vt::app
{

namespace
{
QHash<QString, QString> &shippedOverrides()
{
    static QHash<QString, QString> overrides;
    return overrides;
}
} // namespace

void SetShippedFolder(const QString &name, const QString &path)
{
    if (path.isEmpty())
        shippedOverrides().remove(name);
    else
        shippedOverrides().insert(name, path);
}

QString ShippedFolder(const QString &name)
{
    if (const auto it = shippedOverrides().constFind(name); it != shippedOverrides().constEnd())
        return *it;
    const QDir bin(QCoreApplication::applicationDirPath());
    for (const QString &candidate :
         {bin.filePath(name), QDir::cleanPath(bin.filePath(QStringLiteral("../share/vantrel/") + name))}) {
        if (QFileInfo(candidate).isDir())
            return candidate;
    }
    return {};
}

QString ManualCollectionFor(const QString &helpFile)
{
    // Windows' separators in names the language files give.
    QString relative = QString(helpFile).replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString programFolder = QString::fromStdString(ProgramFolder());
    if (relative.startsWith(programFolder + QLatin1Char('/')))
        relative = relative.mid(programFolder.size() + 1);
    if (relative.isEmpty() || QDir::isAbsolutePath(relative) || relative.contains(QLatin1String("..")))
        return {};
    const QFileInfo name(relative);
    const QString collection = name.path() + QLatin1Char('/') + name.completeBaseName() + QStringLiteral(".qhc");
    const QString user = QDir(programFolder).filePath(collection);
    if (QFileInfo(user).isFile())
        return user;
    // The shipped manual lives in the Help folder whatever subfolder the
    // name has in the program's folder.
    const QString shipped = ShippedFolder(QStringLiteral("Help"));
    if (!shipped.isEmpty()) {
        const QString file = QDir(shipped).filePath(name.completeBaseName() + QStringLiteral(".qhc"));
        if (QFileInfo(file).isFile())
            return file;
    }
    return {};
}

namespace
{
QString &helpFileSetting()
{
    static QString file;
    return file;
}
} // namespace

QString ApplicationHelpFile()
{
    const QString &file = helpFileSetting();
    return file.isEmpty() ? QString::fromStdString(ProgramFolder()) + QStringLiteral("\\Help\\English.chm") : file;
}

void SetApplicationHelpFile(const QString &fileName) { helpFileSetting() = fileName; }

} // namespace vt::app
