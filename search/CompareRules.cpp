#include "search/CompareRules.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <filesystem>
#include <system_error>

namespace vt::search
{

namespace
{

// Byte maps: identity, and identity with a to z raised.
struct FoldTables {
    std::array<unsigned char, 256> same{};
    std::array<unsigned char, 256> upper{};
    FoldTables()
    {
        for (int i = 0; i < 256; ++i) {
            same[i] = static_cast<unsigned char>(i);
            upper[i] = static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 32 : i);
        }
    }
};

const FoldTables &folds()
{
    static const FoldTables tables;
    return tables;
}

std::string_view untilNul(std::string_view text)
{
    const size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

const std::array<unsigned char, 256> &foldFor(bool ignoreCase)
{
    return ignoreCase ? folds().upper : folds().same;
}

} // namespace

// Where a folded needle occurs in a text read through the same folding:
// Horspool's method, byte-wise, with the shift table built once per needle,
// as a search tests hundreds of thousands of short names and filling the
// table is most of a short test.
struct THorspool {
    std::string needle; // folded
    const std::array<unsigned char, 256> *fold = nullptr;
    std::array<uint32_t, 256> shift{};

    void prepare(std::string_view folded, bool ignoreCase)
    {
        needle.assign(folded);
        fold = &foldFor(ignoreCase);
        const size_t m = needle.size();
        shift.fill(uint32_t(m));
        for (size_t i = 0; i + 1 < m; ++i)
            shift[static_cast<unsigned char>(needle[i])] = uint32_t(m - 1 - i);
        if (ignoreCase)
            for (int c = 'a'; c <= 'z'; ++c)
                shift[c] = shift[c - 32];
    }

    bool find(std::string_view hay) const
    {
        const size_t m = needle.size(), n = hay.size();
        if (m == 0 || m > n)
            return false;
        const auto &f = *fold;
        const auto *p = reinterpret_cast<const unsigned char *>(needle.data());
        const auto *t = reinterpret_cast<const unsigned char *>(hay.data());
        const unsigned char last = p[m - 1];
        for (size_t k = m - 1; k < n; k += shift[t[k]]) {
            if (f[t[k]] != last)
                continue;
            size_t j = 0;
            while (j + 1 < m && f[t[k - 1 - j]] == p[m - 2 - j])
                ++j;
            if (j + 1 == m)
                return true;
        }
        return false;
    }
};

namespace
{

// The boolean rule's terms, each tested once per text.
bool containsFolded(std::string_view hay, std::string_view needle, bool ignoreCase)
{
    THorspool searcher;
    searcher.prepare(needle, ignoreCase);
    return searcher.find(hay);
}

bool wildcardFolded(std::string_view text, std::string_view pattern, const std::array<unsigned char, 256> &fold)
{
    text = untilNul(text);
    pattern = untilNul(pattern);
    // Greedy scan that backs up to the last star seen: linear memory, no
    // recursion, and each star retried at most once per text position.
    size_t t = 0, p = 0;
    size_t starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || static_cast<unsigned char>(pattern[p]) ==
                                                                   fold[static_cast<unsigned char>(text[t])])) {
            ++p;
            ++t;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool isKeyword(const std::string &token, const char *keyword)
{
    return AsciiUpperCase(token) == keyword;
}

bool ruleMatch(const std::vector<TCompareRuleItem> &items, std::string_view text, bool ignoreCase)
{
    bool result = false;
    for (const TCompareRuleItem &item : items) {
        bool v = containsFolded(text, item.Term, ignoreCase);
        if (item.Negated)
            v = !v;
        result = item.Operator == 0 ? (result && v) : (result || v);
    }
    return result;
}

} // namespace

std::string AsciiUpperCase(std::string_view text)
{
    std::string out(text);
    const auto &up = folds().upper;
    for (char &c : out)
        c = static_cast<char>(up[static_cast<unsigned char>(c)]);
    return out;
}

// ---------------------------------------------------------------------------
// Boolean rule

void TCompareRule::Parse(const std::string &pattern)
{
    Items.clear();
    std::vector<std::string> tokens;
    std::string token;
    bool quoted = false;
    for (char c : pattern) {
        if (!quoted) {
            if (c == '"')
                quoted = true;
            else if (c == ' ') {
                if (!token.empty())
                    tokens.push_back(std::move(token));
                token.clear();
            } else
                token += c;
        } else if (c == '"') {
            quoted = false;
            if (!token.empty())
                tokens.push_back(std::move(token));
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty())
        tokens.push_back(std::move(token));

    for (std::string &t : tokens)
        Items.push_back({std::move(t), false, 1});

    if (!Items.empty() && isKeyword(Items.back().Term, "NOT"))
        Items.pop_back();
    for (long n = long(Items.size()) - 2; n >= 0; --n) {
        if (isKeyword(Items[n].Term, "NOT")) {
            Items[n + 1].Negated = true;
            Items.erase(Items.begin() + n);
        }
    }
    if (!Items.empty())
        Items[0].Operator = 1;
    if (!Items.empty() && isKeyword(Items.back().Term, "OR"))
        Items.pop_back();
    if (!Items.empty() && isKeyword(Items.back().Term, "AND"))
        Items.pop_back();
    for (long n = long(Items.size()) - 2; n >= 1; --n) {
        if (isKeyword(Items[n].Term, "AND")) {
            Items[n + 1].Operator = 0;
            Items.erase(Items.begin() + n);
        } else if (isKeyword(Items[n].Term, "OR")) {
            Items[n + 1].Operator = 1;
            Items.erase(Items.begin() + n);
        }
    }
}

bool TCompareRule::Match(std::string_view text) const
{
    return ruleMatch(Items, text, false);
}

bool TCompareRule::MatchFolded(std::string_view text) const
{
    return ruleMatch(Items, text, true);
}

// ---------------------------------------------------------------------------
// Wildcards and tags

bool WildcardMatch(std::string_view text, std::string_view pattern)
{
    return wildcardFolded(text, pattern, folds().same);
}

bool ParseStyleTag(std::string &pattern, TCompareStyle &style)
{
    static const struct {
        const char *tag;
        TCompareStyle style;
    } tags[] = {{"<wc>", csWildcard},
                {"<substr>", csSubstring},
                {"<bool>", csBoolean},
                {"<regexpr>", csRegExpr},
                {"<bm>", csBoyerMoore}};
    for (const auto &t : tags) {
        const size_t len = std::strlen(t.tag);
        if (pattern.compare(0, len, t.tag) == 0) {
            pattern.erase(0, len);
            style = t.style;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Prepared patterns

struct TPattern::RegExpr {
    pcre2_code *code = nullptr;
    pcre2_match_data *matchData = nullptr;
    pcre2_match_context *context = nullptr;
    pcre2_jit_stack *stack = nullptr;
    size_t stackSize = 0;
    bool jit = false;
    ~RegExpr()
    {
        pcre2_jit_stack_free(stack);
        pcre2_match_context_free(context);
        pcre2_match_data_free(matchData);
        pcre2_code_free(code);
    }

    // A JIT stack of the given maximum in place of the one before.
    bool useStack(size_t size)
    {
        pcre2_jit_stack *next = pcre2_jit_stack_create(32 * 1024, size, nullptr);
        if (!next)
            return false;
        pcre2_jit_stack_assign(context, nullptr, next);
        pcre2_jit_stack_free(stack);
        stack = next;
        stackSize = size;
        return true;
    }

    // PCRE2's result; a JIT stack that runs out is grown and the text tried
    // again, as long as the text's length allows.
    int match(std::string_view text)
    {
        for (;;) {
            const int rc =
                pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0, matchData, context);
            if (rc != PCRE2_ERROR_JIT_STACKLIMIT)
                return rc;
            const size_t cap = std::min(TPattern::RegExprStackMax,
                                        std::max(size_t(1) << 20, text.size() * TPattern::RegExprStackPerByte));
            if (stackSize >= cap || !useStack(std::min(cap, stackSize * 4)))
                return rc;
        }
    }
};

TPattern::TPattern(std::string pattern, TCompareStyle style, bool ignoreCase)
    : m_style(style), m_ignoreCase(ignoreCase), m_pattern(std::move(pattern))
{
    if (m_style == csRegExpr) {
        // Subjects may hold bytes that are not UTF-8 (names and data of
        // foreign hives); PCRE2_MATCH_INVALID_UTF lets them simply not match
        // there rather than fail the whole test.
        uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_DOTALL;
        if (m_ignoreCase)
            options |= PCRE2_CASELESS;
        int error = 0;
        PCRE2_SIZE offset = 0;
        auto re = std::make_unique<RegExpr>();
        re->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(m_pattern.data()), m_pattern.size(), options, &error,
                                 &offset, nullptr);
        if (!re->code) {
            PCRE2_UCHAR buffer[256];
            pcre2_get_error_message(error, buffer, sizeof buffer);
            throw ERegExpr(std::string(reinterpret_cast<const char *>(buffer)) + " at position " +
                               std::to_string(offset),
                           error, offset);
        }
        // The interpreter serves where JIT is unavailable.
        re->jit = pcre2_jit_compile(re->code, PCRE2_JIT_COMPLETE) == 0;
        re->matchData = pcre2_match_data_create_from_pattern(re->code, nullptr);
        re->context = pcre2_match_context_create(nullptr);
        if (!re->matchData || !re->context)
            throw std::bad_alloc();
        pcre2_set_match_limit(re->context, RegExprMatchLimit);
        pcre2_set_heap_limit(re->context, RegExprHeapLimitKiB);
        if (re->jit && !re->useStack(256 * 1024))
            throw std::bad_alloc();
        m_regExpr = std::move(re);
        return;
    }
    if (m_ignoreCase)
        m_pattern = AsciiUpperCase(m_pattern);
    if (m_style == csBoolean)
        m_rule.Parse(m_pattern);
    m_searcher = std::make_unique<THorspool>();
    if (m_style == csSubstring)
        m_searcher->prepare(untilNul(m_pattern), m_ignoreCase);
    else if (m_style == csBoyerMoore)
        m_searcher->prepare(m_pattern, m_ignoreCase);
    else if (m_style == csWildcard && m_pattern.size() > 1 && m_pattern.front() == '*' && m_pattern.back() == '*' &&
             m_pattern.find_first_of("*?", 1) == m_pattern.size() - 1)
        m_searcher->prepare(untilNul(std::string_view(m_pattern).substr(1, m_pattern.size() - 2)), m_ignoreCase);
}

TPattern::~TPattern() = default;

bool TPattern::substring(std::string_view text) const
{
    return m_searcher->find(untilNul(text));
}

bool TPattern::wildcard(std::string_view text) const
{
    const auto &fold = foldFor(m_ignoreCase);
    const std::string &p = m_pattern;
    if (p.size() > 1 && p.front() == '*' && p.back() == '*') {
        const std::string_view inner = std::string_view(p).substr(1, p.size() - 2);
        if (inner.find_first_of("*?") == std::string_view::npos)
            return m_searcher->find(untilNul(text));
    }
    if (p.empty())
        return untilNul(text).empty();
    if (p == "*")
        return true;
    return wildcardFolded(text, p, fold);
}

bool TPattern::Match(std::string_view text) const
{
    switch (m_style) {
    case csSubstring:
        return substring(text);
    case csWildcard:
        return wildcard(text);
    case csBoolean:
        return m_ignoreCase ? m_rule.MatchFolded(text) : m_rule.Match(text);
    case csRegExpr: {
        const int rc = m_regExpr->match(text);
        if (rc >= 0)
            return true;
        if (rc != PCRE2_ERROR_NOMATCH) {
            ++m_undecided;
            PCRE2_UCHAR buffer[256];
            if (pcre2_get_error_message(rc, buffer, sizeof buffer) < 0)
                m_undecidedReason = "error " + std::to_string(rc);
            else
                m_undecidedReason = reinterpret_cast<const char *>(buffer);
        }
        return false;
    }
    case csBoyerMoore: {
        // Horspool as the rule gives it: byte-wise, past NULs, and an empty
        // pattern is found everywhere.
        if (m_pattern.empty())
            return true;
        return m_searcher->find(text);
    }
    case csExact: {
        if (text.size() != m_pattern.size())
            return false;
        const auto &fold = foldFor(m_ignoreCase);
        for (size_t i = 0; i < text.size(); ++i)
            if (fold[static_cast<unsigned char>(text[i])] != static_cast<unsigned char>(m_pattern[i]))
                return false;
        return true;
    }
    }
    return false;
}

bool MatchText(std::string_view text, const std::string &pattern, TCompareStyle style, bool ignoreCase)
{
    // A fresh preparation per test, as a single test needs nothing more;
    // callers that test many texts keep a TPattern.
    return TPattern(pattern, style, ignoreCase).Match(text);
}

bool MatchTagged(std::string_view text, const std::string &pattern, bool ignoreCase, TCompareStyle defaultStyle)
{
    std::string p = pattern;
    TCompareStyle style = defaultStyle;
    ParseStyleTag(p, style);
    return MatchText(text, p, style, ignoreCase);
}

TStringList FilterList(const TStringList &list, const std::string &pattern, TCompareStyle style, bool ignoreCase)
{
    const TPattern prepared(pattern, style, ignoreCase);
    TStringList out;
    for (const TStringListItem &item : list)
        if (prepared.Match(item.String))
            out.push_back(item);
    return out;
}

// ---------------------------------------------------------------------------
// Files by mask

namespace
{

namespace fs = std::filesystem;

std::string trimName(const std::string &name)
{
    size_t b = 0, e = name.size();
    while (b < e && static_cast<unsigned char>(name[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(name[e - 1]) <= ' ')
        --e;
    return name.substr(b, e - b);
}

size_t lastSeparator(const std::string &path)
{
    return path.find_last_of("\\/");
}

} // namespace

std::vector<std::string> ListFiles(const std::string &mask, bool includeFiles, bool includeFolders, bool recurse,
                                   bool fullPaths)
{
    std::string folder;
    std::string namePattern; // plain masks: the file-system pattern of the names
    const bool tagged = !mask.empty() && mask[0] == '<';
    if (tagged) {
        std::string rest = mask;
        TCompareStyle style = csWildcard;
        ParseStyleTag(rest, style);
        if (style == csRegExpr) {
            const size_t sep = rest.rfind("\\\\");
            if (sep != std::string::npos) {
                folder = rest.substr(0, sep);
                for (size_t p = 0; (p = folder.find("\\\\", p)) != std::string::npos; ++p)
                    folder.replace(p, 2, "\\");
            } else if (const size_t s = rest.rfind('/'); s != std::string::npos) {
                folder = rest.substr(0, s); // a native path: a backslash there is an escape
            }
        } else if (const size_t s = lastSeparator(rest); s != std::string::npos) {
            folder = rest.substr(0, s);
        }
    } else {
        const size_t s = lastSeparator(mask);
        folder = s == std::string::npos ? std::string() : mask.substr(0, s);
        namePattern = s == std::string::npos ? mask : mask.substr(s + 1);
        // As the system's own search does: "*.*" is every name.
        if (namePattern == "*.*")
            namePattern = "*";
    }
    const char sep = folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos ? '\\' : '/';

    std::vector<std::string> out;
    std::deque<std::string> pending{folder};
    while (!pending.empty()) {
        const std::string dir = pending.front();
        pending.pop_front();
        std::error_code ec;
        fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec), end;
        std::vector<std::pair<std::string, bool>> entries;
        for (; !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            entries.emplace_back(it->path().filename().string(), it->is_directory(typeError));
        }
        std::sort(entries.begin(), entries.end());
        for (const auto &[rawName, isDir] : entries) {
            const std::string name = trimName(rawName);
            const std::string full = dir.empty() ? name : dir + sep + name;
            const bool candidate =
                tagged ? MatchTagged(full, mask, true, csWildcard)
                       : wildcardFolded(AsciiUpperCase(name), AsciiUpperCase(namePattern), folds().same);
            if (candidate && ((isDir && includeFolders) || (!isDir && includeFiles))) {
                std::string shown = full;
                if (!fullPaths)
                    shown = folder.empty() ? full : full.substr(folder.size() + 1);
                out.push_back(shown);
            }
            if (recurse && isDir)
                pending.push_back(full);
        }
    }
    return out;
}

} // namespace vt::search
