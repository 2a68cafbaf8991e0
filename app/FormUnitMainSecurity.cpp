// The "Security information" tab: filling its tree for the selected key, the
// report on the clipboard or in a file, and granting all rights.
#include "app/FormUnitMain.h"

#include "FormUnitMainShared.h"

#include "app/vtImageList.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "regfile/gui/RegFileActions.h"
#include "security/gui/FormUnitSecurityTree.h"
#include "security/zoSecurity.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QSaveFile>
#include <QTabWidget>
#include <QTreeWidget>

namespace vt::app
{

using namespace mainform;

void TformMain::connectSecurity()
{
    connectHandler(aSecurityInformationExportToClipboard, &TformMain::aSecurityInformationExportToClipboardExecute);
    connectHandler(aSecurityInformationExportToFile, &TformMain::aSecurityInformationExportToFileExecute);
    connectHandler(aSecurityInformationGrantAll, &TformMain::aSecurityInformationGrantAllExecute);
    vt::security_info::SetSecurityTreeImages([](int index) { return QIcon(ImageListIcon(index)); });
    // The enabling follows the selected node and the shown tab.
    connect(pmKeys, &QMenu::aboutToShow, this, &TformMain::updateSecurityActionStates);
    connect(pmSecurity, &QMenu::aboutToShow, this, &TformMain::updateSecurityActionStates);
    connect(pcMain, &QTabWidget::currentChanged, this, &TformMain::updateSecurityActionStates);
    connect(tvKeys, &QTreeWidget::currentItemChanged, this, &TformMain::updateSecurityActionStates);
    // Other trees empty the security tree; their keys have no hint either.
    connect(tvKeys, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *current) {
        if (GetTreeKind(current) != 1)
            tvInfo->setToolTip(QString());
    });
}

bool TformMain::securityTabVisible() const
{
    return pcMain->isTabVisible(pcMain->indexOf(tsInfo));
}

void TformMain::updateSecurityActionStates()
{
    // A root key or below of the local tree; "My Computer" itself is no key.
    QTreeWidgetItem *node = tvKeys->currentItem();
    const bool localKey = m_Shown && securityTabVisible() && node && node->parent() && GetTreeKind(node) == 1;
    const bool tabShown = pcMain->currentWidget() == tsInfo;
    aSecurityInformationExportToFile->setEnabled(localKey && tabShown);
    aSecurityInformationExportToClipboard->setEnabled(localKey && tabShown);
    aSecurityInformationGrantAll->setEnabled(localKey);
}

void TformMain::fillSecurityTab(HKEY root, const std::string &keyPath, int viewMode)
{
    if (securityTabVisible())
        vt::security_info::FillSecurityTree(root, keyPath, tvInfo, viewMode);
}

QString TformMain::securityReportText() const
{
    HKEY root = nullptr;
    std::string keyPath;
    int viewMode = 0;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    return QString::fromStdString(
        vt::security_info::ReportText(vt::security_info::SecurityReport(root, keyPath, viewMode)));
}

void TformMain::aSecurityInformationExportToClipboardExecute()
{
    if (!tvKeys->currentItem())
        return;
    QGuiApplication::clipboard()->setText(securityReportText());
}

void TformMain::aSecurityInformationExportToFileExecute()
{
    if (!tvKeys->currentItem())
        return;
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("sdSecurityReport"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setNameFilters({tr("Text files (*.txt)")});
    const std::optional<vt::regfile::TFileChoice> choice = vt::regfile::RunFileDialog(dialog);
    if (!choice)
        return;
    // The old file stays whole until the new text is complete.
    QSaveFile file(choice->fileName);
    const QByteArray text = securityReportText().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        vt::i18n::ShowMessageDialog(
            tr("The file %1 could not be written: %2").arg(choice->fileName, file.errorString()),
            vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
}

void TformMain::aSecurityInformationGrantAllExecute()
{
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (!node || !node->parent() || GetTreeKind(node) != 1)
        return;
    HKEY root = nullptr;
    std::string keyPath;
    int viewMode = 0;
    QString treePath;
    GetSelectedKey(root, keyPath, viewMode, treePath);
    const std::string failure = vt::security_info::GrantAllToEveryone(root, keyPath, viewMode);
    if (!failure.empty()) {
        vt::i18n::ShowMessageDialog(QString::fromStdString(failure), vt::i18n::TMsgDlgType::Information,
                                    vt::i18n::mbOK);
        return;
    }
    // The tab would otherwise list an access list the key no longer has.
    fillSecurityTab(root, keyPath, viewMode);
}

} // namespace vt::app
