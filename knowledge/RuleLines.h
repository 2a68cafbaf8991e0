#pragma once
// One-line detection rules in the OpenZTI format: a command word, a colon and
// comma-separated fields, text fields in double quotes, nothing escaped.

#include "core/kltRegistry.h"

#include <array>
#include <string>
#include <string_view>

namespace vt::knowledge
{

// The entries of the description box are "<$" + token + ">", in this order;
// FILE_UNINSTALLER appears twice.
inline constexpr int DescriptionTokenCount = 75;
extern const std::array<const char *, DescriptionTokenCount> DescriptionTokens;

inline constexpr const char *DefaultRuleDescription = "enter or select description text here";

enum class TRuleCommand { RegyValue, RegyRemove, RegyChange, RegyFix };

// The line for a value; `verifier` adds the check text to RegyValue only.
// RegyChange and RegyFix write value name, "=", check text as the last field.
std::string FormatValueRule(TRuleCommand command, bool verifier, std::string_view description,
                            std::string_view rootName, std::string_view keyPath, std::string_view valueName,
                            std::string_view checkText);

// The line for a key: the fixed description, the root's full name, the parent
// path and the key name from SplitValuePath; for a root key (or the top node)
// the parent path is the key path and the key name is empty.
std::string FormatKeyRule(HKEY root, const std::string &keyPath);

// The check field's first text: value name, "=", data text. A multi-string's
// data text holds its entries joined by CR LF; here they are joined by a blank,
// as a rule line never holds a line break.
std::string InitialCheckText(TRegDataType type, std::string_view valueName, std::string_view dataText);

// Whether the text holds a CR or an LF: such a field would split the rule.
bool HasLineBreak(std::string_view text);

// Whether the Remove command applies: the string types only.
bool RuleCanRemoveText(TRegDataType type);

} // namespace vt::knowledge
