// A filter's settings in a file of their own (".lut" tables, ".fmx"
// kernels): one section named by the filter's identifier, a version item
// first, then the filter's saved settings. Both commands ask for the file
// (starting at "temp.<ext>" in the settings folder, keeping the folder other
// file selections start in) and report in message boxes over the panel.
#pragma once

#include <cstdint>

class CImgFilter;
class CFgScreen;

struct FilterFileKind {
    const wchar_t* extension;   // "lut"
    const wchar_t* versionKey;  // "lut_ver"
    // Whether a file of this version text can be read.
    bool (*versionReadable)(const wchar_t* text);
};

// Version rules of the two kinds: ".lut" reads the version signed and
// accepts 0 and 1; ".fmx" reads it unsigned and accepts what is below 2.
bool LutVersionReadable(const wchar_t* text);
bool FmxVersionReadable(const wchar_t* text);

// Asks for a file and loads the filter's settings from it; 1 when loaded.
// The chain runs again afterwards when the filter is on (also after a
// missing file or section, as the user expects the picture redrawn).
int32_t OpenFilterFile(CImgFilter* filter, CFgScreen* panel, const FilterFileKind& kind);
// Asks for a file name and writes the filter's settings; an existing file
// is replaced only after a yes, and only by a complete file. 1 when saved.
int32_t SaveFilterFile(CImgFilter* filter, CFgScreen* panel, const FilterFileKind& kind);
