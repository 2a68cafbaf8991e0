// Checkpoints: when the hives are written and the journal starts a new
// generation, and when a process that ends leaves its changes in the journal.
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
        // journaled into it while it was writable cannot be written either.
        // It must not hold back the other hives, but its changes exist only
        // in the journal, which is kept for it (below).
        if (!m->dirty)
            continue;
        if (m->readOnly) {
            s.journalHeld = true;
            continue;
        }
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
    if (s.journalHeld) {
        // Some changes are in no hive file: the generation stays, whole, and
        // every later process replays it until the hive can take them. The
        // next try waits for the journal to grow again.
        s.retryCheckpointAt = s.journalSize + kCheckpointAt;
        return ERROR_SUCCESS;
    }
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

} // namespace vt::platform::detail
