// The "White balance" filter CLfWhiteBalance.
#pragma once

class CImgFilter;
class CLfWhiteBalance;

// A new "White balance" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfWhiteBalance();
