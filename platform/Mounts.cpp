// The mounted hives: the list of loaded hives (mounts.ini), mounting files
// lazily or at once, and RegLoadKeyA / RegUnLoadKeyA.
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

std::string mountsFile(const System &s)
{
    return s.root + "/mounts.ini";
}

// Marks a mounts.ini whose fields are escaped (see readMountList).
constexpr std::string_view kMountsHeader = "#vantrel-mounts 2";
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

bool saveMountList(System &s)
{
    std::string text = std::string(kMountsHeader) + "\n";
    for (auto &m : s.mounts)
        if (m->loaded)
            text += (m->virtualRoot == s.machine.get() ? "MACHINE|" : "USER|") + escapeField(m->name) + "|" +
                    escapeField(m->file) + "\n";
    return writeTextDurably(mountsFile(s), text);
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
            m->unread = true;
            m->rootName = m->name;
        }
        root.security = root.parent->security;
    }
    root.unloaded.store(false, std::memory_order_release);
}

LONG mountFile(System &s, Key *vroot, const std::string &name, const std::string &file, bool loaded,
               vt::hive::RecoveryReport *report)
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

// Makes the loaded hives match mounts.ini, which another process may have changed.
void syncMounts(System &s)
{
    const auto list = readMountList(s);
    s.absentHives.clear();
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
            s.absentHives.emplace_back(e.machine, e.name);
            continue;
        }
        mountLazily(s, vroot, e.name, e.file);
        fireNotifications(s, vroot, REG_NOTIFY_CHANGE_NAME);
    }
    if (s.shared)
        s.seenMounts = s.shared->mountsVersion.load();
}

} // namespace vt::platform::detail

// ---------------------------------------------------------------------------

using namespace vt::platform::detail;

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
    // Windows checks the privilege before it looks at the key, the name or
    // the file: a caller without it learns nothing about them.
    if (!privilegeEnabled(s, kSeRestorePrivilege))
        return ERROR_PRIVILEGE_NOT_HELD;
    if (hKey == HKEY_LOCAL_MACHINE)
        vroot = s.machine.get();
    else if (hKey == HKEY_USERS)
        vroot = s.users.get();
    else
        return ERROR_INVALID_PARAMETER;
    if (!lpSubKey || !*lpSubKey || std::strchr(lpSubKey, '\\'))
        return ERROR_INVALID_PARAMETER;
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

void vt::platform::detail::setLastHiveLoadRecovery(const vt::platform::HiveLoadRecovery &r)
{
    tLastLoadRecovery = r;
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
    // A journal kept for a hive that cannot take its changes still holds
    // this one's: another file loaded under the name later would get them.
    if (s.journalHeld && s.journalSize > kJournalHeader)
        return ERROR_REGISTRY_IO_FAILED;
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
