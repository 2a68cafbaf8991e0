// Export and import on a temporary system: round trips, the exact file
// layout, the reader's line rules and real files from elsewhere.
#include "RegfileFixture.h"

#include "regfile/RegFileReader.h"
#include "regfile/RegFileText.h"
#include "regfile/RegFileWriter.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace regfiletest;

namespace
{

const std::string kBase = "\\Software\\VtRegfile";

struct Sample {
    std::string name;
    uint32_t code;
    std::string data;
};

// The bytes of a string value: the text and its terminator.
std::string z(const std::string &text)
{
    return text + std::string(1, '\0');
}

std::string pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 7);
    return s;
}

const std::vector<Sample> &roundTripSamples()
{
    static const std::vector<Sample> samples = {
        {"", REG_SZ, std::string("default\0", 8)},
        {"path", REG_SZ, std::string("C:\\\0", 4)},
        {"quote", REG_SZ, z("say \"hi\" \\o/")},
        {"empty", REG_SZ, std::string("\0", 1)},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
         REG_SZ,
         z("\xC3\x9Cn\xC3\xAF"
           "c\xC3\xB6"
           "d\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80")},
        {"a\\b", REG_SZ, std::string("x\0", 2)},
        {"a=b", REG_SZ, std::string("eq\0", 3)},
        {"lines", REG_SZ, z("one\r\ntwo\n[-HKEY_CURRENT_USER\\Software]\r\n\"x\"=\"y\"\r")},
        {"say \"x\"", REG_DWORD, std::string("\x01\x02\x03\x04", 4)},
        {"expand", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9)},
        {"expandEuro", REG_EXPAND_SZ, std::string("%APPDATA%\\\xE2\x82\xAC\0", 14)},
        {"bin", REG_BINARY, std::string("\0\1\0\xff\0", 5)},
        {"binEmpty", REG_BINARY, ""},
        {"binLong", REG_BINARY, pattern(200)},
        {"dword", REG_DWORD, "\xff\xff\xff\xff"},
        {"dword0", REG_DWORD, std::string("\0\0\0\0", 4)},
        {"big", REG_DWORD_BIG_ENDIAN, "\x12\x34\x56\x78"},
        {"qword", REG_QWORD, std::string("\1\0\0\0\0\0\0\x80", 8)},
        {"multi", REG_MULTI_SZ, std::string("a\0\0b\0\0", 6)},
        {"multiUni", REG_MULTI_SZ, std::string("\xC3\xA4\0\xE2\x82\xAC\0\0", 8)},
        {"multiTrailingEmpty", REG_MULTI_SZ, std::string("a\0\0\0", 4)},
        {"multiEmpty", REG_MULTI_SZ, ""},
        {"link", REG_LINK, std::string("L\0i\0", 4)},
        {"res", REG_RESOURCE_LIST, "\1\2"},
        {"full", REG_FULL_RESOURCE_DESCRIPTOR, "\3"},
        {"req", REG_RESOURCE_REQUIREMENTS_LIST, std::string("\4\0\5", 3)},
    };
    return samples;
}

void writeSamples(const std::string &path, const std::vector<Sample> &samples)
{
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(path, true)) << path;
    for (const Sample &s : samples)
        reg.writeValue(s.name, s.code, bytes(s.data));
}

bool applyFile(const fs::path &p, TMyRegistryReader *use = nullptr)
{
    TMyRegistryReader local;
    TMyRegistryReader &reader = use ? *use : local;
    reader.WriteToRegistry = true;
    return reader.LoadFromFile(p.string());
}

void applyLines(const std::vector<std::string> &body, const char *header = RegFileHeader4)
{
    std::vector<std::string> lines = {header, ""};
    lines.insert(lines.end(), body.begin(), body.end());
    TMyRegistryReader reader;
    reader.WriteToRegistry = true;
    reader.ParseLines(lines);
}

std::string utf16File(const std::string &text)
{
    std::string out = "\xFF\xFE";
    AppendUtf16le(text, out);
    return out;
}

class RoundTrip : public TempSystemTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(RoundTrip, EveryTypeComesBackIdentical)
{
    const bool version5 = GetParam();
    const std::string sub = kBase + "\\Schl\xC3\xBC"
                                    "ssel \xE5\xAD\x90";
    writeSamples(kBase, roundTripSamples());
    writeSamples(sub, {{"inner", REG_SZ, std::string("\xE2\x82\xAC\0", 4)}});
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, sub + "\\empty child"));
    const auto before = treeOf(HKEY_CURRENT_USER, kBase);
    ASSERT_EQ(before.at("").size(), roundTripSamples().size());

    const fs::path f = file("round.reg");
    ExportKeyToFile(HKEY_CURRENT_USER, kBase, f.string(), true, false, version5);
    ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, kBase));
    ASSERT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kBase));

    TMyRegistryReader reader;
    ASSERT_TRUE(applyFile(f, &reader)) << reader.LastError();
    EXPECT_EQ(treeOf(HKEY_CURRENT_USER, kBase), before);
    EXPECT_EQ(reader.KeysApplied(), 3u);
    EXPECT_EQ(reader.ValuesApplied(), roundTripSamples().size() + 1);
}

INSTANTIATE_TEST_SUITE_P(Versions, RoundTrip, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Version5" : "Version4"; });

using Writer = TempSystemTest;

TEST_F(Writer, FileLayoutOfAnEmptyKey)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kBase + "\\Empty"));
    const std::string body = "\r\n[HKEY_CURRENT_USER" + kBase + "\\Empty]\r\n\r\n";
    ExportKeyToFile(HKEY_CURRENT_USER, kBase + "\\Empty\\", file("v4.reg").string(), true, false, false);
    EXPECT_EQ(readAll(file("v4.reg")), "REGEDIT4\r\n" + body);
    // Doubled backslashes in the path are collapsed first.
    ExportKeyToFile(HKEY_CURRENT_USER, "Software\\\\VtRegfile\\Empty", file("v5.reg").string(), true, false, true);
    EXPECT_EQ(readAll(file("v5.reg")), utf16File("Windows Registry Editor Version 5.00\r\n" + body));
}

TEST_F(Writer, ValueLines)
{
    struct Case {
        Sample value;
        std::string line;       // as in a version 4 file
        std::string line5 = ""; // when the version 5 line differs in more than its width
    } cases[] = {
        {{"n", REG_DWORD, std::string("\xff\0\0\0", 4)}, "\"n\"=dword:000000FF"},
        {{"", REG_SZ, std::string("C:\\\0", 4)}, "@=\"C:\\\\\""},
        {{"a\\b\"c", REG_SZ, std::string("x\"y\0", 4)}, "\"a\\\\b\"c\"=\"x\\\"y\""},
        {{"lf", REG_SZ, std::string("1\r\n2\0", 5)},
         "\"lf\"=hex(1):31,0D,0A,32,00",
         "\"lf\"=hex(1):31,00,0D,00,0A,00,32,00,00,00"},
        {{"e", REG_EXPAND_SZ, std::string("%TEMP%\0", 7)},
         "\"e\"=hex(2):25,54,45,4D,50,25,00",
         "\"e\"=hex(2):25,00,54,00,45,00,4D,00,50,00,25,00,00,00"},
        {{"q", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)}, "\"q\"=hex(B):01,02,03,04,05,06,07,08"},
        {{"b", REG_DWORD_BIG_ENDIAN, "\x12\x34\x56\x78"}, "\"b\"=hex(5):12,34,56,78"},
        {{"r", REG_RESOURCE_REQUIREMENTS_LIST, "\x0a"}, "\"r\"=hex(A):0A"},
        {{"z", REG_BINARY, ""}, "\"z\"=hex:"},
        {{"none", REG_NONE, "\1"}, "// the type of value \"\"none\"\" is not set"},
        {{"odd", 0x20, "\1"}, "// the type of value \"\"odd\"\" is unknown"},
        {{"d3", REG_DWORD, "\1\2\3"}, "// an exception occured while reading integer value \"\"d3\"\""},
        {{"Data", REG_BINARY, pattern(23)},
         "\"Data\"=hex:" + FormatHexList(bytes(pattern(22)), 0) + ",\\\r\n  " +
             FormatHexList(bytes(pattern(23).substr(22)), 0)},
    };
    for (const Case &c : cases) {
        writeSamples(kBase, {c.value});
        TMyRegistry reg;
        ASSERT_TRUE(reg.OpenKeyReadOnly(kBase));
        TRegMemoryOutput v4, v5;
        WriteValueLine(reg, c.value.name, v4, false, false);
        WriteValueLine(reg, c.value.name, v5, false, true);
        EXPECT_EQ(v4.bytes, c.line + "\r\n") << c.value.name;
        std::string wide;
        AppendUtf16le((c.line5.empty() ? c.line : c.line5) + "\r\n", wide);
        EXPECT_EQ(v5.bytes, wide) << c.value.name;
    }
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kBase));
    TRegMemoryOutput missing;
    WriteValueLine(reg, "gone", missing, false, false);
    EXPECT_EQ(missing.bytes, "// the value \"\"gone\"\" does not exist\r\n");
}

TEST_F(Writer, Version5WritesUnicodeNotWidenedBytes)
{
    writeSamples(kBase, {{"\xC3\xBC", REG_SZ, std::string("\xE2\x82\xAC\0", 4)},
                         {"m", REG_MULTI_SZ, std::string("\xC3\xA4\0\0", 4)},
                         {"x", REG_EXPAND_SZ, std::string("\xE2\x82\xAC\0", 4)}});
    ExportKeyToFile(HKEY_CURRENT_USER, kBase, file("u.reg").string(), false, false, true);
    const std::string data = readAll(file("u.reg"));
    const std::string text = Utf16leBytesToUtf8(reinterpret_cast<const uint8_t *>(data.data()) + 2, data.size() - 2);
    EXPECT_NE(text.find("\"\xC3\xBC\"=\"\xE2\x82\xAC\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"m\"=hex(7):E4,00,00,00,00,00\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"x\"=hex(2):AC,20,00,00\r\n"), std::string::npos) << text;
}

TEST_F(Writer, KeyValuesAndSkippedKeys)
{
    writeSamples(kBase, {{"a", REG_SZ, std::string("1\0", 2)}, {"b", REG_SZ, std::string("2\0", 2)}});
    TRegMemoryOutput out;
    WriteKeyValues(HKEY_CURRENT_USER, kBase, std::vector<std::string>{"b", "nope"}, false, false, out);
    EXPECT_EQ(out.bytes,
              "\r\n[HKEY_CURRENT_USER" + kBase + "]\r\n\"b\"=\"2\"\r\n// the value \"\"nope\"\" does not exist\r\n");

    // A key that does not open still gets its key line; the other keys follow.
    ExportKeysToFile({HKEY_CURRENT_USER, HKEY_CURRENT_USER, HKEY_CURRENT_USER}, {kBase + "\\Missing", "", kBase}, false,
                     false, false, file("two.reg").string());
    EXPECT_EQ(readAll(file("two.reg")), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER" + kBase +
                                            "\\Missing]\r\n\r\n[HKEY_CURRENT_USER" + kBase +
                                            "]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\r\n");
    // Lists of different lengths write nothing at all.
    ExportKeysToFile({HKEY_CURRENT_USER}, {}, false, false, false, file("none.reg").string());
    EXPECT_FALSE(fs::exists(file("none.reg")));
    // An unwritable target raises and leaves no file behind.
    EXPECT_THROW(
        ExportKeyToFile(HKEY_CURRENT_USER, kBase, (m_dir / "no" / "dir" / "x.reg").string(), true, false, false),
        std::runtime_error);
}

// Line breaks in names and data must not turn into lines of their own that an
// import would apply.
TEST_F(Writer, LineBreaksCannotInjectLines)
{
    const std::string evil = "\r\n[-HKEY_CURRENT_USER\\Software\\Victim]\r\n\"planted\"=\"1\"\r\n";
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\Victim"));
    writeSamples(kBase, {{"a" + evil, REG_SZ, z("x")}, {"data", REG_SZ, z(evil)}});
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kBase + "\\k" + evil));
    for (bool version5 : {false, true}) {
        ExportKeyToFile(HKEY_CURRENT_USER, kBase, file("evil.reg").string(), true, false, version5);
        TMyRegistryReader reader;
        reader.WriteToRegistry = true;
        ASSERT_TRUE(reader.LoadFromFile(file("evil.reg").string()));
        EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\Victim")) << version5;
        EXPECT_FALSE(ValueExistsAt(HKEY_CURRENT_USER, kBase, "planted")) << version5;
        EXPECT_EQ(valuesOf(HKEY_CURRENT_USER, kBase)["data"], std::make_pair(uint32_t(REG_SZ), z(evil)));
        EXPECT_EQ(reader.KeysApplied(), 1u) << version5; // the key with the line break is left out
    }
}

// Output onto a device or a FIFO goes into it; the atomic replacement of a
// regular file must not put a regular file in its place.
TEST_F(Writer, OutputOntoADeviceWritesIntoIt)
{
    const fs::path full = file("full"), fifo = file("fifo");
    const bool haveDevice = ::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0; // as /dev/full
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    if (haveDevice) {
        EXPECT_THROW(
            {
                TRegFileOutput out(full.string());
                out.append(std::string(4 << 20, 'x'));
                out.commit();
            },
            std::runtime_error)
            << "a full device must fail the export";
        EXPECT_TRUE(fs::is_character_file(full));
    } else {
        std::fprintf(stderr, "note: cannot make a device node (needs root): that case is skipped\n");
    }
    auto reader = std::async(std::launch::async, [&] {
        std::ifstream in(fifo, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    });
    {
        TRegFileOutput out(fifo.string());
        out.append("REGEDIT4\r\n");
        out.commit();
    }
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(reader.get(), "REGEDIT4\r\n");
    EXPECT_TRUE(fs::is_fifo(fifo));
}

using Reader = TempSystemTest;

TEST_F(Reader, FileAcceptance)
{
    const std::string body = "\r\n[HKEY_CURRENT_USER" + kBase + "]\r\n\"v\"=\"1\"\r\n";
    struct Case {
        const char *name;
        std::string data;
        bool accepted, applied;
    } cases[] = {
        {"v4", "REGEDIT4\r\n" + body, true, true},
        {"v4 with LF", "REGEDIT4\n\n[HKEY_CURRENT_USER" + kBase + "]\n\"v\"=\"1\"", true, true},
        {"v5", utf16File("Windows Registry Editor Version 5.00\r\n" + body), true, true},
        {"v5 with CR only",
         utf16File("Windows Registry Editor Version 5.00\r\r[HKEY_CURRENT_USER" + kBase + "]\r\"v\"=\"1\"\r"), true,
         true},
        {"v5 header without byte order mark", "Windows Registry Editor Version 5.00\r\n" + body, false, false},
        {"byte order mark and REGEDIT4", utf16File("REGEDIT4\r\n" + body), false, false},
        {"second line is a key line", "REGEDIT4\r\n[HKEY_CURRENT_USER" + kBase + "]\r\n\"v\"=\"1\"\r\n", true, false},
        {"only two lines", "REGEDIT4\r\n[HKEY_CURRENT_USER" + kBase + "]\r\n", true, false},
        {"empty", "", false, false},
    };
    for (const Case &c : cases) {
        DeleteKeyAt(HKEY_CURRENT_USER, kBase);
        writeAll(file("a.reg"), c.data);
        TMyRegistryReader reader;
        EXPECT_EQ(applyFile(file("a.reg"), &reader), c.accepted) << c.name;
        EXPECT_EQ(reader.LastError().empty(), c.accepted) << c.name;
        EXPECT_EQ(ValueExistsAt(HKEY_CURRENT_USER, kBase, "v"), c.applied) << c.name;
    }
    TMyRegistryReader reader;
    EXPECT_FALSE(applyFile(file("missing.reg"), &reader));
    EXPECT_NE(reader.LastError().find("missing.reg"), std::string::npos);
}

// A device never ends and a FIFO blocks the open: an import refuses both
// before reading, instead of growing without bound or hanging.
TEST_F(Reader, InputThatIsNotARegularFileIsRefused)
{
    const fs::path fifo = file("pipe.reg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &name : {std::string("/dev/zero"), fifo.string()}) {
        TMyRegistryReader reader;
        auto result = std::async(std::launch::async, [&] { return applyFile(name, &reader); });
        if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK); // let a blocked open go
            if (fd >= 0)
                ::close(fd);
            result.wait();
            FAIL() << name << " was read instead of refused";
        }
        EXPECT_FALSE(result.get()) << name;
        EXPECT_NE(reader.LastError().find("not a regular file"), std::string::npos) << reader.LastError();
    }
}

TEST_F(Reader, LineRules)
{
    const std::string key = "[HKEY_CURRENT_USER" + kBase + "]";
    applyLines({
        key,
        "\"hexA\"=hex(A):01,02",
        "\"hex10\"=hex(10):01",
        "\"dwAll\"=dword:ffffffff",
        "\"dw\"=dword:12345678",
        "\"q\"=hex(b):01,00,00,00,00,00,00,00",
        "\"cont\"=hex:01,\\",
        "   02,\\   ",
        "  03",
        "; a comment that ends in a backslash \\",
        "\"afterComment\"=\"kept\"",
        ";\"semi\"=\"not a value\"",
        "// comment",
        "\"del1\"=\"x\"",
        "\"del2\"=\"x\"",
        "\"del1\"=-",
        "-\"del2\"",
        "\"dangling\"=hex:01,\\",
        "[HKCU" + kBase + "\\Abbrev]",
        "\"fresh\"=\"1\"",
        "[hkcu" + kBase + "\\Lower]",
        "\"x\"=\"1\"",
        "[HKEY_CURRENT_USER]",
        "\"atRoot\"=\"no\"",
    });
    ValueMap v = valuesOf(HKEY_CURRENT_USER, kBase);
    EXPECT_EQ(v["hexA"], std::make_pair(uint32_t(REG_RESOURCE_REQUIREMENTS_LIST), std::string("\1\2")));
    EXPECT_EQ(v.count("hex10"), 0u);
    EXPECT_EQ(v["dwAll"].second, "\xff\xff\xff\xff");
    EXPECT_EQ(v["dw"].second, "\x78\x56\x34\x12");
    EXPECT_EQ(v["q"], std::make_pair(uint32_t(REG_QWORD), std::string("\1\0\0\0\0\0\0\0", 8)));
    EXPECT_EQ(v["cont"], std::make_pair(uint32_t(REG_BINARY), std::string("\1\2\3")));
    EXPECT_EQ(v["afterComment"].second, std::string("kept\0", 5));
    EXPECT_EQ(v.count(";\"semi\""), 0u);
    EXPECT_EQ(v.count("del1") + v.count("del2"), 0u);
    EXPECT_EQ(v.size(), 6u);
    // The dangling continuation stays with its key; the next key's first value is intact.
    EXPECT_EQ(valuesOf(HKEY_CURRENT_USER, kBase + "\\Abbrev"), (ValueMap{{"fresh", {REG_SZ, std::string("1\0", 2)}}}));
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kBase + "\\Lower"));
    EXPECT_FALSE(ValueExistsAt(HKEY_CURRENT_USER, "\\", "atRoot"));
}

// hex(2) and hex(7) lists are text: the value ends in one terminating zero
// character, whether the list has it or not.
TEST_F(Reader, StringListsEndInOneTerminator)
{
    const std::string key = "[HKEY_CURRENT_USER" + kBase + "]";
    const struct {
        const char *header;
        const char *line;
        const char *name;
        uint32_t type;
        std::string stored; // as RegQueryValueExA gives it
    } cases[] = {
        {RegFileHeader4, "\"m\"=hex(7):4c,69,6e,65", "m", REG_MULTI_SZ, std::string("Line\0", 5)},
        {RegFileHeader4, "\"e\"=hex(2):25,50,41,54,48,25", "e", REG_EXPAND_SZ, std::string("%PATH%\0", 7)},
        {RegFileHeader4, "\"m2\"=hex(7):61,00,62", "m2", REG_MULTI_SZ, std::string("a\0b\0", 4)},
        {RegFileHeader4, "\"done\"=hex(7):61,00,62,00,00", "done", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
        {RegFileHeader4, "\"e2\"=hex(2):61,00", "e2", REG_EXPAND_SZ, std::string("a\0", 2)},
        {RegFileHeader4, "\"none\"=hex(2):", "none", REG_EXPAND_SZ, std::string()},
        {RegFileHeader5, "\"w\"=hex(2):61,00,62,00", "w", REG_EXPAND_SZ, std::string("ab\0", 3)},
        {RegFileHeader5, "\"wm\"=hex(7):61,00,00,00,62,00,00,00,00,00", "wm", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
    };
    for (const auto &c : cases) {
        applyLines({key, c.line}, c.header);
        ValueMap v = valuesOf(HKEY_CURRENT_USER, kBase);
        EXPECT_EQ(v[c.name], std::make_pair(c.type, c.stored)) << c.line;
    }
}

TEST_F(Reader, KeyDeletions)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kBase + "\\Gone\\deep\\deeper"));
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kBase + "\\Stays"));
    applyLines({"[-HKEY_CURRENT_USER" + kBase + "\\Gone]", "[-HKEY_CURRENT_USER\\]", "[-HKEY_CURRENT_USER\\\\]",
                "[-HKEY_CURRENT_USER" + kBase + "\\NeverWas]"});
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kBase + "\\Gone"));
    // A deletion naming only the root must not empty the root.
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kBase + "\\Stays"));
}

TEST_F(Reader, EventsWithoutWriting)
{
    std::vector<std::string> lines = {RegFileHeader4,
                                      "",
                                      "[HKEY_CURRENT_USER" + kBase + "\\A]",
                                      "\"v\"=\"1\"",
                                      "[-HKLM\\Software\\B]",
                                      "[Nonsense\\C]",
                                      "[HKEY_USERS]"};
    TMyRegistryReader reader;
    std::vector<std::tuple<HKEY, std::string, bool>> keys;
    std::vector<std::pair<size_t, size_t>> progress;
    reader.OnKey = [&](HKEY root, const std::string &path, bool del) { keys.emplace_back(root, path, del); };
    reader.OnProgress = [&](size_t i, size_t last) { progress.emplace_back(i, last); };
    reader.ParseLines(lines);
    const std::vector<std::tuple<HKEY, std::string, bool>> expectedKeys = {
        {HKEY_CURRENT_USER, kBase + "\\A", false},
        {HKEY_LOCAL_MACHINE, "\\Software\\B", true},
        {nullptr, "\\C", false},
        {nullptr, "", false},
    };
    EXPECT_EQ(keys, expectedKeys);
    const std::vector<std::pair<size_t, size_t>> expectedProgress = {{2, 6}, {3, 6}, {4, 6}, {5, 6}, {6, 6}};
    EXPECT_EQ(progress, expectedProgress);
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kBase + "\\A"));

    // Stop ends the parse after the current line.
    TMyRegistryReader stopping;
    stopping.WriteToRegistry = true;
    stopping.OnKey = [&](HKEY, const std::string &, bool) { stopping.Stop(); };
    stopping.ParseLines(lines);
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kBase + "\\A"));
    EXPECT_FALSE(ValueExistsAt(HKEY_CURRENT_USER, kBase + "\\A", "v"));
}

// A version 5 file as the system's own editor writes it: UTF-16 names and
// strings, hex(2) and hex(7) lists of UTF-16 units.
TEST_F(Reader, SystemVersion5FileWithNonAsciiNamesImportsExactly)
{
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_CURRENT_USER" +
                             kBase +
                             "\\\xC3\x84pfel \xE2\x82\xAC]\r\n"
                             "@=\"\xD0\x9C\xD0\xB8\xD1\x80\"\r\n"
                             "\"\xC4\x80 name\"=\"x\"\r\n"
                             "\"euro\"=hex(2):25,00,41,00,25,00,ac,20,00,00\r\n"
                             "\"multi\"=hex(7):61,00,00,00,00,01,00,00,00,00\r\n"
                             "\"quoted \\\"n\\\"\"=dword:00000002\r\n\r\n";
    writeAll(file("sys.reg"), utf16File(text));
    ASSERT_TRUE(applyFile(file("sys.reg")));
    const ValueMap expected = {
        {"", {REG_SZ, std::string("\xD0\x9C\xD0\xB8\xD1\x80\0", 7)}},
        {"\xC4\x80 name", {REG_SZ, std::string("x\0", 2)}},
        {"euro", {REG_EXPAND_SZ, std::string("%A%\xE2\x82\xAC\0", 7)}},
        {"multi", {REG_MULTI_SZ, std::string("a\0\xC4\x80\0\0", 6)}},
        {"quoted \"n\"", {REG_DWORD, std::string("\2\0\0\0", 4)}},
    };
    EXPECT_EQ(valuesOf(HKEY_CURRENT_USER, kBase + "\\\xC3\x84pfel \xE2\x82\xAC"), expected);
}

// Files from public projects, applied as their notes describe.
TEST_F(Reader, RealWorldFiles)
{
    VT_SKIP_WITHOUT_TESTDATA();
    const fs::path dir = vt::test::testdataDir() / "regfiles";
    auto apply = [&](const char *name) {
        fs::copy_file(dir / name, file(name), fs::copy_options::overwrite_existing);
        TMyRegistryReader reader;
        reader.WriteToRegistry = true;
        bool ok = reader.LoadFromFile(file(name).string());
        return std::make_pair(ok, reader.ValuesApplied());
    };
    auto sz = [](const std::string &s) { return std::make_pair(uint32_t(REG_SZ), s + std::string(1, '\0')); };

    EXPECT_EQ(apply("conemu_ConEmu_Inside.reg"), std::make_pair(true, size_t(8)));
    const std::string inside = "\\Software\\Classes\\Directory\\shell\\ConEmu inside";
    EXPECT_EQ(valuesOf(HKEY_CURRENT_USER, inside)["Icon"], sz("C:\\Program Files\\ConEmu\\ConEmu.exe,1"));
    EXPECT_EQ(valuesOf(HKEY_CURRENT_USER, inside + "\\command")[""],
              sz("\"C:\\Program Files\\ConEmu\\ConEmu.exe\" /inside /config shell /dir \"%1\" /cmd powershell "
                 "-cur_console:n"));

    // Stale values vanish with the deleted keys, which are then created afresh.
    const std::string shift = "\\Software\\Far2\\KeyMacros\\Shell\\ShiftEnter";
    writeSamples(shift, {{"stale", REG_SZ, std::string("1\0", 2)}});
    EXPECT_TRUE(apply("conemu_Far2_ShiftEnter.reg").first);
    const ValueMap far = valuesOf(HKEY_CURRENT_USER, shift);
    EXPECT_EQ(far.size(), 3u);
    EXPECT_EQ(far.at("DisableOutput"), std::make_pair(uint32_t(REG_DWORD), std::string("\1\0\0\0", 4)));
    EXPECT_EQ(far.at("Sequence"), sz("eval(%%ConEmu_ShiftEnter)"));
    const std::string macro =
        valuesOf(HKEY_CURRENT_USER, "\\Software\\Far2\\KeyMacros\\Vars").at("%%ConEmu_ShiftEnter").second;
    EXPECT_EQ(macro.substr(0, 45), "$if (akey(1,1)==\"ShiftEnter\") %add = \" -new_c");

    // Version 5 header without byte order mark: refused, nothing applied.
    EXPECT_EQ(apply("debloat_enable-photo-viewer.reg"), std::make_pair(false, size_t(0)));
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\Classes\\.jpg"));

    EXPECT_EQ(apply("aroma_FileTypeDescriptions-Default.reg"), std::make_pair(true, size_t(3)));
    EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Classes\\Directory")["FriendlyTypeName"],
              std::make_pair(uint32_t(REG_EXPAND_SZ), z("@%SystemRoot%\\system32\\windows.storage.dll,-10152")));

    TMyRegistry hklm;
    hklm.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(hklm.OpenKey("\\SOFTWARE\\Classes\\Drive", true));
    hklm.WriteString("StatusBar", "old");
    hklm.CloseKey();
    EXPECT_EQ(apply("aroma_PropertyLists-DefaultWin11.reg").first, true);
    EXPECT_FALSE(ValueExistsAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Classes\\Drive", "StatusBar"));
    EXPECT_EQ(valuesOf(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Classes\\Folder")["TileInfo"], sz("prop:System.Title"));

    EXPECT_TRUE(apply("tweaks_Add_Install_to_cab_context_menu.reg").first);
    EXPECT_EQ(valuesOf(HKEY_CLASSES_ROOT, "\\CABFolder\\Shell\\RunAs")["HasLUAShield"], sz(""));
    EXPECT_EQ(valuesOf(HKEY_CLASSES_ROOT, "\\CABFolder\\Shell\\RunAs\\Command")[""],
              sz("cmd /k dism /online /add-package /packagepath:\"%1\""));

    const std::string policies = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
    ASSERT_TRUE(hklm.OpenKey(policies, true));
    hklm.WriteInteger("dontdisplaylastusername", 1);
    hklm.CloseKey();
    EXPECT_EQ(apply("andrew_Display_users_on_Sign_in_screen.reg"), std::make_pair(true, size_t(1)));
    EXPECT_FALSE(ValueExistsAt(HKEY_LOCAL_MACHINE, policies, "dontdisplaylastusername"));

    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\Policies\\Microsoft\\Windows\\Explorer\\child"));
    EXPECT_TRUE(apply("tweaks_W7_Enable_Aero_Shake.reg").first);
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\Policies\\Microsoft\\Windows\\Explorer"));
}

} // namespace
