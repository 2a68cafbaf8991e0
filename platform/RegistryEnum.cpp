// Enumeration and key information: RegEnumKeyExA, RegEnumValueA,
// RegQueryInfoKeyA (HKEY_CLASSES_ROOT listed as the union of both sides) and
// NtQueryKey.
#include "platform/RegistryInternal.h"
#include "platform/Unicode.h"
#include "platform/hive/Regf.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <unistd.h>

// ---------------------------------------------------------------------------

using namespace vt::platform;
using namespace vt::platform::detail;

namespace
{

// The i-th subkey of a location: plain keys by index, HKCR by merging both
// sides in upper-name order with the user's key winning a tie.
bool isMerged(const Target &t)
{
    return (t.loc.space == Space::Classes || t.loc.space == Space::Wow64Software) && t.loc.machine && t.loc.user;
}

// Machine-side subkeys a merged location lists: all of them for HKCR, the
// shared ones for the 32-bit SOFTWARE.
size_t skipHidden(const Target &t, const vt::hive::SubkeyList &m, size_t i)
{
    if (t.loc.space == Space::Wow64Software)
        while (i < m.size() && !isSharedTop(m[i]->upperName))
            ++i;
    return i;
}

const Key *subkeyAt(Target &t, DWORD index)
{
    if (t.loc.space == Space::PerfData)
        return nullptr;
    if (!isMerged(t))
        return index < t.loc.key->subkeys.size() ? t.loc.key->subkeys[index].get() : nullptr;
    const auto &m = t.loc.machine->subkeys;
    const auto &u = t.loc.user->subkeys;
    std::unique_lock<std::mutex> lk;
    size_t i = 0, j = 0;
    DWORD at = 0;
    if (t.slot) {
        lk = std::unique_lock(t.slot->enumMutex);
        if (t.slot->enumIndex != ~0u && t.slot->enumIndex <= index) {
            at = t.slot->enumIndex;
            i = t.slot->enumMachine;
            j = t.slot->enumUser;
        }
    }
    while (true) {
        const Key *pick;
        i = skipHidden(t, m, i);
        size_t ni = i, nj = j;
        if (i < m.size() && j < u.size()) {
            const int c = m[i]->upperName.compare(u[j]->upperName);
            if (c < 0) {
                pick = m[i].get();
                ni = i + 1;
            } else {
                pick = u[j].get();
                nj = j + 1;
                if (c == 0)
                    ni = i + 1;
            }
        } else if (i < m.size()) {
            pick = m[i].get();
            ni = i + 1;
        } else if (j < u.size()) {
            pick = u[j].get();
            nj = j + 1;
        } else {
            return nullptr;
        }
        if (at == index) {
            if (t.slot) {
                t.slot->enumIndex = index;
                t.slot->enumMachine = i;
                t.slot->enumUser = j;
            }
            return pick;
        }
        i = ni;
        j = nj;
        ++at;
    }
}

DWORD subkeyCount(Target &t)
{
    if (t.loc.space == Space::PerfData)
        return 0;
    if (!isMerged(t))
        return static_cast<DWORD>(t.loc.key->subkeys.size());
    const auto &m = t.loc.machine->subkeys;
    const auto &u = t.loc.user->subkeys;
    size_t i = skipHidden(t, m, 0), j = 0, n = 0;
    while (i < m.size() || j < u.size()) {
        if (i < m.size() && j < u.size()) {
            const int c = m[i]->upperName.compare(u[j]->upperName);
            if (c <= 0)
                ++i;
            if (c >= 0)
                ++j;
        } else if (i < m.size()) {
            ++i;
        } else {
            ++j;
        }
        i = skipHidden(t, m, i);
        ++n;
    }
    return static_cast<DWORD>(n);
}

} // namespace

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                          LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    VT_FOREIGN(hKey, enumKeyEx, hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime)
    if (!lpName || !lpcchName)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    LONG rc = resolveHandle(s, hKey, t, KEY_ENUMERATE_SUB_KEYS);
    if (rc != ERROR_SUCCESS)
        return rc;
    const Key *k = subkeyAt(t, dwIndex);
    if (!k)
        return ERROR_NO_MORE_ITEMS;
    if (k->unloaded.load(std::memory_order_acquire) && (lpClass || lpcchClass || lpftLastWriteTime))
        loadLazyMount(const_cast<Key &>(*k)); // a mounted hive not read yet: its root's class and time are in the file
    if (k->name.size() + 1 > *lpcchName)
        return ERROR_MORE_DATA;
    if (lpClass) {
        if (!lpcchClass)
            return ERROR_INVALID_PARAMETER;
        if (k->className.size() + 1 > *lpcchClass)
            return ERROR_MORE_DATA;
        std::memcpy(lpClass, k->className.c_str(), k->className.size() + 1);
        *lpcchClass = static_cast<DWORD>(k->className.size());
    } else if (lpcchClass) {
        *lpcchClass = static_cast<DWORD>(k->className.size());
    }
    std::memcpy(lpName, k->name.c_str(), k->name.size() + 1);
    *lpcchName = static_cast<DWORD>(k->name.size());
    if (lpftLastWriteTime) {
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(k->lastWriteTime);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(k->lastWriteTime >> 32);
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName)
{
    DWORD n = cchName;
    return RegEnumKeyExA(hKey, dwIndex, lpName, &n, nullptr, nullptr, nullptr, nullptr);
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    VT_FOREIGN(hKey, enumValue, hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData)
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    LONG rc = resolveHandle(s, hKey, t, KEY_QUERY_VALUE);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (t.loc.space == Space::PerfData || dwIndex >= t.loc.key->values.size())
        return ERROR_NO_MORE_ITEMS;
    const Value &v = t.loc.key->values[dwIndex];
    // When the name or the data does not fit, Windows reports the type and
    // the data size and leaves the name, its count and the data alone.
    const DWORD size = ansiSize(v);
    if (v.name.size() + 1 > *lpcchValueName || (lpData && *lpcbData < size)) {
        if (lpType)
            *lpType = v.type;
        if (lpcbData)
            *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
    *lpcchValueName = static_cast<DWORD>(v.name.size());
    return copyData(v, lpType, lpData, lpcbData);
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                             LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                             LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                             PFILETIME lpftLastWriteTime)
{
    VT_FOREIGN(hKey, queryInfoKey, hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen,
               lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime)
    if (lpClass && !lpcchClass)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    // Windows asks for KEY_QUERY_VALUE here, not for enumeration rights.
    LONG rc = resolveHandle(s, hKey, t, KEY_QUERY_VALUE);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD nSub = 0, maxSub = 0, maxClass = 0, nVal = 0, maxValName = 0, maxData = 0, sdSize = 0;
    uint64_t time = 0;
    std::string_view className;
    if (t.loc.space != Space::PerfData) {
        const Key &k = *t.loc.key;
        nSub = subkeyCount(t);
        auto scan = [&](const Key &side) {
            for (const auto &c : side.subkeys) {
                maxSub = std::max<DWORD>(maxSub, static_cast<DWORD>(c->name.size()));
                // A hive root not read yet counts without its class name
                // (hive roots have none in practice) rather than be read.
                if (!c->unloaded.load(std::memory_order_acquire))
                    maxClass = std::max<DWORD>(maxClass, static_cast<DWORD>(c->className.size()));
            }
        };
        // Windows keeps these maximums in the key; here they cost a pass over
        // the children or values, made only for a caller that asks.
        const bool merged = t.loc.space == Space::Classes || t.loc.space == Space::Wow64Software;
        if (lpcbMaxSubKeyLen || lpcbMaxClassLen) {
            if (merged && t.loc.machine)
                scan(*t.loc.machine);
            if (merged && t.loc.user)
                scan(*t.loc.user);
            if (!merged)
                scan(k);
        }
        nVal = static_cast<DWORD>(k.values.size());
        if (lpcbMaxValueNameLen || lpcbMaxValueLen) {
            for (const auto &v : k.values) {
                maxValName = std::max<DWORD>(maxValName, static_cast<DWORD>(v.name.size()));
                // The stored size, as Windows reports it, but never less than the
                // UTF-8 form needs, so a buffer of this size always holds the data.
                if (lpcbMaxValueLen)
                    maxData = std::max<DWORD>(maxData, std::max<DWORD>(static_cast<DWORD>(v.data.size()), ansiSize(v)));
            }
        }
        if (lpcbSecurityDescriptor)
            sdSize = static_cast<DWORD>(descriptorOf(&k).size());
        time = k.lastWriteTime;
        className = k.className;
    }
    LONG classResult = ERROR_SUCCESS;
    if (lpcchClass) {
        // As Windows: a zero-sized buffer is left alone; a short one gets as
        // much as fits, terminated, and ERROR_MORE_DATA.
        if (lpClass && *lpcchClass == 0) {
            *lpcchClass = 0;
        } else if (lpClass && className.size() + 1 > *lpcchClass) {
            const DWORD fit = *lpcchClass - 1;
            std::memcpy(lpClass, className.data(), fit);
            lpClass[fit] = '\0';
            *lpcchClass = fit;
            classResult = ERROR_MORE_DATA;
        } else {
            if (lpClass) {
                std::memcpy(lpClass, className.data(), className.size());
                lpClass[className.size()] = '\0';
            }
            *lpcchClass = static_cast<DWORD>(className.size());
        }
    }
    if (lpcSubKeys)
        *lpcSubKeys = nSub;
    if (lpcbMaxSubKeyLen)
        *lpcbMaxSubKeyLen = maxSub;
    if (lpcbMaxClassLen)
        *lpcbMaxClassLen = maxClass;
    if (lpcValues)
        *lpcValues = nVal;
    if (lpcbMaxValueNameLen)
        *lpcbMaxValueNameLen = maxValName;
    if (lpcbMaxValueLen)
        *lpcbMaxValueLen = maxData;
    if (lpcbSecurityDescriptor)
        *lpcbSecurityDescriptor = sdSize;
    if (lpftLastWriteTime) {
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(time);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(time >> 32);
    }
    return classResult;
}

NTSTATUS WINAPI NtQueryKey(HKEY KeyHandle, KEY_INFORMATION_CLASS KeyInformationClass, PVOID KeyInformation,
                           ULONG Length, PULONG ResultLength)
{
    if (KeyInformationClass != KeyNameInformation || !ResultLength)
        return STATUS_INVALID_PARAMETER;
    if ((reinterpret_cast<uintptr_t>(KeyHandle) & 0xF) == vt::platform::kForeignKeyTag)
        return STATUS_INVALID_HANDLE; // a remote key has no name on this machine
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    const LONG rc = resolveHandle(s, KeyHandle, t, 0);
    if (rc == ERROR_KEY_DELETED)
        return STATUS_KEY_DELETED;
    if (rc != ERROR_SUCCESS || !t.loc.key)
        return STATUS_INVALID_HANDLE;
    // A mounted hive's root carries its mount name, which is the name Windows shows.
    const std::string name = "\\REGISTRY\\" + keyPath(*t.loc.key);
    const std::vector<uint8_t> wide = utf8ToUtf16le(name);
    const ULONG header = offsetof(KEY_NAME_INFORMATION, Name);
    const ULONG need = header + static_cast<ULONG>(wide.size());
    *ResultLength = need;
    if (Length < header)
        return STATUS_BUFFER_TOO_SMALL;
    if (!KeyInformation)
        return STATUS_INVALID_PARAMETER;
    auto *info = static_cast<KEY_NAME_INFORMATION *>(KeyInformation);
    info->NameLength = static_cast<ULONG>(wide.size());
    const ULONG room = std::min<ULONG>(Length - header, static_cast<ULONG>(wide.size()));
    std::memcpy(reinterpret_cast<uint8_t *>(info) + header, wide.data(), room);
    return room == wide.size() ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW;
}
