#include "filters/processing/lf_mask.h"

CImgFilter* CreateLfMask() { return nullptr; }
