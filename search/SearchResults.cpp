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
    std::string w = ignoreCase ? AsciiUpperCase(text) : text;
    std::string result = text;
    // Searching from the start again after each replacement would find the
    // inserted text itself forever; then the search goes on after it.
    const bool continueAfter = newText.find(s) != std::string::npos;
    int made = 0;
    size_t from = 0;
    for (;;) {
        const size_t p = w.find(s, from);
        if (p == std::string::npos)
            break;
        w.replace(p, s.size(), newText);
        result.replace(p, s.size(), newText);
        ++made;
        if (w.size() > maxLength || size_t(made) > maxLength) {
            gaveUp = true;
            return text;
        }
        // No occurrence starts before p - |S| + 1: that part is unchanged
        // and held none, p being the first. Starting there gives the same
        // result as starting at 0.
        from = continueAfter ? p + newText.size() : (p + 1 >= s.size() ? p + 1 - s.size() : 0);
    }
    count += made;
    return result;
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
                const std::string name = ReplaceInText(row.ValueName, options.Source, options.NewText,
                                                       options.IgnoreCase, n, gaveUp);
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
