// vantrel: the registry editor's window program.

#include "app/FormUnitMain.h"
#include "app/vtStartup.h"
#include "knowledge/PathPlaceholders.h"
#include "platform/vtPlatform.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <string>

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
    QCommandLineOption asSystemOption(QStringLiteral("as-system"),
                                      QStringLiteral("Run as the local system account, which may read every key."));
    QCommandLineOption asUserOption(QStringLiteral("as-user"),
                                    QStringLiteral("Run as a standard user, who is not a member of Administrators."));
    parser.addOption(asSystemOption);
    parser.addOption(asUserOption);
    // Everything else belongs to the program's own command line.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    auto messageOf = [](LONG rc) {
        char text[512];
        const DWORD n =
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           nullptr, static_cast<DWORD>(rc), 0, text, sizeof text, nullptr);
        return n ? std::string(text, n) : "error " + std::to_string(rc);
    };
    vt::platform::SystemOptions options;
    options.root = parser.value(systemOption).toStdString(); // empty: VANTREL_SYSTEM or the default
    if (parser.isSet(asSystemOption) && parser.isSet(asUserOption)) {
        std::fprintf(stderr, "vantrel: use only one of --as-system and --as-user\n");
        return 1;
    }
    if (parser.isSet(asSystemOption))
        options.identity = vt::platform::Identity::LocalSystem;
    else if (parser.isSet(asUserOption))
        options.identity = vt::platform::Identity::StandardUser;
    vt::platform::SystemReport report;
    const LONG rc = vt::platform::openSystem(options, &report);
    for (const std::string &problem : report.problems)
        std::fprintf(stderr, "vantrel: %s\n", problem.c_str());
    if (rc != ERROR_SUCCESS) {
        std::fprintf(stderr, "vantrel: cannot open the system at '%s': %s\n",
                     (options.root.empty() ? vt::platform::defaultSystemRoot() : options.root).c_str(),
                     messageOf(rc).c_str());
        return 1;
    }
    if (report.created)
        std::fprintf(stderr, "Created a new system at %s\n", vt::platform::systemRoot().c_str());

    // Placeholders are read by the windows as they are created.
    vt::knowledge::BuildPlaceholders();

    int result = 0;
    {
        vt::app::TApplicationForms forms;
        forms.formMain()->show();
        result = QApplication::exec();
    }
    if (const LONG closed = vt::platform::closeSystem(); closed != ERROR_SUCCESS) {
        std::fprintf(stderr,
                     "vantrel: the changes are kept in the system's journal, but a hive file could not be written: "
                     "%s\n",
                     messageOf(closed).c_str());
        return result ? result : 1;
    }
    return result;
}
