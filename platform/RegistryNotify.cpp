// Change notifications: registering with RegNotifyChangeKeyValue and firing
// what a change concerns.
#include "platform/RegistryInternal.h"
#include "platform/hive/Regf.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace vt::platform::detail
{

void fireNotifications(System &s, Key *key, DWORD kind)
{
    std::lock_guard g(s.notifyMutex);
    auto &regs = s.registrations;
    std::vector<uintptr_t> fired;
    for (auto it = regs.begin(); it != regs.end();) {
        bool match = false;
        if (it->filter & kind) {
            if (it->key == key) {
                match = true;
            } else if (it->subtree) {
                for (const Key *k = key ? key->parent : nullptr; k; k = k->parent)
                    if (k == it->key) {
                        match = true;
                        break;
                    }
            }
        }
        if (match) {
            signalEvent(it->event);
            fired.push_back(reinterpret_cast<uintptr_t>(it->event.get()));
            it = regs.erase(it);
        } else {
            ++it;
        }
    }
    // A merged registration watches both sides; it ends as one.
    if (!fired.empty())
        std::erase_if(regs, [&](const Registration &r) {
            return std::find(fired.begin(), fired.end(), reinterpret_cast<uintptr_t>(r.event.get())) != fired.end();
        });
}

} // namespace vt::platform::detail

// ---------------------------------------------------------------------------

using namespace vt::platform;
using namespace vt::platform::detail;

LONG WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent,
                                    BOOL fAsynchronous)
{
    VT_FOREIGN(hKey, notifyChangeKeyValue, hKey, bWatchSubtree, dwNotifyFilter, hEvent, fAsynchronous)
    constexpr DWORD kFilters =
        REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
    if ((dwNotifyFilter & ~(kFilters | REG_NOTIFY_THREAD_AGNOSTIC)) || !(dwNotifyFilter & kFilters))
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Event> ev;
    HANDLE own = nullptr;
    if (fAsynchronous) {
        ev = eventFromHandle(hEvent);
        if (!ev)
            return ERROR_INVALID_PARAMETER;
    } else {
        own = createEvent(false, false);
        ev = eventFromHandle(own);
    }
    System &s = current();
    catchUp(s);
    {
        Shared g(s);
        Target t;
        LONG rc = resolveHandle(s, hKey, t, KEY_NOTIFY);
        if (rc != ERROR_SUCCESS) {
            if (own)
                CloseHandle(own);
            return rc;
        }
        if (t.loc.space == Space::PerfData) {
            if (own)
                CloseHandle(own);
            return ERROR_SUCCESS;
        }
        // Registering resets the event, as Windows' kernel does for the event
        // of a pending request.
        if (fAsynchronous)
            ResetEvent(hEvent);
        std::lock_guard n(s.notifyMutex);
        auto add = [&](Key *k) {
            if (k)
                s.registrations.push_back(
                    Registration{k, bWatchSubtree != 0, dwNotifyFilter, ev, reinterpret_cast<uintptr_t>(hKey)});
        };
        if (t.loc.space == Space::Classes || t.loc.space == Space::Wow64Software) {
            add(t.loc.machine);
            add(t.loc.user);
        } else {
            add(t.loc.key);
        }
    }
    if (own) {
        WaitForSingleObject(own, INFINITE);
        CloseHandle(own);
    }
    return ERROR_SUCCESS;
}
