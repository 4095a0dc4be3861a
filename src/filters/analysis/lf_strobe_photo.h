// The "Strobe photo" filter CLfStrobePhoto.
#pragma once

class CImgFilter;
class CLfStrobePhoto;

// A new "Strobe photo" filter, or null while the filter is not part of the program.
CImgFilter* CreateLfStrobePhoto();
