#include "editors/ResourceRequirements.h"

#include "core/zoStrings.h"

namespace vt::editors
{

namespace
{

constexpr size_t HeaderSize = 40;     // list header and the first list's header
constexpr size_t DescriptorSize = 32; // IO_RESOURCE_DESCRIPTOR

uint32_t le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }

} // namespace

std::string ResourceTypeName(uint8_t type)
{
    switch (type & 0x0F) {
    case 1:
        return "Port";
    case 2:
        return "Interrupt";
    case 3:
        return "Memory";
    case 4:
        return "DMA";
    default:
        return "Type " + std::to_string(type);
    }
}

bool DecodeResourceRequirements(const uint8_t *data, size_t size, std::vector<TResourceRequirement> &rows)
{
    rows.clear();
    if (!data || size < HeaderSize)
        return false;
    const uint32_t listSize = le32(data);
    const uint32_t count = le32(data + 36);
    if (listSize != size || count != (size - HeaderSize) / DescriptorSize)
        return false;
    rows.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *d = data + HeaderSize + size_t(i) * DescriptorSize;
        TResourceRequirement row;
        const uint8_t option = d[0], type = d[1];
        row.type = ResourceTypeName(type);
        if ((type & 0x0F) == 2 || (type & 0x0F) == 4) {
            const uint16_t low = le16(d + 8), high = le16(d + 12);
            row.minimum = ByteToHexText(uint8_t(low >> 8)) + ByteToHexText(uint8_t(low));
            row.maximum = ByteToHexText(uint8_t(high >> 8)) + ByteToHexText(uint8_t(high));
        } else {
            row.minimum = Int32ToHexText(le32(d + 16));
            row.maximum = Int32ToHexText(le32(d + 24));
            row.length = ByteToHexText(d[8]);
            row.align = ByteToHexText(d[12]);
        }
        if (option & 8)
            row.options += "Alternative ";
        if (option & 1)
            row.options += "Preferred ";
        if (type & 16)
            row.options += "Device-exclusive ";
        rows.push_back(std::move(row));
    }
    return true;
}

} // namespace vt::editors
