// A registry key's security descriptor as readable text: the descriptor
// string taken apart and named, the plain-text report, granting all rights,
// and the two account operations hive logons use. No widgets.
#pragma once

#include "core/kltRegistry.h"
#include "platform/win32.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vt::security_info
{

// Raised by zoGetRegistrySecurityString and zoConvertSecurityDescriptor.
class ESecurityError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The six functions loaded by name from advapi32; false for the rest of the
// run when the library or one of them is missing (the tab is then hidden).
bool SecurityFunctionsAvailable();

// ---- the descriptor string taken apart ----
struct TAceFields {
    std::string type, flags, rights, objectGuid, inheritGuid, sid;
};
// Kind and flags before the first "(" ("D:PAI"), then one string per ACE.
void SplitSecurityString(const std::string &sddl, std::string &kindAndFlags, std::vector<std::string> &aces);
// The six fields of "(type;flags;rights;object;inherit;sid)"; all empty for
// anything that is not such a string.
TAceFields SplitAceString(const std::string &ace);

std::string AceTypeName(const std::string &code);
std::string AceFlagName(const std::string &code);
// A two-letter right as a registry key's right ("CC" is KEY_QUERY_VALUE).
std::string RightName(const std::string &code);
std::string SidAliasName(const std::string &code);
// Flags and rights fields read two characters at a time (a last single one
// is ignored); a rights field "0x..." is a mask named bit by bit.
std::vector<std::string> AceFlagNames(const std::string &flags);
std::vector<std::string> RightNames(const std::string &rights);
std::vector<std::string> MaskRightNames(uint32_t mask);

// ---- platform calls ----
// The system's text for an error code, without the line break.
std::string SystemMessageText(DWORD code);
// "name (DOMAIN)", "name" without a domain, else SidAliasName of the text.
std::string AccountDisplayName(const std::string &sid, const std::string &computer = {});
// Descriptor bytes as SDDL (revision 1); ERROR_SUCCESS or Windows' code.
// Parts lying outside the bytes are refused (ERROR_INVALID_SECURITY_DESCR)
// before the platform reads them.
DWORD ConvertDescriptorText(const std::vector<uint8_t> &descriptor, SECURITY_INFORMATION flags, std::string &text);
// Raise ESecurityError with the texts their callers show.
void zoConvertSecurityDescriptor(const std::vector<uint8_t> &descriptor, SECURITY_INFORMATION flags, std::string &text);
void zoGetRegistrySecurityString(HKEY root, const std::string &path, SECURITY_INFORMATION kind, std::string &text,
                                 int viewMode);
// False (GetLastError says why) for bytes that are no SID.
bool zoConvertSidToStringSid(const std::vector<uint8_t> &sid, std::string &text);
// The SID of an account ("name" or "DOMAIN\name") on the computer (empty:
// this one); empty when it is unknown.
std::vector<uint8_t> zoLookupAccountName(const std::string &account, const std::string &computer = {});

// ---- texts ----
// The six key info lines, each with its two leading blanks.
std::vector<std::string> KeyInfoLines(const TRegKeyInfo &info);
void DescribeSecurityString(const std::string &sddl, std::vector<std::string> &lines, bool append);
std::vector<std::string> SecurityReport(HKEY root, const std::string &path, int viewMode);
// The lines each followed by CR LF: the clipboard's and the file's text.
std::string ReportText(const std::vector<std::string> &lines);

// Replaces the key's access list by a null one (everyone, every right);
// owner, group and SACL stay. Empty on success, else the message to show.
std::string GrantAllToEveryone(HKEY root, const std::string &path, int viewMode);

} // namespace vt::security_info
