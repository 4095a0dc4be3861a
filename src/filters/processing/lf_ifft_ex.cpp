#include "filters/processing/lf_ifft_ex.h"

CImgFilter* CreateLfIFFTEX() { return nullptr; }
