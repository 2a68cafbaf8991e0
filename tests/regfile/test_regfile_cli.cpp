// The export and import verbs of vantrel-cli, in process.
#include "RegfileFixture.h"

#include "cli/CliApp.h"
#include "platform/security/SecurityDescriptor.h"
#include "regfile/RegFileReader.h"
#include "regfile/RegFileText.h"
#include "regfile/RegFileWriter.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace regfiletest;

namespace
{

class Cli : public TempSystemTest
{
protected:
    int run(std::vector<std::string> args, const std::string &input = "")
    {
        args.insert(args.begin(), {"--system", (m_dir / "system").string()});
        std::istringstream in(input);
        out.str("");
        err.str("");
        const int rc = vt::cli::runCli(args, in, out, err);
        openSystem(); // the tool closes the system when it is done
        return rc;
    }
    std::ostringstream out, err;
};

TEST_F(Cli, ExportAndImport)
{
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtCli\\Sub", "n\xC3\xA4me", 32, "\xE2\x82\xAC"));
    const std::string v5 = file("v5.reg").string(), v4 = file("v4.reg").string();

    EXPECT_EQ(run({"export", "HKCU\\Software\\VtCli", v5}), 0) << err.str();
    EXPECT_EQ(readAll(v5).substr(0, 4), std::string("\xFF\xFEW\0", 4));
    // An existing file is kept unless the user agrees or /y is given.
    EXPECT_EQ(run({"EXPORT", "HKCU\\Software\\VtCli", v5, "/reg:4"}, "no\n"), 1);
    EXPECT_EQ(readAll(v5).substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(run({"export", "HKCU\\Software\\VtCli", v4, "/reg:4"}), 0);
    EXPECT_EQ(run({"export", "HKCU\\Software\\VtCli", v4, "/reg:4", "/y"}), 0);
    EXPECT_EQ(readAll(v4).substr(0, 10), "REGEDIT4\r\n");
    EXPECT_EQ(run({"export", "HKCU\\Software\\Missing", file("m.reg").string()}), 1);
    EXPECT_FALSE(fs::exists(file("m.reg")));
    EXPECT_EQ(run({"export", "HKCU\\Software\\VtCli"}), 1);

    for (const std::string &f : {v5, v4}) {
        ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtCli"));
        EXPECT_EQ(run({"import", f}), 0) << err.str();
        EXPECT_NE(out.str().find("Imported 2 keys and 1 value."), std::string::npos) << out.str();
        std::string text;
        ASSERT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, "\\Software\\VtCli\\Sub", "n\xC3\xA4me", 32, text));
        EXPECT_EQ(text, "\xE2\x82\xAC");
    }

    writeAll(file("bad.reg"), "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\X]\r\n");
    EXPECT_EQ(run({"import", file("bad.reg").string()}), 1);
    EXPECT_NE(err.str().find("is not a registry file"), std::string::npos) << err.str();
    EXPECT_EQ(run({"import", file("absent.reg").string()}), 1);
    EXPECT_NE(err.str().find("cannot be opened"), std::string::npos) << err.str();
    // A native path at the top of the tree is a file, not an unknown switch.
    EXPECT_EQ(run({"import", "/vt-absent-file.reg"}), 1);
    EXPECT_NE(err.str().find("cannot be opened"), std::string::npos) << err.str();
}

// The command line's export writes every type code as reg does (REG_NONE as
// hex(0), unknown codes as hex(N) in lower-case digits) and its import reads
// them back, so nothing is lost; the window's writer and reader keep their
// comments and their table of known types.
TEST_F(Cli, RawTypesSurviveARoundTripThroughTheCommandLine)
{
    const ValueMap samples = {
        {"none", {REG_NONE, "\x01\x02"}},   {"empty", {REG_NONE, ""}},
        {"odd", {0xFFFF0012u, "\xAB"}},     {"ten", {0x10, std::string("\x00\xFF", 2)}},
        {"short", {REG_DWORD, "\x01\x02"}}, {"text", {REG_SZ, std::string("x\0", 2)}},
    };
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\VtRaw", true));
    for (const auto &[name, value] : samples)
        reg.writeValue(name, value.first, bytes(value.second));
    reg.CloseKey();

    for (const char *version : {"", "/reg:4"}) {
        SCOPED_TRACE(version);
        const std::string f = file("raw.reg").string();
        std::vector<std::string> words = {"export", "HKCU\\Software\\VtRaw", f, "/y"};
        if (*version)
            words.push_back(version);
        ASSERT_EQ(run(words), 0) << err.str();
        if (*version) {
            const std::string text = readAll(f);
            for (const char *line :
                 {"\"none\"=hex(0):01,02\r\n", "\"empty\"=hex(0):\r\n", "\"odd\"=hex(ffff0012):AB\r\n",
                  "\"ten\"=hex(10):00,FF\r\n", "\"short\"=hex(4):01,02\r\n"})
                EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
        }
        ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtRaw"));
        ASSERT_EQ(run({"import", f}), 0) << err.str();
        EXPECT_EQ(err.str(), "");
        EXPECT_EQ(valuesOf(HKEY_CURRENT_USER, "\\Software\\VtRaw"), samples);
    }

    // The window's export keeps its comments; its import ignores hex(10).
    ExportKeyToFile(HKEY_CURRENT_USER, "\\Software\\VtRaw", file("window.reg").string(), true, false, false);
    const std::string text = readAll(file("window.reg"));
    EXPECT_NE(text.find("// the type of value \"\"none\"\" is not set"), std::string::npos) << text;
    EXPECT_NE(text.find("// the type of value \"\"odd\"\" is unknown"), std::string::npos) << text;
    TMyRegistryReader reader;
    reader.WriteToRegistry = true;
    writeAll(file("ten.reg"), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\VtTen]\r\n\"ten\"=hex(10):00\r\n");
    ASSERT_TRUE(reader.LoadFromFile(file("ten.reg").string()));
    EXPECT_TRUE(valuesOf(HKEY_CURRENT_USER, "\\Software\\VtTen").empty());
}

// Lines an import cannot apply are counted and named on stderr; what was
// applied stays, and so does exit code 0 as with reg. Counts use singulars.
TEST_F(Cli, ImportSaysWhichLinesItIgnored)
{
    struct Case {
        const char *name;
        std::string body;
        std::string out, err;
    } cases[] = {
        {"clean", "[HKEY_CURRENT_USER\\Software\\VtIgn]\r\n\"a\"=\"1\"\r\n", "Imported 1 key and 1 value.\n", ""},
        {"three kinds",
         "[HKEY_NOWHERE\\X]\r\n\"lost\"=\"1\"\r\n\r\n"             // lines 3 and 4
         "[HKEY_CURRENT_USER\\Software\\VtIgn]\r\n\"a\"=\"1\"\r\n" // applied
         "\"t\"=str(2):\"x\"\r\n"                                  // line 8, unknown type
         "no equals sign\r\n"                                      // line 9
         "\"b\"=hex:01,\\\r\n  02\r\n",                            // applied
         "Imported 1 key and 2 values.\n", "4 lines were ignored, lines 3, 4, 8, 9.\n"},
        {"many", "[HKEY_CURRENT_USER\\Software\\VtIgn]\r\nx1\r\nx2\r\nx3\r\nx4\r\nx5\r\nx6\r\n",
         "Imported 1 key and 0 values.\n", "6 lines were ignored, the first: lines 4, 5, 6, 7, 8.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeAll(file("ign.reg"), "REGEDIT4\r\n\r\n" + c.body);
        EXPECT_EQ(run({"import", file("ign.reg").string()}), 0);
        EXPECT_EQ(out.str(), c.out + "The operation completed successfully.\n");
        EXPECT_EQ(err.str(), c.err);
    }
}

// A key the import cannot create is a failure, not an ignored line: the
// rest is applied, and the exit code says that not all of it was.
TEST_F(Cli, ImportFailsWhenAKeyCannotBeCreated)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtLocked"));
    {
        auto sd = vt::security::descriptorFromSddl("D:P(A;;KA;;;SY)");
        ASSERT_TRUE(sd.has_value());
        TMyRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\VtLocked", false));
        ASSERT_EQ(RegSetKeySecurity(reg.CurrentKey(), DACL_SECURITY_INFORMATION, sd->data()), ERROR_SUCCESS);
    }
    writeAll(file("locked.reg"), "REGEDIT4\r\n\r\n"
                                 "[HKEY_CURRENT_USER\\Software\\VtLocked\\Child]\r\n\"a\"=\"1\"\r\n\r\n"
                                 "[HKEY_CURRENT_USER\\Software\\VtOpen]\r\n\"b\"=\"2\"\r\n");
    EXPECT_EQ(run({"import", file("locked.reg").string()}), 1);
    EXPECT_EQ(out.str(), "Imported 1 key and 1 value.\n");
    EXPECT_EQ(err.str(), "2 lines were ignored, lines 3, 4.\nERROR: 1 key could not be created or opened.\n");
    EXPECT_EQ(valuesOf(HKEY_CURRENT_USER, "\\Software\\VtOpen")["b"].second, std::string("2\0", 2));
}

// A hex list with a byte that is not two hexadecimal digits is refused and
// counted, for every type code: named types, hex(0) and raw codes alike.
TEST_F(Cli, MalformedHexBytesAreIgnoredForEveryTypeCode)
{
    const char *types[] = {"hex",    "hex(0)", "hex(1)", "hex(2)",  "hex(3)",       "hex(4)",
                           "hex(5)", "hex(7)", "hex(b)", "hex(10)", "hex(ffff0012)"};
    const char *lists[] = {"01,100,02", "01,0g", "01,,02", "0102", "01 02", "01,02x", "1"};
    for (const char *type : types) {
        SCOPED_TRACE(type);
        std::string body = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\VtHex]\r\n";
        for (const char *list : lists)
            body += std::string("\"bad\"=") + type + ":" + list + "\r\n";
        body += std::string("\"good\"=") + type + ":41,42, \\\r\n  43,\r\n";
        writeAll(file("hex.reg"), body);
        DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtHex");
        EXPECT_EQ(run({"import", file("hex.reg").string()}), 0);
        EXPECT_EQ(out.str(), "Imported 1 key and 1 value.\nThe operation completed successfully.\n");
        EXPECT_EQ(err.str(), "7 lines were ignored, the first: lines 4, 5, 6, 7, 8.\n");
        const ValueMap values = valuesOf(HKEY_CURRENT_USER, "\\Software\\VtHex");
        EXPECT_EQ(values.count("bad"), 0u);
        EXPECT_EQ(values.count("good"), 1u);
    }
}

// A drive path names the same file for every verb that takes one: export
// and import map C:\ through the drive map as save and load do, and never
// leave a file literally named "C:\..." in the working folder.
TEST_F(Cli, ExportAndImportMapDrivePaths)
{
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtDrive", "v", 32, "1"));
    const fs::path native = m_dir / "system" / "drive_c" / "vt-drive.reg";
    std::error_code ec;
    fs::remove(native, ec);
    const fs::path literal = fs::current_path() / "C:\\vt-drive.reg";
    fs::remove(literal, ec);
    EXPECT_EQ(run({"export", "HKCU\\Software\\VtDrive", "C:\\vt-drive.reg"}), 0) << err.str();
    EXPECT_TRUE(fs::is_regular_file(native));
    EXPECT_FALSE(fs::exists(literal));
    fs::remove(literal, ec);
    EXPECT_EQ(run({"export", "HKCU\\Software\\VtDrive", "c:/vt-drive.reg"}, "n\n"), 1);
    EXPECT_EQ(out.str(), "File c:/vt-drive.reg already exists. Overwrite (Yes/No)?"
                         "The operation was canceled by the user.\n");
    ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtDrive"));
    EXPECT_EQ(run({"import", "C:\\vt-drive.reg"}), 0) << err.str();
    EXPECT_EQ(valuesOf(HKEY_CURRENT_USER, "\\Software\\VtDrive").count("v"), 1u);
}

} // namespace
