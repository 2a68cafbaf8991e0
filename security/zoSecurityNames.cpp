// The descriptor string language taken apart and its codes named.
#include "security/zoSecurity.h"

#include "core/zoStrings.h"

#include <string_view>

namespace vt::security_info
{

namespace
{

struct Name {
    const char *code;
    const char *name;
};

template <std::size_t N> std::string lookup(const Name (&table)[N], const std::string &code)
{
    for (const Name &n : table)
        if (code == n.code)
            return n.name;
    return "?Unknown:" + code + "?";
}

constexpr Name kAceTypes[] = {
    {"A", "ACCESS_ALLOWED_ACE_TYPE"},          {"D", "ACCESS_DENIED_ACE_TYPE "},
    {"OA", "ACCESS_ALLOWED_OBJECT_ACE_TYPE "}, {"OD", "ACCESS_DENIED_OBJECT_ACE_TYPE "},
    {"AU", "SYSTEM_AUDIT_ACE_TYPE "},          {"AL", "SYSTEM_ALARM_ACE_TYPE "},
    {"OU", "SYSTEM_AUDIT_OBJECT_ACE_TYPE "},   {"OL", "SYSTEM_ALARM_OBJECT_ACE_TYPE "},
};

constexpr Name kAceFlags[] = {
    {"CI", "CONTAINER_INHERIT_ACE"},  {"OI", "OBJECT_INHERIT_ACE"}, {"NP", "NO_PROPAGATE_INHERIT_ACE"},
    {"IO", "INHERIT_ONLY_ACE"},       {"ID", "INHERITED_ACE"},      {"SA", "SUCCESSFUL_ACCESS_ACE_FLAG"},
    {"FA", "FAILED_ACCESS_ACE_FLAG"},
};

// On a registry key the letters Windows writes for the six low bits are key
// rights (the directory-service names would name other rights).
constexpr Name kRights[] = {
    {"GA", "GENERIC_ALL"},
    {"GR", "GENERIC_READ"},
    {"GW", "GENERIC_WRITE"},
    {"GX", "GENERIC_EXECUTE"},
    {"RC", "READ_CONTROL"},
    {"SD", "DELETE"},
    {"WD", "WRITE_DAC"},
    {"WO", "WRITE_OWNER"},
    {"CC", "KEY_QUERY_VALUE"},
    {"DC", "KEY_SET_VALUE"},
    {"LC", "KEY_CREATE_SUB_KEY"},
    {"SW", "KEY_ENUMERATE_SUB_KEYS"},
    {"RP", "KEY_NOTIFY"},
    {"WP", "KEY_CREATE_LINK"},
    {"LO", "ADS_RIGHT_DS_LIST_OBJECT"},
    {"DT", "ADS_RIGHT_DS_DELETE_TREE"},
    {"CR", "ADS_RIGHT_DS_CONTROL_ACCESS"},
    {"FA", "FILE_ALL_ACCESS"},
    {"FR", "FILE_GENERIC_READ"},
    {"FW", "FILE_GENERIC_WRITE"},
    {"FX", "FILE_GENERIC_EXECUTE"},
    {"KA", "KEY_ALL_ACCESS"},
    {"KR", "KEY_READ"},
    {"KW", "KEY_WRITE"},
    {"KX", "KEY_EXECUTE"},
};

// Every bit Windows names for a key's access mask, on its real bit, in
// ascending order.
struct Bit {
    uint32_t bit;
    const char *name;
};
constexpr Bit kMaskBits[] = {
    {0x00000001, "KEY_QUERY_VALUE"},
    {0x00000002, "KEY_SET_VALUE"},
    {0x00000004, "KEY_CREATE_SUB_KEY"},
    {0x00000008, "KEY_ENUMERATE_SUB_KEYS"},
    {0x00000010, "KEY_NOTIFY"},
    {0x00000020, "KEY_CREATE_LINK"},
    {0x00000100, "KEY_WOW64_64KEY"},
    {0x00000200, "KEY_WOW64_32KEY"},
    {0x00010000, "DELETE"},
    {0x00020000, "READ_CONTROL"},
    {0x00040000, "CHANGE_ACCESS"},
    {0x00080000, "CHANGE_OWNER"},
    {0x00100000, "SYNCHRONIZE"},
    {0x01000000, "SYSTEM_ACCESS"},
    {0x02000000, "MAXIMUM_ALLOWED"},
    {0x10000000, "GENERIC_ALL"},
    {0x20000000, "GENERIC_EXECUTE"},
    {0x40000000, "GENERIC_WRITE"},
    {0x80000000, "GENERIC_READ"},
};

constexpr Name kSidAliases[] = {
    {"AO", "Account operators"},
    {"RU", "Alias to allow previous Windows 2000"},
    {"AN", "Anonymous logon"},
    {"AU", "Authenticated users"},
    {"BA", "Built-in administrators"},
    {"BG", "Built-in guests"},
    {"BO", "Backup operators"},
    {"BU", "Built-in users"},
    {"CA", "Certificate publishers"},
    {"CG", "Creator group"},
    {"CO", "Creator owner"},
    {"DA", "Domain administrators"},
    {"DC", "Domain computers"},
    {"DD", "Domain controllers"},
    {"DG", "Domain guests"},
    {"DU", "Domain users"},
    {"EA", "Enterprise administrators"},
    {"ED", "Enterprise domain controllers"},
    {"WD", "Everyone"},
    {"PA", "Group Policy administrators"},
    {"IU", "Interactively logged-on user"},
    {"LA", "Local administrator"},
    {"LG", "Local guest"},
    {"LS", "Local service account"},
    {"SY", "Local system"},
    {"NU", "Network logon user"},
    {"NO", "Network configuration operators"},
    {"NS", "Network service account"},
    {"PO", "Printer operators"},
    {"PS", "Principal self"},
    {"PU", "Power users"},
    {"RS", "RAS servers group"},
    {"RD", "Terminal server users"},
    {"RE", "Replicator"},
    {"RC", "Restricted code"},
    {"SA", "Schema administrators"},
    {"SO", "Server operators"},
    {"SU", "Service logon user"},
};

std::vector<std::string> pairs(const std::string &field, std::string (*name)(const std::string &))
{
    std::vector<std::string> out;
    out.reserve(field.size() / 2);
    for (std::size_t i = 0; i + 2 <= field.size(); i += 2)
        out.push_back(name(field.substr(i, 2)));
    return out;
}

} // namespace

void SplitSecurityString(const std::string &sddl, std::string &kindAndFlags, std::vector<std::string> &aces)
{
    aces.clear();
    const std::size_t open = sddl.find('(');
    kindAndFlags = sddl.substr(0, open);
    if (open == std::string::npos)
        return;
    std::size_t pos = open;
    while (pos < sddl.size()) {
        const std::size_t close = sddl.find(')', pos);
        const std::size_t end = close == std::string::npos ? sddl.size() : close + 1;
        aces.push_back(sddl.substr(pos, end - pos));
        pos = end;
    }
}

TAceFields SplitAceString(const std::string &ace)
{
    TAceFields f;
    if (ace.size() <= 2 || ace.front() != '(' || ace.back() != ')')
        return f;
    std::string *fields[] = {&f.type, &f.flags, &f.rights, &f.objectGuid, &f.inheritGuid, &f.sid};
    std::string_view body(ace.data() + 1, ace.size() - 2);
    for (std::string *field : fields) {
        const std::size_t semi = body.find(';');
        *field = std::string(body.substr(0, semi));
        if (semi == std::string_view::npos)
            break;
        body.remove_prefix(semi + 1);
    }
    return f;
}

std::string AceTypeName(const std::string &code)
{
    return lookup(kAceTypes, code);
}

std::string AceFlagName(const std::string &code)
{
    return lookup(kAceFlags, code);
}

std::string RightName(const std::string &code)
{
    return lookup(kRights, code);
}

std::string SidAliasName(const std::string &code)
{
    if (code.size() != 2) // a full SID stands for itself
        return code;
    for (const Name &n : kSidAliases)
        if (code == n.code)
            return n.name;
    return "Unknown(?): " + code;
}

std::vector<std::string> AceFlagNames(const std::string &flags)
{
    return pairs(flags, &AceFlagName);
}

std::vector<std::string> MaskRightNames(uint32_t mask)
{
    std::vector<std::string> out;
    for (const Bit &b : kMaskBits)
        if (mask & b.bit)
            out.emplace_back(b.name);
    return out;
}

std::vector<std::string> RightNames(const std::string &rights)
{
    if (rights.size() >= 2 && rights[0] == '0' && (rights[1] == 'x' || rights[1] == 'X')) {
        // Windows writes at most eight digits; keep the last eight of more.
        std::string digits = rights.substr(2);
        if (digits.size() > 8)
            digits.erase(0, digits.size() - 8);
        return MaskRightNames(HexTextToInt32(digits));
    }
    return pairs(rights, &RightName);
}

} // namespace vt::security_info
