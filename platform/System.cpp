// The replacement system on disk: its root folder, the hives created from the
// template at first use, the journal that makes every change durable, the
// checkpoints that write the hives, and the mounting of hive files.
#include "platform/Engine.h"
#include "platform/Template.h"
#include "platform/Unicode.h"
#include "platform/hive/Regf.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <new>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace vt::platform::detail
{

namespace
{

std::mutex gOpenMutex;
std::unique_ptr<System> gSystem;
// What closeSystemForExit() left for the process's end to free. Volatile:
// never read, the store would otherwise be dropped, and leak checkers would
// see the system as lost rather than still reachable.
System *volatile gLeftToExit = nullptr;
std::atomic<System *> gCurrent{nullptr};
std::atomic<System *> gOpening{nullptr}; // the system openLocked is building (not current yet)

constexpr char kJournalMagic[8] = {'V', 'T', 'J', 'R', 'N', 'L', '0', '1'};
constexpr size_t kJournalHeader = 16;               // magic + generation
constexpr uint64_t kCheckpointAt = 8 * 1024 * 1024; // least journal size that triggers a checkpoint
constexpr uint64_t kExitCheckpointAt = 1024 * 1024;  // see checkpointWorthItAtExit
// Replay takes any record up to this size; the largest a change can make is a
// value of kMaxValueData plus its key path and name, well below it.
constexpr uint32_t kMaxRecord = 1536u * 1024 * 1024;
static_assert(kMaxValueData + 8u * 1024 * 1024 < kMaxRecord);
constexpr uint64_t kDeferredFlushAt = 4 * 1024 * 1024; // unflushed journal bytes a DeferredSync scope allows

std::atomic<int> gDeferDepth{0}; // open DeferredSync scopes of this process

// In place of a length: the key path is the previous record's, or a new
// key's security descriptor is its parent's. Most changes come in runs on
// one key, and most keys inherit their parent's descriptor unchanged, so
// the journal holds far fewer bytes than the paths and descriptors would.
constexpr uint32_t kSameAsBefore = 0xFFFFFFFFu;
// In place of a key path's length: a sibling of the previous record's key,
// whose name follows (keys are mostly created in runs under one parent).
constexpr uint32_t kSiblingOfBefore = 0xFFFFFFFEu;

enum Op : uint8_t {
    OpCreateKey = 1,
    OpDeleteKey = 2,
    OpSetValue = 3,
    OpDeleteValue = 4,
    OpSetSecurity = 5,
    OpBegin = 6, // the records up to the next OpCommit are one change: all or none
    OpCommit = 7,
    OpRenameKey = 8,
};

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
    // Whether the next length is kSameAsBefore; consumes it when it is.
    bool sameAsBefore() { return marker(kSameAsBefore); }
    bool siblingOfBefore() { return marker(kSiblingOfBefore); }
    bool marker(uint32_t m)
    {
        if (ok && n - i >= 4 &&
            (uint32_t(p[i]) | uint32_t(p[i + 1]) << 8 | uint32_t(p[i + 2]) << 16 | uint32_t(p[i + 3]) << 24) == m) {
            i += 4;
            return true;
        }
        return false;
    }
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

// The key path of a record, as the stream's previous record left it.
void writeKeyPath(System &s, Writer &w, std::string path)
{
    if (s.lastRecordPathKnown && path == s.lastRecordPath) {
        w.u32(kSameAsBefore);
        return;
    }
    const size_t cut = path.rfind('\\');
    if (s.lastRecordPathKnown && cut != std::string::npos && cut + 1 < path.size() && s.lastRecordPath.size() > cut &&
        s.lastRecordPath[cut] == '\\' && s.lastRecordPath.find('\\', cut + 1) == std::string::npos &&
        s.lastRecordPath.compare(0, cut, path, 0, cut) == 0) {
        w.u32(kSiblingOfBefore);
        w.str(std::string_view(path).substr(cut + 1));
    } else {
        w.str(path);
    }
    s.lastRecordPath = std::move(path);
    s.lastRecordPathKnown = true;
}

std::string readKeyPath(System &s, Reader &r)
{
    if (r.sameAsBefore()) {
        if (!s.lastRecordPathKnown)
            r.ok = false;
        return s.lastRecordPath;
    }
    std::string path;
    if (r.siblingOfBefore()) {
        const size_t cut = s.lastRecordPath.rfind('\\');
        if (!s.lastRecordPathKnown || cut == std::string::npos) {
            r.ok = false;
            return {};
        }
        path = s.lastRecordPath.substr(0, cut + 1) + r.str();
    } else {
        path = r.str();
    }
    if (r.ok) {
        s.lastRecordPath = path;
        s.lastRecordPathKnown = true;
    }
    return path;
}

// Records composed after this name every path in full: the file may not hold
// what this process last wrote (a failed append, a dropped transaction, a
// new journal).
void forgetLastRecordPath(System &s)
{
    s.lastRecordPathKnown = false;
    s.lastRecordPath.clear();
}

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

bool pwriteAll(int fd, const uint8_t *p, size_t n, uint64_t offset)
{
    while (n) {
        ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(offset));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        offset += static_cast<uint64_t>(w);
    }
    return true;
}

// A record's header and payload in one call (one system call per change
// instead of two); whatever a short write leaves goes through pwriteAll.
bool pwriteRecord(int fd, const uint8_t *head, size_t headSize, const uint8_t *body, size_t bodySize,
                  uint64_t offset)
{
    iovec parts[2] = {{const_cast<uint8_t *>(head), headSize}, {const_cast<uint8_t *>(body), bodySize}};
    ssize_t w;
    do
        w = ::pwritev(fd, parts, 2, static_cast<off_t>(offset));
    while (w < 0 && errno == EINTR);
    if (w < 0)
        return false;
    const auto done = static_cast<size_t>(w);
    if (done < headSize)
        return pwriteAll(fd, head + done, headSize - done, offset + done) &&
               pwriteAll(fd, body, bodySize, offset + headSize);
    return pwriteAll(fd, body + (done - headSize), bodySize - (done - headSize), offset + done);
}

// Flushes what group commits appended without flushing; false when the flush fails.
bool flushJournal(System &s)
{
    if (!s.unsynced || s.journalFd < 0)
        return true;
    if (::fdatasync(s.journalFd) != 0)
        return false;
    s.unsynced = 0;
    return true;
}

// The journal size that triggers the next checkpoint. A checkpoint rewrites
// whole hive files, so it waits until the journal has grown by one and a
// half times what the last one wrote: the bytes written for hives stay
// proportional to the changes journaled, however large the hives grow (an
// import of N keys writes O(N) bytes, not O(N^2)). A longer wait would write
// less still but leave more journal to replay at every start.
uint64_t checkpointThreshold(const System &s)
{
    return std::max({kCheckpointAt, s.lastCheckpointBytes + s.lastCheckpointBytes / 2, s.retryCheckpointAt});
}

// A record as the journal holds it: length, CRC-32, payload.
void frame(std::vector<uint8_t> &out, const std::vector<uint8_t> &payload)
{
    const auto len = static_cast<uint32_t>(payload.size());
    const uint32_t crc = crc32(payload.data(), payload.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(len >> (8 * i)));
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    out.insert(out.end(), payload.begin(), payload.end());
}

// Appends one record and makes it durable before the call that made the change returns.
bool append(System &s, const Writer &payload)
{
    if (!s.persistent || s.replaying)
        return true;
    // Replay would take a longer record for a torn one and cut it off with
    // everything after it: never acknowledge what cannot come back.
    if (payload.b.size() > kMaxRecord) {
        s.appendError = ERROR_NOT_ENOUGH_MEMORY;
        forgetLastRecordPath(s);
        return false;
    }
    if (s.txDepth > 0) {
        frame(s.txRecords, payload.b);
        return true;
    }
    uint8_t header[8];
    const auto len = static_cast<uint32_t>(payload.b.size());
    const uint32_t crc = crc32(payload.b.data(), payload.b.size());
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<uint8_t>(len >> (8 * i));
        header[4 + i] = static_cast<uint8_t>(crc >> (8 * i));
    }
    const uint64_t recSize = sizeof header + payload.b.size();
    // Inside a DeferredSync scope the flush waits for the scope's end (or for
    // enough bytes): records reach the file in order, so a crash loses a
    // tail, never a record in the middle.
    const bool deferred = gDeferDepth.load(std::memory_order_acquire) > 0;
    const bool flush = !deferred || s.unsynced + recSize >= kDeferredFlushAt;
    if (!pwriteRecord(s.journalFd, header, sizeof header, payload.b.data(), payload.b.size(), s.journalSize) ||
        (flush && ::fdatasync(s.journalFd) != 0)) {
        s.appendError = errno == ENOSPC || errno == EDQUOT ? ERROR_DISK_FULL : ERROR_REGISTRY_IO_FAILED;
        // Cut a partial record off so the next one is not appended after garbage.
        if (::ftruncate(s.journalFd, static_cast<off_t>(s.journalSize.load())) == 0)
            ::fdatasync(s.journalFd);
        forgetLastRecordPath(s);
        return false;
    }
    s.journalSize += recSize;
    s.unsynced = flush ? 0 : s.unsynced + recSize;
    if (s.shared)
        s.shared->size.store(s.journalSize);
    // The change is durable in the journal whatever the checkpoint does. One
    // that fails is remembered for the next flush, unload or close, and not
    // retried at every change (each try rewrites every changed hive).
    if (s.journalSize > checkpointThreshold(s)) {
        if (checkpoint(s) != ERROR_SUCCESS)
            s.retryCheckpointAt = s.journalSize + kCheckpointAt;
    }
    return true;
}

void addProblem(SystemReport *report, std::string text)
{
    if (report)
        report->problems.push_back(std::move(text));
}

std::string messageText(LONG code)
{
    char text[512];
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                       nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    return n ? std::string(text, n) : "Error " + std::to_string(code) + ".";
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
        // Private, as XDG asks of data folders: the hives hold the user's data.
        if (::mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

bool fileExists(const std::string &path)
{
    struct stat st {
    };
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
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
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
    return "S-1-5-21-" + std::to_string(parts[0]) + "-" + std::to_string(parts[1]) + "-" + std::to_string(parts[2]) +
           "-1001";
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

std::string configDir(const System &s)
{
    return s.root + "/drive_c/Windows/System32/config";
}
std::string userHivePath(const System &s)
{
    return s.root + "/drive_c/Users/" + s.userName + "/NTUSER.DAT";
}

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

std::string journalPath(const System &s, uint64_t gen)
{
    return s.root + "/registry.journal." + std::to_string(gen);
}

void syncDir(const std::string &dir)
{
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

// A new, empty journal file of a generation.
int createJournal(System &s, uint64_t gen)
{
    int fd = ::open(journalPath(s, gen).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    uint8_t header[kJournalHeader];
    std::memcpy(header, kJournalMagic, 8);
    for (int i = 0; i < 8; ++i)
        header[8 + i] = static_cast<uint8_t>(gen >> (8 * i));
    if (!pwriteAll(fd, header, sizeof header, 0) || ::fdatasync(fd) != 0) {
        ::close(fd);
        return -1;
    }
    syncDir(s.root);
    return fd;
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
        std::string path = readKeyPath(s, r);
        std::string cls = r.str();
        uint64_t time = r.num(8);
        auto flags = static_cast<uint16_t>(r.num(2));
        const bool parentsSecurity = r.sameAsBefore();
        auto sd = parentsSecurity ? std::vector<uint8_t>() : r.bytes();
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
            nk->security = parentsSecurity ? parent->security
                                           : std::make_shared<const vt::hive::SecurityDescriptor>(std::move(sd));
            k = insertSubkey(*parent, std::move(nk));
        }
        parent->lastWriteTime = std::max(parent->lastWriteTime, time);
        markDirty(s, *parent);
        fireNotifications(s, parent, REG_NOTIFY_CHANGE_NAME);
        break;
    }
    case OpDeleteKey: {
        std::string path = readKeyPath(s, r);
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
        std::string path = readKeyPath(s, r);
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
        std::string path = readKeyPath(s, r);
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
        std::string path = readKeyPath(s, r);
        auto sd = r.bytes();
        if (!r.ok)
            return;
        if (Key *k = keyFromPath(s, path)) {
            k->security = std::make_shared<const vt::hive::SecurityDescriptor>(std::move(sd));
            markDirty(s, *k);
            fireNotifications(s, k, REG_NOTIFY_CHANGE_SECURITY | REG_NOTIFY_CHANGE_ATTRIBUTES);
        }
        break;
    }
    case OpRenameKey: {
        std::string path = readKeyPath(s, r);
        std::string oldName = r.str();
        std::string newName = r.str();
        uint64_t time = r.num(8);
        if (!r.ok)
            return;
        Key *parent = keyFromPath(s, path);
        if (!parent)
            return;
        // The record states the result: the key is known by the new name only.
        // A key already under that name can only be met when the journal is
        // replayed onto hives a checkpoint wrote from a later state (a crash
        // between the hives and the new journal); the key being renamed is
        // the one that state holds, so it takes the place.
        if (Key *k = findChild(*parent, oldName)) {
            if (Key *clash = findChild(*parent, newName); clash && clash != k)
                removeSubkey(s, *parent, clash);
            renameSubkey(*parent, k, newName);
        }
        parent->lastWriteTime = time;
        markDirty(s, *parent);
        fireNotifications(s, parent, REG_NOTIFY_CHANGE_NAME);
        break;
    }
    default:
        r.ok = false;
    }
}

// Applies the records of a journal file from `from` to its end and returns
// where the last whole record ends. With `cutTorn` (only under the file lock,
// when nobody is appending) a torn or damaged tail is cut off.
uint64_t applyFrom(System &s, int fd, uint64_t from, bool cutTorn)
{
    if (from == kJournalHeader)
        forgetLastRecordPath(s); // a journal file starts with full paths
    struct stat st {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) <= from)
        return from;
    std::vector<uint8_t> data(static_cast<size_t>(static_cast<uint64_t>(st.st_size) - from));
    size_t got = 0;
    while (got < data.size()) {
        ssize_t n = ::pread(fd, data.data() + got, data.size() - got, static_cast<off_t>(from + got));
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    data.resize(got);
    // A whole, undamaged record at `at`: its payload and the position after it.
    auto recordAt = [&](size_t at, const uint8_t *&payload, uint32_t &len) {
        if (data.size() - at < 8)
            return false;
        len = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
              uint32_t(data[at + 3]) << 24;
        const uint32_t crc = uint32_t(data[at + 4]) | uint32_t(data[at + 5]) << 8 | uint32_t(data[at + 6]) << 16 |
                             uint32_t(data[at + 7]) << 24;
        if (len == 0 || len > kMaxRecord || data.size() - at - 8 < len || crc32(data.data() + at + 8, len) != crc)
            return false;
        payload = data.data() + at + 8;
        return true;
    };
    auto known = [](uint8_t op) { return op >= OpCreateKey && op <= OpRenameKey && op != OpBegin && op != OpCommit; };
    size_t pos = 0;
    s.replaying = true;
    const uint8_t *payload = nullptr;
    uint32_t len = 0;
    while (pos < data.size() && recordAt(pos, payload, len)) {
        if (payload[0] == OpBegin) {
            // Applied only when its commit record is there and every record
            // before it is whole; otherwise this is where the journal ends.
            std::vector<std::pair<const uint8_t *, uint32_t>> inner;
            size_t q = pos + 8 + len;
            bool committed = false;
            while (recordAt(q, payload, len)) {
                if (payload[0] == OpCommit) {
                    committed = true;
                    q += 8 + len;
                    break;
                }
                if (!known(payload[0]))
                    break;
                inner.emplace_back(payload, len);
                q += 8 + len;
            }
            if (!committed)
                break;
            for (auto [p, n] : inner) {
                Reader r{p, n};
                applyRecord(s, r);
            }
            pos = q;
            continue;
        }
        Reader r{payload, len};
        applyRecord(s, r);
        if (!r.ok) {
            forgetLastRecordPath(s);
            break;
        }
        pos += 8 + len;
    }
    s.replaying = false;
    const uint64_t end = from + pos;
    if (cutTorn && end != static_cast<uint64_t>(st.st_size)) {
        if (::ftruncate(fd, static_cast<off_t>(end)) == 0)
            ::fdatasync(fd);
    }
    return end;
}

uint64_t currentGeneration(const System &s)
{
    const std::string text = readText(s.root + "/journal.current");
    const uint64_t gen = std::strtoull(text.c_str(), nullptr, 10);
    return gen ? gen : 1;
}

// Opens the journal generation in use and replays it (file lock held).
LONG openJournal(System &s)
{
    const uint64_t gen = currentGeneration(s);
    int fd = ::open(journalPath(s, gen).c_str(), O_RDWR | O_CLOEXEC);
    uint8_t header[kJournalHeader];
    if (fd < 0 || ::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, kJournalMagic, 8) != 0) {
        if (fd >= 0)
            ::close(fd);
        fd = createJournal(s, gen);
        if (fd < 0)
            return ERROR_REGISTRY_IO_FAILED;
    }
    s.journalFd = fd;
    s.generation = gen;
    s.journalSize = applyFrom(s, fd, kJournalHeader, true);
    return ERROR_SUCCESS;
}

LONG loadTree(System &s);
void syncMounts(System &s);
void releaseResources(System &s);

bool sameValues(const std::vector<Value> &a, const std::vector<Value> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Value &x, const Value &y) {
        return x.name == y.name && x.type == y.type && x.data == y.data;
    });
}

// Makes `live` what `fresh` (the same key as its hive file now holds it) is,
// keeping every surviving key object, so handles to them stay valid and only
// handles into keys that are gone answer ERROR_KEY_DELETED.
void syncKey(System &s, Key &live, Key &fresh)
{
    DWORD kinds = 0;
    if (!sameValues(live.values, fresh.values) || live.className != fresh.className) {
        live.values = std::move(fresh.values);
        live.valuesChanged();
        live.className = std::move(fresh.className);
        kinds |= REG_NOTIFY_CHANGE_LAST_SET;
    }
    if (!live.security != !fresh.security || (live.security && *live.security != *fresh.security)) {
        live.security = fresh.security;
        kinds |= REG_NOTIFY_CHANGE_SECURITY | REG_NOTIFY_CHANGE_ATTRIBUTES;
    }
    live.lastWriteTime = fresh.lastWriteTime;
    for (size_t i = 0; i < live.subkeys.size();) {
        Key *child = live.subkeys[i].get();
        if (!child->isVolatile && !findChild(fresh, child->name)) {
            removeSubkey(s, live, child); // erases it from live.subkeys
            kinds |= REG_NOTIFY_CHANGE_NAME;
        } else {
            ++i;
        }
    }
    for (auto &child : fresh.subkeys) {
        Key *same = findChild(live, child->name);
        if (!same) {
            insertSubkey(live, std::move(child));
            kinds |= REG_NOTIFY_CHANGE_NAME;
        } else if (!same->isVolatile) {
            syncKey(s, *same, *child);
        }
    }
    if (kinds)
        fireNotifications(s, &live, kinds);
}

// A process more than one generation behind cannot replay what it missed
// (that journal is gone), but the hive files hold all of it: bring every
// mounted tree to what its file says. False when a file cannot be read.
bool resyncFromFiles(System &s)
{
    std::vector<std::pair<Mount *, vt::hive::Hive>> fresh;
    for (auto &m : s.mounts) {
        if (m->file.empty() || m->root->unloaded.load(std::memory_order_acquire))
            continue; // a hive not read yet will be read as the file is now
        vt::hive::Hive h;
        if (vt::hive::loadHiveFile(m->file, h) != ERROR_SUCCESS || !h.root)
            return false;
        fresh.emplace_back(m.get(), std::move(h));
    }
    for (auto &[m, h] : fresh) {
        syncKey(s, *m->root, *h.root);
        m->dirty = false;
    }
    return true;
}

// Applies what other processes appended (exclusive lock and file lock held).
void catchUpLocked(System &s)
{
    if (!s.shared)
        return;
    if (s.shared->generation.load() != s.generation) {
        // Another process checkpointed: finish our generation from its file
        // (kept until the next checkpoint), then follow into the new one.
        const uint64_t gen = currentGeneration(s);
        const bool lagged = gen != s.generation + 1;
        if (!lagged)
            applyFrom(s, s.journalFd, s.journalSize, false);
        if (s.unsynced)
            ::fdatasync(s.journalFd); // cheap insurance: the checkpoint that ended this file holds them already
        s.unsynced = 0;
        ::close(s.journalFd);
        s.journalFd = -1;
        s.retryCheckpointAt = 0;
        if (lagged && resyncFromFiles(s)) {
            s.journalFd = ::open(journalPath(s, gen).c_str(), O_RDWR | O_CLOEXEC);
            s.generation = gen;
            s.journalSize = kJournalHeader;
        } else if (lagged) {
            // The files cannot be read either: start over from scratch.
            loadTree(s);
        } else {
            s.journalFd = ::open(journalPath(s, gen).c_str(), O_RDWR | O_CLOEXEC);
            s.generation = gen;
            s.journalSize = kJournalHeader;
        }
    }
    if (s.shared->mountsVersion.load() != s.seenMounts)
        syncMounts(s);
    s.journalSize = applyFrom(s, s.journalFd, s.journalSize, true);
    s.shared->size.store(s.journalSize);
    s.shared->generation.store(s.generation);
}

std::string mountsFile(const System &s)
{
    return s.root + "/mounts.ini";
}

std::string escapeField(std::string_view text);
// Marks a mounts.ini whose fields are escaped (see readMountList).
constexpr std::string_view kMountsHeader = "#vantrel-mounts 2";

bool saveMountList(System &s)
{
    std::string text = std::string(kMountsHeader) + "\n";
    for (auto &m : s.mounts)
        if (m->loaded)
            text += (m->virtualRoot == s.machine.get() ? "MACHINE|" : "USER|") + escapeField(m->name) + "|" +
                    escapeField(m->file) + "\n";
    return writeTextDurably(mountsFile(s), text);
}

std::unique_ptr<Key> virtualRoot(const char *name)
{
    auto k = newKey(name, nowFileTime());
    k->isVolatile = true;
    k->security = std::make_shared<const vt::hive::SecurityDescriptor>(vt::security::defaultMachineHiveDescriptor());
    return k;
}

// Whether a hive file can be written back the way a checkpoint writes it (a
// new file renamed over it). A file without write bits is kept read-only even
// for root, who could replace it: analysts mount evidence that way.
bool hiveWritable(const std::string &file)
{
    struct stat st {
    };
    if (::stat(file.c_str(), &st) != 0 || !(st.st_mode & 0222) || ::access(file.c_str(), W_OK) != 0)
        return false;
    const size_t slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
    return ::access(dir.c_str(), W_OK) == 0;
}

} // namespace

void loadLazyMount(Key &root)
{
    System *s = gCurrent.load(std::memory_order_acquire);
    if (!s || (root.parent != s->machine.get() && root.parent != s->users.get()))
        s = gOpening.load(std::memory_order_acquire);
    if (!s || (root.parent != s->machine.get() && root.parent != s->users.get()))
        return;
    std::lock_guard g(s->lazyMutex);
    if (!root.unloaded.load(std::memory_order_acquire))
        return;
    Mount *m = nullptr;
    for (auto &mm : s->mounts)
        if (mm->root == &root)
            m = mm.get();
    vt::hive::Hive hive;
    if (m && vt::hive::loadHiveFile(m->file, hive) == ERROR_SUCCESS && hive.root) {
        Key &src = *hive.root;
        m->rootName = src.name;
        m->header.minorVersion = hive.minorVersion;
        m->header.headerTimestamp = hive.headerTimestamp;
        m->header.fileName = hive.fileName;
        root.className = std::move(src.className);
        root.lastWriteTime = src.lastWriteTime;
        root.security = std::move(src.security);
        root.flags = src.flags;
        root.userFlags = src.userFlags;
        root.virtControlFlags = src.virtControlFlags;
        root.accessBits = src.accessBits;
        root.values = std::move(src.values);
        root.valuesChanged();
        root.subkeys = std::move(src.subkeys);
        for (auto &c : root.subkeys)
            c->parent = &root;
    } else {
        // The file went bad after it was mounted: an empty key stands for it,
        // and nothing is ever written back over the file.
        if (m) {
            m->readOnly = true;
            m->rootName = m->name;
        }
        root.security = root.parent->security;
    }
    root.unloaded.store(false, std::memory_order_release);
}

namespace
{

// Mounts a hive file without reading it: its root stands in, marked
// unloaded, until something looks below it. A process that never touches
// the hive never parses it and never writes it.
void mountLazily(System &s, Key *vroot, const std::string &name, const std::string &file)
{
    vt::hive::removeSaveLeftovers(file);
    auto m = std::make_unique<Mount>();
    m->name = name;
    m->virtualRoot = vroot;
    m->file = file;
    m->loaded = true;
    m->readOnly = !hiveWritable(file);
    auto root = newKey(name, 0);
    root->unloaded.store(true, std::memory_order_release);
    attachMount(s, std::move(m), std::move(root));
    s.mounts.back()->rootName.clear();
}

LONG mountFile(System &s, Key *vroot, const std::string &name, const std::string &file, bool loaded,
               vt::hive::RecoveryReport *report = nullptr)
{
    // Checkpoints run under the system's file lock, which the caller holds.
    vt::hive::removeSaveLeftovers(file);
    vt::hive::Hive hive;
    vt::hive::RecoveryReport ignored;
    LONG rc = vt::hive::loadHiveFile(file, hive, report ? *report : ignored);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (!hive.root)
        return ERROR_BADDB;
    auto m = std::make_unique<Mount>();
    m->name = name;
    m->virtualRoot = vroot;
    m->file = file;
    m->loaded = loaded;
    m->readOnly = !hiveWritable(file);
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

// The root must be this user's alone: anyone who can write it can plant a
// system.ini naming another SID, swap hives or hold the lock.
LONG checkRootOwnership(const std::string &root, SystemReport *report)
{
    struct stat st {
    };
    if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        addProblem(report, "The system folder '" + root + "' is not a folder.");
        return ERROR_PATH_NOT_FOUND;
    }
    if (st.st_uid != ::geteuid()) {
        addProblem(report, "The system folder '" + root + "' belongs to another user.");
        return ERROR_ACCESS_DENIED;
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        addProblem(report, "The system folder '" + root + "' may be changed by other users.");
        return ERROR_ACCESS_DENIED;
    }
    // A folder an earlier version made readable by all is made private.
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) && ::chmod(root.c_str(), st.st_mode & 07700) != 0)
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

LONG openLocked(const SystemOptions &options, SystemReport *report)
{
    auto sys = std::make_unique<System>();
    System &s = *sys;
    gOpening.store(&s, std::memory_order_release);
    struct Opened {
        ~Opened() { gOpening.store(nullptr, std::memory_order_release); }
    } opened;
    s.options = options;
    s.report = report;
    s.root = !options.root.empty() ? options.root : defaultSystemRoot();
    if (s.root.empty()) {
        addProblem(report, "There is no folder for the system: HOME is not set and the account has no home folder. "
                           "Set VANTREL_SYSTEM or name a folder.");
        return ERROR_PATH_NOT_FOUND;
    }
    while (s.root.size() > 1 && s.root.back() == '/')
        s.root.pop_back();
    const bool existed = fileExists(s.root + "/system.ini");
    if (!mkdirs(s.root))
        return ERROR_PATH_NOT_FOUND;
    if (LONG rc = checkRootOwnership(s.root, report); rc != ERROR_SUCCESS)
        return rc;

    // Processes sharing the root take turns through this lock: opening,
    // catching up on each other's records, appending, checkpointing.
    s.lockFd = ::open((s.root + "/system.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (s.lockFd < 0)
        return ERROR_ACCESS_DENIED;
    while (::flock(s.lockFd, LOCK_EX) != 0)
        if (errno != EINTR)
            return ERROR_LOCK_VIOLATION;
    struct Unlock {
        int fd;
        ~Unlock() { ::flock(fd, LOCK_UN); }
    } unlock{s.lockFd};

    s.userName = loginName();
    const std::string iniPath = s.root + "/system.ini";
    std::string ini = readText(iniPath);
    s.userSid = iniValue(ini, "UserSid");
    bool wroteIni = false;
    if (s.userSid.empty()) {
        s.userSid = newUserSid();
        if (!writeTextDurably(iniPath, "UserName=" + s.userName + "\nUserSid=" + s.userSid + "\n"))
            return ERROR_REGISTRY_IO_FAILED;
        wroteIni = true;
    }
    // A first start that fails (a full disk) leaves no half-made system: the
    // next start begins again from nothing.
    struct Undo {
        std::string ini;
        bool armed;
        ~Undo()
        {
            if (armed)
                ::unlink(ini.c_str());
        }
    } undoIni{iniPath, wroteIni};
    s.token = tokenFor(options.identity, s.userSid);
    resetPrivileges(s);
    s.prepared = std::make_unique<vt::security::PreparedToken>(s.token);

    // The counters every process maps to notice each other's changes cheaply.
    {
        const std::string shmPath = s.root + "/registry.shm";
        int fd = ::open(shmPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return ERROR_REGISTRY_IO_FAILED;
        struct stat st {
        };
        if (::fstat(fd, &st) != 0 || (st.st_size < 4096 && ::ftruncate(fd, 4096) != 0)) {
            ::close(fd);
            return ERROR_REGISTRY_IO_FAILED;
        }
        void *p = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        if (p == MAP_FAILED)
            return ERROR_REGISTRY_IO_FAILED;
        s.shared = static_cast<SharedState *>(p);
    }

    LONG rc = loadTree(s);
    if (rc != ERROR_SUCCESS) {
        releaseResources(s);
        return rc;
    }
    undoIni.armed = false;
    if (report)
        report->created = !existed;
    s.report = nullptr; // the caller's object is only good during the open
    // Under the lock this process has read everything: what it saw is the truth.
    s.shared->generation.store(s.generation);
    s.shared->size.store(s.journalSize);
    s.seenMounts = s.shared->mountsVersion.load();

    System *sp = &s;
    s.pollerPid = static_cast<int>(::getpid());
    s.poller = std::make_unique<std::thread>([sp] {
        std::unique_lock lk(sp->pollerMutex);
        while (!sp->stopPoller) {
            sp->pollerCv.wait_for(lk, std::chrono::milliseconds(250));
            if (sp->stopPoller)
                break;
            lk.unlock();
            catchUp(*sp);
            lk.lock();
        }
    });

    gSystem = std::move(sys);
    gCurrent.store(gSystem.get(), std::memory_order_release);
    return ERROR_SUCCESS;
}

LONG loadTree(System &s)
{
    // Whatever was loaded before goes, and every handle into it.
    s.handles.forEachUsed([](Slot &slot, size_t) { slot.deleted = true; });
    {
        std::lock_guard n(s.notifyMutex);
        for (auto &r : s.registrations)
            signalEvent(r.event);
        s.registrations.clear();
    }
    s.mounts.clear();
    s.machine = virtualRoot("MACHINE");
    s.users = virtualRoot("USER");
    if (s.journalFd >= 0) {
        ::close(s.journalFd);
        s.journalFd = -1;
    }

    const std::string config = configDir(s);
    const std::string profile = s.root + "/drive_c/Users/" + s.userName;
    if (!mkdirs(config) || !mkdirs(profile) || !mkdirs(s.root + "/drive_c/Program Files/Vantrel") ||
        !mkdirs(s.root + "/drive_c/Users/Public") || !mkdirs(s.root + "/drive_c/ProgramData"))
        return ERROR_PATH_NOT_FOUND;

    TemplateContext ctx{s.userName, s.userSid, computerName()};
    const uint64_t now = nowFileTime();
    struct SystemHive {
        Key *vroot;
        std::string name;
        std::string file;
        TemplateHive which;
    };
    const SystemHive systemHives[] = {
        {s.machine.get(), "SYSTEM", config + "/SYSTEM", TemplateHive::System},
        {s.machine.get(), "SOFTWARE", config + "/SOFTWARE", TemplateHive::Software},
        {s.machine.get(), "SAM", config + "/SAM", TemplateHive::Sam},
        {s.machine.get(), "SECURITY", config + "/SECURITY", TemplateHive::Security},
        {s.users.get(), ".DEFAULT", config + "/DEFAULT", TemplateHive::Default},
        {s.users.get(), s.userSid, userHivePath(s), TemplateHive::User},
    };
    std::vector<std::string> madeHere;
    struct UndoHives {
        std::vector<std::string> &files;
        bool armed = true;
        ~UndoHives()
        {
            if (armed)
                for (const auto &f : files)
                    ::unlink(f.c_str());
        }
    } undoHives{madeHere};
    for (const SystemHive &entry : systemHives) {
        if (!fileExists(entry.file)) {
            vt::hive::Hive hive;
            hive.root = buildTemplateHive(entry.which, ctx, now);
            hive.headerTimestamp = now;
            hive.fileName = entry.which == TemplateHive::User ? "\\??\\C:\\Users\\" + s.userName + "\\ntuser.dat"
                                                              : "\\SystemRoot\\System32\\Config\\" + entry.name;
            LONG rc = vt::hive::saveHiveFile(entry.file, hive);
            if (rc != ERROR_SUCCESS)
                return rc;
            madeHere.push_back(entry.file);
        }
        LONG rc = mountFile(s, entry.vroot, entry.name, entry.file, false);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    mountMemory(s, s.machine.get(), "HARDWARE", buildTemplateHive(TemplateHive::Hardware, ctx, now));
    syncMounts(s); // hives mounted with RegLoadKeyA stay mounted until unloaded

    s.persistent = true;
    LONG rc = openJournal(s);
    if (rc != ERROR_SUCCESS)
        return rc;
    undoHives.armed = false;
    addVolatileContent(s);
    return ERROR_SUCCESS;
}

struct MountEntry {
    bool machine;
    std::string name;
    std::string file;
};

// mounts.ini lines are "MACHINE|name|file" or "USER|name|file". Names and
// paths may hold '|' and line breaks (Windows allows both in key names), so
// a file that starts with this header escapes '%', '|', CR and LF as %XX;
// a file without it is read as earlier versions wrote it.

std::string escapeField(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '%' || c == '|' || c == '\n' || c == '\r') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool unescapeField(std::string_view text, std::string &out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return false;
        out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
        i += 2;
    }
    return true;
}

// The entries of mounts.ini; lines that cannot be read are reported (when a
// report is asked for) and skipped.
std::vector<MountEntry> readMountList(const System &s)
{
    std::vector<MountEntry> out;
    std::istringstream in(readText(mountsFile(s)));
    std::string line;
    bool escaped = false;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (number == 1 && line == kMountsHeader) {
            escaped = true;
            continue;
        }
        if (line.empty())
            continue;
        const size_t a = line.find('|'), b = a == std::string::npos ? a : line.find('|', a + 1);
        const std::string root = line.substr(0, a);
        MountEntry e{root == "MACHINE", {}, {}};
        bool ok = a != std::string::npos && b != std::string::npos && (root == "MACHINE" || root == "USER");
        if (ok && escaped) {
            ok = line.find('|', b + 1) == std::string::npos &&
                 unescapeField(std::string_view(line).substr(a + 1, b - a - 1), e.name) &&
                 unescapeField(std::string_view(line).substr(b + 1), e.file);
        } else if (ok) {
            e.name = line.substr(a + 1, b - a - 1);
            e.file = line.substr(b + 1);
        }
        ok = ok && !e.name.empty() && !e.file.empty();
        if (!ok) {
            addProblem(s.report, "Line " + std::to_string(number) + " of '" + mountsFile(s) +
                                     "' is damaged; the hive it names is not loaded.");
            continue;
        }
        out.push_back(std::move(e));
    }
    return out;
}

// Makes the loaded hives match mounts.ini, which another process may have changed.
void syncMounts(System &s)
{
    const auto list = readMountList(s);
    for (size_t i = 0; i < s.mounts.size();) {
        Mount &m = *s.mounts[i];
        const bool listed = std::any_of(list.begin(), list.end(), [&](const MountEntry &e) {
            return (e.machine ? s.machine.get() : s.users.get()) == m.virtualRoot && e.name == m.name;
        });
        if (m.loaded && !listed) {
            Key *vroot = m.virtualRoot;
            removeSubkey(s, *vroot, m.root);
            s.mounts.erase(s.mounts.begin() + static_cast<long>(i));
            fireNotifications(s, vroot, REG_NOTIFY_CHANGE_NAME);
        } else {
            ++i;
        }
    }
    for (const auto &e : list) {
        Key *vroot = e.machine ? s.machine.get() : s.users.get();
        if (findChild(*vroot, e.name))
            continue;
        // The file is read when something first looks below the key; one that
        // is gone or no longer a file is told now, not then.
        struct stat st {
        };
        if (::stat(e.file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            addProblem(s.report, "The hive '" + e.file + "' loaded as " + (e.machine ? "HKLM\\" : "HKU\\") + e.name +
                                     " could not be mounted: " + messageText(ERROR_FILE_NOT_FOUND));
            continue;
        }
        mountLazily(s, vroot, e.name, e.file);
        fireNotifications(s, vroot, REG_NOTIFY_CHANGE_NAME);
    }
    if (s.shared)
        s.seenMounts = s.shared->mountsVersion.load();
}

void stopPoller(System &s)
{
    if (!s.poller)
        return;
    if (s.pollerPid != static_cast<int>(::getpid())) {
        // A forked child has the object but not the thread: nothing to join,
        // and the object may not be destroyed; it stays reachable here
        // (volatile: an optimiser drops a store nobody reads, and the leak
        // checker then reports the object).
        [[maybe_unused]] static std::thread *volatile orphan = nullptr;
        orphan = s.poller.release();
        return;
    }
    {
        std::lock_guard lk(s.pollerMutex);
        s.stopPoller = true;
    }
    s.pollerCv.notify_all();
    s.poller->join();
    s.poller.reset();
}

void releaseResources(System &s)
{
    stopPoller(s);
    if (s.journalFd >= 0)
        ::close(s.journalFd);
    if (s.lockFd >= 0)
        ::close(s.lockFd);
    if (s.shared)
        ::munmap(s.shared, 4096);
    s.journalFd = s.lockFd = -1;
    s.shared = nullptr;
}

// Whether a process that ends now should write its changed hives. Its changes
// are durable in the journal already, and rewriting a large hive for a few
// of them would cost the hive's size at every small command. So they wait
// there (the next process replays them) while the changed hives are over a
// MiB and the journal is under a quarter of their size and under a MiB: the
// bytes written follow the changes and the replay at start stays short.
// Small hives are written at once, so their files stay current for other
// readers; so is a hive loaded with RegLoadKeyA, whose records would make
// every later process read it at start, which its lazy mounting avoids.
bool checkpointWorthItAtExit(const System &s)
{
    const uint64_t journal = s.journalSize > kJournalHeader ? s.journalSize - kJournalHeader : 0;
    if (journal >= kExitCheckpointAt)
        return true;
    uint64_t dirtyBytes = 0;
    for (const auto &m : s.mounts) {
        if (!m->dirty || m->readOnly)
            continue;
        if (m->loaded)
            return true;
        struct stat st {
        };
        if (::stat(m->file.c_str(), &st) == 0)
            dirtyBytes += static_cast<uint64_t>(st.st_size);
    }
    return dirtyBytes <= kExitCheckpointAt || journal * 4 >= dirtyBytes;
}

LONG closeLocked(bool forExit = false)
{
    System *s = gSystem.get();
    if (!s)
        return ERROR_SUCCESS;
    stopPoller(*s);
    LONG rc = ERROR_SUCCESS;
    {
        std::unique_lock l(s->lock);
        {
            JournalLock j(*s);
            if (!forExit || checkpointWorthItAtExit(*s))
                rc = checkpoint(*s);
            else if (!flushJournal(*s))
                rc = ERROR_REGISTRY_IO_FAILED;
        }
        // Wake everybody still waiting for a change of this system.
        std::lock_guard n(s->notifyMutex);
        for (auto &r : s->registrations)
            signalEvent(r.event);
        s->registrations.clear();
    }
    releaseResources(*s);
    gCurrent.store(nullptr, std::memory_order_release);
    if (forExit) {
        delete gLeftToExit; // a program that closes for exit more than once (tests do)
        gLeftToExit = gSystem.release(); // still reachable, so leak checkers do not count it
    }
    gSystem.reset();
    return rc;
}

} // namespace

System &current()
{
    if (System *s = gCurrent.load(std::memory_order_acquire))
        return *s;
    std::lock_guard g(gOpenMutex);
    if (!gSystem) {
        if (openLocked(SystemOptions{}, nullptr) != ERROR_SUCCESS) {
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

System *currentIfOpen()
{
    return gCurrent.load(std::memory_order_acquire);
}

System::~System()
{
    System *self = this;
    gCurrent.compare_exchange_strong(self, nullptr); // late calls must not find a dead system
    if (pollerPid && pollerPid != static_cast<int>(::getpid())) {
        // A forked child inherits the condition variable with the parent's
        // poller counted as its waiter; destroying that copy would wait for
        // the waiter forever. A fresh one in its place is destroyed cleanly.
        new (&pollerCv) std::condition_variable;
    }
    releaseResources(*this);
}

bool journalCreateKey(System &s, const Key &key)
{
    Writer w;
    w.u8(OpCreateKey);
    writeKeyPath(s, w, keyPath(key));
    w.str(key.className);
    w.u64(key.lastWriteTime);
    w.u16(key.flags);
    if (key.security && key.parent && key.parent->security &&
        (key.security == key.parent->security || *key.security == *key.parent->security))
        w.u32(kSameAsBefore);
    else if (key.security)
        w.bytes(key.security->data(), key.security->size());
    else
        w.bytes(nullptr, 0);
    return append(s, w);
}

bool journalDeleteKey(System &s, const Key &parent, std::string_view name)
{
    Writer w;
    w.u8(OpDeleteKey);
    writeKeyPath(s, w, keyPath(parent));
    w.str(name);
    w.u64(parent.lastWriteTime);
    return append(s, w);
}

bool journalSetValue(System &s, const Key &key, const Value &value)
{
    Writer w;
    w.u8(OpSetValue);
    writeKeyPath(s, w, keyPath(key));
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
    writeKeyPath(s, w, keyPath(key));
    w.str(name);
    w.u64(key.lastWriteTime);
    return append(s, w);
}

bool journalSetSecurity(System &s, const Key &key)
{
    Writer w;
    w.u8(OpSetSecurity);
    writeKeyPath(s, w, keyPath(key));
    if (key.security)
        w.bytes(key.security->data(), key.security->size());
    else
        w.bytes(nullptr, 0);
    return append(s, w);
}

bool journalRenameKey(System &s, const Key &parent, std::string_view oldName, std::string_view newName)
{
    Writer w;
    w.u8(OpRenameKey);
    writeKeyPath(s, w, keyPath(parent));
    w.str(oldName);
    w.str(newName);
    w.u64(parent.lastWriteTime);
    return append(s, w);
}

LONG checkpoint(System &s)
{
    if (!s.persistent)
        return ERROR_SUCCESS;
    if (s.txDepth > 0) {
        // A hive written now would hold half of the open transaction.
        s.txCheckpointPending = true;
        return ERROR_SUCCESS;
    }
    s.txCheckpointPending = false;
    // A hive written before the journal it covers is durable could, after a
    // power cut before the next generation starts, meet a journal that lost
    // its tail: replaying that shorter journal over the newer hive would
    // bring back keys the lost records had deleted or renamed.
    if (!flushJournal(s))
        return ERROR_REGISTRY_IO_FAILED;
    LONG result = ERROR_SUCCESS;
    uint64_t written = 0;
    for (auto &m : s.mounts) {
        // A read-only hive takes no changes here; what another process
        // journaled into it while it was writable cannot be written either,
        // and must not hold back the other hives.
        if (!m->dirty || m->readOnly)
            continue;
        LONG rc = saveMount(s, *m);
        if (rc != ERROR_SUCCESS)
            result = rc;
        struct stat st {
        };
        if (rc == ERROR_SUCCESS && ::stat(m->file.c_str(), &st) == 0)
            written += static_cast<uint64_t>(st.st_size);
    }
    if (written)
        s.lastCheckpointBytes = written;
    if (result != ERROR_SUCCESS || s.journalSize <= kJournalHeader || s.journalFd < 0)
        return result;
    // Every hive now holds what the journal recorded: start the next
    // generation. The previous file stays until the one after, for processes
    // that have not read its tail yet.
    const uint64_t next = s.generation + 1;
    const int fd = createJournal(s, next);
    if (fd < 0)
        return ERROR_REGISTRY_IO_FAILED;
    if (!writeTextDurably(s.root + "/journal.current", std::to_string(next) + "\n")) {
        ::close(fd);
        ::unlink(journalPath(s, next).c_str());
        return ERROR_REGISTRY_IO_FAILED;
    }
    if (s.generation > 1)
        ::unlink(journalPath(s, s.generation - 1).c_str());
    ::close(s.journalFd);
    s.unsynced = 0; // the hives just written hold every record of the old file
    s.retryCheckpointAt = 0;
    s.journalFd = fd;
    s.generation = next;
    s.journalSize = kJournalHeader;
    forgetLastRecordPath(s);
    if (s.shared) {
        s.shared->size.store(kJournalHeader);
        s.shared->generation.store(next);
    }
    return ERROR_SUCCESS;
}

LONG journalFailure(const System &s)
{
    return s.appendError;
}

void catchUp(System &s)
{
    SharedState *sh = s.shared;
    if (!sh || (sh->generation.load(std::memory_order_acquire) == s.generation &&
                sh->size.load(std::memory_order_acquire) == s.journalSize &&
                sh->mountsVersion.load(std::memory_order_acquire) == s.seenMounts))
        return;
    std::unique_lock l(s.lock);
    JournalLock j(s);
}

JournalLock::JournalLock(System &s) : m_s(s)
{
    // An open transaction holds the file lock already (and caught up then).
    if (s.lockFd < 0 || !s.shared || !s.persistent || s.txLocked)
        return;
    while (::flock(s.lockFd, LOCK_EX) != 0)
        if (errno != EINTR)
            return;
    m_locked = true;
    catchUpLocked(s);
}

JournalLock::~JournalLock()
{
    if (m_locked)
        ::flock(m_s.lockFd, LOCK_UN);
}

} // namespace vt::platform::detail

// ---------------------------------------------------------------------------

using namespace vt::platform::detail;

namespace vt::platform
{

LONG openSystem(const SystemOptions &options, SystemReport *report)
{
    std::lock_guard g(gOpenMutex);
    closeLocked();
    if (report)
        *report = SystemReport{};
    LONG rc = openLocked(options, report);
    if (rc != ERROR_SUCCESS) {
        gSystem.reset();
        gCurrent.store(nullptr);
    }
    return rc;
}

LONG closeSystem()
{
    std::lock_guard g(gOpenMutex);
    return closeLocked();
}

LONG closeSystemForExit()
{
    std::lock_guard g(gOpenMutex);
    return closeLocked(true);
}

DeferredSync::DeferredSync()
{
    gDeferDepth.fetch_add(1, std::memory_order_acq_rel);
}

DeferredSync::~DeferredSync()
{
    if (gDeferDepth.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    std::lock_guard g(gOpenMutex);
    System *s = gSystem.get();
    if (!s)
        return;
    std::unique_lock l(s->lock);
    flushJournal(*s);
}

Transaction::Transaction()
{
    System &s = current();
    std::unique_lock l(s.lock);
    m_epoch = s.epoch;
    if (s.txDepth++ > 0 || !s.persistent || s.lockFd < 0 || !s.shared)
        return;
    // Other processes wait until the end: what they append meanwhile would
    // land between this transaction's changes in memory and its records.
    while (::flock(s.lockFd, LOCK_EX) != 0)
        if (errno != EINTR)
            return;
    s.txLocked = true;
    catchUpLocked(s);
}

Transaction::~Transaction()
{
    commit();
}

LONG Transaction::commit()
{
    if (!m_open)
        return ERROR_SUCCESS;
    m_open = false;
    std::lock_guard g(gOpenMutex);
    System *sp = gSystem.get();
    if (!sp || sp->epoch != m_epoch)
        return ERROR_INVALID_HANDLE; // the system was closed meanwhile
    System &s = *sp;
    std::unique_lock l(s.lock);
    if (s.txDepth == 0 || --s.txDepth > 0)
        return ERROR_SUCCESS;
    LONG rc = ERROR_SUCCESS;
    if (!s.txRecords.empty() && s.journalFd >= 0) {
        std::vector<uint8_t> batch;
        batch.reserve(s.txRecords.size() + 32);
        frame(batch, {OpBegin});
        batch.insert(batch.end(), s.txRecords.begin(), s.txRecords.end());
        frame(batch, {OpCommit});
        const bool deferred = gDeferDepth.load(std::memory_order_acquire) > 0;
        if (!pwriteAll(s.journalFd, batch.data(), batch.size(), s.journalSize) ||
            (!deferred && ::fdatasync(s.journalFd) != 0)) {
            if (::ftruncate(s.journalFd, static_cast<off_t>(s.journalSize.load())) == 0)
                ::fdatasync(s.journalFd);
            forgetLastRecordPath(s);
            rc = ERROR_REGISTRY_IO_FAILED;
        } else {
            s.journalSize += batch.size();
            s.unsynced = deferred ? s.unsynced + batch.size() : 0;
            if (s.shared)
                s.shared->size.store(s.journalSize);
        }
    } else if (!s.txRecords.empty()) {
        forgetLastRecordPath(s);
    }
    std::vector<uint8_t>().swap(s.txRecords);
    if (rc == ERROR_SUCCESS && (s.txCheckpointPending || s.journalSize > checkpointThreshold(s))) {
        if (checkpoint(s) != ERROR_SUCCESS)
            s.retryCheckpointAt = s.journalSize + kCheckpointAt;
    }
    if (s.txLocked) {
        s.txLocked = false;
        ::flock(s.lockFd, LOCK_UN);
    }
    return rc;
}

std::string defaultSystemRoot()
{
    if (const char *env = std::getenv("VANTREL_SYSTEM"); env && *env)
        return env;
    // XDG: a relative path is invalid and ignored.
    if (const char *xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + "/vantrel/system";
    const char *home = std::getenv("HOME");
    if (!home || *home != '/') {
        // Never a shared folder such as /tmp: another user could prepare it.
        const passwd *pw = ::getpwuid(::getuid());
        home = pw && pw->pw_dir && *pw->pw_dir == '/' ? pw->pw_dir : nullptr;
    }
    if (!home)
        return {};
    return std::string(home) + "/.local/share/vantrel/system";
}

std::string systemRoot()
{
    return current().root;
}

std::string currentUserName()
{
    return current().userName;
}
std::string currentUserSid()
{
    return current().userSid;
}

std::string toNativePath(std::string_view path)
{
    auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (path.size() < 2 || !isLetter(path[0]) || path[1] != ':' ||
        (path.size() > 2 && path[2] != '\\' && path[2] != '/'))
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

namespace
{

thread_local vt::platform::HiveLoadRecovery tLastLoadRecovery;

void publishMounts(System &s)
{
    if (s.shared)
        s.seenMounts = ++s.shared->mountsVersion;
}

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
    // Windows checks the privilege before it looks at the file or the key.
    if (!privilegeEnabled(s, kSeRestorePrivilege))
        return ERROR_PRIVILEGE_NOT_HELD;
    return ERROR_SUCCESS;
}

} // namespace

LONG WINAPI RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile)
{
    if (LONG rc; foreignCall(hKey, rc, [&](const vt::platform::ForeignRegistry &f) {
            return f.loadKey ? f.loadKey(hKey, lpSubKey, lpFile) : ERROR_CALL_NOT_IMPLEMENTED;
        }))
        return rc;
    tLastLoadRecovery = {};
    if (!lpFile || !*lpFile)
        return ERROR_INVALID_PARAMETER;
    System &s = current();
    std::unique_lock l(s.lock);
    JournalLock j(s);
    Key *vroot = nullptr;
    LONG rc = mountTarget(s, hKey, lpSubKey, vroot);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (findChild(*vroot, lpSubKey))
        return ERROR_ALREADY_EXISTS;
    const std::string file = vt::platform::toNativePath(lpFile);
    char resolved[PATH_MAX];
    const std::string canonical = ::realpath(file.c_str(), resolved) ? std::string(resolved) : file;
    // The same file under another name (a hard link, a bind mount) is the
    // same hive: compare the files, not their paths.
    struct stat wanted {
    };
    if (::stat(canonical.c_str(), &wanted) == 0) {
        for (auto &m : s.mounts) {
            struct stat other {
            };
            if (!m->file.empty() && ::stat(m->file.c_str(), &other) == 0 && other.st_dev == wanted.st_dev &&
                other.st_ino == wanted.st_ino)
                return ERROR_SHARING_VIOLATION; // the file is in use as another hive
        }
    }
    vt::hive::RecoveryReport report;
    if ((rc = mountFile(s, vroot, lpSubKey, canonical, true, &report)) != ERROR_SUCCESS)
        return rc;
    if (!saveMountList(s)) {
        removeSubkey(s, *vroot, findChild(*vroot, lpSubKey));
        s.mounts.pop_back();
        return ERROR_REGISTRY_IO_FAILED;
    }
    publishMounts(s);
    fireNotifications(s, vroot, REG_NOTIFY_CHANGE_NAME);
    tLastLoadRecovery = {report.recovered,    report.logsApplied, report.logsUnusable, report.binBytesDeclared,
                         report.binBytesKept, report.keysDropped, report.valuesDropped};
    return ERROR_SUCCESS;
}

vt::platform::HiveLoadRecovery vt::platform::lastHiveLoadRecovery()
{
    return tLastLoadRecovery;
}

LONG WINAPI RegUnLoadKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    if (LONG rc; foreignCall(hKey, rc, [&](const vt::platform::ForeignRegistry &f) {
            return f.unLoadKey ? f.unLoadKey(hKey, lpSubKey) : ERROR_CALL_NOT_IMPLEMENTED;
        }))
        return rc;
    System &s = current();
    std::unique_lock l(s.lock);
    JournalLock j(s);
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
        if (slot.deleted)
            return;
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
    if (m->dirty && !m->readOnly && (rc = saveMount(s, *m)) != ERROR_SUCCESS)
        return rc;
    removeSubkey(s, *vroot, root);
    s.mounts.erase(it);
    if (!saveMountList(s))
        return ERROR_REGISTRY_IO_FAILED;
    publishMounts(s);
    fireNotifications(s, vroot, REG_NOTIFY_CHANGE_NAME);
    return ERROR_SUCCESS;
}
