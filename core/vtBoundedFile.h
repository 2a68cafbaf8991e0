// Reading a file the program keeps for itself (bookmarks, settings, the
// history database) when the file may be hostile: only a regular file (a
// FIFO would block the read for ever, a device never ends), and only up to
// a bound, so that a huge file costs neither time nor memory.
#pragma once

#include <cstddef>
#include <string>

enum class TBoundedFileStatus { Ok, Missing, NotRegular, TooLarge, Unreadable };

// The file's kind and size, following symbolic links (a link to a device is
// no regular file): Ok when it is a regular file of at most maxBytes.
TBoundedFileStatus CheckBoundedFile(const std::string &path, std::size_t maxBytes);

// CheckBoundedFile, then the bytes; a file that grew past the bound while it
// was read is TooLarge, and `bytes` is then left empty.
TBoundedFileStatus ReadBoundedFile(const std::string &path, std::size_t maxBytes, std::string &bytes);

// The problem in words: "... is not a regular file", "... is larger than N
// MiB", ... (empty for Ok and Missing).
std::string BoundedFileProblem(TBoundedFileStatus status, const std::string &path, std::size_t maxBytes);
