#include "platform/security/SecurityDescriptor.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace vt::security
{

namespace
{

constexpr std::size_t kHeaderSize = 20;
constexpr std::size_t kMaxSubAuthorities = 15;
constexpr std::size_t kMaxSidSize = 8 + 4 * kMaxSubAuthorities;
constexpr uint8_t kSdRevision = 1;
constexpr uint8_t kAclRevision = 2;
constexpr uint8_t kAclRevisionDs = 4;

constexpr uint8_t kAllowedObjectAce = 0x05;
constexpr uint8_t kDeniedObjectAce = 0x06;
constexpr uint8_t kAuditObjectAce = 0x07;
constexpr uint8_t kAlarmObjectAce = 0x08;
constexpr uint8_t kAllowedCallbackAce = 0x09;
constexpr uint8_t kDeniedCallbackAce = 0x0A;
constexpr uint8_t kAllowedCallbackObjectAce = 0x0B;
constexpr uint8_t kDeniedCallbackObjectAce = 0x0C;
constexpr uint8_t kAuditCallbackAce = 0x0D;
constexpr uint8_t kAlarmCallbackAce = 0x0E;
constexpr uint8_t kAuditCallbackObjectAce = 0x0F;
constexpr uint8_t kAlarmCallbackObjectAce = 0x10;
constexpr uint8_t kResourceAttributeAce = 0x12;
constexpr uint8_t kScopedPolicyIdAce = 0x13;
constexpr uint8_t kProcessTrustLabelAce = 0x14;
constexpr uint8_t kAccessFilterAce = 0x15;

constexpr uint32_t kObjectTypePresent = 0x1;
constexpr uint32_t kInheritedObjectTypePresent = 0x2;

constexpr uint8_t kInheritFlags = kObjectInheritAce | kContainerInheritAce | kNoPropagateInheritAce | kInheritOnlyAce;
constexpr ACCESS_MASK kWow64Bits = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
constexpr ACCESS_MASK kGenericBits = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL;

uint16_t rd16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t rd32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void wr16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void wr32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
void put16(Bytes &b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(Bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

using Span = std::span<const uint8_t>;

// Length of the SID at the start of `b`, 0 when it is not one.
std::size_t sidLength(Span b)
{
    if (b.size() < 8 || b[0] != 1 || b[1] > kMaxSubAuthorities)
        return 0;
    std::size_t len = 8 + 4 * std::size_t(b[1]);
    return b.size() >= len ? len : 0;
}

bool sidEqual(Span a, Span b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

bool isObjectAce(uint8_t type)
{
    switch (type) {
    case kAllowedObjectAce:
    case kDeniedObjectAce:
    case kAuditObjectAce:
    case kAlarmObjectAce:
    case kAllowedCallbackObjectAce:
    case kDeniedCallbackObjectAce:
    case kAuditCallbackObjectAce:
    case kAlarmCallbackObjectAce:
        return true;
    default:
        return false;
    }
}

bool hasPlainSid(uint8_t type)
{
    switch (type) {
    case kAccessAllowedAce:
    case kAccessDeniedAce:
    case kSystemAuditAce:
    case kSystemAlarmAce:
    case kAllowedCallbackAce:
    case kDeniedCallbackAce:
    case kAuditCallbackAce:
    case kAlarmCallbackAce:
    case kSystemMandatoryLabelAce:
    case kResourceAttributeAce:
    case kScopedPolicyIdAce:
    case kProcessTrustLabelAce:
    case kAccessFilterAce:
        return true;
    default:
        return false;
    }
}

// One ACE inside an ACL. `sid` is empty for types whose layout is unknown.
struct Ace {
    uint8_t type = 0;
    uint8_t flags = 0;
    ACCESS_MASK mask = 0;
    uint32_t objectFlags = 0;
    const uint8_t *objectType = nullptr;
    const uint8_t *inheritedObjectType = nullptr;
    Span sid;
    Span raw; // the whole ACE, AceSize bytes
};

// Decodes the ACE at the start of `b` (already bounded by its AceSize).
bool decodeAce(Span b, Ace &ace)
{
    ace = Ace{};
    ace.type = b[0];
    ace.flags = b[1];
    ace.raw = b;
    if (hasPlainSid(ace.type)) {
        if (b.size() < 8)
            return false;
        ace.mask = rd32(&b[4]);
        std::size_t len = sidLength(b.subspan(8));
        if (len == 0)
            return false;
        ace.sid = b.subspan(8, len);
        return true;
    }
    if (isObjectAce(ace.type)) {
        if (b.size() < 12)
            return false;
        ace.mask = rd32(&b[4]);
        ace.objectFlags = rd32(&b[8]);
        std::size_t pos = 12;
        if (ace.objectFlags & kObjectTypePresent) {
            if (b.size() < pos + 16)
                return false;
            ace.objectType = &b[pos];
            pos += 16;
        }
        if (ace.objectFlags & kInheritedObjectTypePresent) {
            if (b.size() < pos + 16)
                return false;
            ace.inheritedObjectType = &b[pos];
            pos += 16;
        }
        std::size_t len = sidLength(b.subspan(pos));
        if (len == 0)
            return false;
        ace.sid = b.subspan(pos, len);
        return true;
    }
    // Unknown types are carried as opaque bytes.
    if (b.size() >= 8)
        ace.mask = rd32(&b[4]);
    return true;
}

// Walks a validated ACL; `acl` spans exactly AclSize bytes.
template <typename F> void forEachAce(Span acl, F &&f)
{
    uint16_t count = rd16(&acl[4]);
    std::size_t pos = 8;
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t size = rd16(&acl[pos + 2]);
        Ace ace;
        decodeAce(acl.subspan(pos, size), ace);
        if (!f(ace))
            return;
        pos += size;
    }
}

// Checks the ACL at the start of `b`; returns its AclSize or 0.
std::size_t validAcl(Span b)
{
    if (b.size() < 8)
        return 0;
    uint8_t rev = b[0];
    if (rev < kAclRevision || rev > kAclRevisionDs)
        return 0;
    std::size_t size = rd16(&b[2]);
    if (size < 8 || size > b.size() || size % 4 != 0)
        return 0;
    std::size_t count = rd16(&b[4]);
    std::size_t pos = 8;
    for (std::size_t i = 0; i < count; ++i) {
        if (pos + 4 > size)
            return 0;
        std::size_t aceSize = rd16(&b[pos + 2]);
        if (aceSize < 4 || aceSize % 4 != 0 || pos + aceSize > size)
            return 0;
        Ace ace;
        if (!decodeAce(b.subspan(pos, aceSize), ace))
            return 0;
        pos += aceSize;
    }
    return size;
}

// A parsed self-relative descriptor; spans point into the caller's bytes.
struct Sd {
    uint8_t sbz1 = 0;
    uint16_t control = 0;
    Span owner, group, sacl, dacl; // an empty ACL span with *Present set is a null ACL
    bool saclPresent = false, daclPresent = false;
};

bool parseSd(Span b, Sd &sd)
{
    if (b.size() < kHeaderSize || b[0] != kSdRevision)
        return false;
    sd = Sd{};
    sd.sbz1 = b[1];
    sd.control = rd16(&b[2]);
    if (!(sd.control & kSeSelfRelative))
        return false;
    uint32_t offOwner = rd32(&b[4]), offGroup = rd32(&b[8]), offSacl = rd32(&b[12]), offDacl = rd32(&b[16]);
    auto sidAt = [&](uint32_t off, Span &out) {
        if (off == 0)
            return true;
        if (off < kHeaderSize || off >= b.size())
            return false;
        std::size_t len = sidLength(b.subspan(off));
        if (len == 0)
            return false;
        out = b.subspan(off, len);
        return true;
    };
    auto aclAt = [&](uint32_t off, Span &out) {
        if (off == 0)
            return true; // null ACL
        if (off < kHeaderSize || off >= b.size())
            return false;
        std::size_t len = validAcl(b.subspan(off));
        if (len == 0)
            return false;
        out = b.subspan(off, len);
        return true;
    };
    if (!sidAt(offOwner, sd.owner) || !sidAt(offGroup, sd.group))
        return false;
    // Windows ignores an ACL whose present bit is clear.
    sd.saclPresent = sd.control & kSeSaclPresent;
    sd.daclPresent = sd.control & kSeDaclPresent;
    if (sd.saclPresent && !aclAt(offSacl, sd.sacl))
        return false;
    if (sd.daclPresent && !aclAt(offDacl, sd.dacl))
        return false;
    return true;
}

// Lays a descriptor out as the Windows kernel does: header, SACL, DACL,
// owner, group. Real hives store them this way, so rebuilding a stored
// descriptor gives back the same bytes.
Bytes buildSd(uint8_t sbz1, uint16_t control, Span owner, Span group, bool saclPresent, Span sacl, bool daclPresent,
              Span dacl)
{
    control |= kSeSelfRelative;
    control &= ~(kSeSaclPresent | kSeDaclPresent);
    if (saclPresent)
        control |= kSeSaclPresent;
    if (daclPresent)
        control |= kSeDaclPresent;
    Bytes out(kHeaderSize);
    out.reserve(kHeaderSize + sacl.size() + dacl.size() + owner.size() + group.size());
    out[0] = kSdRevision;
    out[1] = sbz1;
    wr16(&out[2], control);
    auto append = [&](Span part, std::size_t field) {
        if (part.empty())
            return;
        wr32(&out[field], uint32_t(out.size()));
        out.insert(out.end(), part.begin(), part.end());
    };
    if (saclPresent)
        append(sacl, 12);
    if (daclPresent)
        append(dacl, 16);
    append(owner, 4);
    append(group, 8);
    return out;
}

// Empty when the ACEs do not fit the 16-bit ACL size.
Bytes buildAcl(uint8_t revision, const std::vector<Span> &aces)
{
    std::size_t size = 8;
    for (Span a : aces)
        size += a.size();
    if (size > 0xFFFC || aces.size() > 0xFFFF)
        return {};
    Bytes acl(8);
    acl.reserve(size);
    acl[0] = revision;
    for (Span a : aces)
        acl.insert(acl.end(), a.begin(), a.end());
    wr16(&acl[2], uint16_t(acl.size()));
    wr16(&acl[4], uint16_t(aces.size()));
    return acl;
}

Bytes makeAce(uint8_t type, uint8_t flags, ACCESS_MASK mask, Span sid)
{
    Bytes ace;
    ace.reserve(8 + sid.size());
    ace.push_back(type);
    ace.push_back(flags);
    put16(ace, uint16_t(8 + sid.size()));
    put32(ace, mask);
    ace.insert(ace.end(), sid.begin(), sid.end());
    return ace;
}

// ---- SIDs and their SDDL aliases ----------------------------------------

struct SidAlias {
    const char *alias;
    const char *sid;
};

// The aliases Windows prints. Domain-relative ones (DA, DU, LA, ...) need
// the machine's or domain's SID and are neither printed nor read.
constexpr SidAlias kSidAliases[] = {
    {"WD", "S-1-1-0"},
    {"CO", "S-1-3-0"},
    {"CG", "S-1-3-1"},
    {"OW", "S-1-3-4"},
    {"NU", "S-1-5-2"},
    {"IU", "S-1-5-4"},
    {"SU", "S-1-5-6"},
    {"AN", "S-1-5-7"},
    {"ED", "S-1-5-9"},
    {"PS", "S-1-5-10"},
    {"AU", "S-1-5-11"},
    {"RC", "S-1-5-12"},
    {"SY", "S-1-5-18"},
    {"LS", "S-1-5-19"},
    {"NS", "S-1-5-20"},
    {"WR", "S-1-5-33"},
    {"BA", "S-1-5-32-544"},
    {"BU", "S-1-5-32-545"},
    {"BG", "S-1-5-32-546"},
    {"PU", "S-1-5-32-547"},
    {"AO", "S-1-5-32-548"},
    {"SO", "S-1-5-32-549"},
    {"PO", "S-1-5-32-550"},
    {"BO", "S-1-5-32-551"},
    {"RE", "S-1-5-32-552"},
    {"RU", "S-1-5-32-554"},
    {"RD", "S-1-5-32-555"},
    {"NO", "S-1-5-32-556"},
    {"MU", "S-1-5-32-558"},
    {"LU", "S-1-5-32-559"},
    {"IS", "S-1-5-32-568"},
    {"CY", "S-1-5-32-569"},
    {"ER", "S-1-5-32-573"},
    {"CD", "S-1-5-32-574"},
    {"RA", "S-1-5-32-575"},
    {"ES", "S-1-5-32-576"},
    {"MS", "S-1-5-32-577"},
    {"HA", "S-1-5-32-578"},
    {"AA", "S-1-5-32-579"},
    {"RM", "S-1-5-32-580"},
    {"UD", "S-1-5-84-0-0-0-0-0"},
    {"AC", "S-1-15-2-1"},
    {"LW", "S-1-16-4096"},
    {"ME", "S-1-16-8192"},
    {"MP", "S-1-16-8448"},
    {"HI", "S-1-16-12288"},
    {"SI", "S-1-16-16384"},
    {"AS", "S-1-18-1"},
    {"SS", "S-1-18-2"},
};

bool parseUInt(std::string_view s, uint64_t &v, int base = 10)
{
    if (s.empty())
        return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v, base);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// Parses "S-1-..." (no aliases) into a fixed buffer; returns its length or 0.
std::size_t parseSidString(std::string_view s, uint8_t *out)
{
    if (s.size() < 4 || (s[0] != 'S' && s[0] != 's') || s[1] != '-')
        return 0;
    s.remove_prefix(2);
    std::array<std::string_view, 2 + kMaxSubAuthorities + 1> fields;
    std::size_t n = 0;
    while (true) {
        std::size_t dash = s.find('-');
        if (n == fields.size())
            return 0;
        fields[n++] = s.substr(0, dash);
        if (dash == std::string_view::npos)
            break;
        s.remove_prefix(dash + 1);
    }
    if (n < 2)
        return 0;
    uint64_t rev = 0, auth = 0;
    if (!parseUInt(fields[0], rev) || rev != 1)
        return 0;
    std::string_view a = fields[1];
    if (a.size() > 2 && a[0] == '0' && (a[1] == 'x' || a[1] == 'X')) {
        if (!parseUInt(a.substr(2), auth, 16) || auth > 0xFFFFFFFFFFFFull)
            return 0;
    } else if (!parseUInt(a, auth) || auth > 0xFFFFFFFFFFFFull) {
        return 0;
    }
    std::size_t subs = n - 2;
    if (subs > kMaxSubAuthorities)
        return 0;
    out[0] = 1;
    out[1] = uint8_t(subs);
    for (int i = 0; i < 6; ++i)
        out[2 + i] = uint8_t(auth >> (8 * (5 - i)));
    for (std::size_t i = 0; i < subs; ++i) {
        uint64_t v = 0;
        if (!parseUInt(fields[2 + i], v) || v > 0xFFFFFFFFull)
            return 0;
        wr32(out + 8 + 4 * i, uint32_t(v));
    }
    return 8 + 4 * subs;
}

// A SID string or alias into a fixed buffer; returns its length or 0.
std::size_t parseSidOrAlias(std::string_view s, uint8_t *out)
{
    if (s.size() == 2) {
        for (const SidAlias &a : kSidAliases)
            if (s == a.alias)
                return parseSidString(a.sid, out);
        return 0;
    }
    return parseSidString(s, out);
}

std::string sidString(Span sid)
{
    std::string out = "S-" + std::to_string(sid[0]) + "-";
    uint64_t auth = 0;
    for (int i = 0; i < 6; ++i)
        auth = (auth << 8) | sid[2 + i];
    if (auth >> 32) { // 48-bit authorities print in hex, as Windows does
        char buf[20];
        std::snprintf(buf, sizeof buf, "0x%012llx", static_cast<unsigned long long>(auth));
        out += buf;
    } else {
        out += std::to_string(auth);
    }
    for (std::size_t i = 0; i < sid[1]; ++i) {
        out += '-';
        out += std::to_string(rd32(&sid[8 + 4 * i]));
    }
    return out;
}

std::string sidToSddl(Span sid)
{
    std::string s = sidString(sid);
    for (const SidAlias &a : kSidAliases)
        if (s == a.sid)
            return a.alias;
    return s;
}

// ---- rights, ACE types and flags in SDDL --------------------------------

struct Name {
    const char *code;
    uint32_t value;
};

constexpr Name kAceTypes[] = {
    {"A", kAccessAllowedAce},   {"D", kAccessDeniedAce},       {"AU", kSystemAuditAce},
    {"AL", kSystemAlarmAce},    {"OA", kAllowedObjectAce},     {"OD", kDeniedObjectAce},
    {"OU", kAuditObjectAce},    {"OL", kAlarmObjectAce},       {"ML", kSystemMandatoryLabelAce},
    {"SP", kScopedPolicyIdAce}, {"TL", kProcessTrustLabelAce}, {"FL", kAccessFilterAce},
};

// Printed in this order, which is Windows' (ascending bits).
// CR is the critical-ACE flag of newer Windows; with it every bit has a code,
// so no flag is lost on the way to text.
constexpr Name kAceFlags[] = {
    {"OI", kObjectInheritAce},        {"CI", kContainerInheritAce}, {"NP", kNoPropagateInheritAce},
    {"IO", kInheritOnlyAce},          {"ID", kInheritedAce},        {"CR", 0x20},
    {"SA", kSuccessfulAccessAceFlag}, {"FA", kFailedAccessAceFlag},
};

// Masks printed as one code when they match exactly.
constexpr Name kCompositeRights[] = {
    {"FA", 0x001F01FF},     {"FR", 0x00120089}, {"FW", 0x00120116}, {"FX", 0x001200A0},
    {"KA", KEY_ALL_ACCESS}, {"KR", KEY_READ},   {"KW", KEY_WRITE},  {"KX", KEY_EXECUTE},
};

// Single-bit codes, printed in ascending bit order as Windows does
// ("CCDCLCSWRPWPDTLOCRSDRCWDWO", "GXGR").
constexpr Name kBitRights[] = {
    {"CC", 0x1},           {"DC", 0x2},          {"LC", 0x4},         {"SW", 0x8},         {"RP", 0x10},
    {"WP", 0x20},          {"DT", 0x40},         {"LO", 0x80},        {"CR", 0x100},       {"SD", DELETE},
    {"RC", READ_CONTROL},  {"WD", WRITE_DAC},    {"WO", WRITE_OWNER}, {"GA", GENERIC_ALL}, {"GX", GENERIC_EXECUTE},
    {"GW", GENERIC_WRITE}, {"GR", GENERIC_READ},
};

// Mandatory label ACEs use their own three codes for the low bits.
constexpr Name kLabelRights[] = {{"NW", 0x1}, {"NR", 0x2}, {"NX", 0x4}};

std::string rightsToSddl(ACCESS_MASK mask, bool label)
{
    if (mask == 0)
        return {};
    if (!label)
        for (const Name &n : kCompositeRights)
            if (mask == n.value)
                return n.code;
    std::string out;
    ACCESS_MASK left = mask;
    if (label) {
        for (const Name &n : kLabelRights)
            if (left & n.value) {
                out += n.code;
                left &= ~n.value;
            }
    } else {
        for (const Name &n : kBitRights)
            if (left & n.value) {
                out += n.code;
                left &= ~n.value;
            }
    }
    if (left == 0)
        return out;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(mask));
    return buf;
}

std::string guidToString(const uint8_t *g)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", static_cast<unsigned>(rd32(g)),
                  rd16(g + 4), rd16(g + 6), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return buf;
}

bool parseGuid(std::string_view s, uint8_t *g)
{
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-')
        return false;
    uint64_t a, b, c, d, e;
    if (!parseUInt(s.substr(0, 8), a, 16) || !parseUInt(s.substr(9, 4), b, 16) || !parseUInt(s.substr(14, 4), c, 16) ||
        !parseUInt(s.substr(19, 4), d, 16) || !parseUInt(s.substr(24, 12), e, 16))
        return false;
    wr32(g, uint32_t(a));
    wr16(g + 4, uint16_t(b));
    wr16(g + 6, uint16_t(c));
    g[8] = uint8_t(d >> 8);
    g[9] = uint8_t(d);
    for (int i = 0; i < 6; ++i)
        g[10 + i] = uint8_t(e >> (8 * (5 - i)));
    return true;
}

// False for ACEs SDDL cannot express (callback conditions, resource
// attributes, unknown types); Windows refuses those too.
bool aceToSddl(const Ace &ace, std::string &out)
{
    const char *type = nullptr;
    for (const Name &n : kAceTypes)
        if (n.value == ace.type)
            type = n.code;
    if (!type || ace.sid.empty())
        return false;
    out += '(';
    out += type;
    out += ';';
    for (const Name &n : kAceFlags)
        if (ace.flags & n.value)
            out += n.code;
    out += ';';
    out += rightsToSddl(ace.mask, ace.type == kSystemMandatoryLabelAce);
    out += ';';
    if (ace.objectType)
        out += guidToString(ace.objectType);
    out += ';';
    if (ace.inheritedObjectType)
        out += guidToString(ace.inheritedObjectType);
    out += ';';
    out += sidToSddl(ace.sid);
    out += ')';
    return true;
}

bool aclToSddl(Span acl, bool labelsOnly, std::string &out)
{
    bool ok = true;
    forEachAce(acl, [&](const Ace &ace) {
        if (labelsOnly && ace.type != kSystemMandatoryLabelAce)
            return true;
        ok = aceToSddl(ace, out);
        return ok;
    });
    return ok;
}

// ---- SDDL reader ---------------------------------------------------------

class SddlReader
{
public:
    explicit SddlReader(std::string_view s) : m_s(s) {}

    std::optional<Bytes> read()
    {
        Bytes owner, group, sacl, dacl;
        bool haveOwner = false, haveGroup = false, haveSacl = false, haveDacl = false;
        bool nullSacl = false, nullDacl = false;
        uint16_t control = 0;
        skipSpace();
        while (!atEnd()) {
            if (m_pos + 1 >= m_s.size() || m_s[m_pos + 1] != ':')
                return std::nullopt;
            char part = m_s[m_pos];
            m_pos += 2;
            skipSpace();
            switch (part) {
            case 'O':
                if (haveOwner || !readSid(owner))
                    return std::nullopt;
                haveOwner = true;
                break;
            case 'G':
                if (haveGroup || !readSid(group))
                    return std::nullopt;
                haveGroup = true;
                break;
            case 'D':
                if (haveDacl || !readAcl(dacl, nullDacl, control, false))
                    return std::nullopt;
                haveDacl = true;
                break;
            case 'S':
                if (haveSacl || !readAcl(sacl, nullSacl, control, true))
                    return std::nullopt;
                haveSacl = true;
                break;
            default:
                return std::nullopt;
            }
            skipSpace();
        }
        return buildSd(0, control, owner, group, haveSacl, nullSacl ? Span{} : Span(sacl), haveDacl,
                       nullDacl ? Span{} : Span(dacl));
    }

private:
    bool atEnd() const { return m_pos >= m_s.size(); }
    void skipSpace()
    {
        while (!atEnd() && (m_s[m_pos] == ' ' || m_s[m_pos] == '\t' || m_s[m_pos] == '\r' || m_s[m_pos] == '\n'))
            ++m_pos;
    }
    bool startsWith(std::string_view p) const { return m_s.substr(m_pos).starts_with(p); }

    // A SID token: "S-" and the characters a SID string uses, else an alias.
    bool readSid(Bytes &out)
    {
        std::size_t end = m_pos;
        if (startsWith("S-") || startsWith("s-")) {
            end += 2;
            while (end < m_s.size() && (std::isdigit(static_cast<unsigned char>(m_s[end])) || m_s[end] == '-'))
                ++end;
            // A 48-bit authority may be written 0x + 12 hex digits.
            if (end < m_s.size() && (m_s[end] == 'x' || m_s[end] == 'X') && end == m_pos + 5) {
                ++end;
                while (end < m_s.size() && end < m_pos + 18 && std::isxdigit(static_cast<unsigned char>(m_s[end])))
                    ++end;
                while (end < m_s.size() && (std::isdigit(static_cast<unsigned char>(m_s[end])) || m_s[end] == '-'))
                    ++end;
            }
        } else {
            end += 2;
        }
        if (end > m_s.size())
            return false;
        uint8_t buf[kMaxSidSize];
        std::size_t len = parseSidOrAlias(m_s.substr(m_pos, end - m_pos), buf);
        if (len == 0)
            return false;
        out.assign(buf, buf + len);
        m_pos = end;
        return true;
    }

    bool readAcl(Bytes &acl, bool &isNull, uint16_t &control, bool sacl)
    {
        while (!atEnd() && m_s[m_pos] != '(') {
            if (startsWith("NO_ACCESS_CONTROL")) {
                isNull = true;
                m_pos += 17;
            } else if (startsWith("AR")) {
                control |= sacl ? kSeSaclAutoInheritReq : kSeDaclAutoInheritReq;
                m_pos += 2;
            } else if (startsWith("AI")) {
                control |= sacl ? kSeSaclAutoInherited : kSeDaclAutoInherited;
                m_pos += 2;
            } else if (m_s[m_pos] == 'P') {
                control |= sacl ? kSeSaclProtected : kSeDaclProtected;
                m_pos += 1;
            } else {
                break; // the next part ("G:", ...) or an error found by the caller
            }
        }
        std::vector<Bytes> aces;
        bool objectAces = false;
        skipSpace();
        while (!atEnd() && m_s[m_pos] == '(') {
            std::size_t close = m_s.find(')', m_pos);
            if (close == std::string_view::npos)
                return false;
            Bytes ace;
            if (!readAce(m_s.substr(m_pos + 1, close - m_pos - 1), ace, objectAces))
                return false;
            aces.push_back(std::move(ace));
            m_pos = close + 1;
            skipSpace();
        }
        if (isNull && !aces.empty())
            return false;
        std::vector<Span> spans(aces.begin(), aces.end());
        acl = buildAcl(objectAces ? kAclRevisionDs : kAclRevision, spans);
        return !acl.empty();
    }

    static std::string_view trim(std::string_view f)
    {
        while (!f.empty() && f.front() == ' ')
            f.remove_prefix(1);
        while (!f.empty() && f.back() == ' ')
            f.remove_suffix(1);
        return f;
    }

    static bool readRights(std::string_view f, bool label, ACCESS_MASK &mask)
    {
        mask = 0;
        if (f.empty())
            return true;
        if (std::isdigit(static_cast<unsigned char>(f[0]))) {
            // Numbers are read as strtoul with base 0 reads them.
            uint64_t v = 0;
            bool ok = f.size() > 2 && f[0] == '0' && (f[1] == 'x' || f[1] == 'X') ? parseUInt(f.substr(2), v, 16)
                      : f.size() > 1 && f[0] == '0'                               ? parseUInt(f.substr(1), v, 8)
                                                                                  : parseUInt(f, v);
            if (!ok || v > 0xFFFFFFFFull)
                return false;
            mask = ACCESS_MASK(v);
            return true;
        }
        if (f.size() % 2 != 0)
            return false;
        for (std::size_t i = 0; i < f.size(); i += 2) {
            std::string_view code = f.substr(i, 2);
            bool found = false;
            if (label)
                for (const Name &n : kLabelRights)
                    if (code == n.code) {
                        mask |= n.value;
                        found = true;
                    }
            for (const Name &n : kCompositeRights)
                if (!found && code == n.code) {
                    mask |= n.value;
                    found = true;
                }
            for (const Name &n : kBitRights)
                if (!found && code == n.code) {
                    mask |= n.value;
                    found = true;
                }
            if (!found)
                return false;
        }
        return true;
    }

    static bool readAce(std::string_view body, Bytes &out, bool &objectAces)
    {
        std::array<std::string_view, 6> f;
        std::size_t n = 0;
        while (true) {
            std::size_t semi = body.find(';');
            if (n == f.size())
                return false; // resource attribute ACEs carry a seventh field we do not read
            f[n++] = trim(body.substr(0, semi));
            if (semi == std::string_view::npos)
                break;
            body.remove_prefix(semi + 1);
        }
        if (n != 6)
            return false;
        int type = -1;
        for (const Name &t : kAceTypes)
            if (f[0] == t.code)
                type = int(t.value);
        if (type < 0)
            return false;
        uint8_t flags = 0;
        if (f[1].size() % 2 != 0)
            return false;
        for (std::size_t i = 0; i < f[1].size(); i += 2) {
            bool found = false;
            for (const Name &fl : kAceFlags)
                if (f[1].substr(i, 2) == fl.code) {
                    flags |= uint8_t(fl.value);
                    found = true;
                }
            if (!found)
                return false;
        }
        ACCESS_MASK mask = 0;
        if (!readRights(f[2], type == kSystemMandatoryLabelAce, mask))
            return false;
        uint8_t sid[kMaxSidSize];
        std::size_t sidLen = parseSidOrAlias(f[5], sid);
        if (sidLen == 0)
            return false;
        bool object = isObjectAce(uint8_t(type));
        if (!object && (!f[3].empty() || !f[4].empty()))
            return false;
        if (!object) {
            out = makeAce(uint8_t(type), flags, mask, Span(sid, sidLen));
            return true;
        }
        objectAces = true;
        uint8_t g1[16], g2[16];
        uint32_t objFlags = 0;
        if (!f[3].empty()) {
            if (!parseGuid(f[3], g1))
                return false;
            objFlags |= kObjectTypePresent;
        }
        if (!f[4].empty()) {
            if (!parseGuid(f[4], g2))
                return false;
            objFlags |= kInheritedObjectTypePresent;
        }
        out.clear();
        out.push_back(uint8_t(type));
        out.push_back(flags);
        put16(out, 0);
        put32(out, mask);
        put32(out, objFlags);
        if (objFlags & kObjectTypePresent)
            out.insert(out.end(), g1, g1 + 16);
        if (objFlags & kInheritedObjectTypePresent)
            out.insert(out.end(), g2, g2 + 16);
        out.insert(out.end(), sid, sid + sidLen);
        wr16(&out[2], uint16_t(out.size()));
        return true;
    }

    std::string_view m_s;
    std::size_t m_pos = 0;
};

// ---- access check --------------------------------------------------------

ACCESS_MASK mapKeyRights(ACCESS_MASK mask)
{
    if (!(mask & kGenericBits))
        return mask;
    ACCESS_MASK out = mask & ~kGenericBits;
    if (mask & GENERIC_READ)
        out |= KEY_READ;
    if (mask & GENERIC_WRITE)
        out |= KEY_WRITE;
    if (mask & GENERIC_EXECUTE)
        out |= KEY_EXECUTE;
    if (mask & GENERIC_ALL)
        out |= KEY_ALL_ACCESS;
    return out;
}

const uint8_t kOwnerRightsSid[] = {1, 1, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0};
const uint8_t kCreatorOwnerSid[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
const uint8_t kCreatorGroupSid[] = {1, 1, 0, 0, 0, 0, 0, 3, 1, 0, 0, 0};
const uint8_t kSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const uint8_t kAdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};

LONG checkAccess(Span sdBytes, const PreparedToken &token, ACCESS_MASK desired, ACCESS_MASK &granted)
{
    granted = 0;
    desired &= ~kWow64Bits;
    bool maximum = desired & MAXIMUM_ALLOWED;
    desired = mapKeyRights(desired & ~MAXIMUM_ALLOWED);

    if (token.backupRestorePrivileges()) {
        granted = maximum ? (desired | KEY_ALL_ACCESS) : desired;
        return granted ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }
    // Reading or writing the SACL needs a privilege this token lacks.
    if (desired & ACCESS_SYSTEM_SECURITY)
        return ERROR_ACCESS_DENIED;
    if (!maximum && desired == 0)
        return ERROR_ACCESS_DENIED; // as SeAccessCheck: nothing asked, nothing given

    Sd sd;
    if (!parseSd(sdBytes, sd))
        return ERROR_ACCESS_DENIED;
    if (!sd.daclPresent || sd.dacl.empty()) { // no DACL or a null one: everyone, everything
        granted = maximum ? (desired | KEY_ALL_ACCESS) : desired;
        return ERROR_SUCCESS;
    }

    bool isOwner = !sd.owner.empty() && token.contains(sd.owner);
    bool ownerRightsAce = false;
    if (isOwner)
        forEachAce(sd.dacl, [&](const Ace &a) {
            if (!(a.flags & kInheritOnlyAce) && sidEqual(a.sid, Span(kOwnerRightsSid)) &&
                (a.type == kAccessAllowedAce || a.type == kAccessDeniedAce))
                ownerRightsAce = true;
            return !ownerRightsAce;
        });
    ACCESS_MASK ownerImplicit = isOwner && !ownerRightsAce ? (READ_CONTROL | WRITE_DAC) : 0;
    auto applies = [&](const Ace &a) {
        if (a.flags & kInheritOnlyAce || a.sid.empty())
            return false;
        if (isOwner && sidEqual(a.sid, Span(kOwnerRightsSid)))
            return true;
        return token.contains(a.sid);
    };
    auto isAllow = [](const Ace &a) {
        return a.type == kAccessAllowedAce || (a.type == kAllowedObjectAce && !a.objectType);
    };
    // Callback deny ACEs count as denying: their conditions are not evaluated,
    // and an unknown condition denies on Windows too.
    auto isDeny = [](const Ace &a) {
        return a.type == kAccessDeniedAce || a.type == kDeniedCallbackAce ||
               (a.type == kDeniedObjectAce && !a.objectType);
    };

    if (maximum) {
        ACCESS_MASK allowed = ownerImplicit, denied = 0;
        forEachAce(sd.dacl, [&](const Ace &a) {
            if (!applies(a))
                return true;
            ACCESS_MASK m = mapKeyRights(a.mask);
            if (isAllow(a))
                allowed |= m & ~denied;
            else if (isDeny(a))
                denied |= m & ~allowed;
            return true;
        });
        allowed &= ~(MAXIMUM_ALLOWED | ACCESS_SYSTEM_SECURITY);
        if ((desired & ~allowed) != 0 || (allowed | desired) == 0)
            return ERROR_ACCESS_DENIED;
        granted = allowed | desired;
        return ERROR_SUCCESS;
    }

    // Deny and allow ACEs are taken in stored order: a deny only removes
    // rights that no earlier ACE has granted.
    ACCESS_MASK remaining = desired & ~ownerImplicit;
    bool refused = false;
    if (remaining)
        forEachAce(sd.dacl, [&](const Ace &a) {
            if (!applies(a))
                return true;
            ACCESS_MASK m = mapKeyRights(a.mask);
            if (isAllow(a)) {
                remaining &= ~m;
            } else if (isDeny(a) && (m & remaining)) {
                refused = true;
                return false;
            }
            return remaining != 0;
        });
    if (refused || remaining)
        return ERROR_ACCESS_DENIED;
    granted = desired;
    return ERROR_SUCCESS;
}

// ---- inheritance ---------------------------------------------------------

// Inheritable ACEs of one parent ACL as a new container (a key) receives
// them, following CreatePrivateObjectSecurity with auto-inheritance, as
// child keys in real hives show it:
// - CI: effective on the new key; without NP it also stays inheritable, in
//   one ACE. When the ACE names CREATOR OWNER/GROUP, or its rights change
//   on the key (generic rights mapped, bits keys do not have such as
//   SYNCHRONIZE dropped: FA becomes KA), it is split into an effective copy
//   (creator's SID, key rights) followed by an inherit-only copy that keeps
//   the original for grandchildren.
// - An effective part whose rights an earlier one (same type and SID)
//   already gives is left out, and a CI ACE then arrives inherit-only; an
//   inherit-only copy equal to an earlier one is left out too. So a key made
//   by SYSTEM under (A;CIIO;GA;;;SY)(A;CIIO;GA;;;CO) gets one (A;ID;KA;;;SY).
// - OI without CI: keys are containers, so it arrives inherit-only (OI|IO)
//   to pass on to objects; with NP it does not arrive at all.
// Every copy carries INHERITED_ACE. Object ACEs and unknown types are not
// inherited.
void inheritAcl(Span acl, Span owner, Span group, ACCESS_MASK validRights, std::vector<Bytes> &out)
{
    // An effective ACE whose rights an earlier effective ACE of the same
    // type and SID already carries adds nothing; an inherit-only copy that
    // an earlier ACE already passes on neither.
    // Explicit ACEs already in `out` do not count: Windows keeps both.
    const std::size_t first = out.size();
    auto covered = [&](const Bytes &ace) {
        Ace c, e;
        decodeAce(ace, c);
        bool effective = !(c.flags & kInheritOnlyAce);
        for (std::size_t i = first; i < out.size(); ++i) {
            const Bytes &b = out[i];
            if (!decodeAce(b, e) || e.type != c.type || !sidEqual(e.sid, c.sid))
                continue;
            constexpr uint8_t passOn = kObjectInheritAce | kContainerInheritAce | kNoPropagateInheritAce;
            if (effective ? !(e.flags & kInheritOnlyAce) && (e.mask & c.mask) == c.mask
                          : (e.flags & passOn) == (c.flags & passOn) && e.mask == c.mask)
                return true;
        }
        return false;
    };
    auto add = [&](Bytes ace) {
        if (!ace.empty() && !covered(ace))
            out.push_back(std::move(ace));
    };
    forEachAce(acl, [&](const Ace &a) {
        if (!(a.flags & (kObjectInheritAce | kContainerInheritAce)) || a.sid.empty() || isObjectAce(a.type))
            return true;
        uint8_t keep = a.flags & ~(kInheritFlags | kInheritedAce); // SA / FA
        bool noPropagate = a.flags & kNoPropagateInheritAce;
        Bytes inheritable;
        if (!noPropagate) {
            inheritable.assign(a.raw.begin(), a.raw.end());
            inheritable[1] = uint8_t(keep | (a.flags & (kObjectInheritAce | kContainerInheritAce)) | kInheritOnlyAce |
                                     kInheritedAce);
        }
        if (!(a.flags & kContainerInheritAce)) {
            add(std::move(inheritable));
            return true;
        }
        bool creatorOwner = sidEqual(a.sid, Span(kCreatorOwnerSid));
        bool creatorGroup = sidEqual(a.sid, Span(kCreatorGroupSid));
        Span sid = creatorOwner ? owner : creatorGroup ? group : a.sid;
        ACCESS_MASK rights = mapKeyRights(a.mask) & validRights;
        Bytes effective = makeAce(a.type, uint8_t(keep | kInheritedAce), rights, sid);
        if (rights == 0 || covered(effective)) {
            add(std::move(inheritable));
            return true;
        }
        bool sameAsOriginal = !creatorOwner && !creatorGroup && rights == a.mask;
        if (sameAsOriginal && !inheritable.empty()) {
            inheritable[1] &= ~kInheritOnlyAce;
            out.push_back(std::move(inheritable));
            return true;
        }
        out.push_back(std::move(effective));
        add(std::move(inheritable));
        return true;
    });
}

bool isMember(const Token &t, std::string_view sid)
{
    return std::find(t.groupSids.begin(), t.groupSids.end(), sid) != t.groupSids.end();
}

} // namespace

// ---- public interface ----------------------------------------------------

std::optional<Bytes> sidFromString(std::string_view sid)
{
    uint8_t buf[kMaxSidSize];
    std::size_t len = parseSidOrAlias(sid, buf);
    if (len == 0)
        return std::nullopt;
    return Bytes(buf, buf + len);
}

std::string sidToString(std::span<const uint8_t> sid)
{
    std::size_t len = sidLength(sid);
    if (len == 0 || len != sid.size())
        return {};
    return sidString(sid);
}

bool isValidDescriptor(std::span<const uint8_t> sd)
{
    Sd parsed;
    return parseSd(sd, parsed);
}

std::optional<Bytes> descriptorFromSddl(std::string_view sddl)
{
    return SddlReader(sddl).read();
}

std::string descriptorToSddl(std::span<const uint8_t> bytes, SECURITY_INFORMATION parts)
{
    Sd sd;
    if (!parseSd(bytes, sd))
        return {};
    std::string out;
    if ((parts & OWNER_SECURITY_INFORMATION) && !sd.owner.empty())
        out += "O:" + sidToSddl(sd.owner);
    if ((parts & GROUP_SECURITY_INFORMATION) && !sd.group.empty())
        out += "G:" + sidToSddl(sd.group);
    auto acl = [&](const char *tag, Span a, uint16_t prot, uint16_t req, uint16_t inherited, bool labelsOnly) {
        out += tag;
        if (sd.control & prot)
            out += 'P';
        if (sd.control & req)
            out += "AR";
        if (sd.control & inherited)
            out += "AI";
        if (a.empty()) {
            out += "NO_ACCESS_CONTROL";
            return true;
        }
        return aclToSddl(a, labelsOnly, out);
    };
    if ((parts & DACL_SECURITY_INFORMATION) && sd.daclPresent &&
        !acl("D:", sd.dacl, kSeDaclProtected, kSeDaclAutoInheritReq, kSeDaclAutoInherited, false))
        return {};
    if ((parts & (SACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION)) && sd.saclPresent &&
        !acl("S:", sd.sacl, kSeSaclProtected, kSeSaclAutoInheritReq, kSeSaclAutoInherited,
             !(parts & SACL_SECURITY_INFORMATION)))
        return {};
    return out;
}

LONG descriptorError(std::span<const uint8_t> b)
{
    Sd sd;
    if (parseSd(b, sd))
        return ERROR_SUCCESS;
    // The header, owner and group are sound, so an ACL is what failed.
    if (b.size() < kHeaderSize || b[0] != kSdRevision || !(rd16(&b[2]) & kSeSelfRelative))
        return ERROR_INVALID_SECURITY_DESCR;
    auto sidAt = [&](uint32_t off) {
        return off == 0 || (off >= kHeaderSize && off < b.size() && sidLength(b.subspan(off)) != 0);
    };
    if (!sidAt(rd32(&b[4])) || !sidAt(rd32(&b[8])))
        return ERROR_INVALID_SECURITY_DESCR;
    for (uint32_t off : {rd32(&b[12]), rd32(&b[16])})
        if (off != 0 && (off < kHeaderSize || off >= b.size()))
            return ERROR_INVALID_SECURITY_DESCR;
    return ERROR_INVALID_ACL;
}

LONG descriptorToSddl(std::span<const uint8_t> bytes, SECURITY_INFORMATION parts, std::string &out)
{
    out.clear();
    if (LONG rc = descriptorError(bytes); rc != ERROR_SUCCESS)
        return rc;
    out = descriptorToSddl(bytes, parts);
    // A sound descriptor prints as nothing only when no selected part is
    // there; otherwise an ACE had no SDDL form (callback conditions, ...).
    if (out.empty() &&
        !descriptorToSddl(bytes, parts & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)).empty())
        return ERROR_INVALID_ACL;
    if (out.empty()) {
        Sd sd;
        parseSd(bytes, sd);
        const bool dacl = (parts & DACL_SECURITY_INFORMATION) && sd.daclPresent;
        const bool sacl = (parts & (SACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION)) && sd.saclPresent;
        if (dacl || sacl)
            return ERROR_INVALID_ACL;
    }
    return ERROR_SUCCESS;
}

std::size_t sidSize(std::span<const uint8_t> sid)
{
    return sidLength(sid);
}

std::size_t aclSize(std::span<const uint8_t> acl)
{
    return validAcl(acl);
}

Bytes buildDescriptor(uint16_t control, std::span<const uint8_t> owner, std::span<const uint8_t> group,
                      bool saclPresent, std::span<const uint8_t> sacl, bool daclPresent, std::span<const uint8_t> dacl)
{
    return buildSd(0, control, owner, group, saclPresent, sacl, daclPresent, dacl);
}

ACCESS_MASK mapGenericKeyRights(ACCESS_MASK mask)
{
    return mapKeyRights(mask);
}

PreparedToken::PreparedToken(const Token &token) : m_privileged(token.backupRestorePrivileges)
{
    m_sids.reserve(28 * (1 + token.groupSids.size())); // most SIDs are at most this long
    uint8_t buf[kMaxSidSize];
    m_userLen = parseSidOrAlias(token.userSid, buf);
    m_sids.assign(buf, buf + m_userLen);
    for (const std::string &g : token.groupSids) {
        std::size_t len = parseSidOrAlias(g, buf);
        m_sids.insert(m_sids.end(), buf, buf + len);
    }
}

bool PreparedToken::contains(std::span<const uint8_t> sid) const
{
    std::size_t pos = 0;
    while (pos < m_sids.size()) {
        std::size_t len = 8 + 4 * std::size_t(m_sids[pos + 1]);
        if (len == sid.size() && std::memcmp(&m_sids[pos], sid.data(), len) == 0)
            return true;
        pos += len;
    }
    return false;
}

LONG accessCheck(std::span<const uint8_t> sd, const Token &token, ACCESS_MASK desired, ACCESS_MASK &granted)
{
    return checkAccess(sd, PreparedToken(token), desired, granted);
}

LONG accessCheck(std::span<const uint8_t> sd, const PreparedToken &token, ACCESS_MASK desired, ACCESS_MASK &granted)
{
    return checkAccess(sd, token, desired, granted);
}

Bytes inheritForNewKey(std::span<const uint8_t> parentSd, const Token &creator)
{
    return inheritForNewKey(parentSd, creator, {});
}

Bytes inheritForNewKey(std::span<const uint8_t> parentSd, const Token &creator, std::span<const uint8_t> explicitSd)
{
    // Owner: members of Administrators create objects owned by the group, as
    // Windows' default owner for administrators is; others own what they
    // create. Primary group: for an account of a machine or domain
    // (S-1-5-21-...) that domain's "None"/"Domain Users" group (RID 513), as
    // real hives show for user-made keys; for SYSTEM and other well-known
    // accounts the account itself (keys made by the system read G:SY).
    Bytes user = sidFromString(creator.userSid).value_or(Bytes(kSystemSid, kSystemSid + sizeof kSystemSid));
    Bytes owner =
        isMember(creator, "S-1-5-32-544") ? Bytes(std::begin(kAdministratorsSid), std::end(kAdministratorsSid)) : user;
    Bytes group = user;
    if (user.size() == 8 + 4 * 5 && user[7] == 5 && rd32(&user[8]) == 21)
        wr32(&group[8 + 4 * 4], 513);

    Sd given;
    bool haveGiven = !explicitSd.empty() && parseSd(explicitSd, given);
    if (haveGiven && !given.owner.empty())
        owner.assign(given.owner.begin(), given.owner.end());
    if (haveGiven && !given.group.empty())
        group.assign(given.group.begin(), given.group.end());

    Sd parent;
    bool parentOk = parseSd(parentSd, parent);
    // One ACL of the new key: the given ACEs (their claimed-inherited ones
    // dropped, as auto-inheritance rebuilds those) then, unless the given ACL
    // is protected, what the parent passes on.
    auto makeAcl = [&](bool givenPresent, Span givenAcl, bool isProtected, bool parentPresent, Span parentAcl,
                       ACCESS_MASK valid, std::vector<Bytes> &aces) {
        if (givenPresent && givenAcl.empty())
            return false; // a null ACL asked for stays null
        if (givenPresent)
            forEachAce(givenAcl, [&](const Ace &a) {
                if (!(a.flags & kInheritedAce))
                    aces.emplace_back(a.raw.begin(), a.raw.end());
                return true;
            });
        std::size_t explicitCount = aces.size();
        if (!isProtected && parentOk && parentPresent && !parentAcl.empty())
            inheritAcl(parentAcl, owner, group, valid, aces);
        return aces.size() > explicitCount;
    };

    uint16_t control = 0;
    std::vector<Bytes> dacl, sacl;
    bool daclProtected = haveGiven && given.daclPresent && (given.control & kSeDaclProtected);
    bool saclProtected = haveGiven && given.saclPresent && (given.control & kSeSaclProtected);
    bool daclInherited = makeAcl(haveGiven && given.daclPresent, given.dacl, daclProtected, parent.daclPresent,
                                 parent.dacl, KEY_ALL_ACCESS, dacl);
    bool saclInherited = makeAcl(haveGiven && given.saclPresent, given.sacl, saclProtected, parent.saclPresent,
                                 parent.sacl, KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY, sacl);
    if (haveGiven)
        control |= given.control & (kSeDaclProtected | kSeSaclProtected);
    if ((daclInherited || daclProtected) && (parent.control & kSeDaclAutoInherited))
        control |= kSeDaclAutoInherited;
    if ((saclInherited || saclProtected) && (parent.control & kSeSaclAutoInherited))
        control |= kSeSaclAutoInherited;

    Bytes daclBytes, saclBytes;
    bool nullDacl = haveGiven && given.daclPresent && given.dacl.empty();
    if (nullDacl) {
        // Everyone gets everything, as asked.
    } else if (!dacl.empty() || (haveGiven && given.daclPresent)) {
        uint8_t rev = haveGiven && !given.dacl.empty()   ? given.dacl[0]
                      : parentOk && !parent.dacl.empty() ? parent.dacl[0]
                                                         : kAclRevision;
        daclBytes = buildAcl(rev, std::vector<Span>(dacl.begin(), dacl.end()));
        if (daclBytes.empty())
            return {};
    } else {
        // Nothing given or inherited: the token's default DACL, which Windows
        // gives as creator and SYSTEM full control.
        std::vector<Bytes> def = {makeAce(kAccessAllowedAce, 0, KEY_ALL_ACCESS, owner),
                                  makeAce(kAccessAllowedAce, 0, KEY_ALL_ACCESS, Span(kSystemSid))};
        if (sidEqual(owner, Span(kSystemSid)))
            def.pop_back();
        daclBytes = buildAcl(kAclRevision, std::vector<Span>(def.begin(), def.end()));
    }
    bool saclPresent = !sacl.empty() || (haveGiven && given.saclPresent);
    if (saclPresent && !(haveGiven && given.saclPresent && given.sacl.empty())) {
        uint8_t rev = haveGiven && !given.sacl.empty()   ? given.sacl[0]
                      : parentOk && !parent.sacl.empty() ? parent.sacl[0]
                                                         : kAclRevision;
        saclBytes = buildAcl(rev, std::vector<Span>(sacl.begin(), sacl.end()));
        if (saclBytes.empty())
            return {};
    }
    return buildSd(0, control, owner, group, saclPresent, saclBytes, true, daclBytes);
}

namespace
{

// Control bits that travel with each part.
constexpr uint16_t kOwnerBits = kSeOwnerDefaulted;
constexpr uint16_t kGroupBits = kSeGroupDefaulted;
constexpr uint16_t kDaclBits =
    kSeDaclPresent | kSeDaclDefaulted | kSeDaclAutoInheritReq | kSeDaclAutoInherited | kSeDaclProtected;
constexpr uint16_t kSaclBits =
    kSeSaclPresent | kSeSaclDefaulted | kSeSaclAutoInheritReq | kSeSaclAutoInherited | kSeSaclProtected;

// The SACL reduced to its mandatory label ACEs (or to all others).
Bytes filterLabels(Span sacl, bool labels)
{
    std::vector<Span> keep;
    forEachAce(sacl, [&](const Ace &a) {
        if ((a.type == kSystemMandatoryLabelAce) == labels)
            keep.push_back(a.raw);
        return true;
    });
    return buildAcl(sacl.empty() ? kAclRevision : sacl[0], keep);
}

} // namespace

Bytes selectParts(std::span<const uint8_t> bytes, SECURITY_INFORMATION info)
{
    Sd sd;
    if (!parseSd(bytes, sd))
        return {};
    uint16_t control = sd.control & (kSeRmControlValid);
    Span owner, group, sacl, dacl;
    bool saclPresent = false, daclPresent = false;
    Bytes labels;
    if (info & OWNER_SECURITY_INFORMATION) {
        owner = sd.owner;
        control |= sd.control & kOwnerBits;
    }
    if (info & GROUP_SECURITY_INFORMATION) {
        group = sd.group;
        control |= sd.control & kGroupBits;
    }
    // The flags travel with their ACL even when it is absent: Windows keeps
    // SE_SACL_AUTO_INHERITED on keys without a SACL.
    if (info & DACL_SECURITY_INFORMATION) {
        dacl = sd.dacl;
        daclPresent = sd.daclPresent;
        control |= sd.control & kDaclBits;
    }
    if (info & SACL_SECURITY_INFORMATION) {
        sacl = sd.sacl;
        saclPresent = sd.saclPresent;
        control |= sd.control & kSaclBits;
    } else if (info & LABEL_SECURITY_INFORMATION) {
        if (sd.saclPresent && !sd.sacl.empty()) {
            labels = filterLabels(sd.sacl, true);
            sacl = labels;
        }
        saclPresent = sd.saclPresent;
        control |= sd.control & kSaclBits;
    }
    return buildSd(sd.sbz1, control, owner, group, saclPresent, sacl, daclPresent, dacl);
}

LONG mergeParts(std::span<const uint8_t> current, std::span<const uint8_t> update, SECURITY_INFORMATION info,
                Bytes &out)
{
    Sd upd;
    if (!parseSd(update, upd))
        return ERROR_INVALID_SECURITY_DESCR;
    if ((info & PROTECTED_DACL_SECURITY_INFORMATION) && (info & UNPROTECTED_DACL_SECURITY_INFORMATION))
        return ERROR_INVALID_PARAMETER;
    if ((info & PROTECTED_SACL_SECURITY_INFORMATION) && (info & UNPROTECTED_SACL_SECURITY_INFORMATION))
        return ERROR_INVALID_PARAMETER;
    if ((info & OWNER_SECURITY_INFORMATION) && upd.owner.empty())
        return ERROR_INVALID_SECURITY_DESCR;
    if ((info & GROUP_SECURITY_INFORMATION) && upd.group.empty())
        return ERROR_INVALID_SECURITY_DESCR;
    // A damaged stored descriptor must not stop its owner from repairing it:
    // its unreadable parts are simply dropped.
    Sd cur;
    if (!parseSd(current, cur))
        cur = Sd{};

    Span owner = cur.owner, group = cur.group, sacl = cur.sacl, dacl = cur.dacl;
    bool saclPresent = cur.saclPresent, daclPresent = cur.daclPresent;
    uint16_t control = cur.control & (kOwnerBits | kGroupBits | kDaclBits | kSaclBits | kSeRmControlValid);
    if (info & OWNER_SECURITY_INFORMATION) {
        owner = upd.owner;
        control = (control & ~kOwnerBits) | (upd.control & kOwnerBits);
    }
    if (info & GROUP_SECURITY_INFORMATION) {
        group = upd.group;
        control = (control & ~kGroupBits) | (upd.control & kGroupBits);
    }
    if (info & DACL_SECURITY_INFORMATION) {
        dacl = upd.dacl;
        daclPresent = upd.daclPresent;
        control = (control & ~kDaclBits) | (upd.control & kDaclBits);
        if (info & PROTECTED_DACL_SECURITY_INFORMATION)
            control |= kSeDaclProtected;
        if (info & UNPROTECTED_DACL_SECURITY_INFORMATION)
            control &= ~kSeDaclProtected;
    }
    Bytes merged;
    if (info & SACL_SECURITY_INFORMATION) {
        sacl = upd.sacl;
        saclPresent = upd.saclPresent;
        control = (control & ~kSaclBits) | (upd.control & kSaclBits);
    } else if (info & LABEL_SECURITY_INFORMATION) {
        // Only the mandatory label changes; audit ACEs stay as they are.
        std::vector<Span> aces;
        if (upd.saclPresent && !upd.sacl.empty())
            forEachAce(upd.sacl, [&](const Ace &a) {
                if (a.type == kSystemMandatoryLabelAce)
                    aces.push_back(a.raw);
                return true;
            });
        if (cur.saclPresent && !cur.sacl.empty())
            forEachAce(cur.sacl, [&](const Ace &a) {
                if (a.type != kSystemMandatoryLabelAce)
                    aces.push_back(a.raw);
                return true;
            });
        uint8_t rev = !cur.sacl.empty() ? cur.sacl[0] : kAclRevision;
        if (!aces.empty() || saclPresent) {
            merged = buildAcl(rev, aces);
            if (merged.empty())
                return ERROR_INVALID_SECURITY_DESCR;
            sacl = merged;
            saclPresent = true;
        }
    }
    if (info & (SACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION)) {
        if (info & PROTECTED_SACL_SECURITY_INFORMATION)
            control |= kSeSaclProtected;
        if (info & UNPROTECTED_SACL_SECURITY_INFORMATION)
            control &= ~kSeSaclProtected;
    }
    out = buildSd(cur.sbz1, control, owner, group, saclPresent, sacl, daclPresent, dacl);
    return ERROR_SUCCESS;
}

// Root descriptors as Windows 10 gives them: the SYSTEM hive's root key (and
// SOFTWARE's, which matches it), the root of a user's NTUSER.DAT, and the
// root of the SECURITY hive. Each was read from a real hive; the first two
// convert back to the stored bytes, the third to the same ACEs (the stored
// ACL has 16 unused bytes). The long SID is the app-package capability
// Windows grants read access to the registry.
#define kCapability                                                                                                    \
    "S-1-15-3-1024-1065365936-1281604716-3511738428-1654721687-432734479-3232135806-4053264122-3456934681"
constexpr std::string_view kMachineHiveSddl =
    "O:BAG:SYD:PAI(A;;KR;;;BU)(A;CIIO;GR;;;BU)(A;;KA;;;BA)(A;CIIO;GA;;;BA)(A;;KA;;;SY)(A;CIIO;GA;;;SY)"
    "(A;;KA;;;BA)(A;CIIO;GA;;;CO)(A;;KR;;;AC)(A;CIIO;GR;;;AC)"
    "(A;;KR;;;" kCapability ")(A;CIIO;GR;;;" kCapability ")"
    "S:AINO_ACCESS_CONTROL";
constexpr std::string_view kUserHiveSddl =
    "O:BAG:SYD:P(A;OICI;KA;;;%USER%)(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)(A;OICI;KR;;;RC)(A;;KR;;;AC)"
    "(A;;KR;;;" kCapability ")S:AINO_ACCESS_CONTROL";
constexpr std::string_view kSystemOnlySddl = "O:BAG:SYD:(A;CI;KA;;;SY)(A;CI;RCWD;;;BA)S:AINO_ACCESS_CONTROL";
#undef kCapability

Bytes defaultMachineHiveDescriptor()
{
    return *descriptorFromSddl(kMachineHiveSddl);
}

Bytes defaultUserHiveDescriptor(std::string_view userSid)
{
    // Through binary and back, so that no text can slip into the SDDL.
    auto sid = sidFromString(userSid);
    if (!sid)
        return {};
    std::string sddl(kUserHiveSddl);
    sddl.replace(sddl.find("%USER%"), 6, sidString(*sid));
    auto sd = descriptorFromSddl(sddl);
    return sd ? *sd : Bytes{};
}

Bytes systemOnlyDescriptor()
{
    return *descriptorFromSddl(kSystemOnlySddl);
}

} // namespace vt::security
