// The "FFT" filter CLfFFT.
#pragma once

class CImgFilter;
class CLfFFT;

// A new "FFT" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfFFT();
