// The 2D tracking filter CLfTrack2d.
#pragma once

class CImgFilter;
class CLfTrack2d;

// A new 2D tracking filter in colour-range (HSV) mode, or in pattern mode;
// null while the filter is not part of the program.
CImgFilter* CreateLfTrack2dHsv();
CImgFilter* CreateLfTrack2dPattern();
