// copy KEY1 KEY2 [/s] [/f]
#include "cli/Verbs.h"

#include "core/kltRegistry.h"
#include "platform/vtPlatform.h"
#include "regfile/RegKeyWalk.h"

#include <cctype>
#include <optional>
#include <ostream>

namespace vt::cli
{

namespace
{

std::string folded(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

std::string CopyCommand::usage() const
{
    return "vantrel-cli COPY KeyName1 KeyName2 [/s] [/f]\n"
           "\n"
           "  KeyName1  the source key, ROOTKEY\\SubKey\n"
           "  KeyName2  the target key; created when missing\n"
           "  /s        copy all subkeys and their values as well\n"
           "  /f        overwrite existing values without asking\n"
           "  /reg:32   the 32-bit view of the registry\n"
           "  /reg:64   the 64-bit view of the registry (the default)\n";
}

int CopyCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    if (args.size() < 2)
        return invalidSyntax(err);
    KeyArg from, to;
    if (!parseKeyArg(args[0], from) || !parseKeyArg(args[1], to))
        return invalidKeyName(err);
    bool recurse = false, force = false;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string sw = switchName(args[i]);
        bool badView = false;
        if (takeViewSwitch(sw, badView)) {
            if (badView)
                return invalidSyntax(err);
            continue;
        }
        if (sw == "s" && !recurse)
            recurse = true;
        else if (sw == "f" && !force)
            force = true;
        else
            return invalidSyntax(err);
    }
    const std::string fromPath = folded(from.path), toPath = folded(to.path);
    if (from.root == to.root && fromPath == toPath) {
        err << "ERROR: The source and destination keys cannot be the same.\n";
        return 1;
    }
    // A target inside the source would be copied into itself over and over.
    if (recurse && from.root == to.root && (fromPath.empty() || toPath.rfind(fromPath + "\\", 0) == 0)) {
        err << "ERROR: The destination key cannot be below the source key.\n";
        return 1;
    }
    TMyRegistry probe;
    applyView(probe);
    probe.SetRootKey(from.root);
    if (!probe.KeyExists("\\" + from.path))
        return openError(err, from.root, from.path);

    bool overwriteAll = force;
    struct Copier {
        CopyCommand &self;
        std::ostream &out;
        std::ostream &err;
        bool &overwriteAll;
        bool recurse;
        LONG failed = ERROR_SUCCESS;
        TKeyWalkReport skipped;

        // src and dst are open; subkeys are reached by handle, relative to them.
        void copy(TMyRegistry &src, TMyRegistry &dst, const std::string &srcName)
        {
            std::vector<std::string> names;
            src.GetValueNames(names);
            for (const std::string &name : names) {
                uint32_t code = 0;
                TRegByteArray data;
                if (!src.readValue(name, code, data)) {
                    failed = ERROR_CANTREAD;
                    continue;
                }
                if (!overwriteAll && dst.ValueExists(name) &&
                    !self.ask("Value " + (name.empty() ? std::string("(Default)") : name) +
                                  " exists, overwrite(Yes/No)? ",
                              out))
                    continue;
                try {
                    dst.writeValue(name, code, data);
                } catch (const ERegistryException &) {
                    failed = ERROR_CANTWRITE;
                }
            }
            if (!recurse)
                return;
            std::vector<std::string> subkeys;
            src.GetKeyNames(subkeys);
            for (const std::string &sub : subkeys) {
                const std::string childName = srcName + "\\" + sub;
                TMyRegistry srcChild, dstChild;
                if (!OpenSubkeyForReading(src, sub, srcChild)) {
                    skipped.skip(childName, !IsAddressableKeyName(sub));
                    continue;
                }
                self.applyView(dstChild);
                dstChild.SetRootKey(dst.CurrentKey());
                if (!dstChild.OpenKey(sub, true)) {
                    failed = ERROR_ACCESS_DENIED;
                    continue;
                }
                copy(srcChild, dstChild, childName);
            }
        }
    } copier{*this, out, err, overwriteAll, recurse, ERROR_SUCCESS, {}};
    TMyRegistry src, dst;
    applyView(src);
    applyView(dst);
    src.SetRootKey(from.root);
    dst.SetRootKey(to.root);
    {
        // With /f the copy is one transaction: a crash leaves all of it or
        // none. A copy that may stop to ask a question runs without one, since
        // a transaction holds every other process's changes until it ends.
        std::optional<vt::platform::Transaction> tx;
        if (force)
            tx.emplace();
        if (!src.OpenKeyReadOnly("\\" + from.path) || !dst.OpenKey("\\" + to.path, true))
            return failure(err, ERROR_ACCESS_DENIED);
        copier.copy(src, dst, from.fullName);
        if (tx) {
            if (const LONG rc = tx->commit(); rc != ERROR_SUCCESS && copier.failed == ERROR_SUCCESS)
                copier.failed = rc;
        }
    }
    if (copier.failed != ERROR_SUCCESS) {
        reportSkipped(err, copier.skipped);
        return failure(err, copier.failed);
    }
    if (reportSkipped(err, copier.skipped))
        return 1;
    return success(out);
}

bool CopyCommand::ask(const std::string &question, std::ostream &out)
{
    return confirm(question, out);
}

} // namespace vt::cli
