#include "filters/processing/lf_fft.h"

#include <new>

#include "filters/processing/small_filter.h"
#include "filters/processing/spectrum_records.h"
#include "image/imgbuff.h"

CImgFilter* CreateLfFFT() { return new (std::nothrow) CLfFFT; }

CLfFFT::CLfFFT() { AddSpectrumUser(); }
CLfFFT::~CLfFFT() { ReleaseSpectrumUser(); }

int32_t CLfFFT::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t, uint32_t,
                         uint32_t*, uint32_t*) {
    // The part of the rectangle inside the image, as every filter takes it;
    // the record keeps that clipped region.
    ImgRect r = RegionRect(x, y, w, h);
    if (!ImgClipRect(&r, image)) return 1;
    CImgBuff scratch;
    if (!image->ExtractRect(&scratch, r.x0, r.y0, r.x1, r.y1)) return 1;
    SpectrumRecord record{};
    record.x0 = r.x0;
    record.y0 = r.y0;
    record.x1 = r.x1;
    record.y1 = r.y1;
    if (!ImgFftForward(&record.state, &scratch)) {
        ImgFftReset(&record.state);
        return 1;
    }
    if (!ImgFftSpectrumImage(&record.state, &scratch) || !PushSpectrum(record)) {
        ImgFftReset(&record.state);
        return 1;
    }
    image->PasteImage(&scratch, static_cast<uint32_t>(r.x0), static_cast<uint32_t>(r.y0));
    return 1;
}
