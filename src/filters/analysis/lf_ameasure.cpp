#include "filters/analysis/lf_ameasure.h"

CImgFilter* CreateLfAmeasure() { return nullptr; }
