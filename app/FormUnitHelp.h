// The manual's window: contents, index and full-text search of the compiled
// manual (a Qt help collection) beside the page shown.
#pragma once

#include <QWidget>

#include <memory>

class QHelpEngine;
class QTabWidget;
class QTextBrowser;

namespace vt::app
{

class TformHelp : public QWidget
{
    Q_OBJECT
public:
    explicit TformHelp(QWidget *parent = nullptr);
    ~TformHelp() override;

    enum class Tab { Contents = 0, Index = 1, Search = 2 };

    // Opens the collection (a copy in the user's cache, since the search
    // index is written beside it and the installed one is read-only).
    // False with the reason in `error` when it cannot be read.
    bool OpenCollection(const QString &collectionFile, QString *error);
    // Shows a page by its file name ("formSearch.html"); the start page when
    // the manual has no such page. False when nothing could be shown.
    bool ShowPage(const QString &page, Tab tab = Tab::Contents);

    QString CurrentPage() const;
    // Every page of the manual, as qthelp:// addresses.
    QList<QUrl> Pages() const;
    QHelpEngine *engine() const { return m_engine.get(); }

private:
    QUrl pageUrl(const QString &page) const;

    std::unique_ptr<QHelpEngine> m_engine;
    QString m_namespace;
    QTabWidget *tabs = nullptr;
    QTextBrowser *browser = nullptr;
};

} // namespace vt::app
