#include "filters/processing/lf_separation.h"

CImgFilter* CreateLfSeparation() { return nullptr; }
