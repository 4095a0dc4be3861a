// "Up convert" and "Down convert": one step of channel depth for the filters
// after them (8 -> 16 -> 32 bits up, 32 -> 16 -> 8 down). They work through
// the run's channel bytes; the run's end converts the image to the grey or
// colour format of the depth left.
#include <new>

#include "filters/processing/lf_down_conv.h"
#include "filters/processing/lf_up_conv.h"
#include "filters/processing/small_filter.h"
#include "image/imgbuff.h"
#include "image/kernels/up_convert.h"

namespace {

int32_t Format(const CImgBuff* image) { return image && image->buffer ? image->buffer->format : 0; }
bool Colour(int32_t format) { return format >= kImgRgb8 && format <= 9; }

}  // namespace

class CLfUpConv : public CSmallFilter {
public:
    CLfUpConv() : CSmallFilter(L"Up convert", L"アップコンバート") {}
    int32_t Filter(CImgBuff* image, uint64_t, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*,
                   uint32_t*, uint32_t* channelBytes) override {
        const int32_t incoming = Format(image);
        if (!incoming || (*channelBytes != 1 && *channelBytes != 2)) return 1;
        // 1 -> 2 bytes works on formats 1 and 4, 2 -> 4 bytes on 2 and 5;
        // other formats (CMYK, HSV...) go there and back.
        const bool wide = *channelBytes == 2;
        const int32_t grey = wide ? 2 : kImgGray8, colour = wide ? 5 : kImgRgb8;
        const int32_t work = Colour(incoming) ? colour : grey;
        if (incoming != work && !image->buffer->ConvertFormat(static_cast<uint32_t>(work))) return 1;
        if (ImgUpConvertDepth(image, wide ? 32 : 16)) *channelBytes = wide ? 4 : 2;
        if (incoming != work) image->buffer->ConvertFormat(static_cast<uint32_t>(incoming));
        return 1;
    }
};

class CLfDownConv : public CSmallFilter {
public:
    CLfDownConv() : CSmallFilter(L"Down convert", L"ダウンコンバート") {}
    int32_t Filter(CImgBuff* image, uint64_t, int64_t*, int64_t*, int64_t*, int64_t*, uint32_t*, uint32_t*,
                   uint32_t*, uint32_t* channelBytes) override {
        const int32_t format = Format(image);
        if (!format || format == 7 || (*channelBytes != 4 && *channelBytes != 2)) return 1;
        const bool fromWide = *channelBytes == 4;
        const int32_t target = Colour(format) ? (fromWide ? 5 : kImgRgb8) : (fromWide ? 2 : kImgGray8);
        if (image->buffer->ConvertFormat(static_cast<uint32_t>(target))) *channelBytes = fromWide ? 2 : 1;
        return 1;
    }
};

CImgFilter* CreateLfUpConv() { return new (std::nothrow) CLfUpConv; }
CImgFilter* CreateLfDownConv() { return new (std::nothrow) CLfDownConv; }
