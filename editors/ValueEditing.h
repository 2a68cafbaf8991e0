// Rules the value editors share with the main window: which types have an
// editor, which type changes are offered, and how the number editor's
// decimal and binary fields read.
#pragma once

#include "core/kltRegistry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vt::editors
{

// Types whose data the main window's "Change data" edits in a dialog.
bool HasDataEditor(TRegDataType type);

// The target types offered for a value of `current`, in ascending member
// order; empty when its type cannot be changed.
std::vector<TRegDataType> AllowedTypeChanges(TRegDataType current);

// The decimal field: a signed 64-bit decimal number, digits only after an
// optional sign, nothing else; in 32-bit mode its low 32 bits. False for an
// empty text or one that does not fit 64 bits.
bool ReadDecimalField(const std::string &text, bool is64, int64_t &number);
// The binary field: only 0 and 1, at least one digit, no more significant
// digits than the width holds.
bool ReadBinaryField(const std::string &text, bool is64, int64_t &number);

// The texts each field shows for a number: decimal unsigned in 32-bit mode
// and signed in 64-bit mode, hex of 8 or 16 digits, binary without leading
// zeros.
std::string DecimalFieldText(int64_t number, bool is64);
std::string HexFieldText(int64_t number, bool is64);
std::string BinaryFieldText(int64_t number, bool is64);
// The hex field decides the number: letters after F count as 0.
int64_t ReadHexField(const std::string &text, bool is64);

} // namespace vt::editors
