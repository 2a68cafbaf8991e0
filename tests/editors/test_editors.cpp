// The value editors' rules: the type changes offered, how the number fields
// read, and the resource requirements decoder over made-up and real data.

#include "core/kltRegistry.h"
#include "editors/ResourceRequirements.h"
#include "editors/ValueEditing.h"
#include "tests/support/TempSystem.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace vt::editors;
namespace fs = std::filesystem;

TEST(TypeChanges, StringsAmongStringsNumbersAmongNumbersOthersNone)
{
    using V = std::vector<TRegDataType>;
    EXPECT_EQ(AllowedTypeChanges(rdString), V({rdExpandString, rdMultiString}));
    EXPECT_EQ(AllowedTypeChanges(rdExpandString), V({rdString, rdMultiString}));
    EXPECT_EQ(AllowedTypeChanges(rdMultiString), V({rdString, rdExpandString}));
    EXPECT_EQ(AllowedTypeChanges(rdInteger),
              V({rdLittleEndianInteger, rdBigEndianInteger, rdInt64, rdLittleEndianInt64, rdCardinal}));
    EXPECT_EQ(AllowedTypeChanges(rdBigEndianInteger),
              V({rdInteger, rdLittleEndianInteger, rdInt64, rdLittleEndianInt64, rdCardinal}));
    EXPECT_EQ(AllowedTypeChanges(rdCardinal),
              V({rdInteger, rdLittleEndianInteger, rdBigEndianInteger, rdInt64, rdLittleEndianInt64}));
    for (TRegDataType t : {rdUnknown, rdNone, rdBinary, rdLink, rdResourceList, rdFullResourceDescriptor,
                           rdResourceRequirementsList})
        EXPECT_TRUE(AllowedTypeChanges(t).empty()) << int(t);
}

TEST(NumberFields, DecimalAndBinaryReadOnlyWhatFitsTheWidth)
{
    struct Case {
        std::string text;
        bool binary, is64, reads;
        int64_t number;
    };
    const Case cases[] = {
        {"4294967295", false, false, true, 0xFFFFFFFF},
        {"4294967296", false, false, true, 0}, // the low 32 bits
        {"9223372036854775807", false, true, true, INT64_MAX},
        {"9223372036854775808", false, true, false, 0}, // beyond 64 bits
        {"18446744073709551615", false, false, false, 0},
        {"", false, true, false, 0},
        {"12a", false, true, false, 0},
        {"-1", false, true, true, -1},
        {"101", true, false, true, 5},
        {"", true, false, false, 0},
        {"102", true, true, false, 0},
        {std::string(32, '1'), true, false, true, 0xFFFFFFFF},
        {"1" + std::string(32, '0'), true, false, false, 0},
        {"000" + std::string(32, '1'), true, false, true, 0xFFFFFFFF}, // leading zeros are no digits
        {std::string(64, '1'), true, true, true, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text + (c.is64 ? " 64" : " 32"));
        int64_t n = 12345;
        const bool reads = c.binary ? ReadBinaryField(c.text, c.is64, n) : ReadDecimalField(c.text, c.is64, n);
        EXPECT_EQ(reads, c.reads);
        if (c.reads) {
            EXPECT_EQ(n, c.number);
        }
    }
}

TEST(NumberFields, TextsOfEachWidth)
{
    EXPECT_EQ(DecimalFieldText(-1, true), "-1");
    EXPECT_EQ(HexFieldText(-1, true), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(BinaryFieldText(-1, true), std::string(64, '1'));
    EXPECT_EQ(DecimalFieldText(0xFFFFFFFF, false), "4294967295");
    EXPECT_EQ(HexFieldText(0xFFFFFFFF, false), "FFFFFFFF");
    EXPECT_EQ(BinaryFieldText(0, false), "0");
    EXPECT_EQ(ReadHexField("1G", false), 16); // letters after F count as 0
    EXPECT_EQ(ReadHexField("", true), 0);
}

// ---------------------------------------------------------------------------
// Resource requirements

namespace
{

std::vector<uint8_t> requirements(uint32_t listSize, uint32_t count, size_t descriptors)
{
    std::vector<uint8_t> d(40 + 32 * descriptors, 0);
    for (int i = 0; i < 4; ++i) {
        d[size_t(i)] = uint8_t(listSize >> (8 * i));
        d[36 + size_t(i)] = uint8_t(count >> (8 * i));
    }
    return d;
}

void put32(std::vector<uint8_t> &d, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        d[at + size_t(i)] = uint8_t(v >> (8 * i));
}

} // namespace

TEST(ResourceRequirements, DescriptorsDecodeByType)
{
    std::vector<uint8_t> d = requirements(40 + 32 * 4, 4, 4);
    // Memory with length 4096: only the low byte shows.
    d[41] = 3;
    put32(d, 48, 4096);
    put32(d, 52, 0x1000);
    put32(d, 56, 0xFEB00000);
    put32(d, 64, 0xFEBFFFFF);
    // Port 0x3F8, alternative, preferred and device-exclusive.
    d[72] = 8 | 1;
    d[73] = 1 | 16;
    put32(d, 88, 0x3F8);
    put32(d, 96, 0x3FF);
    d[80] = 8;
    d[84] = 1;
    // Interrupt 5 to 5, the high half of each vector ignored.
    d[105] = 2;
    put32(d, 112, 0x00010005);
    put32(d, 116, 0x00020005);
    // Type 129 reads Port by its low bits; type 5 is unknown.
    d[137] = 5;
    std::vector<TResourceRequirement> rows;
    ASSERT_TRUE(DecodeResourceRequirements(d.data(), d.size(), rows));
    ASSERT_EQ(rows.size(), 4u);
    auto cells = [](const TResourceRequirement &r) {
        return std::vector<std::string>{r.type, r.minimum, r.maximum, r.length, r.align, r.options};
    };
    using S = std::vector<std::string>;
    EXPECT_EQ(cells(rows[0]), S({"Memory", "FEB00000", "FEBFFFFF", "00", "00", ""}));
    EXPECT_EQ(cells(rows[1]), S({"Port", "000003F8", "000003FF", "08", "01", "Alternative Preferred Device-exclusive "}));
    EXPECT_EQ(cells(rows[2]), S({"Interrupt", "0005", "0005", "", "", ""}));
    EXPECT_EQ(cells(rows[3]), S({"Type 5", "00000000", "00000000", "00", "00", ""}));
    EXPECT_EQ(ResourceTypeName(129), "Port");
    EXPECT_EQ(ResourceTypeName(4), "DMA");
}

TEST(ResourceRequirements, OnlyOneListFillingTheDataDecodes)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> data;
        size_t rows;
        bool decodes;
    };
    const Case cases[] = {
        {"72 bytes, size 72, count 1", requirements(72, 1, 1), 1, true},
        {"the same with count 2", requirements(72, 2, 1), 0, false},
        {"ListSize not the length", requirements(71, 1, 1), 0, false},
        {"a header alone", requirements(40, 0, 0), 0, true},
        {"shorter than a header", std::vector<uint8_t>(39, 0), 0, false},
        {"no data", {}, 0, false},
        // A trailing partial descriptor is rounded away in the count.
        {"count 1 with 20 bytes more", [] {
             auto d = requirements(92, 1, 1);
             d.resize(92);
             return d;
         }(), 1, true},
    };
    for (const Case &c : cases) {
        std::vector<TResourceRequirement> rows(3);
        EXPECT_EQ(DecodeResourceRequirements(c.data.data(), c.data.size(), rows), c.decodes) << c.what;
        EXPECT_EQ(rows.size(), c.rows) << c.what;
    }
}

namespace
{

struct TRealValue {
    std::string path;
    std::vector<uint8_t> data;
};

void collect(TMyRegistry &reg, const std::string &path, std::vector<TRealValue> &out)
{
    if (!reg.OpenKeyReadOnly(path))
        return;
    std::vector<std::string> names, keys;
    reg.GetValueNames(names);
    for (const std::string &name : names) {
        uint32_t code = 0;
        TRegByteArray data;
        if (reg.readValue(name, code, data) && code == REG_RESOURCE_REQUIREMENTS_LIST)
            out.push_back({path + "\\" + name, data});
    }
    reg.GetKeyNames(keys);
    for (const std::string &key : keys)
        collect(reg, path + "\\" + key, out);
}

uint32_t le32(const std::vector<uint8_t> &d, size_t at)
{
    return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 | uint32_t(d[at + 3]) << 24;
}

} // namespace

// Every REG_RESOURCE_REQUIREMENTS_LIST below ControlSet001\Enum of the real
// SYSTEM hives: how many there are, how many hold the one list the window
// shows, and each decoded row against the structure read field by field.
TEST(ResourceRequirements, RealSystemHives)
{
    VT_SKIP_WITHOUT_TESTDATA();
    struct Case {
        const char *file;
        size_t values;    // requirement lists under Enum
        size_t decoded;   // holding exactly one list that fills the data
        size_t rows;      // descriptors shown over all decoded values
        size_t alternatives; // the rest: several alternative lists, shown empty with a note
    };
    const Case cases[] = {
        {"hives/real/regipy/SYSTEM", 61, 58, 569, 3},
        {"hives/real/regipy/SYSTEM_WIN_10_1709", 59, 55, 830, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        vt::platform::SystemOptions options;
        options.identity = vt::platform::Identity::LocalSystem;
        vt::test::TempSystem sys(options);
        ASSERT_EQ(sys.openResult(), ERROR_SUCCESS);
        ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
        const std::string dir = vt::test::makeTempDir("vt-req");
        const fs::path file = fs::path(dir) / "SYSTEM";
        fs::copy_file(vt::test::testdataDir() / c.file, file);
        fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
        ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtReq", file.c_str()), ERROR_SUCCESS);
        std::vector<TRealValue> values;
        {
            TMyRegistry reg;
            reg.SetRootKey(HKEY_LOCAL_MACHINE);
            reg.SetAccess(KEY_READ);
            collect(reg, "\\VtReq\\ControlSet001\\Enum", values);
        }
        EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtReq"), ERROR_SUCCESS);
        vt::test::removeTree(dir);

        size_t decoded = 0, rows = 0;
        std::map<std::string, size_t> malformed;
        for (const TRealValue &v : values) {
            std::vector<TResourceRequirement> shown;
            const bool ok = DecodeResourceRequirements(v.data.data(), v.data.size(), shown);
            // The structure by hand: ListSize, AlternativeLists, the first
            // list's Count; descriptors of 32 bytes after byte 40.
            const bool whole = v.data.size() >= 40 && le32(v.data, 0) == v.data.size() &&
                               le32(v.data, 36) == (v.data.size() - 40) / 32;
            EXPECT_EQ(ok, whole) << v.path;
            if (!ok) {
                ++malformed[v.data.size() < 40 ? "shorter than a header"
                            : le32(v.data, 28) > 1 ? "several alternative lists"
                                                   : "count or size not matching"];
                continue;
            }
            ++decoded;
            rows += shown.size();
            for (size_t i = 0; i < shown.size(); ++i) {
                const size_t at = 40 + 32 * i;
                const uint8_t type = v.data[at + 1];
                EXPECT_EQ(shown[i].type, ResourceTypeName(type)) << v.path;
                if ((type & 15) == 1 || (type & 15) == 3) {
                    char expect[9];
                    std::snprintf(expect, sizeof expect, "%08X", le32(v.data, at + 16));
                    EXPECT_EQ(shown[i].minimum, expect) << v.path;
                }
            }
        }
        EXPECT_EQ(malformed, (std::map<std::string, size_t>{{"several alternative lists", c.alternatives}}));
        EXPECT_EQ(values.size(), c.values);
        EXPECT_EQ(decoded, c.decoded);
        EXPECT_EQ(rows, c.rows);
    }
}
