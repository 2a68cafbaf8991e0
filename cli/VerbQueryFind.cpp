// query KEY /f PATTERN [/k] [/v] [/d] [/c] [/e] [/t TYPES] [/s]
//
// Output follows reg: a blank line first; a key whose name matches shows its
// full name on a line of its own; a key with matching values shows its full
// name (unless that line was just printed for the key's own name), the
// values as "    name    TYPE    data" and a blank line; the closing line is
// "End of search: N match(es) found.", N counting keys and values. The start
// key's own name is not tested. Without /k, /v or /d all three are searched.
// Data is tested in the form the output shows it. The pattern "*" alone
// matches everything; otherwise it is a substring (/e: the whole text),
// case-insensitive unless /c, or the style its tag names.
#include "cli/QueryFind.h"

#include "cli/ValueText.h"
#include "regfile/RegKeyWalk.h"
#include "search/CompareRules.h"

#include <algorithm>
#include <memory>
#include <ostream>

namespace vt::cli
{

namespace
{

class Finder
{
public:
    Finder(const FindOptions &options, std::ostream &out, TKeyWalkReport &skipped)
        : m_options(options), m_out(out), m_skipped(skipped)
    {
        std::string pattern = options.pattern;
        search::TCompareStyle style = options.exact ? search::csExact : search::csSubstring;
        const bool tagged = search::ParseStyleTag(pattern, style);
        m_everything = !tagged && pattern == "*";
        if (!m_everything)
            m_pattern = std::make_unique<search::TPattern>(pattern, style, !options.caseSensitive);
        const bool any = options.keys || options.values || options.data;
        m_keys = options.keys || !any;
        m_values = options.values || !any;
        m_data = options.data || !any;
    }

    unsigned matches = 0;

    void undecided(FindUndecided &out) const
    {
        if (m_pattern) {
            out.count = m_pattern->Undecided();
            out.reason = m_pattern->UndecidedReason();
        }
    }

    void walk(TMyRegistry &reg, const std::string &fullName, bool headerShown)
    {
        if (m_values || m_data)
            findValues(reg, fullName, headerShown);
        std::vector<std::string> subkeys;
        reg.GetKeyNames(subkeys);
        for (const std::string &sub : subkeys) {
            const std::string childName = fullName + "\\" + sub;
            const bool shown = m_keys && matches_(sub);
            if (shown) {
                m_out << childName << "\n";
                ++matches;
            }
            if (!m_options.recurse)
                continue;
            TMyRegistry child;
            if (OpenSubkeyForReading(reg, sub, child))
                walk(child, childName, shown);
            else
                m_skipped.skip(childName, !IsAddressableKeyName(sub));
        }
    }

private:
    bool matches_(const std::string &text) const { return m_everything || m_pattern->Match(text); }

    void findValues(TMyRegistry &reg, const std::string &fullName, bool headerShown)
    {
        std::vector<std::string> names;
        reg.GetValueNames(names);
        bool any = false;
        for (const std::string &name : names) {
            uint32_t code = 0;
            // A fresh buffer each time: readValue sizes its first try by the
            // buffer's capacity, which one large value would leave behind.
            TRegByteArray data;
            if (!reg.readValue(name, code, data))
                continue;
            if (!m_options.types.empty() &&
                std::find(m_options.types.begin(), m_options.types.end(), code) == m_options.types.end())
                continue;
            const bool hit = (m_values && matches_(name)) || (m_data && matches_(dataText(code, data)));
            if (!hit)
                continue;
            if (!any && !headerShown)
                m_out << fullName << "\n";
            any = true;
            m_out << valueLine(name, code, data) << "\n";
            ++matches;
        }
        if (any)
            m_out << "\n";
    }

    const FindOptions &m_options;
    std::ostream &m_out;
    TKeyWalkReport &m_skipped;
    std::unique_ptr<search::TPattern> m_pattern;
    bool m_everything = false;
    bool m_keys = true, m_values = true, m_data = true;
};

} // namespace

bool parseFindTypes(const std::string &text, std::vector<uint32_t> &codes)
{
    static const struct {
        const char *name;
        uint32_t code;
    } known[] = {{"REG_SZ", REG_SZ},       {"REG_MULTI_SZ", REG_MULTI_SZ}, {"REG_EXPAND_SZ", REG_EXPAND_SZ},
                 {"REG_DWORD", REG_DWORD}, {"REG_QWORD", REG_QWORD},       {"REG_BINARY", REG_BINARY},
                 {"REG_NONE", REG_NONE}};
    codes.clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string word = search::AsciiUpperCase(text.substr(start, comma - start));
        const auto it = std::find_if(std::begin(known), std::end(known), [&](const auto &k) { return word == k.name; });
        if (it == std::end(known))
            return false;
        codes.push_back(it->code);
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

void queryFind(TMyRegistry &reg, const std::string &fullName, const FindOptions &options, std::ostream &out,
               TKeyWalkReport &skipped, unsigned &matches, FindUndecided *undecided)
{
    Finder finder(options, out, skipped); // a bad regular expression raises here, before any output
    out << "\n";
    finder.walk(reg, fullName, false);
    matches = finder.matches;
    if (undecided)
        finder.undecided(*undecided);
    out << "End of search: " << matches << " match(es) found.\n";
}

} // namespace vt::cli
