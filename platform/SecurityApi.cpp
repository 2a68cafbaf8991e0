// The security functions of advapi32 in Windows' shapes: SID and descriptor
// strings both ways, absolute and self-relative descriptors, and the account
// lookups, over vt::security. Memory handed out is freed with LocalFree.
#include "platform/SecurityApi.h"

#include "platform/SystemInternal.h"
#include "platform/vtPlatform.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace sec = vt::security;

namespace
{

constexpr size_t kHeader = 20;
constexpr size_t kMaxDescriptor = 0x10000 + kHeader;

uint16_t rd16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t rd32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

BOOL fail(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

// A SID behind a pointer: its length from its own header, 0 when it is not one.
size_t sidLengthAt(const void *sid)
{
    const auto *p = static_cast<const uint8_t *>(sid);
    if (!p || p[0] != 1 || p[1] > 15)
        return 0;
    return 8 + 4 * size_t(p[1]);
}

char *localCopy(std::string_view text)
{
    auto *out = static_cast<char *>(std::malloc(text.size() + 1));
    if (out) {
        std::memcpy(out, text.data(), text.size());
        out[text.size()] = '\0';
    }
    return out;
}

bool sameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

// ---- accounts ---------------------------------------------------------------

struct WellKnown {
    const char *sid;
    const char *name;
    const char *domain;
    SID_NAME_USE use;
};

// Windows' names and domains of its well-known SIDs (English system).
constexpr WellKnown kWellKnown[] = {
    {"S-1-0-0", "NULL SID", "", SidTypeWellKnownGroup},
    {"S-1-1-0", "Everyone", "", SidTypeWellKnownGroup},
    {"S-1-2-0", "LOCAL", "", SidTypeWellKnownGroup},
    {"S-1-2-1", "CONSOLE LOGON", "", SidTypeWellKnownGroup},
    {"S-1-3-0", "CREATOR OWNER", "", SidTypeWellKnownGroup},
    {"S-1-3-1", "CREATOR GROUP", "", SidTypeWellKnownGroup},
    {"S-1-3-2", "CREATOR OWNER SERVER", "", SidTypeWellKnownGroup},
    {"S-1-3-3", "CREATOR GROUP SERVER", "", SidTypeWellKnownGroup},
    {"S-1-3-4", "OWNER RIGHTS", "", SidTypeWellKnownGroup},
    {"S-1-5-1", "DIALUP", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-2", "NETWORK", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-3", "BATCH", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-4", "INTERACTIVE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-6", "SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-7", "ANONYMOUS LOGON", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-8", "PROXY", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-9", "ENTERPRISE DOMAIN CONTROLLERS", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-10", "SELF", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-11", "Authenticated Users", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-12", "RESTRICTED", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-13", "TERMINAL SERVER USER", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-14", "REMOTE INTERACTIVE LOGON", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-15", "This Organization", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-17", "IUSR", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-18", "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-19", "LOCAL SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-20", "NETWORK SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-32", "BUILTIN", "BUILTIN", SidTypeDomain},
    {"S-1-5-32-544", "Administrators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-545", "Users", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-546", "Guests", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-547", "Power Users", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-548", "Account Operators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-549", "Server Operators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-550", "Print Operators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-551", "Backup Operators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-552", "Replicator", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-554", "Pre-Windows 2000 Compatible Access", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-555", "Remote Desktop Users", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-556", "Network Configuration Operators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-558", "Performance Monitor Users", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-559", "Performance Log Users", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-562", "Distributed COM Users", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-568", "IIS_IUSRS", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-569", "Cryptographic Operators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-573", "Event Log Readers", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-574", "Certificate Service DCOM Access", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-578", "Hyper-V Administrators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-579", "Access Control Assistance Operators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-580", "Remote Management Users", "BUILTIN", SidTypeAlias},
    {"S-1-5-80-0", "ALL SERVICES", "NT SERVICE", SidTypeWellKnownGroup},
    {"S-1-15-2-1", "ALL APPLICATION PACKAGES", "APPLICATION PACKAGE AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-15-2-2", "ALL RESTRICTED APPLICATION PACKAGES", "APPLICATION PACKAGE AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-16-0", "Untrusted Mandatory Level", "Mandatory Label", SidTypeLabel},
    {"S-1-16-4096", "Low Mandatory Level", "Mandatory Label", SidTypeLabel},
    {"S-1-16-8192", "Medium Mandatory Level", "Mandatory Label", SidTypeLabel},
    {"S-1-16-8448", "Medium Plus Mandatory Level", "Mandatory Label", SidTypeLabel},
    {"S-1-16-12288", "High Mandatory Level", "Mandatory Label", SidTypeLabel},
    {"S-1-16-16384", "System Mandatory Level", "Mandatory Label", SidTypeLabel},
};

struct Account {
    std::string sid, name, domain;
    SID_NAME_USE use = SidTypeInvalid;
};

// The accounts this computer knows: the well-known ones, the computer's own
// domain (the machine part of the user's SID) and the platform's user.
std::vector<Account> accounts()
{
    std::vector<Account> out;
    out.reserve(std::size(kWellKnown) + 2);
    for (const WellKnown &w : kWellKnown)
        out.push_back({w.sid, w.name, w.domain, w.use});
    const std::string computer = vt::platform::detail::localComputerName();
    const std::string user = vt::platform::currentUserSid();
    if (const size_t dash = user.rfind('-'); dash != std::string::npos && user.starts_with("S-1-5-21-"))
        out.push_back({user.substr(0, dash), computer, computer, SidTypeDomain});
    out.push_back({user, vt::platform::currentUserName(), computer, SidTypeUser});
    return out;
}

// Only this computer answers: no name, "", its own name, with or without "\\".
bool isLocalSystem(LPCSTR name)
{
    if (!name || !*name)
        return true;
    std::string_view n = name;
    if (n.starts_with("\\\\"))
        n.remove_prefix(2);
    return sameText(n, vt::platform::detail::localComputerName());
}

// Windows' buffer protocol: each buffer holds its text and the terminating
// null, or the call fails with both sizes (null included) filled in.
bool fits(DWORD have, size_t need, const void *buffer)
{
    return buffer && have > need;
}

} // namespace

namespace vt::platform::detail
{

std::string localComputerName()
{
    return computerName();
}

size_t selfRelativeExtent(const uint8_t *sd, size_t available)
{
    if (!sd || available < kHeader)
        return 0;
    const uint16_t control = rd16(sd + 2);
    size_t end = kHeader;
    for (size_t field : {4u, 8u}) {
        const uint32_t off = rd32(sd + field);
        if (!off)
            continue;
        if (off < kHeader || off > kMaxDescriptor || size_t(off) + 8 > available)
            return 0;
        end = std::max(end, size_t(off) + 8 + 4 * size_t(sd[off + 1]));
    }
    const std::pair<size_t, uint16_t> acls[] = {{12, SE_SACL_PRESENT}, {16, SE_DACL_PRESENT}};
    for (auto [field, present] : acls) {
        const uint32_t off = rd32(sd + field);
        if (!off || !(control & present))
            continue;
        if (off < kHeader || off > kMaxDescriptor || size_t(off) + 8 > available)
            return 0;
        end = std::max(end, size_t(off) + rd16(sd + off + 2));
    }
    return end <= available ? end : 0;
}

LONG descriptorBytes(PSECURITY_DESCRIPTOR sd, sec::Bytes &out)
{
    const auto *p = static_cast<const uint8_t *>(sd);
    if (!p)
        return ERROR_INVALID_PARAMETER;
    if (p[0] != SECURITY_DESCRIPTOR_REVISION)
        return ERROR_UNKNOWN_REVISION;
    const uint16_t control = rd16(p + 2);
    if (control & SE_SELF_RELATIVE) {
        const size_t n = selfRelativeExtent(p, SIZE_MAX);
        if (!n)
            return ERROR_INVALID_SECURITY_DESCR;
        if (const LONG rc = sec::descriptorError({p, n}); rc != ERROR_SUCCESS)
            return rc;
        out.assign(p, p + n);
        return ERROR_SUCCESS;
    }
    const auto *abs = static_cast<const SECURITY_DESCRIPTOR *>(sd);
    auto sidSpan = [](PSID sid, std::span<const uint8_t> &span) {
        if (!sid)
            return true;
        const size_t n = sidLengthAt(sid);
        span = {static_cast<const uint8_t *>(sid), n};
        return n != 0;
    };
    auto aclSpan = [](PACL acl, std::span<const uint8_t> &span) {
        if (!acl)
            return true;
        span = {reinterpret_cast<const uint8_t *>(acl), acl->AclSize};
        return sec::aclSize(span) == acl->AclSize;
    };
    std::span<const uint8_t> owner, group, sacl, dacl;
    if (!sidSpan(abs->Owner, owner) || !sidSpan(abs->Group, group))
        return ERROR_INVALID_SECURITY_DESCR;
    const bool saclPresent = control & SE_SACL_PRESENT, daclPresent = control & SE_DACL_PRESENT;
    if ((saclPresent && !aclSpan(abs->Sacl, sacl)) || (daclPresent && !aclSpan(abs->Dacl, dacl)))
        return ERROR_INVALID_ACL;
    out = sec::buildDescriptor(control, owner, group, saclPresent, sacl, daclPresent, dacl);
    return ERROR_SUCCESS;
}

} // namespace vt::platform::detail

using vt::platform::detail::descriptorBytes;

BOOL WINAPI ConvertStringSidToSidA(LPCSTR StringSid, PSID *Sid)
{
    if (!StringSid || !Sid)
        return fail(ERROR_INVALID_PARAMETER);
    const auto bytes = sec::sidFromString(StringSid);
    if (!bytes)
        return fail(ERROR_INVALID_SID);
    void *out = std::malloc(bytes->size());
    if (!out)
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    std::memcpy(out, bytes->data(), bytes->size());
    *Sid = out;
    return TRUE;
}

BOOL WINAPI ConvertSidToStringSidA(PSID Sid, LPSTR *StringSid)
{
    if (!Sid || !StringSid)
        return fail(ERROR_INVALID_PARAMETER);
    const size_t n = sidLengthAt(Sid);
    if (!n)
        return fail(ERROR_INVALID_SID);
    const std::string text = sec::sidToString({static_cast<const uint8_t *>(Sid), n});
    if (text.empty())
        return fail(ERROR_INVALID_SID);
    if (!(*StringSid = localCopy(text)))
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    return TRUE;
}

BOOL WINAPI ConvertSecurityDescriptorToStringSecurityDescriptorA(PSECURITY_DESCRIPTOR SecurityDescriptor,
                                                                 DWORD RequestedStringSDRevision,
                                                                 SECURITY_INFORMATION SecurityInformation,
                                                                 LPSTR *StringSecurityDescriptor,
                                                                 PULONG StringSecurityDescriptorLen)
{
    if (!SecurityDescriptor || !StringSecurityDescriptor)
        return fail(ERROR_INVALID_PARAMETER);
    if (RequestedStringSDRevision != SDDL_REVISION_1)
        return fail(ERROR_UNKNOWN_REVISION);
    sec::Bytes bytes;
    if (const LONG rc = descriptorBytes(SecurityDescriptor, bytes); rc != ERROR_SUCCESS)
        return fail(DWORD(rc));
    std::string text;
    if (const LONG rc = sec::descriptorToSddl(bytes, SecurityInformation, text); rc != ERROR_SUCCESS)
        return fail(DWORD(rc));
    if (!(*StringSecurityDescriptor = localCopy(text)))
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    if (StringSecurityDescriptorLen) // Windows counts the terminating null
        *StringSecurityDescriptorLen = ULONG(text.size() + 1);
    return TRUE;
}

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR StringSecurityDescriptor,
                                                                 DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR *SecurityDescriptor,
                                                                 PULONG SecurityDescriptorSize)
{
    if (!StringSecurityDescriptor || !SecurityDescriptor)
        return fail(ERROR_INVALID_PARAMETER);
    if (StringSDRevision != SDDL_REVISION_1)
        return fail(ERROR_UNKNOWN_REVISION);
    const auto bytes = sec::descriptorFromSddl(StringSecurityDescriptor);
    if (!bytes)
        return fail(ERROR_INVALID_PARAMETER);
    void *out = std::malloc(bytes->size());
    if (!out)
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    std::memcpy(out, bytes->data(), bytes->size());
    *SecurityDescriptor = out;
    if (SecurityDescriptorSize)
        *SecurityDescriptorSize = ULONG(bytes->size());
    return TRUE;
}

BOOL WINAPI MakeAbsoluteSD(PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                           PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor, LPDWORD lpdwAbsoluteSecurityDescriptorSize,
                           PACL pDacl, LPDWORD lpdwDaclSize, PACL pSacl, LPDWORD lpdwSaclSize, PSID pOwner,
                           LPDWORD lpdwOwnerSize, PSID pPrimaryGroup, LPDWORD lpdwPrimaryGroupSize)
{
    const auto *p = static_cast<const uint8_t *>(pSelfRelativeSecurityDescriptor);
    if (!p || !lpdwAbsoluteSecurityDescriptorSize || !lpdwDaclSize || !lpdwSaclSize || !lpdwOwnerSize ||
        !lpdwPrimaryGroupSize)
        return fail(ERROR_INVALID_PARAMETER);
    if (p[0] == SECURITY_DESCRIPTOR_REVISION && !(rd16(p + 2) & SE_SELF_RELATIVE))
        return fail(ERROR_BAD_DESCRIPTOR_FORMAT);
    sec::Bytes b;
    if (const LONG rc = descriptorBytes(pSelfRelativeSecurityDescriptor, b); rc != ERROR_SUCCESS)
        return fail(DWORD(rc));
    const uint16_t control = rd16(&b[2]);
    auto part = [&](size_t field, bool acl) -> std::span<const uint8_t> {
        const uint32_t off = rd32(&b[field]);
        if (!off)
            return {};
        std::span<const uint8_t> rest(b.data() + off, b.size() - off);
        return rest.first(acl ? sec::aclSize(rest) : sec::sidSize(rest));
    };
    const auto owner = part(4, false), group = part(8, false);
    const auto sacl = (control & SE_SACL_PRESENT) ? part(12, true) : std::span<const uint8_t>();
    const auto dacl = (control & SE_DACL_PRESENT) ? part(16, true) : std::span<const uint8_t>();
    const bool fitsAll = *lpdwAbsoluteSecurityDescriptorSize >= sizeof(SECURITY_DESCRIPTOR) &&
                         pAbsoluteSecurityDescriptor && *lpdwDaclSize >= dacl.size() && (dacl.empty() || pDacl) &&
                         *lpdwSaclSize >= sacl.size() && (sacl.empty() || pSacl) && *lpdwOwnerSize >= owner.size() &&
                         (owner.empty() || pOwner) && *lpdwPrimaryGroupSize >= group.size() &&
                         (group.empty() || pPrimaryGroup);
    *lpdwAbsoluteSecurityDescriptorSize = sizeof(SECURITY_DESCRIPTOR);
    *lpdwDaclSize = DWORD(dacl.size());
    *lpdwSaclSize = DWORD(sacl.size());
    *lpdwOwnerSize = DWORD(owner.size());
    *lpdwPrimaryGroupSize = DWORD(group.size());
    if (!fitsAll)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    auto copy = [](std::span<const uint8_t> from, void *to) -> void * {
        if (from.empty())
            return nullptr;
        std::memcpy(to, from.data(), from.size());
        return to;
    };
    auto *abs = static_cast<SECURITY_DESCRIPTOR *>(pAbsoluteSecurityDescriptor);
    abs->Revision = SECURITY_DESCRIPTOR_REVISION;
    abs->Sbz1 = b[1];
    abs->Control = SECURITY_DESCRIPTOR_CONTROL(control & ~SE_SELF_RELATIVE);
    abs->Owner = copy(owner, pOwner);
    abs->Group = copy(group, pPrimaryGroup);
    abs->Sacl = static_cast<PACL>(copy(sacl, pSacl));
    abs->Dacl = static_cast<PACL>(copy(dacl, pDacl));
    return TRUE;
}

BOOL WINAPI MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                               PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor, LPDWORD lpdwBufferLength)
{
    const auto *p = static_cast<const uint8_t *>(pAbsoluteSecurityDescriptor);
    if (!p || !lpdwBufferLength)
        return fail(ERROR_INVALID_PARAMETER);
    if (p[0] == SECURITY_DESCRIPTOR_REVISION && (rd16(p + 2) & SE_SELF_RELATIVE))
        return fail(ERROR_BAD_DESCRIPTOR_FORMAT);
    sec::Bytes b;
    if (const LONG rc = descriptorBytes(pAbsoluteSecurityDescriptor, b); rc != ERROR_SUCCESS)
        return fail(DWORD(rc));
    if (!pSelfRelativeSecurityDescriptor || *lpdwBufferLength < b.size()) {
        *lpdwBufferLength = DWORD(b.size());
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(pSelfRelativeSecurityDescriptor, b.data(), b.size());
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                                      BOOL bDaclDefaulted)
{
    auto *sd = static_cast<SECURITY_DESCRIPTOR *>(pSecurityDescriptor);
    if (!sd)
        return fail(ERROR_INVALID_PARAMETER);
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION)
        return fail(ERROR_UNKNOWN_REVISION);
    if (sd->Control & SE_SELF_RELATIVE) // only an absolute descriptor takes a pointer
        return fail(ERROR_INVALID_SECURITY_DESCR);
    if (!bDaclPresent) {
        sd->Control &= SECURITY_DESCRIPTOR_CONTROL(~SE_DACL_PRESENT);
        return TRUE;
    }
    sd->Control |= SE_DACL_PRESENT;
    sd->Dacl = pDacl;
    if (bDaclDefaulted)
        sd->Control |= SE_DACL_DEFAULTED;
    else
        sd->Control &= SECURITY_DESCRIPTOR_CONTROL(~SE_DACL_DEFAULTED);
    return TRUE;
}

BOOL WINAPI LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName, LPSTR ReferencedDomainName,
                              LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse)
{
    if (!Sid || !cchName || !cchReferencedDomainName)
        return fail(ERROR_INVALID_PARAMETER);
    const size_t n = sidLengthAt(Sid);
    if (!n)
        return fail(ERROR_INVALID_SID);
    if (!isLocalSystem(lpSystemName))
        return fail(RPC_S_SERVER_UNAVAILABLE);
    const std::string sid = sec::sidToString({static_cast<const uint8_t *>(Sid), n});
    for (const Account &a : accounts()) {
        if (a.sid != sid)
            continue;
        if (!fits(*cchName, a.name.size(), Name) ||
            !fits(*cchReferencedDomainName, a.domain.size(), ReferencedDomainName)) {
            *cchName = DWORD(a.name.size() + 1);
            *cchReferencedDomainName = DWORD(a.domain.size() + 1);
            return fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(Name, a.name.c_str(), a.name.size() + 1);
        std::memcpy(ReferencedDomainName, a.domain.c_str(), a.domain.size() + 1);
        *cchName = DWORD(a.name.size());
        *cchReferencedDomainName = DWORD(a.domain.size());
        if (peUse)
            *peUse = a.use;
        return TRUE;
    }
    return fail(ERROR_NONE_MAPPED);
}

BOOL WINAPI LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                               LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse)
{
    if (!lpAccountName || !cbSid || !cchReferencedDomainName)
        return fail(ERROR_INVALID_PARAMETER);
    if (!isLocalSystem(lpSystemName))
        return fail(RPC_S_SERVER_UNAVAILABLE);
    // "DOMAIN\name" names the account in that domain; a bare name is looked
    // up in every domain.
    std::string_view full = lpAccountName, domain, name = full;
    const size_t slash = full.find('\\');
    const bool qualified = slash != std::string_view::npos;
    if (qualified) {
        domain = full.substr(0, slash);
        name = full.substr(slash + 1);
    }
    for (const Account &a : accounts()) {
        if (!sameText(a.name, name) || (qualified && !sameText(a.domain, domain)))
            continue;
        const auto bytes = sec::sidFromString(a.sid);
        if (!bytes)
            continue;
        if (!Sid || *cbSid < bytes->size() || !fits(*cchReferencedDomainName, a.domain.size(), ReferencedDomainName)) {
            *cbSid = DWORD(bytes->size());
            *cchReferencedDomainName = DWORD(a.domain.size() + 1);
            return fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(Sid, bytes->data(), bytes->size());
        std::memcpy(ReferencedDomainName, a.domain.c_str(), a.domain.size() + 1);
        *cbSid = DWORD(bytes->size());
        *cchReferencedDomainName = DWORD(a.domain.size());
        if (peUse)
            *peUse = a.use;
        return TRUE;
    }
    return fail(ERROR_NONE_MAPPED);
}
