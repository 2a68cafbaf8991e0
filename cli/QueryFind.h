// query KEY /f PATTERN: searching key names, value names and data the way
// reg does, with this program's compare rules (so "<regexpr>", "<wc>" and
// "<bool>" patterns work too).
#pragma once

#include "core/kltRegistry.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct TKeyWalkReport;

namespace vt::cli
{

struct FindOptions {
    std::string pattern = "*";   // reg's default: everything
    bool keys = false;           // /k
    bool values = false;         // /v without a name
    bool data = false;           // /d
    bool caseSensitive = false;  // /c
    bool exact = false;          // /e
    std::vector<uint32_t> types; // /t; empty: every type
    bool recurse = false;        // /s
};

// "REG_SZ,REG_DWORD" into type codes; false for a name reg's /t does not take.
bool parseFindTypes(const std::string &text, std::vector<uint32_t> &codes);

// Texts a regular expression could not decide (its limits reached); they
// are counted neither as matches nor as misses.
struct FindUndecided {
    uint64_t count = 0;
    std::string reason; // PCRE2's words for the last one
};

// Walks the open key (and with recurse its subkeys), printing matches as reg
// does and counting them. Raises vt::search::ERegExpr before printing
// anything when the pattern is a regular expression that does not compile.
// Texts the expression could not decide go to undecided.
void queryFind(TMyRegistry &reg, const std::string &fullName, const FindOptions &options, std::ostream &out,
               TKeyWalkReport &skipped, unsigned &matches, FindUndecided *undecided = nullptr);

} // namespace vt::cli
