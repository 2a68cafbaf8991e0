// What the search window does with its result rows: export them as a
// registry file, delete their keys and values, and replace text in their
// names and string data. No widgets: the window passes its rows.
#pragma once

#include "search/SearchEngine.h"

#include <cstddef>
#include <string>
#include <vector>

class TRegOutput;

namespace vt::search
{

// "REGEDIT4", an empty line, each header line as a "; " comment, then each
// row: a key as its key line (or, with keyContents, its whole recursive
// export), a value or data row as that one value under its key line.
void ExportSearchResults(const std::vector<const TSearchListItem *> &rows, const std::vector<std::string> &header,
                         bool keyContents, TRegOutput &output);

// What a pass over the rows did: the rows to take out of the list (their
// indices, ascending) and how many could not be changed.
struct TRowsOutcome {
    std::vector<size_t> Removed;
    int Failed = 0;
    int Replacements = 0;
};

// Deletes the keys and values of the checked rows, last row first. A row is
// removed when its deletion succeeded or its key or value is gone already.
TRowsOutcome DeleteSearchResults(const std::vector<TSearchListItem> &rows);

// Replaces every occurrence of source in text, searching again from the
// start after each replacement so that occurrences formed with the
// surrounding characters are replaced as well; count grows by the number
// made. Where that would never end (the new text holds the source) the
// search continues after each inserted text instead; where the text would
// grow without practical bound (beyond maxLength bytes), gaveUp is set and
// the text is returned unchanged.
std::string ReplaceInText(const std::string &text, const std::string &source, const std::string &newText,
                          bool ignoreCase, int &count, bool &gaveUp, size_t maxLength = 1 << 24);

struct TReplaceOptions {
    std::string Source;
    std::string NewText;
    bool IgnoreCase = false;
    bool OverwriteValues = false;
    bool OverwriteKeys = false;
};

// The six passes over the checked rows (images 5, 4, 3, 2, 1, 0; each from
// the last row to the first). Rows that failed get Failed set.
TRowsOutcome ReplaceInSearchResults(std::vector<TSearchListItem> &rows, const TReplaceOptions &options);

} // namespace vt::search
