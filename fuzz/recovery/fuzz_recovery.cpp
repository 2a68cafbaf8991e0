// Any bytes handed to the recovery pass: refused or scanned, within bounded
// time and memory; everything it reports lies within the image.
#include "recovery/HiveRecovery.h"

#include <cstdlib>

using namespace vt::recovery;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RecoveryResult result;
    std::string error;
    if (!recoverHive(std::span<const uint8_t>(data, size), result, error))
        return 0;
    size_t bytes = 0;
    for (const RecoveredValue &v : result.values) {
        if (v.offset >= size || (v.key >= 0 && static_cast<size_t>(v.key) >= result.keys.size()))
            std::abort();
        bytes += v.data.size();
    }
    if (bytes > 2 * size + (1u << 20))
        std::abort();
    for (const RecoveredKey &k : result.keys) {
        if (k.offset >= size || (k.parent >= 0 && static_cast<size_t>(k.parent) >= result.keys.size()))
            std::abort();
        (void)liveValues(result, k);
    }
    return 0;
}
