// Descriptors come from hive files and SDDL from users: anything must be
// refused or handled, and whatever is accepted must keep its invariants.
#include "platform/security/SecurityDescriptor.h"

#include <cstdlib>

using namespace vt::security;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const SECURITY_INFORMATION parts = data[0] >> 1;
    std::span<const uint8_t> in(data + 1, size - 1);
    const Token token{"S-1-5-21-1-2-3-1001", {"S-1-5-32-544", "S-1-1-0"}, false};

    if (data[0] & 1) {
        std::string_view text(reinterpret_cast<const char *>(in.data()), in.size());
        sidFromString(text);
        auto sd = descriptorFromSddl(text);
        if (!sd)
            return 0;
        if (!isValidDescriptor(*sd))
            std::abort();
        // What we print must read back to the same text.
        std::string printed = descriptorToSddl(*sd);
        auto again = descriptorFromSddl(printed);
        if (!again || descriptorToSddl(*again) != printed)
            std::abort();
        return 0;
    }

    const bool valid = isValidDescriptor(in);
    const std::string printed = descriptorToSddl(in);
    if (!valid && !printed.empty())
        std::abort();
    if (!printed.empty()) {
        auto back = descriptorFromSddl(printed);
        if (!back || descriptorToSddl(*back) != printed)
            std::abort();
    }
    ACCESS_MASK granted = 0;
    accessCheck(in, token, MAXIMUM_ALLOWED, granted);
    accessCheck(in, token, KEY_READ | KEY_WOW64_64KEY, granted);
    sidToString(in);

    const Bytes child = inheritForNewKey(in, token);
    if (!child.empty() && !isValidDescriptor(child))
        std::abort();
    const Bytes withGiven = inheritForNewKey(child, token, in);
    if (!withGiven.empty() && !isValidDescriptor(withGiven))
        std::abort();
    const Bytes selected = selectParts(in, parts);
    if (valid && !isValidDescriptor(selected))
        std::abort();
    Bytes merged;
    if (mergeParts(child, in, parts, merged) == ERROR_SUCCESS && !isValidDescriptor(merged))
        std::abort();
    return 0;
}
