// Registry file writer: whole files (version 4: 8-bit, version 5: UTF-16LE
// with byte order mark), key blocks and single value lines, also for the
// change logs and the search result export.
#pragma once

#include "core/kltRegistry.h"
#include "regfile/RegKeyWalk.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Append-only byte sink the writer builds its text in.
class TRegOutput
{
public:
    virtual ~TRegOutput() = default;
    virtual void append(std::string_view bytes) = 0;
};

// Keeps everything in memory (change logs, tests).
class TRegMemoryOutput : public TRegOutput
{
public:
    std::string bytes;
    void append(std::string_view data) override { bytes.append(data); }
};

// Streams into a file that replaces the named one only when commit() succeeds,
// so a large export never sits in memory and a failed one leaves the old file.
// Failures raise std::runtime_error with a message naming the file.
class TRegFileOutput : public TRegOutput
{
public:
    explicit TRegFileOutput(const std::string &fileName);
    ~TRegFileOutput() override;
    void append(std::string_view data) override;
    void commit();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Appends 8-bit (UTF-8) text; for version 5 files as UTF-16LE.
void WriteTextToStream(std::string_view text, TRegOutput &output, bool version5);

// "[HKEY_...\path]"; the path keeps its leading backslash.
std::string RegKeyLine(HKEY root, const std::string &path, bool deletion = false);
// "@" or the quoted name with backslashes doubled.
std::string RegValueNamePart(const std::string &name);

// The data part ("dword:...", "hex(7):...") of a value from its stored type
// code and raw bytes; startColumn is the length of the name part and "=".
// Returns false for
// the types a file cannot carry (REG_NONE, unknown codes, a REG_DWORD that is
// not 4 bytes long).
bool FormatRegDataPart(uint32_t typeCode, const uint8_t *data, size_t size, bool version5, size_t startColumn,
                       std::string &dataPart);

// A value line from held data, without CR LF (history records): the name is
// not escaped, the hex list starts at column 0, REG_EXPAND_SZ lists the held
// bytes. Empty for REG_NONE and unknown codes.
std::string FormatValueLineFromData(const std::string &name, uint32_t typeCode, const TRegByteArray &data);

// What a caller other than the window asks of an export.
struct TRegExportOptions {
    // REG_NONE, unknown type codes and a REG_DWORD of another size than 4 as
    // "hex(N):" lists (N in lower-case hexadecimal, as the system's own tool
    // writes it) instead of comments, so that nothing is lost on the way back.
    bool rawTypes = false;
    // Receives the keys the walk left out; may be null.
    TKeyWalkReport *skipped = nullptr;
};

// One value line, or the comment line that stands for it, with CR LF.
void WriteValueLine(TMyRegistry &reg, const std::string &name, TRegOutput &output, bool use64, bool version5,
                    bool rawTypes = false);

// A key that does not open is written as its key line only. Subkeys are
// reached by handle (RegKeyWalk.h); those with names no key line can carry
// are left out with a comment and reported.
void WriteKeyBlock(HKEY root, const std::string &path, TRegOutput &output, bool recursive, bool use64, bool version5,
                   const TRegExportOptions &options = {});
void WriteKeyTree(HKEY root, const std::string &path, TRegOutput &output, bool use64, bool version5);
void WriteKeyValues(HKEY root, const std::string &path, const std::vector<std::string> &names, bool use64,
                    bool version5, TRegOutput &output);
void WriteKeyValues(HKEY root, const std::string &path, const std::string &name, bool use64, bool version5,
                    TRegOutput &output);

// Writes a complete file; does nothing when the lists differ in length.
// Failures of single keys become comments in the file; a file that cannot
// be written raises std::runtime_error.
void ExportKeysToFile(const std::vector<HKEY> &roots, const std::vector<std::string> &paths, bool recursive, bool use64,
                      bool version5, const std::string &fileName, const TRegExportOptions &options = {});
void ExportKeyToFile(HKEY root, const std::string &path, const std::string &fileName, bool recursive, bool use64,
                     bool version5, const TRegExportOptions &options = {});
