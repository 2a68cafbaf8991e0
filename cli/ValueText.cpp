#include "cli/ValueText.h"

#include "core/zoStrings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace vt::cli
{

std::string typeName(uint32_t code)
{
    if (code <= REG_QWORD)
        return DataTypeToName(CodeToDataType(code));
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", code);
    return buf;
}

std::string dataText(uint32_t code, const TRegByteArray &data)
{
    char buf[32];
    switch (code) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        const char *p = reinterpret_cast<const char *>(data.data());
        return std::string(p, strnlen(p, data.size()));
    }
    case REG_MULTI_SZ: {
        size_t end = data.size();
        // The terminators of the last entry and of the list are not shown.
        for (int i = 0; i < 2 && end > 0 && data[end - 1] == 0; ++i)
            --end;
        std::string s;
        for (size_t i = 0; i < end; ++i) {
            if (data[i])
                s += char(data[i]);
            else
                s += "\\0";
        }
        return s;
    }
    case REG_DWORD:
        if (data.size() == 4) {
            const uint32_t v =
                uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
            std::snprintf(buf, sizeof buf, "0x%x", v);
            return buf;
        }
        break;
    case REG_DWORD_BIG_ENDIAN:
        if (data.size() == 4) {
            const uint32_t v =
                uint32_t(data[3]) | uint32_t(data[2]) << 8 | uint32_t(data[1]) << 16 | uint32_t(data[0]) << 24;
            std::snprintf(buf, sizeof buf, "0x%x", v);
            return buf;
        }
        break;
    case REG_QWORD:
        if (data.size() == 8) {
            uint64_t v = 0;
            for (int i = 7; i >= 0; --i)
                v = (v << 8) | data[size_t(i)];
            std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
            return buf;
        }
        break;
    default:
        break;
    }
    // Binary data runs to hundreds of kilobytes and a search tests all of it.
    static const char digits[] = "0123456789ABCDEF";
    std::string hex(data.size() * 2, '0');
    for (size_t i = 0; i < data.size(); ++i) {
        hex[2 * i] = digits[data[i] >> 4];
        hex[2 * i + 1] = digits[data[i] & 15];
    }
    return hex;
}

std::string valueLine(const std::string &name, uint32_t code, const TRegByteArray &data)
{
    return "    " + (name.empty() ? std::string("(Default)") : name) + "    " + typeName(code) + "    " +
           dataText(code, data);
}

} // namespace vt::cli
