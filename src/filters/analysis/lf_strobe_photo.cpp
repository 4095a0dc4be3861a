#include "filters/analysis/lf_strobe_photo.h"

CImgFilter* CreateLfStrobePhoto() { return nullptr; }
