// What the files of the system on disk share: the open system, the journal's
// files and constants, checkpoints, mounting and the helpers for small files.
// Internal to the platform, beside Engine.h (see docs/platform.md, Layout).
#pragma once

#include "platform/Engine.h"
#include "platform/hive/Regf.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace vt::platform::detail
{

// The open system (System.cpp).
extern std::mutex gOpenMutex;
extern std::unique_ptr<System> gSystem;
// What closeSystemForExit() left for the process's end to free. Volatile:
// never read, the store would otherwise be dropped, and leak checkers would
// see the system as lost rather than still reachable.
extern System *volatile gLeftToExit;
extern std::atomic<System *> gCurrent;
extern std::atomic<System *> gOpening; // the system openLocked is building (not current yet)

inline constexpr size_t kJournalHeader = 16;               // magic + generation
inline constexpr uint64_t kCheckpointAt = 8 * 1024 * 1024; // least journal size that triggers a checkpoint
inline constexpr uint64_t kExitCheckpointAt = 1024 * 1024; // see checkpointWorthItAtExit

// Small files and the report (System.cpp).
void addProblem(SystemReport *report, std::string text);
std::string messageText(LONG code);
std::string readText(const std::string &path);
// Writes a small file durably: temporary file, flushed, renamed into place.
bool writeTextDurably(const std::string &path, const std::string &text);
std::string computerName();
// Builds the trees from the hive files and replays the journal (file lock held).
LONG loadTree(System &s);

// The journal's files (Journal.cpp).
void forgetLastRecordPath(System &s);
bool writeAll(int fd, const uint8_t *p, size_t n);
bool pwriteAll(int fd, const uint8_t *p, size_t n, uint64_t offset);
bool flushJournal(System &s);
std::string journalPath(const System &s, uint64_t gen);
int createJournal(System &s, uint64_t gen);
uint64_t applyFrom(System &s, int fd, uint64_t from, bool cutTorn);
uint64_t currentGeneration(const System &s);
LONG openJournal(System &s);

// Checkpoints (Checkpoint.cpp).
uint64_t checkpointThreshold(const System &s);
LONG saveMount(System &s, Mount &m);
bool checkpointWorthItAtExit(const System &s);

// Other processes' records and the journal's file lock (Sharing.cpp).
void catchUpLocked(System &s);
// Takes the file lock, announcing the wait to a process holding a slice.
bool lockJournalFile(System &s);
// Ends this process's slice of a group commit (exclusive lock held): the
// file lock goes, and processes that waited for it take their turn first.
void endSlice(System &s);
// The same from the background thread, for a slice no change has extended
// since the thread last looked (`seen` keeps what it saw): a busy slice ends
// at its own next change, without the thread taking the lock.
void endIdleSlice(System &s, uint64_t &seen);
// How long a slice may keep the file lock (the background thread ends an
// idle one at most this late).
inline constexpr uint64_t kSliceNs = 4'000'000;
inline constexpr uint32_t kSliceRecords = 2048;
// Whether a DeferredSync scope is open in the process (Journal.cpp).
bool groupCommitOpen();

// Mounting (Mounts.cpp).
LONG mountFile(System &s, Key *vroot, const std::string &name, const std::string &file, bool loaded,
               vt::hive::RecoveryReport *report = nullptr);
void mountMemory(System &s, Key *vroot, const std::string &name, std::unique_ptr<Key> root);
void syncMounts(System &s);

// Volatile content and the end of a system (SystemEnd.cpp).
void addVolatileContent(System &s);
void releaseResources(System &s);
LONG closeLocked(bool forExit = false);

} // namespace vt::platform::detail
