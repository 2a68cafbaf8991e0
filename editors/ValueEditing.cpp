#include "editors/ValueEditing.h"

#include "core/zoStrings.h"

#include <charconv>

namespace vt::editors
{

bool HasDataEditor(TRegDataType type)
{
    switch (type) {
    case rdString:
    case rdExpandString:
    case rdInteger:
    case rdLittleEndianInteger:
    case rdBigEndianInteger:
    case rdMultiString:
    case rdInt64:
    case rdLittleEndianInt64:
        return true;
    default:
        return false;
    }
}

std::vector<TRegDataType> AllowedTypeChanges(TRegDataType current)
{
    static const std::vector<TRegDataType> strings = {rdString, rdExpandString, rdMultiString};
    static const std::vector<TRegDataType> numbers = {rdInteger, rdLittleEndianInteger, rdBigEndianInteger,
                                                      rdInt64,   rdLittleEndianInt64,   rdCardinal};
    const std::vector<TRegDataType> *group = nullptr;
    for (const auto *g : {&strings, &numbers})
        for (TRegDataType t : *g)
            if (t == current)
                group = g;
    std::vector<TRegDataType> targets;
    if (group)
        for (TRegDataType t : *group)
            if (t != current)
                targets.push_back(t);
    return targets;
}

bool ReadDecimalField(const std::string &text, bool is64, int64_t &number)
{
    int64_t value = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return false;
    number = is64 ? value : int64_t(uint32_t(uint64_t(value)));
    return true;
}

bool ReadBinaryField(const std::string &text, bool is64, int64_t &number)
{
    if (text.empty() || text.find_first_not_of("01") != std::string::npos)
        return false;
    const size_t first = text.find('1');
    const size_t significant = first == std::string::npos ? 0 : text.size() - first;
    if (significant > (is64 ? 64u : 32u))
        return false;
    number = is64 ? BinaryTextToInt64(text) : int64_t(BinaryTextToInt32(text));
    return true;
}

std::string DecimalFieldText(int64_t number, bool is64)
{
    return is64 ? std::to_string(number) : std::to_string(uint32_t(uint64_t(number)));
}

std::string HexFieldText(int64_t number, bool is64)
{
    return is64 ? Int64ToHexText(number) : Int32ToHexText(uint32_t(uint64_t(number)));
}

std::string BinaryFieldText(int64_t number, bool is64)
{
    return is64 ? Int64ToBinaryText(number) : Int32ToBinaryText(uint32_t(uint64_t(number)));
}

int64_t ReadHexField(const std::string &text, bool is64)
{
    return is64 ? HexTextToInt64(text) : int64_t(HexTextToInt32(text));
}

} // namespace vt::editors
