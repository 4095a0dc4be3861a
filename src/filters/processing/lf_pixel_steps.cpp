// "Reversal" and "Equalize histogram": one kernel each over the run's region.
#include <algorithm>
#include <cstdint>
#include <new>

#include "filters/processing/lf_flatting_histogram.h"
#include "filters/processing/lf_reversal.h"
#include "filters/processing/small_filter.h"
#include "image/imgbuff.h"
#include "image/kernels/equalize.h"
#include "image/kernels/negative.h"

ImgRect RegionRect(int64_t x, int64_t y, int64_t w, int64_t h) {
    // 128-bit far corners: a region near the 64-bit limit cannot overflow.
    auto clamp32 = [](__int128 v) { return static_cast<int32_t>(std::clamp<__int128>(v, INT32_MIN, INT32_MAX)); };
    return {clamp32(x), clamp32(y), clamp32(static_cast<__int128>(x) + w - 1), clamp32(static_cast<__int128>(y) + h - 1)};
}

class CLfReversal : public CSmallFilter {
public:
    CLfReversal() : CSmallFilter(L"Reversal", L"反転") {}
    int32_t OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t, uint32_t,
                     uint32_t*, uint32_t*) override {
        const ImgRect r = RegionRect(x, y, w, h);
        return ImgNegate(image, &r);
    }
};

class CLfFlattingHistogram : public CSmallFilter {
public:
    CLfFlattingHistogram() : CSmallFilter(L"Equalize histogram", L"ヒストグラム平坦化") {}
    int32_t OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t, uint32_t,
                     uint32_t*, uint32_t*) override {
        const ImgRect r = RegionRect(x, y, w, h);
        return ImgFlattenHistogram(image, &r);
    }
};

CImgFilter* CreateLfReversal() { return new (std::nothrow) CLfReversal; }
CImgFilter* CreateLfFlattingHistogram() { return new (std::nothrow) CLfFlattingHistogram; }
