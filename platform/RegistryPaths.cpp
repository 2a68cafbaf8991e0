// Where a handle and a path lead: predefined keys, path walks with links,
// the 32-bit view's redirection, HKEY_CLASSES_ROOT's merge, resolving a
// handle for a call, and the remote registry's provider.
#include "platform/RegistryInternal.h"
#include "platform/Unicode.h"
#include "platform/hive/Regf.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace vt::platform::detail
{

std::atomic<const ForeignRegistry *> gForeign{nullptr};

namespace
{

// Keys that 64-bit Windows 10 shares between the views: a path below
// HKLM\SOFTWARE starting with one of these is never redirected.
constexpr std::array<std::string_view, 34> kSharedSoftware = {
    "CLASSES",
    "MICROSOFT\\COM3",
    "MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\CURRENT",
    "MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\READERS",
    "MICROSOFT\\CRYPTOGRAPHY\\SERVICES",
    "MICROSOFT\\CTF\\SYSTEMSHARED",
    "MICROSOFT\\CTF\\TIP",
    "MICROSOFT\\DFS",
    "MICROSOFT\\DRIVER SIGNING",
    "MICROSOFT\\ENTERPRISECERTIFICATES",
    "MICROSOFT\\EVENTSYSTEM",
    "MICROSOFT\\MSMQ",
    "MICROSOFT\\NON-DRIVER SIGNING",
    "MICROSOFT\\NOTEPAD\\DEFAULTFONTS",
    "MICROSOFT\\OLE",
    "MICROSOFT\\RAS",
    "MICROSOFT\\RPC",
    "MICROSOFT\\SHARED TOOLS\\MSINFO",
    "MICROSOFT\\SYSTEMCERTIFICATES",
    "MICROSOFT\\TERMSERVLICENSING",
    "MICROSOFT\\TRANSACTION SERVER",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\APP PATHS",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\CONTROL PANEL\\CURSORS\\SCHEMES",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\AUTOPLAYHANDLERS",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\DRIVEICONS",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\KINDMAP",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\GROUP POLICY",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\PREVIEWHANDLERS",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\SETUP",
    "MICROSOFT\\WINDOWS\\CURRENTVERSION\\TELEPHONY",
    "POLICIES",
    "REGISTEREDAPPLICATIONS",
    "WOW6432NODE",
};

// Of Windows NT\CurrentVersion only these subkeys are shared.
constexpr std::array<std::string_view, 14> kSharedNtCurrentVersion = {
    "CONSOLE",      "FONTDPI",         "FONTLINK",       "FONTMAPPER",
    "FONTS",        "FONTSUBSTITUTES", "GRE_INITIALIZE", "IMAGE FILE EXECUTION OPTIONS",
    "LANGUAGEPACK", "NETWORKCARDS",    "PERFLIB",        "PORTS",
    "PRINT",        "PROFILELIST",
};

// Subkeys of Classes that have a 32-bit copy in Classes\Wow6432Node.
constexpr std::array<std::string_view, 5> kRedirectedClasses = {"CLSID", "DIRECTSHOW", "INTERFACE", "MEDIA TYPE",
                                                                "MEDIAFOUNDATION"};
bool redirectedClassesAt(bool view32, std::string_view logical, std::string_view comp)
{
    if (!view32 || !logical.empty())
        return false;
    std::string buf;
    return std::find(kRedirectedClasses.begin(), kRedirectedClasses.end(), upperInto(buf, comp)) !=
           kRedirectedClasses.end();
}

bool startsWithComponents(std::string_view path, std::string_view prefix)
{
    return path.size() >= prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
           (path.size() == prefix.size() || path[prefix.size()] == '\\');
}

// Upper-cased path below HKLM\SOFTWARE as a 32-bit program names it -> the
// path actually used. Returns false when it stays as it is.
bool redirectSoftware32(std::string_view logical, std::string &physical)
{
    if (logical.empty())
        return false;
    if (startsWithComponents(logical, "CLASSES")) {
        std::string_view rest = logical.size() > 8 ? logical.substr(8) : std::string_view{};
        std::string_view first = rest.substr(0, rest.find('\\'));
        if (std::find(kRedirectedClasses.begin(), kRedirectedClasses.end(), first) == kRedirectedClasses.end())
            return false;
        physical = "CLASSES\\WOW6432NODE\\";
        physical += rest;
        return true;
    }
    if (startsWithComponents(logical, "MICROSOFT\\WINDOWS NT\\CURRENTVERSION")) {
        std::string_view rest = logical.size() > 35 ? logical.substr(36) : std::string_view{};
        std::string_view first = rest.substr(0, rest.find('\\'));
        if (!first.empty() && std::find(kSharedNtCurrentVersion.begin(), kSharedNtCurrentVersion.end(), first) !=
                                  kSharedNtCurrentVersion.end())
            return false;
    } else {
        for (auto shared : kSharedSoftware)
            if (startsWithComponents(logical, shared))
                return false;
    }
    physical = "WOW6432NODE\\";
    physical += logical;
    return true;
}

// Walks below HKLM\SOFTWARE in the 32-bit view. Windows applies the rules to
// the key's full path, so the base's own path counts too (a handle already in
// Wow6432Node stays there).
void walkSoftware32(Key *sw, const Key *base, const std::vector<std::string_view> &comps, size_t from, bool forCreate,
                    Walk &w)
{
    std::vector<std::string> names;
    for (const Key *k = base; k && k != sw; k = k->parent)
        names.push_back(k->name);
    std::reverse(names.begin(), names.end());
    for (size_t i = from; i < comps.size(); ++i)
        names.emplace_back(comps[i]);
    std::string logical, buf;
    for (const auto &n : names) {
        if (!logical.empty())
            logical.push_back('\\');
        logical += upperInto(buf, n);
    }
    std::string physical;
    if (redirectSoftware32(logical, physical))
        names.insert(names.begin() + (startsWithComponents(logical, "CLASSES") ? 1 : 0), "Wow6432Node");
    Key *k = sw;
    size_t d = 0;
    for (; d < names.size(); ++d) {
        Key *c = findChild(*k, names[d]);
        if (!c)
            break;
        k = c;
    }
    w.loc.space = Space::Plain;
    w.loc.key = k;
    w.complete = d == names.size();
    w.createParent = k;
    if (forCreate)
        w.createNames.assign(names.begin() + static_cast<long>(d), names.end());
}

} // namespace

// Windows looks at the low 32 bits of a predefined key only; the engine's own
// handles never have a value that high there.
bool isPredefined(HKEY h)
{
    const auto v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h));
    return v >= 0x80000000u && v <= 0x80000006u;
}

HKEY canonical(HKEY h)
{
    return isPredefined(h) ? VT_PREDEFINED_KEY(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h))) : h;
}

Key *softwareRoot(System &s)
{
    return findChild(*s.machine, "SOFTWARE");
}

Key *userRoot(System &s)
{
    return findChild(*s.users, s.userSid);
}

Key *userClasses(System &s)
{
    Key *u = userRoot(s);
    if (!u)
        return nullptr;
    Key *sw = findChild(*u, "Software");
    return sw ? findChild(*sw, "Classes") : nullptr;
}

Key *machineClasses(System &s)
{
    Key *sw = softwareRoot(s);
    return sw ? findChild(*sw, "Classes") : nullptr;
}

bool defaultView32(System &s)
{
    return s.options.wow64;
}

// The path components of a subkey argument. A leading backslash makes the
// path invalid; repeated and trailing backslashes are skipped, as Windows'
// key-path parsing does.
LONG splitPath(const char *subKey, std::vector<std::string_view> &out)
{
    out.clear();
    if (!subKey || !*subKey)
        return ERROR_SUCCESS;
    std::string_view p(subKey);
    if (p.front() == '\\')
        return ERROR_BAD_PATHNAME;
    size_t start = 0;
    while (start < p.size()) {
        size_t end = p.find('\\', start);
        if (end == std::string_view::npos)
            end = p.size();
        if (end > start)
            out.push_back(p.substr(start, end - start));
        start = end + 1;
    }
    if (out.size() > kMaxDepth)
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

int depthOf(const Key *k)
{
    int d = 0;
    for (; k && k->parent; k = k->parent)
        ++d;
    return d;
}

// Follows a symbolic link key to its target ("\REGISTRY\MACHINE\...").
Key *followLink(System &s, Key *link, int hops)
{
    if (hops > kMaxLinkHops)
        return nullptr;
    const Value *v = findValue(*link, "SymbolicLinkValue");
    if (!v || v->type != REG_LINK)
        return nullptr;
    std::string target = utf16leToUtf8(v->data.data(), v->data.size());
    while (!target.empty() && target.back() == '\0')
        target.pop_back();
    std::string_view t(target);
    if (t.size() < 10 || !sameName(t.substr(0, 10), "\\REGISTRY\\"))
        return nullptr;
    t.remove_prefix(10);
    size_t pos = t.find('\\');
    std::string_view first = t.substr(0, pos);
    Key *k = sameName(first, "MACHINE") ? s.machine.get() : sameName(first, "USER") ? s.users.get() : nullptr;
    while (k && pos != std::string_view::npos) {
        size_t next = t.find('\\', pos + 1);
        k = findChild(*k, t.substr(pos + 1, next == std::string_view::npos ? next : next - pos - 1));
        if (k && (k->flags & kKeySymLink))
            k = followLink(s, k, hops + 1);
        pos = next;
    }
    return k;
}

bool isInside(const Key *k, const Key *ancestor)
{
    for (; k; k = k->parent)
        if (k == ancestor)
            return true;
    return false;
}

// Walks plain keys from `k`, following links except on the last component
// when `openLink` is set.
void walkPlain(System &s, Key *k, const std::vector<std::string_view> &comps, size_t from, bool openLink,
               bool forCreate, Walk &w)
{
    w.loc.space = Space::Plain;
    w.loc.key = k;
    size_t i = from;
    for (; i < comps.size(); ++i) {
        Key *child = findChild(*k, comps[i]);
        if (!child)
            break;
        if ((child->flags & kKeySymLink) && !(openLink && i + 1 == comps.size())) {
            child = followLink(s, child, 0);
            if (!child)
                break;
        }
        k = child;
    }
    w.loc.key = k;
    w.complete = i == comps.size();
    w.createParent = k;
    if (forCreate) {
        w.createNames.clear();
        for (; i < comps.size(); ++i)
            w.createNames.emplace_back(comps[i]);
    }
}

// Resolves a path from a base location in the given view.
void walk(System &s, const Location &base, bool view32, const std::vector<std::string_view> &comps, bool openLink,
          bool forCreate, Walk &w)
{
    w.complete = false;
    w.createParent = nullptr;
    w.createNames.clear();
    if (base.space == Space::Classes) {
        w.loc.space = Space::Classes;
        w.loc.machine = base.machine;
        w.loc.user = base.user;
        w.loc.logical = base.logical;
        w.loc.key = base.key;
        thread_local std::string upperBuf;
        size_t i = 0;
        for (; i < comps.size(); ++i) {
            const bool redirect = view32 && w.loc.logical.empty() &&
                                  std::find(kRedirectedClasses.begin(), kRedirectedClasses.end(),
                                            upperInto(upperBuf, comps[i])) != kRedirectedClasses.end();
            auto step = [&](Key *side) -> Key * {
                if (!side)
                    return nullptr;
                if (redirect) {
                    side = findChild(*side, "Wow6432Node");
                    if (!side)
                        return nullptr;
                }
                return findChild(*side, comps[i]);
            };
            Key *m = step(w.loc.machine);
            Key *u = step(w.loc.user);
            if (!m && !u)
                break;
            w.loc.machine = m;
            w.loc.user = u;
            w.loc.key = u ? u : m;
            if (!w.loc.logical.empty())
                w.loc.logical.push_back('\\');
            w.loc.logical += upperInto(upperBuf, comps[i]);
        }
        w.complete = i == comps.size();
        if (forCreate && !w.complete) {
            // New keys go to the machine's branch unless their parent is the
            // user's; the root itself counts as the machine's.
            w.createParent = w.loc.user && !w.loc.logical.empty() ? w.loc.user : w.loc.machine;
            if (redirectedClassesAt(view32, w.loc.logical, comps[i]))
                w.createNames.emplace_back("Wow6432Node");
            for (; i < comps.size(); ++i)
                w.createNames.emplace_back(comps[i]);
        }
        return;
    }
    w.loc.machine = w.loc.user = nullptr;
    w.loc.logical.clear();
    Key *k = base.key;
    Key *sw = view32 ? softwareRoot(s) : nullptr;
    if (sw && base.space == Space::Wow64Software)
        walkSoftware32(sw, sw, comps, 0, forCreate, w);
    else if (sw && !comps.empty() && k == s.machine.get() && sameName(comps[0], "SOFTWARE"))
        walkSoftware32(sw, sw, comps, 1, forCreate, w);
    else if (sw && !comps.empty() && isInside(k, sw))
        walkSoftware32(sw, k, comps, 0, forCreate, w);
    else
        walkPlain(s, k, comps, 0, openLink, forCreate, w);
    // SOFTWARE itself, seen by a 32-bit program, is Wow6432Node with the shared keys.
    if (sw && w.complete && w.loc.key == sw) {
        if (Key *wow = findChild(*sw, "Wow6432Node")) {
            w.loc.space = Space::Wow64Software;
            w.loc.key = wow;
            w.loc.user = wow;
            w.loc.machine = sw;
        }
    }
}

// Top-level keys of SOFTWARE that both views share, listed in the 32-bit one.
bool isSharedTop(const std::string &upper)
{
    return upper == "CLASSES" || upper == "POLICIES" || upper == "REGISTEREDAPPLICATIONS";
}

// The location a predefined key stands for right now.
LONG predefinedLocation(System &s, HKEY h, Location &loc)
{
    loc = Location{};
    if (h == HKEY_LOCAL_MACHINE) {
        loc.key = s.machine.get();
    } else if (h == HKEY_USERS) {
        loc.key = s.users.get();
    } else if (h == HKEY_CURRENT_USER) {
        loc.key = userRoot(s);
        if (!loc.key)
            return ERROR_FILE_NOT_FOUND;
    } else if (h == HKEY_CLASSES_ROOT) {
        loc.space = Space::Classes;
        loc.machine = machineClasses(s);
        loc.user = userClasses(s);
        loc.key = loc.user ? loc.user : loc.machine;
        if (!loc.key)
            return ERROR_FILE_NOT_FOUND;
    } else if (h == HKEY_CURRENT_CONFIG) {
        static const std::vector<std::string_view> path = {"SYSTEM", "CurrentControlSet", "Hardware Profiles",
                                                           "Current"};
        Walk w;
        walkPlain(s, s.machine.get(), path, 0, false, false, w);
        if (!w.complete)
            return ERROR_FILE_NOT_FOUND;
        loc.key = w.loc.key;
    } else if (h == HKEY_PERFORMANCE_DATA) {
        loc.space = Space::PerfData;
    } else {
        // HKEY_DYN_DATA exists only on Windows 9x; NT refuses the handle.
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

LONG resolveHandle(System &s, HKEY h, Target &t, ACCESS_MASK needed)
{
    if (isPredefined(h)) {
        LONG rc = predefinedLocation(s, canonical(h), t.loc);
        if (rc != ERROR_SUCCESS)
            return rc;
        t.view32 = defaultView32(s);
        if (t.loc.space == Space::PerfData) {
            t.granted = KEY_READ;
        } else if (checkAccess(s, t.loc.key, MAXIMUM_ALLOWED, t.granted) != ERROR_SUCCESS) {
            t.granted = 0;
        }
    } else {
        Slot *slot = s.handles.lookup(h);
        if (!slot)
            return ERROR_INVALID_HANDLE;
        if (slot->deleted)
            return ERROR_KEY_DELETED;
        t.slot = slot;
        // Copying the location would allocate for HKCR handles; borrow its parts.
        t.loc.key = slot->loc.key;
        t.loc.machine = slot->loc.machine;
        t.loc.user = slot->loc.user;
        t.loc.space = slot->loc.space;
        t.granted = slot->granted;
        t.view32 = slot->view32;
    }
    if (needed && (t.granted & needed) != needed)
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

const Location &fullLocation(const Target &t)
{
    return t.slot ? t.slot->loc : t.loc;
}

LONG viewOf(REGSAM sam, bool fallback, bool &view32)
{
    if ((sam & kViewBits) == kViewBits)
        return ERROR_INVALID_PARAMETER;
    view32 = (sam & KEY_WOW64_64KEY) ? false : (sam & KEY_WOW64_32KEY) ? true : fallback;
    return ERROR_SUCCESS;
}

bool isVirtualRoot(System &s, const Key *k)
{
    return k == s.machine.get() || k == s.users.get();
}

// The key a handle stands for, the view the call asks for and the path's
// components: what opening, creating and deleting by path start from.
LONG resolvePath(System &s, HKEY hKey, REGSAM samDesired, LPCSTR subKey, Target &t, bool &view32,
                 std::vector<std::string_view> &comps)
{
    LONG rc = resolveHandle(s, hKey, t, 0);
    if (rc != ERROR_SUCCESS)
        return rc;
    if ((rc = viewOf(samDesired, t.view32, view32)) != ERROR_SUCCESS)
        return rc;
    return splitPath(subKey, comps);
}

} // namespace vt::platform::detail

// ---------------------------------------------------------------------------

using namespace vt::platform;
using namespace vt::platform::detail;

void vt::platform::setForeignRegistry(const ForeignRegistry *provider)
{
    gForeign.store(provider);
}

const ForeignRegistry *vt::platform::detail::foreignRegistry()
{
    return gForeign.load(std::memory_order_acquire);
}
