// Events and waiting, the last-error slot, modules, the process and times.
#include "platform/Engine.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <unordered_map>

namespace vt::platform::detail
{

namespace
{

std::mutex gEventMutex;
std::condition_variable gEventCv;

struct EventTable {
    std::unordered_map<uintptr_t, std::shared_ptr<Event>> events;
    std::unordered_map<uintptr_t, ACCESS_MASK> tokens;
    uintptr_t next = 0x1000;
};

EventTable &events()
{
    static EventTable *t = new EventTable; // outlives every static destructor that might close a handle
    return *t;
}

} // namespace

HANDLE createEvent(bool manualReset, bool initialState)
{
    std::lock_guard g(gEventMutex);
    auto &t = events();
    auto e = std::make_shared<Event>();
    e->manualReset = manualReset;
    e->signaled = initialState;
    // Event handles are small multiples of 4 well away from key handles and null.
    const uintptr_t id = t.next;
    t.next += 4;
    t.events.emplace(id, std::move(e));
    return reinterpret_cast<HANDLE>(id);
}

HANDLE createTokenHandle(ACCESS_MASK access)
{
    std::lock_guard g(gEventMutex);
    auto &t = events();
    const uintptr_t id = t.next;
    t.next += 4;
    t.tokens.emplace(id, access);
    return reinterpret_cast<HANDLE>(id);
}

bool tokenHandleAccess(HANDLE h, ACCESS_MASK &access)
{
    std::lock_guard g(gEventMutex);
    auto &t = events();
    auto it = t.tokens.find(reinterpret_cast<uintptr_t>(h));
    if (it == t.tokens.end())
        return false;
    access = it->second;
    return true;
}

std::shared_ptr<Event> eventFromHandle(HANDLE h)
{
    std::lock_guard g(gEventMutex);
    auto &t = events();
    auto it = t.events.find(reinterpret_cast<uintptr_t>(h));
    return it == t.events.end() ? nullptr : it->second;
}

void signalEvent(const std::shared_ptr<Event> &e)
{
    if (!e)
        return;
    std::lock_guard g(gEventMutex);
    e->signaled = true;
    gEventCv.notify_all();
}

} // namespace vt::platform::detail

using namespace vt::platform::detail;

namespace
{
thread_local DWORD tLastError = 0;

bool validEvent(HANDLE h, std::shared_ptr<Event> &out)
{
    auto &t = events();
    auto it = t.events.find(reinterpret_cast<uintptr_t>(h));
    if (it == t.events.end())
        return false;
    out = it->second;
    return true;
}
} // namespace

DWORD WINAPI GetLastError()
{
    return tLastError;
}
void WINAPI SetLastError(DWORD dwErrCode)
{
    tLastError = dwErrCode;
}
UINT WINAPI GetACP()
{
    return CP_UTF8;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR)
{
    return createEvent(bManualReset != 0, bInitialState != 0);
}

BOOL WINAPI SetEvent(HANDLE hEvent)
{
    std::lock_guard g(gEventMutex);
    std::shared_ptr<Event> e;
    if (!validEvent(hEvent, e)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->signaled = true;
    gEventCv.notify_all();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    std::lock_guard g(gEventMutex);
    std::shared_ptr<Event> e;
    if (!validEvent(hEvent, e)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->signaled = false;
    return TRUE;
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::unique_lock g(gEventMutex);
    std::vector<std::shared_ptr<Event>> list(nCount);
    for (DWORD i = 0; i < nCount; ++i) {
        if (!validEvent(lpHandles[i], list[i])) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    while (true) {
        if (bWaitAll) {
            bool all = true;
            for (auto &e : list)
                all = all && e->signaled;
            if (all) {
                for (auto &e : list)
                    if (!e->manualReset)
                        e->signaled = false;
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < nCount; ++i) {
                if (list[i]->signaled) {
                    if (!list[i]->manualReset)
                        list[i]->signaled = false;
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (dwMilliseconds == 0)
            return WAIT_TIMEOUT;
        if (dwMilliseconds == INFINITE) {
            gEventCv.wait(g);
        } else if (gEventCv.wait_until(g, deadline) == std::cv_status::timeout &&
                   std::chrono::steady_clock::now() >= deadline) {
            // One last look: the event may have been set just as the time ran out.
            bool any = false;
            for (auto &e : list)
                any = any || e->signaled;
            if (!any || bWaitAll)
                return WAIT_TIMEOUT;
        }
    }
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    std::lock_guard g(gEventMutex);
    if (events().events.erase(reinterpret_cast<uintptr_t>(hObject)) == 0 &&
        events().tokens.erase(reinterpret_cast<uintptr_t>(hObject)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// ---------------------------------------------------------------------------
// Process and modules

HANDLE WINAPI GetCurrentProcess()
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process)
{
    if (!Wow64Process || hProcess != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *Wow64Process = current().options.wow64 ? TRUE : FALSE;
    return TRUE;
}

namespace
{

int gAdvapi, gKernel32, gMainModule;

bool sameModuleName(std::string_view given, std::string_view base)
{
    // "ADVAPI32", "advapi32.dll" and "Advapi32.DLL" name the same module.
    auto lower = [](std::string_view s) {
        std::string out(s);
        for (auto &c : out)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    std::string g = lower(given);
    if (g.size() > 4 && g.compare(g.size() - 4, 4, ".dll") == 0)
        g.resize(g.size() - 4);
    return g == base;
}

template <typename F> FARPROC proc(F f)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

} // namespace

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    if (!lpModuleName)
        return &gMainModule;
    if (sameModuleName(lpModuleName, "advapi32"))
        return &gAdvapi;
    if (sameModuleName(lpModuleName, "kernel32"))
        return &gKernel32;
    SetLastError(126); // ERROR_MOD_NOT_FOUND
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    struct Entry {
        const char *name;
        FARPROC fn;
    };
    static const Entry advapi[] = {
        {"RegOpenKeyExA", proc(&RegOpenKeyExA)},
        {"RegCreateKeyExA", proc(&RegCreateKeyExA)},
        {"RegCloseKey", proc(&RegCloseKey)},
        {"RegQueryValueExA", proc(&RegQueryValueExA)},
        {"RegSetValueExA", proc(&RegSetValueExA)},
        {"RegDeleteValueA", proc(&RegDeleteValueA)},
        {"RegDeleteKeyA", proc(&RegDeleteKeyA)},
        {"RegDeleteKeyExA", proc(&RegDeleteKeyExA)},
        {"RegRenameKey", proc(&RegRenameKey)},
        {"RegEnumKeyExA", proc(&RegEnumKeyExA)},
        {"RegEnumKeyA", proc(&RegEnumKeyA)},
        {"RegEnumValueA", proc(&RegEnumValueA)},
        {"RegQueryInfoKeyA", proc(&RegQueryInfoKeyA)},
        {"RegFlushKey", proc(&RegFlushKey)},
        {"RegNotifyChangeKeyValue", proc(&RegNotifyChangeKeyValue)},
        {"RegLoadKeyA", proc(&RegLoadKeyA)},
        {"RegUnLoadKeyA", proc(&RegUnLoadKeyA)},
        {"RegGetKeySecurity", proc(&RegGetKeySecurity)},
        {"RegSetKeySecurity", proc(&RegSetKeySecurity)},
        {"RegSaveKeyA", proc(&RegSaveKeyA)},
        {"RegRestoreKeyA", proc(&RegRestoreKeyA)},
        {"OpenProcessToken", proc(&OpenProcessToken)},
        {"LookupPrivilegeValueA", proc(&LookupPrivilegeValueA)},
        {"AdjustTokenPrivileges", proc(&AdjustTokenPrivileges)},
        {"ConvertStringSidToSidA", proc(&ConvertStringSidToSidA)},
        {"ConvertSidToStringSidA", proc(&ConvertSidToStringSidA)},
        {"ConvertSecurityDescriptorToStringSecurityDescriptorA",
         proc(&ConvertSecurityDescriptorToStringSecurityDescriptorA)},
        {"ConvertStringSecurityDescriptorToSecurityDescriptorA",
         proc(&ConvertStringSecurityDescriptorToSecurityDescriptorA)},
        {"MakeAbsoluteSD", proc(&MakeAbsoluteSD)},
        {"MakeSelfRelativeSD", proc(&MakeSelfRelativeSD)},
        {"SetSecurityDescriptorDacl", proc(&SetSecurityDescriptorDacl)},
        {"LookupAccountSidA", proc(&LookupAccountSidA)},
        {"LookupAccountNameA", proc(&LookupAccountNameA)},
    };
    static const Entry kernel[] = {
        {"IsWow64Process", proc(&IsWow64Process)},
        {"GetCurrentProcess", proc(&GetCurrentProcess)},
        {"GetLastError", proc(&GetLastError)},
        {"SetLastError", proc(&SetLastError)},
        {"GetACP", proc(&GetACP)},
        {"CreateEventA", proc(&CreateEventA)},
        {"SetEvent", proc(&SetEvent)},
        {"ResetEvent", proc(&ResetEvent)},
        {"WaitForSingleObject", proc(&WaitForSingleObject)},
        {"WaitForMultipleObjects", proc(&WaitForMultipleObjects)},
        {"CloseHandle", proc(&CloseHandle)},
        {"GetSystemTimeAsFileTime", proc(&GetSystemTimeAsFileTime)},
        {"LocalFree", proc(&LocalFree)},
    };
    if (lpProcName && (reinterpret_cast<uintptr_t>(lpProcName) >> 16) != 0) {
        auto find = [&](const auto &table) -> FARPROC {
            for (const auto &e : table)
                if (std::strcmp(e.name, lpProcName) == 0)
                    return e.fn;
            return nullptr;
        };
        FARPROC f = nullptr;
        if (hModule == &gAdvapi)
            f = find(advapi);
        else if (hModule == &gKernel32)
            f = find(kernel);
        if (f)
            return f;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Time

namespace
{

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kEpochDelta = 11644473600LL; // seconds from 1601 to 1970

uint64_t toU64(const FILETIME *ft)
{
    return (uint64_t(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
}
void fromU64(uint64_t v, FILETIME *ft)
{
    ft->dwLowDateTime = static_cast<DWORD>(v);
    ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian), and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t &y, unsigned &m, unsigned &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

// Offset of local time from UTC at a UTC instant, by the C library's TZ rules.
int64_t localOffsetAt(int64_t unixSeconds)
{
    time_t t = static_cast<time_t>(unixSeconds);
    tm local{};
    if (!localtime_r(&t, &local))
        return 0;
    return local.tm_gmtoff;
}

bool isLeap(int64_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

} // namespace

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime)
{
    if (lpSystemTimeAsFileTime)
        fromU64(nowFileTime(), lpSystemTimeAsFileTime);
}

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME *lpFileTime, LPFILETIME lpLocalFileTime)
{
    if (!lpFileTime || !lpLocalFileTime)
        return FALSE;
    const uint64_t v = toU64(lpFileTime);
    const int64_t secs = static_cast<int64_t>(v / kTicksPerSecond) - kEpochDelta;
    fromU64(v + static_cast<uint64_t>(localOffsetAt(secs) * kTicksPerSecond), lpLocalFileTime);
    return TRUE;
}

BOOL WINAPI LocalFileTimeToFileTime(const FILETIME *lpLocalFileTime, LPFILETIME lpFileTime)
{
    if (!lpLocalFileTime || !lpFileTime)
        return FALSE;
    const uint64_t v = toU64(lpLocalFileTime);
    const int64_t localSecs = static_cast<int64_t>(v / kTicksPerSecond) - kEpochDelta;
    // The offset that applies at the UTC instant this local time stands for.
    int64_t offset = localOffsetAt(localSecs);
    offset = localOffsetAt(localSecs - offset);
    fromU64(v - static_cast<uint64_t>(offset * kTicksPerSecond), lpFileTime);
    return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME *lpFileTime, LPSYSTEMTIME lpSystemTime)
{
    if (!lpFileTime || !lpSystemTime)
        return FALSE;
    const uint64_t v = toU64(lpFileTime);
    if (v >= 0x8000000000000000ULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t secs = static_cast<int64_t>(v / kTicksPerSecond) - kEpochDelta;
    int64_t days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    int64_t rem = secs - days * 86400;
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    lpSystemTime->wYear = static_cast<WORD>(y);
    lpSystemTime->wMonth = static_cast<WORD>(m);
    lpSystemTime->wDay = static_cast<WORD>(d);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
    lpSystemTime->wHour = static_cast<WORD>(rem / 3600);
    lpSystemTime->wMinute = static_cast<WORD>(rem / 60 % 60);
    lpSystemTime->wSecond = static_cast<WORD>(rem % 60);
    lpSystemTime->wMilliseconds = static_cast<WORD>(v % kTicksPerSecond / 10000);
    return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME *st, LPFILETIME lpFileTime)
{
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (!st || !lpFileTime)
        return FALSE;
    if (st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
        st->wDay > kDays[st->wMonth - 1] + (st->wMonth == 2 && isLeap(st->wYear) ? 1 : 0) || st->wHour > 23 ||
        st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t days = daysFromCivil(st->wYear, st->wMonth, st->wDay);
    const int64_t secs = days * 86400 + st->wHour * 3600 + st->wMinute * 60 + st->wSecond + kEpochDelta;
    fromU64(static_cast<uint64_t>(secs) * kTicksPerSecond + st->wMilliseconds * 10000ULL, lpFileTime);
    return TRUE;
}

BOOL WINAPI FileTimeToDosDateTime(const FILETIME *lpFileTime, LPWORD lpFatDate, LPWORD lpFatTime)
{
    SYSTEMTIME st;
    if (!lpFatDate || !lpFatTime || !FileTimeToSystemTime(lpFileTime, &st))
        return FALSE;
    if (st.wYear < 1980 || st.wYear > 2107) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpFatDate = static_cast<WORD>(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
    *lpFatTime = static_cast<WORD>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
    return TRUE;
}

BOOL WINAPI DosDateTimeToFileTime(WORD wFatDate, WORD wFatTime, LPFILETIME lpFileTime)
{
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(1980 + (wFatDate >> 9));
    st.wMonth = static_cast<WORD>((wFatDate >> 5) & 0x0F);
    st.wDay = static_cast<WORD>(wFatDate & 0x1F);
    st.wHour = static_cast<WORD>(wFatTime >> 11);
    st.wMinute = static_cast<WORD>((wFatTime >> 5) & 0x3F);
    st.wSecond = static_cast<WORD>((wFatTime & 0x1F) * 2);
    return SystemTimeToFileTime(&st, lpFileTime);
}
