// The replacement system on disk: its root folder and its privacy, the
// hives created from the template at first use, opening the system, and the
// mapping of Windows paths to native ones.
#include "platform/SystemInternal.h"
#include "platform/Template.h"
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

std::mutex gOpenMutex;
std::unique_ptr<System> gSystem;
// What closeSystemForExit() left for the process's end to free. Volatile:
// never read, the store would otherwise be dropped, and leak checkers would
// see the system as lost rather than still reachable.
System *volatile gLeftToExit = nullptr;
std::atomic<System *> gCurrent{nullptr};
std::atomic<System *> gOpening{nullptr}; // the system openLocked is building (not current yet)
namespace
{

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

std::unique_ptr<Key> virtualRoot(const char *name)
{
    auto k = newKey(name, nowFileTime());
    k->isVolatile = true;
    k->security = std::make_shared<const vt::hive::SecurityDescriptor>(vt::security::defaultMachineHiveDescriptor());
    return k;
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
    if (!lockJournalFile(s))
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
    // Changes the journal keeps for a hive that cannot take them are told at
    // every start until they are in its file.
    bool told = false;
    for (const auto &m : s.mounts)
        if (m->dirty && m->readOnly) {
            addProblem(report, "Changes to the hive '" + m->file +
                                   "' are kept in the system's journal until its file " +
                                   (m->unread ? "can be read." : "can be written."));
            told = true;
        }
    if (s.journalHeld && !told)
        addProblem(report, "Changes to a loaded hive that could not be mounted are kept in the system's journal until "
                           "it can be.");
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
        uint64_t sliceSeen = 0;
        while (!sp->stopPoller) {
            // While this process holds a slice of a group commit, the slice's
            // time bounds the wait: no idle slice keeps others out longer.
            if (sp->sliceHeld.load(std::memory_order_relaxed))
                sp->pollerCv.wait_for(lk, std::chrono::nanoseconds(kSliceNs));
            else
                sp->pollerCv.wait_for(lk, std::chrono::milliseconds(250));
            if (sp->stopPoller)
                break;
            lk.unlock();
            endIdleSlice(*sp, sliceSeen);
            catchUp(*sp);
            lk.lock();
        }
    });

    gSystem = std::move(sys);
    gCurrent.store(gSystem.get(), std::memory_order_release);
    return ERROR_SUCCESS;
}

} // namespace

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
