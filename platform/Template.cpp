// The content of a fresh system: what a newly installed 64-bit Windows 10
// holds in the places the program reads, as one table.
#include "platform/Template.h"

#include "platform/Engine.h"
#include "platform/Unicode.h"

#include <cstdlib>
#include <map>

namespace vt::platform::detail
{

namespace
{

enum Hv : uint8_t { SYS, SW, SAMH, SECH, DEF, USR, HW };
enum Ty : uint8_t { KEY, SZ, EXP, DW, QW, BIN, MULTI };

struct Row {
    Hv hive;
    const char *path;
    const char *name; // value name; unused for KEY rows
    Ty type;
    const char *data; // text ({USER}, {SID}, {HOST} replaced), number, hex bytes or '|'-separated strings
};

#define CV "Microsoft\\Windows\\CurrentVersion"
#define NTCV "Microsoft\\Windows NT\\CurrentVersion"
#define CS "ControlSet001"
#define SF CV "\\Explorer\\Shell Folders"
#define USF CV "\\Explorer\\User Shell Folders"
#define CP "CLSID\\{21EC2020-3AEA-1069-A2DD-08002B30309D}"
#define MYPC "CLSID\\{20D04FE0-3AEA-1069-A2D8-08002B30309D}"
#define BIN_ "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}"
#define UP "C:\\Users\\{USER}"

const Row kRows[] = {
    // SOFTWARE
    {SW, CV, "ProgramFilesDir", SZ, "C:\\Program Files"},
    {SW, CV, "CommonFilesDir", SZ, "C:\\Program Files\\Common Files"},
    {SW, CV, "ProgramFilesDir (x86)", SZ, "C:\\Program Files (x86)"},
    {SW, CV, "CommonFilesDir (x86)", SZ, "C:\\Program Files (x86)\\Common Files"},
    {SW, CV, "ProgramW6432Dir", SZ, "C:\\Program Files"},
    {SW, CV, "CommonW6432Dir", SZ, "C:\\Program Files\\Common Files"},
    {SW, CV, "ProgramFilesPath", EXP, "%ProgramFiles%"},
    {SW, CV, "DevicePath", EXP, "%SystemRoot%\\inf"},
    {SW, CV, "MediaPathUnexpanded", EXP, "%SystemRoot%\\Media"},
    {SW, CV "\\Run", nullptr, KEY, nullptr},
    {SW, CV "\\RunOnce", nullptr, KEY, nullptr},
    {SW, CV "\\Uninstall", nullptr, KEY, nullptr},
    {SW, CV "\\App Paths\\notepad.exe", "", EXP, "%SystemRoot%\\system32\\notepad.exe"},
    {SW, CV "\\Policies\\System", "EnableLUA", DW, "1"},
    {SW, CV "\\Policies\\System", "ConsentPromptBehaviorAdmin", DW, "5"},
    {SW, SF, "Common AppData", SZ, "C:\\ProgramData"},
    {SW, SF, "Common Desktop", SZ, "C:\\Users\\Public\\Desktop"},
    {SW, SF, "Common Documents", SZ, "C:\\Users\\Public\\Documents"},
    {SW, SF, "Common Programs", SZ, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
    {SW, SF, "Common Start Menu", SZ, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu"},
    {SW, SF, "Common Startup", SZ, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {SW, SF, "Common Templates", SZ, "C:\\ProgramData\\Microsoft\\Windows\\Templates"},
    {SW, USF, "Common AppData", EXP, "%ProgramData%"},
    {SW, USF, "Common Desktop", EXP, "%PUBLIC%\\Desktop"},
    {SW, USF, "Common Documents", EXP, "%PUBLIC%\\Documents"},
    {SW, USF, "Common Programs", EXP, "%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {SW, USF, "Common Start Menu", EXP, "%ProgramData%\\Microsoft\\Windows\\Start Menu"},
    {SW, NTCV, "SystemRoot", SZ, "C:\\Windows"},
    {SW, NTCV, "PathName", SZ, "C:\\Windows"},
    {SW, NTCV, "ProductName", SZ, "Windows 10 Pro"},
    {SW, NTCV, "EditionID", SZ, "Professional"},
    {SW, NTCV, "InstallationType", SZ, "Client"},
    {SW, NTCV, "CurrentVersion", SZ, "6.3"},
    {SW, NTCV, "CurrentBuild", SZ, "19045"},
    {SW, NTCV, "CurrentBuildNumber", SZ, "19045"},
    {SW, NTCV, "CurrentMajorVersionNumber", DW, "10"},
    {SW, NTCV, "CurrentMinorVersionNumber", DW, "0"},
    {SW, NTCV, "ReleaseId", SZ, "2009"},
    {SW, NTCV, "DisplayVersion", SZ, "22H2"},
    {SW, NTCV, "UBR", DW, "3803"},
    {SW, NTCV, "BuildLab", SZ, "19041.vb_release.191206-1406"},
    {SW, NTCV, "CurrentType", SZ, "Multiprocessor Free"},
    {SW, NTCV, "SoftwareType", SZ, "System"},
    {SW, NTCV, "RegisteredOwner", SZ, "{USER}"},
    {SW, NTCV, "RegisteredOrganization", SZ, ""},
    {SW, NTCV, "InstallDate", DW, "1672531200"},
    {SW, NTCV, "InstallTime", QW, "133170048000000000"},
    {SW, NTCV, "DigitalProductId", BIN, "a40000000300000030303333302d38303030302d30303030302d4141343636"},
    {SW, NTCV "\\Fonts", "Arial (TrueType)", SZ, "arial.ttf"},
    {SW, NTCV "\\Fonts", "Courier New (TrueType)", SZ, "cour.ttf"},
    {SW, NTCV "\\Fonts", "Segoe UI (TrueType)", SZ, "segoeui.ttf"},
    {SW, NTCV "\\Fonts", "Tahoma (TrueType)", SZ, "tahoma.ttf"},
    {SW, NTCV "\\Winlogon", "Shell", SZ, "explorer.exe"},
    {SW, NTCV "\\Winlogon", "Userinit", SZ, "C:\\Windows\\system32\\userinit.exe,"},
    {SW, NTCV "\\ProfileList", "Default", EXP, "%SystemDrive%\\Users\\Default"},
    {SW, NTCV "\\ProfileList", "ProfilesDirectory", EXP, "%SystemDrive%\\Users"},
    {SW, NTCV "\\ProfileList", "ProgramData", EXP, "%SystemDrive%\\ProgramData"},
    {SW, NTCV "\\ProfileList", "Public", EXP, "%SystemDrive%\\Users\\Public"},
    {SW, NTCV "\\ProfileList\\S-1-5-18", "ProfileImagePath", EXP, "%systemroot%\\system32\\config\\systemprofile"},
    {SW, NTCV "\\ProfileList\\S-1-5-18", "Flags", DW, "12"},
    {SW, NTCV "\\ProfileList\\{SID}", "ProfileImagePath", EXP, "C:\\Users\\{USER}"},
    {SW, NTCV "\\ProfileList\\{SID}", "Flags", DW, "0"},
    {SW, NTCV "\\ProfileList\\{SID}", "State", DW, "0"},
    {SW, "Wow6432Node\\" CV, "ProgramFilesDir", SZ, "C:\\Program Files (x86)"},
    {SW, "Wow6432Node\\" CV, "CommonFilesDir", SZ, "C:\\Program Files (x86)\\Common Files"},
    {SW, "Wow6432Node\\" CV, "ProgramFilesDir (x86)", SZ, "C:\\Program Files (x86)"},
    {SW, "Wow6432Node\\" CV, "CommonFilesDir (x86)", SZ, "C:\\Program Files (x86)\\Common Files"},
    {SW, "Wow6432Node\\" CV, "ProgramW6432Dir", SZ, "C:\\Program Files"},
    {SW, "Wow6432Node\\" CV, "CommonW6432Dir", SZ, "C:\\Program Files\\Common Files"},
    {SW, "Wow6432Node\\" CV, "ProgramFilesPath", EXP, "%ProgramFiles%"},
    {SW, "Wow6432Node\\" CV "\\Run", nullptr, KEY, nullptr},
    {SW, "Wow6432Node\\" CV "\\Uninstall", nullptr, KEY, nullptr},
    {SW, "Wow6432Node\\" NTCV, "SystemRoot", SZ, "C:\\Windows"},
    {SW, "Wow6432Node\\" NTCV, "PathName", SZ, "C:\\Windows"},
    {SW, "Wow6432Node\\" SF, "Common AppData", SZ, "C:\\ProgramData"},
    {SW, "Wow6432Node\\" SF, "Common Desktop", SZ, "C:\\Users\\Public\\Desktop"},
    {SW, "Wow6432Node\\" SF, "Common Documents", SZ, "C:\\Users\\Public\\Documents"},
    {SW, "Wow6432Node\\" SF, "Common Programs", SZ, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
    {SW, "Wow6432Node\\" SF, "Common Start Menu", SZ, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu"},
    {SW, "Wow6432Node\\" SF, "Common Startup", SZ,
     "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {SW, "Wow6432Node\\" SF, "Common Templates", SZ, "C:\\ProgramData\\Microsoft\\Windows\\Templates"},
    {SW, CV "\\Installer", "InstallerLocation", SZ, "C:\\Windows\\system32\\"},
    {SW, "Wow6432Node\\" NTCV, "ProductName", SZ, "Windows 10 Pro"},
    {SW, "Wow6432Node\\" NTCV, "CurrentBuild", SZ, "19045"},
    {SW, "Wow6432Node\\" NTCV, "CurrentVersion", SZ, "6.3"},
    {SW, "Classes\\.txt", "", SZ, "txtfile"},
    {SW, "Classes\\.txt", "Content Type", SZ, "text/plain"},
    {SW, "Classes\\.txt", "PerceivedType", SZ, "text"},
    {SW, "Classes\\.txt\\ShellNew", "ItemName", EXP, "@%SystemRoot%\\system32\\notepad.exe,-470"},
    {SW, "Classes\\.txt\\ShellNew", "NullFile", SZ, ""},
    {SW, "Classes\\txtfile", "", SZ, "Text Document"},
    {SW, "Classes\\txtfile", "EditFlags", DW, "0x00210000"},
    {SW, "Classes\\txtfile\\DefaultIcon", "", EXP, "%SystemRoot%\\system32\\imageres.dll,-102"},
    {SW, "Classes\\txtfile\\shell\\open\\command", "", EXP, "%SystemRoot%\\system32\\NOTEPAD.EXE %1"},
    {SW, "Classes\\.reg", "", SZ, "regfile"},
    {SW, "Classes\\regfile", "", SZ, "Registration Entries"},
    {SW, "Classes\\regfile\\shell\\open\\command", "", SZ, "\"regedit.exe\" \"%1\""},
    {SW, "Classes\\Directory", "", SZ, "File Folder"},
    {SW, "Classes\\Folder", "", SZ, "Folder"},
    {SW, "Classes\\" CP, "", SZ, "All Control Panel Items"},
    {SW, "Classes\\" CP, "LocalizedString", EXP, "@%SystemRoot%\\system32\\shell32.dll,-4161"},
    {SW, "Classes\\" CP, "System.ApplicationName", SZ, "Microsoft.ControlPanel"},
    {SW, "Classes\\" CP "\\DefaultIcon", "", EXP, "%SystemRoot%\\System32\\imageres.dll,-27"},
    {SW, "Classes\\" CP "\\ShellFolder", "Attributes", DW, "0xa0100000"},
    {SW, "Classes\\" MYPC, "", SZ, "This PC"},
    {SW, "Classes\\" MYPC, "LocalizedString", EXP, "@%SystemRoot%\\system32\\windows.storage.dll,-9216"},
    {SW, "Classes\\" MYPC "\\DefaultIcon", "", EXP, "%SystemRoot%\\System32\\imageres.dll,-109"},
    {SW, "Classes\\" BIN_, "", SZ, "Recycle Bin"},
    {SW, "Classes\\" BIN_ "\\DefaultIcon", "", EXP, "%SystemRoot%\\System32\\imageres.dll,-54"},
    {SW, "Classes\\" BIN_ "\\InProcServer32", "", EXP, "%SystemRoot%\\system32\\shell32.dll"},
    {SW, "Classes\\" BIN_ "\\InProcServer32", "ThreadingModel", SZ, "Apartment"},
    {SW, "Classes\\Wow6432Node\\" CP, "", SZ, "All Control Panel Items"},
    {SW, "Classes\\Wow6432Node\\" CP, "LocalizedString", EXP, "@%SystemRoot%\\system32\\shell32.dll,-4161"},
    {SW, "Classes\\Wow6432Node\\" MYPC, "", SZ, "This PC"},
    {SW, "Classes\\Interface", nullptr, KEY, nullptr},
    {SW, "Classes\\TypeLib", nullptr, KEY, nullptr},
    {SW, "Policies\\Microsoft", nullptr, KEY, nullptr},
    {SW, "RegisteredApplications", nullptr, KEY, nullptr},
    // SYSTEM
    {SYS, "Select", "Current", DW, "1"},
    {SYS, "Select", "Default", DW, "1"},
    {SYS, "Select", "Failed", DW, "0"},
    {SYS, "Select", "LastKnownGood", DW, "1"},
    {SYS, "Setup", "SystemSetupInProgress", DW, "0"},
    {SYS, "MountedDevices", "\\DosDevices\\C:", BIN, "444d494f3a49443aa1b2c3d4e5f60718293a4b5c6d7e8f90"},
    {SYS, CS "\\Control\\ComputerName\\ComputerName", "ComputerName", SZ, "{HOST}"},
    {SYS, CS "\\Control\\ProductOptions", "ProductType", SZ, "WinNT"},
    {SYS, CS "\\Control\\ProductOptions", "ProductSuite", MULTI, "Terminal Server|"},
    {SYS, CS "\\Control\\TimeZoneInformation", "TimeZoneKeyName", SZ, "UTC"},
    {SYS, CS "\\Control\\TimeZoneInformation", "Bias", DW, "0"},
    {SYS, CS "\\Control\\Session Manager", "BootExecute", MULTI, "autocheck autochk *|"},
    {SYS, CS "\\Control\\Session Manager\\Memory Management", "PagingFiles", MULTI, "?:\\pagefile.sys|"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "ComSpec", EXP, "%SystemRoot%\\system32\\cmd.exe"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "DriverData", SZ, "C:\\Windows\\System32\\Drivers\\DriverData"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "NUMBER_OF_PROCESSORS", SZ, "2"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "OS", SZ, "Windows_NT"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "Path", EXP,
     "%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\System32\\Wbem;%SYSTEMROOT%\\System32\\WindowsPowerShell\\v1."
     "0\\"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "PATHEXT", SZ,
     ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "PROCESSOR_ARCHITECTURE", SZ, "AMD64"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "PSModulePath", EXP,
     "%ProgramFiles%\\WindowsPowerShell\\Modules;%SystemRoot%\\system32\\WindowsPowerShell\\v1.0\\Modules"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "TEMP", EXP, "%SystemRoot%\\TEMP"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "TMP", EXP, "%SystemRoot%\\TEMP"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "USERNAME", SZ, "SYSTEM"},
    {SYS, CS "\\Control\\Session Manager\\Environment", "windir", EXP, "%SystemRoot%"},
    {SYS, CS "\\Hardware Profiles\\0001", "FriendlyName", SZ, "Profile 1"},
    {SYS, CS "\\Hardware Profiles\\0001\\Software\\Fonts", "LogPixels", DW, "96"},
    {SYS, CS "\\Hardware Profiles\\0001\\System\\CurrentControlSet\\Control\\Print\\Printers", nullptr, KEY, nullptr},
    {SYS, CS "\\Services\\Tcpip\\Parameters", "Hostname", SZ, "{host}"},
    {SYS, CS "\\Services\\Tcpip\\Parameters", "Domain", SZ, ""},
    {SYS, CS "\\Services\\EventLog\\Application", "MaxSize", DW, "20971520"},
    {SYS, CS "\\Enum\\Root", nullptr, KEY, nullptr},
    // SAM and SECURITY
    {SAMH, "SAM\\Domains\\Account\\Users\\Names\\{USER}", nullptr, KEY, nullptr},
    {SAMH, "SAM\\Domains\\Builtin\\Aliases\\Names\\Administrators", nullptr, KEY, nullptr},
    {SECH, "Policy\\Accounts", nullptr, KEY, nullptr},
    {SECH, "Cache", nullptr, KEY, nullptr},
    // HKU\.DEFAULT
    {DEF, "Control Panel\\Desktop", "WheelScrollLines", SZ, "3"},
    {DEF, "Control Panel\\International", "LocaleName", SZ, "en-US"},
    {DEF, "Environment", "TEMP", EXP, "%USERPROFILE%\\AppData\\Local\\Temp"},
    {DEF, "Environment", "TMP", EXP, "%USERPROFILE%\\AppData\\Local\\Temp"},
    {DEF, "Software\\Microsoft", nullptr, KEY, nullptr},
    // The current user's NTUSER.DAT
    {USR, "Environment", "Path", EXP, "%USERPROFILE%\\AppData\\Local\\Microsoft\\WindowsApps;"},
    {USR, "Environment", "TEMP", EXP, "%USERPROFILE%\\AppData\\Local\\Temp"},
    {USR, "Environment", "TMP", EXP, "%USERPROFILE%\\AppData\\Local\\Temp"},
    {USR, "Control Panel\\Desktop", "WheelScrollLines", SZ, "3"},
    {USR, "Control Panel\\Desktop", "Wallpaper", SZ, "C:\\Windows\\web\\wallpaper\\Windows\\img0.jpg"},
    {USR, "Control Panel\\International", "LocaleName", SZ, "en-US"},
    {USR, "Control Panel\\International", "Locale", SZ, "00000409"},
    {USR, "Control Panel\\International", "sShortDate", SZ, "M/d/yyyy"},
    {USR, "Console", "FaceName", SZ, "Consolas"},
    {USR, "Console", "FontSize", DW, "0x00100000"},
    {USR, "Keyboard Layout\\Preload", "1", SZ, "00000409"},
    {USR, "Software\\Classes", nullptr, KEY, nullptr},
    {USR, "Software\\Microsoft\\Notepad", "fWrap", DW, "0"},
    {USR, "Software\\" CV "\\Run", nullptr, KEY, nullptr},
    {USR, "Software\\" SF, "AppData", SZ, UP "\\AppData\\Roaming"},
    {USR, "Software\\" SF, "Local AppData", SZ, UP "\\AppData\\Local"},
    {USR, "Software\\" SF, "Desktop", SZ, UP "\\Desktop"},
    {USR, "Software\\" SF, "Personal", SZ, UP "\\Documents"},
    {USR, "Software\\" SF, "My Pictures", SZ, UP "\\Pictures"},
    {USR, "Software\\" SF, "My Music", SZ, UP "\\Music"},
    {USR, "Software\\" SF, "My Video", SZ, UP "\\Videos"},
    {USR, "Software\\" SF, "Favorites", SZ, UP "\\Favorites"},
    {USR, "Software\\" SF, "Start Menu", SZ, UP "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
    {USR, "Software\\" SF, "Programs", SZ, UP "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
    {USR, "Software\\" SF, "Startup", SZ, UP "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {USR, "Software\\" SF, "Recent", SZ, UP "\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {USR, "Software\\" SF, "SendTo", SZ, UP "\\AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {USR, "Software\\" SF, "Templates", SZ, UP "\\AppData\\Roaming\\Microsoft\\Windows\\Templates"},
    {USR, "Software\\" SF, "Cache", SZ, UP "\\AppData\\Local\\Microsoft\\Windows\\INetCache"},
    {USR, "Software\\" SF, "Cookies", SZ, UP "\\AppData\\Local\\Microsoft\\Windows\\INetCookies"},
    {USR, "Software\\" SF, "History", SZ, UP "\\AppData\\Local\\Microsoft\\Windows\\History"},
    {USR, "Software\\" SF, "Fonts", SZ, "C:\\Windows\\Fonts"},
    {USR, "Software\\" USF, "AppData", EXP, "%USERPROFILE%\\AppData\\Roaming"},
    {USR, "Software\\" USF, "Local AppData", EXP, "%USERPROFILE%\\AppData\\Local"},
    {USR, "Software\\" USF, "Desktop", EXP, "%USERPROFILE%\\Desktop"},
    {USR, "Software\\" USF, "Personal", EXP, "%USERPROFILE%\\Documents"},
    {USR, "Software\\" USF, "My Pictures", EXP, "%USERPROFILE%\\Pictures"},
    {USR, "Software\\" USF, "My Music", EXP, "%USERPROFILE%\\Music"},
    {USR, "Software\\" USF, "My Video", EXP, "%USERPROFILE%\\Videos"},
    {USR, "Software\\" USF, "Favorites", EXP, "%USERPROFILE%\\Favorites"},
    {USR, "Software\\" USF, "Start Menu", EXP, "%APPDATA%\\Microsoft\\Windows\\Start Menu"},
    {USR, "Software\\" USF, "Programs", EXP, "%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {USR, "Software\\" USF, "Startup", EXP, "%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {USR, "Software\\" USF, "Recent", EXP, "%APPDATA%\\Microsoft\\Windows\\Recent"},
    {USR, "Software\\" USF, "SendTo", EXP, "%APPDATA%\\Microsoft\\Windows\\SendTo"},
    {USR, "Software\\" USF, "Templates", EXP, "%APPDATA%\\Microsoft\\Windows\\Templates"},
    {USR, "Software\\" USF, "Cache", EXP, "%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\INetCache"},
    {USR, "Software\\" USF, "History", EXP, "%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\History"},
    // HARDWARE (volatile: rebuilt at every start)
    {HW, "DESCRIPTION\\System", "Identifier", SZ, "AT/AT COMPATIBLE"},
    {HW, "DESCRIPTION\\System\\CentralProcessor\\0", "ProcessorNameString", SZ, "Virtual x64 Processor"},
    {HW, "DESCRIPTION\\System\\CentralProcessor\\0", "Identifier", SZ, "Intel64 Family 6 Model 85 Stepping 7"},
    {HW, "DESCRIPTION\\System\\CentralProcessor\\0", "~MHz", DW, "2400"},
    {HW, "DESCRIPTION\\System\\BIOS", "SystemManufacturer", SZ, "Vantrel"},
    {HW, "DEVICEMAP\\VIDEO", "MaxObjectNumber", DW, "0"},
    {HW, "RESOURCEMAP", nullptr, KEY, nullptr},
};

std::string substitute(std::string_view text, const TemplateContext &ctx)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '{') {
            size_t end = text.find('}', i);
            if (end != std::string_view::npos) {
                std::string_view key = text.substr(i + 1, end - i - 1);
                if (key == "USER") {
                    out += ctx.userName;
                    i = end + 1;
                    continue;
                }
                if (key == "SID") {
                    out += ctx.userSid;
                    i = end + 1;
                    continue;
                }
                if (key == "HOST") {
                    out += ctx.computerName;
                    i = end + 1;
                    continue;
                }
                if (key == "host") {
                    std::string lower = ctx.computerName;
                    for (auto &c : lower)
                        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                    out += lower;
                    i = end + 1;
                    continue;
                }
            }
        }
        out.push_back(text[i++]);
    }
    return out;
}

std::vector<uint8_t> encode(Ty type, const std::string &text)
{
    std::vector<uint8_t> out;
    switch (type) {
    case SZ:
    case EXP: {
        out = utf8ToUtf16le(text);
        out.push_back(0);
        out.push_back(0);
        break;
    }
    case MULTI: {
        std::string joined = text;
        for (auto &c : joined)
            if (c == '|')
                c = '\0';
        out = utf8ToUtf16le(joined);
        out.push_back(0);
        out.push_back(0);
        break;
    }
    case DW: {
        const auto v = static_cast<uint32_t>(std::strtoull(text.c_str(), nullptr, 0));
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        break;
    }
    case QW: {
        const auto v = static_cast<uint64_t>(std::strtoull(text.c_str(), nullptr, 0));
        for (int i = 0; i < 8; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        break;
    }
    case BIN:
        for (size_t i = 0; i + 1 < text.size(); i += 2)
            out.push_back(static_cast<uint8_t>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
        break;
    case KEY:
        break;
    }
    return out;
}

uint32_t typeCode(Ty t)
{
    switch (t) {
    case SZ:
        return REG_SZ;
    case EXP:
        return REG_EXPAND_SZ;
    case DW:
        return REG_DWORD;
    case QW:
        return REG_QWORD;
    case BIN:
        return REG_BINARY;
    case MULTI:
        return REG_MULTI_SZ;
    case KEY:
        break;
    }
    return REG_NONE;
}

} // namespace

std::unique_ptr<Key> buildTemplateHive(TemplateHive which, const TemplateContext &ctx, uint64_t time)
{
    static constexpr Hv kMap[] = {SYS, SW, SAMH, SECH, DEF, USR, HW};
    const Hv hv = kMap[static_cast<int>(which)];
    auto root = newKey(which == TemplateHive::User ? "CMI-CreateHive{D43B12B8-09B5-40DB-B4F6-F6DFEB78DAEC}"
                                                   : "CMI-CreateHive{2A7FB991-7BBE-4F9D-B91E-7CB51D4737F5}",
                       time);
    root->flags = kKeyHiveEntry | kKeyNoDelete;
    vt::security::Bytes rootSd;
    if (hv == SAMH || hv == SECH)
        rootSd = vt::security::systemOnlyDescriptor();
    else if (hv == USR)
        rootSd = vt::security::defaultUserHiveDescriptor(ctx.userSid);
    else
        rootSd = vt::security::defaultMachineHiveDescriptor();
    root->security = std::make_shared<const vt::hive::SecurityDescriptor>(std::move(rootSd));
    root->isVolatile = hv == HW;

    // Keys inherit from their parent as Windows' setup created them (as SYSTEM);
    // equal descriptors are shared, as the hive format shares them.
    vt::security::Token system{"S-1-5-18", {"S-1-5-32-544", "S-1-1-0", "S-1-5-11"}, true};
    std::map<vt::security::Bytes, vt::hive::SecurityDescriptorPtr> shared;
    shared[*root->security] = root->security;
    auto childOf = [&](Key &parent, std::string_view name) -> Key & {
        if (Key *k = findChild(parent, name))
            return *k;
        auto k = newKey(name, time);
        auto sd = vt::security::inheritForNewKey(*parent.security, system);
        auto &slot = shared[sd];
        if (!slot)
            slot = std::make_shared<const vt::hive::SecurityDescriptor>(sd);
        k->security = slot;
        k->isVolatile = parent.isVolatile;
        return *insertSubkey(parent, std::move(k));
    };
    for (const Row &row : kRows) {
        if (row.hive != hv)
            continue;
        Key *k = root.get();
        const std::string path = substitute(row.path, ctx);
        std::string_view p(path);
        while (!p.empty()) {
            size_t cut = p.find('\\');
            k = &childOf(*k, p.substr(0, cut));
            p = cut == std::string_view::npos ? std::string_view{} : p.substr(cut + 1);
        }
        if (row.type != KEY)
            setValue(*k, row.name, typeCode(row.type), encode(row.type, substitute(row.data, ctx)));
    }
    return root;
}

} // namespace vt::platform::detail
