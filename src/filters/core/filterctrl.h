// The filter chain controller: four chains of filters, one of them active,
// run over frames on a worker thread of the controller's own. It
// initialises added filters, broadcasts state changes, draws the filters'
// overlays and offers the host hooks through which filters call back into
// the application.
//
// Threads: the user-interface thread edits the chains, broadcasts, draws
// and requests runs; the worker runs the active chain. Edits and broadcasts
// wait until no run is in progress, and no run starts while one is being
// made. The lock guards source, result, frameArg, requestPending, quit,
// the processed region and the pixels of the result image.
//
// Lock rule: the worker holds the run gate (which edits, broadcasts and
// LockUi take) only while the chain runs, and enters the lock only outside
// it; it never holds both. So a thread that holds the lock may edit,
// broadcast or request a run: an edit waits for the run in progress to end,
// and a synchronous request releases every level of the lock and of the
// gate that its thread holds while it waits, and takes them back before it
// returns (the guarded fields may have changed meanwhile). Filters, and the
// hooks they call from their filter step, must not enter the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "filters/core/chaingate.h"
#include "filters/core/imgfilter.h"
#include "platform/kernel.h"

class CImgBuff;
class CFgScreen;
class CFgFont;
struct codec_write_options;

constexpr int32_t kFilterChainCount = 4;

// One chain and what its filters last received from the controller.
struct FilterChain {
    std::vector<CImgFilter*> filters;  // owned
    CImgFilter* selected = nullptr;
    uint64_t selectedIndex = 0;
    uint64_t lastWidth = 0, lastHeight = 0, lastBytesPerPixel = 0, lastFrames = 0;
    std::wstring lastLanguage = L"jp";
    double lastGuide[3] = {1.0, 0.0, 0.0};
    double lastCalibScale = 1.0;
    int32_t lastCalibAxisY = 1;
    std::wstring lastCalibUnit;

    uint64_t Count() const { return filters.size(); }
};

class CFilterCtrl {
public:
    // Starts the worker thread; threadRunning stays 0 when it cannot start.
    CFilterCtrl();
    // Stops the worker (a derived host whose OnFrameDone may still be called
    // calls StopWorker in its own destructor first), then deletes every
    // filter of the four chains.
    virtual ~CFilterCtrl();
    CFilterCtrl(const CFilterCtrl&) = delete;
    CFilterCtrl& operator=(const CFilterCtrl&) = delete;

    std::atomic<uint32_t> threadRunning{0};
    CImgBuff* source = nullptr;  // image of the last request
    CImgBuff* result = nullptr;  // target of the last request
    uint64_t frameArg = 0;
    CFilterCtrl* owner = this;  // whose OnFrameDone the worker calls
    uint32_t requestPending = 0;
    uint32_t quit = 0;
    CriticalSection lock;
    AutoResetEvent wakeEvent;
    AutoResetEvent doneEvent;
    std::atomic<uint32_t> connect{8};  // 4 or 8
    std::atomic<uint32_t> bg{1};       // 1 white, 0 black
    CFgScreen* uiParent = nullptr;     // parent of the filters' settings UIs
    std::wstring language = L"jp";
    uint64_t width = 0, height = 0, bytesPerPixel = 0, frames = 0;
    double guideRed = 1.0, guideGreen = 0.0, guideBlue = 0.0;
    double calibScale = 1.0;
    int32_t calibAxisY = 1;  // +1 or -1
    wchar_t calibUnit[kFilterUnitMax] = {};
    FilterChain chains[kFilterChainCount];
    int32_t activeChain = 0;
    int32_t regionX0 = 0, regionY0 = 0, regionX1 = 0, regionY1 = 0;  // last processed rectangle, inclusive

    // Host hooks.
    virtual void OnFilterUiClosed() {}
    // A filter starts (1) or ends (0) a long action: the other filters of the
    // active chain get OnEnable(0) while it lasts, all get OnEnable(1) after.
    virtual void LockUi(int32_t lockFlag, CImgFilter* filter);
    virtual void Refilter(int32_t /*async*/) {}
    virtual void OnFrameDone() {}  // on the worker thread after every run
    virtual void Redraw() {}
    virtual int32_t Seek(uint64_t /*frame*/) { return 0; }
    virtual uint64_t GetCurrentFrame() { return 0; }
    virtual uint64_t GetMediaFrameTime() { return 0; }  // milliseconds per frame, 0 = none
    virtual uint64_t GetFrameInterval() { return 33333; }
    virtual void EnableImageView(int32_t /*flag*/) {}
    // Stores the calibration in the controller only.
    virtual void ChangeCalibration(double scale, int32_t axisY, const wchar_t* unit);
    virtual void SetSourceImage(CImgBuff* /*image*/) {}
    virtual void GetSourceImage(CImgBuff* /*image*/) {}
    virtual void GetResultImage(CImgBuff* /*image*/) {}
    virtual void ReplaceSourceImage(CImgBuff* /*image*/) {}
    virtual void GetEncodeSettings(codec_write_options* /*settings*/) {}

    // Chain editing, on the active chain.
    // Appends and initialises the filter (owner, format, language, guide
    // colour, calibration, enabled, shown UI); 0 when the chain cannot grow
    // (the filter then stays the caller's).
    int32_t AddFilter(CImgFilter* filter, uint64_t* index);
    int32_t RemoveFilter(uint64_t index);
    // all = 0: the active chain; otherwise all four.
    void RemoveAllFilters(int32_t all);
    int32_t SwapFilters(uint64_t i, uint64_t j);
    int32_t SelectFilter(uint64_t index);
    // Makes chain n (0-3) active and brings its filters up to date with the
    // source format, language, guide colour and calibration.
    int32_t SelectChain(int32_t n);

    // Broadcasts: stored in the controller, then sent to the active chain.
    void SetLanguage(const wchar_t* code);
    void SetGuideColor(double red, double green, double blue);
    // A null unit keeps the controller's unit and gives the filters none.
    void SetCalibration(double scale, int32_t axisY, const wchar_t* unit);
    void SetSourceFormat(uint64_t w, uint64_t h, uint64_t bpp, uint64_t frameCount);
    void EnableUi(int32_t flag);

    // Every enabled filter of the active chain draws its overlay.
    void DrawOverlays(CFgScreen* screen, CFgFont* font, int32_t dx0, int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0,
                      int32_t iy0, int32_t ix1, int32_t iy1, int32_t zoom);

    // Hands a run to the worker: it copies source, runs the active chain and
    // copies the outcome into result (the targets of this request, even when
    // a later request names others). Asynchronous: returns at once, and
    // requests made while the worker is busy coalesce into one run of the
    // latest. Synchronous (async 0): returns when every pending run is done;
    // made on the worker thread itself it is taken as asynchronous. Source
    // and result may be the same image. Nothing is run without a worker.
    void RequestRun(CImgBuff* resultImage, CImgBuff* sourceImage, uint64_t frame, int32_t async);
    // The chain run over image, in place, and the processed region recorded
    // under the lock.
    void RunChain(CImgBuff* image, uint64_t frame);
    // Ends and joins the worker; later requests are not served.
    void StopWorker();

private:
    // The rectangle a run leaves in its run variables.
    struct ChainRegion {
        int64_t x = 0, y = 0, w = 0, h = 0;
    };
    // The chain run without recording: false (nothing run) for an image of
    // no valid format.
    bool RunActiveChain(CImgBuff* image, uint64_t frame, ChainRegion* region);
    void StoreRegion(const ChainRegion& region);  // under the lock
    static void WorkerMain(void* self);
    void WorkerLoop();
    void RemoveFromChain(FilterChain& chain, uint64_t index);
    void SendLanguage(CImgFilter* filter);

    ChainGate gate_;
    uint64_t requestSeq_ = 0;  // under lock: number of the latest request
    uint64_t doneSeq_ = 0;     // under lock: latest request whose run has finished
    std::thread worker_;
    std::atomic<std::thread::id> workerId_{};
};

// Overlay drawing targets: the screen whose client size is read at every
// conversion (null: none), and, while a picture is captured into a texture,
// that texture's power-of-two size (0, 0: back to the screen).
void OverlaySetScreenTarget(CFgScreen* screen);
void OverlaySetTextureTarget(uint64_t texWidth, uint64_t texHeight);
// Display pixels to OpenGL coordinates of the current overlay target; 0.0
// without a target. User-interface thread only.
double OverlayPixelToGlX(int32_t x);
double OverlayPixelToGlY(int32_t y);
// Converts two values in place (each first truncated to an integer); either
// pointer may be null.
void OverlayPixelToGl(double* x, double* y);
