// What the registry functions share with the security functions of
// SecurityApi.cpp: a descriptor in either form as self-relative bytes.
#pragma once

#include "platform/security/SecurityDescriptor.h"
#include "platform/win32.h"

namespace vt::platform::detail
{

// The descriptor behind the pointer, absolute (SECURITY_DESCRIPTOR with
// pointers to its parts) or self-relative, as self-relative bytes. Returns
// ERROR_SUCCESS, ERROR_INVALID_PARAMETER for none, ERROR_UNKNOWN_REVISION,
// ERROR_INVALID_SECURITY_DESCR or ERROR_INVALID_ACL. A self-relative
// descriptor is read as far as its header's offsets and its parts' own sizes
// reach (Windows takes no length either); callers holding the byte count
// check it against selfRelativeExtent first.
LONG descriptorBytes(PSECURITY_DESCRIPTOR sd, vt::security::Bytes &out);

// How many bytes a self-relative descriptor's header and parts claim, reading
// no more than `available` bytes; 0 when a part lies outside them.
size_t selfRelativeExtent(const uint8_t *sd, size_t available);

// The computer's name as GetComputerName gives it (upper case, at most 15
// characters): the domain of the platform's own accounts.
std::string localComputerName();

} // namespace vt::platform::detail
