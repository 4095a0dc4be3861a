// The "Manual measurement" filter CLfMmeasure.
#pragma once

class CImgFilter;
class CLfMmeasure;

// A new "Manual measurement" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfMmeasure();
