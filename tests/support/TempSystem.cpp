#include "tests/support/TempSystem.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vt::test
{

std::string makeTempDir(const char *prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    return pattern;
}

bool enablePrivilege(const char *name, bool on)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = on ? SE_PRIVILEGE_ENABLED : 0;
    const bool ok = LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid) &&
                    AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return ok;
}

void removeTree(const std::string &path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

TempSystem::TempSystem(vt::platform::SystemOptions options) : m_options(std::move(options))
{
    m_root = makeTempDir("vt-system");
    m_options.root = m_root;
    m_openResult = vt::platform::openSystem(m_options);
}

TempSystem::~TempSystem()
{
    vt::platform::closeSystem();
    removeTree(m_root);
}

LONG TempSystem::reopen()
{
    vt::platform::closeSystem();
    m_openResult = vt::platform::openSystem(m_options);
    return m_openResult;
}

LONG TempSystem::reopen(const vt::platform::SystemOptions &options)
{
    m_options = options;
    m_options.root = m_root;
    return reopen();
}

void TempSystem::close()
{
    vt::platform::closeSystem();
}

std::string fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace vt::test
