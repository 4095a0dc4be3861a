#include "filters/processing/lf_binary.h"

CImgFilter* CreateLfBinary() { return nullptr; }
