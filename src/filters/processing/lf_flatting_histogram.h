// The "Equalize histogram" filter CLfFlattingHistogram.
#pragma once

class CImgFilter;
class CLfFlattingHistogram;

// A new "Equalize histogram" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfFlattingHistogram();
