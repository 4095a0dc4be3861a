#include "filters/analysis/lf_overlap_compare.h"

CImgFilter* CreateLfOverlapCompare() { return nullptr; }
