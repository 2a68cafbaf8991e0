// vantrel: the registry editor's window program.

#include "app/FormUnitMain.h"
#include "app/vtStartup.h"
#include "knowledge/PathPlaceholders.h"
#include "platform/vtPlatform.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral(VT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vantrel, an editor and analyser for the Windows registry"));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption systemOption(QStringLiteral("system"),
                                    QStringLiteral("System root folder (default: VANTREL_SYSTEM, else the "
                                                   "per-user default system)."),
                                    QStringLiteral("DIR"));
    parser.addOption(systemOption);
    // Everything else belongs to the program's own command line.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    vt::platform::SystemOptions options;
    options.root = parser.value(systemOption).toStdString(); // empty: VANTREL_SYSTEM or the default
    if (const LONG rc = vt::platform::openSystem(options); rc != ERROR_SUCCESS) {
        std::fprintf(stderr, "vantrel: cannot open the system at '%s' (error %ld)\n",
                     (options.root.empty() ? vt::platform::defaultSystemRoot() : options.root).c_str(),
                     static_cast<long>(rc));
        return 1;
    }

    // Placeholders are read by the windows as they are created.
    vt::knowledge::BuildPlaceholders();

    int result = 0;
    {
        vt::app::TApplicationForms forms;
        forms.formMain()->show();
        result = QApplication::exec();
    }
    vt::platform::closeSystem();
    return result;
}
