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

// What reading a hive had to repair, replay or leave out, so that a caller
// can tell the user that what is mounted is not all the file held.
struct RecoveryReport {
    bool recovered = false;        // anything repaired, skipped or replayed
    bool logsApplied = false;      // a dirty hive was brought up to date from its logs
    bool logsUnusable = false;     // a dirty hive's logs were missing or refused (e.g. a bad
                                   // base-block checksum): it is used as it stands
    uint64_t binBytesDeclared = 0; // the hive bins' size the header states
    uint64_t binBytesKept = 0;     // the run of sound bins that was read
    uint64_t keysDropped = 0;      // subkeys listed by their parents that could not be read
    uint64_t valuesDropped = 0;    // values listed by their keys that could not be read
};

// Parses a hive image. Returns ERROR_SUCCESS, ERROR_NOT_REGISTRY_FILE (no regf
// signature / not a hive), ERROR_REGISTRY_CORRUPT or ERROR_BADDB (structure
// damaged beyond what Windows recovers). `recovered` tells whether anything
// had to be repaired or skipped.
LONG readHive(std::span<const uint8_t> bytes, Hive &out, bool *recovered = nullptr);
LONG readHive(std::span<const uint8_t> bytes, Hive &out, RecoveryReport &report);

// Reads a hive file; when its header says it is dirty and transaction logs
// (.LOG1/.LOG2, or the old .LOG) lie beside it, applies them first, as Windows
// does. The files on disk are not changed. A dirty hive whose logs are missing
// or unusable is read as it stands, with `recovered` set. A log whose base
// block fails its checksum is not used. Files over 2 GiB,
// Windows' own limit, are refused with ERROR_REGISTRY_CORRUPT.
LONG loadHiveFile(const std::string &path, Hive &out, bool *recovered = nullptr);
LONG loadHiveFile(const std::string &path, Hive &out, RecoveryReport &report);

// The bytes of a file read as a hive is: read-only, regular files only (a
// FIFO or device is refused with ERROR_CANTREAD), at most 2 GiB.
LONG readHiveFileBytes(const std::string &path, std::vector<uint8_t> &out);

// Serialises a hive to a valid, clean regf image that hivex, reglookup and
// libregf read back identically. Volatile keys are left out; keys without a
// security descriptor inherit their parent's (the root a default one); names
// are stored compressed where `nameCompressed` asks and the name allows.
std::vector<uint8_t> writeHive(const Hive &hive);

// Takes a hive image as the writer lays it out: bytes appended in file order,
// and now and then a few bytes written again over what was appended (fields
// filled in once what they point to is laid out, the base block last). A
// false return stops the writing; the sink keeps its own error.
class ImageSink
{
public:
    virtual ~ImageSink() = default;
    virtual bool append(const uint8_t *bytes, size_t n) = 0;
    virtual bool overwrite(uint64_t offset, const uint8_t *bytes, size_t n) = 0;
};

// The same image, handed to `sink` a MiB at a time, so that writing a
// hive does not hold a second copy of it in memory.
void writeHive(const Hive &hive, ImageSink &sink);

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
