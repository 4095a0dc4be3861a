// The "Bayer convert" filter CLfBayer.
#pragma once

class CImgFilter;
class CLfBayer;

// A new "Bayer convert" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfBayer();
