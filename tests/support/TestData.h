// The test-data corpus beside the checkout (../shared/testdata, or the folder
// VT_TESTDATA names). A clone on its own has none: tests that need it skip
// with a message saying so, and suites over it must not fail to enumerate.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace vt::test
{

inline std::filesystem::path testdataDir()
{
    if (const char *env = std::getenv("VT_TESTDATA"); env && *env)
        return env;
    return VT_TESTDATA_DIR;
}

inline bool haveTestdata()
{
    std::error_code ec;
    return std::filesystem::is_directory(testdataDir() / "hives", ec);
}

inline std::string testdataAbsentMessage()
{
    return "the test-data corpus is absent (looked in " + testdataDir().string() +
           "; VT_TESTDATA names another folder)";
}

} // namespace vt::test

// Skips the current test when the corpus is absent.
#define VT_SKIP_WITHOUT_TESTDATA()                                                                                     \
    do {                                                                                                               \
        if (!vt::test::haveTestdata())                                                                                 \
            GTEST_SKIP() << vt::test::testdataAbsentMessage();                                                         \
    } while (false)
