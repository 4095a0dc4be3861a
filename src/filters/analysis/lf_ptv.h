// The "Particle tracking / PTV" filter CLfPtv.
#pragma once

class CImgFilter;
class CLfPtv;

// A new "Particle tracking / PTV" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfPtv();
