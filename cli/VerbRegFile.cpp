#include "cli/VerbRegFile.h"

#include "core/kltRegistry.h"
#include "platform/vtPlatform.h"
#include "regfile/RegFileReader.h"
#include "regfile/RegFileWriter.h"
#include "regfile/RegKeyWalk.h"

#include <filesystem>
#include <ostream>

namespace vt::cli
{

namespace
{

// Native absolute paths begin with the switch character: a word beginning
// with "/" that is none of the verb's switches is a file name, also one at
// the top of the tree (/fix.reg), as the window program takes it.
bool isPathWord(const std::string &word)
{
    return word.size() > 1 && word[0] == '/';
}

} // namespace

std::string ExportCommand::usage() const
{
    return "vantrel-cli EXPORT KeyName FileName [/y] [/reg:4] [/reg:32 | /reg:64]\n"
           "\n"
           "  KeyName   ROOTKEY[\\SubKey], ROOTKEY one of HKLM, HKCU, HKCR, HKU, HKCC\n"
           "  FileName  the registry file to write\n"
           "  /y        overwrite an existing file without asking\n"
           "  /reg:4    write a version 4 file (8-bit text, REGEDIT4) instead of version 5 (UTF-16)\n"
           "  /reg:32   read the 32-bit view of the registry\n"
           "  /reg:64   read the 64-bit view of the registry (the default)\n"
           "The key is written with all its values and subkeys.\n";
}

int ExportCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    std::vector<std::string> words;
    bool overwrite = false, version5 = true, bad = false;
    for (const std::string &a : args) {
        const std::string sw = switchName(a);
        if (sw == "y")
            overwrite = true;
        else if (sw == "reg:4")
            version5 = false;
        else if (takeViewSwitch(sw, bad)) {
            if (bad)
                return invalidSyntax(err);
        } else if (!sw.empty() && !isPathWord(a))
            return invalidSyntax(err);
        else
            words.push_back(a);
    }
    if (words.size() != 2)
        return invalidSyntax(err);
    KeyArg key;
    if (!parseKeyArg(words[0], key))
        return invalidKeyName(err);
    const bool use64 = m_bitness == 64;
    {
        TMyRegistry reg;
        applyView(reg);
        reg.SetRootKey(key.root);
        if (!reg.OpenKeyReadOnly("\\" + key.path))
            return openError(err, key.root, key.path);
    }

    // A drive path (C:\...) goes through the drive map as save, restore and
    // load take it; the question names the file as the user wrote it.
    const std::string fileName = vt::platform::toNativePath(words[1]);
    std::error_code ec;
    if (!overwrite && std::filesystem::exists(fileName, ec) &&
        !confirm("File " + words[1] + " already exists. Overwrite (Yes/No)?", out))
        return cancelled(out);
    TKeyWalkReport skipped;
    TRegExportOptions options;
    options.rawTypes = true;
    options.skipped = &skipped;
    try {
        ExportKeyToFile(key.root, "\\" + key.path, fileName, true, use64, version5, options);
    } catch (const std::exception &e) {
        err << "ERROR: " << e.what() << "\n";
        return 1;
    }
    // The file is written, but without what could not be read: not a success.
    if (reportSkipped(err, skipped))
        return 1;
    return success(out);
}

std::string ImportCommand::usage() const
{
    return "vantrel-cli IMPORT FileName [/reg:32 | /reg:64]\n"
           "\n"
           "  FileName  a registry file of version 5 (UTF-16 with byte order mark) or 4 (REGEDIT4)\n"
           "  /reg:32   write the keys in the 32-bit view of the registry\n"
           "  /reg:64   write the keys in the 64-bit view of the registry (the default)\n"
           "Reports the number of keys and values applied, and on stderr the lines it ignored.\n";
}

int ImportCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    std::vector<std::string> words;
    bool bad = false;
    for (const std::string &a : args) {
        const std::string sw = switchName(a);
        if (takeViewSwitch(sw, bad)) {
            if (bad)
                return invalidSyntax(err);
            continue;
        }
        if (!sw.empty() && !isPathWord(a))
            return invalidSyntax(err);
        words.push_back(a);
    }
    if (words.size() != 1)
        return invalidSyntax(err);
    TMyRegistryReader reader;
    reader.WriteToRegistry = true;
    reader.RawTypes = true;
    reader.SetBitness(m_bitness);
    try {
        if (!reader.LoadFromFile(vt::platform::toNativePath(words[0]))) {
            err << "ERROR: " << reader.LastError() << "\n";
            return 1;
        }
    } catch (const std::exception &e) {
        err << "ERROR: " << e.what() << "\nThe import stopped there after "
            << counted(reader.KeysApplied(), "key", "keys") << " and "
            << counted(reader.ValuesApplied(), "value", "values") << ".\n";
        return 1;
    }
    out << "Imported " << counted(reader.KeysApplied(), "key", "keys") << " and "
        << counted(reader.ValuesApplied(), "value", "values") << ".\n";
    if (reader.IgnoredLines()) {
        err << counted(reader.IgnoredLines(), "line was", "lines were") << " ignored, "
            << (reader.IgnoredLines() > reader.FirstIgnoredLines().size() ? "the first: line" : "line")
            << (reader.FirstIgnoredLines().size() == 1 ? "" : "s");
        const char *sep = " ";
        for (size_t line : reader.FirstIgnoredLines()) {
            err << sep << line;
            sep = ", ";
        }
        err << ".\n";
    }
    // A key that could not be created is a failure, not a line the file
    // should not have held.
    if (reader.KeysFailed()) {
        err << "ERROR: " << counted(reader.KeysFailed(), "key", "keys") << " could not be created or opened.\n";
        return 1;
    }
    return success(out);
}

} // namespace vt::cli
