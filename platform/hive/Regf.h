// Reading and writing regf hive files. Untrusted input: every offset, size and
// count is checked; a damaged file is refused with an error code (or
// recovered where Windows recovers), never a crash, hang or huge allocation.
#pragma once

#include "platform/hive/HiveTree.h"
#include "platform/win32.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vt::hive {

// Parses a hive image. Returns ERROR_SUCCESS, ERROR_NOT_REGISTRY_FILE (no regf
// signature / not a hive), ERROR_REGISTRY_CORRUPT or ERROR_BADDB (structure
// damaged beyond what Windows recovers). `recovered` tells whether anything
// had to be repaired or skipped.
LONG readHive(std::span<const uint8_t> bytes, Hive &out, bool *recovered = nullptr);

// Reads a hive file; when its header says it is dirty and transaction logs
// (.LOG1/.LOG2, or the old .LOG) lie beside it, applies them first, as Windows
// does. The files on disk are not changed. A dirty hive whose logs are missing
// or unusable is read as it stands, with `recovered` set. Files over 2 GiB,
// Windows' own limit, are refused with ERROR_REGISTRY_CORRUPT.
LONG loadHiveFile(const std::string &path, Hive &out, bool *recovered = nullptr);

// Serialises a hive to a valid, clean regf image that hivex, reglookup and
// libregf read back identically. Volatile keys are left out; keys without a
// security descriptor inherit their parent's (the root a default one); names
// are stored compressed where `nameCompressed` asks and the name allows.
std::vector<uint8_t> writeHive(const Hive &hive);

// Writes a hive durably: to a temporary file beside `path`, flushed, renamed
// into place, directory flushed. A crash at any moment leaves either the old
// or the new file whole, and perhaps the temporary file
// (`<path>.vtsave-XXXXXX`).
LONG saveHiveFile(const std::string &path, const Hive &hive);

// Marks the temporary files of saveHiveFile, distinct from a user's own.
inline constexpr const char *kSaveTempMarker = ".vtsave-";

// Removes what saves of `path` killed midway left beside it. Only for a
// caller that knows no save of that file is running.
void removeSaveLeftovers(const std::string &path);

} // namespace vt::hive
