// The plug-in filter adapter: binding to a module, forwarding every filter
// operation, the pixel type a module works on and the overlay transform.
#include "filters/core/lf_plugin.h"

#include <cstdlib>

#include "filters/core/filter_plugin.h"
#include "filters/core/filterctrl.h"
#include "filters/core/textconv.h"
#include "image/imgbuff.h"
#include "platform/plat_window.h"
#include "toolkit/fg_screen.h"

namespace {

// The rectangles and zoom of the last OnOverlayView of any adapter;
// overlays are drawn one filter after the other on the user-interface thread.
struct OverlayView {
    double dx0, dy0, dx1, dy1;
    double ix0, iy0, ix1, iy1;
    double zoom;
};
OverlayView g_PluginOverlay = {};

// Pixel type of each byte count: 1 -> 1, 2 -> 2, 4 -> 3, 3 -> 4, 6 -> 5,
// 12 -> 6, 24 -> 7; 0 for other counts.
int32_t OwnType(int32_t bytes) {
    switch (bytes) {
        case 1: return 1;
        case 2: return 2;
        case 4: return 3;
        case 3: return 4;
        case 6: return 5;
        case 12: return 6;
        case 24: return 7;
        default: return 0;
    }
}

// The types tried, in order, when a module does not take an image's own.
const int32_t* ConversionOrder(int32_t bytes) {
    static const int32_t k1[] = {2, 3, 4, 5, 6, 7};
    static const int32_t k2[] = {3, 5, 6, 7, 1, 4};
    static const int32_t k4[] = {6, 7, 2, 5, 1, 4};
    static const int32_t k3[] = {6, 5, 7, 1, 2, 3};
    static const int32_t k6[] = {6, 7, 4, 2, 3, 1};
    static const int32_t k12[] = {7, 5, 4, 3, 2, 1};
    static const int32_t k24[] = {6, 5, 4, 3, 2, 1};
    switch (bytes) {
        case 1: return k1;
        case 2: return k2;
        case 4: return k4;
        case 3: return k3;
        case 6: return k6;
        case 12: return k12;
        case 24: return k24;
        default: return nullptr;
    }
}

bool Accepts(uint32_t caps, int32_t type) { return type >= 1 && type <= 7 && (caps >> (type - 1)) & 1u; }

// One axis of the overlay transform: the zoom's scale, or for a fitted
// picture the ratio of the spans; a span of zero (one visible column or
// row) takes the counts instead.
double OverlayScale(double d0, double d1, double i0, double i1, double zoom) {
    if (zoom >= 1) return zoom;
    if (zoom <= -2) return 1.0 / -zoom;
    if (i1 == i0) return (d1 - d0 + 1) / (i1 - i0 + 1);
    return (d1 - d0) / (i1 - i0);
}

}  // namespace

int32_t PluginWorkType(uint32_t caps, int32_t bytesPerPixel) {
    int32_t own = OwnType(bytesPerPixel);
    if (!own) return 0;
    if (Accepts(caps, own)) return own;
    const int32_t* order = ConversionOrder(bytesPerPixel);
    for (int i = 0; i < 6; ++i)
        if (Accepts(caps, order[i])) return order[i];
    return 0;
}

void FilterPluginOverlayTransform(double* x, double* y) {
    const OverlayView& v = g_PluginOverlay;
    if (x) *x = (*x - v.ix0) * OverlayScale(v.dx0, v.dx1, v.ix0, v.ix1, v.zoom) + v.dx0;
    if (y) *y = (*y - v.iy0) * OverlayScale(v.dy0, v.dy1, v.iy0, v.iy1, v.zoom) + v.dy0;
    OverlayPixelToGl(x, y);
}

CLfPlugin::CLfPlugin(const wchar_t* modulePath) {
    if (!modulePath || !modulePath[0] || !g_FilterPluginTable) return;
    for (uint64_t i = 0; i < g_FilterPluginCount; ++i) {
        if (CompareFilterPluginPaths(g_FilterPluginTable[i].path, modulePath) == 0) {
            Bind(i);
            return;
        }
    }
}

CLfPlugin::CLfPlugin(uint64_t index) {
    if (index < g_FilterPluginCount) Bind(index);
}

void CLfPlugin::Bind(uint64_t index) {
    moduleIndex = index;
    instance = g_FilterPluginTable[index].em_create(static_cast<CImgFilter*>(this));
}

CLfPlugin::~CLfPlugin() {
    free(langCache);
    free(nameCache);
    FilterPluginModule* m = Module();
    if (m) m->em_delete(instance);
}

FilterPluginModule* CLfPlugin::Module() const {
    if (!instance || moduleIndex >= g_FilterPluginCount || !g_FilterPluginTable) return nullptr;
    return &g_FilterPluginTable[moduleIndex];
}

const wchar_t* CLfPlugin::GetId() {
    FilterPluginModule* m = Module();
    return m ? m->path : nullptr;
}

const wchar_t* CLfPlugin::GetName(const wchar_t* languageCode) {
    FilterPluginModule* m = Module();
    if (!m) return nullptr;
    free(nameCache);
    nameCache = nullptr;
    char* code = WideToAnsi(languageCode);
    if (!code) return nullptr;
    const char* name = m->em_name(code);
    free(code);
    nameCache = name ? AnsiToWide(name) : nullptr;
    return nameCache;
}

int32_t CLfPlugin::HasUi() {
    FilterPluginModule* m = Module();
    return m && (m->caps & FP_CAP_UI) ? 1 : 0;
}

void CLfPlugin::EnableUi(int32_t enable) {
    FilterPluginModule* m = Module();
    if (m && m->em_uilock) m->em_uilock(instance, enable == 0 ? 1 : 0);
}

void CLfPlugin::OnEnable(int32_t on) {
    FilterPluginModule* m = Module();
    if (m && m->on_enable) m->on_enable(instance, on);
}

void CLfPlugin::ShowUi(int32_t show, CFgScreen* parent) {
    FilterPluginModule* m = Module();
    if (!m) return;
    if (show) {
        if (m->em_show) m->em_show(instance, parent ? PlatGetNativeWindowId(parent->window) : 0);
    } else if (m->em_hide) {
        m->em_hide(instance);
    }
}

void CLfPlugin::OnLang(const wchar_t* languageCode) {
    FilterPluginModule* m = Module();
    if (!m || !m->on_lang) return;
    char* code = WideToAnsi(languageCode);
    if (!code) return;
    m->on_lang(instance, code);
    // The plug-in may keep the previous text until this call.
    free(langCache);
    langCache = code;
}

void CLfPlugin::OnSize(uint64_t w, uint64_t h, uint64_t bpp, uint64_t frameCount) {
    FilterPluginModule* m = Module();
    if (m && m->on_size) m->on_size(instance, w, h, static_cast<uint16_t>(bpp * 8), frameCount);
}

void CLfPlugin::OnOverlayView(OverlayToGlFn /*toGlX*/, OverlayToGlFn /*toGlY*/, CFgScreen* /*screen*/,
                              CFgFont* /*font*/, int32_t dx0, int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0,
                              int32_t iy0, int32_t ix1, int32_t iy1, int32_t zoom) {
    FilterPluginModule* m = Module();
    if (!m || !m->on_overlay_view) return;
    g_PluginOverlay = {double(dx0), double(dy0), double(dx1), double(dy1), double(ix0),
                       double(iy0), double(ix1), double(iy1), double(zoom)};
    m->on_overlay_view(instance, FilterPluginOverlayTransform, guideRed, guideGreen, guideBlue, dx0, dy0, dx1, dy1,
                       ix0, iy0, ix1, iy1, zoom);
}

int32_t CLfPlugin::OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h,
                            uint32_t connect, uint32_t bg, uint32_t* /*workFormat*/, uint32_t* /*channelBytes*/) {
    FilterPluginModule* m = Module();
    if (!m || !m->on_filter || !image || !image->buffer) return 0;
    C_ImgBuff* b = image->buffer;
    int32_t bytes = ImgFormatBytes(b->format);
    if (!bytes || !b->pixels) return 0;
    int32_t type = PluginWorkType(m->caps, bytes);
    if (!type) return 0;
    if (type == OwnType(bytes)) {
        // The image's own pixels; HSV and CMYK go as 48- and 32-bit pixels.
        return m->on_filter(instance, b->pixels, b->width, b->height, static_cast<uint16_t>(bytes * 8), frame, x, y,
                            x + w - 1, y + h - 1, connect, bg);
    }
    C_ImgBuff copy;
    copy.CopyFrom(b);
    if (!copy.pixels || !copy.ConvertFormat(static_cast<uint32_t>(type))) return 0;
    int32_t changed = m->on_filter(instance, copy.pixels, copy.width, copy.height,
                                   static_cast<uint16_t>(ImgFormatBytes(type) * 8), frame, x, y, x + w - 1, y + h - 1,
                                   connect, bg);
    // The result takes the image's place in its own format.
    if (changed && copy.ConvertFormat(static_cast<uint32_t>(b->format))) b->TakePixels(&copy);
    return changed;
}

void CLfPlugin::OnMouseMove(int64_t x, int64_t y, uint32_t flags) {
    FilterPluginModule* m = Module();
    if (m && m->on_mouse_move) m->on_mouse_move(instance, x, y, flags);
}

void CLfPlugin::OnLButtonDown(int64_t x, int64_t y, uint32_t flags) {
    FilterPluginModule* m = Module();
    if (m && m->on_mouse_lbutton_down) m->on_mouse_lbutton_down(instance, x, y, flags);
}

void CLfPlugin::OnLButtonUp(int64_t x, int64_t y, uint32_t flags) {
    FilterPluginModule* m = Module();
    if (m && m->on_mouse_lbutton_up) m->on_mouse_lbutton_up(instance, x, y, flags);
}

void CLfPlugin::OnRButtonDown(int64_t x, int64_t y, uint32_t flags) {
    FilterPluginModule* m = Module();
    if (m && m->on_mouse_rbutton_down) m->on_mouse_rbutton_down(instance, x, y, flags);
}

void CLfPlugin::OnRButtonUp(int64_t x, int64_t y, uint32_t flags) {
    FilterPluginModule* m = Module();
    if (m && m->on_mouse_rbutton_up) m->on_mouse_rbutton_up(instance, x, y, flags);
}

CImgFilter* CreatePluginFilter(uint64_t moduleIndex) {
    CLfPlugin* filter = new CLfPlugin(moduleIndex);
    if (filter->instance) return filter;
    delete filter;
    return nullptr;
}

CImgFilter* CreatePluginFilterByPath(const wchar_t* modulePath) {
    CLfPlugin* filter = new CLfPlugin(modulePath);
    if (filter->instance) return filter;
    delete filter;
    return nullptr;
}
