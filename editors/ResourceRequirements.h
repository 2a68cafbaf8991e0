// REG_RESOURCE_REQUIREMENTS_LIST data (the driver kit's
// IO_RESOURCE_REQUIREMENTS_LIST) as the rows of the requirements window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vt::editors
{

struct TResourceRequirement {
    std::string type;    // "Port", "Interrupt", "Memory", "DMA" or "Type n"
    std::string minimum; // hex digits
    std::string maximum;
    std::string length; // empty for Interrupt and DMA
    std::string align;
    std::string options; // "Alternative ", "Preferred ", "Device-exclusive " as set
};

// "Port", "Interrupt", "Memory", "DMA" from the low four bits of the type
// byte, else "Type " and the whole byte in decimal.
std::string ResourceTypeName(uint8_t type);

// Only data holding exactly one resource list whose descriptors fill the
// rest of the data decodes: ListSize equal to the length and the list's
// count equal to (length - 40) / 32. False (and no rows) otherwise.
bool DecodeResourceRequirements(const uint8_t *data, size_t size, std::vector<TResourceRequirement> &rows);

} // namespace vt::editors
