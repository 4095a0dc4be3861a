// The "Pseudo-color" filter CLfLut.
#pragma once

class CImgFilter;
class CLfLut;

// A new "Pseudo-color" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfLut();
