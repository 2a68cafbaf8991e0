#pragma once
// The window program's command line: its own options for the replacement
// system, then the parameters that import a registry file, jump to a key or
// start a search.

#include "platform/win32.h"

#include <QStringList>

#include <optional>
#include <string>

namespace vt::app
{

// What the replacement system needs before any window exists. These are
// taken out first; Qt sees none of the parameters.
struct TProgramOptions {
    std::string systemRoot; // --system DIR or --system=DIR
    bool asSystem = false;  // --as-system
    bool asUser = false;    // --as-user
    bool help = false;      // --help
    bool version = false;   // --version
    QStringList openFiles;  // --open FILE: registry files shown without importing
    QString error;          // a malformed option, in words for the user
    QStringList params;     // everything else, in order
};
TProgramOptions SplitProgramOptions(const QStringList &arguments); // without the program name

// A search asked for on the command line. Options not named stay unset and
// leave the search window's restored settings alone.
struct TSearchStart {
    std::optional<int> style; // 0 substring, 1 wildcard, 2 boolean, 3 regular expressions
    std::optional<bool> focusKeys, focusValues, focusData;
    std::optional<bool> typeStrings, typeNumerics, typeBinary;
    std::optional<bool> ignoreCase;
    QString term;              // the second parameter, unchanged
    bool wholeRegistry = true; // first parameter "*"
    HKEY root = nullptr;       // else: root and key path of the first parameter
    std::string keyPath;
};

struct TCommandLine {
    QStringList params;
    bool allHives = false;   // -allhives, /allhives
    bool silent = false;     // /s: import without asking
    bool gui = false;        // /gui: keep running after an import
    bool noLastJump = false; // -nolastjump, /nolastjump
    // Every parameter that is not a switch, joined by blanks: a file to
    // import or a key to jump to (a path the shell split at its blanks
    // joins again).
    QString joined;
    std::optional<TSearchStart> search;
};

// Whether `param` is switch `name` (letter case ignored) written with one of
// the switch characters `chars`.
bool IsSwitch(const QString &param, const QString &name, const QString &chars);
// Whether `param` is any switch the window program knows.
bool IsKnownSwitch(const QString &param);

TCommandLine ParseCommandLine(const QStringList &params);

} // namespace vt::app

namespace vt::app
{

// The command line of this run, set by the program's entry point before the
// windows are created (empty in tests unless they set one).
void SetProgramCommandLine(const TCommandLine &commandLine);
const TCommandLine &ProgramCommandLine();

} // namespace vt::app
