// The "Filter" filter CLfFilter.
#pragma once

class CImgFilter;
class CLfFilter;

// A new "Filter" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfFilter();
