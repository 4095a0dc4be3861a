#include "filters/processing/lf_histogram.h"

CImgFilter* CreateLfHistogram() { return nullptr; }
