// The "Extraction" filter CLfExtract.
#pragma once

class CImgFilter;
class CLfExtract;

// A new "Extraction" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfExtract();
