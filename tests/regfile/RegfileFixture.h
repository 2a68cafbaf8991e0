// A temporary replacement system for each test, and helpers to look at it.
#pragma once

#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "platform/vtPlatform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

namespace regfiletest
{

namespace fs = std::filesystem;

inline TRegByteArray bytes(const std::string &s)
{
    return TRegByteArray(s.begin(), s.end());
}

inline std::string readAll(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void writeAll(const fs::path &p, const std::string &data)
{
    std::ofstream f(p, std::ios::binary);
    f << data;
}

// name -> (type code, bytes)
using ValueMap = std::map<std::string, std::pair<uint32_t, std::string>>;

inline ValueMap valuesOf(HKEY root, const std::string &path)
{
    ValueMap out;
    TMyRegistry reg;
    reg.SetRootKey(root);
    if (!reg.OpenKeyReadOnly(path))
        return out;
    std::vector<std::string> names;
    reg.GetValueNames(names);
    for (const std::string &n : names) {
        uint32_t code = 0;
        TRegByteArray data;
        EXPECT_TRUE(reg.readValue(n, code, data)) << n;
        out[n] = {code, std::string(data.begin(), data.end())};
    }
    return out;
}

// Every key below path (relative names) with its values.
inline std::map<std::string, ValueMap> treeOf(HKEY root, const std::string &path)
{
    std::map<std::string, ValueMap> out;
    out[""] = valuesOf(root, path);
    std::vector<std::string> subs;
    KeyNamesAt(root, path, subs);
    for (const std::string &s : subs)
        for (auto &[k, v] : treeOf(root, path + "\\" + s))
            out["\\" + s + k] = v;
    return out;
}

class TempSystemTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::random_device rd;
        m_dir = fs::temp_directory_path() / ("vt-regfile-" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(m_dir / "files");
        openSystem();
    }
    void TearDown() override
    {
        vt::platform::closeSystem();
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    void openSystem()
    {
        vt::platform::SystemOptions options;
        options.root = (m_dir / "system").string();
        ASSERT_EQ(vt::platform::openSystem(options), ERROR_SUCCESS);
    }
    fs::path file(const std::string &name) const { return m_dir / "files" / name; }

    fs::path m_dir;
};

} // namespace regfiletest
