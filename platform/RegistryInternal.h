// What the files of the registry functions share: resolving handles and
// paths, access checks, the locks a call holds and the remote provider.
// Internal to the platform, beside Engine.h (see docs/platform.md, Layout).
#pragma once

#include "platform/Engine.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vt::platform::detail
{

namespace sec = vt::security;
using vt::hive::sameName;

// Name helpers of the trees (KeyTree.cpp).
bool isAscii(std::string_view s);
// Upper-cases into a per-thread buffer: lookups allocate nothing once warm.
std::string_view upperInto(std::string &buf, std::string_view name);

// The provider of foreign (remote) key handles (RegistryPaths.cpp).
extern std::atomic<const ForeignRegistry *> gForeign;

inline bool isForeign(HKEY h)
{
    return (reinterpret_cast<uintptr_t>(h) & 0xF) == kForeignKeyTag;
}

// Hands a call on a foreign handle to its provider.
#define VT_FOREIGN(h, member, ...)                                                                                     \
    if (isForeign(h)) {                                                                                                \
        const ForeignRegistry *f = gForeign.load(std::memory_order_acquire);                                           \
        if (!f)                                                                                                        \
            return ERROR_INVALID_HANDLE;                                                                               \
        return f->member ? f->member(__VA_ARGS__) : ERROR_CALL_NOT_IMPLEMENTED;                                        \
    }

inline constexpr size_t kMaxKeyNameChars = 255;
inline constexpr size_t kMaxValueNameChars = 16383;
inline constexpr size_t kMaxDepth = 512;
inline constexpr size_t kMaxCreateLevels = 32; // levels one RegCreateKeyExA may name
inline constexpr int kMaxLinkHops = 16;
inline constexpr ACCESS_MASK kViewBits = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

// Predefined keys, views and path walks (RegistryPaths.cpp).
bool isPredefined(HKEY h);
HKEY canonical(HKEY h);
Key *softwareRoot(System &s);
Key *userRoot(System &s);
Key *userClasses(System &s);
Key *machineClasses(System &s);
bool defaultView32(System &s);
LONG splitPath(const char *subKey, std::vector<std::string_view> &out);
int depthOf(const Key *k);
Key *followLink(System &s, Key *link, int hops);

// Where a walk ended: the deepest key reached, whether the whole path exists,
// and (when asked) where and under which names the missing part is created.
struct Walk {
    Location loc;
    bool complete = false;
    Key *createParent = nullptr;
    std::vector<std::string> createNames;
};

bool isInside(const Key *k, const Key *ancestor);
void walkPlain(System &s, Key *k, const std::vector<std::string_view> &comps, size_t from, bool openLink,
               bool forCreate, Walk &w);
void walk(System &s, const Location &base, bool view32, const std::vector<std::string_view> &comps, bool openLink,
          bool forCreate, Walk &w);
bool isSharedTop(const std::string &upper);
LONG predefinedLocation(System &s, HKEY h, Location &loc);

// Access checks and inherited descriptors (RegistrySecurity.cpp).
const std::vector<uint8_t> &fallbackDescriptor();
std::span<const uint8_t> descriptorOf(const Key *k);
vt::hive::SecurityDescriptorPtr inheritedSecurity(System &s, const Key *parent);
LONG checkAccess(System &s, const Key *k, ACCESS_MASK desired, ACCESS_MASK &granted);

// A handle resolved for one call: a slot or a predefined key.
struct Target {
    Location loc;
    ACCESS_MASK granted = 0;
    bool view32 = false;
    Slot *slot = nullptr;
};

LONG resolveHandle(System &s, HKEY h, Target &t, ACCESS_MASK needed);
const Location &fullLocation(const Target &t);
LONG viewOf(REGSAM sam, bool fallback, bool &view32);
bool isVirtualRoot(System &s, const Key *k);

// Value data as the A functions give it (RegistryValues.cpp).
DWORD ansiSize(const Value &v);
LONG copyData(const Value &v, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
// A key a change may be made in through the handle (RegistryValues.cpp).
LONG writableKey(System &s, HKEY hKey, ACCESS_MASK needed, Target &t);

// Exclusive or shared hold of the system lock for one call.
struct Shared {
    System &s;
    std::shared_lock<RwLock> l;
    explicit Shared(System &sys) : s(sys), l(sys.lock) {}
};
// A change: the exclusive lock, then the journal's file lock with whatever
// other processes appended applied first, so records stay in one order.
struct Exclusive {
    System &s;
    std::unique_lock<RwLock> l;
    JournalLock j;
    explicit Exclusive(System &sys) : s(sys), l(sys.lock), j(sys) {}
};

LONG resolvePath(System &s, HKEY hKey, REGSAM samDesired, LPCSTR subKey, Target &t, bool &view32,
                 std::vector<std::string_view> &comps);

} // namespace vt::platform::detail
