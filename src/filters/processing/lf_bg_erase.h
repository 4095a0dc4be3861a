// The "Background removal" filter CLfBgErase.
#pragma once

class CImgFilter;
class CLfBgErase;

// A new "Background removal" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfBgErase();
