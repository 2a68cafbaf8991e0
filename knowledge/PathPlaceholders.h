#pragma once
// Path placeholders: tokens "<$NAME>" that stand for folders of the running
// system, built once at start-up from the shell's special folders, registry
// values and a few derivations, then expanded into texts such as
// "<$APPDATA>\Brakmoor\Vantrel\history.sqlite".

#include "platform/win32.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vt::knowledge
{

struct TPathSolveConfig {
    int id;           // shell special-folder id, -1 for none
    const char *name; // without "<$" and ">"
};
extern const std::array<TPathSolveConfig, 46> PathSolveConfig;

struct TPathRegistryUpdaterRecord {
    const char *placeholder;
    HKEY root;
    const char *keyPath; // ends in a backslash
    const char *valueName;
    bool only32BitPass;
    bool fromHiveRoot; // else below the pass's software key
    bool overwrite;
    const char *append;
    const char *cut;
};
extern const std::array<TPathRegistryUpdaterRecord, 21> PathRegistryUpdater;

struct TTemplateCopyRecord {
    const char *target;
    const char *source;
};
extern const std::array<TTemplateCopyRecord, 5> TemplateCopy;

// Ordered "name=path" lines; a name may occur more than once, and the last
// line of a name decides its expansion.
class TPlaceholderTable
{
public:
    std::vector<std::string> Lines;

    // Path of the first line named `name` (letter case ignored), else empty.
    std::string get(const std::string &name) const;
    // Replaces the first line's path, appends when absent; an empty path
    // removes the first line instead.
    void set(const std::string &name, const std::string &path);
    void append(const std::string &name, const std::string &path);

    // Bitness 32 or 64: which registry view the pass reads.
    void BuildPlaceholderTable(uint8_t view);
    void SetFromRegistry(const std::string &name, HKEY root, const std::string &keyPath, const std::string &valueName,
                         uint8_t view, bool overwrite, const std::string &append, const std::string &cut);
    void CopyIfEmpty(const std::string &target, const std::string &source);
    std::string ExpandPlaceholders(const std::string &text) const;
};

// Shell folder path for a special-folder id, with the registry and directory
// fallbacks of a few ids; empty when it cannot be resolved.
std::string SpecialFolderPath(int id);
// The Control Panel folder below the Windows folder, named after the Control
// Panel's display name.
std::string ControlPanelFolder(const std::string &windowsFolder);

// The process-wide table: both passes, 64-bit view first. Call once before
// any window exists; calling again rebuilds it (tests, a changed system).
void BuildPlaceholders();
const TPlaceholderTable &Placeholders();
// On the process-wide table; builds it first if nobody has.
std::string ExpandPlaceholders(const std::string &text);

} // namespace vt::knowledge
