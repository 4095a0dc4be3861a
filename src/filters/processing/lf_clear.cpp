#include "filters/processing/lf_clear.h"

CImgFilter* CreateLfClear() { return nullptr; }
