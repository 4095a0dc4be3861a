#include "filters/processing/lf_bg_erase.h"

CImgFilter* CreateLfBgErase() { return nullptr; }
