// Values as the query verb prints them.
#pragma once

#include "core/kltRegistry.h"

#include <string>

namespace vt::cli
{

// "REG_SZ", ...; a code without a name as 0x and its hex digits.
std::string typeName(uint32_t code);

// The data column: strings up to their first zero, multi-strings joined by
// \0, numbers as 0x and lower-case hex digits, everything else as
// contiguous upper-case hex.
std::string dataText(uint32_t code, const TRegByteArray &data);

// "    name    TYPE    data", "(Default)" for the empty name.
std::string valueLine(const std::string &name, uint32_t code, const TRegByteArray &data);

} // namespace vt::cli
