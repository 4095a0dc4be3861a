// "FFT": replaces the processing rectangle by the picture of its centred
// spectrum and pushes the coefficients on the spectrum stack for a later
// "IFFT" or "IFFT EX" of the same run.
#pragma once

#include "filters/core/imgfilter.h"

class CLfFFT : public CImgFilter {
public:
    CLfFFT();
    ~CLfFFT() override;
    const wchar_t* GetName(const wchar_t*) override { return L"FFT"; }
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
};

// A new "FFT" filter, or null when out of memory.
CImgFilter* CreateLfFFT();
