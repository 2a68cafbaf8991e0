// A registry file as a tree of keys with the values of each key, optionally
// compared value by value with the registry, for the main window's file view.
// Nothing here writes to the registry.
#pragma once

#include "core/kltRegistry.h"
#include "regfile/RegFileReader.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One value line of the file.
struct TFileValueRecord {
    std::string Name;              // as in the file: quotes and escapes removed, "@" for the default value
    TRegDataType Type = rdUnknown; // rdUnknown: data the file view does not understand
    std::string DisplayText;
    int32_t Size = 0;          // DataSizeFromText
    int Icon = -1;             // DataTypeImageIndex
    char Marker = 'U';         // N not in registry, T other type, C other data, U nothing found different
    std::string RegistryText;  // the registry's data as compared; empty when none was read or RegistrySame
    bool RegistrySame = false; // the registry's text is the display text (held once)

    // DataTypeToName of the type; "REG_NONE" for data not understood.
    std::string TypeName() const;
    // The text of the Registry Value column.
    const std::string &RegistryValueText() const { return RegistrySame ? DisplayText : RegistryText; }
};

// A key of the file; the file's own node is the top one.
class TFileKeyNode
{
public:
    explicit TFileKeyNode(std::string text = {}) : Text(std::move(text)) {}

    std::string Text;
    std::vector<std::unique_ptr<TFileKeyNode>> Children;
    std::vector<TFileValueRecord> Records;

    // The child whose text equals name without regard to case.
    TFileKeyNode *FindChild(std::string_view name) const;
    TFileKeyNode *AddChild(std::string name);

private:
    // By case-folded text, once a node has more children than a scan should
    // pass; most keys have a few.
    std::unordered_map<std::string, TFileKeyNode *> m_index;
    static constexpr size_t IndexFrom = 16;
};

// Reads a file into a tree below its file node (named after the file).
class TRegFileView
{
public:
    // compare: every value is compared with the registry as it is read.
    explicit TRegFileView(bool compare);
    ~TRegFileView();
    TRegFileView(const TRegFileView &) = delete;
    TRegFileView &operator=(const TRegFileView &) = delete;

    // Bytes read and the file's size; fired every few thousand lines.
    std::function<void(uint64_t done, uint64_t total)> OnProgress;

    // The whole file, streamed. False, with Error() saying why, for a file
    // that is missing, unreadable, not a registry file or cut off by a line
    // longer than any value; the tree is empty then.
    bool LoadFromFile(const std::string &fileName);
    const std::string &Error() const { return m_error; }
    // Ends LoadFromFile after the current line; safe from OnProgress. The
    // tree keeps what was read, and LoadFromFile reports failure.
    void Stop() { m_stop = true; }

    // The lines of a file, the header first: the header names the version
    // (and so how hex(2) and hex(7) lists are read) and is not a key line.
    void ParseFileIntoTree(const std::vector<std::string> &lines);
    // Walks to the node of a key line's text (between the brackets), adding
    // nodes as needed, and makes it the current node. A line of more levels
    // than a registry nests (root, then MaxKeyDepth keys) gives none: it and
    // its values are not shown.
    TFileKeyNode *FindOrAddFileKeyNode(const std::string &keyText);
    static constexpr size_t MaxKeyDepth = 512;
    // A value line, for the node; lines without "=" add nothing.
    void AddFileValueRecord(const std::string &line, TFileKeyNode *node);

    TFileKeyNode &FileNode() { return m_file; }
    bool Compare() const { return m_compare; }
    size_t KeyLines() const { return m_keyLines; }
    size_t ValueRecords() const { return m_valueRecords; }

private:
    void beginLines(std::string_view header);
    void handleLine(std::string_view line, size_t lineNumber);
    void compareRecord(TFileValueRecord &record, const TValueLineParts &parts);

    bool m_compare;
    TFileKeyNode m_file;
    TFileKeyNode *m_current = nullptr;
    TRegFileLineJoiner m_joiner;
    THexTextEncoding m_encoding = THexTextEncoding::Guess;
    std::unique_ptr<TMyRegistry> m_reg; // one read-only accessor for the whole run
    bool m_keyOpen = false;
    size_t m_keyLines = 0;
    size_t m_valueRecords = 0;
    std::atomic<bool> m_stop{false};
    std::string m_error;
};

// The Size column of a file value: characters for the string types, listed
// bytes for the binary types, 4 or 8 for the numbers, else 0.
int32_t DataSizeFromText(const std::string &displayText, TRegDataType type);

// The bytes a file row's hex dump shows: the listed bytes for rows shown as
// spaced hex, the characters of the text for strings and data not
// understood, none for numbers, multi-strings and REG_NONE.
TRegByteArray FileTextToBytes(const std::string &displayText, TRegDataType type);

// Background colour of a row by its marker (0x00BBGGRR); 0 for the list's own.
uint32_t FileMarkerColor(char marker);

// The difference paragraph of a compared row's hint; valueCaption is the
// caption of the Value column as shown.
std::string FileDifferenceText(char marker, const std::string &valueCaption, const std::string &registryText);
