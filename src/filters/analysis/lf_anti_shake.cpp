#include "filters/analysis/lf_anti_shake.h"

CImgFilter* CreateLfAntiShake() { return nullptr; }
