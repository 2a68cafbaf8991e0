// Hive files come from anywhere: any input must be refused or read, within
// bounded time and memory, and a successful read must write back and re-read.
#include "platform/hive/Regf.h"

#include <cstdlib>

using namespace vt::hive;

namespace
{
void checkTree(const Key &k)
{
    for (size_t i = 0; i < k.subkeys.size(); ++i) {
        if (k.subkeys[i]->parent != &k || (i && !(k.subkeys[i - 1]->upperName < k.subkeys[i]->upperName)))
            std::abort();
        checkTree(*k.subkeys[i]);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Hive hive;
    bool recovered = false;
    if (readHive({data, size}, hive, &recovered) != ERROR_SUCCESS)
        return 0;
    checkTree(*hive.root);
    const std::vector<uint8_t> image = writeHive(hive);
    Hive again;
    if (readHive(image, again, &recovered) != ERROR_SUCCESS || recovered)
        std::abort(); // what we write must read back clean
    return 0;
}
