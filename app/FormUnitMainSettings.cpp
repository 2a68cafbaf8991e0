// The main window's settings: what it restores when shown and saves when it
// closes, the start-up mode from the shared ini file, and the command line.

#include "FormUnitMainShared.h"

#include "app/UnitRegMonitorThread.h"
#include "app/kltConfig.h"
#include "editors/gui/vzoHexView.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "platform/vtPlatform.h"
#include "regfile/gui/RegFileActions.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QScrollBar>

#include <cstdio>

namespace vt::app
{

using namespace mainform;

namespace
{

// Taller than any screen is a damaged value, as is a negative one.
constexpr int kHexDumpSizeDefault = 40;
constexpr int kHexDumpSizeLimit = 4000;
constexpr int kHexDumpReadableRows = 6;

} // namespace

void TformMain::createSettings()
{
    // The environment's own marker is only the default of the shared ini
    // file's setting; the command line can still turn the mode on.
    static const bool detected = KeyExistsAt(HKEY_LOCAL_MACHINE, "\\system\\currentcontrolset\\control\\minint");
    m_BartPE = ReadBartPESetting(detected) || ProgramCommandLine().allHives;
}

void TformMain::settingsFormShow()
{
    if (m_PlacementsRestored)
        return;
    m_PlacementsRestored = true;
    ConfigManager().RestoreAllForms();
}

void TformMain::setVisible(bool visible)
{
    // Placements go on before the window exists: the stored frame place is
    // then the window manager's to honour. Once the window exists, a frame
    // the manager has not yet reported would make the place the client
    // area's, and the window would creep by its title bar at every start.
    if (visible)
        settingsFormShow();
    QMainWindow::setVisible(visible);
}

void TformMain::RestoreSettings()
{
    const TKLTConfigManager &config = ConfigManager();
    SearchSettings.Read(config);
    if (ApplySearchSettings)
        ApplySearchSettings(SearchSettings);
    int size = 0;
    HexDumpSize =
        config.ReadInteger("HexDumpSize", size) && size >= 0 && size <= kHexDumpSizeLimit ? size : kHexDumpSizeDefault;
    // The hex view opens tall enough to read a few rows, whatever an earlier
    // run stored (40 pixels showed the column titles and half a row).
    const int rows = kHexDumpReadableRows * (lvHexDump->fontMetrics().lineSpacing() + 2);
    const int readable = lvHexDump->Header()->sizeHint().height() + rows + 2 * lvHexDump->frameWidth() +
                         lvHexDump->horizontalScrollBar()->sizeHint().height();
    HexDumpSize = std::max(HexDumpSize, readable);
    std::string text;
    RemoteListHistory = config.ReadString("RemoteListHistory", text) ? text : std::string();
    LastKey = config.ReadString("LastKey", text) ? text : std::string();
}

void TformMain::SaveSettings()
{
    const TKLTConfigManager &config = ConfigManager();
    HKEY root = HKEY_LOCAL_MACHINE;
    std::string keyPath;
    QTreeWidgetItem *node = tvKeys->currentItem();
    if (node && node != m_MyComputer) {
        int viewMode;
        QString treePath;
        GetSelectedKey(root, keyPath, viewMode, treePath);
    }
    config.WriteString("LastKey", RootKeyToName(root) + keyPath);
    if (CollectSearchSettings)
        CollectSearchSettings(SearchSettings);
    SearchSettings.Write(config);
    if (lvHexDump->isVisible())
        HexDumpSize = lvHexDump->height();
    config.WriteInteger("HexDumpSize", HexDumpSize);
    config.WriteString("RemoteListHistory", RemoteListHistory);
}

void TformMain::closeEvent(QCloseEvent *event)
{
    StopMonitor();
    try {
        ConfigManager().SaveAllForms();
        SaveSettings();
    } catch (const std::exception &e) {
        vt::i18n::ShowMessageDialog(QString::fromUtf8(e.what()), vt::i18n::TMsgDlgType::Error, vt::i18n::mbOK);
    }
    QMainWindow::closeEvent(event);
}

bool TformMain::ProcessCommandLine(const TCommandLine &commandLine)
{
    const QString &joined = commandLine.joined;
    // A Windows path (C:\...) names a file of the replacement system.
    const std::string file = vt::platform::toNativePath(joined.toStdString());
    const QFileInfo info(QString::fromStdString(file));
    // What exists on disk, or ends like a registry file, is a file to import;
    // the rest names a key. A missing file is said so, not taken for a key.
    const bool namesFile =
        !joined.isEmpty() && (info.exists() || joined.trimmed().endsWith(QStringLiteral(".reg"), Qt::CaseInsensitive));
    if (namesFile) {
        vt::regfile::TImportResult result;
        if (!info.exists()) {
            result.FileName = joined;
            result.Error = toStd(tr("The file %1 cannot be imported: %2")
                                     .arg(joined, windowsErrorText(ERROR_FILE_NOT_FOUND)));
        } else {
            try {
                ImportFileAtStartup(file, commandLine.silent, &result);
            } catch (const std::exception &e) {
                // The result holds the error and how far the import went.
                if (result.Error.empty())
                    result.Error = e.what();
            }
        }
        // An empty file name: the question was answered No; nothing to tell.
        if (!result.FileName.isEmpty()) {
            if (commandLine.silent && !commandLine.gui) {
                // Asked for no questions: the result goes where a script sees it.
                const QString text = vt::regfile::ImportResultText(result);
                const bool failed = !result.Applied || !result.Error.empty() || result.KeysFailed > 0;
                if (failed || result.IgnoredLines > 0)
                    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
            } else {
                ShowImportResult(result, commandLine.gui);
            }
        }
        if (!commandLine.gui)
            return false;
        if (result.Applied)
            ShowImportedKeys(result);
    } else if (!joined.isEmpty()) {
        GoToKey(joined);
    } else if (!LastKey.empty() && !commandLine.noLastJump) {
        GoToKey(fromStd(LastKey));
    }
    return true;
}

void TformMain::commandLineFormShow()
{
    const TCommandLine &commandLine = ProgramCommandLine();
    if (!ProcessCommandLine(commandLine)) {
        // Ends once showing is over and the event loop runs.
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        return;
    }
    PendingSearch = commandLine.search;
    if (PendingSearch && StartSearch)
        StartSearch(*PendingSearch);
}

} // namespace vt::app
