// query KEY [/v NAME | /ve] [/s]
//
// Output follows reg: a blank line first; a key's full name, its values as
// "    name    TYPE    data" and a blank line; without /s the full names of
// the subkeys follow. A key without values shows no header of its own unless
// it is reached by /s. "End of search: N match(es) found." ends a search for
// one value name with /s only; a plain /s walk has no summary line.
// REG_DWORD_BIG_ENDIAN shows the number it holds, not its bytes read the
// other way round.
#include "cli/QueryFind.h"
#include "cli/ValueText.h"
#include "cli/Verbs.h"

#include "core/kltRegistry.h"
#include "regfile/RegKeyWalk.h"
#include "search/CompareRules.h"

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
           "vantrel-cli QUERY KeyName /f Pattern [/k] [/v] [/d] [/c] [/e] [/t Types] [/s]\n"
           "\n"
           "  KeyName  ROOTKEY\\SubKey, ROOTKEY one of HKLM, HKCU, HKCR, HKU, HKCC\n"
           "  /v       the value ValueName only; with /f, search value names only\n"
           "  /ve      the default value (the value without a name) only\n"
           "  /s       all subkeys and values, recursively\n"
           "  /f       search for Pattern (\"*\" alone: everything) in key names,\n"
           "           value names and data; a leading <wc>, <regexpr>, <bool>,\n"
           "           <substr> or <bm> chooses a wildcard, regular-expression,\n"
           "           boolean, substring or Boyer-Moore search\n"
           "  /k       with /f, search key names only\n"
           "  /d       with /f, search data only\n"
           "  /c       with /f, case-sensitive (the default ignores case)\n"
           "  /e       with /f, the whole name or data must equal Pattern\n"
           "  /t       with /f, values of these types only, e.g. REG_SZ,REG_DWORD\n"
           "           (REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD,\n"
           "           REG_BINARY, REG_NONE)\n"
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
    // Any of the search switches makes this a search; /v then takes no name.
    bool find = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string sw = switchName(args[i]);
        if (sw == "f" || sw == "k" || sw == "d" || sw == "c" || sw == "e" || sw == "t")
            find = true;
    }
    bool recurse = false, valueEmpty = false, haveValue = false;
    bool havePattern = false, haveTypes = false;
    FindOptions findOptions;
    std::string valueName;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string sw = switchName(args[i]);
        bool badView = false;
        if (takeViewSwitch(sw, badView)) {
            if (badView)
                return invalidSyntax(err);
            continue;
        }
        if (sw == "ve" && !valueEmpty && !find)
            valueEmpty = true;
        else if (sw == "s" && !recurse)
            recurse = true;
        else if (sw == "v" && find && !findOptions.values)
            findOptions.values = true;
        else if (sw == "v" && !find && !haveValue && i + 1 < args.size()) {
            haveValue = true;
            valueName = args[++i];
        } else if (sw == "f" && !havePattern && i + 1 < args.size()) {
            havePattern = true;
            findOptions.pattern = args[++i];
        } else if (sw == "k" && !findOptions.keys)
            findOptions.keys = true;
        else if (sw == "d" && !findOptions.data)
            findOptions.data = true;
        else if (sw == "c" && !findOptions.caseSensitive)
            findOptions.caseSensitive = true;
        else if (sw == "e" && !findOptions.exact)
            findOptions.exact = true;
        else if (sw == "t" && !haveTypes && i + 1 < args.size()) {
            haveTypes = true;
            if (!parseFindTypes(args[++i], findOptions.types))
                return invalidSyntax(err);
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
    if (find) {
        FindUndecided undecided;
        findOptions.recurse = recurse;
        try {
            queryFind(reg, key.fullName, findOptions, out, walk.skipped, walk.matches, &undecided);
        } catch (const search::ERegExpr &e) {
            err << "ERROR: Invalid regular expression: " << e.what() << ".\n";
            return 1;
        }
        const int skippedCode = reportSkipped(err, walk.skipped);
        // A text the expression could not decide may hold a match: the
        // count above is not the whole answer.
        if (undecided.count) {
            err << "ERROR: The regular expression could not be decided for " << undecided.count
                << (undecided.count == 1 ? " name or data" : " names or data") << " (" << undecided.reason
                << "); they are not counted as matches.\n";
            return 1;
        }
        return skippedCode;
    }
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
