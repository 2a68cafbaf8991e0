// The in-memory form of a registry hive: what the regf reader produces, what
// the registry engine works on, and what the regf writer stores. Names and
// class names are UTF-8 (WTF-8 where the hive holds unpaired surrogates), so
// nothing a hive can hold is lost; value data stays exactly as stored.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vt::hive
{

// A self-relative security descriptor, shared by every key that uses it, as
// the regf format shares its security cells.
using SecurityDescriptor = std::vector<uint8_t>;
using SecurityDescriptorPtr = std::shared_ptr<const SecurityDescriptor>;

struct Value {
    std::string name;           // empty for the default value
    uint32_t type = 0;          // REG_* code as stored (any 32-bit number)
    std::vector<uint8_t> data;  // raw bytes; strings are UTF-16LE as in the hive
    bool nameCompressed = true; // stored as Latin-1 rather than UTF-16LE
    uint16_t flags = 0;         // vk flags other than name compression (0x0002: tombstone of a layered hive)
};

struct Key;

// A key's subkeys in upper-cased name order, with enumeration by index.
// Small lists are one flat array; a large one is split into blocks, so that
// inserting into a key with a hundred thousand children shifts one block, not
// the whole list, and finding the i-th child is a search over block starts.
class SubkeyList
{
public:
    using value_type = std::unique_ptr<Key>;
    using Block = std::vector<value_type>;

    template <bool Const> class Iter
    {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::unique_ptr<Key>;
        using difference_type = std::ptrdiff_t;
        using reference = std::conditional_t<Const, const value_type &, value_type &>;
        using pointer = std::conditional_t<Const, const value_type *, value_type *>;
        using List = std::conditional_t<Const, const SubkeyList, SubkeyList>;

        Iter() = default;
        Iter(List *l, size_t i) : m_l(l), m_i(i) {}
        operator Iter<true>() const { return {m_l, m_i}; }
        reference operator*() const { return (*m_l)[m_i]; }
        pointer operator->() const { return &(*m_l)[m_i]; }
        reference operator[](difference_type n) const { return (*m_l)[m_i + n]; }
        Iter &operator++() { return ++m_i, *this; }
        Iter operator++(int)
        {
            auto t = *this;
            ++m_i;
            return t;
        }
        Iter &operator--() { return --m_i, *this; }
        Iter operator--(int)
        {
            auto t = *this;
            --m_i;
            return t;
        }
        Iter &operator+=(difference_type n) { return m_i += n, *this; }
        Iter &operator-=(difference_type n) { return m_i -= n, *this; }
        friend Iter operator+(Iter a, difference_type n) { return a += n; }
        friend Iter operator+(difference_type n, Iter a) { return a += n; }
        friend Iter operator-(Iter a, difference_type n) { return a -= n; }
        friend difference_type operator-(const Iter &a, const Iter &b)
        {
            return static_cast<difference_type>(a.m_i) - static_cast<difference_type>(b.m_i);
        }
        friend bool operator==(const Iter &a, const Iter &b) { return a.m_i == b.m_i; }
        friend auto operator<=>(const Iter &a, const Iter &b) { return a.m_i <=> b.m_i; }
        size_t index() const { return m_i; }

    private:
        List *m_l = nullptr;
        size_t m_i = 0;
    };
    using iterator = Iter<false>;
    using const_iterator = Iter<true>;

    SubkeyList() = default;
    SubkeyList(SubkeyList &&) noexcept = default;
    SubkeyList &operator=(SubkeyList &&) noexcept = default;

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    value_type &operator[](size_t i) { return locate(i); }
    const value_type &operator[](size_t i) const { return const_cast<SubkeyList *>(this)->locate(i); }
    value_type &back() { return locate(m_size - 1); }
    iterator begin() { return {this, 0}; }
    iterator end() { return {this, m_size}; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_size}; }
    void reserve(size_t n);
    void clear();
    void push_back(value_type k) { insertAt(m_size, std::move(k)); }
    iterator insert(const_iterator pos, value_type k);
    iterator erase(const_iterator pos);
    iterator erase(const_iterator first, const_iterator last);
    // First position whose upper-cased name is not less than `upper`.
    size_t lowerBound(std::string_view upper) const;

private:
    static constexpr size_t kBlock = 512;    // entries per block once split
    static constexpr size_t kSplitAt = 1024; // a flat list this long is split

    value_type &locate(size_t i);
    size_t blockOf(size_t i) const; // the block holding position i, once split
    void insertAt(size_t i, value_type k);
    void split();
    void restart(size_t fromBlock);

    // The list once large (m_flat then empty). Apart, because few keys have
    // that many subkeys and every key carries a list.
    struct Split {
        std::vector<Block> blocks;
        std::vector<size_t> start; // index of each block's first entry
    };

    Block m_flat; // the list while it is small
    std::unique_ptr<Split> m_split;
    size_t m_size = 0;
};

// A hash of a key's value names (upper-cased), built on first lookup of a
// key with many values; it stores positions in the key's value list.
struct ValueIndex;

struct Key {
    std::string name;
    std::string upperName;      // name upper-cased as Windows compares; the sort and lookup key
    std::string className;      // empty when the key has none
    uint64_t lastWriteTime = 0; // FILETIME, UTC
    SecurityDescriptorPtr security;
    uint16_t flags = 0;    // nk flags as stored (hive entry, no delete, symbolic link, ...) but name compression
    uint8_t userFlags = 0; // the 4-bit user flags and virtualization control bits of newer hives
    uint8_t virtControlFlags = 0;
    bool isVolatile = false;
    bool nameCompressed = true;

    Key *parent = nullptr;
    SubkeyList subkeys;        // sorted by upperName, as Windows enumerates
    std::vector<Value> values; // in the order they were created
    uint32_t accessBits = 0;   // nk access bits; layered-key semantics in differencing hives
    // A hive root whose file has not been read yet (the engine mounts hives
    // lazily): nothing but its name is valid until this turns false.
    std::atomic<bool> unloaded{false};

    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key();

    Key *findSubkey(std::string_view upper) const;       // binary search on upperName
    const Value *findValue(std::string_view name) const; // names compared without regard to case
    Value *findValue(std::string_view name);
    // Changes of `values` that keep its index: a new value goes last, as
    // Windows enumerates; erasing keeps the order of the rest. Whoever changes
    // `values` otherwise calls valuesChanged() (not needed before the first
    // lookup, so a reader may fill the list directly).
    Value &appendValue(Value v);
    bool eraseValue(std::string_view name);
    void valuesChanged();

private:
    // Built by the first lookup that needs it (possibly under a shared lock,
    // hence atomic); dropped or kept current by the changes above, which run
    // exclusively.
    mutable std::atomic<ValueIndex *> m_valueIndex{nullptr};
    const ValueIndex *valueIndex() const;
};

// Upper-cases a UTF-8 name the way Windows compares registry names.
std::string upperName(std::string_view name);
// Whether two names are the same registry name (compared as Windows does).
bool sameName(std::string_view a, std::string_view b);

struct Hive {
    std::unique_ptr<Key> root;
    // Header fields kept so that a rewritten file says what the original said.
    uint32_t minorVersion = 5;
    uint64_t headerTimestamp = 0;
    std::string fileName; // the header's embedded file name, UTF-8
};

} // namespace vt::hive
