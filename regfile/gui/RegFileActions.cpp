#include "regfile/gui/RegFileActions.h"

#include "core/kltRegistry.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "i18n/zoMessages.h"
#include "regfile/RegFileReader.h"
#include "regfile/RegFileWriter.h"
#include "regfile/gui/FormUnitImportProgress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>

namespace vt::regfile
{

namespace
{

TFileDialogSeam &seam()
{
    static TFileDialogSeam s;
    return s;
}

QStringList regFilters()
{
    return {QObject::tr("Registry files (v5) (*.reg)"), QObject::tr("Win 9x/NT4 registry files (v4) (*.reg)")};
}

std::optional<TFileChoice> runDialog(QFileDialog &dialog)
{
    if (seam())
        return seam()(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    TFileChoice choice;
    choice.fileName = dialog.selectedFiles().first();
    choice.filterIndex = int(dialog.nameFilters().indexOf(dialog.selectedNameFilter())) + 1;
    if (choice.filterIndex < 1)
        choice.filterIndex = 1;
    return choice;
}

} // namespace

void setFileDialogSeam(TFileDialogSeam s)
{
    seam() = std::move(s);
}

std::optional<TFileChoice> RunFileDialog(QFileDialog &dialog)
{
    return runDialog(dialog);
}

bool ImportFileWithProgress(QWidget *owner, TformImportProgress &progress, const std::string &fileName)
{
    struct CloseGuard {
        TformImportProgress &form;
        ~CloseGuard() { form.hide(); }
    } guard{progress};
    progress.showOver(owner);
    QApplication::processEvents();

    TMyRegistryReader reader;
    reader.WriteToRegistry = true;
    int lastPercent = -1;
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    reader.OnProgress = [&](size_t index, size_t last) {
        const int percent = last == 0 ? 0 : int((index * 100 + last / 2) / last);
        if (percent == lastPercent)
            return;
        lastPercent = percent;
        progress.pbProgress->setValue(percent);
        progress.pbProgress->repaint();
        QApplication::processEvents();
        sinceEvents.restart();
    };
    reader.OnKey = [&](HKEY root, const std::string &path, bool) {
        // Thousands of keys a second: show the key and let the window breathe
        // a few dozen times a second rather than for every one of them.
        if (sinceEvents.elapsed() < 40)
            return;
        progress.lblKey->setText(QString::fromStdString(RootKeyToName(root) + path));
        QApplication::processEvents();
        sinceEvents.restart();
    };
    return reader.LoadFromFile(fileName);
}

} // namespace vt::regfile

bool aKeyExportExecute(QWidget *parent, HKEY root, const std::string &keyPath, bool use64)
{
    QFileDialog dialog(parent);
    dialog.setObjectName("sdExportReg");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix("reg");
    dialog.setNameFilters(vt::regfile::regFilters());
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    std::optional<vt::regfile::TFileChoice> choice = vt::regfile::runDialog(dialog);
    if (!choice)
        return false;
    const std::string path = keyPath.empty() ? std::string("\\") : keyPath;
    ExportKeyToFile(root, path, choice->fileName.toStdString(), true, use64, choice->filterIndex != 2);
    return true;
}

bool aKeyImportExecute(QWidget *parent, TformImportProgress &progress)
{
    QFileDialog dialog(parent);
    dialog.setObjectName("odImportReg");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(vt::regfile::regFilters());
    std::optional<vt::regfile::TFileChoice> choice = vt::regfile::runDialog(dialog);
    if (!choice)
        return false;
    vt::regfile::ImportFileWithProgress(parent, progress, choice->fileName.toStdString());
    return true;
}

bool ImportFileAtStartup(const std::string &fileName, bool silent)
{
    using namespace vt::i18n;
    if (!silent && ShowMessageDialog(MessageText("DialogConfirmImport"), TMsgDlgType::Confirmation, mbYesNo) != mrYes)
        return false;
    TMyRegistryReader reader;
    reader.WriteToRegistry = true;
    return reader.LoadFromFile(fileName);
}
