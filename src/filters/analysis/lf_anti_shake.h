// The "Anti shake / Composit" filter CLfAntiShake.
#pragma once

class CImgFilter;
class CLfAntiShake;

// A new "Anti shake / Composit" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfAntiShake();
