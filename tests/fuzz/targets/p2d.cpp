// The track file: load it, then read every point and the unit text as the
// track table and the tracking filters do.
#include "filters/analysis/p2d_data.h"
#include "support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CP2dData table;
    if (table.Load(kvfuzz::InputPath(data, size)) != 1) return 0;
    double sum = 0;
    for (uint32_t r = 0; r < table.Rows(); ++r)
        for (uint32_t c = 0; c < table.Columns(); ++c) {
            P2dPoint p;
            if (table.GetPoint(r, c, &p) && P2dPointPresent(p)) sum += p.x + p.y;
        }
    volatile double keep = sum;
    (void)keep;
    (void)P2dUnitText(table.info).size();
    return 0;
}
