#include "filters/processing/lf_color_map.h"

CImgFilter* CreateLfColorMap() { return nullptr; }
