#include "filters/processing/lf_ptrans.h"

CImgFilter* CreateLfPtrans() { return nullptr; }
