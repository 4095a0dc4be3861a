// The "Generate BG image" filter CLfBgCreate.
#pragma once

class CImgFilter;
class CLfBgCreate;

// A new "Generate BG image" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfBgCreate();
