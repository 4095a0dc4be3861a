#include "filters/processing/lf_ifft.h"

#include <new>

#include "filters/processing/spectrum_records.h"

CImgFilter* CreateLfIFFT() { return new (std::nothrow) CLfIFFT; }

CLfIFFT::CLfIFFT() { AddSpectrumUser(); }
CLfIFFT::~CLfIFFT() { ReleaseSpectrumUser(); }

// The region comes from the record, not from the rectangle given.
int32_t CLfIFFT::OnFilter(CImgBuff* image, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t,
                          uint32_t*, uint32_t*) {
    return InverseSpectrumStep(image, false);
}
