#include "cli/CliApp.h"

#include "cli/VerbRegFile.h"
#include "cli/Verbs.h"
#include "platform/vtPlatform.h"
#include "vtVersion.h"

#include <cctype>
#include <ostream>

namespace vt::cli
{

const std::vector<VerbEntry> &verbTable()
{
    // One line per verb. Registry files: register "export" and "import" here,
    // e.g. {"export", [] { return std::make_unique<ExportCommand>(); }}.
    static const std::vector<VerbEntry> table = {
        {"query", [] { return std::make_unique<QueryCommand>(); }},
        {"add", [] { return std::make_unique<AddCommand>(); }},
        {"delete", [] { return std::make_unique<DeleteCommand>(); }},
        {"copy", [] { return std::make_unique<CopyCommand>(); }},
        {"load", [] { return std::make_unique<LoadCommand>(); }},
        {"unload", [] { return std::make_unique<UnloadCommand>(); }},
        {"save", [] { return std::make_unique<SaveCommand>(); }},
        {"restore", [] { return std::make_unique<RestoreCommand>(); }},
        {"summary", [] { return std::make_unique<SummaryCommand>(); }},
        {"export", [] { return std::make_unique<ExportCommand>(); }},
        {"import", [] { return std::make_unique<ImportCommand>(); }},
        {"compare", [] { return std::make_unique<CompareCommand>(); }},
        {"recover", [] { return std::make_unique<RecoverCommand>(); }},
    };
    return table;
}

std::unique_ptr<Command> createCommand(const std::string &verb)
{
    std::string name = verb;
    for (char &c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const VerbEntry &entry : verbTable())
        if (name == entry.name)
            return entry.create();
    return nullptr;
}

namespace
{

void printUsage(std::ostream &out)
{
    out << "Usage: vantrel-cli [--system DIR] [--as-system | --as-user] OPERATION [parameters]\n\nOperations:\n ";
    for (const VerbEntry &entry : verbTable()) {
        std::string upper = entry.name;
        for (char &c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        out << " " << upper;
    }
    out << "\n\nFor help on an operation: vantrel-cli OPERATION /?\n"
           "The system root is DIR, else the environment variable VANTREL_SYSTEM, else the default.\n"
           "--as-system runs as the local system account, which may read every key.\n"
           "--as-user runs as a standard user, who is not a member of Administrators.\n";
}

// The GNU-style help. The manual page is made from this text and from each
// operation's "/?", so the two never disagree.
void printHelp(std::ostream &out)
{
    out << "Usage: vantrel-cli [--system DIR] [--as-system | --as-user] OPERATION [parameters]\n"
           "       vantrel-cli OPERATION /?\n"
           "       vantrel-cli --help | --version\n"
           "\n"
           "Reads and changes the registry of Vantrel's replacement Windows system in\n"
           "the manner of the Windows reg command. Quote key names: a shell takes\n"
           "backslashes away otherwise.\n"
           "\n"
           "Operations:\n";
    for (const VerbEntry &entry : verbTable()) {
        std::string upper = entry.name;
        for (char &c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        out << "  " << upper << "\n";
    }
    out << "\n"
           "Options:\n"
           "  --system DIR  the system root folder; a new system is made there when the\n"
           "                folder holds none (\"Created a new system at DIR\")\n"
           "  --as-system   run as the local system account, which may read every key\n"
           "  --as-user     run as a standard user, who is not a member of Administrators\n"
           "  --help        show this help and end\n"
           "  --version     show the version and end\n"
           "\n"
           "Exit status:\n"
           "  0  the operation succeeded (COMPARE: the keys are identical)\n"
           "  1  the operation failed, or a walk could not read every key (the reason\n"
           "     is on standard error)\n"
           "  2  COMPARE: the keys differ\n"
           "\n"
           "Environment:\n"
           "  VANTREL_SYSTEM  the system root when --system is not given\n"
           "  XDG_DATA_HOME   the default system root is $XDG_DATA_HOME/vantrel/system\n"
           "\n"
           "Files:\n"
           "  ~/.local/share/vantrel/system\n"
           "      the default system root: the hive files, the journal, drives.ini\n"
           "      and mounts.ini; private to its user (folder 0700, files 0600)\n"
           "\n"
           "Examples:\n"
           "  vantrel-cli query 'HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion' /s\n"
           "  vantrel-cli query 'HKLM\\SYSTEM' /f usbstor /s\n"
           "  vantrel-cli add 'HKCU\\Software\\Test' /v Answer /t REG_DWORD /d 42 /f\n"
           "  vantrel-cli export 'HKCU\\Software\\Test' test.reg /y\n"
           "  vantrel-cli load 'HKLM\\Offline' path/to/SYSTEM\n"
           "  vantrel-cli unload 'HKLM\\Offline'\n";
}

void printVersion(std::ostream &out)
{
    out << "vantrel-cli (Vantrel) " << VT_VERSION << "\n"
        << "Commit " << VT_COMMIT << "\n"
        << "License GPL-3.0-or-later: GNU GPL version 3 or later.\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

} // namespace

int runCli(const std::vector<std::string> &args, std::istream &in, std::ostream &out, std::ostream &err,
           bool processEnds)
{
    size_t i = 0;
    vt::platform::SystemOptions options;
    bool identitySet = false;
    while (i < args.size() && args[i].rfind("--", 0) == 0) {
        if (args[i] == "--system" && i + 1 < args.size()) {
            options.root = args[i + 1];
            i += 2;
        } else if (args[i] == "--as-system" || args[i] == "--as-user") {
            // SYSTEM opens keys only it may read (SAM, SECURITY) for analysis; a
            // standard user shows what access control refuses.
            const auto identity =
                args[i] == "--as-system" ? vt::platform::Identity::LocalSystem : vt::platform::Identity::StandardUser;
            if (identitySet && options.identity != identity) {
                err << "ERROR: Invalid syntax. Use only one of --as-system and --as-user.\n";
                return 1;
            }
            options.identity = identity;
            identitySet = true;
            ++i;
        } else if (args[i] == "--help") {
            printHelp(out);
            return 0;
        } else if (args[i] == "--version") {
            printVersion(out);
            return 0;
        } else {
            err << "ERROR: Invalid option " << args[i] << ".\n";
            printUsage(err);
            return 1;
        }
    }
    if (i >= args.size()) {
        printUsage(err);
        return 1;
    }
    const std::string verb = args[i];
    if (switchName(verb) == "?" || switchName(verb) == "h") {
        printUsage(out);
        return 0;
    }
    std::unique_ptr<Command> command = createCommand(verb);
    if (!command) {
        err << "ERROR: Invalid syntax.\nType \"vantrel-cli /?\" for usage.\n";
        return 1;
    }
    const std::vector<std::string> rest(args.begin() + std::ptrdiff_t(i + 1), args.end());
    const bool help = rest.size() == 1 && (switchName(rest[0]) == "?" || switchName(rest[0]) == "h");
    if (!help) {
        vt::platform::SystemReport report;
        const LONG rc = vt::platform::openSystem(options, &report);
        for (const std::string &problem : report.problems)
            err << (rc == ERROR_SUCCESS ? "WARNING: " : "ERROR: ") << problem << "\n";
        if (rc != ERROR_SUCCESS) {
            const std::string root = options.root.empty() ? vt::platform::defaultSystemRoot() : options.root;
            err << "ERROR: The system at '" << root << "' could not be opened: " << errorText(rc) << "\n";
            return 1;
        }
        // A mistyped --system would otherwise go unnoticed.
        if (report.created)
            err << "Created a new system at " << vt::platform::systemRoot() << "\n";
    }
    command->setInput(&in);
    int code = command->execute(rest, out, err);
    if (!help) {
        // The changes are durable in the journal, but a hive file that cannot
        // be written is a failure the user must hear of.
        const LONG rc = processEnds ? vt::platform::closeSystemForExit() : vt::platform::closeSystem();
        if (rc != ERROR_SUCCESS && command->readsOnly()) {
            err << "WARNING: Changes made earlier are kept in the system's journal, but a hive file could not be "
                   "written: "
                << errorText(rc) << "\n";
        } else if (rc != ERROR_SUCCESS) {
            err << "ERROR: The changes are kept in the system's journal, but a hive file could not be written: "
                << errorText(rc) << "\n";
            code = 1;
        }
    }
    return code;
}

} // namespace vt::cli
