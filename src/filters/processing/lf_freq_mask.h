// The "Frequency mask" filter CLfFreqMask.
#pragma once

class CImgFilter;
class CLfFreqMask;

// A new "Frequency mask" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfFreqMask();
