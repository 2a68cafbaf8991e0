#include "recovery/RecoveryExport.h"

#include "platform/hive/RegfFormat.h"
#include "regfile/RegFileText.h"
#include "regfile/RegFileWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vt::recovery
{

std::string displayPath(const RecoveredKey &key)
{
    if (key.pathComplete)
        return key.path;
    return std::string(kUnknownParent) + "\\" + key.path;
}

std::vector<uint8_t> apiData(const RecoveredValue &value)
{
    switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
        std::string text;
        vt::hive::regf::appendUtf16(text, value.data.data(), value.data.size());
        return {text.begin(), text.end()};
    }
    default:
        return value.data;
    }
}

std::string regValueLine(const RecoveredValue &value)
{
    const std::string namePart = RegValueNamePart(value.name);
    const std::vector<uint8_t> data = apiData(value);
    std::string dataPart;
    if (!FormatRegDataPart(value.type, data.data(), data.size(), true, namePart.size() + 1, dataPart)) {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
        dataPart = prefix + FormatHexList(value.data.data(), value.data.size(), namePart.size() + 1 + strlen(prefix));
    }
    return namePart + "=" + dataPart;
}

void writeRegFile(const std::string &base, const std::vector<RegBlock> &blocks, TRegOutput &output)
{
    output.append("\xFF\xFE"); // UTF-16LE byte order mark
    std::string text = std::string(RegFileHeader5) + "\r\n\r\n";
    for (const RegBlock &b : blocks) {
        text += "[" + base + (b.path.empty() ? "" : "\\" + b.path) + "]\r\n";
        for (const RecoveredValue &v : b.values)
            text += regValueLine(v) + "\r\n";
        text += "\r\n";
        if (text.size() > (1u << 20)) { // streamed a MiB at a time
            WriteTextToStream(text, output, true);
            text.clear();
        }
    }
    WriteTextToStream(text, output, true);
}

std::vector<RegBlock> recoveredBlocks(const RecoveryResult &result, bool keys, bool values)
{
    std::vector<uint32_t> chosen;
    for (uint32_t i = 0; i < result.keys.size(); ++i) {
        const RecoveredKey &k = result.keys[i];
        if ((keys && k.deleted()) || (values && !k.values.empty()))
            chosen.push_back(i);
    }
    std::vector<std::pair<std::string, uint32_t>> order;
    order.reserve(chosen.size());
    for (uint32_t i : chosen)
        order.emplace_back(displayPath(result.keys[i]), i);
    std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<RegBlock> blocks;
    for (auto &[path, i] : order) {
        RegBlock b;
        b.path = path;
        if (values)
            for (uint32_t v : result.keys[i].values)
                b.values.push_back(result.values[v]);
        blocks.push_back(std::move(b));
    }
    if (values) {
        RegBlock unplaced;
        unplaced.path = kUnplacedValues;
        for (const RecoveredValue &v : result.values)
            if (v.key < 0)
                unplaced.values.push_back(v);
        if (!unplaced.values.empty())
            blocks.push_back(std::move(unplaced));
    }
    return blocks;
}

} // namespace vt::recovery
