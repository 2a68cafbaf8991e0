// Escaping, hex lists, UTF-16 conversion and data part recognition.
#include "regfile/RegFileReader.h"
#include "regfile/RegFileText.h"
#include "regfile/RegFileWriter.h"

#include <gtest/gtest.h>

namespace
{

std::string bytesOf(const TRegByteArray &b)
{
    return std::string(b.begin(), b.end());
}

TEST(RegFileText, EscapeAndUnescape)
{
    struct Case {
        std::string plain, escaped;
    } cases[] = {
        {"C:\\", "C:\\\\"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"a\\\"b", "a\\\\\\\"b"},
        {"line\r\nbreak", "line\r\nbreak"}, // CR and LF stay as they are
        {"", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(EscapeRegString(c.plain), c.escaped) << c.plain;
        EXPECT_EQ(UnescapeRegString(c.escaped), c.plain) << c.escaped;
    }
}

TEST(RegFileText, HexListWrapsAfterColumn76)
{
    auto list = [](size_t n, size_t start) {
        TRegByteArray b(n);
        for (size_t i = 0; i < n; ++i)
            b[i] = static_cast<uint8_t>(i);
        return FormatHexList(b, start);
    };
    EXPECT_EQ(list(0, 11), "");
    EXPECT_EQ(list(1, 11), "00");
    EXPECT_EQ(FormatHexList(TRegByteArray{0xab, 0x0f}, 0), "AB,0F");
    // "Data"=hex: is 11 wide: 22 bytes fit, the 23rd wraps.
    const std::string one = list(22, 11);
    EXPECT_EQ(one.find('\\'), std::string::npos);
    EXPECT_EQ(one.size(), 22u * 3 - 1);
    const std::string two = list(23, 11);
    EXPECT_EQ(two.substr(0, 22 * 3), one + ",");
    EXPECT_EQ(two.substr(22 * 3), "\\\r\n  16");
    // Further lines carry 25 bytes; a last byte on the wrap point ends the list.
    const std::string exact = list(22 + 25, 11);
    EXPECT_EQ(exact.substr(exact.size() - 3), ",2E");
    const std::string three = list(22 + 26, 11);
    EXPECT_NE(three.find("2E,\\\r\n  2F"), std::string::npos);
    const size_t second = three.find("\r\n  ") + 2;
    EXPECT_EQ(three.find("\\\r\n", second) - second, 2 + 25 * 3u); // two blanks, 25 bytes with commas
}

TEST(RegFileText, HexListToBytesAndText)
{
    struct Case {
        const char *data;
        THexTextEncoding encoding;
        std::string bytes, text;
    } cases[] = {
        {"hex:01,ab,00,FF", THexTextEncoding::Guess, std::string("\x01\xab\x00\xff", 4), ""},
        {"hex(2):61,62,63,00", THexTextEncoding::Guess, std::string("abc\0", 4), "abc"},
        {"hex(2):61,00,62,00,63,00,00,00", THexTextEncoding::Guess, std::string("a\0b\0c\0\0\0", 8), "abc"},
        {"hex(7):61,00,62,00,00", THexTextEncoding::Bytes8, std::string("a\0b\0\0", 5), "a\r\nb"},
        {"hex(7):61,00,00,00,62,00,00,00,00,00", THexTextEncoding::Utf16, std::string("a\0\0\0b\0\0\0\0\0", 10),
         "a\r\nb"},
        // A last character outside Latin-1 defeats the three-zeros guess; the
        // version says UTF-16 all the same.
        {"hex(2):ac,20,00,00", THexTextEncoding::Utf16, std::string("\xac\x20\0\0", 4), "\xE2\x82\xAC"},
        {"hex(2):00,01,00,00", THexTextEncoding::Utf16, std::string("\0\x01\0\0", 4), "\xC4\x80"},
        {"hex:0", THexTextEncoding::Guess, "", ""}, // an odd last digit is dropped
        {"hex:", THexTextEncoding::Guess, "", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(bytesOf(HexListToBytes(c.data)), c.bytes) << c.data;
        if (!c.text.empty()) {
            EXPECT_EQ(HexListToText(c.data, c.encoding), c.text) << c.data;
        }
    }
    EXPECT_EQ(bytesOf(HexListToStringData("hex(7):61,00,00,00,e4,00,00,00,00,00", true)),
              std::string("a\0\xC3\xA4\0\0", 6));
}

TEST(RegFileText, Utf16ConversionIsLossless)
{
    const std::string texts[] = {
        "plain",
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC",
        "\xF0\x9F\x98\x80 pair", // needs a surrogate pair
        std::string("nul\0inside", 10),
        "\xE9t\xE9 in Latin-1",        // not UTF-8: the bytes must come back
        "\xED\xA0\x80 lone surrogate", // WTF-8 form of an unpaired surrogate
    };
    for (const std::string &t : texts) {
        std::string wide;
        AppendUtf16le(t, wide);
        EXPECT_EQ(Utf16leBytesToUtf8(reinterpret_cast<const uint8_t *>(wide.data()), wide.size()), t) << t;
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(t)), t) << t;
    }
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82\xAC\xF0\x9F\x98\x80"), std::u16string(u"\u20AC\U0001F600"));
}

TEST(RegFileText, ParseDataTypeAndDisplayText)
{
    struct Case {
        const char *data;
        TRegDataType type;
        std::string display;
    } cases[] = {
        {"\"C:\\\\dir\\\\\"", rdString, "C:\\dir\\"},
        {"\"a \\\"q\\\"\"", rdString, "a \"q\""},
        {"hex(2):25,54,45,4d,50,25,00", rdExpandString, "%TEMP%"},
        {"hex(1):61,0d,0a,00", rdString, "a\r\n"},
        {"hex:01,ab,00", rdBinary, "01 AB 00"},
        {"dword:ffffffff", rdInteger, "0xFFFFFFFF (4294967295)"},
        {"DWORD:12345678", rdInteger, "0x12345678 (305419896)"},
        {"hex(5):00,00,01,00", rdBigEndianInteger, "0x00000100 (256)"},
        {"hex(6):4c,00", rdLink, "4C 00"},
        {"hex(7):61,00,62,00,00", rdMultiString, "a\r\nb\r\n"},
        {"hex(8):01", rdResourceList, "01"},
        {"hex(9):02", rdFullResourceDescriptor, "02"},
        {"hex(A):03", rdResourceRequirementsList, "03"},
        {"hex(b):01,00,00,00,00,00,00,00", rdInt64, "0x0000000000000001 (1)"},
        {"HEX(B):ff,ff,ff,ff,ff,ff,ff,ff", rdInt64, "0xFFFFFFFFFFFFFFFF (-1)"},
        {"hex(10):01", rdUnknown, "hex(10):01"},
        {"hex(0):", rdUnknown, "hex(0):"},
        {"hex(4):01,00,00,00", rdUnknown, "hex(4):01,00,00,00"},
        {"\"", rdUnknown, "\""},
        {"", rdUnknown, ""},
    };
    for (const Case &c : cases) {
        std::string display;
        EXPECT_EQ(TMyRegistryReader::ParseDataType(c.data, &display), c.type) << c.data;
        EXPECT_EQ(display, c.display) << c.data;
    }
}

// Value lines of held data (history records): names as they are, the list's
// column counted from 0, no line at all for types a file cannot carry.
TEST(RegFileText, ValueLinesFromHeldData)
{
    std::string firstLine; // 26 bytes, then the wrap
    for (int i = 0; i < 26; ++i)
        firstLine += "11,";
    struct Case {
        std::string name;
        uint32_t code;
        std::string data, line;
    } cases[] = {
        {"a\\b", REG_SZ, std::string("C:\\\0", 4), "\"a\\b\"=\"C:\\\\\""},
        {"", REG_DWORD, std::string("\xff\0\0\0", 4), "@=dword:000000FF"},
        {"s", REG_SZ, std::string("a\nb\0", 4), "\"s\"=hex(1):61,0A,62,00"},
        {"line\nbreak", REG_SZ, std::string("a\0", 2), ""},
        {"e", REG_EXPAND_SZ, std::string("%T%\0", 4), "\"e\"=hex(2):25,54,25,00"},
        {"m", REG_MULTI_SZ, std::string("a\0\0", 3), "\"m\"=hex(7):61,00,00"},
        {"b", REG_BINARY, std::string(27, '\x11'), "\"b\"=hex:" + firstLine + "\\\r\n  11"},
        {"n", REG_NONE, "\1", ""},
        {"u", 0x20, "\1", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FormatValueLineFromData(c.name, c.code, TRegByteArray(c.data.begin(), c.data.end())), c.line)
            << c.name;
    }
}

} // namespace
