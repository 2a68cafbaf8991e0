// Text pieces of registry files shared by the writer, the reader and the
// file view: string escaping, hex lists and the conversion between the 8-bit
// text the registry functions speak (UTF-8) and the UTF-16LE of version 5
// files.
#pragma once

#include "core/kltRegistry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr const char *RegFileHeader4 = "REGEDIT4";
inline constexpr const char *RegFileHeader5 = "Windows Registry Editor Version 5.00";

// Every backslash and double quote gets a backslash in front.
std::string EscapeRegString(std::string_view text);
// Backslash-backslash becomes one backslash, then backslash-quote a quote.
std::string UnescapeRegString(std::string_view text);

// Bytes as "XX," pairs wrapped after column 76 with a backslash, CR LF and
// two blanks; startColumn is the length of the line before the list.
std::string FormatHexList(const uint8_t *data, size_t size, size_t startColumn);
std::string FormatHexList(const TRegByteArray &data, size_t startColumn);

// The bytes of a hex list data part ("hex(7):61,00,..."): everything up to the
// first colon is dropped, commas and blanks are ignored, an odd last digit is
// dropped.
TRegByteArray HexListToBytes(std::string_view dataPart);
// True when the list after the first ':' is bytes of two hexadecimal digits
// separated by commas (blanks around them, one comma at the end, and an
// empty list allowed). An import refuses any other list, whatever its type
// code: "100" or a stray character would otherwise be stored as other bytes.
bool HexListIsWellFormed(std::string_view dataPart);

// The text a hex(2) or hex(7) list stands for, with the entries of a
// multi-string separated by CR LF. utf16 says the list holds UTF-16LE units
// (version 5 files); Bytes8 says 8-bit text. Guess, for text of unknown
// version, takes a list ending in three zero bytes as UTF-16.
enum class THexTextEncoding { Bytes8, Utf16, Guess };
std::string HexListToText(std::string_view dataPart, THexTextEncoding encoding = THexTextEncoding::Guess);

// The raw registry data of a hex(2) or hex(7) list: UTF-16 lists are turned
// into the 8-bit form with their zero units kept, 8-bit lists stay as they are.
TRegByteArray HexListToStringData(std::string_view dataPart, bool utf16);

// Lossless conversions: bytes that are not UTF-8 travel as U+DC80..U+DCFF and
// unpaired surrogates as their three-byte forms, like the registry functions.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
void AppendUtf16le(std::string_view text, std::string &out);
std::string Utf16leBytesToUtf8(const uint8_t *data, size_t size);
