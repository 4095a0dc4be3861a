// The settings text: load every section, then split every value into its
// comma-separated list as the readers of lists do.
#include "filters/core/cfgfile.h"
#include "support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CCfgFile cfg;
    cfg.Load(kvfuzz::InputWidePath(data, size));
    for (CCfgPack* pack = cfg.firstPack; pack; pack = pack->next)
        for (CCfgItem* item = pack->firstItem; item; item = item->next) item->GetValueList();
    return 0;
}
