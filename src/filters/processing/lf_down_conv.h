// The "Down convert" filter CLfDownConv.
#pragma once

class CImgFilter;
class CLfDownConv;

// A new "Down convert" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfDownConv();
