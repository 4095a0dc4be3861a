// The "Select components" filter CLfSelect.
#pragma once

class CImgFilter;
class CLfSelect;

// A new "Select components" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfSelect();
