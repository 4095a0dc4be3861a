#include "filters/processing/lf_flip.h"

CImgFilter* CreateLfFlip() { return nullptr; }
