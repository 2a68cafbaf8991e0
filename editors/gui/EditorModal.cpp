#include "EditorModal.h"

#include <QApplication>
#include <QBoxLayout>
#include <QPushButton>

#include <deque>

namespace vt::editors
{

namespace
{
std::deque<TEditorDriver> &drivers()
{
    static std::deque<TEditorDriver> queue;
    return queue;
}
} // namespace

int RunEditorModal(QDialog &dialog)
{
    if (drivers().empty())
        return dialog.exec() == QDialog::Accepted ? mrOK : mrCancel;
    TEditorDriver driver = std::move(drivers().front());
    drivers().pop_front();
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    dialog.activateWindow();
    QApplication::processEvents();
    driver(dialog);
    if (dialog.isVisible())
        dialog.reject();
    return dialog.result() == QDialog::Accepted ? mrOK : mrCancel;
}

void setNextEditorDriver(TEditorDriver driver) { drivers().push_back(std::move(driver)); }
void clearEditorDrivers() { drivers().clear(); }
int pendingEditorDrivers() { return int(drivers().size()); }

QPushButton *AddEditorButtons(QDialog *dialog, QBoxLayout *layout)
{
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    auto *ok = new QPushButton(QDialog::tr("OK"), dialog);
    ok->setObjectName(QStringLiteral("bnOK"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QDialog::tr("Cancel"), dialog);
    cancel->setObjectName(QStringLiteral("bnCancel"));
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row);
    return ok;
}

} // namespace vt::editors
