// The "Zoom" filter CLfAtrans.
#pragma once

class CImgFilter;
class CLfAtrans;

// A new "Zoom" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfAtrans();
