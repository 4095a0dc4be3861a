#include "filters/processing/lf_bayer.h"

CImgFilter* CreateLfBayer() { return nullptr; }
