// libFuzzer over the registry file reader: the line parser on split lines and
// the file loader (both encodings) on a temporary file, without writing to
// the registry, plus the hex list and text conversions on the same bytes.
#include "regfile/RegFileReader.h"
#include "regfile/RegFileText.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace
{

// The loader reads a file; one per process, removed when the run ends.
struct TempFile {
    std::string name;
    TempFile()
    {
        std::random_device rd;
        name = (std::filesystem::temp_directory_path() /
                ("vt-fuzz-regfile-" + std::to_string(rd()) + std::to_string(rd()) + ".reg"))
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
    const std::string text(reinterpret_cast<const char *>(data), size);

    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    TMyRegistryReader reader;
    size_t events = 0;
    reader.OnKey = [&](HKEY, const std::string &, bool) { ++events; };
    reader.OnProgress = [&](size_t index, size_t last) {
        if (index > last)
            __builtin_trap();
    };
    reader.ParseLines(lines);

    {
        std::ofstream f(tempFile(), std::ios::binary | std::ios::trunc);
        f.write(text.data(), std::streamsize(text.size()));
    }
    TMyRegistryReader fileReader;
    fileReader.LoadFromFile(tempFile());

    for (THexTextEncoding e : {THexTextEncoding::Bytes8, THexTextEncoding::Utf16, THexTextEncoding::Guess}) {
        HexListToText(text, e);
        std::string display;
        TMyRegistryReader::ParseDataType(text, &display, e);
    }
    HexListToStringData(text, true);
    UnescapeRegString(text);
    std::string wide;
    AppendUtf16le(Utf16leBytesToUtf8(data, size), wide);
    return 0;
}
