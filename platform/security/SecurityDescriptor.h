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

namespace vt::security {

using Bytes = std::vector<uint8_t>;

// Who is asking: the user's SID, the groups it belongs to, and whether it
// holds the backup and restore privileges (which pass every check).
struct Token {
    std::string userSid;                 // "S-1-5-21-..."
    std::vector<std::string> groupSids;  // e.g. "S-1-5-32-544", "S-1-1-0", "S-1-5-11"
    bool backupRestorePrivileges = false;
};

// SIDs in string form <-> binary.
std::optional<Bytes> sidFromString(std::string_view sid);
std::string sidToString(std::span<const uint8_t> sid);

// True when the bytes are a well-formed self-relative descriptor.
bool isValidDescriptor(std::span<const uint8_t> sd);

// SDDL text <-> self-relative descriptor. SDDL aliases (BA, SY, WD, CO, ...)
// and the key rights letters (KA, KR, KW, KX) are understood.
std::optional<Bytes> descriptorFromSddl(std::string_view sddl);
std::string descriptorToSddl(std::span<const uint8_t> sd, SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION
                                                           | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION
                                                           | SACL_SECURITY_INFORMATION);

// Maps GENERIC_* bits of a requested mask to key rights.
ACCESS_MASK mapGenericKeyRights(ACCESS_MASK mask);

// The Windows access check for a key: returns ERROR_SUCCESS and the granted
// mask (MAXIMUM_ALLOWED gives everything the DACL allows), or
// ERROR_ACCESS_DENIED. KEY_WOW64_* bits are ignored. A null DACL grants all;
// the owner always gets READ_CONTROL and WRITE_DAC.
LONG accessCheck(std::span<const uint8_t> sd, const Token &token, ACCESS_MASK desired, ACCESS_MASK &granted);

// The descriptor a new subkey gets: inheritable ACEs of the parent
// (CONTAINER_INHERIT, INHERIT_ONLY, NO_PROPAGATE handled, CREATOR OWNER
// replaced), owner and group from the creating token.
Bytes inheritForNewKey(std::span<const uint8_t> parentSd, const Token &creator);

// The parts of a descriptor that `info` selects, self-relative (RegGetKeySecurity).
Bytes selectParts(std::span<const uint8_t> sd, SECURITY_INFORMATION info);

// `current` with the parts that `info` selects replaced from `update`
// (RegSetKeySecurity). ERROR_INVALID_SECURITY_DESCR for a malformed update.
LONG mergeParts(std::span<const uint8_t> current, std::span<const uint8_t> update, SECURITY_INFORMATION info,
                Bytes &out);

} // namespace vt::security
