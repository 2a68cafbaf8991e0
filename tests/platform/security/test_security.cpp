#include "platform/security/SecurityDescriptor.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace vt::security;

namespace
{

Bytes fromHex(std::string_view hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

Bytes sd(std::string_view sddl)
{
    auto b = descriptorFromSddl(sddl);
    EXPECT_TRUE(b) << sddl.substr(0, 200);
    return b.value_or(Bytes{});
}

std::filesystem::path testdata()
{
    const char *env = std::getenv("VT_TESTDATA");
    return env ? env : VT_TESTDATA_DIR;
}

// Every allocated security cell ("sk") of a regf file, in file order.
std::vector<Bytes> securityCells(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::string d((std::istreambuf_iterator<char>(in)), {});
    auto u32 = [&](std::size_t p) {
        return uint32_t(uint8_t(d[p])) | uint32_t(uint8_t(d[p + 1])) << 8 | uint32_t(uint8_t(d[p + 2])) << 16 |
               uint32_t(uint8_t(d[p + 3])) << 24;
    };
    std::vector<Bytes> out;
    if (d.compare(0, 4, "regf") != 0)
        return out;
    for (std::size_t bin = 4096; bin + 32 <= d.size() && d.compare(bin, 4, "hbin") == 0;) {
        std::size_t binSize = u32(bin + 8);
        if (binSize < 32)
            break;
        for (std::size_t c = bin + 32; c + 4 <= std::min(d.size(), bin + binSize);) {
            int32_t size = int32_t(u32(c));
            if (size == 0)
                break;
            if (size < 0 && c + 24 <= d.size() && d.compare(c + 4, 2, "sk") == 0) {
                std::size_t len = u32(c + 20);
                if (c + 24 + len <= d.size())
                    out.emplace_back(d.begin() + c + 24, d.begin() + c + 24 + len);
            }
            c += std::size_t(size < 0 ? -size : size);
        }
        bin += binSize;
    }
    return out;
}

// (parent, child) descriptor pairs of every key of a regf file, read by
// walking the key tree from the root.
std::vector<std::pair<Bytes, Bytes>> parentChildDescriptors(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::string d((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::pair<Bytes, Bytes>> out;
    auto u32 = [&](std::size_t p) -> uint32_t {
        if (p + 4 > d.size())
            return 0;
        return uint32_t(uint8_t(d[p])) | uint32_t(uint8_t(d[p + 1])) << 8 | uint32_t(uint8_t(d[p + 2])) << 16 |
               uint32_t(uint8_t(d[p + 3])) << 24;
    };
    auto cell = [](uint32_t off) { return std::size_t(4096) + off + 4; };
    auto is = [&](std::size_t p, const char *sig) { return p + 2 <= d.size() && d.compare(p, 2, sig) == 0; };
    auto sdOf = [&](std::size_t nk) {
        std::size_t sk = cell(u32(nk + 0x2C));
        std::size_t len = u32(sk + 16);
        if (!is(sk, "sk") || sk + 20 + len > d.size())
            return Bytes{};
        return Bytes(d.begin() + sk + 20, d.begin() + sk + 20 + len);
    };
    if (d.compare(0, 4, "regf") != 0)
        return out;
    std::vector<std::pair<uint32_t, int>> stack{{u32(0x24), 0}};
    std::set<uint32_t> seen;
    while (!stack.empty()) {
        auto [off, depth] = stack.back();
        stack.pop_back();
        std::size_t nk = cell(off);
        if (depth > 64 || !seen.insert(off).second || !is(nk, "nk"))
            continue;
        Bytes parent = sdOf(nk);
        std::vector<uint32_t> children;
        std::vector<uint32_t> lists{u32(nk + 0x1C)};
        for (std::size_t i = 0; i < lists.size() && i < 1024 && u32(nk + 0x14); ++i) {
            std::size_t l = cell(lists[i]);
            std::size_t n = l + 4 <= d.size() ? uint8_t(d[l + 2]) | uint8_t(d[l + 3]) << 8 : 0;
            bool wide = is(l, "lf") || is(l, "lh");
            for (std::size_t k = 0; k < n; ++k) {
                if (wide)
                    children.push_back(u32(l + 4 + 8 * k));
                else if (is(l, "li"))
                    children.push_back(u32(l + 4 + 4 * k));
                else if (is(l, "ri"))
                    lists.push_back(u32(l + 4 + 4 * k));
            }
        }
        for (uint32_t c : children) {
            if (is(cell(c), "nk"))
                out.emplace_back(parent, sdOf(cell(c)));
            stack.emplace_back(c, depth + 1);
        }
    }
    return out;
}

const char *kUser = "S-1-5-21-1004336348-1177238915-682003330-1001";
const char *kUserGroup = "S-1-5-21-1004336348-1177238915-682003330-513";
const char *kOther = "S-1-5-21-1004336348-1177238915-682003330-1002";

Token admin()
{
    return {kUser, {"S-1-5-32-544", "S-1-5-32-545", "S-1-1-0", "S-1-5-11", "S-1-5-4"}, false};
}
Token standardUser()
{
    return {kUser, {"S-1-5-32-545", "S-1-1-0", "S-1-5-11", "S-1-5-4"}, false};
}
Token otherUser()
{
    return {kOther, {"S-1-5-32-545", "S-1-1-0", "S-1-5-11"}, false};
}
Token localSystem()
{
    return {"S-1-5-18", {"S-1-5-32-544", "S-1-1-0", "S-1-5-11"}, false};
}
Token backupOperator()
{
    return {kOther, {"S-1-1-0"}, true};
}

} // namespace

TEST(Sids, StringAndBinaryForms)
{
    struct Case {
        const char *text;
        const char *hex;     // "" = refused
        const char *printed; // nullptr = same as text
    } cases[] = {
        {"S-1-5-18", "010100000000000512000000", nullptr},
        {"S-1-5-32-544", "01020000000000052000000020020000", nullptr},
        {"S-1-1-0", "010100000000000100000000", nullptr},
        {"S-1-5-21-1004336348-1177238915-682003330-1001", "010500000000000515000000dcf4dc3b833d2b46828ba628e9030000",
         nullptr},
        {"S-1-5", "0100000000000005", nullptr},
        {"S-1-0x123456789ABC-7", "0101123456789abc07000000", "S-1-0x123456789abc-7"},
        {"S-1-5-4294967295", "0101000000000005ffffffff", nullptr},
        {"s-1-5-18", "010100000000000512000000", "S-1-5-18"},
        {"BA", "01020000000000052000000020020000", "S-1-5-32-544"},
        {"WD", "010100000000000100000000", "S-1-1-0"},
        {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15",
         "010f000000000005"
         "0100000002000000030000000400000005000000"
         "06000000070000000800000009000000"
         "0a0000000b0000000c0000000d0000000e0000000f000000",
         nullptr},
        // Refused: 16 sub-authorities, revision 2, missing or bad numbers,
        // values that overflow, unknown and domain-relative aliases.
        {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", "", nullptr},
        {"S-2-5-18", "", nullptr},
        {"S-1", "", nullptr},
        {"S-1-5-", "", nullptr},
        {"S-1-5-x", "", nullptr},
        {"S-1-5--18", "", nullptr},
        {"S-1-5-4294967296", "", nullptr},
        {"S-1-281474976710656-1", "", nullptr},
        {"", "", nullptr},
        {"XX", "", nullptr},
        {"DA", "", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        auto bin = sidFromString(c.text);
        if (*c.hex == 0) {
            EXPECT_FALSE(bin);
            continue;
        }
        ASSERT_TRUE(bin);
        EXPECT_EQ(*bin, fromHex(c.hex));
        EXPECT_EQ(sidToString(*bin), c.printed ? c.printed : c.text);
    }
    // Malformed bytes print as nothing rather than reading past the end.
    EXPECT_EQ(sidToString(fromHex("01c8000000000005")), "");       // 200 sub-authorities
    EXPECT_EQ(sidToString(fromHex("0102000000000005200000")), ""); // truncated
    EXPECT_EQ(sidToString(fromHex("020100000000000512000000")), "");
}

TEST(Sddl, PrintsAsWindowsDoes)
{
    struct Case {
        const char *in;
        const char *out; // nullptr = same as in
    } cases[] = {
        {"O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CIIO;GA;;;CO)(A;;KR;;;BU)", nullptr},
        {"O:S-1-5-21-1-2-3-1001G:S-1-5-21-1-2-3-513", nullptr},
        {"D:NO_ACCESS_CONTROL", nullptr},
        {"D:PAINO_ACCESS_CONTROL", nullptr},
        {"D:", nullptr},
        {"D:ARAI(D;;KW;;;WD)(A;OICINPIO;0x1200a9;;;BU)", nullptr},
        {"D:(A;;CCDCLCSWRPSDRC;;;BA)(A;OICIIO;GXGR;;;BU)", nullptr},
        {"S:PAI(AU;SAFA;KA;;;WD)(ML;CI;NWNR;;;LW)", nullptr},
        {"D:(A;OICINPIOIDCR;KA;;;WD)", nullptr},
        {"D:(OA;CI;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;AU)", nullptr},
        {"O:SYG:SYD:(A;ID;KA;;;S-1-15-3-1024-1065365936-1281604716)(A;;KR;;;AC)(A;;KR;;;OW)", nullptr},
        // Masks print as the exact composite code, else letters, else hex.
        {"D:(A;;0x20019;;;BU)(A;;KX;;;BU)(A;;0xF003F;;;SY)(A;;0x20006;;;RC)",
         "D:(A;;KR;;;BU)(A;;KR;;;BU)(A;;KA;;;SY)(A;;KW;;;RC)"},
        {"D:(A;;0x100000;;;WD)(A;;RCSD;;;WD)(A;;0x1;;;WD)", "D:(A;;0x100000;;;WD)(A;;SDRC;;;WD)(A;;CC;;;WD)"},
        {"D:(A;;0;;;WD)(A;;010;;;WD)(A;;16;;;WD)", "D:(A;;;;;WD)(A;;SW;;;WD)(A;;RP;;;WD)"},
        // Spaces between tokens, SIDs written out, parts in any order.
        {" D:(A; CI ;KA;;;S-1-5-18) O:S-1-5-32-544 ", "O:BAD:(A;CI;KA;;;SY)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in);
        auto bin = descriptorFromSddl(c.in);
        ASSERT_TRUE(bin);
        EXPECT_TRUE(isValidDescriptor(*bin));
        EXPECT_EQ(descriptorToSddl(*bin), c.out ? c.out : c.in);
    }
}

TEST(Sddl, ExactBytes)
{
    // Kernel layout: header, SACL, DACL, owner, group.
    EXPECT_EQ(sd("O:BAG:SYD:(A;;KA;;;SY)"), fromHex("01000480300000004000000000000000140000000200"
                                                    "1c0001000000000014003f000f00010100000000000512000000"
                                                    "01020000000000052000000020020000010100000000000512000000"));
    // A null DACL is present with offset 0; no DACL at all has no present bit.
    EXPECT_EQ(sd("D:NO_ACCESS_CONTROL"), fromHex("0100048000000000000000000000000000000000"));
    EXPECT_EQ(sd("O:SY"), fromHex("01000080140000000000000000000000000000000101000000000005"
                                  "12000000"));
}

TEST(Sddl, RefusesMalformedText)
{
    for (const char *text : {
             "X:BA",
             "O:BAO:SY",
             "O:",
             "O:B",
             "OBA",
             "D:(A;;KA;;SY)",
             "D:(A;;KA;;;SY;)",
             "D:(Q;;KA;;;SY)",
             "D:(A;XX;KA;;;SY)",
             "D:(A;C;KA;;;SY)",
             "D:(A;;ZZ;;;SY)",
             "D:(A;;K;;;SY)",
             "D:(A;;0x1FFFFFFFF;;;SY)",
             "D:(A;;0xZ;;;SY)",
             "D:(A;;KA;;;S-1-5-)",
             "D:(A;;KA;;;SY",
             "D:(A;;KA;;;)",
             "D:NO_ACCESS_CONTROL(A;;KA;;;SY)",
             "O:DA",
             "D:(A;;KA;bf967aba-0de6-11d0-a285-00aa003049e2;;SY)",
             "D:(OA;;RP;bf967aba-0de6-11d0-a285;;AU)",
             "D:(A;;KA;;;SY)X",
             "D:PX(A;;KA;;;SY)",
         }) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(descriptorFromSddl(text));
    }
}

TEST(Sddl, PartsSelectWhatIsPrinted)
{
    Bytes b = sd("O:BAG:SYD:PAI(A;;KA;;;SY)S:AI(AU;SA;KA;;;WD)(ML;;NW;;;LW)");
    EXPECT_EQ(descriptorToSddl(b), "O:BAG:SYD:PAI(A;;KA;;;SY)S:AI(AU;SA;KA;;;WD)(ML;;NW;;;LW)");
    EXPECT_EQ(descriptorToSddl(b, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION),
              "O:BAG:SYD:PAI(A;;KA;;;SY)");
    EXPECT_EQ(descriptorToSddl(b, DACL_SECURITY_INFORMATION), "D:PAI(A;;KA;;;SY)");
    EXPECT_EQ(descriptorToSddl(b, LABEL_SECURITY_INFORMATION), "S:AI(ML;;NW;;;LW)");
    EXPECT_EQ(descriptorToSddl(b, 0), "");
}

TEST(Descriptors, RealHivesRoundTrip)
{
    VT_SKIP_WITHOUT_TESTDATA();
    // Every descriptor stored in the real hives parses, comes back byte for
    // byte from selectParts, and prints SDDL that reads back to the same text.
    std::size_t total = 0, exact = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(testdata() / "hives" / "real")) {
        if (!entry.is_regular_file())
            continue;
        for (const Bytes &b : securityCells(entry.path())) {
            SCOPED_TRACE(entry.path().string());
            ++total;
            ASSERT_TRUE(isValidDescriptor(b));
            EXPECT_EQ(selectParts(b, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                         DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION),
                      b);
            std::string text = descriptorToSddl(b);
            ASSERT_FALSE(text.empty());
            auto back = descriptorFromSddl(text);
            ASSERT_TRUE(back) << text;
            EXPECT_EQ(descriptorToSddl(*back), text);
            exact += *back == b;
            ACCESS_MASK granted = 0;
            accessCheck(b, admin(), MAXIMUM_ALLOWED, granted);
        }
    }
    EXPECT_GT(total, 800u);
    // SDDL cannot carry unused ACL bytes, ACL revision 4 or a SACL flag
    // without a SACL; everything else converts back to the stored bytes.
    EXPECT_GT(exact * 100 / total, 70u);
}

TEST(Descriptors, AgreeWithReglookup)
{
    VT_SKIP_WITHOUT_TESTDATA();
    // reglookup reads owner, group and DACL on its own; compare what it
    // prints for every key with the same facts read through this module.
    auto hive = testdata() / "hives" / "real" / "dfwinreg" / "NTUSER.DAT";
    std::string cmd = "reglookup -s -t KEY '" + hive.string() + "' 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_TRUE(p);
    std::set<std::string> theirs;
    static char line[1 << 16];
    while (std::fgets(line, sizeof line, p)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string s; std::getline(ss, s, ',');)
            f.push_back(s);
        if (f.size() < 8 || f[1] != "KEY")
            continue;
        std::string sig = f[4] + "," + f[5] + ",";
        std::stringstream aces(f[7]);
        for (std::string ace; std::getline(aces, ace, '|');) {
            // SID:ALLOW|DENY:rights:flags -> SID:type:flags
            auto a = ace.find(':'), b = ace.find(':', a + 1), c = ace.rfind(':');
            sig += ace.substr(0, b) + ace.substr(c) + ";";
        }
        theirs.insert(sig);
    }
    ASSERT_EQ(pclose(p), 0) << "reglookup is needed";
    ASSERT_GT(theirs.size(), 3u);

    std::set<std::string> ours;
    for (const Bytes &b : securityCells(hive)) {
        std::string text = descriptorToSddl(b);
        // Owner and group as SIDs; ACEs as SID:ALLOW/DENY:flag words.
        auto sidOf = [](std::string s) { return sidToString(*sidFromString(s)); };
        std::size_t g = text.find("G:"), d = text.find("D:");
        std::string sig = sidOf(text.substr(2, g - 2)) + "," + sidOf(text.substr(g + 2, d - g - 2)) + ",";
        for (std::size_t pos = text.find('(', d); pos != std::string::npos && pos < text.find("S:", d);
             pos = text.find('(', pos + 1)) {
            std::string ace = text.substr(pos + 1, text.find(')', pos) - pos - 1);
            std::vector<std::string> f;
            std::stringstream ss(ace);
            for (std::string s; std::getline(ss, s, ';');)
                f.push_back(s);
            std::string flags;
            for (std::size_t i = 0; i < f[1].size(); i += 2) {
                std::string code = f[1].substr(i, 2);
                flags += (flags.empty() ? "" : " ") + (code == "ID" ? std::string("IA") : code);
            }
            sig += sidOf(f[5]) + ":" + (f[0] == "A" ? "ALLOW" : "DENY") + ":" + flags + ";";
        }
        ours.insert(sig);
    }
    for (const std::string &s : theirs)
        EXPECT_TRUE(ours.count(s)) << s;
}

TEST(Descriptors, MalformedAreRefusedSafely)
{
    // O:BA D:(A;;KA;;;SY): DACL at 0x14 (28 bytes), owner at 0x30.
    const Bytes good = fromHex("01000480300000000000000000000000140000000200"
                               "1c0001000000000014003f000f00010100000000000512000000"
                               "01020000000000052000000020020000");
    ASSERT_TRUE(isValidDescriptor(good));
    auto with = [&](std::size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes b = good;
        std::copy(bytes.begin(), bytes.end(), b.begin() + at);
        return b;
    };
    struct Case {
        const char *what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"header only, cut", Bytes(good.begin(), good.begin() + 19)},
        {"revision 2", with(0, {2})},
        {"not self-relative", with(3, {0x00})},
        {"owner offset past the end", with(4, {0x40})},
        {"owner offset inside the header", with(4, {0x04})},
        {"owner offset huge", with(4, {0xff, 0xff, 0xff, 0xff})},
        {"owner SID with 200 sub-authorities", with(0x31, {200})},
        {"owner SID revision 2", with(0x30, {2})},
        {"DACL offset past the end", with(16, {0x60})},
        {"ACL revision 1", with(0x14, {1})},
        {"ACL revision 5", with(0x14, {5})},
        {"ACL size past the end", with(0x16, {0x40})},
        {"ACL size below its ACE", with(0x16, {0x10})},
        {"ACL size not a multiple of 4", with(0x16, {0x1d})},
        {"ACE count 200", with(0x18, {200})},
        {"ACE count 65535", with(0x18, {0xff, 0xff})},
        {"ACE size 0", with(0x1e, {0x00})},
        {"ACE size 2", with(0x1e, {0x02})},
        {"ACE size not a multiple of 4", with(0x1e, {0x13})},
        {"ACE size past the ACL", with(0x1e, {0x18})},
        {"ACE SID with 200 sub-authorities", with(0x25, {200})},
        {"ACE SID longer than the ACE", with(0x25, {2})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(isValidDescriptor(c.bytes));
        EXPECT_EQ(descriptorToSddl(c.bytes), "");
        EXPECT_TRUE(selectParts(c.bytes, DACL_SECURITY_INFORMATION).empty());
        ACCESS_MASK granted = 1;
        EXPECT_EQ(accessCheck(c.bytes, admin(), KEY_READ, granted), ERROR_ACCESS_DENIED);
        EXPECT_EQ(granted, 0u);
        Bytes out;
        EXPECT_EQ(mergeParts(good, c.bytes, DACL_SECURITY_INFORMATION, out), ERROR_INVALID_SECURITY_DESCR);
        EXPECT_TRUE(isValidDescriptor(inheritForNewKey(c.bytes, admin())));
    }
    // Every shorter prefix is refused.
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(isValidDescriptor(std::span<const uint8_t>(good.data(), n))) << n;
}

TEST(Descriptors, MutatedBytesNeverBreakTheContract)
{
    // Whatever a damaged hive holds: accepted descriptors behave, the rest are refused.
    const Bytes base =
        sd("O:BAG:SYD:PAI(A;CI;KA;;;SY)(D;OICIIO;KW;;;WD)(OA;;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;AU)"
           "S:AI(AU;SA;KA;;;WD)(ML;;NW;;;LW)");
    for (std::size_t i = 0; i < base.size(); ++i)
        for (uint8_t v : {uint8_t(0), uint8_t(1), uint8_t(0x80), uint8_t(0xff), uint8_t(base[i] + 4)}) {
            Bytes b = base;
            b[i] = v;
            if (!isValidDescriptor(b))
                continue;
            SCOPED_TRACE(i);
            Bytes all = selectParts(b, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                           DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION);
            EXPECT_TRUE(isValidDescriptor(all));
            EXPECT_EQ(descriptorToSddl(all), descriptorToSddl(b));
            EXPECT_TRUE(isValidDescriptor(inheritForNewKey(b, standardUser())));
            Bytes merged;
            EXPECT_EQ(mergeParts(base, b, DACL_SECURITY_INFORMATION, merged), ERROR_SUCCESS);
            EXPECT_TRUE(isValidDescriptor(merged));
        }
}

TEST(AccessCheck, Cases)
{
    const char *owner = "O:BAG:SY";
    struct Case {
        const char *what;
        std::string sddl;
        Token token;
        ACCESS_MASK desired;
        LONG rc;
        ACCESS_MASK granted; // when rc is ERROR_SUCCESS
    } cases[] = {
        {"null DACL grants all", "O:BAG:SYD:NO_ACCESS_CONTROL", otherUser(), KEY_ALL_ACCESS, ERROR_SUCCESS,
         KEY_ALL_ACCESS},
        {"no DACL grants all", "O:BAG:SY", otherUser(), KEY_SET_VALUE, ERROR_SUCCESS, KEY_SET_VALUE},
        {"null DACL, maximum", "D:NO_ACCESS_CONTROL", otherUser(), MAXIMUM_ALLOWED, ERROR_SUCCESS, KEY_ALL_ACCESS},
        {"empty DACL grants nothing", std::string(owner) + "D:", standardUser(), KEY_QUERY_VALUE, ERROR_ACCESS_DENIED,
         0},
        {"empty DACL: owner reads the ACL", std::string(owner) + "D:", admin(), READ_CONTROL | WRITE_DAC, ERROR_SUCCESS,
         READ_CONTROL | WRITE_DAC},
        {"empty DACL: owner gets no more", std::string(owner) + "D:", admin(), READ_CONTROL | KEY_QUERY_VALUE,
         ERROR_ACCESS_DENIED, 0},
        {"empty DACL: owner's maximum", std::string(owner) + "D:", admin(), MAXIMUM_ALLOWED, ERROR_SUCCESS,
         READ_CONTROL | WRITE_DAC},
        {"owner rights survive a deny", std::string(owner) + "D:(D;;KA;;;WD)", admin(), READ_CONTROL | WRITE_DAC,
         ERROR_SUCCESS, READ_CONTROL | WRITE_DAC},
        {"OWNER RIGHTS ACE replaces them", std::string(owner) + "D:(A;;KR;;;OW)", admin(), WRITE_DAC,
         ERROR_ACCESS_DENIED, 0},
        {"OWNER RIGHTS ACE grants the owner", std::string(owner) + "D:(A;;KR;;;OW)", admin(), KEY_READ, ERROR_SUCCESS,
         KEY_READ},
        {"OWNER RIGHTS ACE ignores others", std::string(owner) + "D:(A;;KR;;;OW)", standardUser(), KEY_READ,
         ERROR_ACCESS_DENIED, 0},
        {"deny first wins", "D:(D;;KW;;;WD)(A;;KA;;;WD)", standardUser(), KEY_SET_VALUE, ERROR_ACCESS_DENIED, 0},
        {"deny first spares other rights", "D:(D;;KW;;;WD)(A;;KA;;;WD)", standardUser(), KEY_QUERY_VALUE | KEY_NOTIFY,
         ERROR_SUCCESS, KEY_QUERY_VALUE | KEY_NOTIFY},
        {"deny of KW takes READ_CONTROL too", "D:(D;;KW;;;WD)(A;;KA;;;WD)", standardUser(), KEY_READ,
         ERROR_ACCESS_DENIED, 0},
        {"allow first wins (stored order)", "D:(A;;KA;;;WD)(D;;KA;;;WD)", standardUser(), KEY_ALL_ACCESS, ERROR_SUCCESS,
         KEY_ALL_ACCESS},
        {"later deny stops ungranted rights", "D:(A;;KR;;;WD)(D;;KA;;;WD)", standardUser(), KEY_READ | KEY_SET_VALUE,
         ERROR_ACCESS_DENIED, 0},
        {"rights add up across ACEs", "D:(A;;KR;;;BU)(A;;0x2;;;S-1-5-21-1004336348-1177238915-682003330-1001)",
         standardUser(), KEY_READ | KEY_SET_VALUE, ERROR_SUCCESS, KEY_READ | KEY_SET_VALUE},
        {"only query value: read fails", "D:(A;;0x1;;;WD)", standardUser(), KEY_READ, ERROR_ACCESS_DENIED, 0},
        {"only query value: query works", "D:(A;;0x1;;;WD)", standardUser(), KEY_QUERY_VALUE, ERROR_SUCCESS,
         KEY_QUERY_VALUE},
        {"GENERIC_READ asked", "D:(A;;KR;;;BU)", standardUser(), GENERIC_READ, ERROR_SUCCESS, KEY_READ},
        {"GENERIC_WRITE asked", "D:(A;;KR;;;BU)", standardUser(), GENERIC_WRITE, ERROR_ACCESS_DENIED, 0},
        {"GENERIC_ALL asked", "D:(A;;KA;;;BU)", standardUser(), GENERIC_ALL, ERROR_SUCCESS, KEY_ALL_ACCESS},
        {"GR in the ACE", "D:(A;;GR;;;BU)", standardUser(), KEY_READ, ERROR_SUCCESS, KEY_READ},
        {"GR in the ACE is not write", "D:(A;;GR;;;BU)", standardUser(), KEY_SET_VALUE, ERROR_ACCESS_DENIED, 0},
        {"GA in the ACE", "D:(A;;GA;;;BU)", standardUser(), KEY_ALL_ACCESS, ERROR_SUCCESS, KEY_ALL_ACCESS},
        {"GW in a deny ACE", "D:(D;;GW;;;WD)(A;;KA;;;WD)", standardUser(), KEY_CREATE_SUB_KEY, ERROR_ACCESS_DENIED, 0},
        {"inherit-only allow ignored", "D:(A;CIIO;KA;;;BU)(A;;KR;;;BU)", standardUser(), KEY_SET_VALUE,
         ERROR_ACCESS_DENIED, 0},
        {"inherit-only deny ignored", "D:(D;OICIIO;KA;;;WD)(A;;KA;;;WD)", standardUser(), KEY_ALL_ACCESS, ERROR_SUCCESS,
         KEY_ALL_ACCESS},
        {"CREATOR OWNER matches nobody", std::string(owner) + "D:(A;;KA;;;CO)", admin(), KEY_READ, ERROR_ACCESS_DENIED,
         0},
        {"other group's ACE", "D:(A;;KA;;;BA)", standardUser(), KEY_READ, ERROR_ACCESS_DENIED, 0},
        {"maximum: deny carves a bit out", "D:(D;;0x4;;;WD)(A;;KA;;;WD)", standardUser(), MAXIMUM_ALLOWED,
         ERROR_SUCCESS, KEY_ALL_ACCESS & ~KEY_CREATE_SUB_KEY},
        {"maximum: late deny carves nothing", "D:(A;;KA;;;WD)(D;;0x4;;;WD)", standardUser(), MAXIMUM_ALLOWED,
         ERROR_SUCCESS, KEY_ALL_ACCESS},
        {"maximum: union of ACEs", "D:(A;;KR;;;BU)(A;;0x2;;;AU)", standardUser(), MAXIMUM_ALLOWED, ERROR_SUCCESS,
         KEY_READ | KEY_SET_VALUE},
        {"maximum: nothing allowed", "D:(A;;KA;;;SY)", standardUser(), MAXIMUM_ALLOWED, ERROR_ACCESS_DENIED, 0},
        {"maximum with a right not allowed", "D:(A;;KR;;;BU)", standardUser(), MAXIMUM_ALLOWED | KEY_SET_VALUE,
         ERROR_ACCESS_DENIED, 0},
        {"WOW64 bits ignored", "D:(A;;KR;;;WD)", standardUser(), KEY_READ | KEY_WOW64_64KEY, ERROR_SUCCESS, KEY_READ},
        {"WOW64 32 bits ignored", "D:(A;;KR;;;WD)", standardUser(), KEY_READ | KEY_WOW64_32KEY, ERROR_SUCCESS,
         KEY_READ},
        {"nothing asked", "D:(A;;KA;;;WD)", standardUser(), 0, ERROR_ACCESS_DENIED, 0},
        {"SACL access needs a privilege", "D:NO_ACCESS_CONTROL", admin(), ACCESS_SYSTEM_SECURITY, ERROR_ACCESS_DENIED,
         0},
        {"privileges: SACL access", "D:(A;;KA;;;SY)", backupOperator(), ACCESS_SYSTEM_SECURITY | KEY_READ,
         ERROR_SUCCESS, ACCESS_SYSTEM_SECURITY | KEY_READ},
        {"privileges pass a closed key", "O:SYG:SYD:(A;;KA;;;SY)", backupOperator(), KEY_ALL_ACCESS, ERROR_SUCCESS,
         KEY_ALL_ACCESS},
        {"privileges pass an empty DACL", "O:SYG:SYD:", backupOperator(), MAXIMUM_ALLOWED, ERROR_SUCCESS,
         KEY_ALL_ACCESS},
        {"system on a system-only key", "O:BAG:SYD:(A;CI;KA;;;SY)(A;CI;RCWD;;;BA)", localSystem(), KEY_ALL_ACCESS,
         ERROR_SUCCESS, KEY_ALL_ACCESS},
        {"administrator on a system-only key", "O:BAG:SYD:(A;CI;KA;;;SY)(A;CI;RCWD;;;BA)", admin(), KEY_READ,
         ERROR_ACCESS_DENIED, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = sd(c.sddl);
        for (int prepared = 0; prepared < 2; ++prepared) {
            ACCESS_MASK granted = 0xdead;
            LONG rc = prepared ? accessCheck(b, PreparedToken(c.token), c.desired, granted)
                               : accessCheck(b, c.token, c.desired, granted);
            EXPECT_EQ(rc, c.rc);
            EXPECT_EQ(granted, c.rc == ERROR_SUCCESS ? c.granted : 0u);
        }
    }
    ACCESS_MASK granted = 0;
    EXPECT_EQ(accessCheck(Bytes{1, 2, 3}, backupOperator(), KEY_READ, granted), ERROR_SUCCESS);
}

TEST(AccessCheck, GenericMapping)
{
    EXPECT_EQ(mapGenericKeyRights(GENERIC_READ), ACCESS_MASK(KEY_READ));
    EXPECT_EQ(mapGenericKeyRights(GENERIC_WRITE), ACCESS_MASK(KEY_WRITE));
    EXPECT_EQ(mapGenericKeyRights(GENERIC_EXECUTE), ACCESS_MASK(KEY_EXECUTE));
    EXPECT_EQ(mapGenericKeyRights(GENERIC_ALL), ACCESS_MASK(KEY_ALL_ACCESS));
    EXPECT_EQ(mapGenericKeyRights(GENERIC_READ | GENERIC_WRITE | DELETE), ACCESS_MASK(KEY_READ | KEY_WRITE | DELETE));
    EXPECT_EQ(mapGenericKeyRights(KEY_NOTIFY | MAXIMUM_ALLOWED), ACCESS_MASK(KEY_NOTIFY | MAXIMUM_ALLOWED));
}

TEST(Inheritance, NewKeys)
{
    std::string group = std::string("G:") + kUserGroup;
    struct Case {
        const char *what;
        const char *parent;
        Token creator;
        std::string child;
    } cases[] = {
        {"container inherit, creator owner split, object-only and no-propagate",
         "O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CIIO;GA;;;CO)(A;;KR;;;BU)(A;OI;KR;;;WD)(A;OINP;KR;;;AU)(A;CINP;KW;;;RC)"
         "(A;OICI;GR;;;AN)",
         admin(),
         "O:BA" + group +
             "D:AI(A;CIID;KA;;;SY)(A;ID;KA;;;BA)(A;CIIOID;GA;;;CO)(A;OIIOID;KR;;;WD)(A;ID;KW;;;RC)"
             "(A;ID;KR;;;AN)(A;OICIIOID;GR;;;AN)"},
        {"standard user owns what it creates", "O:BAG:SYD:(A;CI;KR;;;BU)(A;CIIO;KA;;;CO)", standardUser(),
         std::string("O:") + kUser + group + "D:(A;CIID;KR;;;BU)(A;ID;KA;;;" + kUser + ")(A;CIIOID;KA;;;CO)"},
        {"creator group and no-propagate creator owner", "D:(A;CI;KR;;;CG)(A;CINPIO;KA;;;CO)", standardUser(),
         std::string("O:") + kUser + group + "D:(A;ID;KR;;;" + kUserGroup + ")(A;CIIOID;KR;;;CG)(A;ID;KA;;;" + kUser +
             ")"},
        {"system creates for itself", "D:AI(A;OICI;KA;;;SY)", localSystem(), "O:BAG:SYD:AI(A;OICIID;KA;;;SY)"},
        {"nothing inheritable: the token's default DACL", "O:BAG:SYD:P(A;;KA;;;BU)", standardUser(),
         std::string("O:") + kUser + group + "D:(A;;KA;;;" + kUser + ")(A;;KA;;;SY)"},
        {"null parent DACL: the token's default DACL", "D:NO_ACCESS_CONTROL", admin(),
         "O:BA" + group + "D:(A;;KA;;;BA)(A;;KA;;;SY)"},
        // Seen in real hives: rights keys lack are dropped from the effective
        // copy (FA -> KA, FR -> CCSWRC), which splits the ACE.
        {"rights a key lacks split the ACE", "D:(A;OICI;FA;;;SY)(A;CI;FR;;;WD)(A;CI;0x100000;;;AU)", localSystem(),
         "O:BAG:SYD:(A;ID;KA;;;SY)(A;OICIIOID;FA;;;SY)(A;ID;CCSWRC;;;WD)(A;CIIOID;FR;;;WD)(A;CIIOID;0x100000;;;AU)"},
        // Effective rights already given are not repeated; an ACE whose
        // effective part is covered arrives inherit-only; copies already
        // passed on are not repeated.
        {"no repeated rights",
         "D:AI(A;CIIO;GA;;;SY)(A;CIIO;GR;;;CO)(A;CI;KA;;;SY)(A;CIIO;GA;;;SY)(A;CIIO;RC;;;OW)"
         "(A;CIIO;RC;;;OW)",
         Token{"S-1-5-18", {"S-1-1-0"}, false},
         "O:SYG:SYD:AI(A;ID;KA;;;SY)(A;CIIOID;GA;;;SY)(A;CIIOID;GR;;;CO)(A;CIIOID;KA;;;SY)(A;CIID;RC;;;OW)"},
        {"creator owner when the owner has nothing yet", "D:AI(A;CIIO;GR;;;BU)(A;CIIO;GA;;;SY)(A;CIIO;GA;;;CO)",
         standardUser(),
         std::string("O:") + kUser + group +
             "D:AI(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)(A;ID;KA;;;SY)(A;CIIOID;GA;;;SY)(A;ID;KA;;;" + kUser +
             ")(A;CIIOID;GA;;;CO)"},
        {"audit and label ACEs inherit too", "D:(A;CI;KA;;;SY)S:AI(AU;CISA;KW;;;WD)(AU;SA;KA;;;WD)(ML;CI;NW;;;LW)",
         localSystem(), "O:BAG:SYD:(A;CIID;KA;;;SY)S:AI(AU;CIIDSA;KW;;;WD)(ML;CIID;NW;;;LW)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes child = inheritForNewKey(sd(c.parent), c.creator);
        ASSERT_TRUE(isValidDescriptor(child));
        EXPECT_EQ(descriptorToSddl(child), c.child);
    }
}

TEST(Inheritance, WithADescriptorFromTheCreator)
{
    const char *parent = "O:BAG:SYD:AI(A;CI;KR;;;BU)";
    std::string owner = std::string("O:") + kUser + "G:" + kUserGroup;
    struct Case {
        const char *what;
        const char *given;
        std::string child;
    } cases[] = {
        {"DACL given, parent's ACEs follow", "D:(A;;KA;;;WD)(A;;KR;;;BU)",
         owner + "D:AI(A;;KA;;;WD)(A;;KR;;;BU)(A;CIID;KR;;;BU)"},
        {"owner given, protected DACL", "O:SYD:P(A;;KA;;;WD)",
         std::string("O:SYG:") + kUserGroup + "D:PAI(A;;KA;;;WD)"},
        {"null DACL stays null", "D:NO_ACCESS_CONTROL", owner + "D:NO_ACCESS_CONTROL"},
        {"ACEs claiming to be inherited are dropped", "D:(A;ID;KA;;;WD)(A;;KR;;;AU)",
         owner + "D:AI(A;;KR;;;AU)(A;CIID;KR;;;BU)"},
        {"no DACL given: inherited as usual", "G:SY", owner.substr(0, owner.find("G:")) + "G:SYD:AI(A;CIID;KR;;;BU)"},
        {"SACL given", "S:(AU;SA;KW;;;WD)", owner + "D:AI(A;CIID;KR;;;BU)S:(AU;SA;KW;;;WD)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes child = inheritForNewKey(sd(parent), standardUser(), sd(c.given));
        ASSERT_TRUE(isValidDescriptor(child));
        EXPECT_EQ(descriptorToSddl(child), c.child);
    }
    // Without a descriptor the overloads agree.
    EXPECT_EQ(inheritForNewKey(sd(parent), admin(), {}), inheritForNewKey(sd(parent), admin()));
}

TEST(Inheritance, AclsPastTheSizeLimit)
{
    // 1,500 inheritable ACEs fit a parent's ACL; split into effective and
    // inherit-only copies they would not fit the child's, which is refused.
    std::string text = "D:";
    for (int i = 0; i < 1500; ++i)
        text += "(A;CI;GA;;;S-1-5-21-1-2-3-" + std::to_string(1000 + i) + ")";
    Bytes parent = sd(text);
    ASSERT_TRUE(isValidDescriptor(parent));
    EXPECT_TRUE(inheritForNewKey(parent, standardUser()).empty());
    for (int i = 1500; i < 1900; ++i)
        text += "(A;CI;GA;;;S-1-5-21-1-2-3-" + std::to_string(1000 + i) + ")";
    EXPECT_FALSE(descriptorFromSddl(text));
}

TEST(Inheritance, AgreesWithRealChildKeys)
{
    VT_SKIP_WITHOUT_TESTDATA();
    // Keys whose ACEs are all inherited show what Windows built from their
    // parent. Some were later rewritten by other tools (a few map GX to
    // 0x20039, for instance), so most, not all, must match exactly.
    std::size_t compared = 0, equal = 0;
    auto acesOf = [](const std::string &sddl) {
        std::vector<std::string> aces;
        std::size_t d = sddl.find("D:"), end = sddl.find("S:", d);
        for (std::size_t p = sddl.find('(', d); p != std::string::npos && p < end; p = sddl.find('(', p + 1))
            aces.push_back(sddl.substr(p, sddl.find(')', p) - p + 1));
        return aces;
    };
    for (const auto &entry : std::filesystem::recursive_directory_iterator(testdata() / "hives" / "real")) {
        if (!entry.is_regular_file())
            continue;
        std::set<std::pair<Bytes, Bytes>> pairs;
        for (auto &pc : parentChildDescriptors(entry.path()))
            pairs.insert(pc);
        for (const auto &[parent, child] : pairs) {
            std::string childText = descriptorToSddl(child);
            std::vector<std::string> want = acesOf(childText);
            if (want.empty() || !std::all_of(want.begin(), want.end(),
                                             [](const std::string &a) { return a.find("ID;") != std::string::npos; }))
                continue;
            auto owner = sidFromString(childText.substr(2, childText.find("G:") - 2));
            ASSERT_TRUE(owner);
            Token creator{sidToString(*owner), {}, false};
            ++compared;
            equal += acesOf(descriptorToSddl(inheritForNewKey(parent, creator))) == want;
        }
    }
    EXPECT_GT(compared, 300u);
    EXPECT_GT(equal * 100 / compared, 88u) << equal << " of " << compared;
}

TEST(Inheritance, GrandchildrenAndAccess)
{
    // The inherit-only copies pass on: a grandchild sees the same ACEs, and
    // the creator's effective ACE gives the creator full control.
    Bytes root = defaultMachineHiveDescriptor();
    Bytes child = inheritForNewKey(root, standardUser());
    Bytes grandchild = inheritForNewKey(child, otherUser());
    ACCESS_MASK granted = 0;
    EXPECT_EQ(accessCheck(child, standardUser(), KEY_ALL_ACCESS, granted), ERROR_SUCCESS);
    EXPECT_EQ(accessCheck(grandchild, standardUser(), KEY_SET_VALUE, granted), ERROR_ACCESS_DENIED);
    EXPECT_EQ(accessCheck(grandchild, otherUser(), KEY_ALL_ACCESS, granted), ERROR_SUCCESS);
    EXPECT_EQ(accessCheck(grandchild, standardUser(), KEY_READ, granted), ERROR_SUCCESS);
    EXPECT_EQ(accessCheck(grandchild, admin(), KEY_ALL_ACCESS, granted), ERROR_SUCCESS);
}

TEST(Parts, SelectAsRegGetKeySecurity)
{
    Bytes full = sd("O:BAG:SYD:PAI(A;;KA;;;SY)S:AI(AU;SA;KA;;;WD)(ML;;NW;;;LW)");
    struct Case {
        SECURITY_INFORMATION info;
        const char *sddl;
    } cases[] = {
        {OWNER_SECURITY_INFORMATION, "O:BA"},
        {GROUP_SECURITY_INFORMATION, "G:SY"},
        {DACL_SECURITY_INFORMATION, "D:PAI(A;;KA;;;SY)"},
        {OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, "O:BAD:PAI(A;;KA;;;SY)"},
        {SACL_SECURITY_INFORMATION, "S:AI(AU;SA;KA;;;WD)(ML;;NW;;;LW)"},
        {LABEL_SECURITY_INFORMATION, "S:AI(ML;;NW;;;LW)"},
        {0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sddl);
        Bytes part = selectParts(full, c.info);
        ASSERT_TRUE(isValidDescriptor(part));
        EXPECT_EQ(descriptorToSddl(part), c.sddl);
        EXPECT_EQ(part, sd(c.sddl)); // control bits of unselected parts are dropped too
    }
    // A null DACL stays null (not absent).
    EXPECT_EQ(descriptorToSddl(selectParts(sd("O:BAD:NO_ACCESS_CONTROL"), DACL_SECURITY_INFORMATION)),
              "D:NO_ACCESS_CONTROL");
}

TEST(Parts, MergeAsRegSetKeySecurity)
{
    const char *current = "O:BAG:SYD:PAI(A;;KA;;;SY)S:(AU;SA;KA;;;WD)(ML;;NW;;;LW)";
    struct Case {
        const char *what;
        const char *update;
        SECURITY_INFORMATION info;
        LONG rc;
        const char *result;
    } cases[] = {
        {"DACL replaced", "O:SYD:(A;;KR;;;WD)", DACL_SECURITY_INFORMATION, ERROR_SUCCESS,
         "O:BAG:SYD:(A;;KR;;;WD)S:(AU;SA;KA;;;WD)(ML;;NW;;;LW)"},
        {"protected on request", "D:(A;;KR;;;WD)", DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
         ERROR_SUCCESS, "O:BAG:SYD:P(A;;KR;;;WD)S:(AU;SA;KA;;;WD)(ML;;NW;;;LW)"},
        {"unprotected on request", "D:PAI(A;;KR;;;WD)",
         DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, ERROR_SUCCESS,
         "O:BAG:SYD:AI(A;;KR;;;WD)S:(AU;SA;KA;;;WD)(ML;;NW;;;LW)"},
        {"both protection requests", "D:(A;;KR;;;WD)",
         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
         ERROR_INVALID_PARAMETER, nullptr},
        {"null DACL grants everyone all", "D:NO_ACCESS_CONTROL", DACL_SECURITY_INFORMATION, ERROR_SUCCESS,
         "O:BAG:SYD:NO_ACCESS_CONTROLS:(AU;SA;KA;;;WD)(ML;;NW;;;LW)"},
        {"owner and group",
         "O:S-1-5-21-1-2-3-1001G:S-1-5-21-1-2-3-513D:", OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
         ERROR_SUCCESS, "O:S-1-5-21-1-2-3-1001G:S-1-5-21-1-2-3-513D:PAI(A;;KA;;;SY)S:(AU;SA;KA;;;WD)(ML;;NW;;;LW)"},
        {"owner asked but missing", "D:(A;;KR;;;WD)", OWNER_SECURITY_INFORMATION, ERROR_INVALID_SECURITY_DESCR,
         nullptr},
        {"label only, audit kept", "S:(AU;FA;KR;;;WD)(ML;;NWNR;;;HI)", LABEL_SECURITY_INFORMATION, ERROR_SUCCESS,
         "O:BAG:SYD:PAI(A;;KA;;;SY)S:(ML;;NWNR;;;HI)(AU;SA;KA;;;WD)"},
        {"SACL replaced", "S:(AU;FA;KR;;;WD)", SACL_SECURITY_INFORMATION, ERROR_SUCCESS,
         "O:BAG:SYD:PAI(A;;KA;;;SY)S:(AU;FA;KR;;;WD)"},
        {"nothing selected", "D:", 0, ERROR_SUCCESS, current},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes out;
        EXPECT_EQ(mergeParts(sd(current), sd(c.update), c.info, out), c.rc);
        if (c.rc == ERROR_SUCCESS) {
            EXPECT_EQ(descriptorToSddl(out), c.result);
        }
    }
}

TEST(Parts, UnknownAcesKeptByteExact)
{
    // O:BA, DACL of an unknown ACE type 0x42 (12 bytes) then (A;;KA;;;SY).
    const Bytes withUnknown = fromHex("010004803c000000000000000000000014000000"
                                      "020028000200000042000c00deadbeef01020304"
                                      "000014003f000f00010100000000000512000000"
                                      "01020000000000052000000020020000");
    const Bytes dacl(withUnknown.begin() + 0x14, withUnknown.begin() + 0x3c);
    ASSERT_TRUE(isValidDescriptor(withUnknown));
    EXPECT_EQ(descriptorToSddl(withUnknown), ""); // SDDL cannot say it, as on Windows
    EXPECT_EQ(descriptorToSddl(withUnknown, OWNER_SECURITY_INFORMATION), "O:BA");

    Bytes out;
    ASSERT_EQ(mergeParts(withUnknown, sd("O:SY"), OWNER_SECURITY_INFORMATION, out), ERROR_SUCCESS);
    EXPECT_NE(std::search(out.begin(), out.end(), dacl.begin(), dacl.end()), out.end());
    EXPECT_EQ(descriptorToSddl(out, OWNER_SECURITY_INFORMATION), "O:SY");
    ASSERT_EQ(mergeParts(sd("O:SYD:"), withUnknown, DACL_SECURITY_INFORMATION, out), ERROR_SUCCESS);
    EXPECT_NE(std::search(out.begin(), out.end(), dacl.begin(), dacl.end()), out.end());
    EXPECT_EQ(selectParts(withUnknown, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION), withUnknown);

    // The unknown ACE grants nothing; the known one after it still counts.
    ACCESS_MASK granted = 0;
    EXPECT_EQ(accessCheck(withUnknown, localSystem(), KEY_ALL_ACCESS, granted), ERROR_SUCCESS);
    EXPECT_EQ(accessCheck(withUnknown, standardUser(), KEY_QUERY_VALUE, granted), ERROR_ACCESS_DENIED);
}

TEST(Defaults, MatchRealHives)
{
    VT_SKIP_WITHOUT_TESTDATA();
    auto real = testdata() / "hives" / "real";
    auto cells = [&](const char *hive) { return securityCells(real / hive); };
    auto contains = [](const std::vector<Bytes> &v, const Bytes &b) {
        return std::find(v.begin(), v.end(), b) != v.end();
    };

    EXPECT_TRUE(contains(cells("regipy/SYSTEM_WIN_10_1709"), defaultMachineHiveDescriptor()));
    Bytes user = defaultUserHiveDescriptor("S-1-5-21-2177727556-426307209-2251493295-1001");
    EXPECT_TRUE(contains(cells("regipy/NTUSER_BAGMRU.DAT"), user));
    std::set<std::string> securityHive;
    for (const Bytes &b : cells("regipy/SECURITY"))
        securityHive.insert(descriptorToSddl(b));
    EXPECT_TRUE(securityHive.count(descriptorToSddl(systemOnlyDescriptor())));
    EXPECT_TRUE(defaultUserHiveDescriptor("not a SID").empty());

    struct Case {
        Bytes sd;
        Token token;
        ACCESS_MASK desired;
        LONG rc;
    } cases[] = {
        {defaultMachineHiveDescriptor(), standardUser(), KEY_READ, ERROR_SUCCESS},
        {defaultMachineHiveDescriptor(), standardUser(), KEY_SET_VALUE, ERROR_ACCESS_DENIED},
        {defaultMachineHiveDescriptor(), admin(), KEY_ALL_ACCESS, ERROR_SUCCESS},
        {defaultUserHiveDescriptor(kUser), standardUser(), KEY_ALL_ACCESS, ERROR_SUCCESS},
        {defaultUserHiveDescriptor(kUser), otherUser(), KEY_QUERY_VALUE, ERROR_ACCESS_DENIED},
        {systemOnlyDescriptor(), admin(), KEY_QUERY_VALUE, ERROR_ACCESS_DENIED},
        {systemOnlyDescriptor(), admin(), READ_CONTROL | WRITE_DAC, ERROR_SUCCESS},
        {systemOnlyDescriptor(), localSystem(), KEY_ALL_ACCESS, ERROR_SUCCESS},
    };
    for (const Case &c : cases) {
        ACCESS_MASK granted = 0;
        EXPECT_EQ(accessCheck(c.sd, c.token, c.desired, granted), c.rc) << descriptorToSddl(c.sd);
    }
}
