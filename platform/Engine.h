// The registry engine's internal state, shared by the registry functions, the
// system setup and the journal. Not part of the platform's public interface.
#pragma once

#include "platform/hive/HiveTree.h"
#include "platform/security/SecurityDescriptor.h"
#include "platform/vtPlatform.h"
#include "platform/win32.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vt::platform::detail
{

using vt::hive::Key;
using vt::hive::Value;

// nk flags the engine itself interprets.
inline constexpr uint16_t kKeyHiveEntry = 0x0004;
inline constexpr uint16_t kKeyNoDelete = 0x0008;
inline constexpr uint16_t kKeySymLink = 0x0010;

// A hive attached below HKLM or HKU. Its root key is owned by the virtual root
// and carries the mount name; the hive's own root name is kept here.
struct Mount {
    std::string name; // "SYSTEM", ".DEFAULT", a SID, or the name given to RegLoadKeyA
    Key *virtualRoot = nullptr;
    Key *root = nullptr;
    std::string rootName;  // the root key name stored in the file
    vt::hive::Hive header; // header fields only; root is empty
    std::string file;      // native path; empty for a hive that lives in memory only
    bool loaded = false;   // mounted by RegLoadKeyA (and may be unloaded)
    bool dirty = false;    // changed since the file was last written
    bool readOnly = false; // its file cannot be written: changes inside are refused
    bool unread = false;   // its file could not be read when first used: records for it wait in the journal
};

// Which part of the registry a location is in, for the views and the merge.
enum class Space : uint8_t {
    Plain,         // anywhere without view or merge rules
    Software,      // inside HKLM\SOFTWARE: `logical` is the path below it as the caller sees it
    Classes,       // HKEY_CLASSES_ROOT: `logical` is the path below Classes, both sides
    PerfData,      // HKEY_PERFORMANCE_DATA: opens, holds nothing
    Wow64Software, // HKLM\SOFTWARE in the 32-bit view: `user` is Wow6432Node (its values and
                   // subkeys), `machine` is SOFTWARE, whose shared keys are listed too
};

struct Location {
    Key *key = nullptr;     // the key operations act on
    Key *machine = nullptr; // Classes: the machine side (may be null)
    Key *user = nullptr;    // Classes: the user's side (may be null; wins when present)
    Space space = Space::Plain;
    std::string logical; // upper-cased components joined by '\'
};

// One change-notification registration; it ends when it fires.
struct Event;
struct Registration {
    Key *key = nullptr;
    bool subtree = false;
    DWORD filter = 0;
    std::shared_ptr<Event> event;
    uintptr_t handle = 0; // the key handle it was registered through
};

struct Event {
    bool manualReset = false;
    bool signaled = false;
};

// Events live in one table guarded by one mutex and one condition variable:
// waits on several events at once stay simple, and there are few events.
std::shared_ptr<Event> eventFromHandle(HANDLE h);
void signalEvent(const std::shared_ptr<Event> &e);
HANDLE createEvent(bool manualReset, bool initialState);

// The largest value data a change may store: what a hive's big-data cell
// holds (65,535 segments), as on Windows. Larger is ERROR_NOT_ENOUGH_MEMORY.
inline constexpr size_t kMaxValueData = size_t{0xFFFF} * 16344;

struct System;
// Persistence hooks (Journal.cpp). They run under the exclusive lock, after the
// change is made in memory; a false result means the change could not be made
// durable (the caller reports ERROR_REGISTRY_IO_FAILED).
struct JournalRecord;
bool journalCreateKey(System &s, const Key &key);
bool journalDeleteKey(System &s, const Key &parent, std::string_view name);
bool journalSetValue(System &s, const Key &key, const Value &value);
bool journalDeleteValue(System &s, const Key &key, std::string_view name);
bool journalSetSecurity(System &s, const Key &key);
bool journalRenameKey(System &s, const Key &parent, std::string_view oldName, std::string_view newName);
LONG checkpoint(System &s);
// Why the last journal append failed: ERROR_DISK_FULL when the disk is, else
// ERROR_REGISTRY_IO_FAILED.
LONG journalFailure(const System &s);
// Brings in what other processes appended to the journal (no lock held).
void catchUp(System &s);

// Held (with the exclusive lock) around every change: takes the journal's
// file lock and applies what other processes appended first.
class JournalLock
{
public:
    explicit JournalLock(System &s);
    ~JournalLock();
    JournalLock(const JournalLock &) = delete;
    JournalLock &operator=(const JournalLock &) = delete;

private:
    System &m_s;
    bool m_locked = false;
};

// The counters processes sharing a system root publish to each other.
struct SharedState {
    std::atomic<uint64_t> generation;    // journal generation in use
    std::atomic<uint64_t> size;          // bytes of complete records in it
    std::atomic<uint64_t> mountsVersion; // bumped when mounts.ini changes
};

// Open key handles. Slots live in fixed chunks so a lookup needs no lock; a
// handle value carries the slot's generation, so a stale value is refused.
struct Slot {
    std::atomic<uint32_t> generation{1};
    std::atomic<bool> used{false}; // read by lookups that take no lock
    bool deleted = false;
    bool view32 = false;
    ACCESS_MASK granted = 0;
    Location loc;
    // Cursor of the last merged enumeration, so walking HKCR is linear.
    std::mutex enumMutex;
    DWORD enumIndex = ~0u;
    size_t enumMachine = 0, enumUser = 0;
};

class HandleTable
{
public:
    static constexpr size_t kChunkBits = 12;
    static constexpr size_t kChunks = 1024;
    HandleTable();
    ~HandleTable();
    HKEY allocate(Location loc, ACCESS_MASK granted, bool view32);
    Slot *lookup(HKEY h) const;
    bool release(HKEY h);
    template <typename F> void forEachUsed(F f)
    {
        std::lock_guard g(m_mutex);
        for (size_t i = 0; i < m_count; ++i) {
            Slot &slot = at(i);
            if (slot.used)
                f(slot, i);
        }
    }
    HKEY valueOf(size_t index) const;

private:
    Slot &at(size_t i) const
    {
        return m_chunks[i >> kChunkBits].load(std::memory_order_acquire)[i & ((1u << kChunkBits) - 1)];
    }
    std::mutex m_mutex;
    std::atomic<Slot *> m_chunks[kChunks];
    size_t m_count = 0;
    std::vector<uint32_t> m_free;
};

// A reader-writer lock that lets a waiting writer in: new readers queue
// behind it (the C library's lock prefers readers, so a busy monitor thread
// would starve every change).
class RwLock
{
public:
    void lock()
    {
        std::lock_guard g(m_gate);
        m_rw.lock();
    }
    void unlock() { m_rw.unlock(); }
    void lock_shared()
    {
        {
            std::lock_guard g(m_gate);
        }
        m_rw.lock_shared();
    }
    void unlock_shared() { m_rw.unlock_shared(); }

private:
    std::mutex m_gate;
    std::shared_mutex m_rw;
};

struct System {
    RwLock lock;
    HandleTable handles;
    SystemOptions options;
    std::string root;
    std::string userName;
    std::string userSid;
    vt::security::Token token;
    std::unique_ptr<vt::security::PreparedToken> prepared;

    std::unique_ptr<Key> machine; // \REGISTRY\MACHINE
    std::unique_ptr<Key> users;   // \REGISTRY\USER
    std::vector<std::unique_ptr<Mount>> mounts;

    std::mutex notifyMutex;
    std::vector<Registration> registrations;

    // Persistence state (Journal.cpp, Checkpoint.cpp, Sharing.cpp).
    int journalFd = -1;
    int lockFd = -1;
    // A slice of a group commit: inside a DeferredSync scope the journal's
    // file lock stays held from one change to the next, for a bounded number
    // of records and time, so an import pays for the lock once per slice.
    std::atomic<bool> sliceHeld{false};
    std::atomic<uint32_t> sliceRecords{0};
    std::atomic<uint64_t> sliceStart{0}; // steady clock, ns
    std::atomic<uint64_t> journalSize{0}; // how far this process has applied the journal
    std::atomic<uint64_t> generation{0};
    uint64_t unsynced = 0;                       // journal bytes written but not yet flushed (DeferredSync)
    uint64_t retryCheckpointAt = 0;              // after a failed checkpoint: the journal size to try again at
    LONG appendError = ERROR_REGISTRY_IO_FAILED; // why the last append failed
    std::atomic<uint64_t> seenMounts{0};
    SharedState *shared = nullptr;
    std::unique_ptr<std::thread> poller; // applies other processes' changes while idle
    int pollerPid = 0;                   // the process the poller runs in (not a forked child)
    std::atomic<bool> stopPoller{false};
    std::mutex pollerMutex;
    std::condition_variable pollerCv;
    bool persistent = false;
    bool replaying = false;
    vt::platform::SystemReport *report = nullptr; // while opening: where problems found go
    // The process token's privileges, one bit per LUID (Privileges.cpp).
    std::atomic<uint64_t> privilegesHeld{0};
    std::atomic<uint64_t> privilegesEnabled{0};
    // An open Transaction (vtPlatform.h): its records wait here for the
    // commit, the journal's file lock is held throughout, and checkpoints
    // wait for its end, so no hive file ever holds half of it.
    int txDepth = 0;
    bool txLocked = false;
    bool txCheckpointPending = false;
    std::vector<uint8_t> txRecords;
    uint64_t lastCheckpointBytes = 0; // hive bytes the last checkpoint wrote
    // The journal holds changes no hive could take (a hive whose file cannot
    // be written or read, or that is away): checkpoints keep it, and keep
    // the hives' files from being taken for the whole truth, until it can.
    bool journalHeld = false;
    std::vector<std::pair<bool, std::string>> absentHives; // (below HKLM, name) listed but not mountable
    // The key path (its names, exactly) of the journal's last record that
    // names one, as this process last wrote or applied it: a record for the
    // same key says so instead of repeating the path. Unknown after anything
    // that may have put this process's view and the file apart.
    std::vector<std::string> lastRecordPath;
    bool lastRecordPathKnown = false;
    // The same when the outermost transaction began: where the file stands
    // again when its records cannot be written.
    std::vector<std::string> txStartPath;
    bool txStartPathKnown = false;
    // The descriptor new keys inherit from the last source descriptor asked
    // about: keys are mostly created in runs under one parent, and sharing
    // the result also keeps one copy in memory instead of one per key.
    vt::hive::SecurityDescriptorPtr inheritSource;
    vt::hive::SecurityDescriptorPtr inherited;
    std::mutex lazyMutex;         // one thread reads a lazily mounted hive, the others wait for it
    uint64_t epoch = nextEpoch(); // tells systems apart in per-thread caches

    System() = default;
    System(const System &) = delete;
    System &operator=(const System &) = delete;
    // Stops the poller and releases the files; also when a program ends
    // without closeSystem (every change is in the journal already).
    ~System();
    static uint64_t nextEpoch()
    {
        static std::atomic<uint64_t> n{0};
        return ++n;
    }
};

// Privileges of the process token (Privileges.cpp). Windows' LUIDs.
inline constexpr uint32_t kSeSecurityPrivilege = 8;
inline constexpr uint32_t kSeBackupPrivilege = 17;
inline constexpr uint32_t kSeRestorePrivilege = 18;
// What a fresh token of the identity holds and has enabled.
void resetPrivileges(System &s);
// Enabled in the token; the system identity passes every check.
bool privilegeEnabled(System &s, uint32_t luid);
// Token handles live beside events (Kernel.cpp) so CloseHandle closes both.
HANDLE createTokenHandle(ACCESS_MASK access);
bool tokenHandleAccess(HANDLE h, ACCESS_MASK &access);

// The provider of foreign (remote) key handles, if any.
const vt::platform::ForeignRegistry *foreignRegistry();
template <typename F> bool foreignCall(HKEY h, LONG &rc, F f)
{
    if ((reinterpret_cast<uintptr_t>(h) & 0xF) != vt::platform::kForeignKeyTag)
        return false;
    const auto *p = foreignRegistry();
    rc = p ? f(*p) : ERROR_INVALID_HANDLE;
    return true;
}

// The open system (opened on first use) with its lock held as asked.
System &current();
System *currentIfOpen();

// Engine helpers used by the setup and the journal (KeyTree.cpp; fireNotifications in RegistryNotify.cpp).
Mount *mountOf(System &s, const Key *key);
std::unique_ptr<Key> newKey(std::string_view name, uint64_t time);
Key *insertSubkey(Key &parent, std::unique_ptr<Key> child);
void removeSubkey(System &s, Key &parent, Key *child);                // invalidates handles into it
void renameSubkey(Key &parent, Key *child, std::string_view newName); // the same object, re-sorted
void setValue(Key &key, std::string_view name, uint32_t type, std::vector<uint8_t> data);
bool deleteValue(Key &key, std::string_view name);
Value *findValue(Key &key, std::string_view name);
Key *findChild(const Key &key, std::string_view name);
std::string keyPath(const Key &key); // "MACHINE\SOFTWARE\..." as stored (case kept)
Key *keyFromPath(System &s, std::string_view path);
void markDirty(System &s, const Key &key);
bool inReadOnlyHive(System &s, const Key &key);
void fireNotifications(System &s, Key *key, DWORD kind);
void attachMount(System &s, std::unique_ptr<Mount> m, std::unique_ptr<Key> root);
// Reads the hive file of a lazily mounted root the first time anything looks
// below it (from findChild); does nothing for other keys.
void loadLazyMount(Key &root);
uint64_t nowFileTime();
bool isUnderVolatile(const Key &key);
// What lastHiveLoadRecovery() answers the calling thread next (a restore
// reads a hive file as a load does).
void setLastHiveLoadRecovery(const HiveLoadRecovery &r);

} // namespace vt::platform::detail
