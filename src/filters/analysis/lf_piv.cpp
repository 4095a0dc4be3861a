#include "filters/analysis/lf_piv.h"

CImgFilter* CreateLfPiv() { return nullptr; }
