// The "PIV" filter CLfPiv.
#pragma once

class CImgFilter;
class CLfPiv;

// A new "PIV" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfPiv();
