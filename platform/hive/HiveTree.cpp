#include "platform/hive/HiveTree.h"
#include "platform/hive/Utf8.h"

#include <algorithm>
#include <clocale>
#include <cwctype>
#include <locale.h>

namespace vt::hive
{

namespace
{

// Decodes one UTF-8 (or WTF-8) sequence; invalid bytes pass as themselves.
char32_t decodeOne(std::string_view s, size_t &i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](size_t k) { return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; };
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0 && cont(1)) {
        char32_t c = ((b0 & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
        i += 2;
        return c;
    }
    if ((b0 & 0xF0) == 0xE0 && cont(1) && cont(2)) {
        char32_t c = ((b0 & 0x0F) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3F) << 6) |
                     (static_cast<unsigned char>(s[i + 2]) & 0x3F);
        i += 3;
        return c;
    }
    if ((b0 & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
        char32_t c = ((b0 & 0x07) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3F) << 12) |
                     ((static_cast<unsigned char>(s[i + 2]) & 0x3F) << 6) |
                     (static_cast<unsigned char>(s[i + 3]) & 0x3F);
        i += 4;
        return c;
    }
    ++i;
    return 0xDC00 | b0; // keeps a stray byte distinct without colliding with real text
}

locale_t utf8Locale()
{
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

} // namespace

std::string upperName(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    bool ascii = true;
    for (char ch : name) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        for (char ch : name)
            out.push_back((ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch);
        return out;
    }
    // Windows upper-cases by a fixed per-character table (no expansions), which
    // towupper matches for the characters registry names use.
    for (size_t i = 0; i < name.size();) {
        char32_t c = decodeOne(name, i);
        if (c < 0x10000 && (c < 0xD800 || c > 0xDFFF)) {
            auto u = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), utf8Locale()));
            if (u < 0x10000)
                c = u;
        }
        vt::unicode::appendUtf8(out, c);
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() == b.size()) {
        bool ascii = true;
        for (size_t i = 0; i < a.size(); ++i) {
            auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
            if (x >= 0x80 || y >= 0x80) {
                ascii = false;
                break;
            }
            if (x != y && ((x | 0x20) != (y | 0x20) || (x | 0x20) < 'a' || (x | 0x20) > 'z'))
                return false;
        }
        if (ascii)
            return true;
    } else {
        // Only non-ASCII letters can change length when upper-cased.
        auto ascii = [](std::string_view n) {
            return std::all_of(n.begin(), n.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        };
        if (ascii(a) && ascii(b))
            return false;
    }
    // Upper-casing can change a UTF-8 length, so differing sizes may still match.
    return upperName(a) == upperName(b);
}

// ---------------------------------------------------------------------------
// SubkeyList

SubkeyList::value_type &SubkeyList::locate(size_t i)
{
    if (!m_split)
        return m_flat[i];
    const size_t b = blockOf(i);
    return m_split->blocks[b][i - m_split->start[b]];
}

size_t SubkeyList::blockOf(size_t i) const
{
    const std::vector<size_t> &start = m_split->start;
    return static_cast<size_t>(std::upper_bound(start.begin(), start.end(), i) - start.begin()) - 1;
}

void SubkeyList::reserve(size_t n)
{
    if (!m_split && n <= kSplitAt)
        m_flat.reserve(n);
}

void SubkeyList::clear()
{
    m_flat.clear();
    m_split.reset();
    m_size = 0;
}

void SubkeyList::restart(size_t fromBlock)
{
    m_split->start.resize(m_split->blocks.size());
    size_t at = fromBlock ? m_split->start[fromBlock - 1] + m_split->blocks[fromBlock - 1].size() : 0;
    for (size_t b = fromBlock; b < m_split->blocks.size(); ++b) {
        m_split->start[b] = at;
        at += m_split->blocks[b].size();
    }
}

void SubkeyList::split()
{
    m_split = std::make_unique<Split>();
    for (size_t i = 0; i < m_flat.size(); i += kBlock) {
        const size_t end = std::min(m_flat.size(), i + kBlock);
        Block b;
        b.reserve(2 * kBlock);
        for (size_t j = i; j < end; ++j)
            b.push_back(std::move(m_flat[j]));
        m_split->blocks.push_back(std::move(b));
    }
    Block().swap(m_flat);
    restart(0);
}

void SubkeyList::insertAt(size_t i, value_type k)
{
    if (!m_split) {
        m_flat.insert(m_flat.begin() + static_cast<std::ptrdiff_t>(i), std::move(k));
        ++m_size;
        if (m_flat.size() > kSplitAt)
            split();
        return;
    }
    // The block holding position i (the last block for the end).
    const size_t b = i == m_size ? m_split->blocks.size() - 1 : blockOf(i);
    Block &blk = m_split->blocks[b];
    blk.insert(blk.begin() + static_cast<std::ptrdiff_t>(i - m_split->start[b]), std::move(k));
    ++m_size;
    if (blk.size() >= 2 * kBlock) {
        Block tail;
        tail.reserve(2 * kBlock);
        for (size_t j = kBlock; j < blk.size(); ++j)
            tail.push_back(std::move(blk[j]));
        blk.resize(kBlock);
        m_split->blocks.insert(m_split->blocks.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(tail));
    }
    restart(b);
}

SubkeyList::iterator SubkeyList::insert(const_iterator pos, value_type k)
{
    const size_t i = pos.index();
    insertAt(i, std::move(k));
    return {this, i};
}

SubkeyList::iterator SubkeyList::erase(const_iterator pos)
{
    return erase(pos, pos + 1);
}

SubkeyList::iterator SubkeyList::erase(const_iterator first, const_iterator last)
{
    const size_t from = first.index(), to = last.index();
    if (from >= to)
        return {this, from};
    if (!m_split) {
        m_flat.erase(m_flat.begin() + static_cast<std::ptrdiff_t>(from),
                     m_flat.begin() + static_cast<std::ptrdiff_t>(to));
        m_size = m_flat.size();
        return {this, from};
    }
    for (size_t n = to - from; n;) {
        const size_t b = blockOf(from);
        Block &blk = m_split->blocks[b];
        const size_t off = from - m_split->start[b];
        const size_t take = std::min(n, blk.size() - off);
        blk.erase(blk.begin() + static_cast<std::ptrdiff_t>(off),
                  blk.begin() + static_cast<std::ptrdiff_t>(off + take));
        n -= take;
        m_size -= take;
        if (blk.empty())
            m_split->blocks.erase(m_split->blocks.begin() + static_cast<std::ptrdiff_t>(b));
        restart(b > 0 ? b - 1 : 0);
    }
    if (m_size <= kBlock) {
        // Back to one flat array once small again.
        Block flat;
        flat.reserve(m_size);
        for (auto &blk : m_split->blocks)
            for (auto &k : blk)
                flat.push_back(std::move(k));
        m_split.reset();
        m_flat = std::move(flat);
    }
    return {this, from};
}

size_t SubkeyList::lowerBound(std::string_view upper) const
{
    auto less = [](const value_type &k, std::string_view u) { return k->upperName < u; };
    if (!m_split)
        return static_cast<size_t>(std::lower_bound(m_flat.begin(), m_flat.end(), upper, less) - m_flat.begin());
    // The first block whose last entry is not less than `upper` holds the place.
    auto b = std::lower_bound(m_split->blocks.begin(), m_split->blocks.end(), upper,
                              [](const Block &blk, std::string_view u) { return blk.back()->upperName < u; });
    if (b == m_split->blocks.end())
        return m_size;
    const size_t bi = static_cast<size_t>(b - m_split->blocks.begin());
    return m_split->start[bi] + static_cast<size_t>(std::lower_bound(b->begin(), b->end(), upper, less) - b->begin());
}

// ---------------------------------------------------------------------------
// Values

struct ValueIndex {
    // Open addressing: each slot holds the name's hash (high half) and its
    // position + 1 (low half); 0 is empty. At most half the slots are used.
    std::vector<uint64_t> slots;
    size_t count = 0;
};

namespace
{

constexpr size_t kIndexValuesFrom = 12; // shorter lists are searched directly

uint32_t nameHash(std::string_view name)
{
    uint32_t h = 2166136261u;
    auto mix = [&h](unsigned char c) {
        h ^= c;
        h *= 16777619u;
    };
    bool ascii = true;
    for (char ch : name)
        if (static_cast<unsigned char>(ch) >= 0x80)
            ascii = false;
    if (ascii) {
        for (char ch : name)
            mix(static_cast<unsigned char>((ch >= 'a' && ch <= 'z') ? ch - 32 : ch));
    } else {
        for (char ch : upperName(name))
            mix(static_cast<unsigned char>(ch));
    }
    return h;
}

void indexInsert(ValueIndex &ix, uint32_t hash, size_t pos)
{
    const size_t mask = ix.slots.size() - 1;
    size_t i = hash & mask;
    while (ix.slots[i])
        i = (i + 1) & mask;
    ix.slots[i] = (uint64_t(hash) << 32) | (pos + 1);
    ++ix.count;
}

// Drops the entry for position `pos`, moving later entries of its probe run
// back so that every lookup still finds them (linear probing, no tombstones).
void indexRemove(ValueIndex &ix, uint32_t hash, size_t pos)
{
    const size_t mask = ix.slots.size() - 1;
    size_t i = hash & mask;
    while (ix.slots[i] && static_cast<size_t>(uint32_t(ix.slots[i])) != pos + 1)
        i = (i + 1) & mask;
    if (!ix.slots[i])
        return;
    ix.slots[i] = 0;
    --ix.count;
    for (size_t j = (i + 1) & mask; ix.slots[j]; j = (j + 1) & mask) {
        const size_t home = uint32_t(ix.slots[j] >> 32) & mask;
        // An entry may fill the hole unless its home lies after the hole, up to it.
        const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (!stays) {
            ix.slots[i] = ix.slots[j];
            ix.slots[j] = 0;
            i = j;
        }
    }
}

ValueIndex *buildIndex(const std::vector<Value> &values)
{
    auto *ix = new ValueIndex;
    size_t cap = 16;
    while (cap < 2 * values.size() + 2)
        cap *= 2;
    ix->slots.assign(cap, 0);
    for (size_t i = 0; i < values.size(); ++i)
        indexInsert(*ix, nameHash(values[i].name), i);
    return ix;
}

} // namespace

Key::~Key()
{
    delete m_valueIndex.load(std::memory_order_relaxed);
}

const ValueIndex *Key::valueIndex() const
{
    ValueIndex *ix = m_valueIndex.load(std::memory_order_acquire);
    if (ix || values.size() < kIndexValuesFrom)
        return ix;
    // Readers may race to build it; one wins, the others drop theirs.
    ValueIndex *fresh = buildIndex(values);
    if (m_valueIndex.compare_exchange_strong(ix, fresh, std::memory_order_acq_rel))
        return fresh;
    delete fresh;
    return ix;
}

const Value *Key::findValue(std::string_view valueName) const
{
    return const_cast<Key *>(this)->findValue(valueName);
}

Value *Key::findValue(std::string_view valueName)
{
    const ValueIndex *ix = valueIndex();
    if (!ix || ix->count != values.size()) {
        // Small list, or one changed behind the index's back: search it.
        for (auto &v : values)
            if (sameName(v.name, valueName))
                return &v;
        return nullptr;
    }
    const uint32_t hash = nameHash(valueName);
    const size_t mask = ix->slots.size() - 1;
    for (size_t i = hash & mask; ix->slots[i]; i = (i + 1) & mask) {
        const uint64_t e = ix->slots[i];
        if (uint32_t(e >> 32) != hash)
            continue;
        Value &v = values[static_cast<size_t>(uint32_t(e)) - 1];
        if (sameName(v.name, valueName))
            return &v;
    }
    return nullptr;
}

Value &Key::appendValue(Value v)
{
    values.push_back(std::move(v));
    ValueIndex *ix = m_valueIndex.load(std::memory_order_relaxed);
    if (ix && ix->count + 1 == values.size()) {
        if (2 * (ix->count + 1) + 2 > ix->slots.size()) {
            valuesChanged(); // rebuilt larger by the next lookup
        } else {
            indexInsert(*ix, nameHash(values.back().name), values.size() - 1);
        }
    } else if (ix) {
        valuesChanged();
    }
    return values.back();
}

bool Key::eraseValue(std::string_view valueName)
{
    Value *v = findValue(valueName);
    if (!v)
        return false;
    const size_t pos = static_cast<size_t>(v - values.data());
    const uint32_t hash = nameHash(v->name);
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(pos));
    ValueIndex *ix = m_valueIndex.load(std::memory_order_relaxed);
    if (ix && pos == values.size() && ix->count == values.size() + 1) {
        // The last value: no position moves, so only its entry goes, and
        // emptying a key from its end costs the same per value at any size.
        indexRemove(*ix, hash, pos);
    } else if (ix) {
        // Later positions shift down by one: renumber them and drop the entry.
        std::vector<uint64_t> old;
        old.swap(ix->slots);
        ix->slots.assign(old.size(), 0);
        ix->count = 0;
        for (uint64_t e : old) {
            if (!e)
                continue;
            size_t p = static_cast<size_t>(uint32_t(e)) - 1;
            if (p == pos)
                continue;
            indexInsert(*ix, uint32_t(e >> 32), p > pos ? p - 1 : p);
        }
    }
    return true;
}

void Key::valuesChanged()
{
    delete m_valueIndex.exchange(nullptr, std::memory_order_acq_rel);
}

Key *Key::findSubkey(std::string_view upper) const
{
    const size_t i = subkeys.lowerBound(upper);
    if (i < subkeys.size() && subkeys[i]->upperName == upper)
        return subkeys[i].get();
    return nullptr;
}

} // namespace vt::hive
