// Special folders of the replacement system, laid out like Windows 10 64-bit.
// Per-user folders hang off the profile folder the registry's ProfileList
// names for the current user; a 32-bit program (the default) sees the x86
// Program Files and SysWOW64, as on Windows.

#include "platform/shlobj.h"
#include "platform/vtPlatform.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <strings.h>

struct _ITEMIDLIST {
    DWORD magic;
    char path[1]; // NUL-terminated; empty for a virtual folder
};

namespace
{

constexpr DWORD kPidlMagic = 0x4c444950; // "PIDL"
const char *const kWindows = "C:\\Windows";

std::string readProfileList(const std::string &subkey, const char *name)
{
    std::string path = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    if (!subkey.empty())
        path += "\\" + subkey;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return {};
    std::string value;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0 && size < 4096) {
        value.resize(size);
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(value.data()), &size) == ERROR_SUCCESS)
            value.resize(std::strlen(value.c_str()));
        else
            value.clear();
    }
    RegCloseKey(key);
    // These values are stored as %SystemDrive%\...; nothing else is expected in them.
    const std::string var = "%SystemDrive%";
    if (value.size() >= var.size() && strncasecmp(value.c_str(), var.c_str(), var.size()) == 0)
        value = "C:" + value.substr(var.size());
    while (value.size() > 3 && value.back() == '\\')
        value.pop_back();
    return value;
}

bool isWow64()
{
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

std::string orDefault(std::string s, std::string def)
{
    return s.empty() ? def : s;
}

// nullopt: unknown folder; empty string: a virtual folder without a path.
std::optional<std::string> folderPath(int csidl)
{
    const std::string win = kWindows;
    const std::string profiles = orDefault(readProfileList({}, "ProfilesDirectory"), "C:\\Users");
    const std::string programData = orDefault(readProfileList({}, "ProgramData"), "C:\\ProgramData");
    const std::string pub = orDefault(readProfileList({}, "Public"), profiles + "\\Public");
    const std::string profile = orDefault(readProfileList(vt::platform::currentUserSid(), "ProfileImagePath"),
                                          profiles + "\\" + vt::platform::currentUserName());
    const std::string roaming = profile + "\\AppData\\Roaming";
    const std::string local = profile + "\\AppData\\Local";
    const std::string startMenu = roaming + "\\Microsoft\\Windows\\Start Menu";
    const std::string commonStartMenu = programData + "\\Microsoft\\Windows\\Start Menu";
    const bool wow = isWow64();
    const std::string pf64 = "C:\\Program Files", pf86 = "C:\\Program Files (x86)";

    switch (csidl & ~CSIDL_FLAG_MASK) {
    case CSIDL_INTERNET:
    case CSIDL_CONTROLS:
    case CSIDL_PRINTERS:
    case CSIDL_BITBUCKET:
    case CSIDL_DRIVES:
    case CSIDL_NETWORK:
    case CSIDL_CONNECTIONS:
    case CSIDL_COMPUTERSNEARME:
        return std::string();
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY:
        return profile + "\\Desktop";
    case CSIDL_PROGRAMS:
        return startMenu + "\\Programs";
    case CSIDL_PERSONAL:
    case CSIDL_MYDOCUMENTS:
        return profile + "\\Documents";
    case CSIDL_FAVORITES:
    case CSIDL_COMMON_FAVORITES:
        return profile + "\\Favorites";
    case CSIDL_STARTUP:
    case CSIDL_ALTSTARTUP:
        return startMenu + "\\Programs\\Startup";
    case CSIDL_RECENT:
        return roaming + "\\Microsoft\\Windows\\Recent";
    case CSIDL_SENDTO:
        return roaming + "\\Microsoft\\Windows\\SendTo";
    case CSIDL_STARTMENU:
        return startMenu;
    case CSIDL_MYMUSIC:
        return profile + "\\Music";
    case CSIDL_MYVIDEO:
        return profile + "\\Videos";
    case CSIDL_MYPICTURES:
        return profile + "\\Pictures";
    case CSIDL_NETHOOD:
        return roaming + "\\Microsoft\\Windows\\Network Shortcuts";
    case CSIDL_FONTS:
        return win + "\\Fonts";
    case CSIDL_TEMPLATES:
        return roaming + "\\Microsoft\\Windows\\Templates";
    case CSIDL_COMMON_STARTMENU:
        return commonStartMenu;
    case CSIDL_COMMON_PROGRAMS:
        return commonStartMenu + "\\Programs";
    case CSIDL_COMMON_STARTUP:
    case CSIDL_COMMON_ALTSTARTUP:
        return commonStartMenu + "\\Programs\\Startup";
    case CSIDL_COMMON_DESKTOPDIRECTORY:
        return pub + "\\Desktop";
    case CSIDL_APPDATA:
        return roaming;
    case CSIDL_PRINTHOOD:
        return roaming + "\\Microsoft\\Windows\\Printer Shortcuts";
    case CSIDL_LOCAL_APPDATA:
        return local;
    case CSIDL_INTERNET_CACHE:
        return local + "\\Microsoft\\Windows\\INetCache";
    case CSIDL_COOKIES:
        return local + "\\Microsoft\\Windows\\INetCookies";
    case CSIDL_HISTORY:
        return local + "\\Microsoft\\Windows\\History";
    case CSIDL_COMMON_APPDATA:
        return programData;
    case CSIDL_WINDOWS:
        return win;
    case CSIDL_SYSTEM:
        return win + (wow ? "\\SysWOW64" : "\\system32");
    case CSIDL_SYSTEMX86:
        return win + "\\SysWOW64";
    case CSIDL_PROGRAM_FILES:
        return wow ? pf86 : pf64;
    case CSIDL_PROGRAM_FILESX86:
        return pf86;
    case CSIDL_PROGRAM_FILES_COMMON:
        return (wow ? pf86 : pf64) + "\\Common Files";
    case CSIDL_PROGRAM_FILES_COMMONX86:
        return pf86 + "\\Common Files";
    case CSIDL_PROFILE:
        return profile;
    case CSIDL_PROFILES:
        return profiles;
    case CSIDL_COMMON_TEMPLATES:
        return programData + "\\Microsoft\\Windows\\Templates";
    case CSIDL_COMMON_DOCUMENTS:
        return pub + "\\Documents";
    case CSIDL_COMMON_ADMINTOOLS:
        return commonStartMenu + "\\Programs\\Administrative Tools";
    case CSIDL_ADMINTOOLS:
        return startMenu + "\\Programs\\Administrative Tools";
    case CSIDL_COMMON_MUSIC:
        return pub + "\\Music";
    case CSIDL_COMMON_PICTURES:
        return pub + "\\Pictures";
    case CSIDL_COMMON_VIDEO:
        return pub + "\\Videos";
    case CSIDL_RESOURCES:
        return win + "\\Resources";
    case CSIDL_CDBURN_AREA:
        return local + "\\Microsoft\\Windows\\Burn\\Burn";
    default:
        return std::nullopt;
    }
}

UINT copyOut(const std::string &s, LPSTR buffer, UINT size)
{
    if (!buffer || size <= s.size())
        return UINT(s.size() + 1);
    std::memcpy(buffer, s.c_str(), s.size() + 1);
    return UINT(s.size());
}

} // namespace

HRESULT WINAPI SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST *ppidl)
{
    if (!ppidl)
        return E_INVALIDARG;
    *ppidl = nullptr;
    const std::optional<std::string> path = folderPath(csidl);
    if (!path)
        return E_INVALIDARG;
    auto *pidl = static_cast<ITEMIDLIST *>(std::malloc(sizeof(ITEMIDLIST) + path->size()));
    if (!pidl)
        return E_OUTOFMEMORY;
    pidl->magic = kPidlMagic;
    std::memcpy(pidl->path, path->c_str(), path->size() + 1);
    *ppidl = pidl;
    return S_OK;
}

BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath)
{
    if (!pszPath)
        return FALSE;
    pszPath[0] = '\0';
    if (!pidl || pidl->magic != kPidlMagic || pidl->path[0] == '\0')
        return FALSE;
    const size_t n = std::strlen(pidl->path);
    if (n >= MAX_PATH)
        return FALSE;
    std::memcpy(pszPath, pidl->path, n + 1);
    return TRUE;
}

HRESULT WINAPI SHGetFolderPathA(HWND, int csidl, HANDLE, DWORD, LPSTR pszPath)
{
    if (!pszPath)
        return E_INVALIDARG;
    pszPath[0] = '\0';
    const std::optional<std::string> path = folderPath(csidl);
    if (!path)
        return E_INVALIDARG;
    if (path->empty() || path->size() >= MAX_PATH)
        return E_FAIL;
    std::memcpy(pszPath, path->c_str(), path->size() + 1);
    return S_OK;
}

void WINAPI CoTaskMemFree(LPVOID pv)
{
    std::free(pv);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return copyOut(kWindows, lpBuffer, uSize);
}

// System32 even for a 32-bit program: Windows reports the native folder here
// and lets file-system redirection do the rest.
UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return copyOut(std::string(kWindows) + "\\system32", lpBuffer, uSize);
}

UINT WINAPI GetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return copyOut(std::string(kWindows) + "\\SysWOW64", lpBuffer, uSize);
}
