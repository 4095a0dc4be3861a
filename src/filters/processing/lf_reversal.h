// The "Reversal" filter CLfReversal.
#pragma once

class CImgFilter;
class CLfReversal;

// A new "Reversal" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfReversal();
