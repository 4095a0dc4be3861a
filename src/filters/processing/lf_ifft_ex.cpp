#include "filters/processing/lf_ifft_ex.h"

#include <new>

#include "filters/processing/spectrum_records.h"

CImgFilter* CreateLfIFFTEX() { return new (std::nothrow) CLfIFFTEX; }

CLfIFFTEX::CLfIFFTEX() { AddSpectrumUser(); }
CLfIFFTEX::~CLfIFFTEX() { ReleaseSpectrumUser(); }

// The region comes from the record, not from the rectangle given.
int32_t CLfIFFTEX::OnFilter(CImgBuff* image, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t,
                          uint32_t*, uint32_t*) {
    return InverseSpectrumStep(image, true);
}
