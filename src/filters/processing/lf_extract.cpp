#include "filters/processing/lf_extract.h"

CImgFilter* CreateLfExtract() { return nullptr; }
