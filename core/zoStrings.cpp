#include "core/zoStrings.h"

#include <cstring>

namespace
{

const char kHexDigits[] = "0123456789ABCDEF";

uint32_t readLe32(const uint8_t *data, size_t size)
{
    uint32_t v = 0;
    for (size_t i = 0; i < size && i < 4; ++i)
        v |= uint32_t(data[i]) << (8 * i);
    return v;
}

uint64_t readLe64(const uint8_t *data, size_t size)
{
    uint64_t v = 0;
    for (size_t i = 0; i < size && i < 8; ++i)
        v |= uint64_t(data[i]) << (8 * i);
    return v;
}

uint32_t swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

} // namespace

std::string ByteToHexText(uint8_t value)
{
    return {kHexDigits[value >> 4], kHexDigits[value & 15]};
}

std::string Int32ToHexText(uint32_t value)
{
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4)
        s[i] = kHexDigits[value & 15];
    return s;
}

std::string Int64ToHexText(int64_t value)
{
    uint64_t v = uint64_t(value);
    std::string s(16, '0');
    for (int i = 15; i >= 0; --i, v >>= 4)
        s[i] = kHexDigits[v & 15];
    return s;
}

std::string FormatDWordText(uint32_t value)
{
    return "0x" + Int32ToHexText(value) + " (" + std::to_string(value) + ")";
}

std::string FormatQWordText(int64_t value)
{
    return "0x" + Int64ToHexText(value) + " (" + std::to_string(value) + ")";
}

int64_t ParseNumberText(const std::string &text)
{
    size_t blank = text.find(' ');
    if (blank == std::string::npos)
        return 0;
    if (text.compare(0, 2, "0x") != 0)
        return 0;
    if (blank < 2)
        return 0;
    return HexTextToInt64(text.substr(2, blank - 2));
}

uint32_t ParseNumberText32(const std::string &text)
{
    return uint32_t(uint64_t(ParseNumberText(text)));
}

std::string FormatHexBytes(const uint8_t *data, size_t size, char separator)
{
    std::string s;
    if (size == 0)
        return s;
    s.resize(size * 3 - 1, separator);
    for (size_t i = 0; i < size; ++i) {
        s[i * 3] = kHexDigits[data[i] >> 4];
        s[i * 3 + 1] = kHexDigits[data[i] & 15];
    }
    return s;
}

std::string FormatHexBytes(const TRegByteArray &data, char separator)
{
    return FormatHexBytes(data.data(), data.size(), separator);
}

int HexDigitValue(char c)
{
    if (c >= '1' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

uint8_t HexPairToByte(const std::string &text)
{
    if (text.size() != 2)
        return 0;
    return uint8_t(16 * HexDigitValue(text[0]) + HexDigitValue(text[1]));
}

uint32_t HexTextToInt32(const std::string &text)
{
    uint32_t v = 0;
    size_t n = text.size();
    for (size_t i = 0; i < n; ++i)
        v += uint32_t(HexDigitValue(text[n - 1 - i])) << ((4 * i) % 32);
    return v;
}

int64_t HexTextToInt64(const std::string &text)
{
    uint64_t v = 0;
    size_t n = text.size();
    for (size_t i = 0; i < n && i < 16; ++i)
        v += uint64_t(HexDigitValue(text[n - 1 - i])) << (4 * i);
    return int64_t(v);
}

std::string Int32ToBinaryText(uint32_t value)
{
    if (value == 0)
        return "0";
    std::string s;
    for (; value; value >>= 1)
        s.insert(s.begin(), char('0' + (value & 1)));
    return s;
}

std::string Int64ToBinaryText(int64_t value)
{
    uint64_t v = uint64_t(value);
    if (v == 0)
        return "0";
    std::string s;
    for (; v; v >>= 1)
        s.insert(s.begin(), char('0' + (v & 1)));
    return s;
}

uint32_t BinaryTextToInt32(const std::string &text)
{
    uint32_t v = 0;
    size_t n = text.size();
    for (size_t i = 0; i < n && i < 32; ++i)
        if (text[n - 1 - i] == '1')
            v |= uint32_t(1) << i;
    return v;
}

int64_t BinaryTextToInt64(const std::string &text)
{
    uint64_t v = 0;
    size_t n = text.size();
    for (size_t i = 0; i < n && i < 64; ++i)
        if (text[n - 1 - i] == '1')
            v |= uint64_t(1) << i;
    return int64_t(v);
}

std::string HexPairsToText(const std::string &text, bool separated)
{
    std::string out;
    const size_t step = separated ? 3 : 2;
    for (size_t i = 0; i + 1 < text.size(); i += step)
        out += char(HexPairToByte(text.substr(i, 2)));
    return out;
}

void SplitByChar(const std::string &text, char separator, std::vector<std::string> *list)
{
    if (!list)
        return;
    size_t start = 0;
    for (size_t pos; (pos = text.find(separator, start)) != std::string::npos; start = pos + 1)
        list->push_back(text.substr(start, pos - start));
    list->push_back(text.substr(start));
}

std::string ExpandLineBreakCodes(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 6, "%0D%0A") == 0) {
            out += "\r\n";
            i += 6;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string EscapeRegExpText(const std::string &text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\\' || c == '(' || c == ')' || c == '.')
            out += '\\';
        out += c;
    }
    return out;
}

std::string MultiStringBytesToText(const uint8_t *data, size_t size)
{
    std::string out;
    out.reserve(size + size / 4);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0)
            out += char(data[i]);
        else if (i + 1 == size)
            break; // the final zero ends the text
        else
            out += "\r\n";
    }
    return out;
}

TRegByteArray MultiStringTextToBytes(const std::string &text)
{
    TRegByteArray out;
    out.reserve(text.size() + 1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out.push_back(0);
            ++i;
        } else {
            out.push_back(uint8_t(text[i]));
        }
    }
    out.push_back(0);
    return out;
}

std::string DisplayTypeName(TRegDataType type)
{
    if (type == rdUnknown || type == rdCardinal || type > rdCardinal)
        return "N/A";
    return DataTypeToName(type);
}

std::string ValueDisplayText(TRegDataType type, const uint8_t *data, size_t size, bool &ok, const TDataTexts &texts)
{
    ok = true;
    switch (type) {
    case rdString:
    case rdExpandString:
        return std::string(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), size));
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger: {
        // A number read fails on data longer than the number.
        if (size > 4)
            break;
        uint32_t v = readLe32(data, size);
        return FormatDWordText(type == rdBigEndianInteger ? swap32(v) : v);
    }
    case rdInt64:
    case rdLittleEndianInt64:
        if (size > 8)
            break;
        return FormatQWordText(int64_t(readLe64(data, size)));
    case rdMultiString:
        return MultiStringBytesToText(data, size);
    case rdNone:
    case rdBinary:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList:
        if (size < 1)
            return texts.binaryZero;
        return FormatHexBytes(data, size, ' ');
    default:
        return texts.notSupported;
    }
    ok = false;
    return texts.error;
}

std::string SearchableDataText(TRegDataType type, const uint8_t *data, size_t size)
{
    switch (type) {
    case rdNone:
    case rdBinary:
    case rdLink:
    case rdResourceList:
    case rdFullResourceDescriptor:
    case rdResourceRequirementsList:
        return FormatHexBytes(data, size, ' ');
    case rdString:
    case rdExpandString:
        return std::string(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), size));
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger: {
        if (size > 4)
            return {};
        uint32_t v = readLe32(data, size);
        return FormatDWordText(type == rdBigEndianInteger ? swap32(v) : v);
    }
    case rdMultiString: {
        std::string s(reinterpret_cast<const char *>(data), size);
        for (char &c : s)
            if (c == 0)
                c = ' ';
        return s;
    }
    case rdInt64:
    case rdLittleEndianInt64:
        if (size > 8)
            return {};
        return FormatQWordText(int64_t(readLe64(data, size)));
    default:
        return {};
    }
}
