// The "Up convert" filter CLfUpConv.
#pragma once

class CImgFilter;
class CLfUpConv;

// A new "Up convert" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfUpConv();
