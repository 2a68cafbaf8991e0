// The process token's privileges: OpenProcessToken, LookupPrivilegeValueA,
// AdjustTokenPrivileges. As on Windows, a privilege the token holds still
// has to be enabled before a call that needs it (RegLoadKeyA, RegSaveKeyA, ...).
#include "platform/Engine.h"

#include <array>
#include <cctype>
#include <string_view>

using namespace vt::platform::detail;
using vt::platform::Identity;

namespace
{

struct PrivilegeName {
    std::string_view name;
    uint32_t luid;
};

// Windows' names and LUIDs.
constexpr std::array<PrivilegeName, 24> kPrivileges = {{
    {"SeCreateTokenPrivilege", 2},
    {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},
    {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},
    {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},
    {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},
    {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},
    {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14},
    {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},
    {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},
    {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},
    {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22},
    {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},
    {"SeUndockPrivilege", 25},
}};

constexpr uint64_t bit(uint32_t luid)
{
    return uint64_t(1) << luid;
}

constexpr uint64_t kChangeNotify = bit(23);
// An elevated administrator's token; only SeChangeNotify starts enabled.
constexpr uint64_t kAdministrator = bit(5) | bit(8) | bit(9) | bit(10) | bit(11) | bit(12) | bit(13) | bit(14) |
                                    bit(15) | bit(17) | bit(18) | bit(19) | bit(20) | bit(22) | kChangeNotify |
                                    bit(24) | bit(25);
constexpr uint64_t kStandardUser = bit(19) | kChangeNotify | bit(25);

bool sameNameNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool knownLuid(const LUID &l)
{
    if (l.HighPart != 0)
        return false;
    for (const auto &p : kPrivileges)
        if (p.luid == l.LowPart)
            return true;
    return false;
}

} // namespace

namespace vt::platform::detail
{

void resetPrivileges(System &s)
{
    uint64_t held = kAdministrator;
    switch (s.options.identity) {
    case Identity::StandardUser:
        held = kStandardUser;
        break;
    case Identity::LocalSystem:
        for (const auto &p : kPrivileges)
            held |= bit(p.luid);
        break;
    case Identity::Administrator:
        break;
    }
    s.privilegesHeld = held;
    s.privilegesEnabled = held & kChangeNotify;
}

bool privilegeEnabled(System &s, uint32_t luid)
{
    // The system account keeps passing every check, as it always has here.
    if (s.options.identity == Identity::LocalSystem)
        return true;
    return (s.privilegesEnabled.load() & bit(luid)) != 0;
}

} // namespace vt::platform::detail

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle)
{
    if (!TokenHandle) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (ProcessHandle != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    current(); // the token belongs to the system in use
    *TokenHandle = createTokenHandle(DesiredAccess);
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid)
{
    if (lpSystemName && *lpSystemName) {
        SetLastError(ERROR_NOT_SUPPORTED); // only the local system's privileges are known
        return FALSE;
    }
    if (!lpName || !lpLuid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (const auto &p : kPrivileges)
        if (sameNameNoCase(p.name, lpName)) {
            lpLuid->LowPart = p.luid;
            lpLuid->HighPart = 0;
            return TRUE;
        }
    SetLastError(ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength)
{
    ACCESS_MASK access = 0;
    if (!tokenHandleAccess(TokenHandle, access)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(access & TOKEN_ADJUST_PRIVILEGES) || (PreviousState && !(access & TOKEN_QUERY))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!DisableAllPrivileges && !NewState) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (PreviousState && !ReturnLength) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    System &s = current();
    const uint64_t held = s.privilegesHeld.load();
    const uint64_t enabled = s.privilegesEnabled.load();
    uint64_t newHeld = held, newEnabled = enabled;
    bool allAssigned = true;
    if (DisableAllPrivileges) {
        newEnabled = 0;
    } else {
        for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES &p = NewState->Privileges[i];
            if (!knownLuid(p.Luid) || !(held & bit(p.Luid.LowPart))) {
                allAssigned = false; // Windows skips what the token does not hold
                continue;
            }
            const uint64_t b = bit(p.Luid.LowPart);
            if (p.Attributes & SE_PRIVILEGE_REMOVED) {
                newHeld &= ~b;
                newEnabled &= ~b;
            } else if (p.Attributes & SE_PRIVILEGE_ENABLED) {
                newEnabled |= b;
            } else {
                newEnabled &= ~b;
            }
        }
    }
    if (PreviousState) {
        // The previous state lists the privileges whose state changed.
        DWORD count = 0;
        for (const auto &p : kPrivileges)
            if (((enabled ^ newEnabled) | (held ^ newHeld)) & bit(p.luid))
                ++count;
        const DWORD need = DWORD(sizeof(DWORD) + count * sizeof(LUID_AND_ATTRIBUTES));
        *ReturnLength = need;
        if (BufferLength < need) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        PreviousState->PrivilegeCount = count;
        LUID_AND_ATTRIBUTES *out = PreviousState->Privileges;
        for (const auto &p : kPrivileges) {
            if (!(((enabled ^ newEnabled) | (held ^ newHeld)) & bit(p.luid)))
                continue;
            out->Luid = {p.luid, 0};
            out->Attributes = (enabled & bit(p.luid)) ? SE_PRIVILEGE_ENABLED : 0;
            ++out;
        }
    }
    s.privilegesHeld = newHeld;
    s.privilegesEnabled = newEnabled;
    SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}
