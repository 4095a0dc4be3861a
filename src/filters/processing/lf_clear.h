// The "Pixel value adjustment" filter CLfClear.
#pragma once

class CImgFilter;
class CLfClear;

// A new "Pixel value adjustment" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfClear();
