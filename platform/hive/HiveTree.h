// The in-memory form of a registry hive: what the regf reader produces, what
// the registry engine works on, and what the regf writer stores. Names and
// class names are UTF-8 (WTF-8 where the hive holds unpaired surrogates), so
// nothing a hive can hold is lost; value data stays exactly as stored.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vt::hive {

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

struct Key {
    std::string name;
    std::string upperName;      // name upper-cased as Windows compares; the sort and lookup key
    std::string className;      // empty when the key has none
    uint64_t lastWriteTime = 0; // FILETIME, UTC
    SecurityDescriptorPtr security;
    uint16_t flags = 0;         // nk flags as stored (hive entry, no delete, symbolic link, ...) but name compression
    uint8_t userFlags = 0;      // the 4-bit user flags and virtualization control bits of newer hives
    uint8_t virtControlFlags = 0;
    bool isVolatile = false;
    bool nameCompressed = true;

    Key *parent = nullptr;
    std::vector<std::unique_ptr<Key>> subkeys; // sorted by upperName, as Windows enumerates
    std::vector<Value> values;                 // in the order they were created
    uint32_t accessBits = 0;                   // nk access bits; layered-key semantics in differencing hives

    Key *findSubkey(std::string_view upper) const;          // binary search on upperName
    const Value *findValue(std::string_view name) const;    // names compared without regard to case
    Value *findValue(std::string_view name);
};

// Upper-cases a UTF-8 name the way Windows compares registry names.
std::string upperName(std::string_view name);

struct Hive {
    std::unique_ptr<Key> root;
    // Header fields kept so that a rewritten file says what the original said.
    uint32_t minorVersion = 5;
    uint64_t headerTimestamp = 0;
    std::string fileName;       // the header's embedded file name, UTF-8
};

} // namespace vt::hive
