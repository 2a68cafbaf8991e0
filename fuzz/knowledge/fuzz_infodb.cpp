// libFuzzer over the info database reader: the stream parser on the bytes
// and the file loader on a temporary file. Whatever reads must write back to
// a stream that reads to the same items and writes to the same bytes.
#include "knowledge/RegistryInfo.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace
{

struct TempFile {
    std::string name;
    TempFile()
    {
        std::random_device rd;
        name = (std::filesystem::temp_directory_path() /
                ("vt-fuzz-infodb-" + std::to_string(rd()) + std::to_string(rd()) + ".rdb"))
                   .string();
    }
    ~TempFile()
    {
        std::error_code ec;
        std::filesystem::remove(name, ec);
    }
};

const std::string &tempFile()
{
    static const TempFile file;
    return file.name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using vt::knowledge::TRegistryInfo;
    TRegistryInfo info;
    try {
        info.ReadFromBytes(reinterpret_cast<const char *>(data), size);
    } catch (const vt::knowledge::EInfoDatabase &) {
        // Damaged: the items read before stay, and must write back soundly.
    }
    const std::string written = info.WriteToBytes();
    TRegistryInfo again;
    again.ReadFromBytes(written.data(), written.size()); // must not raise
    if (again.Count() != info.Count() || again.WriteToBytes() != written)
        __builtin_trap();
    for (std::size_t i = 0; i < info.Count(); ++i)
        if (info.FindKeyItem(info.Item(i).Key) == nullptr && info.Item(i).Value.empty())
            __builtin_trap();

    {
        std::ofstream f(tempFile(), std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(data), std::streamsize(size));
    }
    TRegistryInfo loaded;
    try {
        loaded.LoadFromFile(tempFile());
    } catch (const vt::knowledge::EInfoDatabase &) {
    }
    if (loaded.Count() != info.Count())
        __builtin_trap();
    return 0;
}
