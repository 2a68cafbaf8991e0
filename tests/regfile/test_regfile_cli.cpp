// The export and import verbs of vantrel-cli, in process.
#include "RegfileFixture.h"

#include "cli/CliApp.h"
#include "regfile/RegFileText.h"

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
        EXPECT_NE(out.str().find("Imported 2 keys and 1 values."), std::string::npos) << out.str();
        std::string text;
        ASSERT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, "\\Software\\VtCli\\Sub", "n\xC3\xA4me", 32, text));
        EXPECT_EQ(text, "\xE2\x82\xAC");
    }

    writeAll(file("bad.reg"), "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\X]\r\n");
    EXPECT_EQ(run({"import", file("bad.reg").string()}), 1);
    EXPECT_NE(err.str().find("is not a registry file"), std::string::npos) << err.str();
    EXPECT_EQ(run({"import", file("absent.reg").string()}), 1);
    EXPECT_NE(err.str().find("cannot be opened"), std::string::npos) << err.str();
}

} // namespace
