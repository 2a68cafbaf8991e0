#pragma once
// The info database: free-text descriptions of keys (and values) kept in one
// file beside the program, "Vantrel.rdb". The file is a component stream:
// "TPF0", 0x01, per item its class name and four strings, 0x00.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vt::knowledge
{

// A file that cannot be read to its end or cannot be written; the message is
// meant for the user.
class EInfoDatabase : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct TRegistryInfoItem {
    std::string Key;   // root's full name + key path; a root alone without a backslash
    std::string Value; // empty: the item describes the key itself
    std::vector<std::string> Info;
    std::vector<std::string> URLs; // kept and written back, never shown
};

// A list as the file keeps it: every line followed by CR LF. Reading splits
// at CR, LF or CR LF; a break at the very end adds no empty line.
std::string ListToText(const std::vector<std::string> &lines);
std::vector<std::string> TextToList(std::string_view text);

// One string of the stream with the tag its text calls for: 0x06 for ASCII up
// to 255 characters, 0x0C for longer ASCII, 0x14 (UTF-8) for anything else.
void AppendInfoString(std::string &out, std::string_view text);

// What the key lookup compares: equal when the texts are equal after Unicode
// case folding. The index is keyed by exactly this form.
std::string FoldInfoKey(std::string_view text);
bool SameInfoKey(std::string_view a, std::string_view b);

// Files larger than this are not read (a damaged or foreign file, never a
// description database).
inline constexpr std::uint64_t InfoFileSizeLimit = 256ull << 20;

// The ordered collection: items read from the file, then those added in this
// run. Items never move in memory (pointers stay valid); an item's Key and
// Value must not be changed once added, as the lookups are indexed by them.
class TRegistryInfo
{
public:
    std::size_t Count() const { return m_items.size(); }
    TRegistryInfoItem &Item(std::size_t index) { return m_items[index]; }
    const TRegistryInfoItem &Item(std::size_t index) const { return m_items[index]; }
    TRegistryInfoItem &Add(std::string key, std::string value = {});
    void Clear();

    // The first item whose Key equals `key` (SameInfoKey) and whose Value is
    // empty; none when there is no such item.
    TRegistryInfoItem *FindKeyItem(std::string_view key);
    // The first item with both Key and a non-empty Value equal (SameInfoKey).
    TRegistryInfoItem *FindValueItem(std::string_view key, std::string_view value);

    // Appends the items of a whole stream. Stops at the first unreadable
    // string with EInfoDatabase ("Invalid stream format", "Invalid property
    // value", "Stream read error"); the items read completely before stay.
    void ReadFromBytes(const char *data, std::size_t size);
    std::string WriteToBytes() const;

    // Clears, then reads the file if there is one (a missing file leaves the
    // collection empty). Raises EInfoDatabase when the file is not a regular
    // file, too large, unreadable or stops early; the items read before stay,
    // and the file is marked to be kept aside before the next save.
    void LoadFromFile(const std::string &path);
    // Writes all items to a temporary file in the same folder, flushes it and
    // renames it over `path`. A file that did not read to its end is first
    // renamed to path + ".damaged" (".damaged.1", ... when taken). Raises
    // EInfoDatabase with the system's reason when it cannot.
    void SaveToFile(const std::string &path);

    // Whether the last LoadFromFile left a file that the next save keeps aside.
    bool KeepAsidePending() const { return m_keepAside; }
    // Where the last save kept the damaged file; empty when it did not.
    const std::string &KeptAsideAs() const { return m_keptAsideAs; }

private:
    // Open addressing over the hash of the folded text (key items: Key;
    // value items: Key, NUL, Value); a slot holds the first item of its
    // text, confirmed with SameInfoKey, so the index finds exactly what the
    // comparison matches. No text is copied into it.
    struct TIndex {
        struct Slot {
            std::uint64_t hash = 0; // 0: empty
            std::uint32_t item = 0;
        };
        std::vector<Slot> table;
        std::size_t used = 0;
    };
    void index(std::size_t at);
    TRegistryInfoItem *find(const TIndex &index, std::string_view key, std::string_view value);

    std::deque<TRegistryInfoItem> m_items;
    TIndex m_keyIndex;
    TIndex m_valueIndex;
    bool m_keepAside = false;
    std::string m_keepAsidePath; // the file that did not read to its end
    std::string m_keptAsideAs;
};

// The first free name of path + ".damaged", ".damaged.1", ".damaged.2", ...
std::string DamagedFileName(const std::string &path);

} // namespace vt::knowledge
