// Conversions between the UTF-8 the A functions speak and the UTF-16LE the
// hives store. Lossless both ways: unpaired surrogates travel as WTF-8, and
// bytes that are not UTF-8 travel as U+DC80..U+DCFF and come back as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vt::platform
{

// UTF-16LE bytes (an odd trailing byte is dropped, as Windows' conversion does).
std::string utf16leToUtf8(const uint8_t *data, std::size_t size);
std::vector<uint8_t> utf8ToUtf16le(std::string_view text);
// Length of the UTF-8 form of UTF-16LE data, without building it.
std::size_t utf8SizeOfUtf16le(const uint8_t *data, std::size_t size);
// Number of UTF-16 code units the UTF-8 text needs.
std::size_t utf16Length(std::string_view text);

inline bool isStringType(uint32_t type)
{
    return type == 1 || type == 2 || type == 7;
}

} // namespace vt::platform

namespace vt::platform
{
// Writes the UTF-8 form of UTF-16LE data to `out`, which holds utf8SizeOfUtf16le bytes.
void utf16leToUtf8Into(const uint8_t *data, std::size_t size, char *out);
} // namespace vt::platform
