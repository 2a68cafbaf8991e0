// save KEY FILE [/y] and restore KEY FILE: a key's subtree to and from a hive file.
#include "cli/Verbs.h"

#include "platform/vtPlatform.h"

#include <filesystem>
#include <functional>
#include <ostream>

namespace vt::cli
{

namespace
{

// Closes a key opened for one verb.
struct OpenKey {
    HKEY h = nullptr;
    ~OpenKey()
    {
        if (h)
            RegCloseKey(h);
    }
};

// Parses KeyName FileName and the switches a verb allows; false on bad syntax.
bool fileVerbArgs(const std::vector<std::string> &args, bool allowOverwrite, bool &overwrite,
                  const std::function<bool(const std::string &, bool &)> &view)
{
    if (args.size() < 2)
        return false;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string sw = switchName(args[i]);
        bool bad = false;
        if (view(sw, bad)) {
            if (bad)
                return false;
        } else if (allowOverwrite && sw == "y" && !overwrite) {
            overwrite = true;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

std::string SaveCommand::usage() const
{
    return "vantrel-cli SAVE KeyName FileName [/y] [/reg:32 | /reg:64]\n"
           "\n"
           "  KeyName   ROOTKEY\\SubKey, ROOTKEY one of HKLM, HKCU, HKCR, HKU, HKCC\n"
           "  FileName  the hive file to write\n"
           "  /y        overwrite an existing file without asking\n"
           "  /reg:32   the 32-bit view of the registry\n"
           "  /reg:64   the 64-bit view of the registry (the default)\n";
}

int SaveCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    bool overwrite = false;
    if (!fileVerbArgs(args, true, overwrite, [&](const std::string &sw, bool &bad) { return takeViewSwitch(sw, bad); }))
        return invalidSyntax(err);
    KeyArg key;
    if (!parseKeyArg(args[0], key) || key.path.empty())
        return invalidKeyName(err);
    OpenKey k;
    if (RegOpenKeyExA(key.root, key.path.c_str(), 0, KEY_READ | viewFlags(), &k.h) != ERROR_SUCCESS)
        return openError(err, key.root, key.path);
    const std::string file = vt::platform::toNativePath(args[1]);
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        if (!overwrite && !confirm("File " + args[1] + " already exists. Overwrite (Yes/No)? ", out))
            return cancelled(out);
        if (!std::filesystem::remove(file, ec))
            return failure(err, ERROR_ACCESS_DENIED);
    }
    enablePrivilege(SE_BACKUP_NAME); // a token without it gets the save's own refusal
    const LONG rc = RegSaveKeyA(k.h, file.c_str(), nullptr);
    if (rc != ERROR_SUCCESS)
        return failure(err, rc);
    return success(out);
}

std::string RestoreCommand::usage() const
{
    return "vantrel-cli RESTORE KeyName FileName [/reg:32 | /reg:64]\n"
           "\n"
           "  KeyName   ROOTKEY\\SubKey, ROOTKEY one of HKLM, HKCU, HKCR, HKU, HKCC\n"
           "  FileName  a hive file written by SAVE; it replaces the key's values and subkeys\n"
           "  /reg:32   the 32-bit view of the registry\n"
           "  /reg:64   the 64-bit view of the registry (the default)\n";
}

int RestoreCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    bool unused = false;
    if (!fileVerbArgs(args, false, unused, [&](const std::string &sw, bool &bad) { return takeViewSwitch(sw, bad); }))
        return invalidSyntax(err);
    KeyArg key;
    if (!parseKeyArg(args[0], key) || key.path.empty())
        return invalidKeyName(err);
    OpenKey k;
    if (RegOpenKeyExA(key.root, key.path.c_str(), 0, KEY_ALL_ACCESS | viewFlags(), &k.h) != ERROR_SUCCESS)
        return openError(err, key.root, key.path);
    enablePrivilege(SE_RESTORE_NAME);
    const LONG rc = RegRestoreKeyA(k.h, vt::platform::toNativePath(args[1]).c_str(), 0);
    if (rc != ERROR_SUCCESS)
        return failure(err, rc);
    return success(out);
}

} // namespace vt::cli
