#include "platform/hive/RegfFormat.h"
#include "platform/hive/Utf8.h"

namespace vt::hive::regf
{

uint32_t baseBlockChecksum(const uint8_t *block)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kChecksumOffset; i += 4)
        sum ^= rd32(block + i);
    if (sum == 0xFFFFFFFF)
        return 0xFFFFFFFE;
    if (sum == 0)
        return 1;
    return sum;
}

namespace
{
inline uint32_t rotl(uint32_t v, int n)
{
    return (v << n) | (v >> (32 - n));
}
inline void marvinBlock(uint32_t &lo, uint32_t &hi)
{
    hi ^= lo;
    lo = rotl(lo, 20);
    lo += hi;
    hi = rotl(hi, 9);
    hi ^= lo;
    lo = rotl(lo, 27);
    lo += hi;
    hi = rotl(hi, 19);
}

} // namespace

uint64_t marvin32(std::span<const uint8_t> data, uint64_t seed)
{
    uint32_t lo = static_cast<uint32_t>(seed);
    uint32_t hi = static_cast<uint32_t>(seed >> 32);
    size_t i = 0;
    for (; data.size() - i >= 4; i += 4) {
        lo += rd32(data.data() + i);
        marvinBlock(lo, hi);
    }
    uint32_t fin = 0x80;
    switch (data.size() - i) {
    case 1:
        fin = 0x8000 | data[i];
        break;
    case 2:
        fin = 0x800000 | rd16(data.data() + i);
        break;
    case 3:
        fin = 0x80000000u | (static_cast<uint32_t>(data[i + 2]) << 16) | rd16(data.data() + i);
        break;
    default:
        break;
    }
    lo += fin;
    marvinBlock(lo, hi);
    marvinBlock(lo, hi);
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

void appendUtf16(std::string &out, const uint8_t *p, size_t bytes)
{
    const size_t units = bytes / 2;
    out.reserve(out.size() + units);
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = rd16(p + 2 * i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
            const uint32_t lo = rd16(p + 2 * i + 2);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        vt::unicode::appendUtf8(out, c);
    }
}

void appendLatin1(std::string &out, const uint8_t *p, size_t bytes)
{
    // Names are nearly always ASCII, which is its own UTF-8: copied in one go.
    size_t ascii = 0;
    while (ascii < bytes && p[ascii] < 0x80)
        ++ascii;
    out.append(reinterpret_cast<const char *>(p), ascii);
    if (ascii == bytes)
        return;
    out.reserve(out.size() + 2 * (bytes - ascii));
    for (size_t i = ascii; i < bytes; ++i)
        vt::unicode::appendUtf8(out, p[i]);
}

std::u16string toUtf16(std::string_view s)
{
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    auto cont = [&](size_t k) { return i + k < s.size() && (static_cast<uint8_t>(s[i + k]) & 0xC0) == 0x80; };
    auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<uint8_t>(s[i + k])); };
    while (i < s.size()) {
        const uint32_t b0 = b(0);
        uint32_t c = 0xFFFD;
        size_t n = 1;
        if (b0 < 0x80) {
            c = b0;
        } else if ((b0 & 0xE0) == 0xC0 && cont(1)) {
            c = ((b0 & 0x1F) << 6) | (b(1) & 0x3F);
            n = 2;
            if (c < 0x80)
                c = 0xFFFD;
        } else if ((b0 & 0xF0) == 0xE0 && cont(1) && cont(2)) {
            c = ((b0 & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
            n = 3;
            if (c < 0x800)
                c = 0xFFFD;
        } else if ((b0 & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
            c = ((b0 & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
            n = 4;
            if (c < 0x10000 || c > 0x10FFFF)
                c = 0xFFFD;
        }
        i += n;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c)); // lone surrogates from WTF-8 come back as they were
        }
    }
    return out;
}

bool fitsLatin1(const std::u16string &s)
{
    for (char16_t c : s)
        if (c > 0xFF)
            return false;
    return true;
}

} // namespace vt::hive::regf
