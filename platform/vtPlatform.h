// Control of the replacement system itself: which system root is in use, who
// the program runs as, and the mapping of Windows paths to native ones. These
// have no Win32 counterpart; on Windows they are no-ops or identities.
#pragma once

#include "win32.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vt::platform
{

enum class Identity {
    Administrator, // the default: the current user, member of Administrators
    StandardUser,  // the current user, member of Users only
    LocalSystem,   // SYSTEM with backup and restore privileges: passes every check
};

struct SystemOptions {
    std::string root;  // native folder; empty: VANTREL_SYSTEM, else the XDG default
    bool wow64 = true; // run as a 32-bit program on 64-bit Windows
    Identity identity = Identity::Administrator;
};

// What opening a system found, for the caller to tell the user.
struct SystemReport {
    bool created = false;              // the folder held no system: a new one was made there
    std::vector<std::string> problems; // what was refused, damaged or skipped, in words a user can act on
};

// Opens the system at options.root, creating it from the built-in template at
// first use. Any system opened before is flushed and closed first. Without a
// call, the first registry function opens the default system. The root must
// belong to the user and be writable by nobody else (ERROR_ACCESS_DENIED).
LONG openSystem(const SystemOptions &options, SystemReport *report = nullptr);

// Writes every change to the hive files and releases the system; later
// registry calls reopen the default one. A result other than ERROR_SUCCESS
// means a hive file could not be written: the changes are kept in the
// journal and reach the hives at a later start.
LONG closeSystem();

// closeSystem() for a process that ends right after. Its changes are durable
// in the journal already, so a hive over a MiB changed by a few of them is
// not rewritten whole: the changes wait in the journal (and reach the hive at
// a later checkpoint) until they come to a quarter of the hive or a MiB. The
// registry trees in memory are left to the process's end instead of being
// freed key by key (a tenth of a large export's time).
LONG closeSystemForExit();

// Group commit. While at least one scope is alive in the process, changes
// are written to the journal but flushed to the disk only every few MiB; the
// outermost scope's end flushes the rest, so the whole batch is durable when
// the destructor returns. A crash inside a scope may lose the tail of the
// batch, never what was acknowledged before the scope began, and never leaves
// a half-made change. Nestable; shared by every thread of the process.
class DeferredSync
{
public:
    DeferredSync();
    ~DeferredSync();
    DeferredSync(const DeferredSync &) = delete;
    DeferredSync &operator=(const DeferredSync &) = delete;
};

// One atomic change made of many: while the outermost scope is alive, every
// change of the process is applied and visible at once, but its journal
// records are held back and written together at the end, framed so that
// start-up (and every other process) applies all of them or none. The end
// flushes once (inside a DeferredSync scope, with the group commit), so the
// whole change is durable when commit() or the destructor returns. Other
// processes wait for the end before their next change. A hive checkpoint
// asked for meanwhile (RegFlushKey, a full journal) waits for the end too.
// Nestable; shared by every thread of the process, like DeferredSync.
class Transaction
{
public:
    Transaction();
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    // Ends the scope now. ERROR_REGISTRY_IO_FAILED when the records could not
    // be written (the changes stay in memory, as for a single failed change).
    LONG commit();

private:
    bool m_open = true;
    uint64_t m_epoch = 0;
};

// ERROR_SHARING_VIOLATION when `path` (a Windows path through the drive map,
// or a native one) names a file the system holds, however spelled (links,
// "..", the drive map): a mounted hive, one of its logs, the journal or
// anything else in the system's folder; ERROR_SUCCESS otherwise. Whatever
// writes a file a user named asks this first, as Windows refuses a file in use.
LONG fileInUse(std::string_view path);

// VANTREL_SYSTEM, else $XDG_DATA_HOME/vantrel/system, else
// ~/.local/share/vantrel/system; empty when there is no home folder.
std::string defaultSystemRoot();
std::string systemRoot();

// A Windows path (C:\Users\...) as a native path through the drive map; a
// native path passes through unchanged.
std::string toNativePath(std::string_view path);

} // namespace vt::platform

namespace vt::platform
{

// What the calling thread's last RegLoadKeyA had to repair or leave out of
// the file it mounted. RegLoadKeyA answers with Windows' codes (success for a
// hive it could mount at all); this tells the user what is missing.
struct HiveLoadRecovery {
    bool recovered = false;        // anything repaired, skipped or replayed
    bool logsApplied = false;      // a dirty hive was brought up to date from its logs
    bool logsUnusable = false;     // a dirty hive's logs were missing or refused: mounted as last saved
    uint64_t binBytesDeclared = 0; // the hive bins' size the file's header states
    uint64_t binBytesKept = 0;     // the run of sound bins that was mounted
    uint64_t keysDropped = 0;      // subkeys listed by their parents that could not be read
    uint64_t valuesDropped = 0;    // values listed by their keys that could not be read
};
HiveLoadRecovery lastHiveLoadRecovery();

// The account the program runs as (named after the login, created at first
// use) and its SID.
std::string currentUserName();
std::string currentUserSid();

} // namespace vt::platform

namespace vt::platform
{

// Registry functions for key handles the platform did not make: a remote
// registry's keys. A provider gives its handle values the tag below in the
// low four bits (the platform's own handles have zeros there); every registry
// function passes such a handle to the provider, and without one answers
// ERROR_INVALID_HANDLE. Unset members answer ERROR_CALL_NOT_IMPLEMENTED.
inline constexpr uintptr_t kForeignKeyTag = 0x8;

struct ForeignRegistry {
    LONG (*openKeyEx)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) = nullptr;
    LONG (*createKeyEx)
    (HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, const SECURITY_ATTRIBUTES *, PHKEY, LPDWORD) = nullptr;
    LONG (*closeKey)(HKEY) = nullptr;
    LONG (*queryValueEx)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) = nullptr;
    LONG (*setValueEx)(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD) = nullptr;
    LONG (*deleteValue)(HKEY, LPCSTR) = nullptr;
    LONG (*deleteKeyEx)(HKEY, LPCSTR, REGSAM, DWORD) = nullptr;
    LONG (*enumKeyEx)(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPSTR, LPDWORD, PFILETIME) = nullptr;
    LONG (*enumValue)(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD) = nullptr;
    LONG (*queryInfoKey)
    (HKEY, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, PFILETIME) = nullptr;
    LONG (*flushKey)(HKEY) = nullptr;
    LONG (*notifyChangeKeyValue)(HKEY, BOOL, DWORD, HANDLE, BOOL) = nullptr;
    LONG (*loadKey)(HKEY, LPCSTR, LPCSTR) = nullptr;
    LONG (*unLoadKey)(HKEY, LPCSTR) = nullptr;
    LONG (*getKeySecurity)(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, LPDWORD) = nullptr;
    LONG (*setKeySecurity)(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR) = nullptr;
};

// Installs (or, with null, removes) the provider; it must outlive its use.
void setForeignRegistry(const ForeignRegistry *provider);

} // namespace vt::platform
