// Values: RegQueryValueExA, RegSetValueExA and RegDeleteValueA.
#include "platform/RegistryInternal.h"
#include "platform/Unicode.h"
#include "platform/hive/Regf.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace vt::platform::detail
{

// Size the A functions report for a value's data.
DWORD ansiSize(const Value &v)
{
    if (isStringType(v.type))
        return static_cast<DWORD>(utf8SizeOfUtf16le(v.data.data(), v.data.size()));
    return static_cast<DWORD>(v.data.size());
}

// Copies a value's data as the A functions give it.
LONG copyData(const Value &v, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpType)
        *lpType = v.type;
    const DWORD size = ansiSize(v);
    if (!lpcbData)
        return ERROR_SUCCESS;
    if (!lpData) {
        *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (isStringType(v.type)) {
        utf16leToUtf8Into(v.data.data(), v.data.size(), reinterpret_cast<char *>(lpData));
        // A string stored without its terminator gets one when there is room
        // (not counted in the size), as Windows' A functions do.
        // Empty data leaves the buffer untouched, as on Windows.
        if (*lpcbData > size && size != 0 && lpData[size - 1] != 0)
            lpData[size] = 0;
    } else if (size) {
        std::memcpy(lpData, v.data.data(), size);
    }
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG writableKey(System &s, HKEY hKey, ACCESS_MASK needed, Target &t)
{
    LONG rc = resolveHandle(s, hKey, t, needed);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (t.loc.space == Space::PerfData || isVirtualRoot(s, t.loc.key) || inReadOnlyHive(s, *t.loc.key))
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

} // namespace vt::platform::detail

// ---------------------------------------------------------------------------

using namespace vt::platform;
using namespace vt::platform::detail;

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData)
{
    VT_FOREIGN(hKey, queryValueEx, hKey, lpValueName, lpReserved, lpType, lpData, lpcbData)
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    LONG rc = resolveHandle(s, hKey, t, KEY_QUERY_VALUE);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (t.loc.space == Space::PerfData)
        return ERROR_FILE_NOT_FOUND;
    Value *v = findValue(*t.loc.key, lpValueName ? lpValueName : "");
    if (!v) {
        if (lpcbData && !lpData)
            *lpcbData = 0;
        return ERROR_FILE_NOT_FOUND;
    }
    return copyData(*v, lpType, lpData, lpcbData);
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData,
                           DWORD cbData)
{
    VT_FOREIGN(hKey, setValueEx, hKey, lpValueName, Reserved, dwType, lpData, cbData)
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    const std::string_view name = lpValueName ? lpValueName : "";
    if (utf16Length(name) > kMaxValueNameChars)
        return ERROR_INVALID_PARAMETER;
    // Larger data cannot be kept in a hive: refuse it before anything changes.
    if (cbData > (isStringType(dwType) ? kMaxValueData / 2 * 3 : kMaxValueData)) // UTF-16 takes >= 2/3 of UTF-8
        return ERROR_NOT_ENOUGH_MEMORY;
    std::vector<uint8_t> data;
    if (isStringType(dwType))
        data = utf8ToUtf16le(std::string_view(reinterpret_cast<const char *>(lpData), cbData));
    else if (cbData)
        data.assign(lpData, lpData + cbData);
    if (data.size() > kMaxValueData)
        return ERROR_NOT_ENOUGH_MEMORY;
    System &s = current();
    Exclusive g(s);
    Target t;
    LONG rc = writableKey(s, hKey, KEY_SET_VALUE, t);
    if (rc != ERROR_SUCCESS)
        return rc;
    Key &k = *t.loc.key;
    // Windows treats the same type and data as no change: no new time, no notification.
    if (const Value *old = findValue(k, name); old && old->type == dwType && old->data == data)
        return ERROR_SUCCESS;
    setValue(k, name, dwType, std::move(data));
    k.lastWriteTime = nowFileTime();
    if (!isUnderVolatile(k)) {
        markDirty(s, k);
        if (!journalSetValue(s, k, *findValue(k, name)))
            return journalFailure(s);
    }
    fireNotifications(s, &k, REG_NOTIFY_CHANGE_LAST_SET);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    VT_FOREIGN(hKey, deleteValue, hKey, lpValueName)
    System &s = current();
    Exclusive g(s);
    Target t;
    LONG rc = writableKey(s, hKey, KEY_SET_VALUE, t);
    if (rc != ERROR_SUCCESS)
        return rc;
    Key &k = *t.loc.key;
    const std::string_view name = lpValueName ? lpValueName : "";
    if (!deleteValue(k, name))
        return ERROR_FILE_NOT_FOUND;
    k.lastWriteTime = nowFileTime();
    if (!isUnderVolatile(k)) {
        markDirty(s, k);
        if (!journalDeleteValue(s, k, name))
            return journalFailure(s);
    }
    fireNotifications(s, &k, REG_NOTIFY_CHANGE_LAST_SET);
    return ERROR_SUCCESS;
}
