// Walking a key's subtree by handle: each child is opened relative to its
// parent's open handle with its one name, never re-resolved from a path. A
// crafted hive's key named "" or "a\b" therefore cannot lead the walk back
// into its parent (endless recursion) or into some other key.
#pragma once

#include "core/kltRegistry.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Keys a walk left out, so that a caller can say so rather than pass a
// partial result for a whole one.
struct TKeyWalkReport {
    static constexpr std::size_t MaxNames = 5;

    std::size_t denied = 0;              // exist but do not open for reading (access, deleted meanwhile)
    std::size_t badNames = 0;            // names no path can address: empty or holding a backslash
    std::size_t nulNames = 0;            // names holding a NUL, which the A functions cannot express
    std::vector<std::string> firstNames; // full names of the first few keys left out

    // A bad name holding a NUL is counted apart; its NULs are listed as <NUL>.
    void skip(const std::string &fullName, bool badName);
    std::size_t skipped() const { return denied + badNames + nulNames; }
};

// A name with each NUL written as <NUL>, for messages and comments.
std::string ShowNuls(const std::string &text);

// False for a name that cannot be used as one path component: empty, or
// holding a backslash or a NUL.
bool IsAddressableKeyName(const std::string &name);

// Opens the subkey `name` of parent's open key for reading (KEY_READ), in the
// parent's view. False when the name is not addressable or the key does not
// open for reading.
bool OpenSubkeyForReading(TMyRegistry &parent, const std::string &name, TMyRegistry &child);

// A name as a lookup key that ignores letter case: two names the registry
// takes for the same key or value give the same text.
std::string FoldedKeyName(std::string_view name);
