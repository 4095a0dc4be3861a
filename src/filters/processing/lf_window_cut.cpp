#include "filters/processing/lf_window_cut.h"

CImgFilter* CreateLfWindowCut() { return nullptr; }
