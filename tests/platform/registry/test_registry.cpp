#include "platform/vtPlatform.h"
#include "platform/win32.h"
#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Registry, FreshSystemHasTemplateContent)
{
    vt::test::TempSystem sys;
    ASSERT_EQ(sys.openResult(), ERROR_SUCCESS);
    HKEY k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                            KEY_READ | KEY_WOW64_64KEY, &k),
              ERROR_SUCCESS);
    char buf[64];
    DWORD size = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueExA(k, "SystemRoot", nullptr, &type, reinterpret_cast<BYTE *>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_STREQ(buf, "C:\\Windows");
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

} // namespace

namespace {

TEST(Registry, SmokePersistence)
{
    vt::test::TempSystem sys;
    HKEY k;
    DWORD disp = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vt\\A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, DWORD(REG_CREATED_NEW_KEY));
    ASSERT_EQ(RegSetValueExA(k, "x", 0, REG_SZ, reinterpret_cast<const BYTE *>("hello"), 6), ERROR_SUCCESS);
    RegCloseKey(k);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vt\\A", 0, KEY_READ, &k), ERROR_SUCCESS);
    char buf[16];
    DWORD size = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(k, "x", nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "hello");
    RegCloseKey(k);
}

} // namespace
