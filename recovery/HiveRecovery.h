// Deleted keys and values recovered from a hive file: one read-only pass over
// the bins that carves key (nk) and value (vk) cells out of free cells, out of
// the unused tail (slack) of allocated cells and out of bins beyond the end the
// base block declares, then links them to each other and to the live keys.
//
// The image is hostile input: every size, count and offset read from it is
// bounded by the cell it lies in and by the file; parent chains may loop; no
// read leaves the image and no allocation grows beyond what the image holds.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vt::recovery
{

// Where a record was found.
enum class Origin : uint8_t {
    Live,      // an allocated cell in a declared bin: part of the hive as it stands
    FreeCell,  // inside a free cell of a declared bin
    Slack,     // in the unused tail of an allocated cell
    RemnantBin // in a bin beyond the end of the bins the base block declares
};
const char *originName(Origin origin);

// How much of a recovered value's data could be read.
enum class DataState : uint8_t {
    Whole,   // all of it, from a cell that is free (or resident in the value)
    Partial, // the cell or the big-data segments hold less than the stated size
    Reused,  // the data cell is allocated again: the bytes may belong to something else
    Lost     // nothing readable where the data was
};
const char *dataStateName(DataState state);

struct RecoveredKey {
    uint32_t offset = 0;   // file offset of the cell (bin-relative offset + 4096)
    uint32_t cellSize = 0; // the cell's stated size (bounded by where it was found)
    Origin origin = Origin::Live;
    bool deleted() const { return origin != Origin::Live; }
    std::string name;    // UTF-8
    std::string rawName; // the name's bytes as stored
    bool nameCompressed = false;
    bool nameTruncated = false; // the stated name length overran the cell
    bool overlapping = false;   // starts inside another carved record: likely chance bytes
    uint16_t flags = 0;
    uint64_t lastWrite = 0; // FILETIME
    uint32_t parentCell = 0xFFFFFFFF;
    uint32_t subkeyCount = 0;
    uint32_t valueCount = 0;
    uint32_t valueListCell = 0xFFFFFFFF;
    uint32_t securityCell = 0xFFFFFFFF;
    uint32_t classCell = 0xFFFFFFFF;
    std::string className;         // when its cell still holds it
    std::vector<uint8_t> security; // self-relative descriptor, when its cell still holds one
    int32_t parent = -1;           // index into keys, -1 when not found
    bool isRoot = false;
    std::string path;               // backslash-separated path below the hive root; "" for the root
    bool pathComplete = true;       // false: the chain ends at a parent that is not in the file
    std::vector<uint32_t> children; // indexes of keys whose parent this is
    std::vector<uint32_t> values;   // indexes of deleted values placed here
};

struct RecoveredValue {
    uint32_t offset = 0;
    uint32_t cellSize = 0;
    Origin origin = Origin::FreeCell;
    std::string name;
    std::string rawName;
    bool nameCompressed = false;
    bool nameTruncated = false;
    bool overlapping = false;
    uint32_t type = 0;
    uint32_t dataSize = 0; // as stated, without the resident flag
    bool resident = false; // data held in the value cell itself
    uint32_t dataCell = 0xFFFFFFFF;
    std::vector<uint8_t> data; // what could be read (the raw bytes; strings as UTF-16LE)
    DataState dataState = DataState::Lost;
    int32_t key = -1; // index of the key whose value list held it; -1: unplaced
};

struct RecoveryResult {
    std::shared_ptr<const std::vector<uint8_t>> image; // the file's bytes, for live values
    uint32_t rootCell = 0xFFFFFFFF;
    int32_t root = -1;
    uint32_t minorVersion = 0;
    uint64_t binsDeclared = 0; // bytes of bins the base block covers
    uint32_t binsRead = 0;
    uint32_t remnantBins = 0;
    uint32_t damagedBins = 0; // bin headers that did not parse; the scan resumed at the next one
    uint64_t cellsScanned = 0;
    std::vector<RecoveredKey> keys;     // live keys and deleted ones; keys[i].deleted()
    std::vector<RecoveredValue> values; // deleted values only
    size_t deletedKeys = 0;
    size_t placedValues = 0;
    std::vector<std::string> notes; // what could not be read, for the user

    // Index of the key whose cell is at this file offset, or -1.
    int32_t keyAt(uint32_t fileOffset) const;
    // Index of the recovered value at this file offset, or -1.
    int32_t valueAt(uint32_t fileOffset) const;

    std::vector<std::pair<uint32_t, int32_t>> keyIndex;   // sorted by offset
    std::vector<std::pair<uint32_t, int32_t>> valueIndex; // sorted by offset
};

// The values a live key holds now, read from the image on demand (the pass does
// not copy live data). Bounded like the pass; unreadable entries are skipped.
std::vector<RecoveredValue> liveValues(const RecoveryResult &result, const RecoveredKey &key);

// Scans a hive image. False with `error` set when the image is no hive (no
// regf signature) or too short for one bin; the result is then empty.
bool recoverHive(std::shared_ptr<const std::vector<uint8_t>> image, RecoveryResult &out, std::string &error);
bool recoverHive(std::span<const uint8_t> image, RecoveryResult &out, std::string &error);
// Reads the file read-only (regular files only, at most 2 GiB) and scans it.
bool recoverHiveFile(const std::string &path, RecoveryResult &out, std::string &error);

// "2017-03-20 21:15:37" (UTC) of a FILETIME; empty for 0.
std::string fileTimeText(uint64_t fileTime);
// REG_SZ... for known codes, else "0x" and eight upper-case hex digits.
std::string valueTypeName(uint32_t type);

} // namespace vt::recovery
