// Test seam of the main window's type change: a writer that takes the place
// of the registry write, so that tests reach the path where writing the new
// data fails. Not for other users.
#pragma once

#include "core/kltRegistry.h"

#include <functional>
#include <string>

namespace vt::app
{

using TTypeChangeWriter = std::function<void(TMyRegistry &reg, const std::string &name, const std::string &text,
                                             TRegDataType newType, TRegDataType oldType)>;
// Empty: the registry's own WriteDataFromText.
void setTypeChangeWriterSeam(TTypeChangeWriter writer);

} // namespace vt::app
