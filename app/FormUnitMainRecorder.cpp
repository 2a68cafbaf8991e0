// The change recorder of the main window: undo and redo blocks in the two
// change-log panes, records in the history store, and the panes' Save and
// Apply actions.

#include "FormUnitMain.h"

#include "history/gui/ChangeLogPane.h"
#include "history/gui/FormUnitHistory.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "knowledge/PathPlaceholders.h"
#include "regfile/RegFileReader.h"
#include "regfile/RegFileText.h"
#include "regfile/RegFileWriter.h"
#include "regfile/gui/RegFileActions.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QStyle>
#include <QTimer>
#include <Qsci/qsciscintilla.h>

namespace vt::app
{

using vt::history::AppendChangeLogLines;
using vt::history::ChangeLogIsEmpty;

namespace
{

// The writer's text split at CR LF; its closing CR LF ends the last line
// rather than starting another.
std::vector<std::string> splitBlock(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t pos = text.find("\r\n", start);
        if (pos == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, pos - start));
        start = pos + 2;
    }
    return lines;
}

std::vector<std::string> keyExport(HKEY root, const std::string &keyPath)
{
    TRegMemoryOutput out;
    WriteKeyTree(root, keyPath, out, true, false);
    return splitBlock(out.bytes);
}

std::vector<std::string> valueExport(HKEY root, const std::string &keyPath, const std::string &name)
{
    TRegMemoryOutput out;
    WriteKeyValues(root, keyPath, name, false, false, out);
    return splitBlock(out.bytes);
}

std::string valueDeletionLine(const std::string &name)
{
    return "\"" + name + "\"=-";
}

void startLog(QsciScintilla *pane)
{
    if (ChangeLogIsEmpty(pane))
        AppendChangeLogLines(pane, {RegFileHeader4});
}

// The undo pane holds the newest change's block first, right below the
// header, so that applying it from top to bottom reverts the newest change
// first; each block begins with its empty line.
void addUndoBlock(QsciScintilla *pane, const std::vector<std::string> &lines)
{
    vt::history::InsertChangeLogLines(pane, 1, lines);
}

} // namespace

// ---------------------------------------------------------------------------
// Store

void TformMain::createHistoryStore()
{
    const std::string path = vt::knowledge::ExpandPlaceholders(vt::history::HistoryDatabaseLocation);
    try {
        if (path.find("<$") != std::string::npos)
            throw vt::history::ESQLiteException("Failed to open database \"" + path +
                                                "\" : the application-data folder is not known");
        m_History = std::make_unique<vt::history::TRegistryChangeHistory>(path);
    } catch (const std::exception &e) {
        // The program goes on without a history; the logs still work.
        m_HistoryError = QString::fromUtf8(e.what());
    }

    for (QAction *save : {aChangeLogRedoSave, aChangeLogUndoSave})
        save->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    for (QAction *apply : {aChangeLogRedoApply, aChangeLogUndoApply})
        apply->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    connect(aChangeLogRedoSave, &QAction::triggered, this, [this] { aChangeLogSave(editRedoLog); });
    connect(aChangeLogUndoSave, &QAction::triggered, this, [this] { aChangeLogSave(editUndoLog); });
    connect(aChangeLogRedoApply, &QAction::triggered, this, [this] { aChangeLogApply(editRedoLog); });
    connect(aChangeLogUndoApply, &QAction::triggered, this, [this] { aChangeLogApply(editUndoLog); });
    m_Built.unite({aChangeLogRedoSave, aChangeLogUndoSave, aChangeLogRedoApply, aChangeLogUndoApply});
}

void TformMain::historyFormShow()
{
    if (auto *form = qobject_cast<vt::history::TformHistory *>(formHistory.data()))
        form->SetHistory(m_History.get(), m_HistoryError);
    if (m_HistoryError.isEmpty())
        return;
    // Told once, without holding up the start.
    const QString text = tr("The change history cannot be used:\r\n%1\r\n\r\nChanges are still written to the "
                            "change logs, but they are not kept in the history.")
                             .arg(m_HistoryError);
    QTimer::singleShot(0, this, [text] {
        auto *dialog = vt::i18n::BuildMessageDialog(text, vt::i18n::TMsgDlgType::Warning, vt::i18n::mbOK);
        dialog->setObjectName(QStringLiteral("dlgHistoryUnavailable"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setModal(false);
        dialog->show();
    });
}

// ---------------------------------------------------------------------------
// Recorder

void TformMain::LogKeyDelete(HKEY root, const std::string &keyPath)
{
    startLog(editRedoLog);
    startLog(editUndoLog);
    addUndoBlock(editUndoLog, keyExport(root, keyPath));
    AppendChangeLogLines(editRedoLog, {std::string(), RegKeyLine(root, keyPath, true)});
    if (m_History)
        m_History->RecordKeyDelete(root, keyPath);
}

void TformMain::LogValueDelete(HKEY root, const std::string &keyPath, const std::string &valueName)
{
    startLog(editRedoLog);
    startLog(editUndoLog);
    addUndoBlock(editUndoLog, valueExport(root, keyPath, valueName));
    AppendChangeLogLines(editRedoLog, {std::string(), RegKeyLine(root, keyPath), valueDeletionLine(valueName)});
    if (m_History)
        m_History->RecordValueDelete(root, keyPath, valueName);
}

void TformMain::LogValueChange(HKEY root, const std::string &keyPath, const std::string &previousDataText,
                               const std::string &valueName)
{
    startLog(editRedoLog);
    startLog(editUndoLog);
    AppendChangeLogLines(editRedoLog, valueExport(root, keyPath, valueName));
    std::string restore = valueName.empty() ? std::string("@") : "\"" + valueName + "\"";
    restore += previousDataText.empty() ? std::string("=-") : "=" + previousDataText;
    addUndoBlock(editUndoLog, {std::string(), RegKeyLine(root, keyPath), restore});
}

void TformMain::LogKeyAdd(HKEY root, const std::string &keyPath)
{
    startLog(editRedoLog);
    startLog(editUndoLog);
    AppendChangeLogLines(editRedoLog, {std::string(), RegKeyLine(root, keyPath)});
    addUndoBlock(editUndoLog, {std::string(), RegKeyLine(root, keyPath, true)});
    if (m_History)
        m_History->RecordKeyNew(root, keyPath);
}

void TformMain::LogKeyRename(HKEY root, const std::string &oldKeyPath, TRenamePhase phase,
                             const std::string &newKeyPath)
{
    startLog(editRedoLog);
    startLog(editUndoLog);
    const bool before = phase == TRenamePhase::Before;
    std::vector<std::string> lines = keyExport(root, before ? oldKeyPath : newKeyPath);
    lines.emplace_back();
    lines.push_back(RegKeyLine(root, before ? newKeyPath : oldKeyPath, true));
    if (before)
        addUndoBlock(editUndoLog, lines);
    else
        AppendChangeLogLines(editRedoLog, lines);
}

void TformMain::LogValueRename(QsciScintilla *targetPane, HKEY root, const std::string &nameToDelete,
                               const std::string &nameToExport, const std::string &keyPath)
{
    startLog(targetPane);
    std::vector<std::string> lines = valueExport(root, keyPath, nameToExport);
    lines.push_back(valueDeletionLine(nameToDelete));
    if (targetPane == editUndoLog)
        addUndoBlock(targetPane, lines);
    else
        AppendChangeLogLines(targetPane, lines);
}

// ---------------------------------------------------------------------------
// Pane actions

void TformMain::aChangeLogSave(QsciScintilla *pane)
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("sdSaveLog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("reg"));
    dialog.setNameFilters({tr("Registry files (v5) (*.reg)"), tr("Win 9x/NT4 registry files (v4) (*.reg)")});
    const auto choice = vt::regfile::RunFileDialog(dialog);
    if (!choice)
        return;
    QByteArray bytes;
    for (const std::string &line : vt::history::ChangeLogLines(pane)) {
        bytes.append(line.data(), qsizetype(line.size()));
        bytes.append("\r\n");
    }
    QFile file(choice->fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush()) {
        vt::i18n::ShowMessageDialog(tr("The file %1 cannot be written: %2").arg(choice->fileName, file.errorString()),
                                    vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
    }
}

void TformMain::aChangeLogApply(QsciScintilla *pane)
{
    try {
        TMyRegistryReader reader;
        reader.WriteToRegistry = true;
        reader.ParseLines(vt::history::ChangeLogLines(pane));
    } catch (const std::exception &e) {
        vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
    }
}

} // namespace vt::app
