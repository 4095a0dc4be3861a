// The "Flip" filter CLfFlip.
#pragma once

class CImgFilter;
class CLfFlip;

// A new "Flip" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfFlip();
