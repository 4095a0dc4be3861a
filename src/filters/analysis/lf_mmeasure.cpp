#include "filters/analysis/lf_mmeasure.h"

CImgFilter* CreateLfMmeasure() { return nullptr; }
