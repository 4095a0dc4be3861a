// The "Window cut" filter CLfWindowCut.
#pragma once

class CImgFilter;
class CLfWindowCut;

// A new "Window cut" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfWindowCut();
