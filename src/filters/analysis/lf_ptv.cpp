#include "filters/analysis/lf_ptv.h"

CImgFilter* CreateLfPtv() { return nullptr; }
