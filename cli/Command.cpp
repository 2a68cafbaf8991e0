#include "cli/Command.h"

#include "core/kltRegistry.h"
#include "regfile/RegKeyWalk.h"

#include <cctype>
#include <iostream>

namespace vt::cli
{

namespace
{

std::string lower(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

bool Command::confirm(const std::string &question, std::ostream &out)
{
    std::istream &in = m_in ? *m_in : std::cin;
    for (;;) {
        out << question << std::flush;
        std::string answer;
        if (!std::getline(in, answer)) {
            out << "\n";
            return false;
        }
        const std::string a = lower(answer);
        if (a == "y" || a == "yes")
            return true;
        if (a == "n" || a == "no")
            return false;
    }
}

bool Command::usageAsked(const std::vector<std::string> &args, std::ostream &out) const
{
    if (args.size() != 1 || (switchName(args[0]) != "?" && switchName(args[0]) != "h"))
        return false;
    out << usage();
    return true;
}

bool Command::enablePrivilege(const char *name)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const bool ok = LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid) &&
                    AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return ok;
}

int Command::invalidSyntax(std::ostream &err) const
{
    err << "ERROR: Invalid syntax.\nType \"vantrel-cli " << name() << " /?\" for usage.\n";
    return 1;
}

int Command::invalidKeyName(std::ostream &err) const
{
    err << "ERROR: Invalid key name.\nType \"vantrel-cli " << name() << " /?\" for usage.\n";
    return 1;
}

int Command::notFound(std::ostream &err) const
{
    err << "ERROR: The system was unable to find the specified registry key or value.\n";
    return 1;
}

int Command::success(std::ostream &out) const
{
    out << "The operation completed successfully.\n";
    return 0;
}

// Declining a prompt leaves the registry as it was; scripts see exit code 1
// so that an unanswered prompt does not pass for a done change.
int Command::cancelled(std::ostream &out) const
{
    out << "The operation was canceled by the user.\n";
    return 1;
}

int Command::failure(std::ostream &err, LONG code)
{
    err << "ERROR: " << errorText(code) << "\n";
    return 1;
}

int Command::reportSkipped(std::ostream &err, const TKeyWalkReport &report)
{
    if (report.skipped() == 0)
        return 0;
    if (report.denied) {
        err << "ERROR: " << errorText(ERROR_ACCESS_DENIED) << "\n";
        err << "ERROR: " << counted(report.denied, "key", "keys") << " could not be read and "
            << (report.denied == 1 ? "was" : "were") << " skipped.\n";
    }
    if (report.badNames)
        err << "ERROR: " << counted(report.badNames, "key", "keys") << " with an empty name or a backslash in the name "
            << (report.badNames == 1 ? "was" : "were") << " skipped.\n";
    if (report.nulNames)
        err << "ERROR: " << counted(report.nulNames, "key", "keys")
            << " with a NUL in the name, which the A functions cannot express, "
            << (report.nulNames == 1 ? "was" : "were") << " skipped.\n";
    err << (report.firstNames.size() == report.skipped() ? "Skipped:\n" : "The first skipped:\n");
    for (const std::string &name : report.firstNames)
        err << "    " << name << "\n";
    return 1;
}

bool Command::takeViewSwitch(const std::string &sw, bool &bad)
{
    if (sw != "reg:32" && sw != "reg:64")
        return false;
    bad = m_viewChosen;
    m_viewChosen = true;
    m_bitness = sw == "reg:64" ? 64 : 32;
    return true;
}

bool Command::takeWords(const std::vector<std::string> &args, std::vector<std::string> &words)
{
    words.clear();
    for (const std::string &a : args) {
        bool bad = false;
        if (takeViewSwitch(switchName(a), bad)) {
            if (bad)
                return false;
            continue;
        }
        words.push_back(a);
    }
    return true;
}

void Command::applyView(TMyRegistry &reg) const
{
    reg.SetBitness(m_bitness);
    if (m_bitness == 32)
        reg.SetAccess(reg.Access() | KEY_WOW64_32KEY);
}

int Command::openError(std::ostream &err, HKEY root, const std::string &path) const
{
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE | viewFlags(), &key);
    if (rc == ERROR_SUCCESS) {
        RegCloseKey(key);
        return failure(err, ERROR_ACCESS_DENIED);
    }
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND)
        return notFound(err);
    return failure(err, rc);
}

bool parseKeyArg(const std::string &text, KeyArg &key)
{
    static const struct {
        const char *name;
        HKEY root;
    } roots[] = {
        {"hklm", HKEY_LOCAL_MACHINE},
        {"hkey_local_machine", HKEY_LOCAL_MACHINE},
        {"hkcu", HKEY_CURRENT_USER},
        {"hkey_current_user", HKEY_CURRENT_USER},
        {"hkcr", HKEY_CLASSES_ROOT},
        {"hkey_classes_root", HKEY_CLASSES_ROOT},
        {"hku", HKEY_USERS},
        {"hkus", HKEY_USERS},
        {"hkey_users", HKEY_USERS},
        {"hkcc", HKEY_CURRENT_CONFIG},
        {"hkey_current_config", HKEY_CURRENT_CONFIG},
    };
    const size_t slash = text.find('\\');
    const std::string rootName = lower(text.substr(0, slash));
    key = KeyArg();
    for (const auto &r : roots)
        if (rootName == r.name)
            key.root = r.root;
    if (!key.root)
        return false;
    std::string path = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    // Empty components would address a different key than the one named.
    if (!path.empty() && (path.front() == '\\' || path.find("\\\\") != std::string::npos))
        return false;
    key.path = path;
    key.fullName = RootKeyToName(key.root) + (path.empty() ? "" : "\\" + path);
    return true;
}

std::string counted(size_t count, const char *singular, const char *plural)
{
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string switchName(const std::string &word)
{
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-'))
        return {};
    return lower(word.substr(1));
}

std::string errorText(LONG code)
{
    // The tool has always printed these two shorter; scripts may match them.
    if (code == ERROR_OUTOFMEMORY)
        code = ERROR_NOT_ENOUGH_MEMORY;
    if (code == ERROR_REGISTRY_IO_FAILED)
        return "An I/O operation initiated by the registry failed unrecoverably.";
    char text[512];
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                       nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    if (n == 0)
        return "Error " + std::to_string(code) + ".";
    std::string out(text, n);
    while (!out.empty() && (out.back() == ' ' || out.back() == '\r' || out.back() == '\n'))
        out.pop_back();
    return out;
}

} // namespace vt::cli
