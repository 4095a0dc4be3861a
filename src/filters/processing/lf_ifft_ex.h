// "IFFT EX": turns the latest spectrum of the run back into its region, with
// the spectrum picture as new magnitudes (the inverse of the logarithmic display; black removes).
#pragma once

#include "filters/core/imgfilter.h"

class CLfIFFTEX : public CImgFilter {
public:
    CLfIFFTEX();
    ~CLfIFFTEX() override;
    const wchar_t* GetName(const wchar_t*) override { return L"IFFT EX"; }
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
};

// A new "IFFT EX" filter, or null when out of memory.
CImgFilter* CreateLfIFFTEX();
