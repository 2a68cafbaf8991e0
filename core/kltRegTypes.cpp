#include "core/kltRegistry.h"

#include <cstring>
#include <string>

namespace
{

struct RootName {
    HKEY key;
    const char *name;
    const char *shortName;
};

const RootName kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {HKEY_USERS, "HKEY_USERS", "HKUS"},
    {HKEY_PERFORMANCE_DATA, "HKEY_PERFORMANCE_DATA", "HKPD"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"},
    {HKEY_DYN_DATA, "HKEY_DYN_DATA", "HKDD"},
};

struct TypeRow {
    uint32_t code;
    const char *name;
    int image;
};

const TypeRow kTypes[16] = {
    {0, "REG_NONE", -1},
    {REG_NONE, "REG_NONE", 4},
    {REG_SZ, "REG_SZ", 3},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ", 3},
    {REG_BINARY, "REG_BINARY", 4},
    {REG_DWORD, "REG_DWORD", 4},
    {REG_DWORD_LITTLE_ENDIAN, "REG_DWORD_LITTLE_ENDIAN", 4},
    {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN", 4},
    {REG_LINK, "REG_LINK", 4},
    {REG_MULTI_SZ, "REG_MULTI_SZ", 3},
    {REG_RESOURCE_LIST, "REG_RESOURCE_LIST", 4},
    {REG_FULL_RESOURCE_DESCRIPTOR, "REG_FULL_RESOURCE_DESCRIPTOR", 4},
    {REG_RESOURCE_REQUIREMENTS_LIST, "REG_RESOURCE_REQUIREMENTS_LIST", 4},
    {REG_QWORD, "REG_QWORD", 4},
    {REG_QWORD_LITTLE_ENDIAN, "REG_QWORD_LITTLE_ENDIAN", 4},
    {REG_DWORD, "REG_DWORD", -1},
};

uint32_t handleValue(HKEY key)
{
    return uint32_t(uintptr_t(key));
}

} // namespace

void TMemoryStream::write(const void *data, size_t count)
{
    if (position + count > bytes.size())
        bytes.resize(position + count);
    if (count)
        std::memcpy(bytes.data() + position, data, count);
    position += count;
}

size_t TMemoryStream::read(void *data, size_t count)
{
    size_t n = position < bytes.size() ? std::min(count, bytes.size() - position) : 0;
    if (n)
        std::memcpy(data, bytes.data() + position, n);
    position += n;
    return n;
}

const std::vector<HKEY> &RootKeyList()
{
    static const std::vector<HKEY> list = [] {
        std::vector<HKEY> l;
        for (const auto &r : kRoots)
            l.push_back(r.key);
        return l;
    }();
    return list;
}

std::string RootKeyToName(HKEY root)
{
    for (const auto &r : kRoots)
        if (r.key == root)
            return r.name;
    return std::to_string(handleValue(root));
}

std::string RootKeyToShortName(HKEY root)
{
    for (const auto &r : kRoots)
        if (r.key == root)
            return r.shortName;
    return std::to_string(handleValue(root));
}

HKEY NameToRootKey(const std::string &name)
{
    for (const auto &r : kRoots)
        if (name == r.name || name == r.shortName)
            return r.key;
    return nullptr;
}

HKEY ParseRootName(const std::string &name)
{
    auto same = [&name](const char *candidate) {
        const size_t n = std::strlen(candidate);
        if (name.size() != n)
            return false;
        for (size_t i = 0; i < n; ++i) {
            const unsigned char c = static_cast<unsigned char>(name[i]);
            const char upper = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : char(c);
            if (upper != candidate[i])
                return false;
        }
        return true;
    };
    for (const auto &r : kRoots)
        if (same(r.name) || same(r.shortName))
            return r.key;
    return same("HKU") ? HKEY_USERS : nullptr;
}

uint32_t DataTypeToCode(TRegDataType type)
{
    return type <= rdCardinal ? kTypes[type].code : 0;
}

TRegDataType CodeToDataType(uint32_t code)
{
    static const TRegDataType map[12] = {rdNone,
                                         rdString,
                                         rdExpandString,
                                         rdBinary,
                                         rdInteger,
                                         rdBigEndianInteger,
                                         rdLink,
                                         rdMultiString,
                                         rdResourceList,
                                         rdFullResourceDescriptor,
                                         rdResourceRequirementsList,
                                         rdInt64};
    return code < 12 ? map[code] : rdUnknown;
}

std::string DataTypeToName(TRegDataType type)
{
    return type <= rdCardinal ? kTypes[type].name : "REG_NONE";
}

TRegDataType NameToDataType(const std::string &name)
{
    for (int i = 0; i <= rdCardinal; ++i)
        if (name == kTypes[i].name)
            return TRegDataType(i);
    return rdUnknown;
}

int DataTypeImageIndex(TRegDataType type)
{
    return type <= rdCardinal ? kTypes[type].image : -1;
}

bool IsRelativePath(const std::string &path)
{
    return path.empty() || path[0] != '\\';
}

bool SplitValuePath(const std::string &text, HKEY &root, std::string &parentPath, std::string &lastName)
{
    size_t first = text.find('\\');
    if (first == std::string::npos)
        return false;
    root = NameToRootKey(text.substr(0, first));
    if (!root)
        return false;
    size_t last = text.rfind('\\');
    parentPath = text.substr(first, last - first + 1);
    lastName = text.substr(last + 1);
    return true;
}

void CollapseDoubleBackslashes(std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (!(c == '\\' && !out.empty() && out.back() == '\\'))
            out += c;
    text.swap(out);
}
