#include "filters/processing/lf_filter.h"

CImgFilter* CreateLfFilter() { return nullptr; }
