#include "regfile/gui/FormUnitImportProgress.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

namespace
{
// Pages flying from one folder to the other.
const char *const Frames[] = {"[#]>      [ ]", "[#] >     [ ]", "[#]  >    [ ]", "[#]   >   [ ]",
                              "[#]    >  [ ]", "[#]     > [ ]", "[#]      >[#]"};
constexpr int FrameCount = int(sizeof Frames / sizeof Frames[0]);
} // namespace

TformImportProgress::TformImportProgress(QWidget *parent) : QDialog(parent)
{
    setObjectName("formImportProgress");
    setWindowTitle(tr("Importing registry file..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);

    aniCopy = new QLabel(this);
    aniCopy->setObjectName("aniCopy");
    QFont mono("Monospace");
    mono.setStyleHint(QFont::TypeWriter);
    aniCopy->setFont(mono);
    aniCopy->setAlignment(Qt::AlignCenter);
    aniCopy->setText(Frames[0]);

    lblKey = new QLabel(this);
    lblKey->setObjectName("lblKey");
    lblKey->setMinimumWidth(420);
    lblKey->setTextFormat(Qt::PlainText);

    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName("pbProgress");
    pbProgress->setRange(0, 100);
    pbProgress->setValue(0);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(aniCopy);
    layout->addWidget(lblKey);
    layout->addWidget(pbProgress);

    m_timer = new QTimer(this);
    m_timer->setInterval(120);
    connect(m_timer, &QTimer::timeout, this, &TformImportProgress::nextFrame);
}

bool TformImportProgress::isAnimating() const
{
    return m_timer->isActive();
}

void TformImportProgress::showOver(QWidget *owner)
{
    pbProgress->setValue(0);
    lblKey->clear();
    // Modal to the application so that nothing else starts while the import
    // processes window messages between its steps.
    setWindowModality(Qt::ApplicationModal);
    adjustSize();
    if (owner) {
        const QRect r = owner->frameGeometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
}

void TformImportProgress::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_frame = 0;
    m_timer->start();
}

void TformImportProgress::hideEvent(QHideEvent *event)
{
    m_timer->stop();
    QDialog::hideEvent(event);
}

void TformImportProgress::reject()
{
    // Escape must not hide the window while the import still runs.
}

void TformImportProgress::nextFrame()
{
    m_frame = (m_frame + 1) % FrameCount;
    aniCopy->setText(Frames[m_frame]);
}
