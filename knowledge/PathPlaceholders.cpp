#include "knowledge/PathPlaceholders.h"

#include "core/kltRegTools.h"
#include "platform/shlobj.h"

#include <algorithm>
#include <cctype>

namespace vt::knowledge
{

const std::array<TPathSolveConfig, 46> PathSolveConfig = {{
    {-1, "SYSDRIVE"},
    {36, "WINDIR"},
    {-1, "WINDIR2"},
    {37, "SYSDIR"},
    {-1, "SYSDIR2"},
    {20, "FONTS"},
    {3, "CONTROLS"},
    {-1, "SYSCPLDIR"},
    {-1, "PATH"},
    {38, "PROGRAMFILES"},
    {43, "COMMONPROGRAMFILES"},
    {62, "PROFILES"},
    {40, "PROFILE"},
    {26, "APPDATA"},
    {-1, "QUICKLAUNCH"},
    {0, "ADESKTOP"},
    {16, "DESKTOP"},
    {6, "FAVORITES"},
    {-1, "LOCALSETTINGS"},
    {28, "LOCALAPPDATA"},
    {5, "PERSONAL"},
    {12, "MYDOCUMENTS"},
    {13, "MYMUSIC"},
    {14, "MYVIDEO"},
    {19, "NETHOOD"},
    {27, "PRINTHOOD"},
    {8, "RECENT"},
    {9, "SENDTO"},
    {11, "STARTMENU"},
    {2, "PROGRAMS"},
    {29, "ALTSTARTUP"},
    {7, "STARTUP"},
    {21, "TEMPLATES"},
    {35, "COMMONAPPDATA"},
    {-1, "COMMONQUICKLAUNCH"},
    {25, "COMMONDESKTOP"},
    {46, "COMMONDOCUMENTS"},
    {46, "COMMONDOCUMENTS"},
    {53, "COMMONMUSIC"},
    {55, "COMMONVIDEO"},
    {31, "COMMONFAVORITES"},
    {22, "COMMONSTARTMENU"},
    {23, "COMMONPROGRAMS"},
    {30, "COMMONALTSTARTUP"},
    {24, "COMMONSTARTUP"},
    {45, "COMMONTEMPLATES"},
}};

namespace
{
const char *const kMachineShellFolders = "Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";
const char *const kUserShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";
const char *const kCurrentVersion = "Microsoft\\Windows\\CurrentVersion\\";
} // namespace

const std::array<TPathRegistryUpdaterRecord, 21> PathRegistryUpdater = {{
    {"<$COMMONDESKTOP>", HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Desktop", false, false, false, "", ""},
    {"<$COMMONAPPDATA>", HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common AppData", false, false, false, "", ""},
    {"<$COMMONSTARTUP>", HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Startup", false, false, false, "", ""},
    {"<$COMMONSTARTMENU>", HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Start Menu", false, false, false, "", ""},
    {"<$COMMONPROGRAMS>", HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Programs", false, false, false, "", ""},
    {"<$COMMONFAVORITES>", HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Favorites", false, false, false, "", ""},
    {"<$COMMONTEMPLATES>", HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Templates", false, false, false, "", ""},
    {"<$COMMONDOCUMENTS>", HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Documents", false, false, false, "", ""},
    {"<$COMMONPROGRAMFILES>", HKEY_LOCAL_MACHINE, kCurrentVersion, "CommonFilesDir", false, false, true, "", ""},
    {"<$PROGRAMFILES>", HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", false, false, true, "", ""},
    {"<$DESKTOP>", HKEY_CURRENT_USER, kUserShellFolders, "Desktop", true, true, false, "", ""},
    {"<$APPDATA>", HKEY_CURRENT_USER, kUserShellFolders, "AppData", true, true, false, "", ""},
    {"<$STARTUP>", HKEY_CURRENT_USER, kUserShellFolders, "Startup", true, true, false, "", ""},
    {"<$STARTMENU>", HKEY_CURRENT_USER, kUserShellFolders, "Start Menu", true, true, false, "", ""},
    {"<$PROGRAMS>", HKEY_CURRENT_USER, kUserShellFolders, "Programs", true, true, false, "", ""},
    {"<$FAVORITES>", HKEY_CURRENT_USER, kUserShellFolders, "Favorites", true, true, false, "", ""},
    {"<$TEMPLATES>", HKEY_CURRENT_USER, kUserShellFolders, "Templates", true, true, false, "", ""},
    {"<$PERSONAL>", HKEY_CURRENT_USER, kUserShellFolders, "Personal", true, true, false, "", ""},
    {"<$LOCALAPPDATA>", HKEY_CURRENT_USER, kUserShellFolders, "Local AppData", true, true, false, "", ""},
    {"<$LOCALSETTINGS>", HKEY_CURRENT_USER, kUserShellFolders, "Local Settings", true, true, false, "", ""},
    {"<$PATH>", HKEY_CURRENT_USER, "Environment\\", "PATH", false, true, false, "", ";"},
}};

const std::array<TTemplateCopyRecord, 5> TemplateCopy = {{
    {"<$COMMONALTSTARTUP>", "<$COMMONSTARTUP>"},
    {"<$COMMONSTARTMENU>", "<$STARTMENU>"},
    {"<$COMMONPROGRAMS>", "<$PROGRAMS>"},
    {"<$COMMONFAVORITES>", "<$FAVORITES>"},
    {"<$ALTSTARTUP>", "<$STARTUP>"},
}};

namespace
{

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string withoutTrailingBackslash(std::string s)
{
    if (!s.empty() && s.back() == '\\')
        s.pop_back();
    return s;
}

std::string_view nameOf(const std::string &line)
{
    const size_t eq = line.find('=');
    return std::string_view(line).substr(0, eq == std::string::npos ? line.size() : eq);
}

std::string pathOf(const std::string &line)
{
    const size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

bool readString(HKEY root, const std::string &path, const std::string &name, uint8_t view, std::string &text)
{
    try {
        return ReadTypedStringAt(root, path, name, view, text);
    } catch (...) {
        return false; // unreadable values leave the table as it is
    }
}

std::string shellFolder(int id)
{
    LPITEMIDLIST pidl = nullptr;
    std::string path;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, id, &pidl)) && pidl) {
        char buffer[261] = {};
        if (SHGetPathFromIDListA(pidl, buffer))
            path = buffer;
        CoTaskMemFree(pidl);
    }
    return path;
}

std::string directory(UINT (*get)(LPSTR, UINT))
{
    char buffer[511] = {};
    const UINT n = get(buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to)
{
    for (size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size())
        text.replace(pos, from.size(), to);
    return text;
}

std::string regexEscaped(const std::string &path)
{
    std::string s = replaceAll(path, "\\", "\\\\");
    s = replaceAll(s, "(", "\\(");
    s = replaceAll(s, ")", "\\)");
    return replaceAll(s, ".", "\\.");
}

// Everything before the last backslash, the way a file name's folder part is taken.
std::string folderPart(const std::string &path)
{
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + (slash > 0 && path[slash - 1] == ':'));
}

} // namespace

std::string TPlaceholderTable::get(const std::string &name) const
{
    for (const std::string &line : Lines)
        if (equalsNoCase(nameOf(line), name))
            return pathOf(line);
    return {};
}

void TPlaceholderTable::set(const std::string &name, const std::string &path)
{
    auto it =
        std::find_if(Lines.begin(), Lines.end(), [&](const std::string &l) { return equalsNoCase(nameOf(l), name); });
    if (path.empty()) {
        if (it != Lines.end())
            Lines.erase(it);
        return;
    }
    if (it != Lines.end())
        *it = std::string(nameOf(*it)) + "=" + path;
    else
        append(name, path);
}

void TPlaceholderTable::append(const std::string &name, const std::string &path)
{
    Lines.push_back(name + "=" + path);
}

void TPlaceholderTable::SetFromRegistry(const std::string &name, HKEY root, const std::string &keyPath,
                                        const std::string &valueName, uint8_t view, bool overwrite,
                                        const std::string &append, const std::string &cut)
{
    if (!get(name).empty() && !overwrite)
        return;
    std::string text;
    if (!readString(root, keyPath, valueName, view, text))
        return;
    if (!cut.empty()) {
        const size_t pos = text.find(cut);
        if (pos != std::string::npos)
            text = withoutTrailingBackslash(text.substr(0, pos));
    }
    set(name, withoutTrailingBackslash(text + append));
}

void TPlaceholderTable::CopyIfEmpty(const std::string &target, const std::string &source)
{
    if (get(target).empty())
        set(target, withoutTrailingBackslash(get(source)));
}

void TPlaceholderTable::BuildPlaceholderTable(uint8_t view)
{
    append("<$LOCALSETTINGS>", "");
    append("<$WINDIR2>", withoutTrailingBackslash(directory(GetWindowsDirectoryA)));
    append("<$SYSDIR2>", withoutTrailingBackslash(directory(GetSystemDirectoryA)));
    const std::string quickLaunch = "\\Microsoft\\Internet Explorer\\Quick Launch";
    append("<$QUICKLAUNCH>", SpecialFolderPath(CSIDL_APPDATA) + quickLaunch);
    append("<$COMMONQUICKLAUNCH>", SpecialFolderPath(CSIDL_COMMON_APPDATA) + quickLaunch);
    for (const TPathSolveConfig &r : PathSolveConfig) {
        if (r.id == -1)
            continue;
        try {
            append(std::string("<$") + r.name + ">", SpecialFolderPath(r.id));
        } catch (...) {
        }
    }

    // Only the 32-bit pass reads the 32-bit programs' branch.
    std::string software = "Software\\";
    try {
        if (view == 32 && KeyExistsAt(HKEY_LOCAL_MACHINE, "\\Software\\Wow6432Node\\", 0))
            software = "Software\\Wow6432Node\\";
    } catch (...) {
    }

    for (const TPathRegistryUpdaterRecord &r : PathRegistryUpdater) {
        if (r.only32BitPass && view != 32)
            continue;
        const std::string path = std::string("\\") + (r.fromHiveRoot ? "" : software) + r.keyPath;
        SetFromRegistry(r.placeholder, r.root, path, r.valueName, r.only32BitPass ? 32 : view, r.overwrite, r.append,
                        r.cut);
    }

    for (const TTemplateCopyRecord &c : TemplateCopy)
        CopyIfEmpty(c.target, c.source);

    set("<$SYSDRIVE>", get("<$WINDIR>").substr(0, 2));

    if (get("<$PROFILE>").empty() && !folderPart(get("<$DESKTOP>")).empty())
        set("<$PROFILE>", withoutTrailingBackslash(folderPart(get("<$DESKTOP>"))));
    if (get("<$PROFILES>").empty() && !folderPart(get("<$PROFILE>")).empty())
        set("<$PROFILES>", withoutTrailingBackslash(folderPart(get("<$PROFILE>"))));

    const std::string nt = "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\";
    const std::string cv = "\\Software\\Microsoft\\Windows\\CurrentVersion\\";
    HKEY lm = HKEY_LOCAL_MACHINE;
    SetFromRegistry("<$WINDIR>", lm, nt, "SystemRoot", 32, false, "", "");
    SetFromRegistry("<$WINDIR>", lm, nt, "PathName", 32, false, "", "");
    SetFromRegistry("<$WINDIR>", lm, cv + "Setup\\", "WinDir", 32, false, "", "");
    SetFromRegistry("<$WINDIR>", lm, cv, "SystemRoot", 32, false, "", "");
    CopyIfEmpty("<$WINDIR2>", "<$WINDIR>");
    const std::string passNt = "\\" + software + "Microsoft\\Windows NT\\CurrentVersion\\";
    const std::string passCv = "\\" + software + "Microsoft\\Windows\\CurrentVersion\\";
    SetFromRegistry("<$TEMP>", lm, passNt, "SystemRoot", view, false, "\\Temp", "");
    SetFromRegistry("<$TEMP>", lm, passNt, "PathName", view, false, "\\Temp", "");
    SetFromRegistry("<$TEMP>", lm, passCv, "SystemRoot", view, false, "\\Temp", "");
    SetFromRegistry("<$SYSDIR>", lm, cv + "Setup\\", "SysDir", 32, false, "", "");
    SetFromRegistry("<$SYSDIR>", lm, cv + "Installer\\", "InstallerLocation", 32, false, "", "");
    CopyIfEmpty("<$SYSDIR2>", "<$SYSDIR>");
    set("<$SYSCPLDIR>", ControlPanelFolder(get("<$WINDIR>")));
    CopyIfEmpty("<$CONTROLS>", "<$SYSCPLDIR>");
}

std::string TPlaceholderTable::ExpandPlaceholders(const std::string &text) const
{
    std::string result = text;
    for (auto it = Lines.rbegin(); it != Lines.rend(); ++it) {
        const std::string_view name = nameOf(*it);
        if (name.empty() || result.find(name) == std::string::npos)
            continue;
        std::string path = pathOf(*it);
        if (result.rfind("<regexpr>", 0) == 0 || result.find("=<regexpr>") != std::string::npos)
            path = regexEscaped(path);
        // Replace every spelling of the name, whatever its letter case.
        std::string out;
        size_t i = 0;
        while (i < result.size()) {
            if (i + name.size() <= result.size() &&
                equalsNoCase(std::string_view(result).substr(i, name.size()), name)) {
                out += path;
                i += name.size();
            } else {
                out += result[i++];
            }
        }
        result = std::move(out);
    }
    return result;
}

std::string SpecialFolderPath(int id)
{
    std::string path = shellFolder(id);
    if (!path.empty())
        return path;
    const std::string shellFolders = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";
    auto read = [&](HKEY root, const std::string &key, const char *value) {
        std::string text;
        return readString(root, key, value, 32, text) ? text : std::string();
    };
    switch (id) {
    case CSIDL_FAVORITES:
        return read(HKEY_CURRENT_USER, shellFolders, "Favorites");
    case CSIDL_TEMPLATES:
        return read(HKEY_CURRENT_USER, shellFolders, "Templates");
    case CSIDL_COMMON_FAVORITES:
        return read(HKEY_LOCAL_MACHINE, shellFolders, "Common Favorites");
    case CSIDL_COMMON_TEMPLATES:
        return read(HKEY_LOCAL_MACHINE, shellFolders, "Common Templates");
    case CSIDL_COMMON_DOCUMENTS:
        return read(HKEY_LOCAL_MACHINE, shellFolders, "Common Documents");
    case CSIDL_COMMON_APPDATA:
        return shellFolder(CSIDL_APPDATA);
    case CSIDL_WINDOWS:
        return directory(GetWindowsDirectoryA);
    case CSIDL_SYSTEM:
        return directory(GetSystemDirectoryA);
    case CSIDL_PROGRAM_FILES:
        return read(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\", "ProgramFilesDir");
    default:
        return {};
    }
}

std::string ControlPanelFolder(const std::string &windowsFolder)
{
    const std::string key = "\\Software\\CLASSES\\CLSID\\{21EC2020-3AEA-1069-A2DD-08002B30309D}\\";
    try {
        std::string name;
        if (!ReadTypedStringAt(HKEY_LOCAL_MACHINE, key, "", 32, name) || name.empty()) {
            name.clear();
            ReadTypedStringAt(HKEY_LOCAL_MACHINE, key, "", 64, name);
        }
        if (name.empty())
            name = "Systemsteuerung";
        return windowsFolder + "\\" + name;
    } catch (...) {
        return "C:\\Windows\\Systemsteuerung";
    }
}

namespace
{
TPlaceholderTable &table()
{
    static TPlaceholderTable t;
    return t;
}
bool &built()
{
    static bool b = false;
    return b;
}
} // namespace

void BuildPlaceholders()
{
    TPlaceholderTable fresh;
    fresh.BuildPlaceholderTable(64);
    fresh.BuildPlaceholderTable(32);
    table() = std::move(fresh);
    built() = true;
}

const TPlaceholderTable &Placeholders()
{
    return table();
}

std::string ExpandPlaceholders(const std::string &text)
{
    if (!built())
        BuildPlaceholders();
    return table().ExpandPlaceholders(text);
}

} // namespace vt::knowledge
