// Recovered keys and values as text: display paths, data in the form the
// registry functions speak, and version 5 registry files to import elsewhere.
#pragma once

#include "recovery/HiveRecovery.h"

#include <string>
#include <vector>

class TRegOutput;

namespace vt::recovery
{

// The path below the hive's root, with "(unknown parent)" in front when the
// parent chain ends at a key the file no longer holds.
std::string displayPath(const RecoveredKey &key);
inline constexpr const char *kUnknownParent = "(unknown parent)";
inline constexpr const char *kUnplacedValues = "(unplaced values)";

// The value's bytes as the registry functions hand them out: strings and
// multi-strings as 8-bit (UTF-8) text with their zero terminators, everything
// else as stored.
std::vector<uint8_t> apiData(const RecoveredValue &value);

// "name"=data, or @=data, for a version 5 file (no CR LF). Types a file
// cannot carry as text (REG_NONE, unknown codes, a REG_DWORD of another size
// than 4) become hex(N) lists of the raw bytes, so nothing is lost.
std::string regValueLine(const RecoveredValue &value);

// What goes into a registry file: one block per key path, in order.
struct RegBlock {
    std::string path; // below the base key, backslash-separated; may be empty
    std::vector<RecoveredValue> values;
};

// A whole version 5 file: the header, then for each block the key line
// "[base\path]" and its value lines. `base` is the full key the recovered
// items go under (e.g. HKEY_CURRENT_USER\SYSTEM).
void writeRegFile(const std::string &base, const std::vector<RegBlock> &blocks, TRegOutput &output);

// The blocks of every deleted key (and of each live key that holds placed
// deleted values), ordered by path, and the unplaced values last, each block
// under the file's name. keys/values choose what to include.
std::vector<RegBlock> recoveredBlocks(const RecoveryResult &result, bool keys, bool values);

} // namespace vt::recovery
