#include "filters/processing/lf_color_correction.h"

CImgFilter* CreateLfColorCorrection() { return nullptr; }
