// The plug-in filter adapter: one instance of a filter plug-in standing in
// a chain as a CImgFilter. Every operation forwards to the module's entry
// points, converting texts to UTF-8 and frames to a pixel type the module
// accepts.
#pragma once

#include <cstdint>

#include "filters/core/imgfilter.h"

class CLfPlugin : public CImgFilter {
public:
    // Binds to the first loaded module whose path compares as the same
    // (".wfm" and ".lfm" alike); unbound when none does.
    explicit CLfPlugin(const wchar_t* modulePath);
    // Binds to the module of that index; unbound for an index out of range.
    explicit CLfPlugin(uint64_t moduleIndex);
    ~CLfPlugin() override;

    uint64_t moduleIndex = 0;
    wchar_t* nameCache = nullptr;  // malloc: the name GetName last returned
    void* instance = nullptr;      // from em_create; null: unbound
    char* langCache = nullptr;     // malloc: the code last handed to on_lang

    const wchar_t* GetId() override;
    const wchar_t* GetName(const wchar_t* languageCode) override;
    int32_t HasUi() override;
    void EnableUi(int32_t enable) override;
    void OnEnable(int32_t on) override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void OnLang(const wchar_t* languageCode) override;
    void OnSize(uint64_t w, uint64_t h, uint64_t bpp, uint64_t frameCount) override;
    void OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t dx0,
                       int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                       int32_t zoom) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnMouseMove(int64_t x, int64_t y, uint32_t flags) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnLButtonUp(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonUp(int64_t x, int64_t y, uint32_t flags) override;

private:
    struct FilterPluginModule* Module() const;  // null when unbound
    void Bind(uint64_t index);
};

// Makers for the Plugin menu (by module index) and for filter lists (by
// module path): the new adapter, or null (nothing made) when it is unbound.
CImgFilter* CreatePluginFilter(uint64_t moduleIndex);
CImgFilter* CreatePluginFilterByPath(const wchar_t* modulePath);

// The pixel type a module works on for an image of `bytesPerPixel` bytes:
// the image's own type when accepted, else the first accepted type of the
// conversion order; 0 when the module accepts none.
int32_t PluginWorkType(uint32_t caps, int32_t bytesPerPixel);

// Converts an image point in place into OpenGL coordinates, by the
// rectangles and zoom of the overlay call in progress.
void FilterPluginOverlayTransform(double* x, double* y);
