// The "IFFT" filter CLfIFFT.
#pragma once

class CImgFilter;
class CLfIFFT;

// A new "IFFT" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfIFFT();
