// A file exported here, merged into a hive by hivexregedit, gives the same
// hive content as our own import of it. Both hives are read back with
// hivexregedit --export, which decodes names whether a hive stores them as
// Latin-1 or UTF-16.
#include "RegfileFixture.h"

#include "regfile/RegFileReader.h"
#include "regfile/RegFileText.h"
#include "regfile/RegFileWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace regfiletest;

namespace
{

std::string quoted(const fs::path &p)
{
    return "'" + p.string() + "'";
}

// Perl reads and writes UTF-8 only when told so.
const std::string kHivex = "PERL_UNICODE=SDA hivexregedit ";

// The exported lines of the test key, sorted: hivex and the engine may order
// values differently.
std::vector<std::string> lookup(const fs::path &hive)
{
    const fs::path listing = hive.string() + ".txt";
    const std::string cmd = kHivex + "--export --prefix HKEY_CURRENT_USER " + quoted(hive) +
                            " '\\Software\\VtInterop' > " + quoted(listing);
    std::vector<std::string> lines;
    if (std::system(cmd.c_str()) != 0)
        return lines;
    std::istringstream in(readAll(listing));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

using Interop = TempSystemTest;

TEST_F(Interop, HivexMergeMatchesOurImport)
{
    const std::string base = "\\Software\\VtInterop";
    {
        TMyRegistry reg;
        ASSERT_TRUE(reg.OpenKey(base + "\\Sub \xC3\xA9t\xC3\xA9", true));
        reg.WriteString("", "default");
        reg.WriteString("path", "C:\\dir\\");
        reg.WriteString("n\xC3\xA4me", "\xE2\x82\xAC and \"quotes\"");
        reg.WriteExpandString("exp", "%SystemRoot%\\x");
        reg.WriteInteger("dword", 0x12345678);
        reg.WriteBigEndianInteger("big", 0x01020304);
        reg.WriteInt64("qword", 0x0102030405060708LL);
        reg.WriteMultiString("multi", "one\r\n\r\nthree\r\n");
        const uint8_t bin[] = {0, 1, 2, 0, 0xff, 0};
        reg.WriteBinaryData("bin", bin, sizeof bin);
        std::string longData(300, '\x5a');
        reg.WriteBinaryData("long", longData.data(), int32_t(longData.size()));
        reg.WriteBinaryData("empty", nullptr, 0);
    }
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, base + "\\Other"));
    const fs::path exported = file("export.reg");
    ExportKeyToFile(HKEY_CURRENT_USER, base, exported.string(), true, false, true);

    ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, base));
    const std::string user = vt::platform::currentUserName();
    const fs::path userHive = m_dir / "system" / "drive_c" / "Users" / user / "NTUSER.DAT";
    vt::platform::closeSystem();
    fs::copy_file(userHive, file("hivex.hive"));

    // hivexregedit reads UTF-8 text with LF line ends.
    const std::string wide = readAll(exported);
    ASSERT_GT(wide.size(), 2u);
    std::string text = Utf16leBytesToUtf8(reinterpret_cast<const uint8_t *>(wide.data()) + 2, wide.size() - 2);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    writeAll(file("export-utf8.reg"), text);
    const std::string merge = kHivex + "--merge --prefix 'HKEY_CURRENT_USER' " + quoted(file("hivex.hive")) + " " +
                              quoted(file("export-utf8.reg"));
    ASSERT_EQ(std::system(merge.c_str()), 0) << merge;

    openSystem();
    TMyRegistryReader reader;
    reader.WriteToRegistry = true;
    ASSERT_TRUE(reader.LoadFromFile(exported.string()));
    vt::platform::closeSystem();
    fs::copy_file(userHive, file("ours.hive"));

    const std::vector<std::string> theirs = lookup(file("hivex.hive"));
    const std::vector<std::string> ours = lookup(file("ours.hive"));
    EXPECT_NE(std::find(ours.begin(), ours.end(), "[HKEY_CURRENT_USER\\Software\\VtInterop\\Sub \xC3\xA9t\xC3\xA9]"),
              ours.end());
    EXPECT_GE(ours.size(), 3u + 11u);
    EXPECT_EQ(ours, theirs);
    openSystem();
}

} // namespace
