// The "Noise remover" filter CLfNoiseRemover.
#pragma once

class CImgFilter;
class CLfNoiseRemover;

// A new "Noise remover" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfNoiseRemover();
