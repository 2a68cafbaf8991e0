#include "search/SearchEngine.h"

#include "core/zoStrings.h"

#include <algorithm>
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

namespace
{

// An open key shared by the subkeys waiting below it: each is opened
// relative to its parent's handle by its one name, rather than resolved from
// the root again, and the handle closes once the last of them is searched.
struct TOpenKey {
    HKEY Key = nullptr;
    explicit TOpenKey(HKEY key) : Key(key) {}
    ~TOpenKey()
    {
        if (Key)
            RegCloseKey(Key);
    }
    TOpenKey(const TOpenKey &) = delete;
    TOpenKey &operator=(const TOpenKey &) = delete;
};

struct TPendingKey {
    TSearchLocation Location;
    std::shared_ptr<TOpenKey> Parent; // null: open Location.KeyPath from the root
    std::string Name;
};

REGSAM viewFlags(uint8_t viewMode)
{
    return viewMode == 2 ? KEY_WOW64_64KEY : 0;
}

// As OpenKeyReadOnly does: the full read right, else what can be had.
HKEY openForSearch(HKEY base, const char *subKey, uint8_t viewMode)
{
    for (REGSAM mask : {REGSAM(KEY_READ), REGSAM(0x20009), REGSAM(KEY_QUERY_VALUE)}) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(base, subKey, 0, mask | viewFlags(viewMode), &key) == ERROR_SUCCESS)
            return key;
    }
    return nullptr;
}

void subkeyNames(HKEY key, std::vector<std::string> &names, std::vector<char> &buffer)
{
    names.clear();
    for (DWORD i = 0;; ++i) {
        DWORD length = DWORD(buffer.size());
        const LONG rc = RegEnumKeyExA(key, i, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) {
            if (buffer.size() < 65536) {
                buffer.resize(buffer.size() * 2);
                --i;
            }
            continue;
        }
        if (rc != ERROR_SUCCESS)
            break;
        names.emplace_back(buffer.data(), length);
    }
}

struct TValueRead {
    std::string Name;
    uint32_t Type = 0;
    TRegByteArray Data;
    bool HaveData = false;
};

// Names, types and data in one pass: one call per value instead of a lookup
// by name for each. Data larger than the buffer is read on its own.
void readValues(HKEY key, std::vector<TValueRead> &values, std::vector<char> &nameBuffer, TRegByteArray &dataBuffer,
                bool wantData)
{
    values.clear();
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = DWORD(nameBuffer.size());
        DWORD type = 0;
        DWORD dataLength = wantData ? DWORD(dataBuffer.size()) : 0;
        LONG rc = RegEnumValueA(key, i, nameBuffer.data(), &nameLength, nullptr, &type,
                                wantData ? dataBuffer.data() : nullptr, wantData ? &dataLength : nullptr);
        if (rc == ERROR_MORE_DATA) {
            // Size both buffers from the key's own maxima once, then try
            // this value again; a value that still does not fit is skipped.
            DWORD maxName = 0, maxData = 0;
            if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                                 &maxData, nullptr, nullptr) == ERROR_SUCCESS) {
                // Name lengths may be counted in characters: room for UTF-8.
                nameBuffer.resize(std::max<size_t>(nameBuffer.size(), size_t(maxName) * 3 + 1));
                if (wantData)
                    dataBuffer.resize(std::max<size_t>(dataBuffer.size(), size_t(maxData)));
                nameLength = DWORD(nameBuffer.size());
                dataLength = wantData ? DWORD(dataBuffer.size()) : 0;
                rc = RegEnumValueA(key, i, nameBuffer.data(), &nameLength, nullptr, &type,
                                   wantData ? dataBuffer.data() : nullptr, wantData ? &dataLength : nullptr);
            }
            if (rc == ERROR_MORE_DATA)
                continue;
        }
        if (rc != ERROR_SUCCESS)
            break;
        TValueRead v;
        v.Name.assign(nameBuffer.data(), nameLength);
        v.Type = type;
        if (wantData) {
            v.Data.assign(dataBuffer.begin(), dataBuffer.begin() + long(dataLength));
            v.HaveData = true;
        }
        values.push_back(std::move(v));
    }
}

} // namespace

void TSearchWalk::SearchBranch(HKEY root, const std::string &startPath, uint8_t viewMode)
{
    const std::string rootName = RootKeyToName(root);
    std::vector<TPendingKey> stack;
    stack.push_back({{root, startPath, viewMode}, nullptr, {}});
    std::vector<std::string> subkeys;
    std::vector<TValueRead> values;
    std::vector<char> nameBuffer(1024);
    TRegByteArray dataBuffer(64 * 1024);
    while (!stack.empty()) {
        TPendingKey pending = std::move(stack.back());
        stack.pop_back();
        if (StopRequested())
            return;
        TSearchLocation &location = pending.Location;
        std::string &path = location.KeyPath;
        if (path.empty() || path.back() != '\\')
            path += '\\';
        if (!m_options.HighSpeed && OnStatus)
            OnStatus(root, path);
        HKEY opened = pending.Parent
                          ? openForSearch(pending.Parent->Key, pending.Name.c_str(), location.ViewMode)
                          : openForSearch(root, path.c_str() + 1, location.ViewMode);
        pending.Parent.reset();
        if (!opened)
            continue;
        const auto key = std::make_shared<TOpenKey>(opened);
        ++m_keys;
        subkeyNames(opened, subkeys, nameBuffer);
        readValues(opened, values, nameBuffer, dataBuffer, m_options.Data);
        const std::string caption = rootName + path;
        auto valueRow = [&](const TValueRead &value, uint8_t kind) {
            TSearchListItem row;
            row.Caption = caption;
            row.RootKey = root;
            row.KeyPath = path;
            row.ValueName = value.Name;
            row.ViewMode = location.ViewMode;
            row.ImageIndex = kind;
            return row;
        };

        if (m_options.Values)
            for (const TValueRead &value : values)
                if (m_pattern->Match(value.Name))
                    OnResult(valueRow(value, rkValueName));
        if (m_options.Data) {
            for (const TValueRead &value : values) {
                try {
                    const TRegDataType type = CodeToDataType(value.Type);
                    if (!value.HaveData || !dataTypeWanted(type))
                        continue;
                    std::string text = SearchableDataText(type, value.Data.data(), value.Data.size());
                    if (!m_pattern->Match(text))
                        continue;
                    TSearchListItem row = valueRow(value, isStringType(type) ? rkStringData : rkData);
                    row.DataType = type;
                    row.DataText = std::move(text);
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

        // Last pushed is searched next. A subkey keeps the view of the
        // location it was listed in: a 64-bit SOFTWARE's subkeys opened in
        // the default (32-bit) view would be other keys, or none.
        const bool software = path == "\\SOFTWARE\\" || path == "\\SOFTWARE\\Classes\\";
        for (std::string &name : subkeys) {
            if (name.empty())
                continue;
            if (software && name == "Wow6432Node")
                continue;
            if (IsWow64 && root == HKEY_LOCAL_MACHINE && path == "\\" && name == "SOFTWARE") {
                // Each view opened from the root in its own right.
                stack.push_back({{root, path + name + "\\", 1}, nullptr, {}});
                stack.push_back({{root, path + name + "\\", 2}, nullptr, {}});
                continue;
            }
            // A name with a backslash (or a NUL, which ends the name the A
            // functions see) would address some other key.
            if (name.find_first_of(std::string_view("\\\0", 2)) != std::string::npos)
                continue;
            stack.push_back({{root, path + name + "\\", location.ViewMode}, key, std::move(name)});
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
