// The "Histogram" filter CLfHistogram.
#pragma once

class CImgFilter;
class CLfHistogram;

// A new "Histogram" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfHistogram();
