// The "Color correction" filter CLfColorCorrection.
#pragma once

class CImgFilter;
class CLfColorCorrection;

// A new "Color correction" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfColorCorrection();
