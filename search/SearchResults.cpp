#include "search/SearchResults.h"

#include "core/kltRegTools.h"
#include "regfile/RegFileWriter.h"

namespace vt::search
{

namespace
{

std::string withoutTrailingBackslash(std::string s)
{
    if (!s.empty() && s.back() == '\\')
        s.pop_back();
    return s;
}

// The registry functions' view byte for a row: the 64-bit view for rows found
// in view mode 2, the default view otherwise.
uint8_t viewByte(const TSearchListItem &row)
{
    return row.ViewMode == 2 ? 1 : 0;
}

bool isStringType(TRegDataType type)
{
    return type == rdString || type == rdExpandString || type == rdMultiString;
}

} // namespace

void ExportSearchResults(const std::vector<const TSearchListItem *> &rows, const std::vector<std::string> &header,
                         bool keyContents, TRegOutput &output)
{
    std::string text = "REGEDIT4\r\n\r\n";
    for (const std::string &line : header)
        text += "; " + line + "\r\n";
    output.append(text);
    for (const TSearchListItem *row : rows) {
        const std::string path = withoutTrailingBackslash(row->KeyPath);
        if (IsKeyKind(row->ImageIndex)) {
            if (keyContents)
                WriteKeyBlock(row->RootKey, path, output, true, false, false);
            else
                output.append("\r\n[" + withoutTrailingBackslash(row->Caption) + "]\r\n");
        } else {
            WriteKeyValues(row->RootKey, path, row->ValueName, false, false, output);
        }
    }
}

TRowsOutcome DeleteSearchResults(const std::vector<TSearchListItem> &rows)
{
    TRowsOutcome outcome;
    for (size_t i = rows.size(); i-- > 0;) {
        const TSearchListItem &row = rows[i];
        if (!row.Checked)
            continue;
        const uint8_t view = viewByte(row);
        bool gone;
        if (IsKeyKind(row.ImageIndex)) {
            gone = DeleteKeyAt(row.RootKey, row.KeyPath, view) || !KeyExistsAt(row.RootKey, row.KeyPath, view);
        } else {
            const std::string path = withoutTrailingBackslash(row.KeyPath);
            gone = DeleteValueAt(row.RootKey, path, row.ValueName, view) ||
                   !ValueExistsAt(row.RootKey, path, row.ValueName, view);
        }
        if (gone)
            outcome.Removed.insert(outcome.Removed.begin(), i);
        else
            ++outcome.Failed;
    }
    return outcome;
}

std::string ReplaceInText(const std::string &text, const std::string &source, const std::string &newText,
                          bool ignoreCase, int &count, bool &gaveUp, size_t maxLength)
{
    gaveUp = false;
    if (source.empty())
        return text;
    const std::string s = ignoreCase ? AsciiUpperCase(source) : source;
    const size_t m = s.size();
    // Searching from the start again after each replacement would find the
    // inserted text itself forever; then the search goes on after it.
    const bool continueAfter = newText.find(s) != std::string::npos;
    auto fold = [ignoreCase](char c) { return ignoreCase && c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };

    // KMP failure links of s.
    std::vector<size_t> fail(m + 1, 0);
    for (size_t i = 1, k = 0; i < m; ++i) {
        while (k > 0 && s[i] != s[k])
            k = fail[k];
        if (s[i] == s[k])
            ++k;
        fail[i + 1] = k;
    }

    // One pass, linear in the text and the replacements: the result so far
    // (with each byte's matching form: the text's folded when ignoring case,
    // the inserted text's as it is, as a search of the changed text sees
    // them) and the automaton's state after each byte. A match takes the
    // source off the end; without continueAfter the new text goes back in
    // front of what is left, so that the occurrences it forms with the bytes
    // around it are found as a search from the start would find them.
    std::string out, outMatch;
    std::vector<uint32_t> states;
    out.reserve(text.size());
    outMatch.reserve(text.size());
    states.reserve(text.size() + 1);
    states.push_back(0);
    std::string pending; // inserted text still to be read, read from its end
    size_t next = 0;     // next byte of text
    int made = 0;
    while (true) {
        char c, match;
        if (!pending.empty()) {
            c = match = pending.back();
            pending.pop_back();
        } else if (next < text.size()) {
            c = text[next++];
            match = fold(c);
        } else {
            break;
        }
        size_t k = states.back();
        while (k > 0 && (k == m || match != s[k]))
            k = fail[k];
        if (match == s[k])
            ++k;
        out.push_back(c);
        outMatch.push_back(match);
        states.push_back(uint32_t(k));
        if (k < m)
            continue;
        // Found: the source leaves, the new text comes.
        out.resize(out.size() - m);
        outMatch.resize(outMatch.size() - m);
        states.resize(states.size() - m);
        ++made;
        if (out.size() + pending.size() + newText.size() + (text.size() - next) > maxLength ||
            size_t(made) > maxLength) {
            gaveUp = true;
            return text;
        }
        if (continueAfter) {
            // Not searched again: appended with the automaton reset after it.
            out += newText;
            outMatch += newText;
            states.resize(states.size() + newText.size(), 0);
        } else {
            pending.append(newText.rbegin(), newText.rend());
        }
    }
    count += made;
    return made ? out : text;
}

TRowsOutcome ReplaceInSearchResults(std::vector<TSearchListItem> &rows, const TReplaceOptions &options)
{
    TRowsOutcome outcome;
    std::vector<bool> removed(rows.size(), false);
    for (uint8_t image : {uint8_t(rkKey64), uint8_t(rkKey32), uint8_t(rkStringData), uint8_t(rkData),
                          uint8_t(rkValueName), uint8_t(rkKey)}) {
        for (size_t i = rows.size(); i-- > 0;) {
            TSearchListItem &row = rows[i];
            if (removed[i] || !row.Checked || row.ImageIndex != image)
                continue;
            bool gaveUp = false;
            bool ok = true;
            bool changed = false;
            if (image == rkValueName) {
                int n = 0;
                const std::string name =
                    ReplaceInText(row.ValueName, options.Source, options.NewText, options.IgnoreCase, n, gaveUp);
                outcome.Replacements += n;
                changed = n > 0;
                if (changed)
                    ok = RenameValueAt(row.RootKey, withoutTrailingBackslash(row.KeyPath), row.ValueName,
                                       options.OverwriteValues, name);
            } else if (image == rkStringData || image == rkData) {
                if (!isStringType(row.DataType))
                    continue;
                const std::string path = withoutTrailingBackslash(row.KeyPath);
                std::string current;
                if (!ReadTypedStringAt(row.RootKey, path, row.ValueName, 32, current))
                    continue; // gone, or no longer a string: left alone
                int n = 0;
                const std::string data =
                    ReplaceInText(current, options.Source, options.NewText, options.IgnoreCase, n, gaveUp);
                outcome.Replacements += n;
                changed = n > 0;
                if (changed)
                    ok = WriteTypedStringAt(row.RootKey, path, row.ValueName, 32, row.DataType, data);
            } else {
                const size_t slash = row.KeyPath.rfind('\\');
                const std::string parent = row.KeyPath.substr(0, slash + 1);
                const std::string name = row.KeyPath.substr(slash + 1);
                int n = 0;
                const std::string newName =
                    ReplaceInText(name, options.Source, options.NewText, options.IgnoreCase, n, gaveUp);
                outcome.Replacements += n;
                changed = n > 0;
                if (changed)
                    ok = MoveKeyAt(row.RootKey, row.KeyPath, parent + newName, options.OverwriteKeys);
            }
            if (gaveUp) {
                row.Failed = 1;
                ++outcome.Failed;
            } else if (changed && ok) {
                removed[i] = true;
            } else if (changed) {
                row.Failed = 1;
                ++outcome.Failed;
            }
        }
    }
    for (size_t i = 0; i < rows.size(); ++i)
        if (removed[i])
            outcome.Removed.push_back(i);
    return outcome;
}

} // namespace vt::search
