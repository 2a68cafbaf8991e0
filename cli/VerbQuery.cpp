// query KEY [/v NAME | /ve] [/s]
//
// Output follows reg: a blank line first; a key's full name, its values as
// "    name    TYPE    data" and a blank line; without /s the full names of
// the subkeys follow. A key without values shows no header of its own unless
// it is reached by /s. "End of search: N match(es) found." ends a search for
// one value name with /s only; a plain /s walk has no summary line.
// REG_DWORD_BIG_ENDIAN shows the number it holds, not its bytes read the
// other way round.
#include "cli/ValueText.h"
#include "cli/Verbs.h"

#include "core/kltRegistry.h"
#include "regfile/RegKeyWalk.h"

#include <ostream>

namespace vt::cli
{

namespace
{

struct Walk {
    std::ostream &out;
    unsigned matches = 0;
    TKeyWalkReport skipped;

    // Subkeys are opened by handle, relative to their parent.
    bool openChild(TMyRegistry &parent, const std::string &name, const std::string &fullName, TMyRegistry &child)
    {
        if (OpenSubkeyForReading(parent, name, child))
            return true;
        skipped.skip(fullName, !IsAddressableKeyName(name));
        return false;
    }
};

void printValues(TMyRegistry &reg, std::ostream &out, bool &any)
{
    std::vector<std::string> names;
    reg.GetValueNames(names);
    for (const std::string &name : names) {
        uint32_t code = 0;
        TRegByteArray data;
        if (!reg.readValue(name, code, data))
            continue;
        out << valueLine(name, code, data) << "\n";
        any = true;
    }
}

void queryAll(TMyRegistry &reg, const std::string &fullName, bool recurse, bool recursing, Walk &walk)
{
    TRegKeyInfo info;
    if (!reg.GetKeyInfo(info))
        return;
    if (info.NumValues || recursing)
        walk.out << fullName << "\n";
    bool any = false;
    printValues(reg, walk.out, any);
    if (any || recursing)
        walk.out << "\n";
    std::vector<std::string> subkeys;
    reg.GetKeyNames(subkeys);
    for (const std::string &sub : subkeys) {
        if (!recurse) {
            walk.out << fullName << "\\" << sub << "\n";
            continue;
        }
        TMyRegistry child;
        if (walk.openChild(reg, sub, fullName + "\\" + sub, child))
            queryAll(child, fullName + "\\" + sub, true, true, walk);
    }
}

// Returns false when the value is missing and no walk was asked for.
bool queryValue(TMyRegistry &reg, const std::string &valueName, const std::string &fullName, bool recurse, Walk &walk)
{
    uint32_t code = 0;
    TRegByteArray data;
    const bool found = reg.readValue(valueName, code, data);
    if (found) {
        walk.out << fullName << "\n" << valueLine(valueName, code, data) << "\n\n";
        ++walk.matches;
    }
    if (!recurse) {
        if (found)
            return true;
        if (!valueName.empty())
            return false;
        walk.out << fullName << "\n    (Default)    REG_SZ    (value not set)\n";
        return true;
    }
    std::vector<std::string> subkeys;
    reg.GetKeyNames(subkeys);
    for (const std::string &sub : subkeys) {
        TMyRegistry child;
        if (walk.openChild(reg, sub, fullName + "\\" + sub, child))
            queryValue(child, valueName, fullName + "\\" + sub, true, walk);
    }
    return true;
}

} // namespace

std::string QueryCommand::usage() const
{
    return "vantrel-cli QUERY KeyName [/v ValueName | /ve] [/s]\n"
           "\n"
           "  KeyName  ROOTKEY\\SubKey, ROOTKEY one of HKLM, HKCU, HKCR, HKU, HKCC\n"
           "  /v       the value ValueName only\n"
           "  /ve      the default value (the value without a name) only\n"
           "  /s       all subkeys and values, recursively\n"
           "  /reg:32  the 32-bit view of the registry\n"
           "  /reg:64  the 64-bit view of the registry (the default)\n";
}

int QueryCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    if (args.empty())
        return invalidSyntax(err);
    KeyArg key;
    if (!parseKeyArg(args[0], key))
        return invalidKeyName(err);
    bool recurse = false, valueEmpty = false, haveValue = false;
    std::string valueName;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string sw = switchName(args[i]);
        bool badView = false;
        if (takeViewSwitch(sw, badView)) {
            if (badView)
                return invalidSyntax(err);
            continue;
        }
        if (sw == "ve" && !valueEmpty)
            valueEmpty = true;
        else if (sw == "s" && !recurse)
            recurse = true;
        else if (sw == "v" && !haveValue && i + 1 < args.size()) {
            haveValue = true;
            valueName = args[++i];
        } else
            return invalidSyntax(err);
    }
    if (haveValue && valueEmpty)
        return invalidSyntax(err);

    TMyRegistry reg;
    applyView(reg);
    reg.SetRootKey(key.root);
    if (!reg.OpenKeyReadOnly("\\" + key.path))
        return openError(err, key.root, key.path);
    Walk walk{out, 0, {}};
    out << "\n";
    if (haveValue || valueEmpty) {
        if (!queryValue(reg, haveValue ? valueName : std::string(), key.fullName, recurse, walk))
            return notFound(err);
        if (recurse)
            out << "End of search: " << walk.matches << " match(es) found.\n";
        return reportSkipped(err, walk.skipped);
    }
    queryAll(reg, key.fullName, recurse, false, walk);
    return reportSkipped(err, walk.skipped);
}

} // namespace vt::cli
