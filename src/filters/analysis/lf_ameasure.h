// The "Auto measurement" filter CLfAmeasure.
#pragma once

class CImgFilter;
class CLfAmeasure;

// A new "Auto measurement" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfAmeasure();
