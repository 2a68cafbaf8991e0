// load KEY FILE, unload KEY and summary.
#include "cli/Verbs.h"

#include "core/kltRegistry.h"
#include "platform/vtPlatform.h"

#include <ostream>

namespace vt::cli
{

namespace
{

// Hives mount one level below HKLM or HKU.
bool hiveKey(const KeyArg &key)
{
    return (key.root == HKEY_LOCAL_MACHINE || key.root == HKEY_USERS) && !key.path.empty() &&
           key.path.find('\\') == std::string::npos;
}

} // namespace

std::string LoadCommand::usage() const
{
    return "vantrel-cli LOAD KeyName FileName [/reg:32 | /reg:64]\n"
           "\n"
           "  KeyName   HKLM\\Name or HKU\\Name: where the hive is mounted\n"
           "  FileName  the hive file to load\n"
           "  /reg:32, /reg:64  accepted as reg accepts them; a hive's mount point is the same in both views\n";
}

int LoadCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    std::vector<std::string> words;
    if (!takeWords(args, words) || words.size() != 2)
        return invalidSyntax(err);
    KeyArg key;
    if (!parseKeyArg(words[0], key) || !hiveKey(key))
        return invalidKeyName(err);
    const LONG rc = RegLoadKeyA(key.root, key.path.c_str(), words[1].c_str());
    if (rc != ERROR_SUCCESS)
        return failure(err, rc);
    return success(out);
}

std::string UnloadCommand::usage() const
{
    return "vantrel-cli UNLOAD KeyName [/reg:32 | /reg:64]\n"
           "\n"
           "  KeyName  HKLM\\Name or HKU\\Name: a hive mounted by vantrel-cli LOAD\n"
           "  /reg:32, /reg:64  accepted as reg accepts them; a hive's mount point is the same in both views\n";
}

int UnloadCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    std::vector<std::string> words;
    if (!takeWords(args, words) || words.size() != 1)
        return invalidSyntax(err);
    KeyArg key;
    if (!parseKeyArg(words[0], key) || !hiveKey(key))
        return invalidKeyName(err);
    const LONG rc = RegUnLoadKeyA(key.root, key.path.c_str());
    if (rc != ERROR_SUCCESS)
        return failure(err, rc);
    return success(out);
}

std::string SummaryCommand::usage() const
{
    return "vantrel-cli SUMMARY\n"
           "\n"
           "  The system root, the root keys with their subkey and value counts, and the\n"
           "  hives mounted below HKEY_LOCAL_MACHINE and HKEY_USERS.\n";
}

int SummaryCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    if (!args.empty())
        return invalidSyntax(err);
    out << "System root: " << vt::platform::systemRoot() << "\n";
    out << "Current user: " << vt::platform::currentUserName() << " (" << vt::platform::currentUserSid() << ")\n";
    out << "\nRoot keys:\n";
    for (HKEY root : RootKeyList()) {
        TMyRegistry reg;
        reg.SetRootKey(root);
        TRegKeyInfo info;
        out << "    " << RootKeyToName(root);
        if (reg.OpenKeyReadOnly("\\") && reg.GetKeyInfo(info))
            out << "    " << info.NumSubKeys << " subkeys    " << info.NumValues << " values\n";
        else
            out << "    (not available)\n";
    }
    out << "\nHives:\n";
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_USERS}) {
        std::vector<std::string> names;
        TMyRegistry reg;
        reg.SetRootKey(root);
        if (reg.OpenKeyReadOnly("\\"))
            reg.GetKeyNames(names);
        for (const std::string &name : names)
            out << "    " << RootKeyToName(root) << "\\" << name << "\n";
    }
    return 0;
}

} // namespace vt::cli
