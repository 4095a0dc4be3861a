// The "Separation" filter CLfSeparation.
#pragma once

class CImgFilter;
class CLfSeparation;

// A new "Separation" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfSeparation();
