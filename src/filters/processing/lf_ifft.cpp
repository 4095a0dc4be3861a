#include "filters/processing/lf_ifft.h"

CImgFilter* CreateLfIFFT() { return nullptr; }
