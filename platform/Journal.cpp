// The journal: the record format, appending with its flush (one change, a
// group commit, a transaction) and replay.
#include "platform/SystemInternal.h"
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

constexpr char kJournalMagic[8] = {'V', 'T', 'J', 'R', 'N', 'L', '0', '1'};
// Replay takes any record up to this size; the largest a change can make is a
// value of kMaxValueData plus its key path and name, well below it.
constexpr uint32_t kMaxRecord = 1536u * 1024 * 1024;
static_assert(kMaxValueData + 8u * 1024 * 1024 < kMaxRecord);
constexpr uint64_t kDeferredFlushAt = 4 * 1024 * 1024; // unflushed journal bytes a DeferredSync scope allows
std::atomic<int> gDeferDepth{0};                       // open DeferredSync scopes of this process
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

// In place of a key path's length: the path follows as a count of names and
// each name, for a path a backslash-joined string cannot carry (a name that
// holds a backslash, as a hive may).
constexpr uint32_t kNamesFollow = 0xFFFFFFFDu;

// The names of a key's path from its virtual root, exactly as stored.
void keyNames(const Key &key, std::vector<std::string> &out)
{
    size_t depth = 0;
    for (const Key *k = &key; k; k = k->parent)
        ++depth;
    out.resize(depth);
    for (const Key *k = &key; k; k = k->parent)
        out[--depth].assign(k->name);
}

// The path a record being composed names; it becomes the previous record's
// only once the record is in the journal (or in the open transaction).
thread_local std::vector<std::string> tPendingPath;

// The key path of a record, as the stream's previous record left it.
void writeKeyPath(System &s, Writer &w, const Key &key)
{
    std::vector<std::string> &path = tPendingPath;
    keyNames(key, path);
    const auto &last = s.lastRecordPath;
    if (s.lastRecordPathKnown && path == last) {
        w.u32(kSameAsBefore);
        return;
    }
    if (s.lastRecordPathKnown && path.size() >= 2 && path.size() == last.size() &&
        std::equal(path.begin(), path.end() - 1, last.begin())) {
        w.u32(kSiblingOfBefore);
        w.str(path.back());
        return;
    }
    if (std::none_of(path.begin(), path.end(),
                     [](const std::string &n) { return n.find('\\') != std::string::npos; })) {
        std::string joined;
        for (const auto &n : path) {
            if (&n != &path.front())
                joined.push_back('\\');
            joined += n;
        }
        w.str(joined);
        return;
    }
    w.u32(kNamesFollow);
    w.u32(static_cast<uint32_t>(path.size()));
    for (const auto &n : path)
        w.str(n);
}

// The record just composed is in the journal: its path is the previous one now.
void commitKeyPath(System &s)
{
    s.lastRecordPath.swap(tPendingPath);
    s.lastRecordPathKnown = true;
}

// Reads a record's key path into s.lastRecordPath, which it becomes.
const std::vector<std::string> &readKeyPath(System &s, Reader &r)
{
    auto &path = s.lastRecordPath;
    if (r.sameAsBefore()) {
        if (!s.lastRecordPathKnown)
            r.ok = false;
        return path;
    }
    if (r.siblingOfBefore()) {
        if (!s.lastRecordPathKnown || path.size() < 2) {
            r.ok = false;
            return path;
        }
        path.back() = r.str();
    } else if (r.marker(kNamesFollow)) {
        const auto count = static_cast<size_t>(r.num(4));
        if (r.need(count * 4)) { // every name takes at least its length
            path.resize(count);
            for (auto &n : path)
                n = r.str();
        }
    } else {
        const std::string joined = r.str();
        path.clear();
        for (size_t pos = 0;;) {
            const size_t next = joined.find('\\', pos);
            path.emplace_back(joined, pos, next == std::string::npos ? std::string::npos : next - pos);
            if (next == std::string::npos)
                break;
            pos = next + 1;
        }
    }
    s.lastRecordPathKnown = r.ok;
    return path;
}

// The key a record's path names; null when it does not exist (here).
Key *keyFromNames(System &s, const std::vector<std::string> &path, size_t count)
{
    if (count == 0)
        return nullptr;
    Key *k = vt::hive::sameName(path[0], "MACHINE") ? s.machine.get()
             : vt::hive::sameName(path[0], "USER")  ? s.users.get()
                                                    : nullptr;
    for (size_t i = 1; k && i < count; ++i)
        k = findChild(*k, path[i]);
    return k;
}

// A record's header and payload in one call (one system call per change
// instead of two); whatever a short write leaves goes through pwriteAll.
bool pwriteRecord(int fd, const uint8_t *head, size_t headSize, const uint8_t *body, size_t bodySize, uint64_t offset)
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
        return false;
    }
    if (s.txDepth > 0) {
        frame(s.txRecords, payload.b);
        commitKeyPath(s);
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
        // Cut a partial record off so the next one is not appended after
        // garbage. The file's last record is still the one before, whose path
        // this process keeps: forgetting it would leave it unable to read
        // what others append after it.
        if (::ftruncate(s.journalFd, static_cast<off_t>(s.journalSize.load())) == 0)
            ::fdatasync(s.journalFd);
        return false;
    }
    commitKeyPath(s);
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

void syncDir(const std::string &dir)
{
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

// A record whose key is not there. When that is because its hive could not
// be read or mounted here, the change exists only in the journal, which must
// then outlive every checkpoint until the hive is back.
void noteUnapplied(System &s, const std::vector<std::string> &path)
{
    if (path.size() < 2 || s.journalHeld)
        return;
    Key *vroot = keyFromNames(s, path, 1);
    if (!vroot)
        return;
    if (Key *root = findChild(*vroot, path[1])) {
        if (const Mount *m = mountOf(s, root); m && m->unread)
            s.journalHeld = true;
        return;
    }
    const bool machine = vroot == s.machine.get();
    for (const auto &[onMachine, name] : s.absentHives)
        if (onMachine == machine && vt::hive::sameName(name, path[1]))
            s.journalHeld = true;
}

// Applies one record. Every operation states the final result, so applying a
// record twice (after a crash between a checkpoint and the journal reset)
// changes nothing.
void applyRecord(System &s, Reader &r)
{
    const auto op = static_cast<uint8_t>(r.num(1));
    switch (op) {
    case OpCreateKey: {
        const auto &path = readKeyPath(s, r);
        std::string cls = r.str();
        uint64_t time = r.num(8);
        auto flags = static_cast<uint16_t>(r.num(2));
        const bool parentsSecurity = r.sameAsBefore();
        auto sd = parentsSecurity ? std::vector<uint8_t>() : r.bytes();
        if (!r.ok)
            return;
        if (path.size() < 2)
            return;
        Key *parent = keyFromNames(s, path, path.size() - 1);
        if (!parent)
            return noteUnapplied(s, path);
        const std::string &name = path.back();
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
        const auto &path = readKeyPath(s, r);
        std::string name = r.str();
        uint64_t time = r.num(8);
        if (!r.ok)
            return;
        Key *parent = keyFromNames(s, path, path.size());
        if (!parent)
            return noteUnapplied(s, path);
        if (Key *k = findChild(*parent, name))
            removeSubkey(s, *parent, k);
        parent->lastWriteTime = time;
        markDirty(s, *parent);
        fireNotifications(s, parent, REG_NOTIFY_CHANGE_NAME);
        break;
    }
    case OpSetValue: {
        const auto &path = readKeyPath(s, r);
        std::string name = r.str();
        auto type = static_cast<uint32_t>(r.num(4));
        auto data = r.bytes();
        uint64_t time = r.num(8);
        if (!r.ok)
            return;
        if (Key *k = keyFromNames(s, path, path.size())) {
            setValue(*k, name, type, std::move(data));
            k->lastWriteTime = time;
            markDirty(s, *k);
            fireNotifications(s, k, REG_NOTIFY_CHANGE_LAST_SET);
        } else {
            noteUnapplied(s, path);
        }
        break;
    }
    case OpDeleteValue: {
        const auto &path = readKeyPath(s, r);
        std::string name = r.str();
        uint64_t time = r.num(8);
        if (!r.ok)
            return;
        if (Key *k = keyFromNames(s, path, path.size())) {
            deleteValue(*k, name);
            k->lastWriteTime = time;
            markDirty(s, *k);
            fireNotifications(s, k, REG_NOTIFY_CHANGE_LAST_SET);
        } else {
            noteUnapplied(s, path);
        }
        break;
    }
    case OpSetSecurity: {
        const auto &path = readKeyPath(s, r);
        auto sd = r.bytes();
        if (!r.ok)
            return;
        if (Key *k = keyFromNames(s, path, path.size())) {
            k->security = std::make_shared<const vt::hive::SecurityDescriptor>(std::move(sd));
            markDirty(s, *k);
            fireNotifications(s, k, REG_NOTIFY_CHANGE_SECURITY | REG_NOTIFY_CHANGE_ATTRIBUTES);
        } else {
            noteUnapplied(s, path);
        }
        break;
    }
    case OpRenameKey: {
        const auto &path = readKeyPath(s, r);
        std::string oldName = r.str();
        std::string newName = r.str();
        uint64_t time = r.num(8);
        if (!r.ok)
            return;
        Key *parent = keyFromNames(s, path, path.size());
        if (!parent)
            return noteUnapplied(s, path);
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

} // namespace

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

std::string journalPath(const System &s, uint64_t gen)
{
    return s.root + "/registry.journal." + std::to_string(gen);
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

// Applies the records of a journal file from `from` to its end and returns
// where the last whole record ends. With `cutTorn` (only under the file lock,
// when nobody is appending) a torn tail is cut off: bytes that end the file
// without completing a record, which no writer acknowledged. A whole record
// is never cut, nor anything followed by more records.
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
    auto lengthAt = [&](size_t at) {
        return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
               uint32_t(data[at + 3]) << 24;
    };
    // A whole, undamaged record at `at`: its payload and the position after it.
    auto recordAt = [&](size_t at, const uint8_t *&payload, uint32_t &len) {
        if (data.size() - at < 8)
            return false;
        len = lengthAt(at);
        const uint32_t crc = uint32_t(data[at + 4]) | uint32_t(data[at + 5]) << 8 | uint32_t(data[at + 6]) << 16 |
                             uint32_t(data[at + 7]) << 24;
        if (len == 0 || len > kMaxRecord || data.size() - at - 8 < len || crc32(data.data() + at + 8, len) != crc)
            return false;
        payload = data.data() + at + 8;
        return true;
    };
    // Whether what is not a whole record at `at` is the file's unfinished last one.
    auto tornTail = [&](size_t at) {
        if (data.size() - at < 8)
            return true;
        const uint32_t l = lengthAt(at);
        return l > data.size() - at - 8 || at + 8 + l == data.size();
    };
    auto known = [](uint8_t op) { return op >= OpCreateKey && op <= OpRenameKey && op != OpBegin && op != OpCommit; };
    size_t pos = 0;
    bool torn = false, lost = false;
    s.replaying = true;
    const uint8_t *payload = nullptr;
    uint32_t len = 0;
    while (pos < data.size()) {
        if (!recordAt(pos, payload, len)) {
            torn = tornTail(pos);
            break;
        }
        if (payload[0] == OpBegin) {
            // Applied only when its commit record is there and every record
            // before it is whole; otherwise this is where the journal ends.
            std::vector<std::pair<const uint8_t *, uint32_t>> inner;
            size_t q = pos + 8 + len;
            bool committed = false, ranOut = false;
            while (true) {
                if (!recordAt(q, payload, len)) {
                    ranOut = tornTail(q);
                    break;
                }
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
            if (!committed) {
                torn = ranOut;
                break;
            }
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
            // A whole record this process cannot read. Read from a place in
            // the middle, it may name its key relative to a record this
            // process does not know; the file's start names every path.
            if (from != kJournalHeader) {
                lost = true;
                break;
            }
            forgetLastRecordPath(s);
        }
        pos += 8 + len;
    }
    s.replaying = false;
    if (lost) {
        // Records state their results, so those applied again change nothing.
        return applyFrom(s, fd, kJournalHeader, cutTorn);
    }
    const uint64_t end = from + pos;
    if (cutTorn && torn && end != static_cast<uint64_t>(st.st_size)) {
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

bool journalCreateKey(System &s, const Key &key)
{
    Writer w;
    w.u8(OpCreateKey);
    writeKeyPath(s, w, key);
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
    writeKeyPath(s, w, parent);
    w.str(name);
    w.u64(parent.lastWriteTime);
    return append(s, w);
}

bool journalSetValue(System &s, const Key &key, const Value &value)
{
    Writer w;
    w.u8(OpSetValue);
    writeKeyPath(s, w, key);
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
    writeKeyPath(s, w, key);
    w.str(name);
    w.u64(key.lastWriteTime);
    return append(s, w);
}

bool journalSetSecurity(System &s, const Key &key)
{
    Writer w;
    w.u8(OpSetSecurity);
    writeKeyPath(s, w, key);
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
    writeKeyPath(s, w, parent);
    w.str(oldName);
    w.str(newName);
    w.u64(parent.lastWriteTime);
    return append(s, w);
}

LONG journalFailure(const System &s)
{
    return s.appendError;
}

bool groupCommitOpen()
{
    return gDeferDepth.load(std::memory_order_acquire) > 0;
}

} // namespace vt::platform::detail

// ---------------------------------------------------------------------------

using namespace vt::platform::detail;

namespace vt::platform
{

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
    endSlice(*s);
}

Transaction::Transaction()
{
    System &s = current();
    std::unique_lock l(s.lock);
    m_epoch = s.epoch;
    if (s.txDepth++ > 0 || !s.persistent || s.lockFd < 0 || !s.shared)
        return;
    // Other processes wait until the end: what they append meanwhile would
    // land between this transaction's changes in memory and its records. A
    // slice of a group commit hands its lock over.
    if (s.sliceHeld.load(std::memory_order_relaxed))
        s.sliceHeld.store(false, std::memory_order_relaxed);
    else if (!lockJournalFile(s))
        return;
    s.txLocked = true;
    catchUpLocked(s);
    s.txStartPath = s.lastRecordPath;
    s.txStartPathKnown = s.lastRecordPathKnown;
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
            // The file ends where the transaction began.
            if (s.txLocked) {
                s.lastRecordPath.swap(s.txStartPath);
                s.lastRecordPathKnown = s.txStartPathKnown;
            } else {
                forgetLastRecordPath(s);
            }
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

} // namespace vt::platform
