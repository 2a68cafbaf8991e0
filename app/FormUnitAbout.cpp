#include "app/FormUnitAbout.h"

#include "platform/vtPlatform.h"
#include "vtVersion.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include <sqlite3.h>

namespace vt::app
{

QStringList TformAbout::InfoLines()
{
    return {
        tr("Vantrel %1").arg(QStringLiteral(VT_VERSION)),
        tr("An editor and analyser for the Windows registry."),
        tr("Commit: %1").arg(QStringLiteral(VT_COMMIT)),
        tr("Licence: GPL-3.0-or-later (GNU General Public License, version 3 or later)"),
        tr("Qt %1, SQLite %2").arg(QString::fromLatin1(qVersion()), QString::fromLatin1(sqlite3_libversion())),
        tr("System root: %1").arg(QString::fromStdString(vt::platform::systemRoot())),
    };
}

TformAbout::TformAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formAbout"));
    setWindowTitle(tr("About Vantrel"));
    auto *layout = new QVBoxLayout(this);
    labelInfo = new QLabel(this);
    labelInfo->setObjectName(QStringLiteral("labelInfo"));
    labelInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    labelInfo->setText(InfoLines().join(QLatin1Char('\n')));
    layout->addWidget(labelInfo);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setObjectName(QStringLiteral("bnOK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace vt::app
