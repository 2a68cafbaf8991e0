// save KEY FILE [/y] and restore KEY FILE: a key's subtree to and from a hive file.
#include "cli/Verbs.h"

#include "platform/vtPlatform.h"

#include <filesystem>
#include <functional>
#include <ostream>
#include <random>

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

// Six characters for a temporary file's name, different for each attempt.
std::string randomSuffix(unsigned attempt)
{
    static std::mt19937_64 rng(std::random_device{}());
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string s(6, 'a');
    for (char &c : s)
        c = kChars[(rng() + attempt) % (sizeof(kChars) - 1)];
    return s;
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
    // The privilege and the target first: nothing is touched unless the save can go ahead.
    if (!enablePrivilege(SE_BACKUP_NAME))
        return failure(err, ERROR_PRIVILEGE_NOT_HELD);
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target = vt::platform::toNativePath(args[1]);
    // A link to a file is saved through: the file it names gets the new content.
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        if (fs::path resolved = fs::canonical(target, ec); !ec)
            target = resolved;
    }
    // A mounted hive, its logs or the journal, however the path spells it.
    if (const LONG rc = vt::platform::fileInUse(target.string()); rc != ERROR_SUCCESS)
        return failure(err, rc);
    const fs::file_status st = fs::status(target, ec);
    if (fs::exists(st)) {
        // A folder, a device or a FIFO is never replaced by a hive file.
        if (!fs::is_regular_file(st))
            return failure(err, ERROR_ACCESS_DENIED);
        if (!overwrite && !confirm("File " + args[1] + " already exists. Overwrite (Yes/No)? ", out))
            return cancelled(out);
    }
    // The hive goes to a new file beside the target and replaces it only once
    // whole: a failed or killed save leaves the old file as it was.
    std::string temp;
    for (unsigned attempt = 0; temp.empty() || fs::exists(fs::symlink_status(temp, ec)); ++attempt)
        temp = target.string() + ".vtsave-" + randomSuffix(attempt);
    const LONG rc = RegSaveKeyA(k.h, temp.c_str(), nullptr);
    if (rc != ERROR_SUCCESS)
        return failure(err, rc);
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        return failure(err, ERROR_ACCESS_DENIED);
    }
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
    // What the file could not give is no plain success: the key holds the
    // rest, and the user is told what is missing.
    const vt::platform::HiveLoadRecovery r = vt::platform::lastHiveLoadRecovery();
    const bool cut = r.keysDropped || r.valuesDropped || r.binBytesKept < r.binBytesDeclared;
    if (r.logsUnusable)
        err << "WARNING: The file was not closed cleanly and its transaction logs could not be applied; it was "
               "restored as last saved, without its latest changes.\n";
    if (cut) {
        err << "ERROR: The file is damaged and was restored in part: " << r.keysDropped
            << " keys (with what lay below them) and " << r.valuesDropped << " values could not be read";
        if (r.binBytesKept < r.binBytesDeclared)
            err << ", and " << (r.binBytesDeclared - r.binBytesKept) << " of its " << r.binBytesDeclared
                << " bytes of hive bins were dropped";
        err << ".\n";
        return 1;
    }
    return success(out);
}

} // namespace vt::cli
