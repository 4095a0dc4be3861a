#include "filters/processing/lf_atrans.h"

CImgFilter* CreateLfAtrans() { return nullptr; }
