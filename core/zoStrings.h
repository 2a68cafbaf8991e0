// Text forms of value data and the small string conversions shared by the
// layers. All texts are 8-bit; every hex digit produced is upper case.
#pragma once

#include "core/kltRegistry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Display forms
std::string FormatDWordText(uint32_t value); // 0x000000FF (255)
std::string FormatQWordText(int64_t value);  // 0xFFFFFFFFFFFFFFFF (-1)
int64_t ParseNumberText(const std::string &text);
uint32_t ParseNumberText32(const std::string &text); // low 32 bits of ParseNumberText
std::string FormatHexBytes(const uint8_t *data, size_t size, char separator = ' ');
std::string FormatHexBytes(const TRegByteArray &data, char separator = ' ');
std::string ByteToHexText(uint8_t value);
std::string Int32ToHexText(uint32_t value);
std::string Int64ToHexText(int64_t value);

// Digit conversions; no validation, stray characters count as 0.
int HexDigitValue(char c);
uint8_t HexPairToByte(const std::string &text);
uint32_t HexTextToInt32(const std::string &text);
int64_t HexTextToInt64(const std::string &text);
std::string Int32ToBinaryText(uint32_t value);
std::string Int64ToBinaryText(int64_t value);
uint32_t BinaryTextToInt32(const std::string &text);
int64_t BinaryTextToInt64(const std::string &text);

// String conversions
std::string HexPairsToText(const std::string &text, bool separated);
void SplitByChar(const std::string &text, char separator, std::vector<std::string> *list);
std::string ExpandLineBreakCodes(const std::string &text);
std::string EscapeRegExpText(const std::string &text);

// Multi-string data and its CR LF text form: every zero byte but a final one
// becomes CR LF and the text ends at the first zero left; the reverse turns
// each CR LF into a zero byte and appends one.
std::string MultiStringBytesToText(const uint8_t *data, size_t size);
TRegByteArray MultiStringTextToBytes(const std::string &text);

// The placeholder texts of the value column; callers that translate pass
// their own.
struct TDataTexts {
    std::string notDefined = "(Data not defined)";
    std::string notSupported = "(Data type not supported)";
    std::string binaryZero = "(Binary data of zero length)";
    std::string error = "(Error reading data)";
};

// Type column: the type name, "N/A" for rdUnknown and rdCardinal.
std::string DisplayTypeName(TRegDataType type);

// Value column of a value list row from a value's type and raw bytes.
// Sets ok to false (and returns texts.error) when the data cannot be shown
// in its type, e.g. a REG_DWORD longer than 4 bytes.
std::string ValueDisplayText(TRegDataType type, const uint8_t *data, size_t size, bool &ok,
                             const TDataTexts &texts = TDataTexts());

// Searchable one-line text of a value from its type and raw bytes.
std::string SearchableDataText(TRegDataType type, const uint8_t *data, size_t size);
