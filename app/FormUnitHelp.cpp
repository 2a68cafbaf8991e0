#include "app/FormUnitHelp.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHelpContentWidget>
#include <QHelpContentModel>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QSplitter>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace vt::app
{

namespace
{

// Renders the manual's qthelp:// pages and their images from the engine.
class THelpBrowser : public QTextBrowser
{
public:
    THelpBrowser(QHelpEngine *engine, QWidget *parent) : QTextBrowser(parent), m_engine(engine)
    {
        setObjectName(QStringLiteral("browserHelp"));
        setOpenExternalLinks(true);
    }

    QVariant loadResource(int type, const QUrl &name) override
    {
        if (name.scheme() == QLatin1String("qthelp"))
            return m_engine->fileData(name);
        return QTextBrowser::loadResource(type, name);
    }

private:
    QHelpEngine *m_engine;
};

// Copies the collection and the manuals beside it into the user's cache
// when they differ from the copies there. The search index lives beside the
// copy.
QString cachedCollection(const QString &collectionFile, QString *error)
{
    const QFileInfo source(collectionFile);
    if (!source.isFile()) {
        *error = QObject::tr("The manual %1 is not there.").arg(QDir::toNativeSeparators(collectionFile));
        return {};
    }
    const QByteArray key =
        QCryptographicHash::hash(source.absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    const QString cacheRoot = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    const QDir cache(QDir(cacheRoot.isEmpty() ? QDir::tempPath() : cacheRoot)
                         .filePath(QStringLiteral("help/") + QString::fromLatin1(key)));
    if (!QDir().mkpath(cache.path())) {
        *error = QObject::tr("The folder %1 cannot be made.").arg(QDir::toNativeSeparators(cache.path()));
        return {};
    }
    const QStringList files = QDir(source.absolutePath())
                                  .entryList({QStringLiteral("*.qch"), source.fileName()}, QDir::Files);
    for (const QString &name : files) {
        const QFileInfo from(source.absoluteDir().filePath(name));
        const QFileInfo to(cache.filePath(name));
        if (to.exists() && to.size() == from.size() && to.lastModified() >= from.lastModified())
            continue;
        // A fresh copy invalidates the search index made for the old one.
        QFile::remove(to.filePath());
        QDir(cache.filePath(QStringLiteral(".") + source.completeBaseName())).removeRecursively();
        if (!QFile::copy(from.filePath(), to.filePath())) {
            *error = QObject::tr("The manual cannot be copied to %1.").arg(QDir::toNativeSeparators(cache.path()));
            return {};
        }
        QFile(to.filePath()).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    return cache.filePath(source.fileName());
}

} // namespace

TformHelp::TformHelp(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("formHelp"));
    setWindowTitle(tr("Vantrel Help"));
    resize(900, 640);
}

TformHelp::~TformHelp() = default;

bool TformHelp::OpenCollection(const QString &collectionFile, QString *error)
{
    QString reason;
    const QString copy = cachedCollection(collectionFile, &reason);
    if (copy.isEmpty()) {
        if (error)
            *error = reason;
        return false;
    }
    auto engine = std::make_unique<QHelpEngine>(copy);
    if (!engine->setupData() || engine->registeredDocumentations().isEmpty()) {
        if (error)
            *error = tr("The manual %1 cannot be read: %2")
                         .arg(QDir::toNativeSeparators(collectionFile),
                              engine->error().isEmpty() ? tr("it holds no pages") : engine->error());
        return false;
    }
    // The layout is built once a collection is open: the engine's widgets
    // belong to it.
    delete layout();
    qDeleteAll(findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly));
    m_engine = std::move(engine);
    m_namespace = m_engine->registeredDocumentations().constFirst();

    auto *splitter = new QSplitter(this);
    tabs = new QTabWidget(splitter);
    tabs->setObjectName(QStringLiteral("tabsHelp"));
    QHelpContentWidget *contents = m_engine->contentWidget();
    contents->setObjectName(QStringLiteral("tvHelpContents"));
    tabs->addTab(contents, tr("Contents"));
    QHelpIndexWidget *index = m_engine->indexWidget();
    index->setObjectName(QStringLiteral("lvHelpIndex"));
    tabs->addTab(index, tr("Index"));
    auto *searchPage = new QWidget(tabs);
    auto *searchLayout = new QVBoxLayout(searchPage);
    QHelpSearchEngine *search = m_engine->searchEngine();
    search->queryWidget()->setObjectName(QStringLiteral("editHelpSearch"));
    search->resultWidget()->setObjectName(QStringLiteral("lvHelpSearchResults"));
    searchLayout->addWidget(search->queryWidget());
    searchLayout->addWidget(search->resultWidget());
    tabs->addTab(searchPage, tr("Search"));
    browser = new THelpBrowser(m_engine.get(), splitter);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({260, 640});
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    connect(contents, &QHelpContentWidget::linkActivated, browser, [this](const QUrl &url) { browser->setSource(url); });
    connect(index, &QHelpIndexWidget::documentActivated, browser,
            [this](const QHelpLink &link, const QString &) { browser->setSource(link.url); });
    connect(index, &QHelpIndexWidget::documentsActivated, browser,
            [this](const QList<QHelpLink> &links, const QString &) {
                if (!links.isEmpty())
                    browser->setSource(links.constFirst().url);
            });
    connect(search->queryWidget(), &QHelpSearchQueryWidget::search, search,
            [search] { search->search(search->queryWidget()->searchInput()); });
    connect(search->resultWidget(), &QHelpSearchResultWidget::requestShowLink, browser,
            [this](const QUrl &url) { browser->setSource(url); });
    // The contents open one level deep, as a table of contents does.
    connect(m_engine->contentModel(), &QHelpContentModel::contentsCreated, contents,
            [contents] { contents->expandToDepth(1); });
    // The full-text index is made once per copy, in the background.
    search->scheduleIndexDocumentation();
    return true;
}

QUrl TformHelp::pageUrl(const QString &page) const
{
    const QList<QUrl> pages = Pages();
    for (const QUrl &url : pages)
        if (url.fileName() == page)
            return url;
    return {};
}

bool TformHelp::ShowPage(const QString &page, Tab tab)
{
    if (!m_engine)
        return false;
    QUrl url = pageUrl(page);
    if (!url.isValid())
        url = pageUrl(QStringLiteral("index.html"));
    if (!url.isValid())
        return false;
    browser->setSource(url);
    tabs->setCurrentIndex(int(tab));
    show();
    raise();
    activateWindow();
    return true;
}

QString TformHelp::CurrentPage() const { return browser ? browser->source().fileName() : QString(); }

QList<QUrl> TformHelp::Pages() const
{
    if (!m_engine)
        return {};
    QList<QUrl> pages;
    for (const QUrl &url : m_engine->files(m_namespace, QString(), QStringLiteral("html")))
        pages.append(url);
    return pages;
}

} // namespace vt::app
