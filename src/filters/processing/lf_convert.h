// The "Component extraction" filter CLfConvert.
#pragma once

class CImgFilter;
class CLfConvert;

// A new "Component extraction" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfConvert();
