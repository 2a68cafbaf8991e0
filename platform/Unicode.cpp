#include "platform/Unicode.h"

#include "platform/hive/Utf8.h"

#include <bit>
#include <cstring>

namespace vt::platform
{

namespace
{

// How many of the first `n` UTF-16LE units are ASCII, four units per step:
// registry names and most text are, and need no decoding.
std::size_t asciiUnits(const uint8_t *d, std::size_t n)
{
    std::size_t i = 0;
    for (; std::endian::native == std::endian::little && i + 4 <= n; i += 4) {
        uint64_t w; // the mask below reads each unit's low byte first
        std::memcpy(&w, d + 2 * i, 8);
        if (w & 0xFF80FF80FF80FF80ull)
            break;
    }
    while (i < n && d[2 * i + 1] == 0 && d[2 * i] < 0x80)
        ++i;
    return i;
}

// Walks UTF-16LE units, joining surrogate pairs; calls f(code point, isByteEscape).
template <typename F> void walk16(const uint8_t *d, std::size_t size, F f)
{
    const std::size_t n = size / 2;
    for (std::size_t i = 0; i < n; ++i) {
        char32_t u = d[2 * i] | (d[2 * i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            char32_t v = d[2 * i + 2] | (d[2 * i + 3] << 8);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                f(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00), false);
                ++i;
                continue;
            }
        }
        f(u, u >= 0xDC80 && u <= 0xDCFF);
    }
}

} // namespace

std::string utf16leToUtf8(const uint8_t *data, std::size_t size)
{
    std::string out;
    out.reserve(size / 2 + 4);
    const std::size_t ascii = asciiUnits(data, size / 2);
    out.resize(ascii);
    for (std::size_t i = 0; i < ascii; ++i)
        out[i] = static_cast<char>(data[2 * i]);
    walk16(data + 2 * ascii, size - 2 * ascii, [&](char32_t c, bool byteEscape) {
        if (byteEscape)
            out.push_back(static_cast<char>(c & 0xFF));
        else
            vt::unicode::appendUtf8(out, c);
    });
    return out;
}

std::size_t utf8SizeOfUtf16le(const uint8_t *data, std::size_t size)
{
    std::size_t n = asciiUnits(data, size / 2);
    walk16(data + 2 * n, size - 2 * n,
           [&](char32_t c, bool byteEscape) { n += byteEscape ? 1 : vt::unicode::utf8Length(c); });
    return n;
}

namespace
{

// Decodes UTF-8 (accepting WTF-8 surrogates); a byte that starts no valid
// sequence comes back as U+DC00 + byte.
template <typename F> void walk8(std::string_view s, F f)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        unsigned char b = p[i];
        auto cont = [&](std::size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
        char32_t c;
        if (b < 0x80) {
            c = b;
            i += 1;
        } else if ((b & 0xE0) == 0xC0 && b >= 0xC2 && cont(1)) {
            c = ((b & 0x1F) << 6) | (p[i + 1] & 0x3F);
            i += 2;
        } else if ((b & 0xF0) == 0xE0 && cont(1) && cont(2) &&
                   (c = ((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F)) >= 0x800) {
            i += 3;
        } else if ((b & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3) &&
                   (c = ((b & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12) | ((p[i + 2] & 0x3F) << 6) |
                        (p[i + 3] & 0x3F)) >= 0x10000 &&
                   c <= 0x10FFFF) {
            i += 4;
        } else {
            c = 0xDC00 | b;
            i += 1;
        }
        f(c);
    }
}

} // namespace

std::vector<uint8_t> utf8ToUtf16le(std::string_view text)
{
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2);
    auto unit = [&](char32_t u) {
        out.push_back(static_cast<uint8_t>(u & 0xFF));
        out.push_back(static_cast<uint8_t>(u >> 8));
    };
    walk8(text, [&](char32_t c) {
        if (c >= 0x10000) {
            c -= 0x10000;
            unit(0xD800 + (c >> 10));
            unit(0xDC00 + (c & 0x3FF));
        } else {
            unit(c);
        }
    });
    return out;
}

std::size_t utf16Length(std::string_view text)
{
    std::size_t n = 0;
    walk8(text, [&](char32_t c) { n += c >= 0x10000 ? 2 : 1; });
    return n;
}

} // namespace vt::platform

namespace vt::platform
{

void utf16leToUtf8Into(const uint8_t *data, std::size_t size, char *out)
{
    const std::size_t ascii = asciiUnits(data, size / 2);
    for (std::size_t i = 0; i < ascii; ++i)
        *out++ = static_cast<char>(data[2 * i]);
    walk16(data + 2 * ascii, size - 2 * ascii, [&](char32_t c, bool byteEscape) {
        if (byteEscape) {
            *out++ = static_cast<char>(c & 0xFF);
        } else if (c < 0x80) {
            *out++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *out++ = static_cast<char>(0xC0 | (c >> 6));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out++ = static_cast<char>(0xE0 | (c >> 12));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *out++ = static_cast<char>(0xF0 | (c >> 18));
            *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    });
}

} // namespace vt::platform
