// The "IFFT EX" filter CLfIFFTEX.
#pragma once

class CImgFilter;
class CLfIFFTEX;

// A new "IFFT EX" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfIFFTEX();
