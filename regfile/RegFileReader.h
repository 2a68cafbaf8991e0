// Registry file reader: applies a registry file (version 4 or 5) or the
// lines of a change log to the registry.
#pragma once

#include "core/kltRegistry.h"
#include "regfile/RegFileText.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A registry file read line by line (split at CR LF, CR or LF) with a bounded
// buffer; the UTF-16LE text of a version 5 file comes as UTF-8.
class TRegFileLineSource
{
public:
    TRegFileLineSource();
    ~TRegFileLineSource();
    TRegFileLineSource(const TRegFileLineSource &) = delete;
    TRegFileLineSource &operator=(const TRegFileLineSource &) = delete;

    // Checks the header. False, with Error() saying why, for a file that is
    // missing, unreadable, not a regular file or not a registry file.
    bool Open(const std::string &fileName);
    // The next line, the header first; false at the end or for a line longer
    // than any value can be (TooLong()).
    bool Next(std::string &line);
    bool TooLong() const;
    bool Utf16() const { return m_utf16; }
    // Bytes of the file consumed so far, and its size, for progress.
    uint64_t BytesRead() const;
    uint64_t FileSize() const { return m_size; }
    const std::string &Error() const { return m_error; }

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    bool m_utf16 = false;
    uint64_t m_size = 0;
    std::string m_error;
};

// Turns the lines of a registry file into key lines and whole value lines:
// comments ("//" and ";") and empty lines are dropped, a line ending in a
// backslash is joined with the next one.
class TRegFileLineJoiner
{
public:
    enum TKind { lkNothing, lkKey, lkValue };
    // One line; for lkKey, text is the trimmed key line with its brackets, for
    // lkValue the joined value line. lineNumber counts from 1.
    TKind Feed(std::string_view line, size_t lineNumber, std::string &text);
    // Where the value line last returned began.
    size_t ValueStartLine() const { return m_valueLine; }
    void Reset()
    {
        m_pending.clear();
        m_pendingLine = m_valueLine = 0;
    }

private:
    std::string m_pending;
    size_t m_pendingLine = 0;
    size_t m_valueLine = 0;
};

// A value line's name and data part. "@" is the default value (Name empty,
// Default set); a quoted name loses its quotes and escapes.
struct TValueLineParts {
    std::string Name;
    std::string_view Data; // after the "=" that ends the name
    bool Default = false;
    bool Deletion = false; // "-name" or data "-"
    bool HasEquals = false;
};

class TMyRegistryReader
{
public:
    using TKeyEvent = std::function<void(HKEY root, const std::string &path, bool isDeletion)>;
    using TProgressEvent = std::function<void(size_t lineIndex, size_t lastLineIndex)>;

    TMyRegistryReader();
    virtual ~TMyRegistryReader();
    TMyRegistryReader(const TMyRegistryReader &) = delete;
    TMyRegistryReader &operator=(const TMyRegistryReader &) = delete;

    bool WriteToRegistry = false;
    // Reads "hex(N):" for any hexadecimal N back to that type code and its
    // bytes, as the command line's export writes them; the window keeps the
    // table of known types and ignores the rest.
    bool RawTypes = false;
    TKeyEvent OnKey;
    TProgressEvent OnProgress;

    HKEY CurrentRoot() const { return m_root; }
    const std::string &CurrentPath() const { return m_path; }

    // Reads and applies a file, line by line without holding it in memory.
    // Returns false, with LastError() saying why, for a file that is missing,
    // unreadable or not a registry file; nothing is applied then. Registry
    // write failures raise ERegistryException and end the import there.
    bool LoadFromFile(const std::string &fileName);
    const std::string &LastError() const { return m_lastError; }

    // Applies lines from the third on; the first names the version.
    void ParseLines(const std::vector<std::string> &lines);
    void ParseValueLine(const std::string &line);

    // The registry view keys are written in (32 or 64); the accessor's
    // default otherwise.
    void SetBitness(uint8_t bits);

    // Keys created or opened and keys deleted; values written and deleted.
    size_t KeysApplied() const { return m_keysApplied; }
    size_t ValuesApplied() const { return m_valuesApplied; }
    // Lines that were not applied when writing to the registry: key lines
    // under an unknown root or keys that could not be created or opened, the
    // lines below them, value lines of a type not understood and lines
    // without "=". FirstIgnoredLines holds the first few line numbers
    // (counted from 1, the first line of a continued value line).
    size_t IgnoredLines() const { return m_ignoredLines; }
    const std::vector<size_t> &FirstIgnoredLines() const { return m_firstIgnored; }
    // Key lines whose key could not be created or opened.
    size_t KeysFailed() const { return m_keysFailed; }
    static constexpr size_t MaxIgnoredLineNumbers = 5;

    // Ends a running parse after the current line; safe from an event handler.
    void Stop() { m_stop = true; }
    bool Stopped() const { return m_stop; }

    // The type of a data part and its text as the file view shows it.
    static TRegDataType ParseDataType(std::string_view dataPart, std::string *displayText = nullptr,
                                      THexTextEncoding encoding = THexTextEncoding::Guess);

    static TValueLineParts SplitValueLine(std::string_view line);

    // The lines of a UTF-16LE file with byte order mark, as 8-bit text.
    static bool ReadUtf16File(const std::string &fileName, std::vector<std::string> &list);

protected:
    void beginParse(std::string_view header);
    void handleLine(std::string_view line);
    void handleKeyLine(std::string_view line);
    void ignoreLine(size_t lineNumber);

    TMyRegistry m_reg;
    HKEY m_root = nullptr;
    std::string m_path;
    bool m_keyOpen = false;
    TRegFileLineJoiner m_joiner;
    THexTextEncoding m_encoding = THexTextEncoding::Guess;
    size_t m_keysApplied = 0;
    size_t m_valuesApplied = 0;
    size_t m_ignoredLines = 0;
    size_t m_keysFailed = 0;
    std::vector<size_t> m_firstIgnored;
    size_t m_lineNumber = 0;  // of the line being handled, from 1
    size_t m_pendingLine = 0; // where the continued line in m_pending began
    std::atomic<bool> m_stop{false};
    std::string m_lastError;
};
