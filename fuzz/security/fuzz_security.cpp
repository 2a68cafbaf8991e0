// Descriptors come from hive files and SDDL from users: anything must be
// refused or handled, and whatever is accepted must keep its invariants.
#include "platform/SecurityApi.h"
#include "platform/security/SecurityDescriptor.h"

#include <cstring>

#include <cstdlib>

using namespace vt::security;

namespace
{

// The advapi32 functions over the same bytes. Like Windows' they take no
// length, so they run only on what a caller holding the byte count passes:
// a self-relative descriptor whose parts lie inside the bytes. The bytes sit
// in a heap block of exactly their size, so a read past them is caught.
void advapiConversions(std::span<const uint8_t> in, SECURITY_INFORMATION parts, bool valid)
{
    Bytes copy(in.begin(), in.end());
    if (copy.size() >= 8 && copy[0] == 1 && copy.size() >= 8 + 4 * std::size_t(copy[1])) {
        LPSTR sid = nullptr;
        if (ConvertSidToStringSidA(copy.data(), &sid) == (copy[1] > 15))
            std::abort();
        LocalFree(sid);
    }
    if (copy.size() < 20 || !(((copy[3] << 8) | copy[2]) & SE_SELF_RELATIVE) ||
        vt::platform::detail::selfRelativeExtent(copy.data(), copy.size()) == 0)
        return;
    LPSTR text = nullptr;
    const BOOL ok =
        ConvertSecurityDescriptorToStringSecurityDescriptorA(copy.data(), SDDL_REVISION_1, parts, &text, nullptr);
    if (ok && !valid)
        std::abort();
    if (!ok) {
        const DWORD e = GetLastError();
        if (e != ERROR_INVALID_SECURITY_DESCR && e != ERROR_INVALID_ACL && e != ERROR_UNKNOWN_REVISION)
            std::abort();
        return;
    }
    const std::string printed = text;
    LocalFree(text);
    // Absolute and back: the same text.
    DWORD abs = 0, dacl = 0, sacl = 0, owner = 0, group = 0;
    if (MakeAbsoluteSD(copy.data(), nullptr, &abs, nullptr, &dacl, nullptr, &sacl, nullptr, &owner, nullptr, &group) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        std::abort();
    SECURITY_DESCRIPTOR sd{};
    Bytes d(dacl + 1), s(sacl + 1), o(owner + 1), g(group + 1);
    if (!MakeAbsoluteSD(copy.data(), &sd, &abs, reinterpret_cast<PACL>(d.data()), &dacl,
                        reinterpret_cast<PACL>(s.data()), &sacl, o.data(), &owner, g.data(), &group))
        std::abort();
    DWORD len = 0;
    MakeSelfRelativeSD(&sd, nullptr, &len);
    Bytes back(len);
    if (!MakeSelfRelativeSD(&sd, back.data(), &len))
        std::abort();
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(back.data(), SDDL_REVISION_1, parts, &text, nullptr))
        std::abort();
    if (printed != text)
        std::abort();
    LocalFree(text);
}

} // namespace

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
    advapiConversions(in, parts, valid);
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
