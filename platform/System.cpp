// The replacement system on disk: its root folder, the hives created from the
// template at first use, the journal that makes every change durable, the
// checkpoints that write the hives, and the mounting of hive files.
#include "platform/Engine.h"
#include "platform/Template.h"
#include "platform/Unicode.h"
#include "platform/hive/Regf.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vt::platform::detail {

namespace {

std::mutex gOpenMutex;
std::unique_ptr<System> gSystem;
std::atomic<System *> gCurrent{nullptr};

constexpr char kJournalMagic[8] = {'V', 'T', 'J', 'R', 'N', 'L', '0', '1'};
constexpr size_t kJournalHeader = 16;             // magic + generation
constexpr uint64_t kCheckpointAt = 8 * 1024 * 1024; // journal size that triggers a checkpoint
constexpr uint32_t kMaxRecord = 256u * 1024 * 1024;

enum Op : uint8_t { OpCreateKey = 1, OpDeleteKey = 2, OpSetValue = 3, OpDeleteValue = 4, OpSetSecurity = 5 };

uint32_t crc32(const uint8_t *p, size_t n)
{
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i)
        c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

struct Writer {
    std::vector<uint8_t> b;
    void u8(uint8_t v) { b.push_back(v); }
    void u16(uint16_t v) { u32n(v, 2); }
    void u32(uint32_t v) { u32n(v, 4); }
    void u64(uint64_t v)
    {
        for (int i = 0; i < 8; ++i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void u32n(uint32_t v, int n)
    {
        for (int i = 0; i < n; ++i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void bytes(const void *p, size_t n)
    {
        u32(static_cast<uint32_t>(n));
        auto *c = static_cast<const uint8_t *>(p);
        b.insert(b.end(), c, c + n);
    }
    void str(std::string_view s) { bytes(s.data(), s.size()); }
};

struct Reader {
    const uint8_t *p;
    size_t n, i = 0;
    bool ok = true;
    bool need(size_t k)
    {
        if (!ok || n - i < k)
            ok = false;
        return ok;
    }
    uint64_t num(int k)
    {
        if (!need(k))
            return 0;
        uint64_t v = 0;
        for (int j = 0; j < k; ++j)
            v |= uint64_t(p[i + j]) << (8 * j);
        i += k;
        return v;
    }
    std::string str()
    {
        auto len = static_cast<size_t>(num(4));
        if (!need(len))
            return {};
        std::string s(reinterpret_cast<const char *>(p + i), len);
        i += len;
        return s;
    }
    std::vector<uint8_t> bytes()
    {
        auto len = static_cast<size_t>(num(4));
        if (!need(len))
            return {};
        std::vector<uint8_t> v(p + i, p + i + len);
        i += len;
        return v;
    }
};

bool writeAll(int fd, const uint8_t *p, size_t n)
{
    while (n) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Appends one record and makes it durable before the call that made the change returns.
bool append(System &s, const Writer &payload)
{
    if (!s.persistent || s.replaying)
        return true;
    std::vector<uint8_t> rec;
    rec.reserve(payload.b.size() + 8);
    const auto len = static_cast<uint32_t>(payload.b.size());
    const uint32_t crc = crc32(payload.b.data(), payload.b.size());
    for (int i = 0; i < 4; ++i)
        rec.push_back(static_cast<uint8_t>(len >> (8 * i)));
    for (int i = 0; i < 4; ++i)
        rec.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    rec.insert(rec.end(), payload.b.begin(), payload.b.end());
    if (!writeAll(s.journalFd, rec.data(), rec.size()) || ::fdatasync(s.journalFd) != 0) {
        // Cut a partial record off so the next one is not appended after garbage.
        if (::ftruncate(s.journalFd, static_cast<off_t>(s.journalSize)) == 0)
            ::fdatasync(s.journalFd);
        return false;
    }
    s.journalSize += rec.size();
    if (s.journalSize > kCheckpointAt)
        checkpoint(s);
    return true;
}

bool mkdirs(const std::string &path)
{
    std::string cur;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        cur = path.substr(0, pos);
        if (cur.empty())
            continue;
        if (::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

bool fileExists(const std::string &path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

std::string readText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Writes a small file durably: temporary file, flushed, renamed into place.
bool writeTextDurably(const std::string &path, const std::string &text)
{
    const std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, reinterpret_cast<const uint8_t *>(text.data()), text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0)
        return false;
    const std::string dir = path.substr(0, path.rfind('/'));
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

std::string iniValue(const std::string &text, std::string_view key)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=')
            return line.substr(key.size() + 1);
    }
    return {};
}

std::string loginName()
{
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_name && *pw->pw_name)
        return pw->pw_name;
    if (const char *u = std::getenv("USER"); u && *u)
        return u;
    return "User";
}

std::string computerName()
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !*host)
        std::strcpy(host, "VANTREL-PC");
    std::string out;
    for (const char *p = host; *p && *p != '.' && out.size() < 15; ++p)
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(*p))));
    return out;
}

// The machine part of the user's SID: three numbers derived from the machine
// identity, fixed at the system's creation and kept in system.ini.
std::string newUserSid()
{
    std::string seed = readText("/etc/machine-id");
    if (seed.empty())
        seed = computerName();
    uint64_t h = 1469598103934665603ULL;
    uint32_t parts[3];
    for (int k = 0; k < 3; ++k) {
        for (char c : seed) {
            h ^= static_cast<unsigned char>(c);
            h *= 1099511628211ULL;
        }
        h ^= static_cast<uint64_t>(k + 1);
        h *= 1099511628211ULL;
        parts[k] = static_cast<uint32_t>(h >> 16) | 0x10000000u;
    }
    return "S-1-5-21-" + std::to_string(parts[0]) + "-" + std::to_string(parts[1]) + "-" + std::to_string(parts[2])
           + "-1001";
}

vt::security::Token tokenFor(Identity id, const std::string &userSid)
{
    switch (id) {
    case Identity::LocalSystem:
        return {"S-1-5-18", {"S-1-5-32-544", "S-1-1-0", "S-1-5-11"}, true};
    case Identity::StandardUser:
        return {userSid, {"S-1-5-32-545", "S-1-1-0", "S-1-5-4", "S-1-2-1", "S-1-5-11", "S-1-5-15", "S-1-2-0"}, false};
    case Identity::Administrator:
        break;
    }
    return {userSid,
            {"S-1-5-32-544", "S-1-5-32-545", "S-1-1-0", "S-1-5-4", "S-1-2-1", "S-1-5-11", "S-1-5-15", "S-1-2-0"},
            false};
}

std::string configDir(const System &s) { return s.root + "/drive_c/Windows/System32/config"; }
std::string userHivePath(const System &s) { return s.root + "/drive_c/Users/" + s.userName + "/NTUSER.DAT"; }

struct HiveSpec {
    const char *mountName; // below HKLM, or empty for the user hives
    TemplateHive which;
};

LONG saveMount(System &s, Mount &m)
{
    if (m.file.empty())
        return ERROR_SUCCESS;
    // The writer wants a Hive that owns its root: lend it the subtree for the
    // duration of the write, under its own name and without its mount parent.
    auto &siblings = m.virtualRoot->subkeys;
    auto it = std::find_if(siblings.begin(), siblings.end(),
                           [&](const std::unique_ptr<Key> &k) { return k.get() == m.root; });
    if (it == siblings.end())
        return ERROR_REGISTRY_CORRUPT;
    vt::hive::Hive hive;
    hive.minorVersion = m.header.minorVersion;
    hive.headerTimestamp = nowFileTime();
    hive.fileName = m.header.fileName;
    hive.root = std::move(*it);
    std::string mountName = std::move(hive.root->name);
    std::string mountUpper = std::move(hive.root->upperName);
    hive.root->name = m.rootName;
    hive.root->upperName = vt::hive::upperName(m.rootName);
    hive.root->parent = nullptr;
    LONG rc = vt::hive::saveHiveFile(m.file, hive);
    hive.root->name = std::move(mountName);
    hive.root->upperName = std::move(mountUpper);
    hive.root->parent = m.virtualRoot;
    *it = std::move(hive.root);
    if (rc == ERROR_SUCCESS)
        m.dirty = false;
    return rc;
}

bool resetJournal(System &s)
{
    if (s.journalFd < 0)
        return false;
    uint8_t header[kJournalHeader];
    std::memcpy(header, kJournalMagic, 8);
    const uint64_t gen = nowFileTime();
    for (int i = 0; i < 8; ++i)
        header[8 + i] = static_cast<uint8_t>(gen >> (8 * i));
    if (::ftruncate(s.journalFd, 0) != 0 || ::lseek(s.journalFd, 0, SEEK_SET) != 0
        || !writeAll(s.journalFd, header, sizeof header) || ::fdatasync(s.journalFd) != 0)
        return false;
    s.journalSize = kJournalHeader;
    return true;
}

std::string parentPath(std::string_view path)
{
    size_t cut = path.rfind('\\');
    return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut));
}

// Applies one record. Every operation states the final result, so applying a
// record twice (after a crash between a checkpoint and the journal reset)
// changes nothing.
void applyRecord(System &s, Reader &r)
{
    const auto op = static_cast<uint8_t>(r.num(1));
    switch (op) {
    case OpCreateKey: {
        std::string path = r.str();
        std::string cls = r.str();
        uint64_t time = r.num(8);
        auto flags = static_cast<uint16_t>(r.num(2));
        auto sd = r.bytes();
        if (!r.ok)
            return;
        Key *parent = keyFromPath(s, parentPath(path));
        if (!parent)
            return;
        std::string_view name = std::string_view(path).substr(path.rfind('\\') + 1);
        Key *k = findChild(*parent, name);
        if (!k) {
            auto nk = newKey(name, time);
            nk->className = cls;
            nk->flags = flags;
            nk->security = std::make_shared<const vt::hive::SecurityDescriptor>(std::move(sd));
            k = insertSubkey(*parent, std::move(nk));
        }
        parent->lastWriteTime = std::max(parent->lastWriteTime, time);
        markDirty(s, *parent);
        fireNotifications(s, parent, REG_NOTIFY_CHANGE_NAME);
        break;
    }
    case OpDeleteKey: {
        std::string path = r.str();
        std::string name = r.str();
        uint64_t time = r.num(8);
        if (!r.ok)
            return;
        Key *parent = keyFromPath(s, path);
        if (!parent)
            return;
        if (Key *k = findChild(*parent, name))
            removeSubkey(s, *parent, k);
        parent->lastWriteTime = time;
        markDirty(s, *parent);
        fireNotifications(s, parent, REG_NOTIFY_CHANGE_NAME);
        break;
    }
    case OpSetValue: {
        std::string path = r.str();
        std::string name = r.str();
        auto type = static_cast<uint32_t>(r.num(4));
        auto data = r.bytes();
        uint64_t time = r.num(8);
        if (!r.ok)
            return;
        if (Key *k = keyFromPath(s, path)) {
            setValue(*k, name, type, std::move(data));
            k->lastWriteTime = time;
            markDirty(s, *k);
            fireNotifications(s, k, REG_NOTIFY_CHANGE_LAST_SET);
        }
        break;
    }
    case OpDeleteValue: {
        std::string path = r.str();
        std::string name = r.str();
        uint64_t time = r.num(8);
        if (!r.ok)
            return;
        if (Key *k = keyFromPath(s, path)) {
            deleteValue(*k, name);
            k->lastWriteTime = time;
            markDirty(s, *k);
            fireNotifications(s, k, REG_NOTIFY_CHANGE_LAST_SET);
        }
        break;
    }
    case OpSetSecurity: {
        std::string path = r.str();
        auto sd = r.bytes();
        if (!r.ok)
            return;
        if (Key *k = keyFromPath(s, path)) {
            k->security = std::make_shared<const vt::hive::SecurityDescriptor>(std::move(sd));
            markDirty(s, *k);
            fireNotifications(s, k, REG_NOTIFY_CHANGE_SECURITY);
        }
        break;
    }
    default:
        r.ok = false;
    }
}

// Replays the journal; a torn or damaged tail is cut off.
LONG replayJournal(System &s)
{
    const std::string path = s.root + "/registry.journal";
    s.journalFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (s.journalFd < 0)
        return ERROR_REGISTRY_IO_FAILED;
    std::vector<uint8_t> data;
    {
        struct stat st{};
        if (::fstat(s.journalFd, &st) != 0)
            return ERROR_REGISTRY_IO_FAILED;
        data.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < data.size()) {
            ssize_t n = ::pread(s.journalFd, data.data() + got, data.size() - got, static_cast<off_t>(got));
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        data.resize(got);
    }
    if (data.size() < kJournalHeader || std::memcmp(data.data(), kJournalMagic, 8) != 0) {
        if (!resetJournal(s))
            return ERROR_REGISTRY_IO_FAILED;
        return ERROR_SUCCESS;
    }
    size_t pos = kJournalHeader;
    s.replaying = true;
    while (data.size() - pos >= 8) {
        const uint32_t len = uint32_t(data[pos]) | uint32_t(data[pos + 1]) << 8 | uint32_t(data[pos + 2]) << 16
                             | uint32_t(data[pos + 3]) << 24;
        const uint32_t crc = uint32_t(data[pos + 4]) | uint32_t(data[pos + 5]) << 8 | uint32_t(data[pos + 6]) << 16
                             | uint32_t(data[pos + 7]) << 24;
        if (len > kMaxRecord || data.size() - pos - 8 < len || crc32(data.data() + pos + 8, len) != crc)
            break;
        Reader r{data.data() + pos + 8, len};
        applyRecord(s, r);
        if (!r.ok)
            break;
        pos += 8 + len;
    }
    s.replaying = false;
    if (pos != data.size()) {
        if (::ftruncate(s.journalFd, static_cast<off_t>(pos)) != 0 || ::fdatasync(s.journalFd) != 0)
            return ERROR_REGISTRY_IO_FAILED;
    }
    ::lseek(s.journalFd, 0, SEEK_END);
    s.journalSize = pos;
    return ERROR_SUCCESS;
}

std::string mountsFile(const System &s) { return s.root + "/mounts.ini"; }

bool saveMountList(System &s)
{
    std::string text;
    for (auto &m : s.mounts)
        if (m->loaded)
            text += (m->virtualRoot == s.machine.get() ? "MACHINE|" : "USER|") + m->name + "|" + m->file + "\n";
    return writeTextDurably(mountsFile(s), text);
}

std::unique_ptr<Key> virtualRoot(const char *name)
{
    auto k = newKey(name, nowFileTime());
    k->isVolatile = true;
    k->security = std::make_shared<const vt::hive::SecurityDescriptor>(vt::security::defaultMachineHiveDescriptor());
    return k;
}

LONG mountFile(System &s, Key *vroot, const std::string &name, const std::string &file, bool loaded)
{
    vt::hive::Hive hive;
    LONG rc = vt::hive::loadHiveFile(file, hive);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (!hive.root)
        return ERROR_BADDB;
    auto m = std::make_unique<Mount>();
    m->name = name;
    m->virtualRoot = vroot;
    m->file = file;
    m->loaded = loaded;
    m->header.minorVersion = hive.minorVersion;
    m->header.headerTimestamp = hive.headerTimestamp;
    m->header.fileName = hive.fileName;
    hive.root->parent = nullptr;
    attachMount(s, std::move(m), std::move(hive.root));
    return ERROR_SUCCESS;
}

void mountMemory(System &s, Key *vroot, const std::string &name, std::unique_ptr<Key> root)
{
    auto m = std::make_unique<Mount>();
    m->name = name;
    m->virtualRoot = vroot;
    attachMount(s, std::move(m), std::move(root));
}

std::vector<uint8_t> utf16z(std::string_view text)
{
    auto v = utf8ToUtf16le(text);
    v.push_back(0);
    v.push_back(0);
    return v;
}

// Volatile content Windows builds at every start: the CurrentControlSet and
// Hardware Profiles\Current links and the user's Volatile Environment.
void addVolatileContent(System &s)
{
    const uint64_t now = nowFileTime();
    auto link = [&](Key *parent, const char *name, const std::string &target) {
        if (!parent || findChild(*parent, name))
            return;
        auto k = newKey(name, now);
        k->isVolatile = true;
        k->flags |= kKeySymLink;
        k->security = parent->security;
        // Windows stores the target without a terminator.
        setValue(*k, "SymbolicLinkValue", REG_LINK, utf8ToUtf16le(target));
        insertSubkey(*parent, std::move(k));
    };
    if (Key *sys = findChild(*s.machine, "SYSTEM")) {
        DWORD current = 1;
        if (Key *sel = findChild(*sys, "Select"))
            if (Value *v = findValue(*sel, "Current"); v && v->type == REG_DWORD && v->data.size() == 4)
                current = v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (uint32_t(v->data[3]) << 24);
        char set[32];
        std::snprintf(set, sizeof set, "ControlSet%03u", current);
        link(sys, "CurrentControlSet", std::string("\\REGISTRY\\MACHINE\\SYSTEM\\") + set);
        if (Key *cs = findChild(*sys, set))
            if (Key *hp = findChild(*cs, "Hardware Profiles"))
                link(hp, "Current", std::string("\\REGISTRY\\MACHINE\\SYSTEM\\") + set + "\\Hardware Profiles\\0001");
    }
    if (Key *u = findChild(*s.users, s.userSid); u && !findChild(*u, "Volatile Environment")) {
        auto k = newKey("Volatile Environment", now);
        k->isVolatile = true;
        k->security = u->security;
        const std::string profile = "C:\\Users\\" + s.userName;
        setValue(*k, "USERNAME", REG_SZ, utf16z(s.userName));
        setValue(*k, "USERPROFILE", REG_SZ, utf16z(profile));
        setValue(*k, "HOMEDRIVE", REG_SZ, utf16z("C:"));
        setValue(*k, "HOMEPATH", REG_SZ, utf16z("\\Users\\" + s.userName));
        setValue(*k, "APPDATA", REG_SZ, utf16z(profile + "\\AppData\\Roaming"));
        setValue(*k, "LOCALAPPDATA", REG_SZ, utf16z(profile + "\\AppData\\Local"));
        setValue(*k, "USERDOMAIN", REG_SZ, utf16z(computerName()));
        insertSubkey(*u, std::move(k));
    }
}

LONG openLocked(const SystemOptions &options)
{
    auto sys = std::make_unique<System>();
    System &s = *sys;
    s.options = options;
    s.root = !options.root.empty() ? options.root : defaultSystemRoot();
    while (s.root.size() > 1 && s.root.back() == '/')
        s.root.pop_back();
    if (!mkdirs(s.root))
        return ERROR_PATH_NOT_FOUND;

    // One process per system until sharing between processes is built: a
    // second one gets a clear error rather than a diverging copy.
    s.lockFd = ::open((s.root + "/system.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (s.lockFd < 0)
        return ERROR_ACCESS_DENIED;
    if (::flock(s.lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(s.lockFd);
        return ERROR_SHARING_VIOLATION;
    }

    s.userName = loginName();
    const std::string iniPath = s.root + "/system.ini";
    std::string ini = readText(iniPath);
    s.userSid = iniValue(ini, "UserSid");
    if (s.userSid.empty()) {
        s.userSid = newUserSid();
        if (!writeTextDurably(iniPath, "UserName=" + s.userName + "\nUserSid=" + s.userSid + "\n"))
            return ERROR_REGISTRY_IO_FAILED;
    }
    s.token = tokenFor(options.identity, s.userSid);
    s.prepared = std::make_unique<vt::security::PreparedToken>(s.token);
    s.machine = virtualRoot("MACHINE");
    s.users = virtualRoot("USER");

    const std::string config = configDir(s);
    const std::string profile = s.root + "/drive_c/Users/" + s.userName;
    if (!mkdirs(config) || !mkdirs(profile) || !mkdirs(s.root + "/drive_c/Program Files/Vantrel")
        || !mkdirs(s.root + "/drive_c/Users/Public") || !mkdirs(s.root + "/drive_c/ProgramData"))
        return ERROR_PATH_NOT_FOUND;

    TemplateContext ctx{s.userName, s.userSid, computerName()};
    const uint64_t now = nowFileTime();
    struct Spec {
        Key *vroot;
        std::string name;
        std::string file;
        TemplateHive which;
    };
    const Spec specs[] = {
        {s.machine.get(), "SYSTEM", config + "/SYSTEM", TemplateHive::System},
        {s.machine.get(), "SOFTWARE", config + "/SOFTWARE", TemplateHive::Software},
        {s.machine.get(), "SAM", config + "/SAM", TemplateHive::Sam},
        {s.machine.get(), "SECURITY", config + "/SECURITY", TemplateHive::Security},
        {s.users.get(), ".DEFAULT", config + "/DEFAULT", TemplateHive::Default},
        {s.users.get(), s.userSid, userHivePath(s), TemplateHive::User},
    };
    for (const Spec &spec : specs) {
        if (!fileExists(spec.file)) {
            vt::hive::Hive hive;
            hive.root = buildTemplateHive(spec.which, ctx, now);
            hive.headerTimestamp = now;
            hive.fileName = spec.which == TemplateHive::User ? "\\??\\C:\\Users\\" + s.userName + "\\ntuser.dat"
                                                             : "\\SystemRoot\\System32\\Config\\" + spec.name;
            LONG rc = vt::hive::saveHiveFile(spec.file, hive);
            if (rc != ERROR_SUCCESS)
                return rc;
        }
        LONG rc = mountFile(s, spec.vroot, spec.name, spec.file, false);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    mountMemory(s, s.machine.get(), "HARDWARE", buildTemplateHive(TemplateHive::Hardware, ctx, now));

    // Hives mounted with RegLoadKeyA stay mounted until unloaded.
    {
        std::istringstream in(readText(mountsFile(s)));
        std::string line;
        while (std::getline(in, line)) {
            size_t a = line.find('|'), b = line.find('|', a + 1);
            if (a == std::string::npos || b == std::string::npos)
                continue;
            Key *vroot = line.substr(0, a) == "MACHINE" ? s.machine.get() : s.users.get();
            mountFile(s, vroot, line.substr(a + 1, b - a - 1), line.substr(b + 1), true);
        }
    }

    s.persistent = true;
    LONG rc = replayJournal(s);
    if (rc != ERROR_SUCCESS)
        return rc;
    addVolatileContent(s);

    gSystem = std::move(sys);
    gCurrent.store(gSystem.get(), std::memory_order_release);
    return ERROR_SUCCESS;
}

void closeLocked()
{
    System *s = gSystem.get();
    if (!s)
        return;
    {
        std::unique_lock l(s->lock);
        checkpoint(*s);
        // Wake everybody still waiting for a change of this system.
        std::lock_guard n(s->notifyMutex);
        for (auto &r : s->registrations)
            signalEvent(r.event);
        s->registrations.clear();
    }
    if (s->journalFd >= 0)
        ::close(s->journalFd);
    if (s->lockFd >= 0)
        ::close(s->lockFd);
    gCurrent.store(nullptr, std::memory_order_release);
    gSystem.reset();
}

} // namespace

System &current()
{
    if (System *s = gCurrent.load(std::memory_order_acquire))
        return *s;
    std::lock_guard g(gOpenMutex);
    if (!gSystem) {
        if (openLocked(SystemOptions{}) != ERROR_SUCCESS) {
            // The default system cannot be opened: serve an empty in-memory one
            // so that calls fail with "not found" rather than crash.
            gSystem.reset();
            auto sys = std::make_unique<System>();
            sys->machine = virtualRoot("MACHINE");
            sys->users = virtualRoot("USER");
            sys->prepared = std::make_unique<vt::security::PreparedToken>(sys->token);
            gSystem = std::move(sys);
            gCurrent.store(gSystem.get(), std::memory_order_release);
        }
    }
    return *gSystem;
}

System *currentIfOpen() { return gCurrent.load(std::memory_order_acquire); }

bool journalCreateKey(System &s, const Key &key)
{
    Writer w;
    w.u8(OpCreateKey);
    w.str(keyPath(key));
    w.str(key.className);
    w.u64(key.lastWriteTime);
    w.u16(key.flags);
    if (key.security)
        w.bytes(key.security->data(), key.security->size());
    else
        w.bytes(nullptr, 0);
    return append(s, w);
}

bool journalDeleteKey(System &s, const Key &parent, std::string_view name)
{
    Writer w;
    w.u8(OpDeleteKey);
    w.str(keyPath(parent));
    w.str(name);
    w.u64(parent.lastWriteTime);
    return append(s, w);
}

bool journalSetValue(System &s, const Key &key, const Value &value)
{
    Writer w;
    w.u8(OpSetValue);
    w.str(keyPath(key));
    w.str(value.name);
    w.u32(value.type);
    w.bytes(value.data.data(), value.data.size());
    w.u64(key.lastWriteTime);
    return append(s, w);
}

bool journalDeleteValue(System &s, const Key &key, std::string_view name)
{
    Writer w;
    w.u8(OpDeleteValue);
    w.str(keyPath(key));
    w.str(name);
    w.u64(key.lastWriteTime);
    return append(s, w);
}

bool journalSetSecurity(System &s, const Key &key)
{
    Writer w;
    w.u8(OpSetSecurity);
    w.str(keyPath(key));
    if (key.security)
        w.bytes(key.security->data(), key.security->size());
    else
        w.bytes(nullptr, 0);
    return append(s, w);
}

LONG checkpoint(System &s)
{
    if (!s.persistent)
        return ERROR_SUCCESS;
    LONG result = ERROR_SUCCESS;
    for (auto &m : s.mounts) {
        if (!m->dirty)
            continue;
        LONG rc = saveMount(s, *m);
        if (rc != ERROR_SUCCESS)
            result = rc;
    }
    // The journal may only go once every hive holds what it recorded.
    if (result == ERROR_SUCCESS && s.journalSize > kJournalHeader && !resetJournal(s))
        result = ERROR_REGISTRY_IO_FAILED;
    return result;
}

void catchUp(System &) {}

} // namespace vt::platform::detail

// ---------------------------------------------------------------------------

using namespace vt::platform::detail;

namespace vt::platform {

LONG openSystem(const SystemOptions &options)
{
    std::lock_guard g(gOpenMutex);
    closeLocked();
    LONG rc = openLocked(options);
    if (rc != ERROR_SUCCESS) {
        gSystem.reset();
        gCurrent.store(nullptr);
    }
    return rc;
}

void closeSystem()
{
    std::lock_guard g(gOpenMutex);
    closeLocked();
}

std::string defaultSystemRoot()
{
    if (const char *env = std::getenv("VANTREL_SYSTEM"); env && *env)
        return env;
    if (const char *xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        return std::string(xdg) + "/vantrel/system";
    const char *home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd *pw = ::getpwuid(::getuid());
        home = pw && pw->pw_dir ? pw->pw_dir : "/tmp";
    }
    return std::string(home) + "/.local/share/vantrel/system";
}

std::string systemRoot() { return current().root; }

std::string currentUserName() { return current().userName; }
std::string currentUserSid() { return current().userSid; }

std::string toNativePath(std::string_view path)
{
    auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (path.size() < 2 || !isLetter(path[0]) || path[1] != ':' || (path.size() > 2 && path[2] != '\\' && path[2] != '/'))
        return std::string(path);
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    const std::string root = systemRoot();
    std::string base;
    if (letter == 'C') {
        base = root + "/drive_c";
    } else {
        // More letters come from drives.ini: lines "D=/mnt/windows".
        std::istringstream in(readText(root + "/drives.ini"));
        std::string line;
        while (std::getline(in, line)) {
            if (line.size() > 2 && std::toupper(static_cast<unsigned char>(line[0])) == letter && line[1] == '=') {
                base = line.substr(2);
                while (!base.empty() && (base.back() == '\r' || base.back() == ' '))
                    base.pop_back();
                break;
            }
        }
        if (base.empty())
            return std::string(path);
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    std::string out = base;
    std::string_view rest = path.substr(2);
    for (char c : rest)
        out.push_back(c == '\\' ? '/' : c);
    if (rest.empty())
        out.push_back('/');
    return out;
}

} // namespace vt::platform

// ---------------------------------------------------------------------------
// Loading and unloading hive files

namespace {

LONG mountTarget(System &s, HKEY hKey, LPCSTR lpSubKey, Key *&vroot)
{
    if (hKey == HKEY_LOCAL_MACHINE)
        vroot = s.machine.get();
    else if (hKey == HKEY_USERS)
        vroot = s.users.get();
    else
        return ERROR_INVALID_PARAMETER;
    if (!lpSubKey || !*lpSubKey || std::strchr(lpSubKey, '\\'))
        return ERROR_INVALID_PARAMETER;
    if (s.options.identity == vt::platform::Identity::StandardUser)
        return ERROR_PRIVILEGE_NOT_HELD;
    return ERROR_SUCCESS;
}

} // namespace

LONG WINAPI RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile)
{
    if (!lpFile || !*lpFile)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    std::unique_lock l(s.lock);
    Key *vroot = nullptr;
    LONG rc = mountTarget(s, hKey, lpSubKey, vroot);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (findChild(*vroot, lpSubKey))
        return ERROR_ALREADY_EXISTS;
    const std::string file = vt::platform::toNativePath(lpFile);
    char resolved[PATH_MAX];
    const std::string canonical = ::realpath(file.c_str(), resolved) ? std::string(resolved) : file;
    for (auto &m : s.mounts) {
        char other[PATH_MAX];
        if (!m->file.empty() && ::realpath(m->file.c_str(), other) && canonical == other)
            return ERROR_SHARING_VIOLATION; // the file is in use as another hive
    }
    if ((rc = mountFile(s, vroot, lpSubKey, canonical, true)) != ERROR_SUCCESS)
        return rc;
    if (!saveMountList(s)) {
        removeSubkey(s, *vroot, findChild(*vroot, lpSubKey));
        s.mounts.pop_back();
        return ERROR_REGISTRY_IO_FAILED;
    }
    fireNotifications(s, vroot, REG_NOTIFY_CHANGE_NAME);
    return ERROR_SUCCESS;
}

LONG WINAPI RegUnLoadKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    System &s = current();
    std::unique_lock l(s.lock);
    Key *vroot = nullptr;
    LONG rc = mountTarget(s, hKey, lpSubKey, vroot);
    if (rc != ERROR_SUCCESS)
        return rc;
    Key *root = findChild(*vroot, lpSubKey);
    if (!root)
        return ERROR_FILE_NOT_FOUND;
    auto it = std::find_if(s.mounts.begin(), s.mounts.end(), [&](const auto &m) { return m->root == root; });
    if (it == s.mounts.end() || !(*it)->loaded)
        return ERROR_ACCESS_DENIED; // the system's own hives stay
    // Open handles keep a hive in use.
    bool busy = false;
    s.handles.forEachUsed([&](Slot &slot, size_t) {
        for (const Key *k : {slot.loc.key, slot.loc.machine, slot.loc.user})
            for (; k && !busy; k = k->parent)
                busy = k == root;
    });
    if (busy)
        return ERROR_ACCESS_DENIED;
    // Writes the hive (only when it changed) and clears the journal, so no
    // record of this hive can be replayed onto another file mounted here later.
    if ((rc = checkpoint(s)) != ERROR_SUCCESS)
        return rc;
    Mount *m = it->get();
    if (m->dirty && (rc = saveMount(s, *m)) != ERROR_SUCCESS)
        return rc;
    removeSubkey(s, *vroot, root);
    s.mounts.erase(it);
    if (!saveMountList(s))
        return ERROR_REGISTRY_IO_FAILED;
    fireNotifications(s, vroot, REG_NOTIFY_CHANGE_NAME);
    return ERROR_SUCCESS;
}
