#include "core/vtBoundedFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TBoundedFileStatus CheckBoundedFile(const std::string &path, std::size_t maxBytes)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        // A dangling link is missing; anything else that cannot be looked at
        // is unreadable, never taken for "no file".
        if (ec && ec != std::errc::no_such_file_or_directory)
            return TBoundedFileStatus::Unreadable;
        return TBoundedFileStatus::Missing;
    }
    if (!fs::is_regular_file(status))
        return TBoundedFileStatus::NotRegular;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec)
        return TBoundedFileStatus::Unreadable;
    if (size > maxBytes)
        return TBoundedFileStatus::TooLarge;
    return TBoundedFileStatus::Ok;
}

TBoundedFileStatus ReadBoundedFile(const std::string &path, std::size_t maxBytes, std::string &bytes)
{
    bytes.clear();
    const TBoundedFileStatus status = CheckBoundedFile(path, maxBytes);
    if (status != TBoundedFileStatus::Ok)
        return status;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return TBoundedFileStatus::Unreadable;
    // One byte past the bound tells a file that grew meanwhile.
    constexpr std::size_t Block = std::size_t(1) << 16;
    while (bytes.size() <= maxBytes) {
        const std::size_t old = bytes.size();
        const std::size_t want = std::min(Block, maxBytes + 1 - old);
        bytes.resize(old + want);
        in.read(bytes.data() + old, std::streamsize(want));
        bytes.resize(old + std::size_t(in.gcount()));
        if (in.gcount() == 0 || !in)
            break;
    }
    if (in.bad()) {
        bytes.clear();
        return TBoundedFileStatus::Unreadable;
    }
    if (bytes.size() > maxBytes) {
        bytes.clear();
        return TBoundedFileStatus::TooLarge;
    }
    return TBoundedFileStatus::Ok;
}

std::string BoundedFileProblem(TBoundedFileStatus status, const std::string &path, std::size_t maxBytes)
{
    switch (status) {
    case TBoundedFileStatus::NotRegular:
        return "The file " + path + " is not a regular file (a folder, a device or a pipe); it was not read.";
    case TBoundedFileStatus::TooLarge:
        return "The file " + path + " is larger than " + std::to_string(maxBytes >> 20) +
               " MiB, more than it can hold in use; it was not read.";
    case TBoundedFileStatus::Unreadable:
        return "The file " + path + " cannot be read.";
    default:
        return {};
    }
}
