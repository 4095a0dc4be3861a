// The "Projective transformation" filter CLfPtrans.
#pragma once

class CImgFilter;
class CLfPtrans;

// A new "Projective transformation" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfPtrans();
