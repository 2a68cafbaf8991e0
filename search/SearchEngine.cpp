#include "search/SearchEngine.h"

#include "core/zoStrings.h"

#include <cstring>

namespace vt::search
{

namespace
{

bool isStringType(TRegDataType type)
{
    return type == rdString || type == rdExpandString || type == rdMultiString;
}

bool isNumericType(TRegDataType type)
{
    return type == rdInteger || type == rdLittleEndianInteger || type == rdBigEndianInteger || type == rdInt64 ||
           type == rdLittleEndianInt64;
}

bool isBinaryType(TRegDataType type)
{
    return type == rdBinary || type == rdLink || type == rdResourceList || type == rdFullResourceDescriptor ||
           type == rdResourceRequirementsList;
}

struct TSearchLocation {
    HKEY RootKey;
    std::string KeyPath; // always ends with a backslash
    uint8_t ViewMode;
};

int primaryWeight(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        return 300 + (c - 'a');
    if (c >= 'A' && c <= 'Z')
        return 300 + (c - 'A');
    if (c >= '0' && c <= '9')
        return 200 + (c - '0');
    if (c >= 0x80)
        return 400 + c;
    return c;
}

bool ignoredAtFirst(unsigned char c)
{
    return c == '-' || c == '\'';
}

} // namespace

bool KeyDatePasses(TDateTime t, uint8_t mode, TDateTime d1, TDateTime d2)
{
    if (t == 0)
        return true;
    switch (mode) {
    case dmNewer:
        return t >= d1;
    case dmOlder:
        return t <= d1;
    case dmBetween:
        return d1 <= t && t <= d2;
    case dmOutside:
        return t <= d1 || t >= d2;
    default:
        return true;
    }
}

bool ValidHexTerm(const std::string &term)
{
    return MatchText(term, "^([0-9a-fA-F][0-9a-fA-F][ ]?)+$", csRegExpr, false);
}

std::string HexTermToText(const std::string &term)
{
    std::string digits;
    for (char c : term)
        if (c != ' ')
            digits += c;
    std::string out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out += char(HexPairToByte(digits.substr(i, 2)));
    return out;
}

int CompareCaptions(const std::string &a, const std::string &b)
{
    const auto *pa = reinterpret_cast<const unsigned char *>(a.data());
    const auto *pb = reinterpret_cast<const unsigned char *>(b.data());
    // Primary: letters without case, hyphens and apostrophes left out.
    size_t i = 0, j = 0;
    int caseOrder = 0;
    for (;;) {
        while (i < a.size() && ignoredAtFirst(pa[i]))
            ++i;
        while (j < b.size() && ignoredAtFirst(pb[j]))
            ++j;
        if (i == a.size() || j == b.size())
            break;
        const int wa = primaryWeight(pa[i]), wb = primaryWeight(pb[j]);
        if (wa != wb)
            return wa < wb ? -1 : 1;
        if (!caseOrder && pa[i] != pb[j])
            caseOrder = pa[i] > pb[j] ? -1 : 1; // lower case (the larger code) first
        ++i;
        ++j;
    }
    const bool aDone = i == a.size(), bDone = j == b.size();
    if (aDone != bDone)
        return aDone ? -1 : 1;
    if (caseOrder)
        return caseOrder;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// ---------------------------------------------------------------------------
// The walk

TSearchWalk::TSearchWalk(const TSearchOptions &options)
    : m_options(options), m_pattern(std::make_unique<TPattern>(options.Pattern, options.Style, options.IgnoreCase))
{
}

TSearchWalk::~TSearchWalk() = default;

bool TSearchWalk::dataTypeWanted(TRegDataType type) const
{
    if (m_options.HighSpeed)
        return true;
    if (isStringType(type))
        return m_options.TypeStrings;
    if (isNumericType(type))
        return m_options.TypeNumerics;
    if (isBinaryType(type))
        return m_options.TypeBinary;
    return true; // rdUnknown, rdNone, rdCardinal belong to no group
}

bool TSearchWalk::keyDatePasses(HKEY root, const std::string &path, uint8_t viewMode)
{
    TMyRegistry64 dates;
    dates.SetRootKey(root);
    dates.SetViewMode(viewMode);
    if (!dates.OpenKeyReadOnly(path))
        return false;
    TRegKeyInfo info;
    if (!dates.GetKeyInfo(info))
        return false;
    return KeyDatePasses(KeyTimeToDateTime(info.LastWriteTime), m_options.DateMode, m_options.Date1,
                         m_options.Date2);
}

void TSearchWalk::SearchBranch(HKEY root, const std::string &startPath, uint8_t viewMode)
{
    const std::string rootName = RootKeyToName(root);
    std::vector<TSearchLocation> stack;
    stack.push_back({root, startPath, viewMode});
    TMyRegistry64 reg;
    reg.SetRootKey(root);
    std::vector<std::string> subkeys, values;
    while (!stack.empty()) {
        TSearchLocation location = std::move(stack.back());
        stack.pop_back();
        if (StopRequested())
            return;
        std::string &path = location.KeyPath;
        reg.SetViewMode(location.ViewMode);
        if (path.empty() || path.back() != '\\')
            path += '\\';
        if (!m_options.HighSpeed && OnStatus)
            OnStatus(root, path);
        if (!reg.OpenKeyReadOnly(path))
            continue;
        ++m_keys;
        reg.GetKeyNames(subkeys);
        reg.GetValueNames(values);
        const std::string caption = rootName + path;

        if (m_options.Values) {
            for (const std::string &name : values) {
                if (!m_pattern->Match(name))
                    continue;
                TSearchListItem row;
                row.Caption = caption;
                row.RootKey = root;
                row.KeyPath = path;
                row.ValueName = name;
                row.ViewMode = location.ViewMode;
                row.ImageIndex = rkValueName;
                OnResult(std::move(row));
            }
        }
        if (m_options.Data) {
            for (const std::string &name : values) {
                try {
                    uint32_t code = 0;
                    TRegByteArray data; // fresh: readValue's first try is as large as the buffer's capacity
                    if (!reg.readValue(name, code, data))
                        continue;
                    const TRegDataType type = CodeToDataType(code);
                    if (!dataTypeWanted(type))
                        continue;
                    std::string text = SearchableDataText(type, data.data(), data.size());
                    if (!m_pattern->Match(text))
                        continue;
                    TSearchListItem row;
                    row.Caption = caption;
                    row.RootKey = root;
                    row.KeyPath = path;
                    row.ValueName = name;
                    row.DataType = type;
                    row.DataText = std::move(text);
                    row.ViewMode = location.ViewMode;
                    row.ImageIndex = isStringType(type) ? rkStringData : rkData;
                    OnResult(std::move(row));
                } catch (...) {
                    // One unreadable value yields no row; the walk goes on.
                }
            }
        }
        if (m_options.Keys) {
            for (const std::string &name : subkeys) {
                if (name.empty())
                    continue;
                try {
                    if (!m_pattern->Match(name))
                        continue;
                    if (m_options.DateMode != dmAnyDate && !keyDatePasses(root, path + name, location.ViewMode))
                        continue;
                    TSearchListItem row;
                    row.Caption = caption + name;
                    row.RootKey = root;
                    row.KeyPath = path + name;
                    row.ViewMode = location.ViewMode;
                    row.ImageIndex = location.ViewMode == 2 ? rkKey64 : (location.ViewMode == 1 ? rkKey32 : rkKey);
                    OnResult(std::move(row));
                } catch (...) {
                }
            }
        }
        reg.CloseKey();

        // Last pushed is searched next. A subkey keeps the view of the
        // location it was listed in: a 64-bit SOFTWARE's subkeys opened in
        // the default (32-bit) view would be other keys, or none.
        const bool software = path == "\\SOFTWARE\\" || path == "\\SOFTWARE\\Classes\\";
        for (const std::string &name : subkeys) {
            if (name.empty())
                continue;
            if (software && name == "Wow6432Node")
                continue;
            if (IsWow64 && root == HKEY_LOCAL_MACHINE && path == "\\" && name == "SOFTWARE") {
                stack.push_back({root, path + name + "\\", 1});
                stack.push_back({root, path + name + "\\", 2});
                continue;
            }
            stack.push_back({root, path + name + "\\", location.ViewMode});
        }
    }
}

void TSearchWalk::SearchRegistry()
{
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA}) {
        if (StopRequested())
            return;
        SearchBranch(root, "\\", 0);
    }
}

} // namespace vt::search
