// The main screen: construction and destruction, mouse routing over the
// window, the picture's overlay callback and the small free helpers.
#include "app/main_screen.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "app/filter_registry.h"
#include "filters/core/filter_plugin.h"
#include "filters/core/filterctrl.h"
#include "image/pool.h"
#include "media/codec.h"
#include "media/image_module.h"
#include "platform/files.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_progress_box.h"

namespace {

constexpr const wchar_t* kBuiltinStill = L"jpg jpeg tif tiff png bmp dcm";
constexpr const wchar_t* kBuiltinMultiPage = L"tif tiff dcm";
constexpr const wchar_t* kBuiltinMovie = L"avi mp4";
constexpr const wchar_t* kBuiltinSaveStill = L"jpg jpeg tif tiff png bmp";
constexpr const wchar_t* kBuiltinSaveMultiPage = L"tif tiff";
constexpr const wchar_t* kBuiltinSaveMovie = L"avi mp4";

wchar_t* CopyText(const wchar_t* text) {
    const size_t n = text ? std::wcslen(text) : 0;
    wchar_t* copy = new (std::nothrow) wchar_t[n + 1];
    if (!copy) return nullptr;
    if (n) std::wmemcpy(copy, text, n);
    copy[n] = 0;
    return copy;
}

}  // namespace

// --- free helpers ---

uint64_t SetWorkerThreadCount(int64_t n) {
    const uint64_t processors = PoolGetProcessorCount();
    uint64_t count = n <= 0 ? processors : static_cast<uint64_t>(n);
    if (count > processors) count = processors;
    PoolSetThreadCount(count);
    return g_PoolThreadCount.load();
}

wchar_t* JoinExtensionLists(const wchar_t* a, const wchar_t* b) {
    const bool hasA = a && *a, hasB = b && *b;
    if (hasA && hasB) {
        const size_t na = std::wcslen(a), nb = std::wcslen(b);
        wchar_t* joined = new (std::nothrow) wchar_t[na + nb + 2];
        if (!joined) return nullptr;
        std::wmemcpy(joined, a, na);
        joined[na] = L' ';
        std::wmemcpy(joined + na + 1, b, nb);
        joined[na + nb + 1] = 0;
        return joined;
    }
    return CopyText(hasA ? a : hasB ? b : L"");
}

uint64_t SourceBytesPerPixel(int32_t format) {
    static const uint64_t table[10] = {0, 1, 2, 4, 3, 6, 12, 24, 6, 4};
    return format >= 0 && format <= 9 ? table[format] : 0;
}

// --- construction and destruction ---

CMainScreen::CMainScreen() {
    BuildFilterRegistry();
    OverlaySetScreenTarget(this);
    OverlaySetTextureTarget(0, 0);
    calibration.mainScreen = this;
    composite.mainScreen = this;
    playEdit.mainScreen = this;
    sidePanel.mainScreen = this;
    sidePanel.uiParent = this;
    sidePanel.SetVisible(0, 0);
    sceneBar.SetVisible(0, 0);
    // Scenes load through the listener whether the bar is shown or not; it
    // paints each scene it shows (OnPositionChanged), the bar included.
    sceneBar.listener = this;
    sceneBar.listenerPaints = 1;

    // Image modules and filter plug-ins of the program's "plugin" folder;
    // the modules' extensions come before the built-in ones.
    wchar_t folder[kMainPathMax];
    std::wcsncpy(folder, FgGetExeDir(), kMainPathMax - 1);
    folder[kMainPathMax - 1] = 0;
    const bool modules = FgPathAppend(folder, kMainPathMax, L"plugin") && LoadImageModules(folder);
    const wchar_t* still = modules ? g_ImageModuleStillExts : nullptr;
    const wchar_t* multi = modules ? g_ImageModuleMultiFrameExts : nullptr;
    const wchar_t* movie = modules ? g_ImageModuleMovieExts : nullptr;
    stillExtensions = JoinExtensionLists(still, kBuiltinStill);
    multiPageExtensions = JoinExtensionLists(multi, kBuiltinMultiPage);
    movieExtensions = JoinExtensionLists(movie, kBuiltinMovie);
    saveStillExtensions = JoinExtensionLists(still, kBuiltinSaveStill);
    saveMultiPageExtensions = JoinExtensionLists(multi, kBuiltinSaveMultiPage);
    saveMovieExtensions = JoinExtensionLists(movie, kBuiltinSaveMovie);
    LoadFilterPlugins(folder, &sidePanel);
    openExtensions = JoinExtensionLists(stillExtensions, movieExtensions);
    LoadSettings();

    picture.overlayCallback = &CMainScreen::OnPictureOverlay;
    picture.paintCallback = nullptr;
    picture.callbackData = this;
    AddChild(&sidePanel);
    AddChild(&sceneBar);
    AddChild(&menuBar);
    AddChild(&picture);
    BuildMenus();
    menuBar.callback = &CMainScreen::OnMenuCommand;
    menuBar.data = this;
    constructed_ = true;
}

CMainScreen::~CMainScreen() {
    SaveSettings();
    // The worker may still be running a chain over the images below and
    // would notify this screen: it is stopped and joined first, and so is
    // the frame reader, which may hold the movie handle.
    sidePanel.StopWorker();
    prefetch.Cancel();
    delete[] lastOpenPath;
    delete[] lastSavePath;
    lastOpenPath = lastSavePath = nullptr;
    CloseDocument();
    for (wchar_t** list : {&openExtensions, &stillExtensions, &multiPageExtensions, &movieExtensions,
                           &saveStillExtensions, &saveMultiPageExtensions, &saveMovieExtensions}) {
        delete[] *list;
        *list = nullptr;
    }
    sidePanel.RemoveAllFilters(1);
    UnloadImageModules();
    UnloadFilterPlugins();
    FreeFilterRegistry();
    OverlaySetScreenTarget(nullptr);
    if (mp4Progress_) {
        mp4Progress_->Destroy();
        delete mp4Progress_;
        mp4Progress_ = nullptr;
    }
    menuBar.RemoveAllItems();
}

void CMainScreen::CloseDocument() {
    prefetch.Cancel();
    // A play range counts frames of the document it was set on; the next
    // document, whatever its kind, starts without one.
    playRangeSet = 0;
    playRangeStart = playRangeEnd = playRangeStep = 0;
    if (movieFile) {
        codec_file_close(movieFile);
        movieFile = nullptr;
    }
    if (moduleStream) {
        // A stream whose module could not complete it is freed all the same.
        if (!CloseModuleStream(moduleStream)) DiscardModuleStream(moduleStream);
        moduleStream = nullptr;
    }
}

void CMainScreen::OnSize(uint64_t, uint64_t) { Layout(); }

void CMainScreen::OnCloseWhileDisabled() { PlatPostQuitMessage(0); }

bool CMainScreen::Japanese() const { return sidePanel.language == L"jp"; }

// --- mouse routing ---

uint32_t CMainScreen::MouseFlags() {
    const uint16_t state = GetKeyState();
    return ((state & 16) ? 1u : 0u) | ((state & 32) ? 2u : 0u);
}

CImgFilter* CMainScreen::SelectedFilter() {
    const FilterChain& chain = sidePanel.chains[sidePanel.activeChain];
    CImgFilter* f = chain.selected;
    return f && f->enabled ? f : nullptr;
}

void CMainScreen::OnMouseMove(int32_t x, int32_t y) {
    int32_t rx = x, ry = y;
    if (!leftDrag && !rightDrag) {
        cursorX = x;
        cursorY = y;
        UpdateTitle();
    } else {
        int32_t ix = x, iy = y;
        if (picture.ControlToImage(&ix, &iy)) {
            dragX = ix;
            dragY = iy;
            if (!Calibrating())
                if (CImgFilter* f = SelectedFilter()) f->OnMouseMove(ix, iy, MouseFlags());
        }
        // During a drag the controls get window coordinates too.
    }
    RouteMouseMove(rx, ry);
}

namespace {
bool InRect(const int32_t* r, int32_t x, int32_t y) {
    return x >= r[0] && x < r[0] + r[2] && y >= r[1] && y < r[1] + r[3];
}
}  // namespace

void CMainScreen::OnLButtonDown(int32_t x, int32_t y) {
    if (!CFgUICtrl::enabled && !(imageViewInput == 1 && InRect(pictureRect, x, y))) {
        RouteLButtonDown(x, y);
        return;
    }
    int32_t ix = x, iy = y;
    if (!picture.ControlToImage(&ix, &iy)) {
        RouteLButtonDown(x, y);
        return;
    }
    if (leftDrag) return;
    leftDrag = 1;
    dragX = ix;
    dragY = iy;
    const uint32_t flags = MouseFlags();
    if (Calibrating())
        calibration.AddPoint(ix, iy);
    else if (CImgFilter* f = SelectedFilter())
        f->OnLButtonDown(ix, iy, flags);
}

void CMainScreen::OnRButtonDown(int32_t x, int32_t y) {
    if (!CFgUICtrl::enabled && !(imageViewInput == 1 && InRect(pictureRect, x, y))) {
        RouteRButtonDown(x, y);
        return;
    }
    int32_t ix = x, iy = y;
    if (!picture.ControlToImage(&ix, &iy)) {
        RouteRButtonDown(x, y);
        return;
    }
    if (rightDrag) return;
    rightDrag = 1;
    dragX = ix;
    dragY = iy;
    const uint32_t flags = MouseFlags();
    if (Calibrating() && calibration.pointCount > 0)
        calibration.RemovePoint();
    else if (CImgFilter* f = SelectedFilter())
        f->OnRButtonDown(ix, iy, flags);
}

void CMainScreen::OnLButtonUp(int32_t x, int32_t y) {
    if (!leftDrag) {
        RouteLButtonUp(x, y);
        return;
    }
    int32_t ix = x, iy = y;
    if (!picture.ControlToImage(&ix, &iy)) {
        ix = dragX;
        iy = dragY;
    }
    if (!Calibrating())
        if (CImgFilter* f = SelectedFilter()) f->OnLButtonUp(ix, iy, MouseFlags());
    leftDrag = 0;
}

void CMainScreen::OnRButtonUp(int32_t x, int32_t y) {
    if (!rightDrag) {
        RouteRButtonUp(x, y);
        return;
    }
    int32_t ix = x, iy = y;
    if (!picture.ControlToImage(&ix, &iy)) {
        ix = dragX;
        iy = dragY;
    }
    if (!Calibrating())
        if (CImgFilter* f = SelectedFilter()) f->OnRButtonUp(ix, iy, MouseFlags());
    rightDrag = 0;
}

void CMainScreen::OnMouseWheel(int32_t x, int32_t y, int32_t notches) {
    if (sidePanel.visible && InRect(sidePanelRect, x, y)) {
        CFgUIScrollBar& bar = sidePanel.listScrollBar;
        int64_t p = static_cast<int64_t>(bar.position) + notches;
        p = std::min<int64_t>(p, static_cast<int64_t>(bar.maximum) - bar.page + 1);
        p = std::max<int64_t>(p, bar.minimum);
        if (p == bar.position) return;
        bar.position = static_cast<int32_t>(p);
        if (!bar.notifying && bar.callback) {
            bar.notifying = 1;
            bar.callback(&bar, bar.data, bar.position);
            bar.notifying = 0;
        }
        bar.RedrawParent();
        return;
    }
    if (sceneBar.visible && sceneBar.enabled && (wheelMode == 2 || InRect(sceneBarRect, x, y))) {
        int64_t p = static_cast<int64_t>(sceneBar.position) + notches;
        const int64_t last = sceneBar.sceneCount ? static_cast<int64_t>(sceneBar.sceneCount - 1) : 0;
        p = std::clamp<int64_t>(p, 0, last);
        if (static_cast<uint64_t>(p) != sceneBar.position) sceneBar.SetPosition(static_cast<uint64_t>(p));
        return;
    }
    if (wheelMode == 1) {
        picture.ZoomBySteps(notches);
        cursorX = x;
        cursorY = y;
        UpdateTitle();
    }
}

void CMainScreen::OnPictureOverlay(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0, int32_t viewX1,
                                   int32_t viewY1, int32_t imageX0, int32_t imageY0, int32_t imageX1,
                                   int32_t imageY1, int32_t zoom, void* data) {
    CMainScreen* self = static_cast<CMainScreen*>(data);
    if (!self || self->displayContent != 2) return;
    if (self->renderingToImage) {
        const int32_t w = self->picture.ImageWidth() - 1, h = self->picture.ImageHeight() - 1;
        self->DrawOverlay(screen, font, 0, 0, w, h, 0, 0, w, h, 1);
        return;
    }
    self->DrawOverlay(screen, font, viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1, zoom);
}
