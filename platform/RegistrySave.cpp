// Saving a key to a hive file and restoring one over a key.
#include "platform/RegistryInternal.h"
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

// A copy of a key's subtree as a hive tree; volatile keys stay behind, as
// Windows never saves them.
std::unique_ptr<Key> copyForSave(const Key &k)
{
    auto out = std::make_unique<Key>();
    out->name = k.name;
    out->upperName = k.upperName;
    out->className = k.className;
    out->lastWriteTime = k.lastWriteTime;
    out->security = k.security;
    out->flags = k.flags & ~(kKeyHiveEntry | kKeyNoDelete);
    out->userFlags = k.userFlags;
    out->virtControlFlags = k.virtControlFlags;
    out->nameCompressed = k.nameCompressed;
    out->values = k.values;
    for (const auto &child : k.subkeys) {
        if (child->isVolatile)
            continue;
        auto c = copyForSave(*child);
        c->parent = out.get();
        out->subkeys.push_back(std::move(c));
    }
    return out;
}

// Adds a copy of a file's key below `parent`, journaling each key and value
// so the restore is as durable as any other change.
bool restoreInto(System &s, Key &parent, const Key &from, bool makeVolatile)
{
    auto k = newKey(from.name, from.lastWriteTime);
    k->className = from.className;
    k->flags = from.flags & kKeySymLink;
    k->security = from.security ? from.security : inheritedSecurity(s, &parent);
    k->isVolatile = makeVolatile;
    k->nameCompressed = from.nameCompressed;
    k->values = from.values;
    Key *inserted = insertSubkey(parent, std::move(k));
    if (!makeVolatile) {
        markDirty(s, *inserted);
        if (!journalCreateKey(s, *inserted))
            return false;
        for (const Value &v : inserted->values)
            if (!journalSetValue(s, *inserted, v))
                return false;
    }
    for (const auto &child : from.subkeys)
        if (!restoreInto(s, *inserted, *child, makeVolatile))
            return false;
    return true;
}

} // namespace

LONG WINAPI RegSaveKeyA(HKEY hKey, LPCSTR lpFile, const LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    (void)lpSecurityAttributes; // the file gets the process's default mode
    if ((reinterpret_cast<uintptr_t>(hKey) & 0xF) == vt::platform::kForeignKeyTag)
        return ERROR_CALL_NOT_IMPLEMENTED; // a remote key is saved on its own machine
    if (!lpFile || !*lpFile)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    if (!privilegeEnabled(s, kSeBackupPrivilege))
        return ERROR_PRIVILEGE_NOT_HELD;
    catchUp(s);
    vt::hive::Hive hive;
    {
        Shared g(s);
        Target t;
        LONG rc = resolveHandle(s, hKey, t, 0);
        if (rc != ERROR_SUCCESS)
            return rc;
        if (t.loc.space == Space::PerfData || !t.loc.key || isVirtualRoot(s, t.loc.key))
            return ERROR_INVALID_HANDLE;
        hive.root = copyForSave(*t.loc.key);
    }
    hive.headerTimestamp = nowFileTime();
    const std::string file = vt::platform::toNativePath(lpFile);
    // Windows never overwrites: the caller removes an old file first.
    if (::access(file.c_str(), F_OK) == 0)
        return ERROR_ALREADY_EXISTS;
    return vt::hive::saveHiveFile(file, hive);
}

LONG WINAPI RegRestoreKeyA(HKEY hKey, LPCSTR lpFile, DWORD dwFlags)
{
    if ((reinterpret_cast<uintptr_t>(hKey) & 0xF) == vt::platform::kForeignKeyTag)
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (!lpFile || !*lpFile)
        return ERROR_INVALID_PARAMETER;
    if (dwFlags & ~DWORD(REG_FORCE_RESTORE | REG_NO_LAZY_FLUSH))
        return ERROR_INVALID_PARAMETER; // whole-hive volatile and refresh restores are not offered
    System &s = current();
    if (!privilegeEnabled(s, kSeRestorePrivilege))
        return ERROR_PRIVILEGE_NOT_HELD;
    vt::hive::Hive hive;
    if (LONG rc = vt::hive::loadHiveFile(vt::platform::toNativePath(lpFile), hive); rc != ERROR_SUCCESS)
        return rc;
    if (!hive.root)
        return ERROR_BADDB;
    Exclusive g(s);
    Target t;
    LONG rc = writableKey(s, hKey, 0, t);
    if (rc != ERROR_SUCCESS)
        return rc;
    Key &k = *t.loc.key;
    // Open handles below the key keep it in use unless the caller forces the restore.
    if (!(dwFlags & REG_FORCE_RESTORE)) {
        bool busy = false;
        s.handles.forEachUsed([&](Slot &slot, size_t) {
            if (!slot.deleted && slot.loc.key && slot.loc.key != &k && isInside(slot.loc.key, &k))
                busy = true;
        });
        if (busy)
            return ERROR_ACCESS_DENIED;
    }
    const bool makeVolatile = isUnderVolatile(k);
    const uint64_t now = nowFileTime();
    while (!k.subkeys.empty()) {
        const std::string name = k.subkeys.back()->name;
        removeSubkey(s, k, k.subkeys.back().get());
        k.lastWriteTime = now;
        if (!makeVolatile && !journalDeleteKey(s, k, name))
            return ERROR_REGISTRY_IO_FAILED;
    }
    while (!k.values.empty()) {
        const std::string name = k.values.back().name;
        deleteValue(k, name);
        if (!makeVolatile && !journalDeleteValue(s, k, name))
            return ERROR_REGISTRY_IO_FAILED;
    }
    for (const Value &v : hive.root->values) {
        setValue(k, v.name, v.type, v.data);
        if (!makeVolatile && !journalSetValue(s, k, *findValue(k, v.name)))
            return ERROR_REGISTRY_IO_FAILED;
    }
    for (const auto &child : hive.root->subkeys)
        if (!restoreInto(s, k, *child, makeVolatile))
            return ERROR_REGISTRY_IO_FAILED;
    k.lastWriteTime = now;
    if (!makeVolatile)
        markDirty(s, k);
    fireNotifications(s, &k, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET);
    return ERROR_SUCCESS;
}
