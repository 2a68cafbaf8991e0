// add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
#include "cli/Verbs.h"

#include "core/kltRegistry.h"

#include <cctype>
#include <cstdlib>
#include <ostream>

namespace vt::cli
{

namespace
{

struct TypeName {
    const char *name;
    uint32_t code;
};

const TypeName kTypes[] = {
    {"REG_SZ", REG_SZ},
    {"REG_MULTI_SZ", REG_MULTI_SZ},
    {"REG_EXPAND_SZ", REG_EXPAND_SZ},
    {"REG_DWORD", REG_DWORD},
    {"REG_QWORD", REG_QWORD},
    {"REG_BINARY", REG_BINARY},
    {"REG_NONE", REG_NONE},
    {"REG_DWORD_LITTLE_ENDIAN", REG_DWORD_LITTLE_ENDIAN},
    {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
    {"REG_QWORD_LITTLE_ENDIAN", REG_QWORD_LITTLE_ENDIAN},
};

bool typeCode(const std::string &text, uint32_t &code)
{
    std::string upper = text;
    for (char &c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    for (const TypeName &t : kTypes)
        if (upper == t.name) {
            code = t.code;
            return true;
        }
    return false;
}

// Decimal, or hexadecimal after 0x; nothing else, and within max.
bool parseNumber(const std::string &text, uint64_t max, uint64_t &value)
{
    if (text.empty())
        return false;
    int base = 10;
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.substr(2);
    }
    uint64_t v = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        if (v > (max - uint64_t(d)) / uint64_t(base))
            return false;
        v = v * uint64_t(base) + uint64_t(d);
    }
    value = v;
    return true;
}

// Builds the data bytes; on bad data sets the message and returns false.
bool buildData(uint32_t code, const std::string &text, const std::string &separator, TRegByteArray &out,
               std::string &message)
{
    out.clear();
    switch (code) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_NONE:
        out.assign(text.begin(), text.end());
        out.push_back(0);
        return true;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        uint64_t v = 0;
        if (!text.empty() && !parseNumber(text, 0xFFFFFFFFull, v)) {
            message = "ERROR: Invalid syntax. Specify valid numeric value for '/d'.";
            return false;
        }
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> (code == REG_DWORD ? 8 * i : 24 - 8 * i)));
        return true;
    }
    case REG_QWORD: {
        uint64_t v = 0;
        if (!text.empty() && !parseNumber(text, ~0ull, v)) {
            message = "ERROR: Invalid syntax. Specify valid numeric value for '/d'.";
            return false;
        }
        for (int i = 0; i < 8; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
        return true;
    }
    case REG_BINARY: {
        std::string hex = text;
        if (hex.size() % 2)
            hex.insert(hex.begin(), '0');
        for (size_t i = 0; i < hex.size(); i += 2) {
            if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
                !std::isxdigit(static_cast<unsigned char>(hex[i + 1]))) {
                message = "ERROR: Invalid syntax. Specify valid hexadecimal value for '/d'.";
                out.clear();
                return false;
            }
            out.push_back(uint8_t(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
        }
        return true;
    }
    case REG_MULTI_SZ: {
        std::vector<std::string> entries;
        size_t start = 0;
        while (start < text.size()) {
            size_t pos = text.find(separator, start);
            if (pos == std::string::npos)
                pos = text.size();
            entries.push_back(text.substr(start, pos - start));
            start = pos + separator.size();
        }
        for (const std::string &e : entries) {
            // An empty entry would end the list early when read back.
            if (e.empty()) {
                message = "ERROR: Invalid syntax. Specify valid string for '/d': empty entries are not allowed.";
                return false;
            }
            out.insert(out.end(), e.begin(), e.end());
            out.push_back(0);
        }
        out.push_back(0);
        return true;
    }
    }
    return false;
}

} // namespace

std::string AddCommand::usage() const
{
    return "vantrel-cli ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]\n"
           "\n"
           "  KeyName  ROOTKEY\\SubKey, ROOTKEY one of HKLM, HKCU, HKCR, HKU, HKCC\n"
           "  /v       the value to add\n"
           "  /ve      the default value (the value without a name)\n"
           "  /t       REG_SZ (default), REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD,\n"
           "           REG_BINARY, REG_NONE, REG_DWORD_BIG_ENDIAN\n"
           "  /s       separator of REG_MULTI_SZ entries in Data, one character; \\0 when absent\n"
           "  /d       the data: numbers in decimal or 0x hex, REG_BINARY as hex digits\n"
           "  /f       overwrite an existing value without asking\n"
           "  /reg:32  the 32-bit view of the registry\n"
           "  /reg:64  the 64-bit view of the registry (the default)\n";
}

int AddCommand::execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    if (usageAsked(args, out))
        return 0;
    if (args.empty())
        return invalidSyntax(err);
    KeyArg key;
    if (!parseKeyArg(args[0], key))
        return invalidKeyName(err);

    bool haveValue = false, valueEmpty = false, haveType = false, haveSep = false, haveData = false, force = false;
    std::string valueName, typeText, separator = "\\0", data;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string sw = switchName(args[i]);
        bool badView = false;
        if (takeViewSwitch(sw, badView)) {
            if (badView)
                return invalidSyntax(err);
            continue;
        }
        const bool hasNext = i + 1 < args.size();
        if (sw == "v" && !haveValue && hasNext) {
            haveValue = true;
            valueName = args[++i];
        } else if (sw == "ve" && !valueEmpty) {
            valueEmpty = true;
        } else if (sw == "t" && !haveType && hasNext) {
            haveType = true;
            typeText = args[++i];
        } else if (sw == "s" && !haveSep && hasNext) {
            haveSep = true;
            separator = args[++i];
            if (separator.size() != 1)
                return invalidSyntax(err);
        } else if (sw == "d" && !haveData && hasNext) {
            haveData = true;
            data = args[++i];
        } else if (sw == "f" && !force) {
            force = true;
        } else {
            return invalidSyntax(err);
        }
    }
    if (haveValue && valueEmpty)
        return invalidSyntax(err);

    uint32_t code = REG_SZ;
    if (haveType && !typeCode(typeText, code)) {
        err << "ERROR: Invalid value type '" << typeText
            << "'. Use REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE.\n";
        return 1;
    }
    if (haveSep && code != REG_MULTI_SZ)
        return invalidSyntax(err);
    const bool writeValue = haveValue || valueEmpty || haveType || haveData;
    TRegByteArray bytes;
    if (writeValue) {
        std::string message;
        if (!buildData(code, data, separator, bytes, message)) {
            err << message << "\n";
            return 1;
        }
    }

    if (writeValue && !force) {
        TMyRegistry probe;
        applyView(probe);
        probe.SetRootKey(key.root);
        if (probe.OpenKeyReadOnly("\\" + key.path) && probe.ValueExists(valueName) &&
            !confirm("Value " + (valueName.empty() ? std::string("(Default)") : valueName) +
                         " exists, overwrite(Yes/No)? ",
                     out))
            return cancelled(out);
    }

    // Straight calls here, so a failure reports the system's own reason.
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExA(key.root, key.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS | viewFlags(), nullptr, &handle, nullptr);
    if (rc != ERROR_SUCCESS)
        return failure(err, rc);
    if (writeValue) {
        static const BYTE none = 0;
        rc = RegSetValueExA(handle, valueName.c_str(), 0, code, bytes.empty() ? &none : bytes.data(),
                            DWORD(bytes.size()));
    }
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS)
        return failure(err, rc);
    return success(out);
}

} // namespace vt::cli
