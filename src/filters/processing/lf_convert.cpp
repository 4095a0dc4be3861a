#include "filters/processing/lf_convert.h"

CImgFilter* CreateLfConvert() { return nullptr; }
