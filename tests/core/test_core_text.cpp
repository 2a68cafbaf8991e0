// Root keys, value types, paths and the text forms of value data.
#include "core/kltRegistry.h"
#include "core/zoStrings.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

TEST(RootKeys, NamesAndLookups)
{
    struct Case {
        HKEY key;
        const char *name;
        const char *shortName;
    } cases[] = {
        {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
        {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
        {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
        {HKEY_USERS, "HKEY_USERS", "HKUS"},
        {HKEY_PERFORMANCE_DATA, "HKEY_PERFORMANCE_DATA", "HKPD"},
        {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"},
        {HKEY_DYN_DATA, "HKEY_DYN_DATA", "HKDD"},
    };
    ASSERT_EQ(RootKeyList().size(), 7u);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        EXPECT_EQ(RootKeyList()[i], c.key);
        EXPECT_EQ(RootKeyToName(c.key), c.name);
        EXPECT_EQ(RootKeyToShortName(c.key), c.shortName);
        EXPECT_EQ(NameToRootKey(c.name), c.key);
        EXPECT_EQ(NameToRootKey(c.shortName), c.key);
    }
    const HKEY other = VT_PREDEFINED_KEY(0x80000007);
    EXPECT_EQ(RootKeyToName(other), "2147483655");
    EXPECT_EQ(RootKeyToShortName(other), "2147483655");
    for (const char *bad : {"HKU", "hklm", "HKEY_LOCAL_MACHINE ", "", " HKLM", "HKEY_local_MACHINE"})
        EXPECT_EQ(NameToRootKey(bad), nullptr) << bad;
}

// What a person types: abbreviations and full names in any letter case, and
// HKU; nothing else, not even with a blank around it.
TEST(RootKeys, TypedNamesInAnyCase)
{
    const struct {
        const char *text;
        HKEY key;
    } cases[] = {
        {"HKCU", HKEY_CURRENT_USER},
        {"hkcu", HKEY_CURRENT_USER},
        {"HkLm", HKEY_LOCAL_MACHINE},
        {"hkcr", HKEY_CLASSES_ROOT},
        {"hkcc", HKEY_CURRENT_CONFIG},
        {"HKUS", HKEY_USERS},
        {"hku", HKEY_USERS},
        {"HKU", HKEY_USERS},
        {"hkpd", HKEY_PERFORMANCE_DATA},
        {"hkey_users", HKEY_USERS},
        {"HKEY_local_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
        {"HKLM ", nullptr},
        {" hkcu", nullptr},
        {"HK", nullptr},
        {"HKCUX", nullptr},
        {"", nullptr},
        {"HKEY_USER", nullptr},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseRootName(c.text), c.key) << '"' << c.text << '"';
}

TEST(ValueTypes, TableOfMembers)
{
    struct Case {
        TRegDataType type;
        uint32_t code;
        const char *name;
        int image;
        TRegDataType byName; // NameToDataType(name) finds the first member with that name
    } cases[] = {
        {rdUnknown, 0, "REG_NONE", -1, rdUnknown},
        {rdNone, 0, "REG_NONE", 4, rdUnknown},
        {rdString, 1, "REG_SZ", 3, rdString},
        {rdExpandString, 2, "REG_EXPAND_SZ", 3, rdExpandString},
        {rdBinary, 3, "REG_BINARY", 4, rdBinary},
        {rdInteger, 4, "REG_DWORD", 4, rdInteger},
        {rdLittleEndianInteger, 4, "REG_DWORD_LITTLE_ENDIAN", 4, rdLittleEndianInteger},
        {rdBigEndianInteger, 5, "REG_DWORD_BIG_ENDIAN", 4, rdBigEndianInteger},
        {rdLink, 6, "REG_LINK", 4, rdLink},
        {rdMultiString, 7, "REG_MULTI_SZ", 3, rdMultiString},
        {rdResourceList, 8, "REG_RESOURCE_LIST", 4, rdResourceList},
        {rdFullResourceDescriptor, 9, "REG_FULL_RESOURCE_DESCRIPTOR", 4, rdFullResourceDescriptor},
        {rdResourceRequirementsList, 10, "REG_RESOURCE_REQUIREMENTS_LIST", 4, rdResourceRequirementsList},
        {rdInt64, 11, "REG_QWORD", 4, rdInt64},
        {rdLittleEndianInt64, 11, "REG_QWORD_LITTLE_ENDIAN", 4, rdLittleEndianInt64},
        {rdCardinal, 4, "REG_DWORD", -1, rdInteger},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.type));
        EXPECT_EQ(DataTypeToCode(c.type), c.code);
        EXPECT_EQ(DataTypeToName(c.type), c.name);
        EXPECT_EQ(DataTypeImageIndex(c.type), c.image);
        EXPECT_EQ(NameToDataType(c.name), c.byName);
    }
    const auto outside = TRegDataType(16);
    EXPECT_EQ(DataTypeToCode(outside), 0u);
    EXPECT_EQ(DataTypeToName(outside), "REG_NONE");
    EXPECT_EQ(DataTypeImageIndex(outside), -1);
    EXPECT_EQ(NameToDataType("reg_sz"), rdUnknown);
    EXPECT_EQ(NameToDataType("REG_SZ "), rdUnknown);
}

TEST(ValueTypes, CodeToPreferredMember)
{
    const TRegDataType expected[] = {rdNone,
                                     rdString,
                                     rdExpandString,
                                     rdBinary,
                                     rdInteger,
                                     rdBigEndianInteger,
                                     rdLink,
                                     rdMultiString,
                                     rdResourceList,
                                     rdFullResourceDescriptor,
                                     rdResourceRequirementsList,
                                     rdInt64};
    for (uint32_t code = 0; code < 12; ++code)
        EXPECT_EQ(CodeToDataType(code), expected[code]) << code;
    for (uint32_t code : {12u, 13u, 0x100000u, 0xFFFFFFFFu})
        EXPECT_EQ(CodeToDataType(code), rdUnknown) << code;
}

TEST(Paths, RelativeSplitAndCollapse)
{
    EXPECT_TRUE(IsRelativePath(""));
    EXPECT_TRUE(IsRelativePath("a\\b"));
    EXPECT_FALSE(IsRelativePath("\\a"));

    struct Split {
        const char *text;
        bool ok;
        HKEY root;
        const char *parent;
        const char *last;
    } splits[] = {
        {"HKCU\\Software\\Run", true, HKEY_CURRENT_USER, "\\Software\\", "Run"},
        {"HKCU\\a\\b\\c", true, HKEY_CURRENT_USER, "\\a\\b\\", "c"},
        {"HKEY_LOCAL_MACHINE\\x", true, HKEY_LOCAL_MACHINE, "\\", "x"},
        {"HKLM\\a\\", true, HKEY_LOCAL_MACHINE, "\\a\\", ""},
        {"HKCU", false, nullptr, "", ""},
        {"HKU\\a", false, nullptr, "", ""},
        {"hkcu\\a", false, nullptr, "", ""},
    };
    for (const Split &s : splits) {
        SCOPED_TRACE(s.text);
        HKEY root = nullptr;
        std::string parent, last;
        ASSERT_EQ(SplitValuePath(s.text, root, parent, last), s.ok);
        if (s.ok) {
            EXPECT_EQ(root, s.root);
            EXPECT_EQ(parent, s.parent);
            EXPECT_EQ(last, s.last);
        }
    }

    struct Collapse {
        const char *in;
        const char *out;
    } collapses[] = {
        {"a\\\\\\\\b", "a\\b"}, {"\\\\a\\\\\\b\\", "\\a\\b\\"}, {"a\\b", "a\\b"}, {"", ""}, {"\\\\\\", "\\"},
    };
    for (const Collapse &c : collapses) {
        std::string t = c.in;
        CollapseDoubleBackslashes(t);
        EXPECT_EQ(t, c.out) << c.in;
    }
}

TEST(TextForms, NumberDisplayForms)
{
    EXPECT_EQ(FormatDWordText(255), "0x000000FF (255)");
    EXPECT_EQ(FormatDWordText(0xFFFFFFFFu), "0xFFFFFFFF (4294967295)");
    EXPECT_EQ(FormatDWordText(0x80000000u), "0x80000000 (2147483648)");
    EXPECT_EQ(FormatDWordText(0), "0x00000000 (0)");
    EXPECT_EQ(FormatQWordText(-1), "0xFFFFFFFFFFFFFFFF (-1)");
    EXPECT_EQ(FormatQWordText(INT64_MIN), "0x8000000000000000 (-9223372036854775808)");
    EXPECT_EQ(FormatQWordText(0xABCDEF), "0x0000000000ABCDEF (11259375)");
    EXPECT_EQ(ByteToHexText(0xA5), "A5");
    EXPECT_EQ(Int32ToHexText(0xBEEF), "0000BEEF");
    EXPECT_EQ(Int64ToHexText(1), "0000000000000001");
}

TEST(TextForms, ParseNumberText)
{
    struct Case {
        const char *text;
        int64_t value;
    } cases[] = {
        {"0x000000FF (255)", 255},
        {"0xff (x)", 255},
        {"255", 0},
        {"FF (255)", 0},
        {"0XFF (255)", 0},
        {"0x (1)", 0},
        {"0xFFFFFFFFFFFFFFFF (-1)", -1},
        {"0x1G ", 16},
        {"", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ParseNumberText(c.text), c.value) << c.text;
    EXPECT_EQ(ParseNumberText32("0x1234567890ABCDEF (x)"), 0x90ABCDEFu);
    // Round trips of both display forms.
    for (uint32_t v : {0u, 1u, 42u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu})
        EXPECT_EQ(ParseNumberText32(FormatDWordText(v)), v);
    for (int64_t v : {int64_t(0), int64_t(-1), INT64_MIN, INT64_MAX, int64_t(0x123456789)})
        EXPECT_EQ(ParseNumberText(FormatQWordText(v)), v);
}

TEST(TextForms, HexBytes)
{
    const uint8_t bytes[] = {0x01, 0x00, 0xAB, 0xff};
    EXPECT_EQ(FormatHexBytes(bytes, 4), "01 00 AB FF");
    EXPECT_EQ(FormatHexBytes(bytes, 4, ','), "01,00,AB,FF");
    EXPECT_EQ(FormatHexBytes(bytes, 1), "01");
    EXPECT_EQ(FormatHexBytes(bytes, 0), "");
    TRegByteArray big(100000, 0x5A);
    const std::string text = FormatHexBytes(big);
    EXPECT_EQ(text.size(), 3 * big.size() - 1);
    EXPECT_EQ(text.substr(text.size() - 5), "5A 5A");
}

TEST(TextForms, DigitConversions)
{
    struct Digit {
        char c;
        int v;
    } digits[] = {{'0', 0}, {'1', 1}, {'9', 9}, {'a', 10}, {'A', 10}, {'f', 15}, {'F', 15}, {'g', 0}, {' ', 0}};
    for (const Digit &d : digits)
        EXPECT_EQ(HexDigitValue(d.c), d.v) << d.c;

    EXPECT_EQ(HexPairToByte("fF"), 0xFF);
    EXPECT_EQ(HexPairToByte("0a"), 0x0A);
    EXPECT_EQ(HexPairToByte("A"), 0);
    EXPECT_EQ(HexPairToByte("ABC"), 0);

    EXPECT_EQ(HexTextToInt32("1G"), 16u);
    EXPECT_EQ(HexTextToInt32("deadBEEF"), 0xDEADBEEFu);
    EXPECT_EQ(HexTextToInt32("100000001"), 2u); // the ninth digit folds into the low bits
    EXPECT_EQ(HexTextToInt32(""), 0u);
    EXPECT_EQ(HexTextToInt64("FFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(HexTextToInt64("1FFFFFFFFFFFFFFFF"), -1); // only the last 16 digits count

    EXPECT_EQ(Int32ToBinaryText(0), "0");
    EXPECT_EQ(Int32ToBinaryText(5), "101");
    EXPECT_EQ(Int32ToBinaryText(0x80000000u), "1" + std::string(31, '0'));
    EXPECT_EQ(Int64ToBinaryText(-1), std::string(64, '1'));
    EXPECT_EQ(Int64ToBinaryText(0), "0");
    EXPECT_EQ(BinaryTextToInt32("102"), 4u);
    EXPECT_EQ(BinaryTextToInt32(""), 0u);
    EXPECT_EQ(BinaryTextToInt32("11111111111111111111111111111111"), 0xFFFFFFFFu);
    EXPECT_EQ(BinaryTextToInt64(std::string(64, '1')), -1);
    for (uint32_t v : {0u, 1u, 6u, 0xDEADBEEFu})
        EXPECT_EQ(BinaryTextToInt32(Int32ToBinaryText(v)), v);
}

TEST(TextForms, StringConversions)
{
    EXPECT_EQ(HexPairsToText("41 42 43", true), "ABC");
    EXPECT_EQ(HexPairsToText("414243", false), "ABC");
    EXPECT_EQ(HexPairsToText("41 4", true), "A"); // a lone last digit is dropped
    EXPECT_EQ(HexPairsToText("00", false), std::string(1, '\0'));
    EXPECT_EQ(HexPairsToText("", false), "");

    struct SplitCase {
        const char *text;
        std::vector<std::string> pieces;
    } splits[] = {
        {"a,,b", {"a", "", "b"}}, {"", {""}}, {",", {"", ""}}, {"abc", {"abc"}}, {"a,b,", {"a", "b", ""}},
    };
    for (const SplitCase &s : splits) {
        std::vector<std::string> list{"kept"};
        SplitByChar(s.text, ',', &list);
        std::vector<std::string> expected{"kept"};
        expected.insert(expected.end(), s.pieces.begin(), s.pieces.end());
        EXPECT_EQ(list, expected) << s.text;
    }
    SplitByChar("a,b", ',', nullptr); // no list: nothing to do, no crash

    EXPECT_EQ(ExpandLineBreakCodes("a%0D%0Ab%0D%0A"), "a\r\nb\r\n");
    EXPECT_EQ(ExpandLineBreakCodes("%0D %0A%0d%0a"), "%0D %0A%0d%0a");
    EXPECT_EQ(EscapeRegExpText("C:\\a(1).txt"), "C:\\\\a\\(1\\)\\.txt");
}

TEST(TextForms, MultiStringBytesAndText)
{
    struct Case {
        std::string bytes;
        std::string text;
    } cases[] = {
        {std::string("a\0b\0\0", 5), "a\r\nb\r\n"},
        {std::string("a\0b\0", 4), "a\r\nb"},
        {std::string("a\0b", 3), "a\r\nb"},
        {std::string("a\0\0b\0\0", 6), "a\r\n\r\nb\r\n"},
        {std::string("\0", 1), ""},
        {std::string(), ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MultiStringBytesToText(reinterpret_cast<const uint8_t *>(c.bytes.data()), c.bytes.size()), c.text);

    auto bytesOf = [](const std::string &s) { return TRegByteArray(s.begin(), s.end()); };
    EXPECT_EQ(MultiStringTextToBytes(""), bytesOf(std::string("\0", 1)));
    EXPECT_EQ(MultiStringTextToBytes("a\r\nb\r\n"), bytesOf(std::string("a\0b\0\0", 5)));
    EXPECT_EQ(MultiStringTextToBytes("a\r\nb"), bytesOf(std::string("a\0b\0", 4)));
    EXPECT_EQ(MultiStringTextToBytes("a\nb\r"), bytesOf(std::string("a\nb\r\0", 5))); // lone CR or LF stay
}

TEST(TextForms, ValueColumnAndSearchableText)
{
    struct Case {
        TRegDataType type;
        std::string data;
        std::string display;
        bool ok;
        std::string searchable;
    } cases[] = {
        {rdInteger, std::string("\0\0\0\x80", 4), "0x80000000 (2147483648)", true, "0x80000000 (2147483648)"},
        {rdBigEndianInteger, std::string("\0\0\x01\0", 4), "0x00000100 (256)", true, "0x00000100 (256)"},
        {rdInt64, std::string("\0\0\0\0\0\0\0\x80", 8), "0x8000000000000000 (-9223372036854775808)", true,
         "0x8000000000000000 (-9223372036854775808)"},
        {rdInteger, std::string("\x01\0\0\0\0", 5), "(Error reading data)", false, ""},
        {rdInt64, std::string(9, '\0'), "(Error reading data)", false, ""},
        {rdBinary, std::string("\x01\0", 2), "01 00", true, "01 00"},
        {rdBinary, std::string("\0", 1), "00", true, "00"},
        {rdBinary, std::string(), "(Binary data of zero length)", true, ""},
        {rdNone, std::string(), "(Binary data of zero length)", true, ""},
        {rdResourceList, std::string("\xfe", 1), "FE", true, "FE"},
        {rdString, std::string("abc\0def\0", 8), "abc", true, "abc"},
        {rdExpandString, std::string("%PATH%\0", 7), "%PATH%", true, "%PATH%"},
        {rdMultiString, std::string("a\0\0", 3), "a\r\n", true, "a  "},
        {rdMultiString, std::string("a\0b\0\0", 5), "a\r\nb\r\n", true, "a b  "},
        {rdUnknown, std::string("xy", 2), "(Data type not supported)", true, ""},
        {rdCardinal, std::string(4, '\0'), "(Data type not supported)", true, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(FormatHexBytes(reinterpret_cast<const uint8_t *>(c.data.data()), c.data.size()));
        bool ok = !c.ok;
        const auto *p = reinterpret_cast<const uint8_t *>(c.data.data());
        EXPECT_EQ(ValueDisplayText(c.type, p, c.data.size(), ok), c.display);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(SearchableDataText(c.type, p, c.data.size()), c.searchable);
    }
    EXPECT_EQ(DisplayTypeName(rdUnknown), "N/A");
    EXPECT_EQ(DisplayTypeName(rdCardinal), "N/A");
    EXPECT_EQ(DisplayTypeName(rdBigEndianInteger), "REG_DWORD_BIG_ENDIAN");
    TDataTexts german;
    german.binaryZero = "(Binärdaten der Länge null)";
    bool ok = false;
    EXPECT_EQ(ValueDisplayText(rdBinary, nullptr, 0, ok, german), german.binaryZero);
}

TEST(MemoryStream, WritesAtPositionAndReads)
{
    TMemoryStream s;
    s.write("abcd", 4);
    s.position = 2;
    s.write("XYZ", 3);
    EXPECT_EQ(std::string(s.bytes.begin(), s.bytes.end()), "abXYZ");
    s.position = 3;
    char buf[8] = {};
    EXPECT_EQ(s.read(buf, 8), 2u);
    EXPECT_STREQ(buf, "YZ");
    EXPECT_EQ(s.read(buf, 8), 0u);
}

} // namespace
