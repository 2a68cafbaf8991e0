// The file view's tree: keys and values read from a file, their display
// texts, and the markers that compare them with a prepared registry.
#include "RegfileFixture.h"

#include "regfile/RegFileText.h"
#include "regfile/RegFileView.h"

#include <gtest/gtest.h>

using namespace regfiletest;

namespace
{

// "key path: name|TYPE|display|size|icon|marker|registry text" per record,
// keys in tree order; key paths start below the file node.
std::vector<std::string> describe(const TFileKeyNode &node, const std::string &path = {})
{
    std::vector<std::string> out;
    for (const TFileValueRecord &r : node.Records)
        out.push_back(path + ": " + r.Name + "|" + r.TypeName() + "|" + r.DisplayText + "|" + std::to_string(r.Size) +
                      "|" + std::to_string(r.Icon) + "|" + r.Marker + "|" + r.RegistryValueText());
    for (const auto &child : node.Children) {
        const std::string childPath = path.empty() ? child->Text : path + "\\" + child->Text;
        if (child->Records.empty() && child->Children.empty())
            out.push_back(childPath);
        for (std::string &line : describe(*child, childPath))
            out.push_back(std::move(line));
    }
    return out;
}

std::vector<std::string> viewOf(const std::vector<std::string> &lines, bool compare = false)
{
    TRegFileView view(compare);
    view.ParseFileIntoTree(lines);
    return describe(view.FileNode());
}

std::string utf16File(const std::string &text)
{
    std::string out = "\xFF\xFE";
    AppendUtf16le(text, out);
    return out;
}

using Lines = std::vector<std::string>;

TEST(FileView, TreeFromLines)
{
    struct Case {
        const char *what;
        Lines lines;
        std::vector<std::string> tree;
    } cases[] = {
        {"a key twice in other case is one node, named as first met, with the values of both blocks",
         {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\App]", "\"a\"=\"1\"", "", "[HKEY_CURRENT_USER\\SOFTWARE\\app]",
          "\"b\"=\"2\""},
         {"HKEY_CURRENT_USER\\Software\\App: a|REG_SZ|1|1|3|U|",
          "HKEY_CURRENT_USER\\Software\\App: b|REG_SZ|2|1|3|U|"}},
        {"deletion lines: a key deletion keeps its mark, a value deletion with \"=\" is a record of data not "
         "understood, one without is none",
         {"REGEDIT4", "", "[-HKEY_CURRENT_USER\\Software\\Gone]", "[HKEY_CURRENT_USER\\Software\\App]", "\"x\"=-",
          "-\"y\""},
         {"-HKEY_CURRENT_USER\\Software\\Gone", "HKEY_CURRENT_USER\\Software\\App: x|REG_NONE|-|0|-1|U|"}},
        {"continuation lines are joined, blanks around them dropped",
         {"REGEDIT4", "", "[HKEY_CURRENT_USER\\A]", "\"bin\"=hex:01,02,\\", "  03,04", "\"s\"=\"x\""},
         {"HKEY_CURRENT_USER\\A: bin|REG_BINARY|01 02 03 04|4|4|U|", "HKEY_CURRENT_USER\\A: s|REG_SZ|x|1|3|U|"}},
        {"comments, also with \"=\" and ending in a backslash, are no values (as the import skips them)",
         {"REGEDIT4", "", "[HKEY_CURRENT_USER\\A]", "; \"a\"=\"b\" \\", "// \"c\"=\"d\"", "\"e\"=\"f\""},
         {"HKEY_CURRENT_USER\\A: e|REG_SZ|f|1|3|U|"}},
        {"value lines before the first key belong to no key; the second line is read; doubled and trailing "
         "backslashes name no key",
         {"REGEDIT4", "[HKEY_CURRENT_USER\\A\\\\B\\]", "\"v\"=dword:1"},
         {"HKEY_CURRENT_USER\\A\\B: v|REG_DWORD|0x00000001 (1)|4|4|U|"}},
        {"a key line deeper than any registry nests is left out with its values",
         {"REGEDIT4", "",
          "[HKEY_CURRENT_USER" +
              [] {
                  std::string deep;
                  for (int i = 0; i < 5000; ++i)
                      deep += "\\k";
                  return deep;
              }() +
              "]",
          "\"a\"=\"1\"", "[HKEY_CURRENT_USER\\B]", "\"b\"=\"2\""},
         {"HKEY_CURRENT_USER\\B: b|REG_SZ|2|1|3|U|"}},
        {"a lone value before any key and a line without \"=\"",
         {"REGEDIT4", "\"early\"=\"1\"", "[HKEY_CURRENT_USER\\A]", "noequals"},
         {"HKEY_CURRENT_USER\\A"}},
        {"the default value keeps its \"@\"; a quoted \"@\" is a name; quoted names may hold \"=\" and escapes",
         {"REGEDIT4", "", "[HKEY_CURRENT_USER\\A]", "@=\"d\"", "\"@\"=\"e\"", "\"a=b\\\\c\\\"\"=\"f\""},
         {"HKEY_CURRENT_USER\\A: @|REG_SZ|d|1|3|U|", "HKEY_CURRENT_USER\\A: @|REG_SZ|e|1|3|U|",
          "HKEY_CURRENT_USER\\A: a=b\\c\"|REG_SZ|f|1|3|U|"}},
        {"version 5 lists of UTF-16 units show the text that version 4 lists of bytes show",
         {"Windows Registry Editor Version 5.00", "", "[HKEY_CURRENT_USER\\A]", "\"e\"=hex(2):25,00,58,00,25,00,00,00",
          "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00"},
         {"HKEY_CURRENT_USER\\A: e|REG_EXPAND_SZ|%X%|3|3|U|",
          "HKEY_CURRENT_USER\\A: m|REG_MULTI_SZ|a\r\nb\r\n|6|3|U|"}},
        {"version 4 lists of bytes",
         {"REGEDIT4", "", "[HKEY_CURRENT_USER\\B]", "\"e\"=hex(2):25,58,25,00", "\"m\"=hex(7):61,00,62,00,00"},
         {"HKEY_CURRENT_USER\\B: e|REG_EXPAND_SZ|%X%|3|3|U|",
          "HKEY_CURRENT_USER\\B: m|REG_MULTI_SZ|a\r\nb\r\n|6|3|U|"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(viewOf(c.lines), c.tree) << c.what;

    // Names in other case, non-ASCII ones too, find their node among few
    // children and among many.
    for (int siblings : {2, 40}) {
        Lines lines = {"REGEDIT4", ""};
        for (int i = 0; i < siblings; ++i)
            lines.push_back("[HKEY_CURRENT_USER\\K" + std::to_string(i) + "]");
        lines.insert(lines.end(), {"[HKEY_CURRENT_USER\\\xC3\x84rger]", "\"a\"=\"1\"", "[hkey_current_user\\k1]",
                                   "[HKEY_CURRENT_USER\\\xC3\xA4RGER]", "\"b\"=\"2\""});
        TRegFileView view(false);
        view.ParseFileIntoTree(lines);
        ASSERT_EQ(view.FileNode().Children.size(), 1u);
        const TFileKeyNode &root = *view.FileNode().Children[0];
        EXPECT_EQ(root.Children.size(), size_t(siblings) + 1) << siblings;
        const TFileKeyNode *node = root.FindChild("\xC3\xA4rger");
        ASSERT_NE(node, nullptr) << siblings;
        EXPECT_EQ(node->Text, "\xC3\x84rger");
        EXPECT_EQ(node->Records.size(), 2u) << siblings;
        EXPECT_EQ(root.FindChild("K1"), root.FindChild("k1"));
        EXPECT_EQ(root.FindChild("K"), nullptr);
    }
}

TEST(FileView, DisplayTextSizeAndBytesPerDataForm)
{
    struct Case {
        const char *data;
        const char *type;
        const char *display;
        int32_t size;
        TRegByteArray bytes;
    } cases[] = {
        {"\"C:\\\\Temp\"", "REG_SZ", "C:\\Temp", 7, bytes("C:\\Temp")},
        {"\"say \\\"hi\\\"\"", "REG_SZ", "say \"hi\"", 8, bytes("say \"hi\"")},
        {"hex(2):25,53,59,53,25,00", "REG_EXPAND_SZ", "%SYS%", 5, bytes("%SYS%")},
        {"hex(7):61,00,62,00,00", "REG_MULTI_SZ", "a\r\nb\r\n", 6, {}},
        {"dword:ffffffff", "REG_DWORD", "0xFFFFFFFF (4294967295)", 4, {}},
        {"DWORD:12345678", "REG_DWORD", "0x12345678 (305419896)", 4, {}},
        {"hex(5):00,00,01,00", "REG_DWORD_BIG_ENDIAN", "0x00000100 (256)", 4, {}},
        {"hex(b):01,00,00,00,00,00,00,00", "REG_QWORD", "0x0000000000000001 (1)", 8, {}},
        {"hex:01,ab,00", "REG_BINARY", "01 AB 00", 3, {0x01, 0xAB, 0x00}},
        {"hex:", "REG_BINARY", "", 0, {}},
        {"hex(6):5c,00", "REG_LINK", "5C 00", 2, {0x5C, 0x00}},
        {"hex(8):01", "REG_RESOURCE_LIST", "01", 1, {0x01}},
        {"hex(9):02,03", "REG_FULL_RESOURCE_DESCRIPTOR", "02 03", 2, {0x02, 0x03}},
        {"HEX(A):ff", "REG_RESOURCE_REQUIREMENTS_LIST", "FF", 1, {0xFF}},
        {"hex(10):01", "REG_NONE", "hex(10):01", 0, bytes("hex(10):01")},
        {"hex(0):", "REG_NONE", "hex(0):", 0, bytes("hex(0):")},
    };
    for (const Case &c : cases) {
        const std::vector<std::string> tree =
            viewOf({"REGEDIT4", "", "[HKEY_CURRENT_USER\\A]", std::string("\"v\"=") + c.data});
        ASSERT_EQ(tree.size(), 1u) << c.data;
        const std::string expected =
            std::string("HKEY_CURRENT_USER\\A: v|") + c.type + "|" + c.display + "|" + std::to_string(c.size) + "|";
        EXPECT_EQ(tree[0].substr(0, expected.size()), expected) << c.data;

        TRegFileView view(false);
        view.ParseFileIntoTree({"REGEDIT4", "[HKEY_CURRENT_USER\\A]", std::string("\"v\"=") + c.data});
        const TFileValueRecord &record = view.FileNode().Children[0]->Children[0]->Records.at(0);
        EXPECT_EQ(FileTextToBytes(record.DisplayText, record.Type), c.bytes) << c.data;
    }
}

using FileViewCompare = TempSystemTest;

// Markers against a prepared key, the edge cases of the comparison among them.
TEST_F(FileViewCompare, MarkersAgainstTheRegistry)
{
    const std::string path = "\\Software\\VtView";
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(path, true));
        reg.WriteString("", "def");
        reg.WriteString("Path", "C:\\Temp");
        reg.writeValue("dw", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF});
        reg.writeValue("num", REG_DWORD, {5, 0, 0, 0});
        reg.WriteString("str", "old");
        reg.writeValue("exp", REG_EXPAND_SZ, bytes(std::string("%X%\0", 4)));
        reg.writeValue("multi", REG_MULTI_SZ, bytes(std::string("a\0b\0\0", 5)));
        reg.writeValue("bin", REG_BINARY, {1, 2});
        reg.writeValue("binSame", REG_BINARY, {1, 2});
        reg.writeValue("binAsNumber", REG_DWORD, {1, 0, 0, 0});
        reg.writeValue("q", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
        reg.writeValue("be", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0});
        reg.writeValue("short", REG_DWORD, {1, 2});
        reg.WriteString("numAsText", "5");
    }
    const std::vector<std::string> tree = viewOf(
        {
            "REGEDIT4",
            "",
            "[HKEY_CURRENT_USER" + path + "]",
            "@=\"def\"",
            "\"Path\"=\"C:\\\\Temp\"",
            "\"dw\"=dword:ffffffff",
            "\"num\"=dword:00000006",
            "\"str\"=\"new\"",
            "\"exp\"=hex(2):25,58,25,00",
            "\"multi\"=hex(7):61,00,62,00,00",
            "\"missing\"=\"x\"",
            "\"bin\"=hex:01,03",
            "\"binSame\"=hex:01,02",
            "\"binAsNumber\"=hex:01,00,00,00",
            "\"q\"=hex(b):02,00,00,00,00,00,00,00",
            "\"be\"=hex(5):00,00,01,00",
            "\"short\"=dword:00000001",
            "\"numAsText\"=dword:00000005",
            "[HKEY_CURRENT_USER\\Software\\VtViewMissing]",
            "\"a\"=\"b\"",
            "[HKEY_NOWHERE\\Software\\VtView]",
            "\"str\"=\"old\"",
        },
        true);
    const std::string k = "HKEY_CURRENT_USER\\Software\\VtView: ";
    EXPECT_EQ(tree, (std::vector<std::string>{
                        k + "@|REG_SZ|def|3|3|U|def",
                        k + "Path|REG_SZ|C:\\Temp|7|3|U|C:\\Temp",
                        k + "dw|REG_DWORD|0xFFFFFFFF (4294967295)|4|4|U|0xFFFFFFFF (4294967295)",
                        k + "num|REG_DWORD|0x00000006 (6)|4|4|C|0x00000005 (5)",
                        k + "str|REG_SZ|new|3|3|C|old",
                        k + "exp|REG_EXPAND_SZ|%X%|3|3|U|%X%",
                        k + "multi|REG_MULTI_SZ|a\r\nb\r\n|6|3|U|a\r\nb\r\n",
                        k + "missing|REG_SZ|x|1|3|N|",
                        // Binary data is compared by its bytes; the registry's are shown as spaced hex.
                        k + "bin|REG_BINARY|01 03|2|4|C|01 02",
                        k + "binSame|REG_BINARY|01 02|2|4|U|01 02",
                        k + "binAsNumber|REG_BINARY|01 00 00 00|4|4|T|0x00000001 (1)",
                        k + "q|REG_QWORD|0x0000000000000002 (2)|8|4|C|01 00 00 00 00 00 00 00",
                        k + "be|REG_DWORD_BIG_ENDIAN|0x00000100 (256)|4|4|U|00 00 01 00",
                        // A number that cannot be read as one leaves the marker as it was.
                        k + "short|REG_DWORD|0x00000001 (1)|4|4|U|",
                        k + "numAsText|REG_DWORD|0x00000005 (5)|4|4|T|5",
                        "HKEY_CURRENT_USER\\Software\\VtViewMissing: a|REG_SZ|b|1|3|N|",
                        "HKEY_NOWHERE\\Software\\VtView: str|REG_SZ|old|3|3|N|",
                    }));

    // Without comparison nothing is read from the registry.
    for (const std::string &line : viewOf({"REGEDIT4", "[HKEY_CURRENT_USER" + path + "]", "\"str\"=\"new\""}))
        EXPECT_EQ(line.substr(line.size() - 3), "|U|") << line;
}

TEST(FileView, ColoursAndTheHintsDifferenceLine)
{
    struct Case {
        char marker;
        uint32_t color;
        const char *text;
    } cases[] = {
        {'N', 0x00807FFF, "Not in registry."},
        {'T', 0x00F0CAA6, "Type is different in registry.\r\nValue: 0x00000001 (1)"},
        {'C', 0x00F0CAA6, "Data is different in registry.\r\nValue: 0x00000001 (1)"},
        {'U', 0, "This value and data exists in your registry."},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FileMarkerColor(c.marker), c.color) << c.marker;
        EXPECT_EQ(FileDifferenceText(c.marker, "Value", "0x00000001 (1)"), c.text) << c.marker;
    }
}

using FileViewLoad = TempSystemTest;

TEST_F(FileViewLoad, FilesOfBothVersionsAndFilesThatAreNone)
{
    const std::string body = "\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"v\"=hex(2):41,00,42,00,00,00\r\n";
    writeAll(file("v5.reg"), utf16File(std::string(RegFileHeader5) + body));
    writeAll(file("v4.reg"),
             std::string(RegFileHeader4) + "\n\n[HKEY_CURRENT_USER\\Software\\A]\n\"v\"=hex(2):41,42,00");
    writeAll(file("plain.reg"), std::string(RegFileHeader5) + body);
    writeAll(file("empty.reg"), "");
    struct Case {
        std::string name;
        bool loads;
        const char *error;
    } cases[] = {
        {file("v5.reg").string(), true, ""},
        {file("v4.reg").string(), true, ""},
        {file("plain.reg").string(), false, "is not a registry file"},
        {file("empty.reg").string(), false, "is not a registry file"},
        {file("missing.reg").string(), false, "cannot be opened"},
        {file("").string(), false, "is not a regular file"},
    };
    for (const Case &c : cases) {
        TRegFileView view(false);
        uint64_t lastDone = 0, lastTotal = 1;
        view.OnProgress = [&](uint64_t done, uint64_t total) {
            lastDone = done;
            lastTotal = total;
        };
        EXPECT_EQ(view.LoadFromFile(c.name), c.loads) << c.name;
        EXPECT_NE(view.Error().find(c.error), std::string::npos) << c.name << ": " << view.Error();
        if (c.loads) {
            EXPECT_EQ(view.FileNode().Text, fs::path(c.name).filename().string());
            EXPECT_EQ(describe(view.FileNode()),
                      std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\A: v|REG_EXPAND_SZ|AB|2|3|U|"});
            EXPECT_EQ(lastDone, lastTotal);
            EXPECT_EQ(lastTotal, fs::file_size(c.name));
        } else {
            EXPECT_TRUE(view.FileNode().Children.empty()) << c.name;
        }
    }
}

// Progress comes while the file is read, not only at its end, and a stop
// ends the reading.
TEST_F(FileViewLoad, ProgressWhileReadingAndStop)
{
    std::string text = std::string(RegFileHeader4) + "\r\n\r\n";
    for (int k = 0; k < 200; ++k) {
        text += "[HKEY_CURRENT_USER\\Software\\Big\\K" + std::to_string(k) + "]\r\n";
        for (int v = 0; v < 100; ++v)
            text += "\"v" + std::to_string(v) + "\"=dword:00000001\r\n";
    }
    writeAll(file("big.reg"), text);
    {
        TRegFileView view(false);
        std::vector<uint64_t> seen;
        view.OnProgress = [&](uint64_t done, uint64_t) { seen.push_back(done); };
        ASSERT_TRUE(view.LoadFromFile(file("big.reg").string())) << view.Error();
        EXPECT_GT(seen.size(), 3u);
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
        EXPECT_EQ(view.KeyLines(), 200u);
        EXPECT_EQ(view.ValueRecords(), 20000u);
        EXPECT_EQ(view.FileNode().Children[0]->Children[0]->Children[0]->Children.size(), 200u);
    }
    TRegFileView view(false);
    view.OnProgress = [&](uint64_t, uint64_t) { view.Stop(); };
    EXPECT_FALSE(view.LoadFromFile(file("big.reg").string()));
    EXPECT_NE(view.Error().find("stopped"), std::string::npos) << view.Error();
    EXPECT_LT(view.ValueRecords(), 20000u);
}

} // namespace
