// The accessor and the one-shot functions on a temporary system.
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "core/zoStrings.h"
#include "platform/security/SecurityDescriptor.h"
#include "platform/vtPlatform.h"
#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace
{

const std::string kBase = "\\Software\\VtCoreTest";

std::string bytesText(const TRegByteArray &b)
{
    return FormatHexBytes(b);
}

TRegByteArray bytes(const std::string &s)
{
    return TRegByteArray(s.begin(), s.end());
}

class Registry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_system = std::make_unique<vt::test::TempSystem>();
        ASSERT_EQ(m_system->openResult(), ERROR_SUCCESS);
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kBase));
    }
    void TearDown() override { m_system.reset(); }

    // Raw (type code, bytes) of a value below the test key, for comparisons.
    static std::pair<uint32_t, TRegByteArray> raw(const std::string &path, const std::string &name)
    {
        TMyRegistry reg;
        EXPECT_TRUE(reg.OpenKey(path, false)) << path;
        uint32_t code = 0xDEAD;
        TRegByteArray data;
        EXPECT_TRUE(reg.readValue(name, code, data)) << path << " " << name;
        return {code, data};
    }

    static void setDescriptor(const std::string &path, const char *sddl)
    {
        auto sd = vt::security::descriptorFromSddl(sddl);
        ASSERT_TRUE(sd.has_value()) << sddl;
        TMyRegistry reg;
        ASSERT_TRUE(reg.OpenKey(path, false));
        ASSERT_EQ(RegSetKeySecurity(reg.CurrentKey(), DACL_SECURITY_INFORMATION, sd->data()), ERROR_SUCCESS);
    }

    std::unique_ptr<vt::test::TempSystem> m_system;
};

// A value of every kind the copy paths must carry unchanged: empty data and
// type codes without a name of their own included.
struct Sample {
    const char *name;
    uint32_t code;
    std::string data;
};
const Sample kSamples[] = {
    {"", REG_SZ, std::string("default\0", 8)},
    {"sz", REG_SZ, std::string("text\0", 5)},
    {"dword", REG_DWORD, std::string("\x2A\0\0\0", 4)},
    {"big", REG_DWORD_BIG_ENDIAN, std::string("\x12\x34\x56\x78", 4)},
    {"qword", REG_QWORD, std::string("\1\2\3\4\5\6\7\x80", 8)},
    {"multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
    {"emptyBinary", REG_BINARY, std::string()},
    {"emptyNone", REG_NONE, std::string()},
    {"link", REG_LINK, std::string("L\0i\0", 4)},
    {"custom", 0x100000, std::string("\xff\xfe", 2)},
};

void writeSamples(const std::string &path)
{
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(path, true));
    for (const Sample &s : kSamples)
        reg.writeValue(s.name, s.code, bytes(s.data));
}

// --- view, root and access

TEST(Accessor, ConstructionAndViews)
{
    TMyRegistry reg;
    EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);
    EXPECT_EQ(reg.CurrentKey(), nullptr);
    EXPECT_EQ(reg.Access(), REGSAM(KEY_ALL_ACCESS));
    EXPECT_EQ(reg.Bitness(), 32);
    EXPECT_EQ(reg.ViewMode(), 0);
    EXPECT_EQ(reg.ViewFlags(KEY_READ), REGSAM(KEY_READ));

    TMyRegistry64 reg64;
    EXPECT_EQ(reg64.Access(), REGSAM(KEY_ALL_ACCESS | KEY_WOW64_64KEY));
    EXPECT_EQ(reg64.Bitness(), 64);
    EXPECT_EQ(reg64.ViewMode(), 2);
    EXPECT_EQ(reg64.ViewFlags(KEY_READ), REGSAM(KEY_READ | KEY_WOW64_64KEY));

    try {
        reg64.SetBitness(48);
        FAIL() << "no exception";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Windows Registry only supported with 32 or 64 bits!");
    }
    EXPECT_EQ(reg64.Bitness(), 64);
    EXPECT_EQ(reg64.Access(), REGSAM(KEY_ALL_ACCESS | KEY_WOW64_64KEY));
    EXPECT_EQ(reg64.ViewMode(), 2);

    reg64.SetViewMode(3);
    EXPECT_EQ(reg64.ViewMode(), 3);
    EXPECT_EQ(reg64.Bitness(), 64);
    EXPECT_EQ(reg64.Access(), REGSAM(KEY_ALL_ACCESS | KEY_WOW64_64KEY));

    reg64.SetViewMode(0); // 0 and 1 both mean the default view
    EXPECT_EQ(reg64.ViewMode(), 1);
    EXPECT_EQ(reg64.Bitness(), 32);
    EXPECT_EQ(reg64.Access(), REGSAM(KEY_ALL_ACCESS));

    reg.SetAccess(KEY_READ | KEY_WOW64_32KEY);
    reg.SetBitness(64);
    EXPECT_EQ(reg.Access(), REGSAM(KEY_READ | KEY_WOW64_64KEY));
    reg.SetBitness(32);
    EXPECT_EQ(reg.Access(), REGSAM(KEY_READ));
    EXPECT_EQ(reg.ViewMode(), 1);
}

TEST_F(Registry, OpenKeyPathsAndRoot)
{
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kBase, false));
    EXPECT_EQ(reg.CurrentPath(), "Software\\VtCoreTest");
    ASSERT_TRUE(reg.OpenKey("Sub\\Deeper", true)); // relative to the open key
    EXPECT_EQ(reg.CurrentPath(), "Software\\VtCoreTest\\Sub\\Deeper");
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kBase + "\\Sub\\Deeper"));

    const HKEY before = reg.CurrentKey();
    EXPECT_FALSE(reg.OpenKey("\\Software\\VtCoreTest\\Missing", false));
    EXPECT_EQ(reg.CurrentKey(), before);
    EXPECT_EQ(reg.CurrentPath(), "Software\\VtCoreTest\\Sub\\Deeper");

    reg.SetRootKey(HKEY_CURRENT_USER); // same root: the key stays open
    EXPECT_EQ(reg.CurrentKey(), before);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(reg.CurrentKey(), nullptr);
    EXPECT_EQ(reg.CurrentPath(), "");
    EXPECT_TRUE(reg.OpenKey("SOFTWARE", false)); // relative to the root when none is open
    EXPECT_EQ(reg.CurrentPath(), "SOFTWARE");

    // A key name longer than 255 characters cannot be created.
    const std::string tooLong = "\\Software\\bad" + std::string(300, 'x') + "\\y";
    try {
        TMyRegistry r2;
        r2.CreateKey(tooLong);
        ADD_FAILURE() << "no exception";
    } catch (const ERegistryException &e) {
        EXPECT_EQ(e.what(), "Failed to create key " + tooLong);
    }
}

TEST_F(Registry, OpenKeyReadOnlyFallsBackToQueryValue)
{
    const std::string path = kBase + "\\QueryOnly";
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, path, "v", 32, "readable"));
    setDescriptor(path, "D:P(A;;0x1;;;WD)");

    TMyRegistry reg;
    EXPECT_FALSE(reg.OpenKey(path, false));
    const REGSAM access = reg.Access();
    ASSERT_TRUE(reg.OpenKeyReadOnly(path));
    EXPECT_EQ(reg.Access(), access);
    EXPECT_EQ(reg.CurrentPath(), path.substr(1));
    EXPECT_EQ(reg.ReadString("v"), "readable");
    std::string text;
    EXPECT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, path, "v", 32, text));
    EXPECT_EQ(text, "readable");
}

TEST_F(Registry, DeleteKeyRemovesThreeLevels)
{
    const std::string top = kBase + "\\Tree";
    for (const char *p : {"\\a\\b\\c", "\\a\\b2", "\\z"})
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, top + p, "v", 32, "x"));
    TMyRegistry reg;
    EXPECT_TRUE(reg.DeleteKey(top));
    EXPECT_FALSE(reg.KeyExists(top));
    EXPECT_TRUE(reg.KeyExists(kBase));

    // An empty path would name the root itself.
    EXPECT_FALSE(reg.DeleteKey("\\"));
    EXPECT_FALSE(reg.DeleteKey(""));
    EXPECT_FALSE(DeleteKeyAt(HKEY_CURRENT_USER, ""));
    EXPECT_TRUE(reg.KeyExists(kBase));
}

TEST_F(Registry, DeleteKeyInThe64BitView)
{
    const std::string path = "\\SOFTWARE\\VtCoreView";
    TMyRegistry64 reg64;
    reg64.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg64.OpenKey(path + "\\x\\y", true));
    reg64.CloseKey();
    ASSERT_TRUE(CreateKeyAt(HKEY_LOCAL_MACHINE, path + "\\only32", 0));
    ASSERT_TRUE(KeyExistsAt(HKEY_LOCAL_MACHINE, path + "\\x\\y", 1));
    ASSERT_FALSE(KeyExistsAt(HKEY_LOCAL_MACHINE, path + "\\x", 0)) << "the views are not separate";

    EXPECT_TRUE(reg64.DeleteKey(path));
    EXPECT_FALSE(KeyExistsAt(HKEY_LOCAL_MACHINE, path, 1));
    EXPECT_TRUE(KeyExistsAt(HKEY_LOCAL_MACHINE, path + "\\only32", 0));
    EXPECT_TRUE(DeleteKeyAt(HKEY_LOCAL_MACHINE, path, 0));
    EXPECT_FALSE(KeyExistsAt(HKEY_LOCAL_MACHINE, path, 0));
}

TEST_F(Registry, MoveKeyCopiesEverythingExactly)
{
    const std::string from = kBase + "\\From", to = kBase + "\\To";
    writeSamples(from);
    writeSamples(from + "\\child\\grandchild");
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, from + "\\emptychild"));

    TMyRegistry reg;
    reg.MoveKey(from, to, true);
    EXPECT_FALSE(reg.KeyExists(from));
    EXPECT_TRUE(reg.KeyExists(to + "\\emptychild"));
    for (const std::string &key : {to, to + "\\child\\grandchild"})
        for (const Sample &s : kSamples) {
            SCOPED_TRACE(key + " " + s.name);
            auto [code, data] = raw(key, s.name);
            EXPECT_EQ(code, s.code);
            EXPECT_EQ(bytesText(data), bytesText(bytes(s.data)));
        }
    std::vector<std::string> names;
    ASSERT_TRUE(ValueNamesAt(HKEY_CURRENT_USER, to, names));
    EXPECT_EQ(names.size(), std::size(kSamples));
}

TEST_F(Registry, MoveKeyRefusals)
{
    const std::string a = kBase + "\\A", b = kBase + "\\B";
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, a, "v", 32, "from a"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, b, "v", 32, "from b"));
    TMyRegistry reg;

    reg.MoveKey(a, b, true); // onto an existing key: nothing happens
    EXPECT_TRUE(reg.KeyExists(a));
    std::string text;
    ASSERT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, b, "v", 32, text));
    EXPECT_EQ(text, "from b");
    EXPECT_TRUE(MoveKeyAt(HKEY_CURRENT_USER, a, b, true)); // reports true all the same
    EXPECT_FALSE(MoveKeyAt(HKEY_CURRENT_USER, a, b, false));
    EXPECT_TRUE(reg.KeyExists(a));

    reg.MoveKey(a, a + "\\inside", true); // into itself: would never end
    EXPECT_TRUE(reg.KeyExists(a));
    EXPECT_FALSE(reg.KeyExists(a + "\\inside"));
    // However the two paths are spelt, a target inside the source is refused
    // and nothing changes.
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, a + "\\child"));
    struct Into {
        const char *what;
        std::string from, to;
        bool relative;
    } into[] = {
        {"trailing backslash", a + "\\", a + "\\Inside", false},
        {"relative source", "A", a + "\\Inside", true},
        {"other case, two levels down", "\\SOFTWARE\\vtcoretest\\a", a + "\\child\\Inside", false},
        {"doubled separator", a, kBase + "\\\\A\\Inside", false},
    };
    for (const Into &c : into) {
        TMyRegistry r;
        if (c.relative) {
            ASSERT_TRUE(r.OpenKey(kBase, false));
        }
        r.MoveKey(c.from, c.to, true);
        std::vector<std::string> names;
        EXPECT_TRUE(KeyNamesAt(HKEY_CURRENT_USER, a, names)) << c.what;
        EXPECT_EQ(names, std::vector<std::string>{"child"}) << c.what;
        EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, a + "\\child\\Inside")) << c.what;
        EXPECT_TRUE(CopyKeyAt(HKEY_CURRENT_USER, c.relative ? a : c.from, false, c.to)) << c.what;
        EXPECT_TRUE(KeyNamesAt(HKEY_CURRENT_USER, a, names));
        EXPECT_EQ(names, std::vector<std::string>{"child"}) << c.what << " (CopyKeyAt)";
    }
    ASSERT_TRUE(DeleteKeyAt(HKEY_CURRENT_USER, a + "\\child"));
    ASSERT_TRUE(CopyKeyAt(HKEY_CURRENT_USER, a, false, kBase + "\\A2"));
    EXPECT_TRUE(reg.KeyExists(a));
    EXPECT_TRUE(reg.KeyExists(kBase + "\\A2"));
}

TEST_F(Registry, MoveKeyKeepsSourceWhenCopyIsIncomplete)
{
    const std::string from = kBase + "\\Partly", to = kBase + "\\PartlyMoved";
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, from, "kept", 32, "value"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, from + "\\open", "v", 32, "x"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, from + "\\locked", "secret", 32, "x"));
    setDescriptor(from + "\\locked", "D:P(A;;KA;;;SY)");

    TMyRegistry reg;
    reg.MoveKey(from, to, true);
    std::string text;
    EXPECT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, from, "kept", 32, text));
    EXPECT_EQ(text, "value");
    EXPECT_TRUE(reg.KeyExists(from + "\\open"));
    EXPECT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, to, "kept", 32, text));
}

// A move within one parent is a rename: the subtree keeps its class names
// and last-write times, and a handle into it stays valid.
TEST_F(Registry, MoveKeyWithinItsParentRenamesInPlace)
{
    const std::string from = kBase + "\\Here", to = kBase + "\\There";
    HKEY child = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (from.substr(1) + "\\child").c_str(), 0, const_cast<LPSTR>("Cls"), 0,
                              KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(child, "v", 0, REG_DWORD, reinterpret_cast<const BYTE *>("\1\0\0\0"), 4), ERROR_SUCCESS);
    auto info = [](HKEY k, std::string &cls) {
        char buf[32] = {};
        DWORD n = sizeof buf;
        FILETIME t{};
        RegQueryInfoKeyA(k, buf, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &t);
        cls = buf;
        return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    std::string cls;
    const uint64_t before = info(child, cls);

    TMyRegistry reg;
    reg.MoveKey(from, to, true);
    EXPECT_FALSE(reg.KeyExists(from));
    EXPECT_EQ(info(child, cls), before) << "the open handle still reaches the key, its time unchanged";
    EXPECT_EQ(cls, "Cls");
    HKEY moved = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (to.substr(1) + "\\child").c_str(), 0, KEY_READ, &moved),
              ERROR_SUCCESS);
    EXPECT_EQ(info(moved, cls), before);
    EXPECT_EQ(cls, "Cls");
    RegCloseKey(moved);
    RegCloseKey(child);
}

TEST_F(Registry, RenameValueKeepsTypeAndData)
{
    writeSamples(kBase);
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kBase, false));
    for (const Sample &s : kSamples) {
        if (!*s.name)
            continue;
        SCOPED_TRACE(s.name);
        const std::string renamed = std::string(s.name) + "Renamed";
        reg.RenameValue(s.name, renamed);
        EXPECT_FALSE(reg.ValueExists(s.name));
        auto [code, data] = raw(kBase, renamed);
        EXPECT_EQ(code, s.code);
        EXPECT_EQ(bytesText(data), bytesText(bytes(s.data)));
    }

    reg.WriteString("one", "1");
    reg.WriteString("two", "2");
    reg.RenameValue("one", "two"); // the new name exists: nothing happens
    EXPECT_EQ(reg.ReadString("one"), "1");
    EXPECT_EQ(reg.ReadString("two"), "2");
    EXPECT_FALSE(RenameValueAt(HKEY_CURRENT_USER, kBase, "one", false, "two"));
    EXPECT_TRUE(RenameValueAt(HKEY_CURRENT_USER, kBase, "one", true, "two"));
    EXPECT_FALSE(reg.ValueExists("one"));
    EXPECT_EQ(reg.ReadString("two"), "1");
    EXPECT_FALSE(RenameValueAt(HKEY_CURRENT_USER, kBase, "missing", true, "two"));
    EXPECT_EQ(reg.ReadString("two"), "1");
    EXPECT_FALSE(RenameValueAt(HKEY_CURRENT_USER, kBase, "two", true, "TWO")); // the same value
    EXPECT_EQ(reg.ReadString("two"), "1");
}

TEST_F(Registry, RenameValueNeverLosesTheValueWhenTheWriteFails)
{
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kBase, false));
    reg.WriteString("precious", "data");
    const std::string tooLong(20000, 'n'); // above the longest value name Windows takes
    EXPECT_THROW(reg.RenameValue("precious", tooLong), ERegistryException);
    EXPECT_EQ(reg.ReadString("precious"), "data");
    EXPECT_FALSE(RenameValueAt(HKEY_CURRENT_USER, kBase, "precious", true, tooLong));
    EXPECT_EQ(reg.ReadString("precious"), "data");
}

TEST_F(Registry, MultiStringForms)
{
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kBase, false));
    struct Case {
        std::string text;
        std::string stored;
    } writes[] = {
        {"", std::string("\0", 1)},
        {"a\r\nb\r\n", std::string("a\0b\0\0", 5)},
        {"a\r\nb", std::string("a\0b\0", 4)},
    };
    for (const Case &c : writes) {
        reg.WriteMultiString("m", c.text);
        auto [code, data] = raw(kBase, "m");
        EXPECT_EQ(code, uint32_t(REG_MULTI_SZ));
        EXPECT_EQ(bytesText(data), bytesText(bytes(c.stored))) << c.text;
    }
    reg.writeValue("m", REG_MULTI_SZ, bytes(std::string("a\0\0b\0\0", 6)));
    EXPECT_EQ(reg.ReadMultiString("m"), "a\r\n\r\nb\r\n");
    EXPECT_EQ(reg.ReadDataAsText("m"), "a  b  ");
    reg.writeValue("m", REG_MULTI_SZ, {});
    EXPECT_EQ(reg.ReadMultiString("m"), "");
    EXPECT_EQ(reg.ReadMultiString("absent"), "");
}

TEST_F(Registry, NumbersAndByteOrder)
{
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kBase, false));
    reg.WriteBigEndianInteger("be", 0x12345678);
    EXPECT_EQ(raw(kBase, "be"), std::make_pair(uint32_t(REG_DWORD_BIG_ENDIAN), bytes("\x12\x34\x56\x78")));
    EXPECT_EQ(reg.ReadBigEndianInteger("be"), 0x12345678u);
    EXPECT_EQ(reg.ReadDataAsText("be"), "0x12345678 (305419896)");

    reg.WriteCardinal("dw", 0x80000001u);
    EXPECT_EQ(raw(kBase, "dw"), std::make_pair(uint32_t(REG_DWORD), bytes(std::string("\x01\0\0\x80", 4))));
    EXPECT_EQ(reg.ReadInteger("dw"), int32_t(0x80000001u));
    EXPECT_EQ(reg.ReadCardinal("dw"), 0x80000001u);
    EXPECT_TRUE(reg.ReadBool("dw"));

    reg.WriteInt64("qw", -2);
    EXPECT_EQ(raw(kBase, "qw"), std::make_pair(uint32_t(REG_QWORD), bytes("\xfe\xff\xff\xff\xff\xff\xff\xff")));
    EXPECT_EQ(reg.ReadLittleEndianInt64("qw"), -2);

    reg.WriteFloat("f", 45000.25);
    EXPECT_EQ(reg.ReadFloat("f"), 45000.25);
    EXPECT_EQ(reg.GetDataType("f"), rdBinary);

    reg.WriteNone("none");
    EXPECT_EQ(raw(kBase, "none"), std::make_pair(uint32_t(REG_NONE), TRegByteArray()));

    TMemoryStream stream;
    stream.write("xyz", 3);
    ASSERT_TRUE(WriteStreamAt(HKEY_CURRENT_USER, kBase, "stream", 32, rdLink, stream));
    EXPECT_EQ(raw(kBase, "stream"), std::make_pair(uint32_t(REG_LINK), bytes("xyz")));
    TMemoryStream back;
    EXPECT_TRUE(reg.ReadBinaryToStream("stream", back));
    EXPECT_EQ(back.bytes, bytes("xyz"));
    EXPECT_FALSE(reg.ReadBinaryToStream("absent", back));
}

TEST_F(Registry, TypedReadErrors)
{
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kBase, false));
    reg.writeValue("bin4", REG_BINARY, bytes(std::string("\1\2\3\4", 4)));
    reg.WriteInteger("dword", 7);
    reg.WriteInt64("qword", 7);
    reg.WriteString("sz", "abc");
    reg.writeValue("longDword", REG_DWORD, bytes(std::string("\1\0\0\0\0", 5)));

    const std::string invalid = "Invalid data type for '%'", failed = "Failed to get data for '%'";
    struct Case {
        const char *name;
        std::function<void()> read;
        std::string error; // "" when the read succeeds
    } cases[] = {
        {"bin4", [&] { reg.ReadCardinal("bin4"); }, invalid},
        {"bin4", [&] { reg.ReadFloat("bin4"); }, invalid},
        {"dword", [&] { reg.ReadInt64("dword"); }, invalid},
        {"dword", [&] { reg.ReadBigEndianInteger("dword"); }, invalid},
        {"dword", [&] { reg.ReadString("dword"); }, invalid},
        {"dword", [&] { reg.ReadMultiString("dword"); }, invalid},
        {"qword", [&] { reg.ReadLittleEndianInt64("qword"); }, ""},
        {"qword", [&] { reg.ReadInteger("qword"); }, failed},
        {"longDword", [&] { reg.ReadInteger("longDword"); }, failed},
        {"sz", [&] { reg.ReadInteger("sz"); }, invalid},
        {"absent", [&] { reg.ReadInteger("absent"); }, failed},
        {"absent", [&] { EXPECT_EQ(reg.ReadString("absent"), ""); }, ""},
        {"bin4",
         [&] {
             uint8_t b[3];
             reg.ReadBinaryData("bin4", b, 3);
         },
         invalid},
        {"bin4",
         [&] {
             uint8_t b[4];
             EXPECT_EQ(reg.ReadBinaryData("bin4", b, 4), 4);
         },
         ""},
        {"absent",
         [&] {
             uint8_t b[4];
             EXPECT_EQ(reg.ReadBinaryData("absent", b, 4), 0);
         },
         ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(i);
        std::string expected = c.error;
        if (!expected.empty())
            expected.replace(expected.find('%'), 1, c.name);
        try {
            c.read();
            EXPECT_EQ(expected, "");
        } catch (const ERegistryException &e) {
            EXPECT_EQ(e.what(), expected);
        }
    }
    TMyRegistry closed; // writes without an open key
    try {
        closed.WriteString("v", "x");
        FAIL();
    } catch (const ERegistryException &e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'v'");
    }
}

TEST_F(Registry, NamesInfoAndDataInfo)
{
    writeSamples(kBase);
    for (const char *k : {"b", "A", "c"})
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kBase + "\\" + k));
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kBase));
    std::vector<std::string> keys{"stale"}, values;
    reg.GetKeyNames(keys);
    EXPECT_EQ(keys, (std::vector<std::string>{"A", "b", "c"}));
    reg.GetValueNames(values);
    ASSERT_EQ(values.size(), std::size(kSamples));
    EXPECT_NE(std::find(values.begin(), values.end(), ""), values.end());
    EXPECT_TRUE(reg.HasSubKeys());

    TRegKeyInfo info;
    ASSERT_TRUE(reg.GetKeyInfo(info));
    EXPECT_EQ(info.NumSubKeys, 3u);
    EXPECT_EQ(info.NumValues, std::size(kSamples));
    EXPECT_GE(info.MaxValueLen, std::string("emptyBinary").size());
    EXPECT_GE(info.MaxDataLen, 8u);
    EXPECT_NE(info.LastWriteTime, 0u);

    TRegDataInfo data;
    ASSERT_TRUE(reg.GetDataInfo("custom", data));
    EXPECT_EQ(data.RegData, rdUnknown);
    EXPECT_EQ(data.DataType, 0x100000u);
    EXPECT_EQ(data.DataSize, 2);
    EXPECT_FALSE(reg.GetDataInfo("absent", data));
    EXPECT_EQ(data.DataType, 0u);
    EXPECT_EQ(data.DataSize, 0);
    EXPECT_EQ(reg.GetDataSize("absent"), -1);
    EXPECT_EQ(reg.GetDataSize("emptyBinary"), 0);
    EXPECT_EQ(reg.GetDataType("big"), rdBigEndianInteger);
    EXPECT_EQ(reg.ReadDataAsText("custom"), "");

    // GetData replaces the type only for the members that cannot tell codes apart.
    uint8_t buf[8];
    TRegDataType t = rdInteger;
    reg.GetData("qword", buf, t, 8);
    EXPECT_EQ(t, rdInteger);
    t = rdCardinal;
    reg.GetData("dword", buf, t, 8);
    EXPECT_EQ(t, rdCardinal);
    t = rdCardinal;
    reg.GetData("qword", buf, t, 8);
    EXPECT_EQ(t, rdInt64);
}

TEST_F(Registry, DataTextRoundTrips)
{
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kBase, false));
    reg.WriteInteger("v", 42);
    const std::string shown = reg.ReadDataAsText("v");
    EXPECT_EQ(shown, "0x0000002A (42)");
    reg.WriteDataFromText("v", shown, rdString, rdInteger);
    EXPECT_EQ(reg.ReadString("v"), "0x0000002A (42)");
    reg.WriteDataFromText("v", reg.ReadString("v"), rdInteger, rdInteger);
    EXPECT_EQ(reg.ReadInteger("v"), 42);

    struct Case {
        std::string text;
        TRegDataType newType, oldType;
        uint32_t code;
        std::string stored;
    } cases[] = {
        {"hello", rdInteger, rdString, REG_DWORD, std::string(4, '\0')},
        {"0x1122334455667788 (x)", rdInteger, rdInt64, REG_DWORD, "\x88\x77\x66\x55"},
        {"0x1122334455667788 (x)", rdInt64, rdInteger, REG_QWORD, std::string("\x88\x77\x66\x55\0\0\0\0", 8)},
        {"0x00000100 (256)", rdBigEndianInteger, rdCardinal, REG_DWORD_BIG_ENDIAN, std::string("\0\0\x01\0", 4)},
        {"a\r\nb", rdMultiString, rdString, REG_MULTI_SZ, std::string("a\0b\0", 4)},
        {"%X%", rdExpandString, rdString, REG_EXPAND_SZ, std::string("%X%\0", 4)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        reg.WriteDataFromText("t", c.text, c.newType, c.oldType);
        EXPECT_EQ(raw(kBase, "t"), std::make_pair(c.code, bytes(c.stored)));
    }
}

TEST_F(Registry, OneShotFunctions)
{
    const HKEY cu = HKEY_CURRENT_USER;
    EXPECT_TRUE(WriteTypedStringAt(cu, kBase + "\\One", "e", 32, rdExpandString, "%TEMP%"));
    EXPECT_FALSE(WriteTypedStringAt(cu, kBase + "\\One", "x", 32, rdBinary, "no"));
    EXPECT_FALSE(ValueExistsAt(cu, kBase + "\\One", "x"));
    std::string text = "unchanged";
    EXPECT_TRUE(ReadTypedStringAt(cu, kBase + "\\One", "e", 32, text));
    EXPECT_EQ(text, "%TEMP%");
    EXPECT_TRUE(WriteIntegerAt(cu, kBase + "\\One", "i", 32, -5));
    text = "unchanged";
    EXPECT_FALSE(ReadTypedStringAt(cu, kBase + "\\One", "i", 32, text));
    EXPECT_EQ(text, "unchanged");
    EXPECT_TRUE(WriteBoolAt(cu, kBase + "\\One", "b", true));
    EXPECT_TRUE(WriteFloatAt(cu, kBase + "\\One", "f", 1.5));
    EXPECT_TRUE(ValueExistsAt(cu, kBase + "\\One", "f"));
    EXPECT_FALSE(ValueExistsAt(cu, kBase + "\\Nope", "f"));

    EXPECT_TRUE(DeleteValueAt(cu, kBase + "\\One", "f"));
    EXPECT_FALSE(DeleteValueAt(cu, kBase + "\\One", "f"));
    std::vector<std::string> list{"stale"};
    EXPECT_FALSE(KeyNamesAt(cu, kBase + "\\Nope", list));
    EXPECT_TRUE(KeyNamesAt(cu, kBase, list));
    EXPECT_EQ(list, std::vector<std::string>{"One"});
    EXPECT_FALSE(DeleteKeyAt(cu, kBase + "\\Nope"));
    EXPECT_TRUE(DeleteKeyAt(cu, kBase + "\\One"));
    EXPECT_FALSE(KeyExistsAt(cu, kBase + "\\One"));
}

TEST_F(Registry, CopyValueAtKeepsEveryKind)
{
    writeSamples(kBase + "\\Src");
    for (const Sample &s : kSamples) {
        SCOPED_TRACE(s.name);
        const std::string target = std::string("copy_") + s.name;
        CopyValueAt(HKEY_CURRENT_USER, kBase + "\\Src", s.name, true, target, kBase + "\\Dst", HKEY_CURRENT_USER);
        EXPECT_FALSE(ValueExistsAt(HKEY_CURRENT_USER, kBase + "\\Src", s.name));
        EXPECT_EQ(raw(kBase + "\\Dst", target), std::make_pair(s.code, bytes(s.data)));
    }
    // Moving a value onto itself keeps it, however the key is named.
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kBase, "self", 32, "me"));
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Classes\\VtSelf", "self", 32, "me"));
    const std::string sid = vt::platform::currentUserSid();
    struct Same {
        HKEY sourceRoot;
        std::string sourcePath;
        HKEY targetRoot;
        std::string targetPath;
    } same[] = {
        {HKEY_CURRENT_USER, kBase, HKEY_CURRENT_USER, "\\software\\vtcoretest"},
        {HKEY_CURRENT_USER, kBase + "\\", HKEY_CURRENT_USER, kBase},
        {HKEY_CURRENT_USER, kBase, HKEY_USERS, "\\" + sid + kBase},
        {HKEY_CLASSES_ROOT, "\\VtSelf", HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Classes\\VtSelf"},
        {HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Classes\\VtSelf\\", HKEY_CLASSES_ROOT, "\\VtSelf"},
    };
    for (const Same &c : same) {
        CopyValueAt(c.sourceRoot, c.sourcePath, "self", true, "SELF", c.targetPath, c.targetRoot);
        std::string text;
        EXPECT_TRUE(ReadTypedStringAt(c.sourceRoot, c.sourcePath, "self", 32, text)) << c.sourcePath;
        EXPECT_EQ(text, "me") << c.sourcePath << " -> " << c.targetPath;
    }
}

// Failed calls leave their Windows code for the caller to show; results say
// whether a rename, move or copy took place.
TEST_F(Registry, LastErrorAndResultsOfRenamesMovesAndCopies)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kBase + "\\A\\Sub"));
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kBase + "\\B"));
    TMyRegistry reg;
    EXPECT_EQ(reg.LastError(), ERROR_SUCCESS);
    ASSERT_TRUE(reg.OpenKey(kBase, false));
    EXPECT_FALSE(reg.DeleteValue("missing"));
    EXPECT_EQ(reg.LastError(), ERROR_FILE_NOT_FOUND);
    reg.CloseKey();

    // A taken name: Windows' answer, both keys as they were.
    EXPECT_FALSE(reg.RenameKey(kBase + "\\A", "b"));
    EXPECT_EQ(reg.LastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kBase + "\\A\\Sub"));
    EXPECT_FALSE(reg.RenameKey(kBase + "\\Missing", "C"));
    EXPECT_EQ(reg.LastError(), ERROR_FILE_NOT_FOUND);
    // Letter case alone, and a free name.
    EXPECT_TRUE(reg.RenameKey(kBase + "\\A", "a"));
    std::vector<std::string> names;
    KeyNamesAt(HKEY_CURRENT_USER, kBase, names);
    EXPECT_EQ(names, std::vector<std::string>({"a", "B"}));
    EXPECT_TRUE(reg.RenameKey(kBase + "\\a", "C"));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kBase + "\\C\\Sub"));

    EXPECT_FALSE(reg.MoveKey(kBase + "\\C", kBase + "\\B", true));
    EXPECT_EQ(reg.LastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(reg.MoveKey(kBase + "\\C", kBase + "\\C\\Sub\\Inner", false));
    EXPECT_EQ(reg.LastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(reg.MoveKey(kBase + "\\C", kBase + "\\B\\C", true));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kBase + "\\B\\C\\Sub"));
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kBase + "\\C"));

    // A value copied between the views of HKLM\SOFTWARE lands in the view asked for.
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtViews", "v", 64, "in 64"));
    EXPECT_TRUE(CopyValueAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtViews", "v", false, "v", "\\SOFTWARE\\VtViews",
                            HKEY_LOCAL_MACHINE, 1, 0));
    std::string text;
    EXPECT_TRUE(ReadTypedStringAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtViews", "v", 32, text));
    EXPECT_EQ(text, "in 64");
    EXPECT_TRUE(KeyExistsAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Wow6432Node\\VtViews", 1));
    EXPECT_FALSE(CopyValueAt(HKEY_CURRENT_USER, kBase, "missing", true, "x", kBase + "\\B", HKEY_CURRENT_USER));
}

TEST_F(Registry, KeyTimeToDateTimeTruncatesToTwoSeconds)
{
    auto localTime = [](WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
        SYSTEMTIME st{y, mo, 0, d, h, mi, s, 0};
        FILETIME local{}, utc{};
        EXPECT_TRUE(SystemTimeToFileTime(&st, &local));
        EXPECT_TRUE(LocalFileTimeToFileTime(&local, &utc));
        return (uint64_t(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
    };
    const double day = 43997; // 15 June 2020
    struct Case {
        uint64_t time;
        double expected;
    } cases[] = {
        {localTime(2020, 6, 15, 12, 0, 1), day + 0.5},
        {localTime(2020, 6, 15, 12, 0, 0), day + 0.5},
        {localTime(2020, 6, 15, 23, 59, 59), day + 86398.0 / 86400},
        {localTime(1980, 1, 1, 0, 0, 0), 29221},
        {localTime(1979, 12, 31, 12, 0, 0), 0},
        {localTime(2108, 1, 1, 0, 0, 0), 0},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(KeyTimeToDateTime(c.time), c.expected, 1e-9) << c.time;
}

} // namespace
