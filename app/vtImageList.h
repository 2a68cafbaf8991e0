#pragma once
// The main window's 16-pixel image list, drawn in code. Positions are fixed
// because tree nodes encode their registry view in their image pair.

#include <QIcon>

namespace vt::app {

enum TImageIndex : int {
    imgComputer = 0,
    imgFolder = 1,
    imgFolderOpen = 2,
    imgText = 3,
    imgData = 4,
    imgRegistryFile = 8,
    imgRemoteComputer = 9,
    imgFolder32 = 15,
    imgFolder32Open = 16,
    imgFolder64 = 17,
    imgFolder64Open = 18,
};

inline constexpr int ImageListCount = 19;

// The icon at a position; an empty icon for -1 or anything out of range.
const QIcon &ImageListIcon(int index);

} // namespace vt::app
