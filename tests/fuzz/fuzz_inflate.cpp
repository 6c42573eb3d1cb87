// libFuzzer target: the chunk decoder.  The first four bytes are the stated
// decoded size, the rest the stored data.  No allocation is refused here,
// so every failure must be damage.
#include "codec.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    uint32_t decoded = ReadLittle32(data);
    uint8_t *out = NULL;
    uint32_t length = 0;
    long before = VHeapLiveBlocks();
    int result = InflateBlock(data + 4, (uint32_t)(size - 4), decoded, &out, &length);
    if (result == BlockRead) {
        if (decoded != 0 && length > decoded)
            abort();
        volatile uint8_t sink = length ? out[length - 1] : 0;
        (void)sink;
        VFree(out);
    } else if (result != BlockDamaged || out != NULL) {
        abort();
    }
    if (VHeapLiveBlocks() != before)
        abort();
    return 0;
}
