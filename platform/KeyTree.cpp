// The key trees and the handle table: finding, adding, renaming and removing
// keys and values in memory, paths of keys, and the mounts they belong to.
#include "platform/Engine.h"
#include "platform/Unicode.h"
#include "platform/hive/Regf.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace vt::platform::detail
{

namespace sec = vt::security;

// ---------------------------------------------------------------------------
// Handles

HandleTable::HandleTable()
{
    for (auto &c : m_chunks)
        c.store(nullptr, std::memory_order_relaxed);
}

HandleTable::~HandleTable()
{
    for (auto &c : m_chunks)
        delete[] c.load();
}

HKEY HandleTable::valueOf(size_t index) const
{
    const uint64_t gen = at(index).generation.load(std::memory_order_relaxed) & 0x7FFFFFFF;
    // Slot numbers from 1 in bits 4..31, generation above: never one of the
    // predefined values (those have all high bits set) and never null.
    return reinterpret_cast<HKEY>(static_cast<uintptr_t>((gen << 32) | (uint64_t(index + 1) << 4)));
}

HKEY HandleTable::allocate(Location loc, ACCESS_MASK granted, bool view32)
{
    std::lock_guard g(m_mutex);
    size_t index;
    if (!m_free.empty()) {
        index = m_free.back();
        m_free.pop_back();
    } else {
        if (m_count >= kChunks << kChunkBits)
            return nullptr;
        index = m_count;
        if (!m_chunks[index >> kChunkBits].load(std::memory_order_relaxed))
            m_chunks[index >> kChunkBits].store(new Slot[size_t(1) << kChunkBits], std::memory_order_release);
        ++m_count;
    }
    Slot &slot = at(index);
    slot.deleted = false;
    slot.view32 = view32;
    slot.granted = granted;
    slot.loc.key = loc.key;
    slot.loc.machine = loc.machine;
    slot.loc.user = loc.user;
    slot.loc.space = loc.space;
    slot.loc.logical.assign(loc.logical); // keeps the slot's capacity: no allocation once warm
    slot.enumIndex = ~0u;
    slot.used.store(true, std::memory_order_release);
    return valueOf(index);
}

Slot *HandleTable::lookup(HKEY h) const
{
    const auto v = reinterpret_cast<uintptr_t>(h);
    if ((v & 0xF) != 0 || (v >> 63) != 0)
        return nullptr;
    const size_t index = ((v >> 4) & 0x0FFFFFFF);
    if (index == 0 || index - 1 >= kChunks << kChunkBits)
        return nullptr;
    Slot *chunk = m_chunks[(index - 1) >> kChunkBits].load(std::memory_order_acquire);
    if (!chunk)
        return nullptr;
    Slot &slot = chunk[(index - 1) & ((1u << kChunkBits) - 1)];
    if ((slot.generation.load(std::memory_order_acquire) & 0x7FFFFFFF) != (v >> 32) ||
        !slot.used.load(std::memory_order_acquire))
        return nullptr;
    return &slot;
}

bool HandleTable::release(HKEY h)
{
    std::lock_guard g(m_mutex);
    Slot *slot = lookup(h);
    if (!slot)
        return false;
    slot->used.store(false, std::memory_order_release);
    slot->loc.key = slot->loc.machine = slot->loc.user = nullptr;
    uint32_t gen = slot->generation.load() + 1;
    if ((gen & 0x7FFFFFFF) == 0)
        gen = 1;
    slot->generation.store(gen, std::memory_order_release);
    m_free.push_back(static_cast<uint32_t>(((reinterpret_cast<uintptr_t>(h) >> 4) & 0x0FFFFFFF) - 1));
    return true;
}

// ---------------------------------------------------------------------------
// Tree helpers

uint64_t nowFileTime()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (uint64_t(ts.tv_sec) + 11644473600ULL) * 10000000ULL + uint64_t(ts.tv_nsec) / 100;
}

bool isAscii(std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Upper-cases into a per-thread buffer: lookups allocate nothing once warm.
std::string_view upperInto(std::string &buf, std::string_view name)
{
    if (isAscii(name)) {
        buf.resize(name.size());
        for (size_t i = 0; i < name.size(); ++i) {
            char c = name[i];
            buf[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        }
    } else {
        buf = vt::hive::upperName(name);
    }
    return buf;
}

using vt::hive::sameName;

Key *findChild(const Key &key, std::string_view name)
{
    thread_local std::string buf;
    Key *child = key.findSubkey(upperInto(buf, name));
    // Below a virtual root are the mounted hives; a lazy one is read now.
    if (child && !key.parent && child->unloaded.load(std::memory_order_acquire))
        loadLazyMount(*child);
    return child;
}

Value *findValue(Key &key, std::string_view name)
{
    return key.findValue(name);
}

std::unique_ptr<Key> newKey(std::string_view name, uint64_t time)
{
    auto k = std::make_unique<Key>();
    k->name = std::string(name);
    k->upperName = vt::hive::upperName(name);
    k->lastWriteTime = time;
    k->nameCompressed = isAscii(name);
    return k;
}

Key *insertSubkey(Key &parent, std::unique_ptr<Key> child)
{
    child->parent = &parent;
    const size_t at = parent.subkeys.lowerBound(child->upperName);
    return parent.subkeys.insert(parent.subkeys.begin() + static_cast<std::ptrdiff_t>(at), std::move(child))->get();
}

void setValue(Key &key, std::string_view name, uint32_t type, std::vector<uint8_t> data)
{
    if (Value *v = findValue(key, name)) {
        v->type = type;
        v->data = std::move(data);
        return;
    }
    Value v;
    v.name = std::string(name);
    v.type = type;
    v.data = std::move(data);
    v.nameCompressed = isAscii(name);
    key.appendValue(std::move(v));
}

bool deleteValue(Key &key, std::string_view name)
{
    return key.eraseValue(name);
}

Mount *mountOf(System &s, const Key *key)
{
    const Key *k = key;
    while (k && k->parent && k->parent != s.machine.get() && k->parent != s.users.get())
        k = k->parent;
    if (!k || !k->parent)
        return nullptr;
    for (auto &m : s.mounts)
        if (m->root == k)
            return m.get();
    return nullptr;
}

void markDirty(System &s, const Key &key)
{
    if (Mount *m = mountOf(s, &key))
        m->dirty = true;
}

bool inReadOnlyHive(System &s, const Key &key)
{
    const Mount *m = mountOf(s, &key);
    return m && m->readOnly;
}

bool isUnderVolatile(const Key &key)
{
    // The virtual roots (no parent) are volatile but hold the persistent hives.
    for (const Key *k = &key; k && k->parent; k = k->parent)
        if (k->isVolatile)
            return true;
    return false;
}

std::string keyPath(const Key &key)
{
    std::vector<const Key *> chain;
    for (const Key *k = &key; k; k = k->parent)
        chain.push_back(k);
    std::string out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!out.empty())
            out.push_back('\\');
        out += (*it)->name;
    }
    return out;
}

Key *keyFromPath(System &s, std::string_view path)
{
    size_t pos = path.find('\\');
    std::string_view first = path.substr(0, pos);
    Key *k = sameName(first, "MACHINE") ? s.machine.get() : sameName(first, "USER") ? s.users.get() : nullptr;
    while (k && pos != std::string_view::npos) {
        size_t next = path.find('\\', pos + 1);
        k = findChild(*k, path.substr(pos + 1, next == std::string_view::npos ? next : next - pos - 1));
        pos = next;
    }
    return k;
}

void removeSubkey(System &s, Key &parent, Key *child)
{
    // Handles into the removed subtree answer ERROR_KEY_DELETED from now on.
    auto inside = [child](const Key *k) {
        for (; k; k = k->parent)
            if (k == child)
                return true;
        return false;
    };
    s.handles.forEachUsed([&](Slot &slot, size_t) {
        // A slot already marked may point at freed keys: never follow it.
        if (!slot.deleted && (inside(slot.loc.key) || inside(slot.loc.machine) || inside(slot.loc.user)))
            slot.deleted = true;
    });
    {
        std::lock_guard g(s.notifyMutex);
        auto &regs = s.registrations;
        for (auto it = regs.begin(); it != regs.end();) {
            if (inside(it->key)) {
                signalEvent(it->event);
                it = regs.erase(it);
            } else {
                ++it;
            }
        }
    }
    // The child sits where its name sorts; a list left unsorted by a damaged
    // hive is searched whole.
    auto &subs = parent.subkeys;
    size_t at = subs.lowerBound(child->upperName);
    if (at >= subs.size() || subs[at].get() != child) {
        at = static_cast<size_t>(std::find_if(subs.begin(), subs.end(),
                                              [child](const std::unique_ptr<Key> &k) { return k.get() == child; }) -
                                 subs.begin());
    }
    if (at < subs.size())
        subs.erase(subs.begin() + static_cast<std::ptrdiff_t>(at));
}

void renameSubkey(Key &parent, Key *child, std::string_view newName)
{
    auto &subs = parent.subkeys;
    size_t at = subs.lowerBound(child->upperName);
    if (at >= subs.size() || subs[at].get() != child)
        return;
    std::unique_ptr<Key> owned = std::move(subs[at]);
    subs.erase(subs.begin() + static_cast<std::ptrdiff_t>(at));
    owned->name = std::string(newName);
    owned->upperName = vt::hive::upperName(newName);
    owned->nameCompressed = isAscii(newName);
    insertSubkey(parent, std::move(owned));
}

void attachMount(System &s, std::unique_ptr<Mount> m, std::unique_ptr<Key> root)
{
    m->rootName = root->name;
    root->name = m->name;
    root->upperName = vt::hive::upperName(m->name);
    m->root = insertSubkey(*m->virtualRoot, std::move(root));
    s.mounts.push_back(std::move(m));
}

} // namespace vt::platform::detail
