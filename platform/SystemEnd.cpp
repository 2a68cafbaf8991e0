// Volatile content built at every start, and the end of a system: stopping
// the poller, the last checkpoint and releasing the files.
#include "platform/SystemInternal.h"
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

std::vector<uint8_t> utf16z(std::string_view text)
{
    auto v = utf8ToUtf16le(text);
    v.push_back(0);
    v.push_back(0);
    return v;
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

} // namespace

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

LONG closeLocked(bool forExit)
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
        delete gLeftToExit;              // a program that closes for exit more than once (tests do)
        gLeftToExit = gSystem.release(); // still reachable, so leak checkers do not count it
    }
    gSystem.reset();
    return rc;
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

} // namespace vt::platform::detail

// ---------------------------------------------------------------------------

using namespace vt::platform::detail;

namespace vt::platform
{

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

} // namespace vt::platform
