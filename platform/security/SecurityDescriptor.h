// Security descriptors in their self-relative binary form, SIDs, SDDL, access
// checks and inheritance, as Windows defines them for registry keys.
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vt::security
{

using Bytes = std::vector<uint8_t>;

// Control bits of a descriptor header (SECURITY_DESCRIPTOR_CONTROL).
inline constexpr uint16_t kSeOwnerDefaulted = 0x0001;
inline constexpr uint16_t kSeGroupDefaulted = 0x0002;
inline constexpr uint16_t kSeDaclPresent = 0x0004;
inline constexpr uint16_t kSeDaclDefaulted = 0x0008;
inline constexpr uint16_t kSeSaclPresent = 0x0010;
inline constexpr uint16_t kSeSaclDefaulted = 0x0020;
inline constexpr uint16_t kSeDaclAutoInheritReq = 0x0100;
inline constexpr uint16_t kSeSaclAutoInheritReq = 0x0200;
inline constexpr uint16_t kSeDaclAutoInherited = 0x0400;
inline constexpr uint16_t kSeSaclAutoInherited = 0x0800;
inline constexpr uint16_t kSeDaclProtected = 0x1000;
inline constexpr uint16_t kSeSaclProtected = 0x2000;
inline constexpr uint16_t kSeRmControlValid = 0x4000;
inline constexpr uint16_t kSeSelfRelative = 0x8000;

// ACE types and flags.
inline constexpr uint8_t kAccessAllowedAce = 0x00;
inline constexpr uint8_t kAccessDeniedAce = 0x01;
inline constexpr uint8_t kSystemAuditAce = 0x02;
inline constexpr uint8_t kSystemAlarmAce = 0x03;
inline constexpr uint8_t kSystemMandatoryLabelAce = 0x11;
inline constexpr uint8_t kObjectInheritAce = 0x01;
inline constexpr uint8_t kContainerInheritAce = 0x02;
inline constexpr uint8_t kNoPropagateInheritAce = 0x04;
inline constexpr uint8_t kInheritOnlyAce = 0x08;
inline constexpr uint8_t kInheritedAce = 0x10;
inline constexpr uint8_t kSuccessfulAccessAceFlag = 0x40;
inline constexpr uint8_t kFailedAccessAceFlag = 0x80;

// Who is asking: the user's SID, the groups it belongs to, and whether it
// holds the backup and restore privileges (which pass every check).
struct Token {
    std::string userSid;                // "S-1-5-21-..."
    std::vector<std::string> groupSids; // e.g. "S-1-5-32-544", "S-1-1-0", "S-1-5-11"
    bool backupRestorePrivileges = false;
};

// SIDs in string form <-> binary. sidFromString also takes the two-letter
// SDDL aliases ("BA", "SY", ...), as ConvertStringSidToSid does; sidToString
// gives "" for bytes that are not a SID.
std::optional<Bytes> sidFromString(std::string_view sid);
std::string sidToString(std::span<const uint8_t> sid);

// True when the bytes are a well-formed self-relative descriptor.
bool isValidDescriptor(std::span<const uint8_t> sd);

// SDDL text <-> self-relative descriptor. SDDL aliases (BA, SY, WD, CO, ...)
// and the key rights letters (KA, KR, KW, KX) are understood.
std::optional<Bytes> descriptorFromSddl(std::string_view sddl);
std::string descriptorToSddl(std::span<const uint8_t> sd,
                             SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                          DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION);

// Why a self-relative descriptor is refused, in Windows' codes:
// ERROR_SUCCESS, ERROR_INVALID_SECURITY_DESCR (header, owner, group, an
// offset outside the bytes) or ERROR_INVALID_ACL (an ACL or one of its ACEs).
LONG descriptorError(std::span<const uint8_t> sd);

// descriptorToSddl with those codes; ERROR_INVALID_ACL also for an ACE that
// has no SDDL form here (callback conditions, resource attributes).
LONG descriptorToSddl(std::span<const uint8_t> sd, SECURITY_INFORMATION parts, std::string &out);

// Length of the SID or ACL at the start of the bytes (validated, within
// them), 0 when it is not one.
std::size_t sidSize(std::span<const uint8_t> sid);
std::size_t aclSize(std::span<const uint8_t> acl);

// A self-relative descriptor from its parts laid out as Windows does; an
// empty ACL span with its present flag is a null ACL.
Bytes buildDescriptor(uint16_t control, std::span<const uint8_t> owner, std::span<const uint8_t> group,
                      bool saclPresent, std::span<const uint8_t> sacl, bool daclPresent, std::span<const uint8_t> dacl);

// Maps GENERIC_* bits of a requested mask to key rights.
ACCESS_MASK mapGenericKeyRights(ACCESS_MASK mask);

// The Windows access check for a key: returns ERROR_SUCCESS and the granted
// mask (MAXIMUM_ALLOWED gives everything the DACL allows), or
// ERROR_ACCESS_DENIED. KEY_WOW64_* bits are ignored. A null DACL grants all;
// the owner always gets READ_CONTROL and WRITE_DAC. A malformed descriptor
// denies everything (except to the backup and restore privileges).
LONG accessCheck(std::span<const uint8_t> sd, const Token &token, ACCESS_MASK desired, ACCESS_MASK &granted);

// A token with its SIDs already in binary form, for callers that check many
// keys with the same token (string SIDs are parsed on every call otherwise).
class PreparedToken
{
public:
    explicit PreparedToken(const Token &token);
    bool backupRestorePrivileges() const { return m_privileged; }
    // True when the SID bytes are the user or one of the groups.
    bool contains(std::span<const uint8_t> sid) const;
    std::span<const uint8_t> user() const { return {m_sids.data(), m_userLen}; }

private:
    Bytes m_sids; // user, then groups, back to back
    std::size_t m_userLen = 0;
    bool m_privileged = false;
};
LONG accessCheck(std::span<const uint8_t> sd, const PreparedToken &token, ACCESS_MASK desired, ACCESS_MASK &granted);

// The descriptor a new subkey gets: inheritable ACEs of the parent
// (CONTAINER_INHERIT, INHERIT_ONLY, NO_PROPAGATE handled, CREATOR OWNER
// replaced), owner and group from the creating token. Empty in the rare case
// that the inherited ACL would pass 64 KB (Windows refuses that create too).
Bytes inheritForNewKey(std::span<const uint8_t> parentSd, const Token &creator);

// The same with a descriptor the creator passes (RegCreateKeyEx's security
// attributes), as CreatePrivateObjectSecurity combines them: its owner and
// group where it has them; its DACL and SACL where present (a null DACL stays
// null), followed by what the parent passes on unless that ACL is protected.
Bytes inheritForNewKey(std::span<const uint8_t> parentSd, const Token &creator, std::span<const uint8_t> explicitSd);

// The parts of a descriptor that `info` selects, self-relative (RegGetKeySecurity).
Bytes selectParts(std::span<const uint8_t> sd, SECURITY_INFORMATION info);

// `current` with the parts that `info` selects replaced from `update`
// (RegSetKeySecurity). ERROR_INVALID_SECURITY_DESCR for a malformed update.
LONG mergeParts(std::span<const uint8_t> current, std::span<const uint8_t> update, SECURITY_INFORMATION info,
                Bytes &out);

// Root descriptors for new hives, taken from real Windows 10 hives:
// SYSTEM/SOFTWARE (administrators and system full, users read, creator
// owner inherit-only), a user's NTUSER.DAT (user, system and administrators
// full, restricted code read) and SAM/SECURITY (system only, administrators
// may read and change the access list).
Bytes defaultMachineHiveDescriptor();
Bytes defaultUserHiveDescriptor(std::string_view userSid);
Bytes systemOnlyDescriptor();

} // namespace vt::security
