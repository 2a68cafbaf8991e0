// The registry functions over the in-memory key trees of the mounted hives.
#include "platform/Engine.h"
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

namespace sec = vt::security;

// ---------------------------------------------------------------------------
// Handles

HandleTable::HandleTable()
{
    for (auto &c : m_chunks)
        c.store(nullptr, std::memory_order_relaxed);
}

HandleTable::~HandleTable()
{
    for (auto &c : m_chunks)
        delete[] c.load();
}

HKEY HandleTable::valueOf(size_t index) const
{
    const uint64_t gen = at(index).generation.load(std::memory_order_relaxed) & 0x7FFFFFFF;
    // Slot numbers from 1 in bits 4..31, generation above: never one of the
    // predefined values (those have all high bits set) and never null.
    return reinterpret_cast<HKEY>(static_cast<uintptr_t>((gen << 32) | (uint64_t(index + 1) << 4)));
}

HKEY HandleTable::allocate(Location loc, ACCESS_MASK granted, bool view32)
{
    std::lock_guard g(m_mutex);
    size_t index;
    if (!m_free.empty()) {
        index = m_free.back();
        m_free.pop_back();
    } else {
        if (m_count >= kChunks << kChunkBits)
            return nullptr;
        index = m_count;
        if (!m_chunks[index >> kChunkBits].load(std::memory_order_relaxed))
            m_chunks[index >> kChunkBits].store(new Slot[size_t(1) << kChunkBits], std::memory_order_release);
        ++m_count;
    }
    Slot &slot = at(index);
    slot.deleted = false;
    slot.view32 = view32;
    slot.granted = granted;
    slot.loc.key = loc.key;
    slot.loc.machine = loc.machine;
    slot.loc.user = loc.user;
    slot.loc.space = loc.space;
    slot.loc.logical.assign(loc.logical); // keeps the slot's capacity: no allocation once warm
    slot.enumIndex = ~0u;
    slot.used.store(true, std::memory_order_release);
    return valueOf(index);
}

Slot *HandleTable::lookup(HKEY h) const
{
    const auto v = reinterpret_cast<uintptr_t>(h);
    if ((v & 0xF) != 0 || (v >> 63) != 0)
        return nullptr;
    const size_t index = ((v >> 4) & 0x0FFFFFFF);
    if (index == 0 || index - 1 >= kChunks << kChunkBits)
        return nullptr;
    Slot *chunk = m_chunks[(index - 1) >> kChunkBits].load(std::memory_order_acquire);
    if (!chunk)
        return nullptr;
    Slot &slot = chunk[(index - 1) & ((1u << kChunkBits) - 1)];
    if ((slot.generation.load(std::memory_order_acquire) & 0x7FFFFFFF) != (v >> 32) ||
        !slot.used.load(std::memory_order_acquire))
        return nullptr;
    return &slot;
}

bool HandleTable::release(HKEY h)
{
    std::lock_guard g(m_mutex);
    Slot *slot = lookup(h);
    if (!slot)
        return false;
    slot->used.store(false, std::memory_order_release);
    slot->loc.key = slot->loc.machine = slot->loc.user = nullptr;
    uint32_t gen = slot->generation.load() + 1;
    if ((gen & 0x7FFFFFFF) == 0)
        gen = 1;
    slot->generation.store(gen, std::memory_order_release);
    m_free.push_back(static_cast<uint32_t>(((reinterpret_cast<uintptr_t>(h) >> 4) & 0x0FFFFFFF) - 1));
    return true;
}

// ---------------------------------------------------------------------------
// Tree helpers

uint64_t nowFileTime()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (uint64_t(ts.tv_sec) + 11644473600ULL) * 10000000ULL + uint64_t(ts.tv_nsec) / 100;
}

namespace
{

bool isAscii(std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Upper-cases into a per-thread buffer: lookups allocate nothing once warm.
std::string_view upperInto(std::string &buf, std::string_view name)
{
    if (isAscii(name)) {
        buf.resize(name.size());
        for (size_t i = 0; i < name.size(); ++i) {
            char c = name[i];
            buf[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        }
    } else {
        buf = vt::hive::upperName(name);
    }
    return buf;
}

using vt::hive::sameName;

} // namespace

Key *findChild(const Key &key, std::string_view name)
{
    thread_local std::string buf;
    Key *child = key.findSubkey(upperInto(buf, name));
    // Below a virtual root are the mounted hives; a lazy one is read now.
    if (child && !key.parent && child->unloaded.load(std::memory_order_acquire))
        loadLazyMount(*child);
    return child;
}

Value *findValue(Key &key, std::string_view name)
{
    return key.findValue(name);
}

std::unique_ptr<Key> newKey(std::string_view name, uint64_t time)
{
    auto k = std::make_unique<Key>();
    k->name = std::string(name);
    k->upperName = vt::hive::upperName(name);
    k->lastWriteTime = time;
    k->nameCompressed = isAscii(name);
    return k;
}

Key *insertSubkey(Key &parent, std::unique_ptr<Key> child)
{
    child->parent = &parent;
    const size_t at = parent.subkeys.lowerBound(child->upperName);
    return parent.subkeys.insert(parent.subkeys.begin() + static_cast<std::ptrdiff_t>(at), std::move(child))->get();
}

void setValue(Key &key, std::string_view name, uint32_t type, std::vector<uint8_t> data)
{
    if (Value *v = findValue(key, name)) {
        v->type = type;
        v->data = std::move(data);
        return;
    }
    Value v;
    v.name = std::string(name);
    v.type = type;
    v.data = std::move(data);
    v.nameCompressed = isAscii(name);
    key.appendValue(std::move(v));
}

bool deleteValue(Key &key, std::string_view name)
{
    return key.eraseValue(name);
}

Mount *mountOf(System &s, const Key *key)
{
    const Key *k = key;
    while (k && k->parent && k->parent != s.machine.get() && k->parent != s.users.get())
        k = k->parent;
    if (!k || !k->parent)
        return nullptr;
    for (auto &m : s.mounts)
        if (m->root == k)
            return m.get();
    return nullptr;
}

void markDirty(System &s, const Key &key)
{
    if (Mount *m = mountOf(s, &key))
        m->dirty = true;
}

bool inReadOnlyHive(System &s, const Key &key)
{
    const Mount *m = mountOf(s, &key);
    return m && m->readOnly;
}

bool isUnderVolatile(const Key &key)
{
    // The virtual roots (no parent) are volatile but hold the persistent hives.
    for (const Key *k = &key; k && k->parent; k = k->parent)
        if (k->isVolatile)
            return true;
    return false;
}

std::string keyPath(const Key &key)
{
    std::vector<const Key *> chain;
    for (const Key *k = &key; k; k = k->parent)
        chain.push_back(k);
    std::string out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!out.empty())
            out.push_back('\\');
        out += (*it)->name;
    }
    return out;
}

Key *keyFromPath(System &s, std::string_view path)
{
    size_t pos = path.find('\\');
    std::string_view first = path.substr(0, pos);
    Key *k = sameName(first, "MACHINE") ? s.machine.get() : sameName(first, "USER") ? s.users.get() : nullptr;
    while (k && pos != std::string_view::npos) {
        size_t next = path.find('\\', pos + 1);
        k = findChild(*k, path.substr(pos + 1, next == std::string_view::npos ? next : next - pos - 1));
        pos = next;
    }
    return k;
}

void removeSubkey(System &s, Key &parent, Key *child)
{
    // Handles into the removed subtree answer ERROR_KEY_DELETED from now on.
    auto inside = [child](const Key *k) {
        for (; k; k = k->parent)
            if (k == child)
                return true;
        return false;
    };
    s.handles.forEachUsed([&](Slot &slot, size_t) {
        // A slot already marked may point at freed keys: never follow it.
        if (!slot.deleted && (inside(slot.loc.key) || inside(slot.loc.machine) || inside(slot.loc.user)))
            slot.deleted = true;
    });
    {
        std::lock_guard g(s.notifyMutex);
        auto &regs = s.registrations;
        for (auto it = regs.begin(); it != regs.end();) {
            if (inside(it->key)) {
                signalEvent(it->event);
                it = regs.erase(it);
            } else {
                ++it;
            }
        }
    }
    // The child sits where its name sorts; a list left unsorted by a damaged
    // hive is searched whole.
    auto &subs = parent.subkeys;
    size_t at = subs.lowerBound(child->upperName);
    if (at >= subs.size() || subs[at].get() != child) {
        at = static_cast<size_t>(std::find_if(subs.begin(), subs.end(),
                                              [child](const std::unique_ptr<Key> &k) { return k.get() == child; }) -
                                 subs.begin());
    }
    if (at < subs.size())
        subs.erase(subs.begin() + static_cast<std::ptrdiff_t>(at));
}

void renameSubkey(Key &parent, Key *child, std::string_view newName)
{
    auto &subs = parent.subkeys;
    size_t at = subs.lowerBound(child->upperName);
    if (at >= subs.size() || subs[at].get() != child)
        return;
    std::unique_ptr<Key> owned = std::move(subs[at]);
    subs.erase(subs.begin() + static_cast<std::ptrdiff_t>(at));
    owned->name = std::string(newName);
    owned->upperName = vt::hive::upperName(newName);
    owned->nameCompressed = isAscii(newName);
    insertSubkey(parent, std::move(owned));
}

void fireNotifications(System &s, Key *key, DWORD kind)
{
    std::lock_guard g(s.notifyMutex);
    auto &regs = s.registrations;
    std::vector<uintptr_t> fired;
    for (auto it = regs.begin(); it != regs.end();) {
        bool match = false;
        if (it->filter & kind) {
            if (it->key == key) {
                match = true;
            } else if (it->subtree) {
                for (const Key *k = key ? key->parent : nullptr; k; k = k->parent)
                    if (k == it->key) {
                        match = true;
                        break;
                    }
            }
        }
        if (match) {
            signalEvent(it->event);
            fired.push_back(reinterpret_cast<uintptr_t>(it->event.get()));
            it = regs.erase(it);
        } else {
            ++it;
        }
    }
    // A merged registration watches both sides; it ends as one.
    if (!fired.empty())
        std::erase_if(regs, [&](const Registration &r) {
            return std::find(fired.begin(), fired.end(), reinterpret_cast<uintptr_t>(r.event.get())) != fired.end();
        });
}

void attachMount(System &s, std::unique_ptr<Mount> m, std::unique_ptr<Key> root)
{
    m->rootName = root->name;
    root->name = m->name;
    root->upperName = vt::hive::upperName(m->name);
    m->root = insertSubkey(*m->virtualRoot, std::move(root));
    s.mounts.push_back(std::move(m));
}

} // namespace vt::platform::detail

// ---------------------------------------------------------------------------
// The registry functions

using namespace vt::platform;
using namespace vt::platform::detail;

namespace
{

std::atomic<const ForeignRegistry *> gForeign{nullptr};

bool isForeign(HKEY h)
{
    return (reinterpret_cast<uintptr_t>(h) & 0xF) == kForeignKeyTag;
}

// Hands a call on a foreign handle to its provider.
#define VT_FOREIGN(h, member, ...)                                                                                     \
    if (isForeign(h)) {                                                                                                \
        const ForeignRegistry *f = gForeign.load(std::memory_order_acquire);                                           \
        if (!f)                                                                                                        \
            return ERROR_INVALID_HANDLE;                                                                               \
        return f->member ? f->member(__VA_ARGS__) : ERROR_CALL_NOT_IMPLEMENTED;                                        \
    }

constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;
constexpr size_t kMaxDepth = 512;
constexpr size_t kMaxCreateLevels = 32; // levels one RegCreateKeyExA may name
constexpr int kMaxLinkHops = 16;
constexpr ACCESS_MASK kViewBits = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

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

// Where a walk ended: the deepest key reached, whether the whole path exists,
// and (when asked) where and under which names the missing part is created.
struct Walk {
    Location loc;
    bool complete = false;
    Key *createParent = nullptr;
    std::vector<std::string> createNames;
};

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

const std::vector<uint8_t> &fallbackDescriptor()
{
    static const std::vector<uint8_t> sd = sec::defaultMachineHiveDescriptor();
    return sd;
}

std::span<const uint8_t> descriptorOf(const Key *k)
{
    for (; k; k = k->parent)
        if (k->security && !k->security->empty())
            return *k->security;
    return fallbackDescriptor();
}

// What a new key below `parent` inherits when created by this process.
vt::hive::SecurityDescriptorPtr inheritedSecurity(System &s, const Key *parent)
{
    const Key *from = parent;
    while (from && !(from->security && !from->security->empty()))
        from = from->parent;
    if (!from)
        return std::make_shared<const vt::hive::SecurityDescriptor>(
            sec::inheritForNewKey(fallbackDescriptor(), s.token));
    if (s.inheritSource != from->security) {
        s.inheritSource = from->security;
        s.inherited =
            std::make_shared<const vt::hive::SecurityDescriptor>(sec::inheritForNewKey(*from->security, s.token));
    }
    return s.inherited;
}

LONG checkAccess(System &s, const Key *k, ACCESS_MASK desired, ACCESS_MASK &granted)
{
    granted = 0;
    ACCESS_MASK want = sec::mapGenericKeyRights(desired & ~kViewBits);
    ACCESS_MASK extra = 0;
    if (want & ACCESS_SYSTEM_SECURITY) {
        // Administrators and SYSTEM hold the security privilege.
        if (s.options.identity == Identity::StandardUser)
            return ERROR_PRIVILEGE_NOT_HELD;
        want &= ~ACCESS_SYSTEM_SECURITY;
        extra = ACCESS_SYSTEM_SECURITY;
    }
    // Keys share descriptors, so a small per-thread cache of recent checks
    // spares most opens the descriptor walk. Entries pin their descriptor, so
    // an address is never reused while cached; a new system starts afresh.
    const Key *owner = k;
    while (owner && !(owner->security && !owner->security->empty()))
        owner = owner->parent;
    struct Entry {
        vt::hive::SecurityDescriptorPtr sd;
        const System *system = nullptr;
        uint64_t epoch = 0;
        ACCESS_MASK want = 0, granted = 0;
        LONG rc = 0;
    };
    thread_local std::array<Entry, 8> cache;
    thread_local unsigned next = 0;
    if (owner) {
        for (const Entry &e : cache) {
            if (e.sd == owner->security && e.want == want && e.system == &s && e.epoch == s.epoch) {
                granted = e.rc == ERROR_SUCCESS ? e.granted | extra : 0;
                return e.rc;
            }
        }
    }
    LONG rc = sec::accessCheck(descriptorOf(k), *s.prepared, want, granted);
    if (owner)
        cache[next++ % cache.size()] = Entry{owner->security, &s, s.epoch, want, granted, rc};
    if (rc == ERROR_SUCCESS)
        granted |= extra;
    return rc;
}

// A handle resolved for one call: a slot or a predefined key.
struct Target {
    Location loc;
    ACCESS_MASK granted = 0;
    bool view32 = false;
    Slot *slot = nullptr;
};

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

// Size of a self-relative descriptor from its header, 0 when it is not one.
size_t selfRelativeSize(const uint8_t *sd)
{
    if (!sd || sd[0] != 1)
        return 0;
    const uint16_t control = uint16_t(sd[2] | (sd[3] << 8));
    if (!(control & sec::kSeSelfRelative))
        return 0;
    auto rd32 = [&](size_t off) {
        return uint32_t(sd[off]) | uint32_t(sd[off + 1]) << 8 | uint32_t(sd[off + 2]) << 16 |
               uint32_t(sd[off + 3]) << 24;
    };
    size_t end = 20;
    const uint32_t owner = rd32(4), group = rd32(8), sacl = rd32(12), dacl = rd32(16);
    for (uint32_t off : {owner, group})
        if (off) {
            if (off > 0x10000)
                return 0;
            end = std::max<size_t>(end, off + 8 + 4 * size_t(sd[off + 1]));
        }
    if (sacl && (control & sec::kSeSaclPresent)) {
        if (sacl > 0x10000)
            return 0;
        end = std::max<size_t>(end, sacl + size_t(sd[sacl + 2] | (sd[sacl + 3] << 8)));
    }
    if (dacl && (control & sec::kSeDaclPresent)) {
        if (dacl > 0x10000)
            return 0;
        end = std::max<size_t>(end, dacl + size_t(sd[dacl + 2] | (sd[dacl + 3] << 8)));
    }
    return end;
}

bool isVirtualRoot(System &s, const Key *k)
{
    return k == s.machine.get() || k == s.users.get();
}

// Size the A functions report for a value's data.
DWORD ansiSize(const Value &v)
{
    if (isStringType(v.type))
        return static_cast<DWORD>(utf8SizeOfUtf16le(v.data.data(), v.data.size()));
    return static_cast<DWORD>(v.data.size());
}

// Copies a value's data as the A functions give it.
LONG copyData(const Value &v, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpType)
        *lpType = v.type;
    const DWORD size = ansiSize(v);
    if (!lpcbData)
        return ERROR_SUCCESS;
    if (!lpData) {
        *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (isStringType(v.type)) {
        utf16leToUtf8Into(v.data.data(), v.data.size(), reinterpret_cast<char *>(lpData));
        // A string stored without its terminator gets one when there is room
        // (not counted in the size), as Windows' A functions do.
        // Empty data leaves the buffer untouched, as on Windows.
        if (*lpcbData > size && size != 0 && lpData[size - 1] != 0)
            lpData[size] = 0;
    } else if (size) {
        std::memcpy(lpData, v.data.data(), size);
    }
    *lpcbData = size;
    return ERROR_SUCCESS;
}

thread_local std::vector<std::string_view> tComps;

// Exclusive or shared hold of the system lock for one call.
struct Shared {
    System &s;
    std::shared_lock<RwLock> l;
    explicit Shared(System &sys) : s(sys), l(sys.lock) {}
};
// A change: the exclusive lock, then the journal's file lock with whatever
// other processes appended applied first, so records stay in one order.
struct Exclusive {
    System &s;
    std::unique_lock<RwLock> l;
    JournalLock j;
    explicit Exclusive(System &sys) : s(sys), l(sys.lock), j(sys) {}
};

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

LONG openImpl(System &s, HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    // HKCR takes a leading backslash on open (Windows 2000 and later).
    if (lpSubKey && *lpSubKey == '\\' && canonical(hKey) == HKEY_CLASSES_ROOT)
        ++lpSubKey;
    Target t;
    bool view32;
    LONG rc = resolvePath(s, hKey, samDesired, lpSubKey, t, view32, tComps);
    if (rc != ERROR_SUCCESS)
        return rc;
    const Location &base = fullLocation(t);
    if (base.space == Space::PerfData) {
        if (!tComps.empty())
            return ERROR_FILE_NOT_FOUND;
        Location loc;
        loc.space = Space::PerfData;
        *phkResult = s.handles.allocate(std::move(loc), KEY_READ, view32);
        return ERROR_SUCCESS;
    }
    thread_local Walk w;
    walk(s, base, view32, tComps, (ulOptions & REG_OPTION_OPEN_LINK) != 0, false, w);
    if (!w.complete || !w.loc.key)
        return ERROR_FILE_NOT_FOUND;
    ACCESS_MASK granted;
    if ((rc = checkAccess(s, w.loc.key, samDesired, granted)) != ERROR_SUCCESS)
        return rc;
    HKEY h = s.handles.allocate(w.loc, granted, view32);
    if (!h)
        return ERROR_NOT_ENOUGH_MEMORY;
    *phkResult = h;
    return ERROR_SUCCESS;
}

} // namespace

void vt::platform::setForeignRegistry(const ForeignRegistry *provider)
{
    gForeign.store(provider);
}
const ForeignRegistry *vt::platform::detail::foreignRegistry()
{
    return gForeign.load(std::memory_order_acquire);
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    VT_FOREIGN(hKey, openKeyEx, hKey, lpSubKey, ulOptions, samDesired, phkResult)
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    return openImpl(s, hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, const SECURITY_ATTRIBUTES *lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition)
{
    VT_FOREIGN(hKey, createKeyEx, hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
               phkResult, lpdwDisposition)
    if (!phkResult)
        return ERROR_BADKEY; // what Windows answers for a missing result pointer
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    if (dwOptions & ~(REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK | REG_OPTION_BACKUP_RESTORE | REG_OPTION_OPEN_LINK))
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    Exclusive g(s);
    Target t;
    bool view32;
    std::vector<std::string_view> comps;
    LONG rc = resolvePath(s, hKey, samDesired, lpSubKey, t, view32, comps);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (comps.size() > kMaxCreateLevels)
        return ERROR_INVALID_PARAMETER;
    for (auto c : comps)
        if (utf16Length(c) > kMaxKeyNameChars)
            return ERROR_INVALID_PARAMETER;
    const Location &base = fullLocation(t);
    if (base.space == Space::PerfData)
        return ERROR_ACCESS_DENIED;
    thread_local Walk w;
    walk(s, base, view32, comps, (dwOptions & REG_OPTION_OPEN_LINK) != 0, true, w);
    if (w.complete && w.loc.key) {
        ACCESS_MASK granted;
        if ((rc = checkAccess(s, w.loc.key, samDesired, granted)) != ERROR_SUCCESS)
            return rc;
        *phkResult = s.handles.allocate(w.loc, granted, view32);
        if (lpdwDisposition)
            *lpdwDisposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }

    // The missing components are created below the deepest existing key: for
    // HKCR in the user's branch when the parent is the user's, else the machine's.
    Key *parent = w.createParent;
    const std::vector<std::string> &names = w.createNames;
    if (!parent)
        return ERROR_FILE_NOT_FOUND;
    if (isVirtualRoot(s, parent) || inReadOnlyHive(s, *parent))
        return ERROR_ACCESS_DENIED; // only whole hives live there; a read-only hive takes no keys
    if (depthOf(parent) + names.size() > kMaxDepth)
        return ERROR_INVALID_PARAMETER;
    ACCESS_MASK parentGranted;
    if (checkAccess(s, parent, KEY_CREATE_SUB_KEY, parentGranted) != ERROR_SUCCESS)
        return ERROR_ACCESS_DENIED;
    const bool makeVolatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
    if (!makeVolatile && isUnderVolatile(*parent))
        return ERROR_CHILD_MUST_BE_VOLATILE;

    sec::Bytes explicitSd;
    if (lpSecurityAttributes && lpSecurityAttributes->lpSecurityDescriptor) {
        auto *p = static_cast<const uint8_t *>(lpSecurityAttributes->lpSecurityDescriptor);
        size_t n = selfRelativeSize(p);
        if (!n || !sec::isValidDescriptor({p, n}))
            return ERROR_INVALID_SECURITY_DESCR;
        explicitSd.assign(p, p + n);
    }

    const uint64_t now = nowFileTime();
    Key *k = parent;
    Key *created = nullptr;
    for (size_t i = 0; i < names.size(); ++i) {
        if (Key *existing = findChild(*k, names[i])) { // a prefix component that exists
            k = existing;
            continue;
        }
        const bool last = i + 1 == names.size();
        auto child = newKey(names[i], now);
        child->security = last && !explicitSd.empty() ? std::make_shared<const vt::hive::SecurityDescriptor>(explicitSd)
                                                      : inheritedSecurity(s, k);
        child->isVolatile = makeVolatile;
        if (last && lpClass)
            child->className = lpClass;
        if (last && (dwOptions & REG_OPTION_CREATE_LINK))
            child->flags |= kKeySymLink;
        if (last) {
            ACCESS_MASK granted;
            if (sec::accessCheck(*child->security, *s.prepared,
                                 sec::mapGenericKeyRights(samDesired & ~(kViewBits | ACCESS_SYSTEM_SECURITY)),
                                 granted) != ERROR_SUCCESS)
                return ERROR_ACCESS_DENIED;
        }
        Key *inserted = insertSubkey(*k, std::move(child));
        k->lastWriteTime = now;
        if (!makeVolatile) {
            markDirty(s, *k);
            if (!journalCreateKey(s, *inserted))
                return journalFailure(s);
        }
        fireNotifications(s, k, REG_NOTIFY_CHANGE_NAME);
        k = inserted;
        created = inserted;
    }
    ACCESS_MASK granted;
    if ((rc = checkAccess(s, k, samDesired, granted)) != ERROR_SUCCESS)
        return rc;
    Location loc;
    if (w.loc.space == Space::Classes) {
        loc.space = Space::Classes;
        loc.key = k;
        const bool userSide = w.loc.user && !w.loc.logical.empty();
        loc.user = userSide ? k : nullptr;
        loc.machine = userSide ? nullptr : k;
        loc.logical = w.loc.logical;
        std::string buf;
        for (const auto &c : names) {
            if (c == "Wow6432Node" && &c == &names.front() && loc.logical.empty() && names.size() > 1)
                continue; // the view's own prefix is no part of the name the caller sees
            if (!loc.logical.empty())
                loc.logical.push_back('\\');
            loc.logical += upperInto(buf, c);
        }
    } else {
        loc.key = k;
    }
    *phkResult = s.handles.allocate(std::move(loc), granted, view32);
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey)
{
    VT_FOREIGN(hKey, closeKey, hKey)
    if (isPredefined(hKey))
        return ERROR_SUCCESS;
    System *sp = currentIfOpen();
    if (!sp)
        return ERROR_INVALID_HANDLE;
    System &s = *sp;
    Shared g(s);
    if (!s.handles.lookup(hKey))
        return ERROR_INVALID_HANDLE;
    {
        // Closing the handle completes its pending notifications, as on Windows.
        std::lock_guard n(s.notifyMutex);
        auto &regs = s.registrations;
        for (auto it = regs.begin(); it != regs.end();) {
            if (it->handle == reinterpret_cast<uintptr_t>(hKey)) {
                signalEvent(it->event);
                it = regs.erase(it);
            } else {
                ++it;
            }
        }
    }
    return s.handles.release(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData)
{
    VT_FOREIGN(hKey, queryValueEx, hKey, lpValueName, lpReserved, lpType, lpData, lpcbData)
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    LONG rc = resolveHandle(s, hKey, t, KEY_QUERY_VALUE);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (t.loc.space == Space::PerfData)
        return ERROR_FILE_NOT_FOUND;
    Value *v = findValue(*t.loc.key, lpValueName ? lpValueName : "");
    if (!v) {
        if (lpcbData && !lpData)
            *lpcbData = 0;
        return ERROR_FILE_NOT_FOUND;
    }
    return copyData(*v, lpType, lpData, lpcbData);
}

namespace
{

LONG writableKey(System &s, HKEY hKey, ACCESS_MASK needed, Target &t)
{
    LONG rc = resolveHandle(s, hKey, t, needed);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (t.loc.space == Space::PerfData || isVirtualRoot(s, t.loc.key) || inReadOnlyHive(s, *t.loc.key))
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

} // namespace

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData,
                           DWORD cbData)
{
    VT_FOREIGN(hKey, setValueEx, hKey, lpValueName, Reserved, dwType, lpData, cbData)
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    const std::string_view name = lpValueName ? lpValueName : "";
    if (utf16Length(name) > kMaxValueNameChars)
        return ERROR_INVALID_PARAMETER;
    // Larger data cannot be kept in a hive: refuse it before anything changes.
    if (cbData > (isStringType(dwType) ? kMaxValueData / 2 * 3 : kMaxValueData)) // UTF-16 takes >= 2/3 of UTF-8
        return ERROR_NOT_ENOUGH_MEMORY;
    std::vector<uint8_t> data;
    if (isStringType(dwType))
        data = utf8ToUtf16le(std::string_view(reinterpret_cast<const char *>(lpData), cbData));
    else if (cbData)
        data.assign(lpData, lpData + cbData);
    if (data.size() > kMaxValueData)
        return ERROR_NOT_ENOUGH_MEMORY;
    System &s = current();
    Exclusive g(s);
    Target t;
    LONG rc = writableKey(s, hKey, KEY_SET_VALUE, t);
    if (rc != ERROR_SUCCESS)
        return rc;
    Key &k = *t.loc.key;
    // Windows treats the same type and data as no change: no new time, no notification.
    if (const Value *old = findValue(k, name); old && old->type == dwType && old->data == data)
        return ERROR_SUCCESS;
    setValue(k, name, dwType, std::move(data));
    k.lastWriteTime = nowFileTime();
    if (!isUnderVolatile(k)) {
        markDirty(s, k);
        if (!journalSetValue(s, k, *findValue(k, name)))
            return journalFailure(s);
    }
    fireNotifications(s, &k, REG_NOTIFY_CHANGE_LAST_SET);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    VT_FOREIGN(hKey, deleteValue, hKey, lpValueName)
    System &s = current();
    Exclusive g(s);
    Target t;
    LONG rc = writableKey(s, hKey, KEY_SET_VALUE, t);
    if (rc != ERROR_SUCCESS)
        return rc;
    Key &k = *t.loc.key;
    const std::string_view name = lpValueName ? lpValueName : "";
    if (!deleteValue(k, name))
        return ERROR_FILE_NOT_FOUND;
    k.lastWriteTime = nowFileTime();
    if (!isUnderVolatile(k)) {
        markDirty(s, k);
        if (!journalDeleteValue(s, k, name))
            return journalFailure(s);
    }
    fireNotifications(s, &k, REG_NOTIFY_CHANGE_LAST_SET);
    return ERROR_SUCCESS;
}

namespace
{

// The existing key that a delete or rename by handle and path acts on: the
// handle's target, the path's components and where the walk ended.
LONG findKeyToChange(System &s, HKEY hKey, REGSAM sam, LPCSTR path, Target &t, std::vector<std::string_view> &comps,
                     Walk &w)
{
    bool view32;
    if (LONG rc = resolvePath(s, hKey, sam, path, t, view32, comps); rc != ERROR_SUCCESS)
        return rc;
    const Location &base = fullLocation(t);
    if (base.space == Space::PerfData)
        return ERROR_ACCESS_DENIED;
    walk(s, base, view32, comps, true, false, w);
    if (!w.complete || !w.loc.key)
        return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

} // namespace

LONG WINAPI RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, DWORD Reserved)
{
    VT_FOREIGN(hKey, deleteKeyEx, hKey, lpSubKey, samDesired, Reserved)
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    Exclusive g(s);
    Target t;
    std::vector<std::string_view> comps;
    Walk w;
    if (LONG rc = findKeyToChange(s, hKey, samDesired, lpSubKey, t, comps, w); rc != ERROR_SUCCESS)
        return rc;
    Key *victim = w.loc.key;
    if (comps.empty()) {
        if (!t.slot || !(t.granted & DELETE))
            return ERROR_ACCESS_DENIED;
    } else {
        ACCESS_MASK granted;
        if (checkAccess(s, victim, DELETE, granted) != ERROR_SUCCESS)
            return ERROR_ACCESS_DENIED;
    }
    // Windows refuses to delete a key with subkeys, a hive's root and the
    // roots themselves with "access denied".
    if (!victim->parent || isVirtualRoot(s, victim) || isVirtualRoot(s, victim->parent) || !victim->subkeys.empty() ||
        (victim->flags & kKeyNoDelete) || inReadOnlyHive(s, *victim))
        return ERROR_ACCESS_DENIED;
    Key *parent = victim->parent;
    const std::string name = victim->name;
    const bool wasVolatile = isUnderVolatile(*victim);
    removeSubkey(s, *parent, victim);
    parent->lastWriteTime = nowFileTime();
    if (!wasVolatile) {
        markDirty(s, *parent);
        if (!journalDeleteKey(s, *parent, name))
            return journalFailure(s);
    }
    fireNotifications(s, parent, REG_NOTIFY_CHANGE_NAME);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    return RegDeleteKeyExA(hKey, lpSubKey, 0, 0);
}

// Renames the key in place: the same object under its parent, so its
// subtree, times, class names, security and open handles all stay.
LONG WINAPI RegRenameKey(HKEY hKey, LPCSTR lpSubKeyName, LPCSTR lpNewKeyName)
{
    if (isForeign(hKey))
        return gForeign.load(std::memory_order_acquire) ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_HANDLE;
    if (!lpNewKeyName || !*lpNewKeyName || std::strchr(lpNewKeyName, '\\') ||
        utf16Length(lpNewKeyName) > kMaxKeyNameChars)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    Exclusive g(s);
    Target t;
    std::vector<std::string_view> comps;
    Walk w;
    if (LONG rc = findKeyToChange(s, hKey, 0, lpSubKeyName ? lpSubKeyName : "", t, comps, w); rc != ERROR_SUCCESS)
        return rc;
    Key *key = w.loc.key;
    // The 32-bit view's SOFTWARE is a merged picture, not one key.
    if (w.loc.space == Space::Wow64Software)
        return ERROR_ACCESS_DENIED;
    if (comps.empty()) {
        if (!t.slot || (t.granted & KEY_WRITE) != KEY_WRITE)
            return ERROR_ACCESS_DENIED;
    } else {
        ACCESS_MASK granted;
        if (checkAccess(s, key, KEY_WRITE, granted) != ERROR_SUCCESS)
            return ERROR_ACCESS_DENIED;
    }
    if (!key->parent || isVirtualRoot(s, key) || isVirtualRoot(s, key->parent) || (key->flags & kKeyNoDelete) ||
        inReadOnlyHive(s, *key))
        return ERROR_ACCESS_DENIED;
    Key *parent = key->parent;
    if (Key *clash = findChild(*parent, lpNewKeyName); clash && clash != key)
        return ERROR_ACCESS_DENIED; // as Windows answers a name already taken
    const std::string oldName = key->name;
    renameSubkey(*parent, key, lpNewKeyName);
    parent->lastWriteTime = nowFileTime();
    if (!isUnderVolatile(*key)) {
        markDirty(s, *parent);
        if (!journalRenameKey(s, *parent, oldName, lpNewKeyName))
            return ERROR_REGISTRY_IO_FAILED;
    }
    fireNotifications(s, parent, REG_NOTIFY_CHANGE_NAME);
    return ERROR_SUCCESS;
}

namespace
{

// The i-th subkey of a location: plain keys by index, HKCR by merging both
// sides in upper-name order with the user's key winning a tie.
bool isMerged(const Target &t)
{
    return (t.loc.space == Space::Classes || t.loc.space == Space::Wow64Software) && t.loc.machine && t.loc.user;
}

// Machine-side subkeys a merged location lists: all of them for HKCR, the
// shared ones for the 32-bit SOFTWARE.
size_t skipHidden(const Target &t, const vt::hive::SubkeyList &m, size_t i)
{
    if (t.loc.space == Space::Wow64Software)
        while (i < m.size() && !isSharedTop(m[i]->upperName))
            ++i;
    return i;
}

const Key *subkeyAt(Target &t, DWORD index)
{
    if (t.loc.space == Space::PerfData)
        return nullptr;
    if (!isMerged(t))
        return index < t.loc.key->subkeys.size() ? t.loc.key->subkeys[index].get() : nullptr;
    const auto &m = t.loc.machine->subkeys;
    const auto &u = t.loc.user->subkeys;
    std::unique_lock<std::mutex> lk;
    size_t i = 0, j = 0;
    DWORD at = 0;
    if (t.slot) {
        lk = std::unique_lock(t.slot->enumMutex);
        if (t.slot->enumIndex != ~0u && t.slot->enumIndex <= index) {
            at = t.slot->enumIndex;
            i = t.slot->enumMachine;
            j = t.slot->enumUser;
        }
    }
    while (true) {
        const Key *pick;
        i = skipHidden(t, m, i);
        size_t ni = i, nj = j;
        if (i < m.size() && j < u.size()) {
            const int c = m[i]->upperName.compare(u[j]->upperName);
            if (c < 0) {
                pick = m[i].get();
                ni = i + 1;
            } else {
                pick = u[j].get();
                nj = j + 1;
                if (c == 0)
                    ni = i + 1;
            }
        } else if (i < m.size()) {
            pick = m[i].get();
            ni = i + 1;
        } else if (j < u.size()) {
            pick = u[j].get();
            nj = j + 1;
        } else {
            return nullptr;
        }
        if (at == index) {
            if (t.slot) {
                t.slot->enumIndex = index;
                t.slot->enumMachine = i;
                t.slot->enumUser = j;
            }
            return pick;
        }
        i = ni;
        j = nj;
        ++at;
    }
}

DWORD subkeyCount(Target &t)
{
    if (t.loc.space == Space::PerfData)
        return 0;
    if (!isMerged(t))
        return static_cast<DWORD>(t.loc.key->subkeys.size());
    const auto &m = t.loc.machine->subkeys;
    const auto &u = t.loc.user->subkeys;
    size_t i = skipHidden(t, m, 0), j = 0, n = 0;
    while (i < m.size() || j < u.size()) {
        if (i < m.size() && j < u.size()) {
            const int c = m[i]->upperName.compare(u[j]->upperName);
            if (c <= 0)
                ++i;
            if (c >= 0)
                ++j;
        } else if (i < m.size()) {
            ++i;
        } else {
            ++j;
        }
        i = skipHidden(t, m, i);
        ++n;
    }
    return static_cast<DWORD>(n);
}

} // namespace

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                          LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    VT_FOREIGN(hKey, enumKeyEx, hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime)
    if (!lpName || !lpcchName)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    LONG rc = resolveHandle(s, hKey, t, KEY_ENUMERATE_SUB_KEYS);
    if (rc != ERROR_SUCCESS)
        return rc;
    const Key *k = subkeyAt(t, dwIndex);
    if (!k)
        return ERROR_NO_MORE_ITEMS;
    if (k->unloaded.load(std::memory_order_acquire) && (lpClass || lpcchClass || lpftLastWriteTime))
        loadLazyMount(const_cast<Key &>(*k)); // a mounted hive not read yet: its root's class and time are in the file
    if (k->name.size() + 1 > *lpcchName)
        return ERROR_MORE_DATA;
    if (lpClass) {
        if (!lpcchClass)
            return ERROR_INVALID_PARAMETER;
        if (k->className.size() + 1 > *lpcchClass)
            return ERROR_MORE_DATA;
        std::memcpy(lpClass, k->className.c_str(), k->className.size() + 1);
        *lpcchClass = static_cast<DWORD>(k->className.size());
    } else if (lpcchClass) {
        *lpcchClass = static_cast<DWORD>(k->className.size());
    }
    std::memcpy(lpName, k->name.c_str(), k->name.size() + 1);
    *lpcchName = static_cast<DWORD>(k->name.size());
    if (lpftLastWriteTime) {
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(k->lastWriteTime);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(k->lastWriteTime >> 32);
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName)
{
    DWORD n = cchName;
    return RegEnumKeyExA(hKey, dwIndex, lpName, &n, nullptr, nullptr, nullptr, nullptr);
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    VT_FOREIGN(hKey, enumValue, hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData)
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    LONG rc = resolveHandle(s, hKey, t, KEY_QUERY_VALUE);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (t.loc.space == Space::PerfData || dwIndex >= t.loc.key->values.size())
        return ERROR_NO_MORE_ITEMS;
    const Value &v = t.loc.key->values[dwIndex];
    // When the name or the data does not fit, Windows reports the type and
    // the data size and leaves the name, its count and the data alone.
    const DWORD size = ansiSize(v);
    if (v.name.size() + 1 > *lpcchValueName || (lpData && *lpcbData < size)) {
        if (lpType)
            *lpType = v.type;
        if (lpcbData)
            *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
    *lpcchValueName = static_cast<DWORD>(v.name.size());
    return copyData(v, lpType, lpData, lpcbData);
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                             LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                             LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                             PFILETIME lpftLastWriteTime)
{
    VT_FOREIGN(hKey, queryInfoKey, hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen,
               lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime)
    if (lpClass && !lpcchClass)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    // Windows asks for KEY_QUERY_VALUE here, not for enumeration rights.
    LONG rc = resolveHandle(s, hKey, t, KEY_QUERY_VALUE);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD nSub = 0, maxSub = 0, maxClass = 0, nVal = 0, maxValName = 0, maxData = 0, sdSize = 0;
    uint64_t time = 0;
    std::string_view className;
    if (t.loc.space != Space::PerfData) {
        const Key &k = *t.loc.key;
        nSub = subkeyCount(t);
        auto scan = [&](const Key &side) {
            for (const auto &c : side.subkeys) {
                maxSub = std::max<DWORD>(maxSub, static_cast<DWORD>(c->name.size()));
                // A hive root not read yet counts without its class name
                // (hive roots have none in practice) rather than be read.
                if (!c->unloaded.load(std::memory_order_acquire))
                    maxClass = std::max<DWORD>(maxClass, static_cast<DWORD>(c->className.size()));
            }
        };
        // Windows keeps these maximums in the key; here they cost a pass over
        // the children or values, made only for a caller that asks.
        const bool merged = t.loc.space == Space::Classes || t.loc.space == Space::Wow64Software;
        if (lpcbMaxSubKeyLen || lpcbMaxClassLen) {
            if (merged && t.loc.machine)
                scan(*t.loc.machine);
            if (merged && t.loc.user)
                scan(*t.loc.user);
            if (!merged)
                scan(k);
        }
        nVal = static_cast<DWORD>(k.values.size());
        if (lpcbMaxValueNameLen || lpcbMaxValueLen) {
            for (const auto &v : k.values) {
                maxValName = std::max<DWORD>(maxValName, static_cast<DWORD>(v.name.size()));
                // The stored size, as Windows reports it, but never less than the
                // UTF-8 form needs, so a buffer of this size always holds the data.
                if (lpcbMaxValueLen)
                    maxData =
                        std::max<DWORD>(maxData, std::max<DWORD>(static_cast<DWORD>(v.data.size()), ansiSize(v)));
            }
        }
        if (lpcbSecurityDescriptor)
            sdSize = static_cast<DWORD>(descriptorOf(&k).size());
        time = k.lastWriteTime;
        className = k.className;
    }
    LONG classResult = ERROR_SUCCESS;
    if (lpcchClass) {
        // As Windows: a zero-sized buffer is left alone; a short one gets as
        // much as fits, terminated, and ERROR_MORE_DATA.
        if (lpClass && *lpcchClass == 0) {
            *lpcchClass = 0;
        } else if (lpClass && className.size() + 1 > *lpcchClass) {
            const DWORD fit = *lpcchClass - 1;
            std::memcpy(lpClass, className.data(), fit);
            lpClass[fit] = '\0';
            *lpcchClass = fit;
            classResult = ERROR_MORE_DATA;
        } else {
            if (lpClass) {
                std::memcpy(lpClass, className.data(), className.size());
                lpClass[className.size()] = '\0';
            }
            *lpcchClass = static_cast<DWORD>(className.size());
        }
    }
    if (lpcSubKeys)
        *lpcSubKeys = nSub;
    if (lpcbMaxSubKeyLen)
        *lpcbMaxSubKeyLen = maxSub;
    if (lpcbMaxClassLen)
        *lpcbMaxClassLen = maxClass;
    if (lpcValues)
        *lpcValues = nVal;
    if (lpcbMaxValueNameLen)
        *lpcbMaxValueNameLen = maxValName;
    if (lpcbMaxValueLen)
        *lpcbMaxValueLen = maxData;
    if (lpcbSecurityDescriptor)
        *lpcbSecurityDescriptor = sdSize;
    if (lpftLastWriteTime) {
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(time);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(time >> 32);
    }
    return classResult;
}

LONG WINAPI RegFlushKey(HKEY hKey)
{
    VT_FOREIGN(hKey, flushKey, hKey)
    System &s = current();
    {
        Shared g(s);
        Target t;
        LONG rc = resolveHandle(s, hKey, t, 0);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    Exclusive g(s);
    return checkpoint(s);
}

LONG WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent,
                                    BOOL fAsynchronous)
{
    VT_FOREIGN(hKey, notifyChangeKeyValue, hKey, bWatchSubtree, dwNotifyFilter, hEvent, fAsynchronous)
    constexpr DWORD kFilters =
        REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
    if ((dwNotifyFilter & ~(kFilters | REG_NOTIFY_THREAD_AGNOSTIC)) || !(dwNotifyFilter & kFilters))
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Event> ev;
    HANDLE own = nullptr;
    if (fAsynchronous) {
        ev = eventFromHandle(hEvent);
        if (!ev)
            return ERROR_INVALID_PARAMETER;
    } else {
        own = createEvent(false, false);
        ev = eventFromHandle(own);
    }
    System &s = current();
    catchUp(s);
    {
        Shared g(s);
        Target t;
        LONG rc = resolveHandle(s, hKey, t, KEY_NOTIFY);
        if (rc != ERROR_SUCCESS) {
            if (own)
                CloseHandle(own);
            return rc;
        }
        if (t.loc.space == Space::PerfData) {
            if (own)
                CloseHandle(own);
            return ERROR_SUCCESS;
        }
        // Registering resets the event, as Windows' kernel does for the event
        // of a pending request.
        if (fAsynchronous)
            ResetEvent(hEvent);
        std::lock_guard n(s.notifyMutex);
        auto add = [&](Key *k) {
            if (k)
                s.registrations.push_back(
                    Registration{k, bWatchSubtree != 0, dwNotifyFilter, ev, reinterpret_cast<uintptr_t>(hKey)});
        };
        if (t.loc.space == Space::Classes || t.loc.space == Space::Wow64Software) {
            add(t.loc.machine);
            add(t.loc.user);
        } else {
            add(t.loc.key);
        }
    }
    if (own) {
        WaitForSingleObject(own, INFINITE);
        CloseHandle(own);
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegGetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                              PSECURITY_DESCRIPTOR pSecurityDescriptor, LPDWORD lpcbSecurityDescriptor)
{
    VT_FOREIGN(hKey, getKeySecurity, hKey, SecurityInformation, pSecurityDescriptor, lpcbSecurityDescriptor)
    if (!lpcbSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    ACCESS_MASK needed = 0;
    if (SecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               LABEL_SECURITY_INFORMATION))
        needed |= READ_CONTROL;
    if (SecurityInformation & SACL_SECURITY_INFORMATION)
        needed |= ACCESS_SYSTEM_SECURITY;
    LONG rc = resolveHandle(s, hKey, t, needed);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (t.loc.space == Space::PerfData)
        return ERROR_INVALID_HANDLE;
    sec::Bytes part = sec::selectParts(descriptorOf(t.loc.key), SecurityInformation);
    if (!pSecurityDescriptor || *lpcbSecurityDescriptor < part.size()) {
        *lpcbSecurityDescriptor = static_cast<DWORD>(part.size());
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(pSecurityDescriptor, part.data(), part.size());
    *lpcbSecurityDescriptor = static_cast<DWORD>(part.size());
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetKeySecurity(HKEY hKey, SECURITY_INFORMATION SecurityInformation,
                              PSECURITY_DESCRIPTOR pSecurityDescriptor)
{
    VT_FOREIGN(hKey, setKeySecurity, hKey, SecurityInformation, pSecurityDescriptor)
    if (!pSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    const auto *p = static_cast<const uint8_t *>(pSecurityDescriptor);
    const size_t n = selfRelativeSize(p);
    if (!n || !sec::isValidDescriptor({p, n}))
        return ERROR_INVALID_SECURITY_DESCR;
    System &s = current();
    Exclusive g(s);
    ACCESS_MASK needed = 0;
    if (SecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION))
        needed |= WRITE_OWNER;
    if (SecurityInformation & DACL_SECURITY_INFORMATION)
        needed |= WRITE_DAC;
    if (SecurityInformation & SACL_SECURITY_INFORMATION)
        needed |= ACCESS_SYSTEM_SECURITY;
    Target t;
    LONG rc = writableKey(s, hKey, needed, t);
    if (rc != ERROR_SUCCESS)
        return rc;
    Key &k = *t.loc.key;
    sec::Bytes merged;
    if ((rc = sec::mergeParts(descriptorOf(&k), {p, n}, SecurityInformation, merged)) != ERROR_SUCCESS)
        return rc;
    k.security = std::make_shared<const vt::hive::SecurityDescriptor>(std::move(merged));
    if (!isUnderVolatile(k)) {
        markDirty(s, k);
        if (!journalSetSecurity(s, k))
            return journalFailure(s);
    }
    // The descriptor is one of the key's attributes too.
    fireNotifications(s, &k, REG_NOTIFY_CHANGE_SECURITY | REG_NOTIFY_CHANGE_ATTRIBUTES);
    return ERROR_SUCCESS;
}

NTSTATUS WINAPI NtQueryKey(HKEY KeyHandle, KEY_INFORMATION_CLASS KeyInformationClass, PVOID KeyInformation,
                           ULONG Length, PULONG ResultLength)
{
    if (KeyInformationClass != KeyNameInformation || !ResultLength)
        return STATUS_INVALID_PARAMETER;
    if ((reinterpret_cast<uintptr_t>(KeyHandle) & 0xF) == vt::platform::kForeignKeyTag)
        return STATUS_INVALID_HANDLE; // a remote key has no name on this machine
    System &s = current();
    catchUp(s);
    Shared g(s);
    Target t;
    const LONG rc = resolveHandle(s, KeyHandle, t, 0);
    if (rc == ERROR_KEY_DELETED)
        return STATUS_KEY_DELETED;
    if (rc != ERROR_SUCCESS || !t.loc.key)
        return STATUS_INVALID_HANDLE;
    // A mounted hive's root carries its mount name, which is the name Windows shows.
    const std::string name = "\\REGISTRY\\" + keyPath(*t.loc.key);
    const std::vector<uint8_t> wide = utf8ToUtf16le(name);
    const ULONG header = offsetof(KEY_NAME_INFORMATION, Name);
    const ULONG need = header + static_cast<ULONG>(wide.size());
    *ResultLength = need;
    if (Length < header)
        return STATUS_BUFFER_TOO_SMALL;
    if (!KeyInformation)
        return STATUS_INVALID_PARAMETER;
    auto *info = static_cast<KEY_NAME_INFORMATION *>(KeyInformation);
    info->NameLength = static_cast<ULONG>(wide.size());
    const ULONG room = std::min<ULONG>(Length - header, static_cast<ULONG>(wide.size()));
    std::memcpy(reinterpret_cast<uint8_t *>(info) + header, wide.data(), room);
    return room == wide.size() ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW;
}

// ---------------------------------------------------------------------------
// Saving a key to a hive file and restoring one over a key

namespace
{

// A copy of a key's subtree as a hive tree; volatile keys stay behind, as
// Windows never saves them.
std::unique_ptr<Key> copyForSave(const Key &k)
{
    auto out = std::make_unique<Key>();
    out->name = k.name;
    out->upperName = k.upperName;
    out->className = k.className;
    out->lastWriteTime = k.lastWriteTime;
    out->security = k.security;
    out->flags = k.flags & ~(kKeyHiveEntry | kKeyNoDelete);
    out->userFlags = k.userFlags;
    out->virtControlFlags = k.virtControlFlags;
    out->nameCompressed = k.nameCompressed;
    out->values = k.values;
    for (const auto &child : k.subkeys) {
        if (child->isVolatile)
            continue;
        auto c = copyForSave(*child);
        c->parent = out.get();
        out->subkeys.push_back(std::move(c));
    }
    return out;
}

// Adds a copy of a file's key below `parent`, journaling each key and value
// so the restore is as durable as any other change.
bool restoreInto(System &s, Key &parent, const Key &from, bool makeVolatile)
{
    auto k = newKey(from.name, from.lastWriteTime);
    k->className = from.className;
    k->flags = from.flags & kKeySymLink;
    k->security = from.security ? from.security : inheritedSecurity(s, &parent);
    k->isVolatile = makeVolatile;
    k->nameCompressed = from.nameCompressed;
    k->values = from.values;
    Key *inserted = insertSubkey(parent, std::move(k));
    if (!makeVolatile) {
        markDirty(s, *inserted);
        if (!journalCreateKey(s, *inserted))
            return false;
        for (const Value &v : inserted->values)
            if (!journalSetValue(s, *inserted, v))
                return false;
    }
    for (const auto &child : from.subkeys)
        if (!restoreInto(s, *inserted, *child, makeVolatile))
            return false;
    return true;
}

} // namespace

LONG WINAPI RegSaveKeyA(HKEY hKey, LPCSTR lpFile, const LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    (void)lpSecurityAttributes; // the file gets the process's default mode
    if ((reinterpret_cast<uintptr_t>(hKey) & 0xF) == vt::platform::kForeignKeyTag)
        return ERROR_CALL_NOT_IMPLEMENTED; // a remote key is saved on its own machine
    if (!lpFile || !*lpFile)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    if (!privilegeEnabled(s, kSeBackupPrivilege))
        return ERROR_PRIVILEGE_NOT_HELD;
    catchUp(s);
    vt::hive::Hive hive;
    {
        Shared g(s);
        Target t;
        LONG rc = resolveHandle(s, hKey, t, 0);
        if (rc != ERROR_SUCCESS)
            return rc;
        if (t.loc.space == Space::PerfData || !t.loc.key || isVirtualRoot(s, t.loc.key))
            return ERROR_INVALID_HANDLE;
        hive.root = copyForSave(*t.loc.key);
    }
    hive.headerTimestamp = nowFileTime();
    const std::string file = vt::platform::toNativePath(lpFile);
    // Windows never overwrites: the caller removes an old file first.
    if (::access(file.c_str(), F_OK) == 0)
        return ERROR_ALREADY_EXISTS;
    return vt::hive::saveHiveFile(file, hive);
}

LONG WINAPI RegRestoreKeyA(HKEY hKey, LPCSTR lpFile, DWORD dwFlags)
{
    if ((reinterpret_cast<uintptr_t>(hKey) & 0xF) == vt::platform::kForeignKeyTag)
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (!lpFile || !*lpFile)
        return ERROR_INVALID_PARAMETER;
    if (dwFlags & ~DWORD(REG_FORCE_RESTORE | REG_NO_LAZY_FLUSH))
        return ERROR_INVALID_PARAMETER; // whole-hive volatile and refresh restores are not offered
    System &s = current();
    if (!privilegeEnabled(s, kSeRestorePrivilege))
        return ERROR_PRIVILEGE_NOT_HELD;
    vt::hive::Hive hive;
    if (LONG rc = vt::hive::loadHiveFile(vt::platform::toNativePath(lpFile), hive); rc != ERROR_SUCCESS)
        return rc;
    if (!hive.root)
        return ERROR_BADDB;
    Exclusive g(s);
    Target t;
    LONG rc = writableKey(s, hKey, 0, t);
    if (rc != ERROR_SUCCESS)
        return rc;
    Key &k = *t.loc.key;
    // Open handles below the key keep it in use unless the caller forces the restore.
    if (!(dwFlags & REG_FORCE_RESTORE)) {
        bool busy = false;
        s.handles.forEachUsed([&](Slot &slot, size_t) {
            if (!slot.deleted && slot.loc.key && slot.loc.key != &k && isInside(slot.loc.key, &k))
                busy = true;
        });
        if (busy)
            return ERROR_ACCESS_DENIED;
    }
    const bool makeVolatile = isUnderVolatile(k);
    const uint64_t now = nowFileTime();
    while (!k.subkeys.empty()) {
        const std::string name = k.subkeys.back()->name;
        removeSubkey(s, k, k.subkeys.back().get());
        k.lastWriteTime = now;
        if (!makeVolatile && !journalDeleteKey(s, k, name))
            return ERROR_REGISTRY_IO_FAILED;
    }
    while (!k.values.empty()) {
        const std::string name = k.values.back().name;
        deleteValue(k, name);
        if (!makeVolatile && !journalDeleteValue(s, k, name))
            return ERROR_REGISTRY_IO_FAILED;
    }
    for (const Value &v : hive.root->values) {
        setValue(k, v.name, v.type, v.data);
        if (!makeVolatile && !journalSetValue(s, k, *findValue(k, v.name)))
            return ERROR_REGISTRY_IO_FAILED;
    }
    for (const auto &child : hive.root->subkeys)
        if (!restoreInto(s, k, *child, makeVolatile))
            return ERROR_REGISTRY_IO_FAILED;
    k.lastWriteTime = now;
    if (!makeVolatile)
        markDirty(s, k);
    fireNotifications(s, &k, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET);
    return ERROR_SUCCESS;
}
