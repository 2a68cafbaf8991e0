// Hive files opened for recovery in the main window.
#pragma once

namespace vt::app
{

// How many recovery branches hold their scan now; closing a branch frees it.
int RecoveryBranchesAlive();

} // namespace vt::app
