#include "core/kltRegistry.h"

#include "core/zoStrings.h"
#include "platform/vtPlatform.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>

namespace
{

using DeleteKeyExFn = LONG(WINAPI *)(HKEY, LPCSTR, REGSAM, DWORD);

// Looked up once: older systems lack the entry point and fall back to
// RegDeleteKeyA.
DeleteKeyExFn deleteKeyEx()
{
#ifdef _WIN32
    static const auto fn =
        reinterpret_cast<DeleteKeyExFn>(GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegDeleteKeyExA"));
#else
    static const DeleteKeyExFn fn = &RegDeleteKeyExA;
#endif
    return fn;
}

// Windows reports name lengths in characters; double-byte code pages need two
// bytes per character. (The UTF-8 code page of the replacement system already
// reports bytes; enumeration grows its buffer should a name still not fit.)
uint32_t nameLengthFactor()
{
    switch (GetACP()) {
    case 932:
    case 936:
    case 949:
    case 950:
    case 1361:
        return 2;
    default:
        return 1;
    }
}

class HandleGuard
{
public:
    explicit HandleGuard(HKEY key) : m_key(key) {}
    ~HandleGuard()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    HandleGuard(const HandleGuard &) = delete;
    HandleGuard &operator=(const HandleGuard &) = delete;

private:
    HKEY m_key;
};

class CurrentKeySwap
{
public:
    CurrentKeySwap(HKEY &slot, HKEY key) : m_slot(slot), m_saved(slot) { m_slot = key; }
    ~CurrentKeySwap() { m_slot = m_saved; }
    CurrentKeySwap(const CurrentKeySwap &) = delete;
    CurrentKeySwap &operator=(const CurrentKeySwap &) = delete;

private:
    HKEY &m_slot;
    HKEY m_saved;
};

[[noreturn]] void raiseGet(const std::string &name)
{
    throw ERegistryException("Failed to get data for '" + name + "'");
}

[[noreturn]] void raiseSet(const std::string &name)
{
    throw ERegistryException("Failed to set data for '" + name + "'");
}

[[noreturn]] void raiseType(const std::string &name)
{
    throw ERegistryException("Invalid data type for '" + name + "'");
}

// Enumerates one subkey or value name, growing the buffer when the reported
// maximum was too small for the name's 8-bit form.
// keepNul: the whole name the registry gave, also past a NUL in it, so that
// a walk can tell such a key (which no A path can name) from a sibling that
// is named by the part before the NUL.
template <typename Enum> bool enumName(uint32_t maxLen, std::string &name, Enum enumerate, bool keepNul = false)
{
    // One buffer per thread for every name: walks enumerate millions.
    thread_local std::vector<char> buffer;
    buffer.resize(std::max(buffer.size(), size_t(maxLen) + 1));
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD len = DWORD(buffer.size());
        LONG r = enumerate(buffer.data(), &len);
        if (r == ERROR_SUCCESS) {
            len = std::min<DWORD>(len, DWORD(buffer.size()));
            name.assign(buffer.data(), keepNul ? len : strnlen(buffer.data(), len));
            return true;
        }
        if (r != ERROR_MORE_DATA)
            return false;
        buffer.resize(std::max<size_t>(buffer.size() * 2, 256));
    }
    return false;
}

bool startsWithFolded(const std::string &text, const std::string &prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        unsigned char a = text[i], b = prefix[i];
        if (a < 128 && b < 128) {
            if (std::tolower(a) != std::tolower(b))
                return false;
        } else if (a != b) {
            return false;
        }
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------

TDateTime KeyTimeToDateTime(uint64_t keyTime)
{
    FILETIME utc{DWORD(keyTime & 0xFFFFFFFFu), DWORD(keyTime >> 32)};
    FILETIME local{};
    WORD fatDate = 0, fatTime = 0;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &fatDate, &fatTime))
        return 0;
    const int year = 1980 + (fatDate >> 9);
    const unsigned month = (fatDate >> 5) & 15, day = fatDate & 31;
    const unsigned hour = fatTime >> 11, minute = (fatTime >> 5) & 63, second = (fatTime & 31) * 2;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
        return 0;
    // Days from civil date (proleptic Gregorian), then shifted to 1899-12-30.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = long(era) * 146097 + long(doe) - 719468; // since 1970-01-01
    const long sinceBase = days + 25569;
    return double(sinceBase) + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

// ---------------------------------------------------------------------------
// TMyRegistry

TMyRegistry::TMyRegistry() = default;

TMyRegistry::~TMyRegistry()
{
    CloseKey();
}

void TMyRegistry::SetBitness(uint8_t bits)
{
    if (bits != 32 && bits != 64)
        throw std::runtime_error("Windows Registry only supported with 32 or 64 bits!");
    m_bitness = bits;
    if (bits == 32) {
        m_access &= ~REGSAM(KEY_WOW64_64KEY);
        m_viewMode = 1;
    } else {
        m_access &= ~REGSAM(KEY_WOW64_32KEY);
        m_access |= KEY_WOW64_64KEY;
        m_viewMode = 2;
    }
}

void TMyRegistry::SetViewMode(uint8_t mode)
{
    m_viewMode = mode;
    if (mode <= 1)
        SetBitness(32);
    else if (mode == 2)
        SetBitness(64);
}

REGSAM TMyRegistry::ViewFlags(REGSAM mask) const
{
    return m_bitness == 64 ? (mask | KEY_WOW64_64KEY) : mask;
}

void TMyRegistry::SetRootKey(HKEY root)
{
    if (root == m_rootKey)
        return;
    CloseKey();
    m_rootKey = root;
}

std::string keyObjectName(HKEY key)
{
    ULONG need = 0;
    std::vector<uint8_t> buf(512);
    NTSTATUS st = NtQueryKey(key, KeyNameInformation, buf.data(), ULONG(buf.size()), &need);
    if (st == STATUS_BUFFER_OVERFLOW || st == STATUS_BUFFER_TOO_SMALL) {
        buf.resize(need);
        st = NtQueryKey(key, KeyNameInformation, buf.data(), ULONG(buf.size()), &need);
    }
    if (st != STATUS_SUCCESS)
        return {};
    const auto *info = reinterpret_cast<const KEY_NAME_INFORMATION *>(buf.data());
    const size_t chars = std::min<size_t>(info->NameLength, buf.size() - offsetof(KEY_NAME_INFORMATION, Name)) / 2;
    std::u16string wide(chars, u'\0');
    std::memcpy(wide.data(), buf.data() + offsetof(KEY_NAME_INFORMATION, Name), chars * 2);
    // Registry names fold case; the folding of letters beyond ASCII is left to
    // exact comparison, which at worst reports two keys as different.
    std::string out;
    for (char16_t c : wide) {
        if (c < 0x80)
            out.push_back(char(std::toupper(int(c))));
        else // a byte form of the rest with no '\\' in it; only compared, never shown
            out += {char(0x80 | (c >> 10)), char(0x80 | ((c >> 4) & 0x3F)), char(0x80 | (c & 0x0F))};
    }
    return out;
}

bool keyObjectWithin(const std::string &inner, const std::string &outer)
{
    return !outer.empty() && inner.size() >= outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           (inner.size() == outer.size() || inner[outer.size()] == '\\');
}

TMyRegistry::Base TMyRegistry::baseOf(const std::string &path) const
{
    if (!IsRelativePath(path))
        return {m_rootKey, path.substr(1)};
    return {m_currentKey ? m_currentKey : m_rootKey, path};
}

void TMyRegistry::adjustAccessForView()
{
    if (m_bitness == 32) {
        m_access &= ~REGSAM(KEY_WOW64_64KEY);
    } else if (m_bitness == 64) {
        m_access &= ~REGSAM(KEY_WOW64_32KEY);
        m_access |= KEY_WOW64_64KEY;
    }
}

void TMyRegistry::setCurrent(HKEY key, const std::string &path, bool relativeToOpen)
{
    std::string combined = path;
    if (relativeToOpen && m_currentKey) {
        if (path.empty())
            combined = m_currentPath;
        else if (!m_currentPath.empty())
            combined = m_currentPath + "\\" + path;
    }
    CloseKey();
    m_currentKey = key;
    m_currentPath = combined;
}

bool TMyRegistry::OpenKey(const std::string &path, bool canCreate)
{
    adjustAccessForView();
    const bool relative = IsRelativePath(path);
    const Base base = baseOf(path);
    HKEY key = nullptr;
    LONG r;
    if (canCreate && !path.empty()) {
        DWORD disposition = 0;
        r = RegCreateKeyExA(base.key, base.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, m_access, nullptr, &key,
                            &disposition);
    } else {
        r = RegOpenKeyExA(base.key, base.path.c_str(), 0, m_access, &key);
    }
    if (track(r) != ERROR_SUCCESS)
        return false;
    setCurrent(key, base.path, relative);
    return true;
}

bool TMyRegistry::OpenKeyReadOnly(const std::string &path)
{
    const bool relative = IsRelativePath(path);
    const Base base = baseOf(path);
    const REGSAM view = ViewFlags(m_access & KEY_WOW64_RES);
    for (REGSAM mask : {REGSAM(KEY_READ), REGSAM(0x20009), REGSAM(KEY_QUERY_VALUE)}) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(base.key, base.path.c_str(), 0, view | mask, &key) == ERROR_SUCCESS) {
            setCurrent(key, base.path, relative);
            return true;
        }
    }
    return false;
}

void TMyRegistry::CloseKey()
{
    if (m_currentKey)
        RegCloseKey(m_currentKey);
    m_currentKey = nullptr;
    m_currentPath.clear();
}

bool TMyRegistry::CreateKey(const std::string &path)
{
    const Base base = baseOf(path);
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (track(RegCreateKeyExA(base.key, base.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              ViewFlags(KEY_ALL_ACCESS), nullptr, &key, &disposition)) != ERROR_SUCCESS)
        throw ERegistryException("Failed to create key " + path);
    RegCloseKey(key);
    return true;
}

HKEY TMyRegistry::GetKey(const std::string &path)
{
    const Base base = baseOf(path);
    HKEY key = nullptr;
    if (RegOpenKeyExA(base.key, base.path.c_str(), 0, m_access, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool TMyRegistry::KeyExists(const std::string &path)
{
    const Base base = baseOf(path);
    HKEY key = nullptr;
    if (RegOpenKeyExA(base.key, base.path.c_str(), 0, ViewFlags((m_access & KEY_WOW64_RES) | 0x20009), &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool TMyRegistry::DeleteKey(const std::string &path)
{
    const Base base = baseOf(path);
    // An empty path names the base key itself: deleting it would wipe a
    // whole root or the open key, which no caller means.
    if (base.path.empty()) {
        m_lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    // The whole subtree goes in one transaction: a crash leaves all or none.
    vt::platform::Transaction tx;
    const bool deleted = deleteTree(base, path);
    return track(tx.commit()) == ERROR_SUCCESS && deleted;
}

bool TMyRegistry::deleteTree(const Base &base, const std::string &path)
{
    if (HKEY key = GetKey(path)) {
        HandleGuard closer(key);
        CurrentKeySwap swap(m_currentKey, key);
        TRegKeyInfo info;
        if (GetKeyInfo(info)) {
            for (uint32_t i = info.NumSubKeys; i-- > 0;) {
                std::string name;
                if (enumName(info.MaxSubKeyLen, name,
                             [&](char *buf, DWORD *len) {
                                 return RegEnumKeyExA(key, i, buf, len, nullptr, nullptr, nullptr, nullptr);
                             }) &&
                    !name.empty())
                    deleteTree(baseOf(name), name);
            }
        }
    }
    if (DeleteKeyExFn fn = deleteKeyEx())
        if (fn(base.key, base.path.c_str(), ViewFlags(0), 0) == ERROR_SUCCESS) {
            keyDone();
            return true;
        }
    if (track(RegDeleteKeyA(base.key, base.path.c_str())) != ERROR_SUCCESS)
        return false;
    keyDone();
    return true;
}

bool TMyRegistry::MoveKey(const std::string &oldPath, const std::string &newPath, bool deleteSource)
{
    if (!KeyExists(oldPath)) {
        m_lastError = ERROR_FILE_NOT_FOUND;
        return false;
    }
    if (KeyExists(newPath)) {
        m_lastError = ERROR_ALREADY_EXISTS;
        return false;
    }
    HKEY source = GetKey(oldPath);
    if (!source)
        return false;
    HandleGuard sourceCloser(source);
    // A target inside the source would copy itself without end.
    if (targetInside(source, oldPath, newPath)) {
        m_lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    // A copy and the deletion of its source are one transaction: a crash
    // leaves the key in one place, never both or half.
    vt::platform::Transaction tx;
    if (deleteSource && renameInPlace(oldPath, newPath))
        return track(tx.commit()) == ERROR_SUCCESS;
    CreateKey(newPath);
    HKEY target = GetKey(newPath);
    if (!target)
        return false;
    HandleGuard targetCloser(target);
    bool complete = copyValues(source, target);
    complete = copyKeys(source, target) && complete;
    // A source that was not copied in full stays, so nothing is lost.
    if (deleteSource && complete)
        complete = DeleteKey(oldPath);
    return track(tx.commit()) == ERROR_SUCCESS && complete;
}

bool TMyRegistry::RenameKey(const std::string &path, const std::string &newName)
{
    const Base base = baseOf(path);
    if (base.path.empty()) {
        m_lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    HKEY key = nullptr;
    if (track(RegOpenKeyExA(base.key, base.path.c_str(), 0, ViewFlags(KEY_WRITE | KEY_READ), &key)) != ERROR_SUCCESS)
        return false;
    HandleGuard closer(key);
    return track(RegRenameKey(key, nullptr, newName.c_str())) == ERROR_SUCCESS;
}

// Decided on the key objects: the deepest existing key on the target's path
// is the source or below it, however either path is spelt (relative or from
// the root, trailing backslashes, HKCR or its merge).
bool TMyRegistry::targetInside(HKEY source, const std::string &oldPath, const std::string &newPath)
{
    const std::string from = keyObjectName(source);
    if (from.empty()) {
        // A key the platform cannot name (remote): compare the paths as given.
        if (IsRelativePath(oldPath) != IsRelativePath(newPath))
            return false;
        std::string f = baseOf(oldPath).path, t = baseOf(newPath).path;
        while (!f.empty() && f.back() == '\\')
            f.pop_back();
        return f.empty() || startsWithFolded(t + "\\", f + "\\");
    }
    const Base base = baseOf(newPath);
    std::string path = base.path;
    // Any right will do to name the key; the source itself opened, so every key
    // between it and the target opens with some right or lies above it.
    const REGSAM probe = ViewFlags((m_access & KEY_WOW64_RES) | MAXIMUM_ALLOWED);
    for (;;) {
        while (!path.empty() && path.back() == '\\')
            path.pop_back();
        HKEY key = nullptr;
        if (path.empty())
            return keyObjectWithin(keyObjectName(base.key), from);
        if (RegOpenKeyExA(base.key, path.c_str(), 0, probe, &key) == ERROR_SUCCESS) {
            HandleGuard closer(key);
            return keyObjectWithin(keyObjectName(key), from);
        }
        const size_t cut = path.rfind('\\');
        path.resize(cut == std::string::npos ? 0 : cut);
    }
}

bool TMyRegistry::readableTree(HKEY key)
{
    DWORD count = 0, maxLen = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &maxLen, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS)
        return false;
    std::string name(maxLen + 1, '\0');
    for (DWORD i = 0; i < count; ++i) {
        DWORD len = static_cast<DWORD>(name.size());
        HKEY child = nullptr;
        if (RegEnumKeyExA(key, i, name.data(), &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            RegOpenKeyExA(key, name.c_str(), 0, ViewFlags(KEY_READ), &child) != ERROR_SUCCESS)
            return false;
        HandleGuard closer(child);
        if (!readableTree(child))
            return false;
    }
    return true;
}

bool TMyRegistry::renameInPlace(const std::string &oldPath, const std::string &newPath)
{
    const Base from = baseOf(oldPath), to = baseOf(newPath);
    const size_t cutFrom = from.path.rfind('\\'), cutTo = to.path.rfind('\\');
    const std::string parentFrom = cutFrom == std::string::npos ? std::string() : from.path.substr(0, cutFrom);
    const std::string parentTo = cutTo == std::string::npos ? std::string() : to.path.substr(0, cutTo);
    if (from.key != to.key || parentFrom.size() != parentTo.size() || !startsWithFolded(parentFrom, parentTo))
        return false;
    // The key as this accessor's view sees it, renamed where it lies: its
    // subtree, times, class names and security stay as they are.
    HKEY key = nullptr;
    if (RegOpenKeyExA(from.key, from.path.c_str(), 0, ViewFlags(KEY_WRITE | KEY_READ), &key) != ERROR_SUCCESS)
        return false;
    HandleGuard closer(key);
    // A move keeps its promise that a source it could not copy in full
    // stays where it is: a subtree with a key this user cannot read is
    // copied (and kept), not renamed.
    if (!readableTree(key))
        return false;
    const std::string leaf = cutTo == std::string::npos ? to.path : to.path.substr(cutTo + 1);
    return RegRenameKey(key, nullptr, leaf.c_str()) == ERROR_SUCCESS;
}

bool TMyRegistry::GetKeyInfo(TRegKeyInfo &info)
{
    info = TRegKeyInfo();
    DWORD subKeys = 0, maxSubKeyLen = 0, values = 0, maxValueLen = 0, maxDataLen = 0;
    FILETIME time{};
    if (RegQueryInfoKeyA(m_currentKey, nullptr, nullptr, nullptr, &subKeys, &maxSubKeyLen, nullptr, &values,
                         &maxValueLen, &maxDataLen, nullptr, &time) != ERROR_SUCCESS)
        return false;
    const uint32_t factor = nameLengthFactor();
    info.NumSubKeys = subKeys;
    info.MaxSubKeyLen = maxSubKeyLen * factor;
    info.NumValues = values;
    info.MaxValueLen = maxValueLen * factor;
    info.MaxDataLen = maxDataLen;
    info.LastWriteTime = (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return true;
}

bool TMyRegistry::HasSubKeys()
{
    // The count alone: the tree asks this of every key it shows, and the
    // longest names and data would cost a pass over the key's children.
    DWORD count = 0;
    return RegQueryInfoKeyA(m_currentKey, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           count > 0;
}

void TMyRegistry::GetKeyNames(std::vector<std::string> &list)
{
    list.clear();
    // Only the count and the longest name: the other figures cost a pass each.
    DWORD count = 0, maxLen = 0;
    if (RegQueryInfoKeyA(m_currentKey, nullptr, nullptr, nullptr, &count, &maxLen, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return;
    HKEY key = m_currentKey;
    list.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        std::string name;
        if (enumName(
                maxLen * nameLengthFactor(), name,
                [&](char *buf, DWORD *len) {
                    return RegEnumKeyExA(key, i, buf, len, nullptr, nullptr, nullptr, nullptr);
                },
                true))
            list.push_back(std::move(name));
    }
}

void TMyRegistry::GetValueNames(std::vector<std::string> &list)
{
    list.clear();
    DWORD count = 0, maxLen = 0;
    if (RegQueryInfoKeyA(m_currentKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxLen, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return;
    HKEY key = m_currentKey;
    list.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        std::string name;
        if (enumName(maxLen * nameLengthFactor(), name, [&](char *buf, DWORD *len) {
                return RegEnumValueA(key, i, buf, len, nullptr, nullptr, nullptr, nullptr);
            }))
            list.push_back(std::move(name));
    }
}

bool TMyRegistry::GetDataInfo(const std::string &name, TRegDataInfo &info)
{
    info = TRegDataInfo();
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(m_currentKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    info.RegData = CodeToDataType(type);
    info.DataType = type;
    info.DataSize = int32_t(size);
    return true;
}

int32_t TMyRegistry::GetDataSize(const std::string &name)
{
    TRegDataInfo info;
    return GetDataInfo(name, info) ? info.DataSize : -1;
}

TRegDataType TMyRegistry::GetDataType(const std::string &name)
{
    TRegDataInfo info;
    return GetDataInfo(name, info) ? info.RegData : rdUnknown;
}

bool TMyRegistry::ValueExists(const std::string &name)
{
    TRegDataInfo info;
    return GetDataInfo(name, info);
}

bool TMyRegistry::DeleteValue(const std::string &name)
{
    return track(RegDeleteValueA(m_currentKey, name.c_str())) == ERROR_SUCCESS;
}

void TMyRegistry::RenameValue(const std::string &oldName, const std::string &newName)
{
    if (!ValueExists(oldName) || ValueExists(newName))
        return;
    // The raw type code travels unchanged, so codes the enumeration cannot
    // name keep their type; the old value goes only once the new one is
    // written, and empty values take part like any other.
    uint32_t code = 0;
    TRegByteArray data;
    if (!readValue(oldName, code, data))
        raiseGet(oldName);
    writeValue(newName, code, data);
    DeleteValue(oldName);
}

std::string TMyRegistry::ReadDataAsText(const std::string &name)
{
    uint32_t code = 0;
    TRegByteArray data;
    if (!readValue(name, code, data))
        return {};
    return SearchableDataText(CodeToDataType(code), data.data(), data.size());
}

void TMyRegistry::WriteDataFromText(const std::string &name, const std::string &text, TRegDataType newType,
                                    TRegDataType oldType)
{
    int64_t number = 0;
    if (oldType == rdInt64 || oldType == rdLittleEndianInt64)
        number = ParseNumberText(text);
    else if (oldType == rdInteger || oldType == rdLittleEndianInteger || oldType == rdBigEndianInteger ||
             oldType == rdCardinal)
        number = int64_t(ParseNumberText32(text));
    const uint32_t low = uint32_t(uint64_t(number));
    switch (newType) {
    case rdString:
        WriteString(name, text);
        break;
    case rdExpandString:
        WriteExpandString(name, text);
        break;
    case rdMultiString:
        WriteMultiString(name, text);
        break;
    case rdInteger:
    case rdLittleEndianInteger:
    case rdCardinal:
        WriteCardinal(name, low);
        break;
    case rdBigEndianInteger:
        WriteBigEndianInteger(name, low);
        break;
    case rdInt64:
    case rdLittleEndianInt64:
        WriteInt64(name, number);
        break;
    default:
        break;
    }
}

// --- reads

bool TMyRegistry::readValue(const std::string &name, uint32_t &typeCode, TRegByteArray &data)
{
    // Most values fit a small buffer, so one query usually does; a larger
    // value reports its size and the read is repeated.
    DWORD size = std::max<DWORD>(DWORD(data.capacity()), 256);
    for (int attempt = 0; attempt < 4; ++attempt) {
        data.resize(size);
        DWORD type = 0, got = size;
        const LONG r = RegQueryValueExA(m_currentKey, name.c_str(), nullptr, &type, data.data(), &got);
        if (r == ERROR_SUCCESS) {
            data.resize(std::min<DWORD>(got, size));
            typeCode = type;
            return true;
        }
        if (r != ERROR_MORE_DATA) {
            data.clear();
            return false;
        }
        size = got > size ? got : size * 2; // changed meanwhile
    }
    data.clear();
    return false;
}

std::vector<uint8_t> TMyRegistry::readExact(const std::string &name, TRegDataType expected, size_t size)
{
    // Reads into a buffer of the number's size (larger data fails to read),
    // then checks the stored type.
    std::vector<uint8_t> buffer(size, 0);
    DWORD type = 0, got = DWORD(size);
    if (RegQueryValueExA(m_currentKey, name.c_str(), nullptr, &type, buffer.data(), &got) != ERROR_SUCCESS)
        raiseGet(name);
    if (type != DataTypeToCode(expected))
        raiseType(name);
    return buffer;
}

static uint32_t le32(const std::vector<uint8_t> &b)
{
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

static uint64_t le64(const std::vector<uint8_t> &b)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | b[i];
    return v;
}

std::string TMyRegistry::ReadString(const std::string &name)
{
    if (GetDataSize(name) < 1)
        return {};
    uint32_t code = 0;
    TRegByteArray data;
    if (!readValue(name, code, data))
        raiseGet(name);
    if (code != REG_SZ && code != REG_EXPAND_SZ)
        raiseType(name);
    const char *text = reinterpret_cast<const char *>(data.data());
    return std::string(text, strnlen(text, data.size()));
}

std::string TMyRegistry::ReadMultiString(const std::string &name)
{
    if (GetDataSize(name) < 1)
        return {};
    uint32_t code = 0;
    TRegByteArray data;
    if (!readValue(name, code, data))
        raiseGet(name);
    if (code != REG_MULTI_SZ)
        raiseType(name);
    return MultiStringBytesToText(data.data(), data.size());
}

uint32_t TMyRegistry::ReadCardinal(const std::string &name)
{
    return le32(readExact(name, rdInteger, 4));
}

uint32_t TMyRegistry::ReadLittleEndianInteger(const std::string &name)
{
    return le32(readExact(name, rdInteger, 4));
}

int32_t TMyRegistry::ReadInteger(const std::string &name)
{
    return int32_t(le32(readExact(name, rdInteger, 4)));
}

bool TMyRegistry::ReadBool(const std::string &name)
{
    return ReadInteger(name) != 0;
}

uint32_t TMyRegistry::ReadBigEndianInteger(const std::string &name)
{
    auto b = readExact(name, rdBigEndianInteger, 4);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

int64_t TMyRegistry::ReadInt64(const std::string &name)
{
    return int64_t(le64(readExact(name, rdInt64, 8)));
}

int64_t TMyRegistry::ReadLittleEndianInt64(const std::string &name)
{
    return int64_t(le64(readExact(name, rdInt64, 8)));
}

double TMyRegistry::ReadFloat(const std::string &name)
{
    std::vector<uint8_t> buffer(8, 0);
    DWORD type = 0, got = 8;
    if (RegQueryValueExA(m_currentKey, name.c_str(), nullptr, &type, buffer.data(), &got) != ERROR_SUCCESS)
        raiseGet(name);
    if (type != REG_BINARY || got != 8)
        raiseType(name);
    double v;
    std::memcpy(&v, buffer.data(), 8);
    return v;
}

int32_t TMyRegistry::ReadBinaryData(const std::string &name, void *buffer, int32_t bufSize)
{
    TRegDataInfo info;
    if (!GetDataInfo(name, info))
        return 0;
    if (bufSize < info.DataSize)
        raiseType(name);
    TRegDataType type = rdUnknown;
    return GetData(name, buffer, type, bufSize);
}

bool TMyRegistry::ReadBinaryToStream(const std::string &name, TMemoryStream &stream)
{
    uint32_t code = 0;
    TRegByteArray data;
    if (!readValue(name, code, data))
        return false;
    stream.write(data.data(), data.size());
    return true;
}

int32_t TMyRegistry::GetData(const std::string &name, void *buffer, TRegDataType &type, int32_t bufSize)
{
    DWORD code = 0, size = DWORD(std::max(bufSize, 0));
    uint8_t dummy = 0;
    if (RegQueryValueExA(m_currentKey, name.c_str(), nullptr, &code, size ? static_cast<LPBYTE>(buffer) : &dummy,
                         &size) != ERROR_SUCCESS)
        raiseGet(name);
    switch (type) {
    case rdUnknown:
    case rdString:
    case rdExpandString:
    case rdBinary:
    case rdInteger:
        break;
    default: {
        const TRegDataType stored = CodeToDataType(code);
        if (!((type == rdCardinal || type == rdLittleEndianInteger) && stored == rdInteger))
            type = stored;
    }
    }
    return int32_t(size);
}

// --- writes

void TMyRegistry::writeValue(const std::string &name, uint32_t typeCode, const TRegByteArray &data)
{
    static const uint8_t empty = 0;
    if (track(RegSetValueExA(m_currentKey, name.c_str(), 0, typeCode, data.empty() ? &empty : data.data(),
                             DWORD(data.size()))) != ERROR_SUCCESS)
        raiseSet(name);
}

void TMyRegistry::PutData(const std::string &name, const void *buffer, TRegDataType type, int32_t size)
{
    static const uint8_t empty = 0;
    const BYTE *bytes = (buffer && size > 0) ? static_cast<const BYTE *>(buffer) : &empty;
    if (track(RegSetValueExA(m_currentKey, name.c_str(), 0, DataTypeToCode(type), bytes, DWORD(std::max(size, 0)))) !=
        ERROR_SUCCESS)
        raiseSet(name);
}

void TMyRegistry::WriteString(const std::string &name, const std::string &value)
{
    PutData(name, value.c_str(), rdString, int32_t(value.size() + 1));
}

void TMyRegistry::WriteExpandString(const std::string &name, const std::string &value)
{
    PutData(name, value.c_str(), rdExpandString, int32_t(value.size() + 1));
}

void TMyRegistry::WriteMultiString(const std::string &name, const std::string &value)
{
    const TRegByteArray bytes = MultiStringTextToBytes(value);
    PutData(name, bytes.data(), rdMultiString, int32_t(bytes.size()));
}

static void putLe32(uint8_t *out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(v >> (8 * i));
}

void TMyRegistry::WriteInteger(const std::string &name, int32_t value)
{
    WriteCardinal(name, uint32_t(value));
}

void TMyRegistry::WriteCardinal(const std::string &name, uint32_t value)
{
    uint8_t b[4];
    putLe32(b, value);
    PutData(name, b, rdInteger, 4);
}

void TMyRegistry::WriteLittleEndianInteger(const std::string &name, uint32_t value)
{
    WriteCardinal(name, value);
}

void TMyRegistry::WriteBigEndianInteger(const std::string &name, uint32_t value)
{
    const uint8_t b[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
    PutData(name, b, rdBigEndianInteger, 4);
}

void TMyRegistry::WriteBool(const std::string &name, bool value)
{
    WriteCardinal(name, value ? 1 : 0);
}

void TMyRegistry::WriteInt64(const std::string &name, int64_t value)
{
    uint8_t b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = uint8_t(uint64_t(value) >> (8 * i));
    PutData(name, b, rdInt64, 8);
}

void TMyRegistry::WriteLittleEndianInt64(const std::string &name, int64_t value)
{
    WriteInt64(name, value);
}

void TMyRegistry::WriteFloat(const std::string &name, double value)
{
    uint8_t b[8];
    std::memcpy(b, &value, 8);
    PutData(name, b, rdBinary, 8);
}

void TMyRegistry::WriteBinaryData(const std::string &name, const void *buffer, int32_t size)
{
    PutData(name, buffer, rdBinary, size);
}

void TMyRegistry::WriteLink(const std::string &name, const void *buffer, int32_t size)
{
    PutData(name, buffer, rdLink, size);
}

void TMyRegistry::WriteResourceList(const std::string &name, const void *buffer, int32_t size)
{
    PutData(name, buffer, rdResourceList, size);
}

void TMyRegistry::WriteFullResourceDescriptor(const std::string &name, const void *buffer, int32_t size)
{
    PutData(name, buffer, rdFullResourceDescriptor, size);
}

void TMyRegistry::WriteResourceRequirementsList(const std::string &name, const void *buffer, int32_t size)
{
    PutData(name, buffer, rdResourceRequirementsList, size);
}

void TMyRegistry::WriteNone(const std::string &name)
{
    PutData(name, nullptr, rdNone, 0);
}

void TMyRegistry::WriteFromStream(const std::string &name, TRegDataType type, const TMemoryStream &stream)
{
    PutData(name, stream.bytes.data(), type, int32_t(stream.bytes.size()));
}

// --- copying

bool TMyRegistry::copyValue(HKEY source, HKEY target, const std::string &name)
{
    uint32_t code = 0;
    TRegByteArray data;
    {
        CurrentKeySwap swap(m_currentKey, source);
        if (!readValue(name, code, data)) {
            TRegDataInfo info;
            return !GetDataInfo(name, info); // gone meanwhile is fine, unreadable is not
        }
    }
    CurrentKeySwap swap(m_currentKey, target);
    writeValue(name, code, data);
    return true;
}

bool TMyRegistry::copyValues(HKEY source, HKEY target)
{
    TRegKeyInfo info;
    {
        CurrentKeySwap swap(m_currentKey, source);
        if (!GetKeyInfo(info))
            return false;
    }
    bool complete = true;
    for (uint32_t i = 0; i < info.NumValues; ++i) {
        std::string name;
        if (!enumName(info.MaxValueLen, name, [&](char *buf, DWORD *len) {
                return RegEnumValueA(source, i, buf, len, nullptr, nullptr, nullptr, nullptr);
            })) {
            complete = false;
            continue;
        }
        complete = copyValue(source, target, name) && complete;
    }
    return complete;
}

bool TMyRegistry::copyKeys(HKEY source, HKEY target)
{
    TRegKeyInfo info;
    {
        CurrentKeySwap swap(m_currentKey, source);
        if (!GetKeyInfo(info))
            return false;
    }
    bool complete = true;
    for (uint32_t i = 0; i < info.NumSubKeys; ++i) {
        std::string name;
        if (!enumName(info.MaxSubKeyLen, name,
                      [&](char *buf, DWORD *len) {
                          return RegEnumKeyExA(source, i, buf, len, nullptr, nullptr, nullptr, nullptr);
                      }) ||
            name.empty()) {
            complete = false;
            continue;
        }
        HKEY sub = nullptr;
        {
            CurrentKeySwap swap(m_currentKey, source);
            sub = GetKey(name);
        }
        if (!sub) {
            complete = false;
            continue;
        }
        HandleGuard subCloser(sub);
        HKEY newSub = nullptr;
        {
            CurrentKeySwap swap(m_currentKey, target);
            CreateKey(name);
            newSub = GetKey(name);
        }
        if (!newSub) {
            complete = false;
            continue;
        }
        HandleGuard newSubCloser(newSub);
        complete = copyValues(sub, newSub) && complete;
        keyDone();
        complete = copyKeys(sub, newSub) && complete;
    }
    return complete;
}

// ---------------------------------------------------------------------------

TMyRegistry64::TMyRegistry64()
{
    SetBitness(64);
}

void TMyRegistry64::SetBitness(uint8_t bits)
{
    TMyRegistry::SetBitness(bits);
}
