// The abstract base of every image filter of a chain: the state that the
// chain controller pushes into each filter, default behaviour of every
// operation, the settings-section identifier, the common settings keys and
// the image-to-display mapping.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class CFilterCtrl;
class CImgBuff;
class CCfgPack;
class CFgScreen;
class CFgFont;

constexpr int32_t kFilterUnitMax = 256;  // characters of the unit, terminator included
constexpr int32_t kFilterIdMax = 32;     // characters of a settings-section identifier

// The settings-section identifier of a filter named `name` in English:
// lower-cased, each blank an underscore, cut to 32 characters. `out` holds
// kFilterIdMax + 1 characters.
void MakeFilterId(const wchar_t* name, wchar_t* out);

// Turns an integer display coordinate into an OpenGL coordinate of the
// current drawing target.
using OverlayToGlFn = double (*)(int32_t);

class CImgFilter {
public:
    CImgFilter() = default;
    CImgFilter(const CImgFilter&) = delete;
    CImgFilter& operator=(const CImgFilter&) = delete;

    CFilterCtrl* owner = nullptr;
    uint32_t kind = 0;              // 1 = group tag
    CFgScreen* uiParent = nullptr;  // parent of the shown settings UI
    std::wstring language = L"jp";  // "jp" selects Japanese, anything else English
    uint32_t visible = 0;
    uint32_t hiddenByTab = 0;           // the filter's chain is not the active one
    std::atomic<uint32_t> enabled = 0;  // read by the chain worker
    uint64_t width = 0, height = 0, bytesPerPixel = 0, frames = 0;
    double guideRed = 1.0, guideGreen = 0.0, guideBlue = 0.0;
    double calibScale = 1.0;
    int32_t calibAxisY = 1;  // +1 or -1
    wchar_t calibUnit[kFilterUnitMax] = {};
    wchar_t idCache[kFilterIdMax + 1] = {};

    virtual ~CImgFilter() = default;
    // The English name lower-cased, blanks as '_', at most 32 characters;
    // computed once.
    virtual const wchar_t* GetId();
    virtual const wchar_t* GetName(const wchar_t* languageCode);
    virtual int32_t HasUi() { return 0; }
    virtual void EnableUi(int32_t /*enable*/) {}
    virtual void OnEnable(int32_t /*on*/) {}
    virtual void ShowUi(int32_t /*show*/, CFgScreen* /*parent*/) {}
    // Rebuilds a shown settings UI so it takes the new language's labels.
    virtual void OnLang(const wchar_t* languageCode);
    virtual void OnSize(uint64_t /*w*/, uint64_t /*h*/, uint64_t /*bpp*/, uint64_t /*frameCount*/) {}
    virtual void OnCalib(double /*scale*/, int32_t /*axisY*/, const wchar_t* /*unit*/) {}
    virtual void OnGuideColor(double /*red*/, double /*green*/, double /*blue*/) {}
    // Draws the overlay: display rectangle d*, visible image part i* (both
    // inclusive) and the picture's zoom (0 or -1 fitted, 1 one to one,
    // n >= 2 magnified, n <= -2 shrunk).
    virtual void OnOverlayView(OverlayToGlFn /*toGlX*/, OverlayToGlFn /*toGlY*/, CFgScreen* /*screen*/,
                               CFgFont* /*font*/, int32_t /*dx0*/, int32_t /*dy0*/, int32_t /*dx1*/, int32_t /*dy1*/,
                               int32_t /*ix0*/, int32_t /*iy0*/, int32_t /*ix1*/, int32_t /*iy1*/, int32_t /*zoom*/) {}
    // Processes the image in place on the chain worker; the result is unused.
    virtual int32_t OnFilter(CImgBuff* /*image*/, uint64_t /*frame*/, int64_t /*x*/, int64_t /*y*/, int64_t /*w*/,
                             int64_t /*h*/, uint32_t /*connect*/, uint32_t /*bg*/, uint32_t* /*workFormat*/,
                             uint32_t* /*channelBytes*/) {
        return 0;
    }
    // Chain-run entry: hands the pointed-to values to OnFilter. Filters that
    // change the run's variables for later filters override it.
    virtual int32_t Filter(CImgBuff* image, uint64_t frame, int64_t* x, int64_t* y, int64_t* w, int64_t* h,
                           uint32_t* connect, uint32_t* bg, uint32_t* workFormat, uint32_t* channelBytes);
    // Mouse over the picture in image pixels; flags bit 0 Shift, bit 1 Ctrl.
    virtual void OnMouseMove(int64_t /*x*/, int64_t /*y*/, uint32_t /*flags*/) {}
    virtual void OnLButtonDown(int64_t /*x*/, int64_t /*y*/, uint32_t /*flags*/) {}
    virtual void OnLButtonUp(int64_t /*x*/, int64_t /*y*/, uint32_t /*flags*/) {}
    virtual void OnRButtonDown(int64_t /*x*/, int64_t /*y*/, uint32_t /*flags*/) {}
    virtual void OnRButtonUp(int64_t /*x*/, int64_t /*y*/, uint32_t /*flags*/) {}
    // "if_enable" and, with a settings UI, "if_visible".
    virtual void SaveConfig(CCfgPack* pack);
    virtual void LoadConfig(CCfgPack* pack);

    // Stores the calibration (a null unit empties it), then OnCalib.
    void SetCalibration(double scale, int32_t axisY, const wchar_t* unit);
    // Maps an image point into screen pixels of the shown picture; returns 1.
    static int32_t MapImageToView(int32_t* x, int32_t* y, int32_t dx0, int32_t dy0, int32_t dx1, int32_t dy1,
                                  int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1, int32_t zoom);
};
