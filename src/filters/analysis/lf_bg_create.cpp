#include "filters/analysis/lf_bg_create.h"

CImgFilter* CreateLfBgCreate() { return nullptr; }
