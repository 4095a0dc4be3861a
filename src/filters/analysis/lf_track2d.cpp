#include "filters/analysis/lf_track2d.h"

CImgFilter* CreateLfTrack2dHsv() { return nullptr; }
CImgFilter* CreateLfTrack2dPattern() { return nullptr; }
