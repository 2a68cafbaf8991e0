// The platform's security functions behind the security tab: reading a key's
// descriptor as text, the report, granting all rights, account lookups.
#include "security/zoSecurity.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <memory>
#include <unordered_map>

namespace vt::security_info
{

namespace
{

using ConvertStringSidToSidFn = BOOL(WINAPI *)(LPCSTR, PSID *);
using ConvertSidToStringSidFn = BOOL(WINAPI *)(PSID, LPSTR *);
using ConvertSdToStringFn = BOOL(WINAPI *)(PSECURITY_DESCRIPTOR, DWORD, SECURITY_INFORMATION, LPSTR *, PULONG);
using ConvertStringToSdFn = BOOL(WINAPI *)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR *, PULONG);
using MakeAbsoluteSDFn = BOOL(WINAPI *)(PSECURITY_DESCRIPTOR, PSECURITY_DESCRIPTOR, LPDWORD, PACL, LPDWORD, PACL,
                                        LPDWORD, PSID, LPDWORD, PSID, LPDWORD);
using MakeSelfRelativeSDFn = BOOL(WINAPI *)(PSECURITY_DESCRIPTOR, PSECURITY_DESCRIPTOR, LPDWORD);

struct Functions {
    ConvertStringSidToSidFn convertStringSidToSid = nullptr;
    ConvertSidToStringSidFn convertSidToStringSid = nullptr;
    ConvertSdToStringFn convertSdToString = nullptr;
    ConvertStringToSdFn convertStringToSd = nullptr;
    MakeAbsoluteSDFn makeAbsoluteSD = nullptr;
    MakeSelfRelativeSDFn makeSelfRelativeSD = nullptr;
    bool available = false;
};

template <typename F> bool load(HMODULE module, const char *name, F &slot)
{
    slot = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    return slot != nullptr;
}

// Looked up once, in this order; the first one missing ends the search.
const Functions &functions()
{
    static const Functions f = [] {
        Functions out;
        HMODULE advapi = GetModuleHandleA("advapi32.dll");
        out.available = advapi && load(advapi, "ConvertStringSidToSidA", out.convertStringSidToSid) &&
                        load(advapi, "ConvertSidToStringSidA", out.convertSidToStringSid) &&
                        load(advapi, "ConvertSecurityDescriptorToStringSecurityDescriptorA", out.convertSdToString) &&
                        load(advapi, "ConvertStringSecurityDescriptorToSecurityDescriptorA", out.convertStringToSd) &&
                        load(advapi, "MakeAbsoluteSD", out.makeAbsoluteSD) &&
                        load(advapi, "MakeSelfRelativeSD", out.makeSelfRelativeSD);
        return out;
    }();
    return f;
}

uint16_t rd16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t rd32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Whether every part the self-relative header points at lies inside the
// bytes read; the platform's conversion, like Windows', takes no length.
bool partsWithinBytes(const std::vector<uint8_t> &b)
{
    if (b.size() < 20 || b[0] != 1 || !(rd16(&b[2]) & 0x8000))
        return false;
    const uint16_t control = rd16(&b[2]);
    for (std::size_t field : {4u, 8u}) {
        const std::size_t off = rd32(&b[field]);
        if (off && (off < 20 || off + 8 > b.size() || off + 8 + 4 * std::size_t(b[off + 1]) > b.size()))
            return false;
    }
    for (auto [field, present] : {std::pair<std::size_t, uint16_t>{12, 0x10}, {16, 0x04}}) {
        const std::size_t off = rd32(&b[field]);
        if (off && (control & present) && (off < 20 || off + 8 > b.size() || off + rd16(&b[off + 2]) > b.size()))
            return false;
    }
    return true;
}

// The key's descriptor for one kind: size query, size plus one byte, read.
LONG readDescriptor(HKEY key, SECURITY_INFORMATION kind, std::vector<uint8_t> &out, bool *firstTry = nullptr)
{
    DWORD size = 0;
    LONG rc = RegGetKeySecurity(key, kind, nullptr, &size);
    if (firstTry)
        *firstTry = rc == ERROR_SUCCESS;
    if (rc == ERROR_SUCCESS) {
        out.clear();
        return rc;
    }
    out.assign(std::size_t(size) + 1, 0);
    DWORD have = DWORD(out.size());
    rc = RegGetKeySecurity(key, kind, out.data(), &have);
    out.resize(rc == ERROR_SUCCESS ? std::min<std::size_t>(have, out.size()) : 0);
    return rc;
}

QString formatFileTime(uint64_t fileTime)
{
    const TDateTime days = KeyTimeToDateTime(fileTime);
    const double whole = std::floor(days);
    const qint64 msecs = qint64(std::llround((days - whole) * 86400000.0));
    const QDateTime dt = QDateTime(QDate(1899, 12, 30).addDays(qint64(whole)), QTime(0, 0)).addMSecs(msecs);
    const QLocale locale;
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    return locale.toString(dt.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(dt.time(), timeFormat.trimmed());
}

// AccountDisplayName for many ACEs naming few accounts.
class DisplayNames
{
public:
    const std::string &operator()(const std::string &sid)
    {
        auto it = m_names.find(sid);
        if (it == m_names.end())
            it = m_names.emplace(sid, AccountDisplayName(sid)).first;
        return it->second;
    }

private:
    std::unordered_map<std::string, std::string> m_names;
};

void describeInto(const std::string &sddl, std::vector<std::string> &lines, DisplayNames &names)
{
    std::string kind;
    std::vector<std::string> aces;
    SplitSecurityString(sddl, kind, aces);
    for (const std::string &ace : aces) {
        const TAceFields f = SplitAceString(ace);
        lines.push_back(names(f.sid));
        if (!f.type.empty())
            lines.push_back("+ ACE Type: " + AceTypeName(f.type));
        if (!f.flags.empty()) {
            lines.emplace_back("+ ACE Flags:");
            for (const std::string &n : AceFlagNames(f.flags))
                lines.push_back("  + " + n);
        }
        lines.emplace_back("+ Rights:");
        for (const std::string &n : RightNames(f.rights))
            lines.push_back("  + " + n);
        if (!f.objectGuid.empty())
            lines.push_back("+ Object GUID: " + f.objectGuid);
        if (!f.inheritGuid.empty())
            lines.push_back("+ Inherit GUID: " + f.inheritGuid);
    }
}

std::string openFailureText(TMyRegistry &reg, HKEY root, const std::string &path)
{
    LONG code = reg.LastError();
    if (code == ERROR_SUCCESS) {
        HKEY key = nullptr;
        const std::string sub = !path.empty() && path[0] == '\\' ? path.substr(1) : path;
        code = RegOpenKeyExA(root, sub.c_str(), 0, reg.ViewFlags(KEY_READ), &key);
        if (code == ERROR_SUCCESS) {
            RegCloseKey(key);
            code = ERROR_ACCESS_DENIED;
        }
    }
    return SystemMessageText(DWORD(code));
}

} // namespace

bool SecurityFunctionsAvailable()
{
    return functions().available;
}

std::string SystemMessageText(DWORD code)
{
    char text[512];
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                       nullptr, code, 0, text, sizeof text, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == ' ' || out.back() == '\r' || out.back() == '\n'))
        out.pop_back();
    return n ? out : "Error " + std::to_string(code);
}

std::string AccountDisplayName(const std::string &sid, const std::string &computer)
{
    const Functions &fn = functions();
    PSID binary = nullptr;
    if (!fn.available || !fn.convertStringSidToSid(sid.c_str(), &binary))
        return SidAliasName(sid);
    std::unique_ptr<void, HLOCAL (*)(HLOCAL)> owned(binary, &LocalFree);
    DWORD nameLen = 0, domainLen = 0;
    SID_NAME_USE use;
    LookupAccountSidA(nullptr, binary, nullptr, &nameLen, nullptr, &domainLen, &use);
    const char *system = nullptr;
    if (nameLen == 0 && !computer.empty()) {
        system = computer.c_str();
        LookupAccountSidA(system, binary, nullptr, &nameLen, nullptr, &domainLen, &use);
    }
    if (nameLen == 0)
        return SidAliasName(sid);
    std::string name(nameLen, '\0'), domain(domainLen + 1, '\0');
    DWORD n = nameLen, d = DWORD(domain.size());
    if (!LookupAccountSidA(system, binary, name.data(), &n, domain.data(), &d, &use))
        return SidAliasName(sid);
    name.resize(n);
    domain.resize(d);
    if (name.empty())
        return SidAliasName(sid);
    return domain.empty() ? name : name + " (" + domain + ")";
}

DWORD ConvertDescriptorText(const std::vector<uint8_t> &descriptor, SECURITY_INFORMATION flags, std::string &text)
{
    text.clear();
    const Functions &fn = functions();
    if (!fn.available)
        return ERROR_PROC_NOT_FOUND;
    if (!partsWithinBytes(descriptor))
        return ERROR_INVALID_SECURITY_DESCR;
    LPSTR out = nullptr;
    if (!fn.convertSdToString(const_cast<uint8_t *>(descriptor.data()), SDDL_REVISION_1, flags, &out, nullptr))
        return GetLastError();
    text = out;
    LocalFree(out);
    return ERROR_SUCCESS;
}

void zoConvertSecurityDescriptor(const std::vector<uint8_t> &descriptor, SECURITY_INFORMATION flags, std::string &text)
{
    if (const DWORD rc = ConvertDescriptorText(descriptor, flags, text); rc != ERROR_SUCCESS)
        throw ESecurityError(
            "zoConvertSecurityDescriptor.ConvertSecurityDescriptorToStringSecurityDescriptor failed (" +
            SystemMessageText(rc) + ")!");
}

void zoGetRegistrySecurityString(HKEY root, const std::string &path, SECURITY_INFORMATION kind, std::string &text,
                                 int viewMode)
{
    TMyRegistry64 reg;
    reg.SetViewMode(uint8_t(viewMode));
    reg.SetRootKey(root);
    if (!reg.OpenKeyReadOnly(path))
        throw ESecurityError("zoGetRegistrySecurityString.OpenKeyReadOnly failed: " + openFailureText(reg, root, path));
    std::vector<uint8_t> descriptor;
    if (readDescriptor(reg.CurrentKey(), kind, descriptor) != ERROR_SUCCESS)
        throw ESecurityError("zoGetRegistrySecurityString.RegGetKeySecurity failed.");
    zoConvertSecurityDescriptor(
        descriptor, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, text);
}

bool zoConvertSidToStringSid(const std::vector<uint8_t> &sid, std::string &text)
{
    text.clear();
    const Functions &fn = functions();
    // The SID's own header says how long it is: at least that must be here.
    if (!fn.available || sid.size() < 8 || sid.size() < 8 + 4 * std::size_t(sid[1])) {
        SetLastError(ERROR_INVALID_SID);
        return false;
    }
    LPSTR out = nullptr;
    if (!fn.convertSidToStringSid(const_cast<uint8_t *>(sid.data()), &out))
        return false;
    text = out;
    LocalFree(out);
    return true;
}

std::vector<uint8_t> zoLookupAccountName(const std::string &account, const std::string &computer)
{
    const char *system = computer.empty() ? nullptr : computer.c_str();
    DWORD sidSize = 0, domainLen = 0;
    SID_NAME_USE use;
    LookupAccountNameA(system, account.c_str(), nullptr, &sidSize, nullptr, &domainLen, &use);
    if (sidSize == 0)
        return {};
    std::vector<uint8_t> sid(sidSize);
    std::string domain(domainLen + 1, '\0');
    DWORD d = DWORD(domain.size());
    if (!LookupAccountNameA(system, account.c_str(), sid.data(), &sidSize, domain.data(), &d, &use))
        return {};
    sid.resize(sidSize);
    return sid;
}

std::vector<std::string> KeyInfoLines(const TRegKeyInfo &info)
{
    return {"  NumSubKeys: " + std::to_string(info.NumSubKeys),
            "  MaxSubKeyLen: " + std::to_string(info.MaxSubKeyLen),
            "  NumValues: " + std::to_string(info.NumValues),
            "  MaxValueLen: " + std::to_string(info.MaxValueLen),
            "  MaxDataLen: " + std::to_string(info.MaxDataLen),
            "  FileTime: " + formatFileTime(info.LastWriteTime).toStdString()};
}

void DescribeSecurityString(const std::string &sddl, std::vector<std::string> &lines, bool append)
{
    if (!append)
        lines.clear();
    DisplayNames names;
    describeInto(sddl, lines, names);
}

std::vector<std::string> SecurityReport(HKEY root, const std::string &path, int viewMode)
{
    std::vector<std::string> lines;
    lines.push_back("+ Accessing " + RootKeyToName(root) + path);
    TMyRegistry64 reg;
    reg.SetViewMode(uint8_t(viewMode));
    reg.SetRootKey(root);
    if (!reg.OpenKeyReadOnly(path)) {
        lines.emplace_back("- reg.OpenKeyReadOnly: Access denied!");
        return lines;
    }
    if (TRegKeyInfo info; reg.GetKeyInfo(info)) {
        for (std::string &line : KeyInfoLines(info))
            lines.push_back(std::move(line));
    } else {
        lines.emplace_back("- reg.GetKeyInfo: Access denied!");
    }
    struct Kind {
        SECURITY_INFORMATION flag;
        const char *heading;
    };
    static const Kind kinds[] = {
        {DACL_SECURITY_INFORMATION, "+ Accessing DACL_SECURITY_INFORMATION"},
        {GROUP_SECURITY_INFORMATION, "+ Accessing GROUP_SECURITY_INFORMATION"},
        {OWNER_SECURITY_INFORMATION, "+ Accessing OWNER_SECURITY_INFORMATION"},
        {SACL_SECURITY_INFORMATION, "+ Accessing SACL_SECURITY_INFORMATION"},
    };
    DisplayNames names;
    for (const Kind &kind : kinds) {
        lines.emplace_back(kind.heading);
        std::vector<uint8_t> descriptor;
        bool firstTry = false;
        const LONG rc = readDescriptor(reg.CurrentKey(), kind.flag, descriptor, &firstTry);
        if (firstTry) {
            // A size query cannot succeed without a buffer: nothing to show.
            lines.emplace_back("+ Security settings read on first try.");
            continue;
        }
        if (rc != ERROR_SUCCESS) {
            lines.push_back("- Could not read even after allocating memory: " + SystemMessageText(DWORD(rc)));
            continue;
        }
        lines.emplace_back("+ Security settings read after allocating memory.");
        if (kind.flag == DACL_SECURITY_INFORMATION && descriptor.size() >= 4) {
            lines.emplace_back("+ Security settings read with allocated memory");
            lines.push_back("  Revision: " + std::to_string(descriptor[0]));
            lines.push_back("  Sbz1: " + std::to_string(descriptor[1]));
            lines.push_back("  Control: " + std::to_string(rd16(&descriptor[2])));
        }
        std::string text;
        const DWORD converted = ConvertDescriptorText(descriptor, kind.flag, text);
        if (converted == ERROR_SUCCESS) {
            if (!text.empty()) {
                lines.emplace_back("+ Converted security descriptor follows...");
                describeInto(text, lines, names);
            }
            continue;
        }
        lines.emplace_back("- Could not convert Security Descriptor to string!");
        switch (converted) {
        case ERROR_INVALID_PARAMETER:
            lines.emplace_back("- Error message: Invalid parameter.");
            break;
        case ERROR_UNKNOWN_REVISION:
            lines.emplace_back("- Error message: The revision level is invalid.");
            break;
        case ERROR_NONE_MAPPED:
            lines.emplace_back("- Error message: A SID in the input security descriptor could not be found in an "
                               "account lookup operation.");
            break;
        case ERROR_INVALID_ACL:
            lines.emplace_back("- Error message: Invalid ACL. This error is returned if the SE_DACL_PRESENT flag is "
                               "set in the input security descriptor and the DACL is NULL.");
            break;
        default:
            break;
        }
    }
    reg.CloseKey();
    return lines;
}

std::string ReportText(const std::vector<std::string> &lines)
{
    std::string out;
    std::size_t size = 0;
    for (const std::string &line : lines)
        size += line.size() + 2;
    out.reserve(size);
    for (const std::string &line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

std::string GrantAllToEveryone(HKEY root, const std::string &path, int viewMode)
{
    const std::string prefix = "- Could not set key security: ";
    const Functions &fn = functions();
    if (!fn.available)
        return prefix + SystemMessageText(ERROR_PROC_NOT_FOUND);
    TMyRegistry64 reg;
    reg.SetViewMode(uint8_t(viewMode));
    reg.SetRootKey(root);
    reg.SetAccess(READ_CONTROL | WRITE_DAC);
    if (!reg.OpenKey(path, false))
        return prefix + SystemMessageText(DWORD(reg.LastError()));
    std::vector<uint8_t> current;
    if (const LONG rc = readDescriptor(reg.CurrentKey(), DACL_SECURITY_INFORMATION, current); rc != ERROR_SUCCESS)
        return prefix + SystemMessageText(DWORD(rc));
    if (!partsWithinBytes(current))
        return prefix + SystemMessageText(ERROR_INVALID_SECURITY_DESCR);
    // The descriptor read is self-relative; only an absolute one takes a
    // new DACL pointer.
    DWORD absSize = 0, daclSize = 0, saclSize = 0, ownerSize = 0, groupSize = 0;
    fn.makeAbsoluteSD(current.data(), nullptr, &absSize, nullptr, &daclSize, nullptr, &saclSize, nullptr, &ownerSize,
                      nullptr, &groupSize);
    std::vector<uint8_t> abs(std::max<DWORD>(absSize, 1)), dacl(std::max<DWORD>(daclSize, 1)),
        sacl(std::max<DWORD>(saclSize, 1)), owner(std::max<DWORD>(ownerSize, 1)), group(std::max<DWORD>(groupSize, 1));
    if (!fn.makeAbsoluteSD(current.data(), abs.data(), &absSize, reinterpret_cast<PACL>(dacl.data()), &daclSize,
                           reinterpret_cast<PACL>(sacl.data()), &saclSize, owner.data(), &ownerSize, group.data(),
                           &groupSize) ||
        !SetSecurityDescriptorDacl(abs.data(), TRUE, nullptr, FALSE))
        return prefix + SystemMessageText(GetLastError());
    if (const LONG rc = RegSetKeySecurity(reg.CurrentKey(), DACL_SECURITY_INFORMATION, abs.data()); rc != ERROR_SUCCESS)
        return prefix + SystemMessageText(DWORD(rc));
    return {};
}

} // namespace vt::security_info
