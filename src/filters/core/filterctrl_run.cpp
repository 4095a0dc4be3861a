// One run of the active chain over an image, on the worker thread.
#include "filters/core/filterctrl.h"
#include "filters/core/spectrum_stack.h"
#include "filters/core/workimage.h"
#include "image/imgbuff.h"

namespace {

// Bytes per channel of a pixel format: 1, 2, 4 or 8.
uint32_t ChannelBytes(int32_t format) {
    const int32_t bytes = ImgFormatBytes(format);
    return static_cast<uint32_t>(format >= kImgRgb8 ? bytes / 3 : bytes);
}

// The format of the same colour class with channelBytes per channel; 0
// when there is none.
int32_t FormatForChannelBytes(int32_t format, uint32_t channelBytes) {
    const bool colour = format >= kImgRgb8;
    switch (channelBytes) {
        case 1: return colour ? kImgRgb8 : kImgGray8;
        case 2: return colour ? kImgRgb16 : kImgGray16;
        case 4: return colour ? kImgRgb32 : kImgGray32;
        case 8: return colour ? kImgXyz : 0;
        default: return 0;
    }
}

}  // namespace

void CFilterCtrl::RunChain(CImgBuff* image, uint64_t frame) {
    ChainRegion region;
    if (!RunActiveChain(image, frame, &region)) return;
    CriticalSectionLock hold(lock);
    StoreRegion(region);
}

void CFilterCtrl::StoreRegion(const ChainRegion& region) {
    regionX0 = static_cast<int32_t>(region.x);
    regionY0 = static_cast<int32_t>(region.y);
    // Unsigned sums: a filter's odd rectangle must not overflow.
    regionX1 = static_cast<int32_t>(static_cast<uint64_t>(region.x) + static_cast<uint64_t>(region.w) - 1);
    regionY1 = static_cast<int32_t>(static_cast<uint64_t>(region.y) + static_cast<uint64_t>(region.h) - 1);
}

bool CFilterCtrl::RunActiveChain(CImgBuff* image, uint64_t frame, ChainRegion* region) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format)) return false;
    uint32_t channelBytes = ChannelBytes(image->buffer->format);
    int64_t x = 0, y = 0;
    int64_t w = image->buffer->width, h = image->buffer->height;
    uint32_t workFormat = 0;
    CImgBuff work;
    // Filters change connectivity and background for the filters after
    // them; the controller's own values hold again for the next run.
    uint32_t runConnect = connect.load();
    uint32_t runBg = bg.load();
    ClearSpectrumStack();

    bool skipping = false;
    uint64_t lastYield = PlatGetTickCount();
    const std::vector<CImgFilter*>& filters = chains[activeChain].filters;
    for (size_t i = 0; i < filters.size(); ++i) {
        CImgFilter* filter = filters[i];
        if (filter->kind == 1) {
            skipping = !filter->enabled;
            continue;
        }
        if (skipping || !filter->enabled) continue;
        const uint64_t now = PlatGetTickCount();
        if (now - lastYield > 50) {
            PlatSleep(0);
            lastYield = now;
        }
        const uint32_t previous = workFormat;
        filter->Filter(workFormat ? &work : image, frame, &x, &y, &w, &h, &runConnect, &runBg, &workFormat,
                       &channelBytes);
        if (workFormat != previous) {
            if (previous) StoreWorkingImage(image, &work, previous);
            // A frame emptied by a filter leaves the later ones an empty
            // working image rather than the component stored back above.
            if (workFormat && !(ImgFormatValid(image->buffer->format) && MakeWorkingImage(image, &work, workFormat))) {
                work.FreePixels();
            }
        }
    }
    if (workFormat) StoreWorkingImage(image, &work, workFormat);

    C_ImgBuff* buffer = image->buffer;
    if (buffer && ImgFormatValid(buffer->format) && ChannelBytes(buffer->format) != channelBytes) {
        if (int32_t target = FormatForChannelBytes(buffer->format, channelBytes)) {
            buffer->ConvertFormat(static_cast<uint32_t>(target));
        }
    }
    *region = {x, y, w, h};
    return true;
}
