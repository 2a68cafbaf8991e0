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
#include <QSet>

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

namespace
{

// Collects what the reader did into the result, as it goes and at its end.
class TResultCollector
{
public:
    TResultCollector(TMyRegistryReader &reader, TImportResult *result, const std::string &fileName)
        : m_reader(reader), m_result(result)
    {
        if (m_result) {
            *m_result = TImportResult();
            m_result->FileName = QString::fromStdString(fileName);
        }
    }
    void key(HKEY root, const std::string &path, bool deleted)
    {
        if (!m_result || !m_result->TouchedAll)
            return;
        const QString id = QString::number(quintptr(root)) + QLatin1Char('|') +
                           QString::fromStdString(path).toCaseFolded() + (deleted ? QStringLiteral("|-") : QString());
        if (m_seen.contains(id))
            return;
        if (m_result->Touched.size() >= TImportResult::MaxTouchedKeys) {
            m_result->TouchedAll = false;
            return;
        }
        m_seen.insert(id);
        m_result->Touched.push_back({root, path, deleted});
    }
    void finish(bool applied, const std::string &error)
    {
        if (!m_result)
            return;
        m_result->Applied = applied;
        m_result->Error = error;
        m_result->Keys = m_reader.KeysApplied();
        m_result->Values = m_reader.ValuesApplied();
        m_result->IgnoredLines = m_reader.IgnoredLines();
        m_result->FirstIgnoredLines = m_reader.FirstIgnoredLines();
        m_result->KeysFailed = m_reader.KeysFailed();
    }
    // Loads the file; an exception ends it after the result was filled.
    bool load(const std::string &fileName)
    {
        bool applied = false;
        try {
            applied = m_reader.LoadFromFile(fileName);
        } catch (const std::exception &e) {
            finish(true, e.what());
            throw;
        }
        finish(applied, applied ? std::string() : m_reader.LastError());
        return applied;
    }

private:
    TMyRegistryReader &m_reader;
    TImportResult *m_result;
    QSet<QString> m_seen;
};

QString counted(size_t n, const char *one, const char *many)
{
    return QObject::tr("%1 %2").arg(n).arg(QString::fromLatin1(n == 1 ? one : many));
}

} // namespace

QString ImportResultText(const TImportResult &result)
{
    if (!result.Applied)
        return QObject::tr("Nothing was imported: %1").arg(QString::fromStdString(result.Error));
    QString text = QObject::tr("Imported %1 and %2 from %3.")
                       .arg(counted(result.Keys, "key", "keys"), counted(result.Values, "value", "values"),
                            result.FileName);
    if (!result.Error.empty())
        text = QObject::tr("The import stopped after %1 and %2: %3")
                   .arg(counted(result.Keys, "key", "keys"), counted(result.Values, "value", "values"),
                        QString::fromStdString(result.Error));
    if (result.IgnoredLines > 0) {
        QStringList numbers;
        for (size_t line : result.FirstIgnoredLines)
            numbers << QString::number(line);
        text += QLatin1Char(' ') +
                QObject::tr("%1 ignored (%2 %3).")
                    .arg(counted(result.IgnoredLines, "line was", "lines were"),
                         result.IgnoredLines > result.FirstIgnoredLines.size()
                             ? QObject::tr("the first: line")
                             : (numbers.size() == 1 ? QObject::tr("line") : QObject::tr("lines")),
                         numbers.join(QStringLiteral(", ")));
    }
    if (result.KeysFailed > 0)
        text += QLatin1Char(' ') + QObject::tr("%1 could not be created or opened.")
                                       .arg(counted(result.KeysFailed, "key", "keys"));
    return text;
}

bool ImportFileWithProgress(QWidget *owner, TformImportProgress &progress, const std::string &fileName,
                            TImportResult *result)
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
    TResultCollector collector(reader, result, fileName);
    reader.OnKey = [&](HKEY root, const std::string &path, bool deleted) {
        collector.key(root, path, deleted);
        // Thousands of keys a second: show the key and let the window breathe
        // a few dozen times a second rather than for every one of them.
        if (sinceEvents.elapsed() < 40)
            return;
        progress.lblKey->setText(QString::fromStdString(RootKeyToName(root) + path));
        QApplication::processEvents();
        sinceEvents.restart();
    };
    return collector.load(fileName);
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

bool aKeyImportExecute(QWidget *parent, TformImportProgress &progress, vt::regfile::TImportResult *result)
{
    QFileDialog dialog(parent);
    dialog.setObjectName("odImportReg");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(vt::regfile::regFilters());
    std::optional<vt::regfile::TFileChoice> choice = vt::regfile::runDialog(dialog);
    if (!choice)
        return false;
    vt::regfile::ImportFileWithProgress(parent, progress, choice->fileName.toStdString(), result);
    return true;
}

bool ImportFileAtStartup(const std::string &fileName, bool silent, vt::regfile::TImportResult *result)
{
    using namespace vt::i18n;
    // The question names the file: the user may not have seen the command.
    if (!silent && ShowMessageDialog(MessageText("DialogConfirmImport") + QStringLiteral("\r\n\r\n") +
                                         QString::fromStdString(fileName),
                                     TMsgDlgType::Confirmation, mbYesNo) != mrYes)
        return false;
    TMyRegistryReader reader;
    reader.WriteToRegistry = true;
    vt::regfile::TResultCollector collector(reader, result, fileName);
    reader.OnKey = [&](HKEY root, const std::string &path, bool deleted) { collector.key(root, path, deleted); };
    return collector.load(fileName);
}
