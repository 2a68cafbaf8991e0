// delete KEY [/v NAME | /ve | /va] [/f]
#include "cli/Verbs.h"

#include "core/kltRegistry.h"
#include "platform/vtPlatform.h"

#include <memory>
#include <ostream>

namespace vt::cli
{

std::string DeleteCommand::usage() const
{
    return "vantrel-cli DELETE KeyName [/v ValueName | /ve | /va] [/f]\n"
           "\n"
           "  KeyName  ROOTKEY\\SubKey, ROOTKEY one of HKLM, HKCU, HKCR, HKU, HKCC\n"
           "  /v       the value to delete\n"
           "  /ve      the default value (the value without a name)\n"
           "  /va      every value of the key; its subkeys stay\n"
           "  /f       delete without asking\n"
           "  /reg:32  the 32-bit view of the registry\n"
           "  /reg:64  the 64-bit view of the registry (the default)\n"
           "Without /v, /ve or /va the key is deleted with all its subkeys.\n";
}

int DeleteCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    if (args.empty())
        return invalidSyntax(err);
    KeyArg key;
    if (!parseKeyArg(args[0], key))
        return invalidKeyName(err);
    bool haveValue = false, valueEmpty = false, allValues = false, force = false;
    std::string valueName;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string sw = switchName(args[i]);
        bool badView = false;
        if (takeViewSwitch(sw, badView)) {
            if (badView)
                return invalidSyntax(err);
            continue;
        }
        if (sw == "v" && !haveValue && i + 1 < args.size()) {
            haveValue = true;
            valueName = args[++i];
        } else if (sw == "ve" && !valueEmpty)
            valueEmpty = true;
        else if (sw == "va" && !allValues)
            allValues = true;
        else if (sw == "f" && !force)
            force = true;
        else
            return invalidSyntax(err);
    }
    if (int(haveValue) + int(valueEmpty) + int(allValues) > 1)
        return invalidSyntax(err);
    const bool wholeKey = !haveValue && !valueEmpty && !allValues;
    // A root key is never deleted.
    if (wholeKey && key.path.empty())
        return invalidKeyName(err);

    TMyRegistry reg;
    applyView(reg);
    reg.SetRootKey(key.root);
    if (!reg.KeyExists("\\" + key.path))
        return openError(err, key.root, key.path);

    if (wholeKey) {
        if (!force && !confirm("Permanently delete the registry key " + key.fullName + " (Yes/No)? ", out))
            return cancelled(out);
        if (!reg.DeleteKey("\\" + key.path) || reg.KeyExists("\\" + key.path))
            return failure(err, ERROR_ACCESS_DENIED);
        return success(out);
    }

    if (!reg.OpenKey("\\" + key.path, false))
        return failure(err, ERROR_ACCESS_DENIED);
    if (allValues) {
        if (!force && !confirm("Delete all values under the registry key " + key.fullName + " (Yes/No)? ", out))
            return cancelled(out);
        std::vector<std::string> names;
        reg.GetValueNames(names);
        // The values go in transactions of a bounded size, the last value
        // first so that none of the rest has to move up in the key's list.
        // Another process's change waits for one slice, not for the whole key.
        constexpr size_t kSlice = 2048;
        auto tx = std::make_unique<vt::platform::Transaction>();
        size_t inSlice = 0;
        for (auto it = names.rbegin(); it != names.rend(); ++it) {
            const LONG rc = RegDeleteValueA(reg.CurrentKey(), it->c_str());
            if (rc != ERROR_SUCCESS) {
                tx->commit();
                return failure(err, rc);
            }
            if (++inSlice == kSlice) {
                if (const LONG c = tx->commit(); c != ERROR_SUCCESS)
                    return failure(err, c);
                tx = std::make_unique<vt::platform::Transaction>();
                inSlice = 0;
            }
        }
        if (const LONG rc = tx->commit(); rc != ERROR_SUCCESS)
            return failure(err, rc);
        return success(out);
    }
    if (!reg.ValueExists(valueName))
        return notFound(err);
    if (!force && !confirm("Delete the registry value " + (valueName.empty() ? std::string("(Default)") : valueName) +
                               " (Yes/No)? ",
                           out))
        return cancelled(out);
    const LONG rc = RegDeleteValueA(reg.CurrentKey(), valueName.c_str());
    if (rc != ERROR_SUCCESS)
        return failure(err, rc);
    return success(out);
}

} // namespace vt::cli
