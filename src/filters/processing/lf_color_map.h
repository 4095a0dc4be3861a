// The "Color map" filter CLfColorMap.
#pragma once

class CImgFilter;
class CLfColorMap;

// A new "Color map" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfColorMap();
