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

LONG setSz(HKEY root, const char *path, const char *name, const std::string &text)
{
    OpenKey k;
    LONG rc = RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    return RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

std::string readSz(HKEY root, const char *path, const char *name)
{
    OpenKey k;
    if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS)
        return "<no key>";
    char buf[1024];
    DWORD size = sizeof buf;
    if (RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size) != ERROR_SUCCESS)
        return "<no value>";
    return std::string(buf, size ? size - 1 : 0);
}

} // namespace vt::test
