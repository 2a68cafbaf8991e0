// Deciding whether a text matches a search pattern: six styles (substring,
// wildcard, boolean, regular expression, Boyer-Moore-Horspool, exact), style
// tags at the start of a pattern, and a boolean rule of terms.
//
// Texts are 8-bit strings of the system code page (UTF-8 on the replacement
// platform). Ignoring case folds only the ASCII letters a to z; the
// regular-expression style leaves folding to PCRE2 instead.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vt::search
{

enum TCompareStyle : uint8_t {
    csSubstring = 0,
    csWildcard = 1,
    csBoolean = 2,
    csRegExpr = 3,
    csBoyerMoore = 4,
    csExact = 5,
};

// A regular expression that does not compile. The message names PCRE2's
// error and the position in the pattern where it was found.
class ERegExpr : public std::runtime_error
{
public:
    ERegExpr(const std::string &message, int errorCode, size_t offset)
        : std::runtime_error(message), ErrorCode(errorCode), Offset(offset)
    {
    }
    int ErrorCode;
    size_t Offset; // in bytes from the start of the pattern
};

// Upper case for a to z only; every other byte stays.
std::string AsciiUpperCase(std::string_view text);

struct TCompareRuleItem {
    std::string Term;
    bool Negated = false;
    uint8_t Operator = 1; // 0 AND, 1 OR: how the term joins the terms before it
};

// Terms joined by AND, OR and NOT, evaluated strictly left to right.
class TCompareRule
{
public:
    void Parse(const std::string &pattern);
    bool Match(std::string_view text) const;
    // The same test with the text's letters a to z read as upper case, for a
    // rule parsed from an upper-cased pattern.
    bool MatchFolded(std::string_view text) const;

    std::vector<TCompareRuleItem> Items;
};

// The anchored test with "*" and "?"; both taken up to their first NUL.
// Iterative, so texts of any length cannot exhaust the stack.
bool WildcardMatch(std::string_view text, std::string_view pattern);

// If the pattern begins with a style tag ("<wc>", "<substr>", "<bool>",
// "<regexpr>", "<bm>", compared case-sensitively), strips it and sets the
// style; otherwise leaves both alone. True when a tag was found.
bool ParseStyleTag(std::string &pattern, TCompareStyle &style);

// A pattern prepared once for many texts: folded once, a boolean rule parsed
// once, a regular expression compiled (and JIT-compiled where PCRE2 can) once.
// Match gives the same answer as MatchText for every text. Not safe for use
// by two threads at once (the regular expression's match data is shared).
struct THorspool;

class TPattern
{
public:
    // Raises ERegExpr for a regular expression that does not compile.
    TPattern(std::string pattern, TCompareStyle style, bool ignoreCase);
    ~TPattern();
    TPattern(const TPattern &) = delete;
    TPattern &operator=(const TPattern &) = delete;

    // A regular expression that the engine cannot decide for a text (its
    // match limit or memory reached) does not match it, and the text is
    // counted in Undecided(): callers report those, never take them for
    // misses.
    bool Match(std::string_view text) const;
    uint64_t Undecided() const { return m_undecided; }
    // PCRE2's words for the last undecided test ("match limit exceeded").
    const std::string &UndecidedReason() const { return m_undecidedReason; }

    // The limits a regular expression runs under: backtracking steps per
    // text (a pattern such as (x+x+)+y takes exponential time, so the limit
    // bounds the cost of one text), and the interpreter's memory. The JIT's
    // stack starts small and grows, for a text that needs it, up to
    // RegExprStackPerByte times the text's length (at least 1 MiB, at most
    // RegExprStackMax).
    static constexpr uint32_t RegExprMatchLimit = 10'000'000;
    static constexpr uint32_t RegExprHeapLimitKiB = 256 * 1024;
    static constexpr size_t RegExprStackPerByte = 512;
    static constexpr size_t RegExprStackMax = size_t(512) << 20;

    TCompareStyle Style() const { return m_style; }
    bool IgnoreCase() const { return m_ignoreCase; }

private:
    struct RegExpr;
    bool substring(std::string_view text) const;
    bool wildcard(std::string_view text) const;

    TCompareStyle m_style;
    bool m_ignoreCase;
    std::string m_pattern; // folded when ignoring case (not for regular expressions)
    TCompareRule m_rule;
    std::unique_ptr<RegExpr> m_regExpr;
    mutable uint64_t m_undecided = 0;
    mutable std::string m_undecidedReason;
    std::unique_ptr<THorspool> m_searcher;
};

// One style applied to one text.
bool MatchText(std::string_view text, const std::string &pattern, TCompareStyle style, bool ignoreCase);
// The pattern's own style tag, or the default style, then MatchText.
bool MatchTagged(std::string_view text, const std::string &pattern, bool ignoreCase, TCompareStyle defaultStyle);

// A list of strings with an object beside each.
struct TStringListItem {
    std::string String;
    const void *Object = nullptr;
};
using TStringList = std::vector<TStringListItem>;

// The entries that match, in input order, with their objects. The pattern is
// prepared once per call.
TStringList FilterList(const TStringList &list, const std::string &pattern, TCompareStyle style, bool ignoreCase);

// Files and folders by mask: a folder path followed by a name pattern. A mask
// without a style tag is a plain wildcard mask on the names of one folder; a
// tagged mask is matched against each entry's full path.
std::vector<std::string> ListFiles(const std::string &mask, bool includeFiles, bool includeFolders, bool recurse,
                                   bool fullPaths);

} // namespace vt::search
