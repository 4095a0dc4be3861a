#include "filters/processing/lf_freq_mask.h"

CImgFilter* CreateLfFreqMask() { return nullptr; }
