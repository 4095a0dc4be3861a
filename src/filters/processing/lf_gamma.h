// The "Gamma" filter CLfGamma.
#pragma once

class CImgFilter;
class CLfGamma;

// A new "Gamma" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfGamma();
