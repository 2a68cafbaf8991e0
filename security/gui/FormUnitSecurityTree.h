// The key's access list as a tree: one node per ACE, named after its account,
// with the ACE's type, flags, rights and GUIDs below.
#pragma once

#include "platform/win32.h"

#include <string>

class QIcon;
class QTreeWidget;

namespace vt::security_info
{

// Fills the tree for the key; the tree's hint becomes the key's info lines
// (empty when they cannot be read). Failures leave the tree as far as it
// got, without a message. Images are positions in the main window's list.
void FillSecurityTree(HKEY root, const std::string &path, QTreeWidget *tree, int viewMode, int accountImage = 5,
                      int categoryImage = 1, int entryImage = 6);

// The icon a tree node shows for an image position; the main window supplies
// its image list (none: nodes have no icon).
using ImageSource = QIcon (*)(int index);
void SetSecurityTreeImages(ImageSource source);

} // namespace vt::security_info
