// Writes a hive of about SIZE MiB (keys of ten 200-byte values each) with our
// own writer, then deletes values as Windows does until DELETED cells are
// free: each deleted value frees its value cell and its data cell, and its
// key's value count drops, the list keeping the entries in its slack.
//
//   make_deleted_hive OUT SIZE_MIB DELETED_CELLS
#include "platform/hive/Regf.h"
#include "platform/hive/RegfFormat.h"
#include "recovery/HiveRecovery.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace vt::hive;

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_deleted_hive OUT SIZE_MIB DELETED_CELLS\n");
        return 2;
    }
    const uint64_t target = std::strtoull(argv[2], nullptr, 10) << 20;
    const uint64_t deletedCells = std::strtoull(argv[3], nullptr, 10);
    Hive hive;
    hive.root = std::make_unique<Key>();
    hive.root->name = "ROOT";
    hive.root->upperName = "ROOT";
    const uint64_t perKey = 10 * (32 + 208) + 96 + 48; // cells of one key with its values
    const uint64_t keys = target / perKey;
    for (uint64_t i = 0; i < keys; ++i) {
        auto k = std::make_unique<Key>();
        char name[32];
        std::snprintf(name, sizeof name, "Key%07llu", static_cast<unsigned long long>(i));
        k->name = name;
        k->upperName = upperName(name);
        k->parent = hive.root.get();
        k->lastWriteTime = 132000000000000000ull + i;
        for (int v = 0; v < 10; ++v) {
            Value value;
            value.name = "Value" + std::to_string(v);
            value.type = 3;
            value.data.assign(200, static_cast<uint8_t>(i + v));
            k->values.push_back(std::move(value));
        }
        hive.root->subkeys.push_back(std::move(k));
    }
    std::vector<uint8_t> image = writeHive(hive);
    hive = Hive{};

    vt::recovery::RecoveryResult live;
    std::string error;
    if (!vt::recovery::recoverHive(image, live, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    auto freeCell = [&](uint32_t fo) {
        const auto size = static_cast<int32_t>(regf::rd32(image.data() + fo));
        if (size < 0)
            regf::wr32(image.data() + fo, static_cast<uint32_t>(-size));
    };
    // Spread over the whole file: every n-th key loses all its values.
    uint64_t freed = 0;
    const uint64_t keysToClear = (deletedCells + 19) / 20;
    const uint64_t step = keysToClear ? std::max<uint64_t>(1, live.keys.size() / keysToClear) : 0;
    for (size_t i = 1; step && i < live.keys.size() && freed < deletedCells; i += step) {
        const vt::recovery::RecoveredKey &k = live.keys[i];
        if (k.isRoot || k.valueCount == 0)
            continue;
        for (const auto &v : vt::recovery::liveValues(live, k)) {
            if (freed >= deletedCells)
                break;
            freeCell(v.offset);
            ++freed;
            if (!v.resident && v.dataSize && freed < deletedCells) {
                freeCell(v.dataCell + 4096);
                ++freed;
            }
        }
        regf::wr32(image.data() + k.offset + 4 + 0x24, 0);
    }
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
    std::printf("%s: %zu bytes, %llu keys, %llu cells freed\n", argv[1], image.size(),
                static_cast<unsigned long long>(keys), static_cast<unsigned long long>(freed));
    return out ? 0 : 1;
}
