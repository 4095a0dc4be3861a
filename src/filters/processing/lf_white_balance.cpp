#include "filters/processing/lf_white_balance.h"

CImgFilter* CreateLfWhiteBalance() { return nullptr; }
