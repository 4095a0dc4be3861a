#include "filters/processing/lf_wave.h"

CImgFilter* CreateLfWave() { return nullptr; }
