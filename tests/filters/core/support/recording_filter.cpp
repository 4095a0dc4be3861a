#include "recording_filter.h"

#include "image/imgbuff.h"

int32_t RecordingFilter::Filter(CImgBuff* image, uint64_t frame, int64_t* x, int64_t* y, int64_t* w, int64_t* h,
                                uint32_t* connect, uint32_t* bg, uint32_t* workFormat, uint32_t* channelBytes) {
    const C_ImgBuff* b = image->buffer;
    steps.push_back({frame, *x, *y, *w, *h, *connect, *bg, *workFormat, *channelBytes, b->format, b->width, b->height});
    Log("Filter");
    if (onStep) onStep(image, x, y, w, h, connect, bg, workFormat, channelBytes);
    return 0;
}
