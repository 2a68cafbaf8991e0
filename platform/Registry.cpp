// Keys: RegOpenKeyExA, RegCreateKeyExA, RegCloseKey, deleting and renaming
// keys, and RegFlushKey.
#include "platform/RegistryInternal.h"
#include "platform/SecurityApi.h"
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

thread_local std::vector<std::string_view> tComps;
LONG openImpl(System &s, HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    // HKCR takes a leading backslash on open (Windows 2000 and later).
    if (lpSubKey && *lpSubKey == '\\' && canonical(hKey) == HKEY_CLASSES_ROOT)
        ++lpSubKey;
    Target t;
    bool view32;
    LONG rc = resolvePath(s, hKey, samDesired, lpSubKey, t, view32, tComps);
    if (rc != ERROR_SUCCESS)
        return rc;
    const Location &base = fullLocation(t);
    if (base.space == Space::PerfData) {
        if (!tComps.empty())
            return ERROR_FILE_NOT_FOUND;
        Location loc;
        loc.space = Space::PerfData;
        *phkResult = s.handles.allocate(std::move(loc), KEY_READ, view32);
        return ERROR_SUCCESS;
    }
    thread_local Walk w;
    walk(s, base, view32, tComps, (ulOptions & REG_OPTION_OPEN_LINK) != 0, false, w);
    if (!w.complete || !w.loc.key)
        return ERROR_FILE_NOT_FOUND;
    ACCESS_MASK granted;
    if ((rc = checkAccess(s, w.loc.key, samDesired, granted)) != ERROR_SUCCESS)
        return rc;
    HKEY h = s.handles.allocate(w.loc, granted, view32);
    if (!h)
        return ERROR_NOT_ENOUGH_MEMORY;
    *phkResult = h;
    return ERROR_SUCCESS;
}

} // namespace

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    VT_FOREIGN(hKey, openKeyEx, hKey, lpSubKey, ulOptions, samDesired, phkResult)
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    return openImpl(s, hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, const SECURITY_ATTRIBUTES *lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition)
{
    VT_FOREIGN(hKey, createKeyEx, hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
               phkResult, lpdwDisposition)
    if (!phkResult)
        return ERROR_BADKEY; // what Windows answers for a missing result pointer
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    if (dwOptions & ~(REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK | REG_OPTION_BACKUP_RESTORE | REG_OPTION_OPEN_LINK))
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    Exclusive g(s);
    Target t;
    bool view32;
    std::vector<std::string_view> comps;
    LONG rc = resolvePath(s, hKey, samDesired, lpSubKey, t, view32, comps);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (comps.size() > kMaxCreateLevels)
        return ERROR_INVALID_PARAMETER;
    for (auto c : comps)
        if (utf16Length(c) > kMaxKeyNameChars)
            return ERROR_INVALID_PARAMETER;
    const Location &base = fullLocation(t);
    if (base.space == Space::PerfData)
        return ERROR_ACCESS_DENIED;
    thread_local Walk w;
    walk(s, base, view32, comps, (dwOptions & REG_OPTION_OPEN_LINK) != 0, true, w);
    if (w.complete && w.loc.key) {
        ACCESS_MASK granted;
        if ((rc = checkAccess(s, w.loc.key, samDesired, granted)) != ERROR_SUCCESS)
            return rc;
        *phkResult = s.handles.allocate(w.loc, granted, view32);
        if (lpdwDisposition)
            *lpdwDisposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }

    // The missing components are created below the deepest existing key: for
    // HKCR in the user's branch when the parent is the user's, else the machine's.
    Key *parent = w.createParent;
    const std::vector<std::string> &names = w.createNames;
    if (!parent)
        return ERROR_FILE_NOT_FOUND;
    if (isVirtualRoot(s, parent) || inReadOnlyHive(s, *parent))
        return ERROR_ACCESS_DENIED; // only whole hives live there; a read-only hive takes no keys
    if (depthOf(parent) + names.size() > kMaxDepth)
        return ERROR_INVALID_PARAMETER;
    ACCESS_MASK parentGranted;
    if (checkAccess(s, parent, KEY_CREATE_SUB_KEY, parentGranted) != ERROR_SUCCESS)
        return ERROR_ACCESS_DENIED;
    const bool makeVolatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
    if (!makeVolatile && isUnderVolatile(*parent))
        return ERROR_CHILD_MUST_BE_VOLATILE;

    sec::Bytes explicitSd;
    if (lpSecurityAttributes && lpSecurityAttributes->lpSecurityDescriptor) {
        // Absolute or self-relative, as on Windows.
        if (descriptorBytes(lpSecurityAttributes->lpSecurityDescriptor, explicitSd) != ERROR_SUCCESS)
            return ERROR_INVALID_SECURITY_DESCR;
    }

    const uint64_t now = nowFileTime();
    Key *k = parent;
    Key *created = nullptr;
    for (size_t i = 0; i < names.size(); ++i) {
        if (Key *existing = findChild(*k, names[i])) { // a prefix component that exists
            k = existing;
            continue;
        }
        const bool last = i + 1 == names.size();
        auto child = newKey(names[i], now);
        child->security = last && !explicitSd.empty() ? std::make_shared<const vt::hive::SecurityDescriptor>(explicitSd)
                                                      : inheritedSecurity(s, k);
        child->isVolatile = makeVolatile;
        if (last && lpClass)
            child->className = lpClass;
        if (last && (dwOptions & REG_OPTION_CREATE_LINK))
            child->flags |= kKeySymLink;
        if (last) {
            ACCESS_MASK granted;
            if (sec::accessCheck(*child->security, *s.prepared,
                                 sec::mapGenericKeyRights(samDesired & ~(kViewBits | ACCESS_SYSTEM_SECURITY)),
                                 granted) != ERROR_SUCCESS)
                return ERROR_ACCESS_DENIED;
        }
        Key *inserted = insertSubkey(*k, std::move(child));
        k->lastWriteTime = now;
        if (!makeVolatile) {
            markDirty(s, *k);
            if (!journalCreateKey(s, *inserted))
                return journalFailure(s);
        }
        fireNotifications(s, k, REG_NOTIFY_CHANGE_NAME);
        k = inserted;
        created = inserted;
    }
    ACCESS_MASK granted;
    if ((rc = checkAccess(s, k, samDesired, granted)) != ERROR_SUCCESS)
        return rc;
    Location loc;
    if (w.loc.space == Space::Classes) {
        loc.space = Space::Classes;
        loc.key = k;
        const bool userSide = w.loc.user && !w.loc.logical.empty();
        loc.user = userSide ? k : nullptr;
        loc.machine = userSide ? nullptr : k;
        loc.logical = w.loc.logical;
        std::string buf;
        for (const auto &c : names) {
            if (c == "Wow6432Node" && &c == &names.front() && loc.logical.empty() && names.size() > 1)
                continue; // the view's own prefix is no part of the name the caller sees
            if (!loc.logical.empty())
                loc.logical.push_back('\\');
            loc.logical += upperInto(buf, c);
        }
    } else {
        loc.key = k;
    }
    *phkResult = s.handles.allocate(std::move(loc), granted, view32);
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey)
{
    VT_FOREIGN(hKey, closeKey, hKey)
    if (isPredefined(hKey))
        return ERROR_SUCCESS;
    System *sp = currentIfOpen();
    if (!sp)
        return ERROR_INVALID_HANDLE;
    System &s = *sp;
    Shared g(s);
    if (!s.handles.lookup(hKey))
        return ERROR_INVALID_HANDLE;
    {
        // Closing the handle completes its pending notifications, as on Windows.
        std::lock_guard n(s.notifyMutex);
        auto &regs = s.registrations;
        for (auto it = regs.begin(); it != regs.end();) {
            if (it->handle == reinterpret_cast<uintptr_t>(hKey)) {
                signalEvent(it->event);
                it = regs.erase(it);
            } else {
                ++it;
            }
        }
    }
    return s.handles.release(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace
{

// The existing key that a delete or rename by handle and path acts on: the
// handle's target, the path's components and where the walk ended.
LONG findKeyToChange(System &s, HKEY hKey, REGSAM sam, LPCSTR path, Target &t, std::vector<std::string_view> &comps,
                     Walk &w)
{
    bool view32;
    if (LONG rc = resolvePath(s, hKey, sam, path, t, view32, comps); rc != ERROR_SUCCESS)
        return rc;
    const Location &base = fullLocation(t);
    if (base.space == Space::PerfData)
        return ERROR_ACCESS_DENIED;
    walk(s, base, view32, comps, true, false, w);
    if (!w.complete || !w.loc.key)
        return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

} // namespace

LONG WINAPI RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, DWORD Reserved)
{
    VT_FOREIGN(hKey, deleteKeyEx, hKey, lpSubKey, samDesired, Reserved)
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    Exclusive g(s);
    Target t;
    std::vector<std::string_view> comps;
    Walk w;
    if (LONG rc = findKeyToChange(s, hKey, samDesired, lpSubKey, t, comps, w); rc != ERROR_SUCCESS)
        return rc;
    Key *victim = w.loc.key;
    if (comps.empty()) {
        if (!t.slot || !(t.granted & DELETE))
            return ERROR_ACCESS_DENIED;
    } else {
        ACCESS_MASK granted;
        if (checkAccess(s, victim, DELETE, granted) != ERROR_SUCCESS)
            return ERROR_ACCESS_DENIED;
    }
    // Windows refuses to delete a key with subkeys, a hive's root and the
    // roots themselves with "access denied".
    if (!victim->parent || isVirtualRoot(s, victim) || isVirtualRoot(s, victim->parent) || !victim->subkeys.empty() ||
        (victim->flags & kKeyNoDelete) || inReadOnlyHive(s, *victim))
        return ERROR_ACCESS_DENIED;
    Key *parent = victim->parent;
    const std::string name = victim->name;
    const bool wasVolatile = isUnderVolatile(*victim);
    removeSubkey(s, *parent, victim);
    parent->lastWriteTime = nowFileTime();
    if (!wasVolatile) {
        markDirty(s, *parent);
        if (!journalDeleteKey(s, *parent, name))
            return journalFailure(s);
    }
    fireNotifications(s, parent, REG_NOTIFY_CHANGE_NAME);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    return RegDeleteKeyExA(hKey, lpSubKey, 0, 0);
}

// Renames the key in place: the same object under its parent, so its
// subtree, times, class names, security and open handles all stay.
LONG WINAPI RegRenameKey(HKEY hKey, LPCSTR lpSubKeyName, LPCSTR lpNewKeyName)
{
    if (isForeign(hKey))
        return gForeign.load(std::memory_order_acquire) ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_HANDLE;
    if (!lpNewKeyName || !*lpNewKeyName || std::strchr(lpNewKeyName, '\\') ||
        utf16Length(lpNewKeyName) > kMaxKeyNameChars)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    Exclusive g(s);
    Target t;
    std::vector<std::string_view> comps;
    Walk w;
    if (LONG rc = findKeyToChange(s, hKey, 0, lpSubKeyName ? lpSubKeyName : "", t, comps, w); rc != ERROR_SUCCESS)
        return rc;
    Key *key = w.loc.key;
    // The 32-bit view's SOFTWARE is a merged picture, not one key.
    if (w.loc.space == Space::Wow64Software)
        return ERROR_ACCESS_DENIED;
    if (comps.empty()) {
        if (!t.slot || (t.granted & KEY_WRITE) != KEY_WRITE)
            return ERROR_ACCESS_DENIED;
    } else {
        ACCESS_MASK granted;
        if (checkAccess(s, key, KEY_WRITE, granted) != ERROR_SUCCESS)
            return ERROR_ACCESS_DENIED;
    }
    if (!key->parent || isVirtualRoot(s, key) || isVirtualRoot(s, key->parent) || (key->flags & kKeyNoDelete) ||
        inReadOnlyHive(s, *key))
        return ERROR_ACCESS_DENIED;
    Key *parent = key->parent;
    if (Key *clash = findChild(*parent, lpNewKeyName); clash && clash != key)
        return ERROR_ACCESS_DENIED; // as Windows answers a name already taken
    const std::string oldName = key->name;
    renameSubkey(*parent, key, lpNewKeyName);
    parent->lastWriteTime = nowFileTime();
    if (!isUnderVolatile(*key)) {
        markDirty(s, *parent);
        if (!journalRenameKey(s, *parent, oldName, lpNewKeyName))
            return ERROR_REGISTRY_IO_FAILED;
    }
    fireNotifications(s, parent, REG_NOTIFY_CHANGE_NAME);
    return ERROR_SUCCESS;
}

LONG WINAPI RegFlushKey(HKEY hKey)
{
    VT_FOREIGN(hKey, flushKey, hKey)
    System &s = current();
    {
        Shared g(s);
        Target t;
        LONG rc = resolveHandle(s, hKey, t, 0);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    Exclusive g(s);
    return checkpoint(s);
}
