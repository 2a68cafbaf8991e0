// Registry file reader: applies a registry file (version 4 or 5) or the
// lines of a change log to the registry.
#pragma once

#include "core/kltRegistry.h"
#include "regfile/RegFileText.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

    // Keys created or opened and keys deleted; values written and deleted.
    size_t KeysApplied() const { return m_keysApplied; }
    size_t ValuesApplied() const { return m_valuesApplied; }

    // Ends a running parse after the current line; safe from an event handler.
    void Stop() { m_stop = true; }
    bool Stopped() const { return m_stop; }

    // The type of a data part and its text as the file view shows it.
    static TRegDataType ParseDataType(std::string_view dataPart, std::string *displayText = nullptr,
                                      THexTextEncoding encoding = THexTextEncoding::Guess);

    // The lines of a UTF-16LE file with byte order mark, as 8-bit text.
    static bool ReadUtf16File(const std::string &fileName, std::vector<std::string> &list);

protected:
    void beginParse(std::string_view header);
    void handleLine(std::string_view line);
    void handleKeyLine(std::string_view line);

    TMyRegistry m_reg;
    HKEY m_root = nullptr;
    std::string m_path;
    bool m_keyOpen = false;
    std::string m_pending;
    THexTextEncoding m_encoding = THexTextEncoding::Guess;
    size_t m_keysApplied = 0;
    size_t m_valuesApplied = 0;
    std::atomic<bool> m_stop{false};
    std::string m_lastError;
};
