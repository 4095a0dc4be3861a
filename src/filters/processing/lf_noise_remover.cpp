#include "filters/processing/lf_noise_remover.h"

CImgFilter* CreateLfNoiseRemover() { return nullptr; }
