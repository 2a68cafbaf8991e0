// The reference hive of the test data (the largest real one), mounted on a
// new system of the benchmark's own, run as the local system account so
// that every key of the hive can be read, as the peers read them all.
#pragma once

#include "platform/vtPlatform.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace vt::bench
{

inline std::filesystem::path referenceHive()
{
    const char *env = std::getenv("VT_TESTDATA");
    const std::filesystem::path data = env ? std::filesystem::path(env) : std::filesystem::path(VT_TESTDATA_DIR);
    return data / "hives" / "real" / "regipy" / "SYSTEM_WIN_10_1709";
}

// A new folder below the temporary one.
inline std::filesystem::path makeBenchDir(const std::string &prefix)
{
    std::random_device rd;
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    return dir;
}

// Opens a system in dir/system and mounts a writable copy of the reference
// hive (dir/mounted.hive, returned in copy) at HKEY_LOCAL_MACHINE\name.
inline bool openSystemWithReferenceHive(const std::filesystem::path &dir, const char *name, std::string *copy = nullptr)
{
    vt::platform::SystemOptions options;
    options.root = (dir / "system").string();
    options.identity = vt::platform::Identity::LocalSystem;
    if (vt::platform::openSystem(options) != ERROR_SUCCESS)
        return false;
    const std::filesystem::path hive = dir / "mounted.hive";
    std::filesystem::copy_file(referenceHive(), hive);
    std::filesystem::permissions(hive, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    if (copy)
        *copy = hive.string();
    return RegLoadKeyA(HKEY_LOCAL_MACHINE, name, hive.c_str()) == ERROR_SUCCESS;
}

} // namespace vt::bench
