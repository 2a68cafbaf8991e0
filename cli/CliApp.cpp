#include "cli/CliApp.h"

#include "cli/VerbRegFile.h"
#include "cli/Verbs.h"
#include "platform/vtPlatform.h"

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

} // namespace

int runCli(const std::vector<std::string> &args, std::istream &in, std::ostream &out, std::ostream &err, bool processEnds)
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
            printUsage(out);
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
        if (rc != ERROR_SUCCESS) {
            err << "ERROR: The changes are kept in the system's journal, but a hive file could not be written: "
                << errorText(rc) << "\n";
            code = 1;
        }
    }
    return code;
}

} // namespace vt::cli
