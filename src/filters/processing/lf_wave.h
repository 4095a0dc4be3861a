// The "Color filter" filter CLfWave.
#pragma once

class CImgFilter;
class CLfWave;

// A new "Color filter" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfWave();
