// The particle-tracking track file: load it into a particle store as the
// PTV filter does, then walk every frame's particles and ids.
#include "filters/analysis/lf_ptv.h"
#include "support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CParticleData store;
    double scale = 0;
    if (PtvReadTrackFile(kvfuzz::InputWidePath(data, size), &store, [&](const P2dInfo& info) { scale = info.scale; }) != 1)
        return 0;
    double sum = scale;
    for (int32_t f = 0; f < store.frameCount; ++f)
        for (int32_t i = 0; i < store.frames[f].count; ++i) {
            const Particle& p = store.frames[f].records[i];
            sum += p.x + p.y + p.id;
        }
    sum += store.GetIdCount();
    volatile double keep = sum;
    (void)keep;
    return 0;
}
