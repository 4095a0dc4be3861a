// The "Binary image process" filter CLfBinary.
#pragma once

class CImgFilter;
class CLfBinary;

// A new "Binary image process" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfBinary();
