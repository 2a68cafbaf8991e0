// vantrel: the registry editor's window program.

#include "app/FormUnitMain.h"
#include "app/kltConfig.h"
#include "app/vtCommandLine.h"
#include "app/vtStartup.h"
#include "knowledge/PathPlaceholders.h"
#include "platform/vtPlatform.h"

#include <QApplication>

#include <cstdio>
#include <string>

static void printHelp()
{
    std::printf("Usage: vantrel [--system DIR] [--as-system | --as-user] [parameters]\n\n"
                "Vantrel, an editor and analyser for the Windows registry.\n\n"
                "  --system DIR   system root folder (default: VANTREL_SYSTEM, else the per-user default system)\n"
                "  --as-system    run as the local system account, which may read every key\n"
                "  --as-user      run as a standard user, who is not a member of Administrators\n"
                "  --help, --version\n\n"
                "Parameters: a registry file to import (/s: without asking, /gui: keep running afterwards)\n"
                "or a key to jump to; /nolastjump; /allhives; and for a search: START-KEY|* TERM /search\n"
                "[/style=substring|wildcard|boolean|regexp] [/focus=all|keys|values|data] [/nofocus=...]\n"
                "[/type=all|string|numeric|binary] [/notype=...] [/ignorecase|/noignorecase].\n");
}

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const vt::app::TProgramOptions program = vt::app::SplitProgramOptions(arguments);
    if (!program.error.isEmpty()) {
        std::fprintf(stderr, "vantrel: %s\n", qPrintable(program.error));
        return 1;
    }
    if (program.help) {
        printHelp();
        return 0;
    }
    if (program.version) {
        std::printf("Vantrel %s\n", VT_VERSION);
        return 0;
    }

    // Qt sees the program name only: its own options (-style, -platform, ...)
    // would swallow the program's switches such as -style=regexp.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral(VT_VERSION));

    auto messageOf = [](LONG rc) {
        char text[512];
        const DWORD n =
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           nullptr, static_cast<DWORD>(rc), 0, text, sizeof text, nullptr);
        return n ? std::string(text, n) : "error " + std::to_string(rc);
    };
    vt::platform::SystemOptions options;
    options.root = program.systemRoot; // empty: VANTREL_SYSTEM or the default
    if (program.asSystem && program.asUser) {
        std::fprintf(stderr, "vantrel: use only one of --as-system and --as-user\n");
        return 1;
    }
    if (program.asSystem)
        options.identity = vt::platform::Identity::LocalSystem;
    else if (program.asUser)
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

    // The program's folder holds what the build installs beside the binary,
    // unless the user has a copy there already.
    for (const std::string &name : vt::app::SeedProgramFolder(
             QString(QCoreApplication::applicationDirPath() + QStringLiteral("/ProgramFiles")).toStdString()))
        std::fprintf(stderr, "vantrel: cannot copy %s into the program's folder %s\n", name.c_str(),
                     vt::app::ProgramFolder().c_str());

    // Placeholders are read by the windows as they are created.
    vt::knowledge::BuildPlaceholders();
    vt::app::SetProgramCommandLine(vt::app::ParseCommandLine(program.params));

    int result = 0;
    {
        vt::app::TApplicationForms forms;
        forms.formMain()->show();
        result = QApplication::exec();
    }
    if (const LONG closed = vt::platform::closeSystemForExit(); closed != ERROR_SUCCESS) {
        std::fprintf(stderr,
                     "vantrel: the changes are kept in the system's journal, but a hive file could not be written: "
                     "%s\n",
                     messageOf(closed).c_str());
        return result ? result : 1;
    }
    return result;
}
