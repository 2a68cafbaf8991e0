// The About window: what is running, under which licence, on which system.
#pragma once

#include <QDialog>

class QLabel;

namespace vt::app
{

class TformAbout : public QDialog
{
    Q_OBJECT
public:
    explicit TformAbout(QWidget *parent = nullptr);

    // The lines the window shows, also for tests: name and version, commit,
    // licence, Qt and SQLite versions, the system root in use.
    static QStringList InfoLines();

private:
    QLabel *labelInfo = nullptr;
};

} // namespace vt::app
