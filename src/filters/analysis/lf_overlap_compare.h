// The "Overlap compare" filter CLfOverlapCompare.
#pragma once

class CImgFilter;
class CLfOverlapCompare;

// A new "Overlap compare" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfOverlapCompare();
