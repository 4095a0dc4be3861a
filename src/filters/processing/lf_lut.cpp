#include "filters/processing/lf_lut.h"

CImgFilter* CreateLfLut() { return nullptr; }
