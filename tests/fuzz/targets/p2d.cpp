// The track file: load it, then read every point and the unit text as the
// track table and the tracking filters do, and load it into a tracking
// controller, which makes one target per column.
#include "filters/analysis/p2d_data.h"
#include "filters/analysis/track_ctrl.h"
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
    CTrackCtrl tracker;
    if (tracker.LoadP2d(kvfuzz::InputPath(data, size)) == 1 && static_cast<uint32_t>(tracker.targetCount) != table.Columns())
        __builtin_trap();
    return 0;
}
