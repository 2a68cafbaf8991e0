// Processes sharing one system root: catching up on the records the others
// appended, under the journal's file lock.
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
#include <ctime>
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

} // namespace

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

namespace
{

uint64_t steadyNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000'000u + uint64_t(ts.tv_nsec);
}

// The waiting room: a record lock on the first byte of the lock file, which
// the kernel keeps apart from its flock. A process waiting for the file lock
// holds it shared until it has the lock; one that ends a slice takes it
// exclusively after letting the lock go, so everybody who waited is in
// before its next slice begins. Both go with a process that dies.
bool waitingRoom(int fd, short type)
{
    struct flock l {
    };
    l.l_type = type;
    l.l_whence = SEEK_SET;
    l.l_start = 0;
    l.l_len = 1;
    int rc;
    while ((rc = ::fcntl(fd, F_OFD_SETLKW, &l)) != 0 && errno == EINTR) {
    }
    return rc == 0;
}

} // namespace

bool lockJournalFile(System &s)
{
    const bool announced = waitingRoom(s.lockFd, F_RDLCK);
    bool ok = true;
    while (::flock(s.lockFd, LOCK_EX) != 0)
        if (errno != EINTR) {
            ok = false;
            break;
        }
    if (announced)
        waitingRoom(s.lockFd, F_UNLCK);
    return ok;
}

void endSlice(System &s)
{
    if (!s.sliceHeld.load(std::memory_order_relaxed))
        return;
    s.sliceHeld.store(false, std::memory_order_relaxed);
    ::flock(s.lockFd, LOCK_UN);
    if (waitingRoom(s.lockFd, F_WRLCK))
        waitingRoom(s.lockFd, F_UNLCK);
}

void endIdleSlice(System &s, uint64_t &seen)
{
    if (!s.sliceHeld.load(std::memory_order_relaxed)) {
        seen = 0;
        return;
    }
    const uint64_t now =
        s.sliceStart.load(std::memory_order_relaxed) * 4099 + s.sliceRecords.load(std::memory_order_relaxed);
    if (now != seen) {
        seen = now;
        return;
    }
    std::unique_lock l(s.lock);
    if (s.sliceHeld.load(std::memory_order_relaxed))
        endSlice(s);
    seen = 0;
}

JournalLock::JournalLock(System &s) : m_s(s)
{
    // An open transaction holds the file lock already (and caught up then).
    if (s.lockFd < 0 || !s.shared || !s.persistent || s.txLocked)
        return;
    // Within this process's slice nobody else can have appended.
    if (s.sliceHeld.load(std::memory_order_relaxed)) {
        m_locked = true;
        return;
    }
    if (!lockJournalFile(s))
        return;
    m_locked = true;
    catchUpLocked(s);
}

JournalLock::~JournalLock()
{
    if (!m_locked)
        return;
    System &s = m_s;
    if (groupCommitOpen()) {
        // Inside a group commit the lock stays for the next change, up to
        // the slice's bounds: other processes wait at most one slice.
        const uint64_t now = steadyNs();
        if (!s.sliceHeld.load(std::memory_order_relaxed)) {
            s.sliceHeld.store(true, std::memory_order_relaxed);
            s.sliceRecords.store(0, std::memory_order_relaxed);
            s.sliceStart.store(now, std::memory_order_relaxed);
            s.pollerCv.notify_one(); // it ends the slice if no change does
        }
        const uint32_t records = s.sliceRecords.load(std::memory_order_relaxed) + 1;
        s.sliceRecords.store(records, std::memory_order_relaxed);
        if (records < kSliceRecords && now - s.sliceStart.load(std::memory_order_relaxed) < kSliceNs)
            return;
        endSlice(s);
        return;
    }
    if (s.sliceHeld.load(std::memory_order_relaxed))
        endSlice(s);
    else
        ::flock(s.lockFd, LOCK_UN);
}

} // namespace vt::platform::detail
