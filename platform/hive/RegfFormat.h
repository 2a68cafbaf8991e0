// Shared pieces of the regf reader, writer and log replay: little-endian
// access, layout constants and the name encodings.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace vt::hive::regf
{

constexpr uint32_t kBaseBlockSize = 4096;
constexpr uint32_t kBinAlign = 4096;
constexpr uint32_t kBinHeaderSize = 32;
constexpr uint32_t kNoCell = 0xFFFFFFFF;
constexpr uint32_t kBigDataSegment = 16344; // payload of one big-data segment cell
constexpr uint32_t kNkFixed = 76;
constexpr uint32_t kVkFixed = 20;
constexpr uint32_t kSkFixed = 20;
constexpr uint32_t kChecksumOffset = 508;
constexpr uint32_t kMaxKeyDepth = 512; // Windows refuses deeper trees

// nk flags
constexpr uint16_t kKeyVolatile = 0x0001;
constexpr uint16_t kKeyHiveEntry = 0x0004;
constexpr uint16_t kKeyNoDelete = 0x0008;
constexpr uint16_t kKeyCompName = 0x0020;
// vk flags
constexpr uint16_t kValueCompName = 0x0001;

inline uint16_t rd16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t rd32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t rd64(const uint8_t *p)
{
    return rd32(p) | (static_cast<uint64_t>(rd32(p + 4)) << 32);
}
inline void wr16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void wr32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void wr64(uint8_t *p, uint64_t v)
{
    wr32(p, static_cast<uint32_t>(v));
    wr32(p + 4, static_cast<uint32_t>(v >> 32));
}

// XOR of the first 127 dwords, avoiding the two values Windows reserves.
uint32_t baseBlockChecksum(const uint8_t *block);

// The 64-bit Marvin32 hash that guards new-format log entries.
uint64_t marvin32(std::span<const uint8_t> data, uint64_t seed = 0x82EF4D887A4E55C5ull);

// UTF-16LE bytes to UTF-8; an unpaired surrogate becomes its WTF-8 form.
void appendUtf16(std::string &out, const uint8_t *p, size_t bytes);
// Latin-1 ("compressed") bytes to UTF-8.
void appendLatin1(std::string &out, const uint8_t *p, size_t bytes);
// UTF-8/WTF-8 to UTF-16 code units; malformed bytes become U+FFFD.
std::u16string toUtf16(std::string_view s);
// True when every code unit fits in one byte, so the name can be stored compressed.
bool fitsLatin1(const std::u16string &s);

} // namespace vt::hive::regf
