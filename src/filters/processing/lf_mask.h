// The "Mask" filter CLfMask.
#pragma once

class CImgFilter;
class CLfMask;

// A new "Mask" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfMask();
