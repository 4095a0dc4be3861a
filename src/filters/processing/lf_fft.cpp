#include "filters/processing/lf_fft.h"

CImgFilter* CreateLfFFT() { return nullptr; }
