// Key security: the access check of opens and creates, the descriptor a new
// key inherits, and RegGetKeySecurity / RegSetKeySecurity.
#include "platform/RegistryInternal.h"
#include "platform/SecurityApi.h"
#include "platform/hive/Regf.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace vt::platform::detail
{

const std::vector<uint8_t> &fallbackDescriptor()
{
    static const std::vector<uint8_t> sd = sec::defaultMachineHiveDescriptor();
    return sd;
}

std::span<const uint8_t> descriptorOf(const Key *k)
{
    for (; k; k = k->parent)
        if (k->security && !k->security->empty())
            return *k->security;
    return fallbackDescriptor();
}

// What a new key below `parent` inherits when created by this process.
vt::hive::SecurityDescriptorPtr inheritedSecurity(System &s, const Key *parent)
{
    const Key *from = parent;
    while (from && !(from->security && !from->security->empty()))
        from = from->parent;
    if (!from)
        return std::make_shared<const vt::hive::SecurityDescriptor>(
            sec::inheritForNewKey(fallbackDescriptor(), s.token));
    if (s.inheritSource != from->security) {
        s.inheritSource = from->security;
        s.inherited =
            std::make_shared<const vt::hive::SecurityDescriptor>(sec::inheritForNewKey(*from->security, s.token));
    }
    return s.inherited;
}

LONG checkAccess(System &s, const Key *k, ACCESS_MASK desired, ACCESS_MASK &granted)
{
    granted = 0;
    ACCESS_MASK want = sec::mapGenericKeyRights(desired & ~kViewBits);
    ACCESS_MASK extra = 0;
    if (want & ACCESS_SYSTEM_SECURITY) {
        // Administrators and SYSTEM hold the security privilege.
        if (s.options.identity == Identity::StandardUser)
            return ERROR_PRIVILEGE_NOT_HELD;
        want &= ~ACCESS_SYSTEM_SECURITY;
        extra = ACCESS_SYSTEM_SECURITY;
    }
    // Keys share descriptors, so a small per-thread cache of recent checks
    // spares most opens the descriptor walk. Entries pin their descriptor, so
    // an address is never reused while cached; a new system starts afresh.
    const Key *owner = k;
    while (owner && !(owner->security && !owner->security->empty()))
        owner = owner->parent;
    struct Entry {
        vt::hive::SecurityDescriptorPtr sd;
        const System *system = nullptr;
        uint64_t epoch = 0;
        ACCESS_MASK want = 0, granted = 0;
        LONG rc = 0;
    };
    thread_local std::array<Entry, 8> cache;
    thread_local unsigned next = 0;
    if (owner) {
        for (const Entry &e : cache) {
            if (e.sd == owner->security && e.want == want && e.system == &s && e.epoch == s.epoch) {
                granted = e.rc == ERROR_SUCCESS ? e.granted | extra : 0;
                return e.rc;
            }
        }
    }
    LONG rc = sec::accessCheck(descriptorOf(k), *s.prepared, want, granted);
    if (owner)
        cache[next++ % cache.size()] = Entry{owner->security, &s, s.epoch, want, granted, rc};
    if (rc == ERROR_SUCCESS)
        granted |= extra;
    return rc;
}

} // namespace vt::platform::detail

// ---------------------------------------------------------------------------

using namespace vt::platform;
using namespace vt::platform::detail;

LONG WINAPI RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                              PSECURITY_DESCRIPTOR pSecurityDescriptor, LPDWORD lpcbSecurityDescriptor)
{
    VT_FOREIGN(hKey, getKeySecurity, hKey, SecurityInformation, pSecurityDescriptor, lpcbSecurityDescriptor)
    if (!lpcbSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    ACCESS_MASK needed = 0;
    if (SecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               LABEL_SECURITY_INFORMATION))
        needed |= READ_CONTROL;
    if (SecurityInformation & SACL_SECURITY_INFORMATION)
        needed |= ACCESS_SYSTEM_SECURITY;
    LONG rc = resolveHandle(s, hKey, t, needed);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (t.loc.space == Space::PerfData)
        return ERROR_INVALID_HANDLE;
    sec::Bytes part = sec::selectParts(descriptorOf(t.loc.key), SecurityInformation);
    if (!pSecurityDescriptor || *lpcbSecurityDescriptor < part.size()) {
        *lpcbSecurityDescriptor = static_cast<DWORD>(part.size());
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(pSecurityDescriptor, part.data(), part.size());
    *lpcbSecurityDescriptor = static_cast<DWORD>(part.size());
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                              PSECURITY_DESCRIPTOR pSecurityDescriptor)
{
    VT_FOREIGN(hKey, setKeySecurity, hKey, SecurityInformation, pSecurityDescriptor)
    if (!pSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    // Absolute (pointers to its parts) or self-relative, as on Windows.
    sec::Bytes update;
    if (descriptorBytes(pSecurityDescriptor, update) != ERROR_SUCCESS)
        return ERROR_INVALID_SECURITY_DESCR;
    System &s = current();
    Exclusive g(s);
    ACCESS_MASK needed = 0;
    if (SecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION))
        needed |= WRITE_OWNER;
    if (SecurityInformation & DACL_SECURITY_INFORMATION)
        needed |= WRITE_DAC;
    if (SecurityInformation & SACL_SECURITY_INFORMATION)
        needed |= ACCESS_SYSTEM_SECURITY;
    Target t;
    LONG rc = writableKey(s, hKey, needed, t);
    if (rc != ERROR_SUCCESS)
        return rc;
    Key &k = *t.loc.key;
    sec::Bytes merged;
    if ((rc = sec::mergeParts(descriptorOf(&k), update, SecurityInformation, merged)) != ERROR_SUCCESS)
        return rc;
    k.security = std::make_shared<const vt::hive::SecurityDescriptor>(std::move(merged));
    if (!isUnderVolatile(k)) {
        markDirty(s, k);
        if (!journalSetSecurity(s, k))
            return journalFailure(s);
    }
    // The descriptor is one of the key's attributes too.
    fireNotifications(s, &k, REG_NOTIFY_CHANGE_SECURITY | REG_NOTIFY_CHANGE_ATTRIBUTES);
    return ERROR_SUCCESS;
}
