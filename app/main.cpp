// vantrel: the registry editor's window program.

#include "app/FormUnitMain.h"
#include "app/kltConfig.h"
#include "app/vtCommandLine.h"
#include "app/vtProgramData.h"
#include "app/vtStartup.h"
#include "knowledge/PathPlaceholders.h"
#include "platform/vtPlatform.h"
#include "vtVersion.h"

#include <QApplication>

#include <cstdio>
#include <string>

// The GNU-style help; the manual page is made from it.
static void printHelp()
{
    std::printf("Usage: vantrel [--system DIR] [--as-system | --as-user] [--open FILE] [parameters]\n"
                "       vantrel --help | --version\n"
                "\n"
                "Vantrel, an editor and analyser for the Windows registry, on its replacement\n"
                "Windows system.\n"
                "\n"
                "Options:\n"
                "  --system DIR   the system root folder (default: VANTREL_SYSTEM, else the\n"
                "                 per-user default system); a new system is made there when\n"
                "                 the folder holds none\n"
                "  --as-system    run as the local system account, which may read every key\n"
                "  --as-user      run as a standard user, who is not a member of Administrators\n"
                "  --open FILE    show a registry file as a branch of the key tree, without\n"
                "                 importing it\n"
                "  --help         show this help and end\n"
                "  --version      show the version and end\n"
                "\n"
                "Parameters:\n"
                "  FILE.reg               import the registry file after asking; /s imports\n"
                "                         without asking, /gui keeps the window open afterwards\n"
                "  KEY                    open at this key, e.g. 'HKEY_CURRENT_USER\\Software'\n"
                "  /nolastjump            start at \"My Computer\", not at the last key\n"
                "  /allhives              load all hives of an offline installation\n"
                "  START-KEY|* TERM /search\n"
                "                         open the search window with this search running;\n"
                "                         /style=substring|wildcard|boolean|regexp,\n"
                "                         /focus=all|keys|values|data, /nofocus=keys|values|data,\n"
                "                         /type=all|string|numeric|binary,\n"
                "                         /notype=string|numeric|binary, /ignorecase,\n"
                "                         /noignorecase\n"
                "\n"
                "Exit status:\n"
                "  0  the window was closed normally\n"
                "  1  the system could not be opened, an option was wrong, or a hive file\n"
                "     could not be written at the end (the changes stay in the journal)\n"
                "\n"
                "Environment:\n"
                "  VANTREL_SYSTEM  the system root when --system is not given\n"
                "  XDG_DATA_HOME   the default system root is $XDG_DATA_HOME/vantrel/system\n"
                "\n"
                "Files:\n"
                "  ~/.local/share/vantrel/system\n"
                "      the default system root: hive files, journal, drives.ini, mounts.ini\n"
                "  SYSTEM-ROOT/drive_c/Program Files/Vantrel\n"
                "      the program's folder: settings, bookmarks, languages\n"
                "\n"
                "Examples:\n"
                "  vantrel --system /tmp/trial-system\n"
                "  vantrel 'HKEY_CURRENT_USER\\Software'\n"
                "  vantrel --open fix.reg\n"
                "  vantrel 'HKEY_CURRENT_USER\\Software' needle /search\n");
}

static void printVersion()
{
    std::printf("vantrel (Vantrel) %s\n"
                "Commit %s\n"
                "License GPL-3.0-or-later: GNU GPL version 3 or later.\n"
                "This is free software: you are free to change and redistribute it.\n"
                "There is NO WARRANTY, to the extent permitted by law.\n",
                VT_VERSION, VT_COMMIT);
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
        printVersion();
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
    for (const std::string &name :
         vt::app::SeedProgramFolder(vt::app::ShippedFolder(QStringLiteral("ProgramFiles")).toStdString()))
        std::fprintf(stderr, "vantrel: cannot copy %s into the program's folder %s\n", name.c_str(),
                     vt::app::ProgramFolder().c_str());

    // Placeholders are read by the windows as they are created.
    vt::knowledge::BuildPlaceholders();
    vt::app::SetProgramCommandLine(vt::app::ParseCommandLine(program.params));

    int result = 0;
    {
        vt::app::TApplicationForms forms;
        forms.formMain()->show();
        for (const QString &file : program.openFiles)
            forms.formMain()->OpenRegistryFileView(file, false);
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
