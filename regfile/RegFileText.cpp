#include "regfile/RegFileText.h"

#include "core/zoStrings.h"
#include "platform/hive/Utf8.h"

#include <array>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace
{

const char HexDigits[] = "0123456789ABCDEF";

// Decodes one UTF-8 sequence at p[i]; a byte that starts none comes back as
// U+DC00 + byte so that it survives the trip through UTF-16.
char32_t decodeUtf8(const unsigned char *p, size_t n, size_t &i)
{
    const unsigned char b = p[i];
    auto cont = [&](size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
    if (b < 0x80) {
        i += 1;
        return b;
    }
    if ((b & 0xE0) == 0xC0 && b >= 0xC2 && cont(1)) {
        char32_t c = ((b & 0x1F) << 6) | (p[i + 1] & 0x3F);
        i += 2;
        return c;
    }
    if ((b & 0xF0) == 0xE0 && cont(1) && cont(2)) {
        char32_t c = ((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
        if (c >= 0x800) {
            i += 3;
            return c;
        }
    }
    if ((b & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
        char32_t c = ((b & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12) | ((p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            i += 4;
            return c;
        }
    }
    i += 1;
    return 0xDC00 | b;
}

template <typename Unit> void encodeUtf16(std::string_view text, Unit unit)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    for (size_t i = 0; i < text.size();) {
        char32_t c = decodeUtf8(p, text.size(), i);
        if (c >= 0x10000) {
            c -= 0x10000;
            unit(static_cast<char16_t>(0xD800 + (c >> 10)));
            unit(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            unit(static_cast<char16_t>(c));
        }
    }
}

void putUtf8(char32_t c, std::string &out)
{
    if (c >= 0xDC80 && c <= 0xDCFF) // a byte that was not UTF-8
        out.push_back(static_cast<char>(c & 0xFF));
    else
        vt::unicode::appendUtf8(out, c);
}

template <typename Get> std::string decodeUtf16(size_t n, Get unitAt)
{
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        char32_t u = unitAt(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            char32_t v = unitAt(i + 1);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                putUtf8(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00), out);
                ++i;
                continue;
            }
        }
        putUtf8(u, out);
    }
    return out;
}

} // namespace

std::string EscapeRegString(std::string_view text)
{
    // Through a pointer into room for the worst case: exports escape every
    // string they write.
    std::string out(text.size() * 2, '\0');
    char *p = out.data();
    for (char c : text) {
        if (c == '\\' || c == '"')
            *p++ = '\\';
        *p++ = c;
    }
    out.resize(size_t(p - out.data()));
    return out;
}

std::string UnescapeRegString(std::string_view text)
{
    std::string pass;
    pass.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        pass.push_back(text[i]);
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\')
            ++i;
    }
    std::string out;
    out.reserve(pass.size());
    for (size_t i = 0; i < pass.size(); ++i) {
        if (pass[i] == '\\' && i + 1 < pass.size() && pass[i + 1] == '"')
            continue;
        out.push_back(pass[i]);
    }
    return out;
}

std::string FormatHexList(const uint8_t *data, size_t size, size_t startColumn)
{
    // Exports spend much of their time here: the result is written through a
    // pointer into room for the longest one, a line's bytes at a time, each
    // byte's two digits from a table.
    static const auto digits = [] {
        std::array<std::array<char, 2>, 256> t{};
        for (size_t b = 0; b < 256; ++b)
            t[b] = {HexDigits[b >> 4], HexDigits[b & 0xF]};
        return t;
    }();
    std::string out(size * 3 + (size / 24 + 2) * 5, '\0');
    char *p = out.data();
    size_t column = startColumn;
    for (size_t i = 0; i < size;) {
        // Every byte but the last is followed by a comma; the line breaks
        // after the comma that takes it past column 76.
        const size_t fit = column > 76 ? 1 : (76 - column) / 3 + 1;
        const size_t take = std::min(fit, size - i);
        for (size_t j = 0; j < take; ++j, p += 3) {
            std::memcpy(p, digits[data[i + j]].data(), 2);
            p[2] = ',';
        }
        i += take;
        column += 3 * take;
        if (i == size) {
            --p; // no comma after the last byte
            break;
        }
        std::memcpy(p, "\\\r\n  ", 5);
        p += 5;
        column = 2;
    }
    out.resize(size_t(p - out.data()));
    return out;
}

std::string FormatHexList(const TRegByteArray &data, size_t startColumn)
{
    return FormatHexList(data.data(), data.size(), startColumn);
}

TRegByteArray HexListToBytes(std::string_view dataPart)
{
    size_t colon = dataPart.find(':');
    std::string_view list = colon == std::string_view::npos ? dataPart : dataPart.substr(colon + 1);
    TRegByteArray out;
    out.reserve(list.size() / 3 + 1);
    int high = -1;
    for (char c : list) {
        if (c == ',' || c == ' ' || c == '\t')
            continue;
        int v = HexDigitValue(c);
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

bool HexListIsWellFormed(std::string_view dataPart)
{
    const size_t colon = dataPart.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view list = dataPart.substr(colon + 1);
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    size_t i = 0;
    const size_t n = list.size();
    while (i < n && blank(list[i]))
        ++i;
    if (i == n)
        return true;
    for (;;) {
        if (i + 2 > n || !hex(list[i]) || !hex(list[i + 1]))
            return false;
        i += 2;
        while (i < n && blank(list[i]))
            ++i;
        if (i == n)
            return true;
        if (list[i] != ',')
            return false;
        ++i;
        while (i < n && blank(list[i]))
            ++i;
        if (i == n)
            return true; // one comma at the end
    }
}

TRegByteArray HexListToStringData(std::string_view dataPart, bool utf16)
{
    TRegByteArray bytes = HexListToBytes(dataPart);
    if (!utf16 || bytes.size() % 2 != 0)
        return bytes;
    std::string text = Utf16leBytesToUtf8(bytes.data(), bytes.size());
    return TRegByteArray(text.begin(), text.end());
}

std::string HexListToText(std::string_view dataPart, THexTextEncoding encoding)
{
    TRegByteArray bytes = HexListToBytes(dataPart);
    std::string text;
    const size_t n = bytes.size();
    const bool lastThreeZero = n >= 3 && bytes[n - 1] == 0 && bytes[n - 2] == 0 && bytes[n - 3] == 0;
    if (encoding == THexTextEncoding::Utf16 && n % 2 == 0) {
        text = Utf16leBytesToUtf8(bytes.data(), n);
    } else if (encoding == THexTextEncoding::Guess && lastThreeZero) {
        for (size_t i = 0; i < n; i += 2)
            text.push_back(static_cast<char>(bytes[i]));
    } else {
        text.assign(bytes.begin(), bytes.end());
    }
    if (text.size() >= 2 && text[text.size() - 1] == 0 && text[text.size() - 2] == 0)
        text.resize(text.size() - 2);
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != 0)
            out.push_back(text[i]);
        else if (i + 1 < text.size())
            out.append("\r\n");
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    encodeUtf16(text, [&](char16_t u) { out.push_back(u); });
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    return decodeUtf16(text.size(), [&](size_t i) { return static_cast<char32_t>(text[i]); });
}

void AppendUtf16le(std::string_view text, std::string &out)
{
    // Registry text is mostly ASCII: that run is widened many characters per
    // step, into room made for it (UTF-16 never takes more than twice the
    // UTF-8 bytes).
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    const size_t at = out.size();
    out.resize(at + 2 * n);
    char *p = out.data() + at;
    size_t i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16, p += 32) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        if (_mm_movemask_epi8(v))
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 16), _mm_unpackhi_epi8(v, zero));
    }
#else
    for (; i + 8 <= n; i += 8, p += 16) {
        uint64_t w;
        std::memcpy(&w, s + i, 8);
        if (w & 0x8080808080808080ull)
            break;
        for (size_t k = 0; k < 8; ++k) {
            p[2 * k] = static_cast<char>(s[i + k]);
            p[2 * k + 1] = '\0';
        }
    }
#endif
    for (; i < n && s[i] < 0x80; ++i) {
        *p++ = static_cast<char>(s[i]);
        *p++ = '\0';
    }
    encodeUtf16(text.substr(i), [&](char16_t u) {
        *p++ = static_cast<char>(u & 0xFF);
        *p++ = static_cast<char>(u >> 8);
    });
    out.resize(static_cast<size_t>(p - out.data()));
}

std::string Utf16leBytesToUtf8(const uint8_t *data, size_t size)
{
    return decodeUtf16(size / 2, [&](size_t i) { return static_cast<char32_t>(data[2 * i] | (data[2 * i + 1] << 8)); });
}
