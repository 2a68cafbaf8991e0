// recover HIVEFILE [/k] [/v] [/csv] [/reg FILE]
//
// Lists the keys and values deleted from a hive file that its free cells,
// the slack of its cells and bins beyond its declared end still hold. The
// hive file is only read. Exit 0 with items, 2 with none, 1 on error.
#include "cli/ValueText.h"
#include "cli/Verbs.h"

#include "recovery/HiveRecovery.h"
#include "recovery/RecoveryExport.h"
#include "regfile/RegFileWriter.h"

#include <cstdio>
#include <filesystem>
#include <ostream>

namespace vt::cli
{

using namespace vt::recovery;

namespace
{

std::string hex32(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

std::string hexBytes(const std::vector<uint8_t> &data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s(data.size() * 2, '0');
    for (size_t i = 0; i < data.size(); ++i) {
        s[2 * i] = digits[data[i] >> 4];
        s[2 * i + 1] = digits[data[i] & 15];
    }
    return s;
}

std::string csvField(const std::string &s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"')
            q += '"';
        q += c;
    }
    return q + "\"";
}

std::string keyNote(const RecoveredKey &k)
{
    std::string s =
        k.deleted() ? "[deleted key at " + hex32(k.offset) + ", " + originName(k.origin) : std::string("[live key");
    if (k.lastWrite)
        s += ", last written " + fileTimeText(k.lastWrite);
    if (k.nameTruncated)
        s += ", name cut short";
    if (!k.className.empty())
        s += ", class " + k.className;
    if (!k.security.empty())
        s += ", security descriptor of " + std::to_string(k.security.size()) + " bytes";
    return s + "]";
}

std::string valueNote(const RecoveredValue &v)
{
    std::string s = "[deleted value at " + hex32(v.offset) + ", " + originName(v.origin) + ", " +
                    std::to_string(v.dataSize) + " bytes, data " + dataStateName(v.dataState);
    if (v.nameTruncated)
        s += ", name cut short";
    return s + "]";
}

std::string joinPath(const std::string &base, const std::string &path)
{
    return path.empty() ? base : base + "\\" + path;
}

} // namespace

std::string RecoverCommand::usage() const
{
    return "vantrel-cli RECOVER HiveFile [/k] [/v] [/csv] [/reg FileName]\n"
           "\n"
           "  HiveFile  a registry hive file; it is only read, never changed\n"
           "  /k        list deleted keys\n"
           "  /v        list deleted values (without /k and /v: both)\n"
           "  /csv      one comma-separated row per item, with a header row\n"
           "  /reg      also write the items to a version 5 registry file, under\n"
           "            HKEY_CURRENT_USER\\<name of the hive file>\n"
           "Each item shows its file offset, where it was found (free cell, slack,\n"
           "remnant bin), a key's last-write time and how much of a value's data\n"
           "survived. Exit code 0: items found; 2: none; 1: error.\n";
}

int RecoverCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    bool keys = false, values = false, csv = false;
    std::string hivePath, regPath;
    for (size_t i = 0; i < args.size(); ++i) {
        // An absolute file name begins with the switch character: a word that
        // is none of the switches is a file name.
        std::string sw = switchName(args[i]);
        if (sw != "k" && sw != "v" && sw != "csv" && sw != "reg")
            sw.clear();
        if (sw == "k")
            keys = true;
        else if (sw == "v")
            values = true;
        else if (sw == "csv")
            csv = true;
        else if (sw == "reg") {
            if (i + 1 >= args.size() || !regPath.empty())
                return invalidSyntax(err);
            regPath = args[++i];
        } else if (!hivePath.empty())
            return invalidSyntax(err);
        else
            hivePath = args[i];
    }
    if (hivePath.empty())
        return invalidSyntax(err);
    if (!keys && !values)
        keys = values = true;

    std::error_code ec;
    if (!regPath.empty() && std::filesystem::exists(regPath, ec) &&
        std::filesystem::equivalent(regPath, hivePath, ec)) {
        err << "ERROR: The registry file would replace the hive file itself.\n";
        return 1;
    }

    RecoveryResult result;
    std::string error;
    if (!recoverHiveFile(hivePath, result, error)) {
        err << "ERROR: " << error << "\n";
        return 1;
    }
    const std::string base = std::filesystem::path(hivePath).filename().string();

    size_t items = 0;
    if (csv)
        out << "kind,offset,cell_size,origin,path,name,last_write,type,data_size,data_state,data,data_hex\n";
    auto printValue = [&](const RecoveredValue &v, const std::string &keyPath) {
        ++items;
        const std::vector<uint8_t> data = apiData(v);
        if (csv) {
            out << "value," << hex32(v.offset) << "," << v.cellSize << "," << originName(v.origin) << ","
                << csvField(keyPath) << "," << csvField(v.name) << ",," << typeName(v.type) << "," << v.dataSize << ","
                << dataStateName(v.dataState) << "," << csvField(dataText(v.type, data)) << "," << hexBytes(v.data)
                << "\n";
        } else {
            out << valueLine(v.name, v.type, data) << "    " << valueNote(v) << "\n";
        }
    };

    // Keys in path order; a live key shows only as the place of deleted values.
    std::vector<std::pair<std::string, uint32_t>> order;
    for (uint32_t i = 0; i < result.keys.size(); ++i) {
        const RecoveredKey &k = result.keys[i];
        if ((keys && k.deleted()) || (values && !k.values.empty()))
            order.emplace_back(displayPath(k), i);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &[path, i] : order) {
        const RecoveredKey &k = result.keys[i];
        const std::string full = joinPath(base, path);
        if (csv) {
            if (keys && k.deleted()) {
                ++items;
                out << "key," << hex32(k.offset) << "," << k.cellSize << "," << originName(k.origin) << ","
                    << csvField(full) << "," << csvField(k.name) << "," << fileTimeText(k.lastWrite) << ",,,,,\n";
            }
        } else {
            out << full << "    " << keyNote(k) << "\n";
            if (keys && k.deleted())
                ++items;
        }
        if (values)
            for (uint32_t v : k.values)
                printValue(result.values[v], full);
        if (!csv)
            out << "\n";
    }
    if (values) {
        bool header = false;
        for (const RecoveredValue &v : result.values) {
            if (v.key >= 0)
                continue;
            if (!csv && !header) {
                out << joinPath(base, kUnplacedValues) << "\n";
                header = true;
            }
            printValue(v, csv ? std::string() : joinPath(base, kUnplacedValues));
        }
        if (header)
            out << "\n";
    }
    for (const std::string &note : result.notes)
        err << "WARNING: " << note << "\n";

    if (!regPath.empty()) {
        try {
            TRegFileOutput file(regPath);
            writeRegFile("HKEY_CURRENT_USER\\" + base, recoveredBlocks(result, keys, values), file);
            file.commit();
        } catch (const std::exception &e) {
            err << "ERROR: " << e.what() << "\n";
            return 1;
        }
    }
    if (!csv)
        out << items << " deleted item(s) found.\n";
    return items ? 0 : 2;
}

} // namespace vt::cli
