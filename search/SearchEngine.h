// The search walk: key names, value names and value data below one key or in
// the whole registry, tested with the compare rules. It runs on any thread;
// results, status and the stop request pass through the hooks below, so the
// window can walk on a worker and the tests can walk in place.
#pragma once

#include "core/kltRegistry.h"
#include "search/CompareRules.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vt::search
{

// A result row's kind, which is also its image index.
enum TResultKind : uint8_t {
    rkKey = 0,        // key found in view mode 0
    rkValueName = 1,  // value name
    rkData = 2,       // data of a value that is not a string
    rkStringData = 3, // data of a string value
    rkKey32 = 4,      // key found in view mode 1
    rkKey64 = 5,      // key found in view mode 2
};

inline bool IsKeyKind(int kind)
{
    return kind == rkKey || kind == rkKey32 || kind == rkKey64;
}

// One result row's data.
struct TSearchListItem {
    std::string Caption; // the Key column
    HKEY RootKey = nullptr;
    // Key results: the key's path; value and data results: the path of the
    // key holding the value, with its trailing backslash.
    std::string KeyPath;
    std::string ValueName;
    TRegDataType DataType = rdUnknown;
    std::string DataText;
    uint8_t Failed = 0;
    uint8_t ViewMode = 0;
    uint8_t ImageIndex = rkKey;
    bool Checked = true;
};

enum TSearchDateMode : uint8_t { dmAnyDate = 0, dmNewer = 1, dmOlder = 2, dmBetween = 3, dmOutside = 4 };

struct TSearchOptions {
    std::string Pattern; // as matched: a hex term already turned into its bytes
    TCompareStyle Style = csSubstring;
    bool IgnoreCase = false;
    bool Keys = true;
    bool Values = true;
    bool Data = true;
    bool TypeStrings = true;
    bool TypeNumerics = true;
    bool TypeBinary = false;
    bool HighSpeed = false;
    uint8_t DateMode = dmAnyDate;
    TDateTime Date1 = 0;
    TDateTime Date2 = 0;
};

// Whether a key's last-write time (0: unknown, passes) satisfies the mode.
bool KeyDatePasses(TDateTime keyTime, uint8_t mode, TDateTime d1, TDateTime d2);

// The hex form: pairs of hex digits, each optionally followed by one blank.
bool ValidHexTerm(const std::string &term);
// Blanks removed, each pair turned into the byte it names ("41 42" is "AB").
std::string HexTermToText(const std::string &term);

// The order of the result list: the way the system's locale comparison of
// 8-bit strings (lstrcmpA) orders key names, case-insensitive first, with
// punctuation before digits before letters, hyphens and apostrophes weighed
// only when all else is equal, and lower case before upper case in a tie.
int CompareCaptions(const std::string &a, const std::string &b);

class TSearchWalk
{
public:
    // Prepares the pattern once; raises ERegExpr when a regular expression
    // does not compile, before anything is walked.
    explicit TSearchWalk(const TSearchOptions &options);
    ~TSearchWalk();

    // Receives each result in walk order.
    std::function<void(TSearchListItem &&)> OnResult;
    // Before each key is searched (not in high speed mode): root and path.
    std::function<void(HKEY root, const std::string &path)> OnStatus;
    // Tested before each key and before each root of a whole-registry search.
    const std::atomic<bool> *StopFlag = nullptr;
    // Whether to walk HKLM\SOFTWARE once per registry view.
    bool IsWow64 = false;

    // Everything below one key (the key's own name is not tested).
    void SearchBranch(HKEY root, const std::string &startPath, uint8_t viewMode);
    // HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG
    // and HKEY_DYN_DATA, in that order.
    void SearchRegistry();

    bool StopRequested() const { return StopFlag && StopFlag->load(std::memory_order_relaxed); }
    uint64_t KeysSearched() const { return m_keys; }
    // Names and data the regular expression could not decide (its limits
    // reached): neither results nor misses, so the search says so.
    uint64_t Undecided() const { return m_pattern->Undecided(); }
    const std::string &UndecidedReason() const { return m_pattern->UndecidedReason(); }

private:
    bool dataTypeWanted(TRegDataType type) const;
    bool keyDatePasses(HKEY root, const std::string &path, uint8_t viewMode);

    TSearchOptions m_options;
    std::unique_ptr<TPattern> m_pattern;
    uint64_t m_keys = 0;
};

} // namespace vt::search
