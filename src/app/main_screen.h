// The main screen: the program's one top-level window. It owns the picture
// view, the menu bar, the scene bar and the side panel (which is also the
// chain controller), the document (a still, a multi-frame file or movie, or
// an image-module stream) and the three images of the frame road: the still
// as opened, the current source frame and the chain's result.
//
// Threads: everything runs on the user-interface thread except the chain
// worker's frame-done notification, which only marks a result as ready and
// posts one coalesced redraw (the user-interface thread then shows it), and
// the frame reader that decodes the next scene ahead while playing. Frames
// are decoded outside the controller's lock and swapped into the source
// under it; the result is read only under it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "app/calibration_ui.h"
#include "app/composite_ui.h"
#include "app/encode_ui.h"
#include "app/play_edit_ui.h"
#include "app/scene_bar.h"
#include "app/side_panel.h"
#include "image/imgbuff.h"
#include "platform/files.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_menubar.h"
#include "toolkit/fg_picture.h"

struct codec_file;
struct ImageModuleStream;
class CFgUIProgressBox;

constexpr uint64_t kMainTitleMax = 1280;
// The longest time per frame a movie header can hold (32-bit microseconds);
// longer values in the settings file are refused.
constexpr uint64_t kMaxMsPerFrame = 4294967;
constexpr uint64_t kMainPathMax = 1024;

// Menu item indices of the bar, one per menu; -1 when the menu was not added.
extern int32_t g_FileMenuItem;
extern int32_t g_ViewMenuItem;
extern int32_t g_ConfigMenuItem;
extern int32_t g_ProcessingMenuItem;
extern int32_t g_MeasureMenuItem;
extern int32_t g_ToolMenuItem;
extern int32_t g_PluginMenuItem;

// n <= 0: the processor count; above it: lowered to it. The pool's thread
// count afterwards.
uint64_t SetWorkerThreadCount(int64_t n);
// a + " " + b, or the non-empty one, or empty; the caller frees it (delete[]).
wchar_t* JoinExtensionLists(const wchar_t* a, const wchar_t* b);
// Bytes per pixel of a pixel format as reported to the chain (0 for none).
uint64_t SourceBytesPerPixel(int32_t format);

// Decodes one frame of a media handle on a thread of its own, so that the
// next scene is ready when the play loop asks for it. The handle is used by
// one thread at a time: the owner waits (Cancel / Take) before it touches
// the handle itself.
class CFramePrefetch {
public:
    CFramePrefetch();
    ~CFramePrefetch();
    CFramePrefetch(const CFramePrefetch&) = delete;
    CFramePrefetch& operator=(const CFramePrefetch&) = delete;

    // Starts decoding frame `index` of `file` unless a decode is running.
    void Request(codec_file* file, uint64_t index);
    // Waits for a running decode; when the ready frame is `index` of `file`,
    // moves its pixels into `out` and returns 1 (0 and nothing moved
    // otherwise, or when the decode failed). The ready frame is dropped.
    int32_t Take(codec_file* file, uint64_t index, C_ImgBuff* out);
    // Waits for a running decode and drops its frame.
    void Cancel();
    uint64_t hits = 0;  // frames handed out by Take

private:
    void Main();
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    codec_file* file_ = nullptr;
    uint64_t index_ = 0;
    bool busy_ = false;    // a request is waiting or being decoded
    bool ready_ = false;   // frame_ holds the decode of (file_, index_)
    bool ok_ = false;
    bool quit_ = false;
    CImgBuff frame_;
    std::thread thread_;
};

// Times of the stages of the frame road, summed (for the benchmark).
struct FrameRoadTimes {
    uint64_t frames = 0;
    double readSeconds = 0;      // decoding (or waiting for the reader)
    double swapSeconds = 0;      // moving the frame into the source
    double chainSeconds = 0;     // request to result (copy in, chain, copy out)
    double convertSeconds = 0;   // SetFromImage
    double uploadSeconds = 0;    // sending the texture and painting
};

class CMainScreen : public CFgUIDialog, public CVideoPanelListener {
public:
    CMainScreen();
    ~CMainScreen() override;

    // --- members, in order of construction ---
    CFgUIPicture picture;
    CCalibrationUI calibration;
    CCompositeUI composite;
    // The save settings: the committed values of the image save settings
    // dialog, read by every save, file selection and the settings file.
    CEncodeUI saveSettings;
    CPlayEditUI playEdit;
    uint32_t guideColor = 1;
    int32_t roll = 0;
    uint64_t movieMsPerFrame = 0;
    uint32_t useMovieRate = 1;
    uint32_t colorPicker = 1;
    uint32_t wheelMode = 2;
    uint32_t renderingToImage = 0;
    CFgUIMenuBar menuBar;
    CVideoPanel sceneBar;
    CSidePanel sidePanel;
    wchar_t baseTitle[kMainTitleMax] = {};
    wchar_t documentPath[kMainPathMax] = {};
    uint32_t imageViewInput = 0;
    uint32_t busyCount = 0;
    uint32_t runLocked = 0;
    uint32_t displayContent = 2;
    wchar_t filterListPath[kMainPathMax] = {};
    wchar_t* lastOpenPath = nullptr;
    wchar_t* lastSavePath = nullptr;
    uint32_t restoreStill = 0;
    CImgBuff stillImage;
    CImgBuff sourceImage;
    CImgBuff resultImage;
    codec_file* movieFile = nullptr;
    ImageModuleStream* moduleStream = nullptr;
    uint64_t currentFrame = 0;
    uint32_t frameSkip = 0;
    uint64_t msPerFrame = 33;
    uint32_t playRangeSet = 0;
    uint64_t playRangeStart = 0, playRangeEnd = 0, playRangeStep = 0;
    int32_t pictureRect[4] = {};
    int32_t sceneBarRect[4] = {};
    uint32_t sceneBarShown = 0;
    int32_t sidePanelRect[4] = {};
    uint32_t sidePanelShown = 0;
    uint32_t leftDrag = 0, rightDrag = 0;
    int32_t dragX = 0, dragY = 0;
    int32_t cursorX = 0, cursorY = 0;
    wchar_t* openExtensions = nullptr;
    wchar_t* stillExtensions = nullptr;
    wchar_t* multiPageExtensions = nullptr;
    wchar_t* movieExtensions = nullptr;
    wchar_t* saveStillExtensions = nullptr;
    wchar_t* saveMultiPageExtensions = nullptr;
    wchar_t* saveMovieExtensions = nullptr;
    // The source format last sent to the chain, before any swap for the roll.
    uint64_t lastSourceFormat[4] = {};
    // The window title last set.
    wchar_t titleText[kMainTitleMax] = {};
    // Per-stage times of the frame road, gathered when `measureTimes` is set.
    uint32_t measureTimes = 0;
    FrameRoadTimes times;
    CFramePrefetch prefetch;

    // --- program entry and window ---
    void OnMouseMove(int32_t x, int32_t y) override;
    void OnLButtonDown(int32_t x, int32_t y) override;
    void OnLButtonUp(int32_t x, int32_t y) override;
    void OnRButtonDown(int32_t x, int32_t y) override;
    void OnRButtonUp(int32_t x, int32_t y) override;
    void OnMouseWheel(int32_t x, int32_t y, int32_t notches) override;
    int32_t QueryClose() override { return 1; }
    // Closing always ends the program: while a save, an open or a run holds
    // the window disabled, the close becomes the quit request, which the
    // operation's pumping sees and ends on; the main loop ends after it.
    void OnCloseWhileDisabled() override;
    void OnSize(uint64_t width, uint64_t height) override;
    // Shows a result the chain worker marked as ready, then repaints.
    void Redraw() override;
    static void OnPictureOverlay(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0, int32_t viewX1,
                                 int32_t viewY1, int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                                 int32_t zoom, void* data);
    // Mouse flags for the filters: bit 0 shift, bit 1 control.
    uint32_t MouseFlags();
    // The selected filter of the active chain when it exists and is enabled.
    CImgFilter* SelectedFilter();
    bool Calibrating() const { return calibration.IsOpen(); }

    // --- menus ---
    void BuildMenus();
    static const wchar_t* BuildFileMenu(void* data, int32_t item);
    static const wchar_t* BuildViewMenu(void* data, int32_t item);
    static const wchar_t* BuildConfigMenu(void* data, int32_t item);
    static void OnMenuCommand(CFgUIMenuBar* bar, void* data, int32_t item, int32_t id);
    void MenuCommand(int32_t item, int32_t id);
    // Creates the filter of a menu id and adds it; the add-filter error otherwise.
    void AddFilterCommand(CImgFilter* filter);

    // --- frame road ---
    void OnPositionChanged(uint64_t position) override;
    int32_t SeekScene(uint64_t index);
    void LoadFrame(int32_t redraw);
    void RunFilterChain(int32_t async);
    void ShowResult();
    // Worker thread: a result is ready; the user-interface thread shows it.
    void PostFrameDone();
    void SetPlayRange(uint64_t start, uint64_t end, uint64_t step);
    void SetSourceFormat(uint64_t width, uint64_t height, uint64_t bytesPerPixel, uint64_t frames);
    void DrawOverlay(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                     int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1, int32_t zoom);
    void UpdateTitle();
    // The title's readout text for image point (x, y) of `image` in colour
    // mode `mode` with `threads` threads (empty when the point is outside).
    static void FormatReadout(wchar_t* out, uint64_t size, const CImgBuff* image, int32_t x, int32_t y,
                              uint32_t mode, uint64_t threads);

    // --- documents ---
    void OpenFile(const wchar_t* path);
    void OpenSequence();
    // The sequence command after its two selections.
    void OpenSequenceFiles(const wchar_t* first, const wchar_t* last);
    int32_t OpenWithModule(const wchar_t* path, uint64_t* width, uint64_t* height, uint64_t* frames);
    // A module stream's time per frame becomes the movie rate.
    void UseModuleRate(const ImageModuleStream* stream);
    void SetDocumentImage(CImgBuff* image);
    int32_t ReplaceDocumentImage(CImgBuff* image, int32_t* done);
    void ShowSceneBar(uint64_t count);
    void HideSceneBar(int32_t resetCount);
    void RememberOpenPath(const wchar_t* path);
    void ShowInfo();
    static int32_t OnMp4FrameCheck(uint64_t done, uint64_t total, int32_t phase, void* context);
    // Start folder of a file selection by the path policy.
    const wchar_t* OpenStartFolder() const;
    const wchar_t* SaveStartFolder() const;
    // Closes the movie file and the module stream.
    void CloseDocument();

    // --- side panel ---
    void ShowSidePanel();
    void HideSidePanel();
    int32_t AddFilterToChain(CImgFilter* filter, int32_t run);

    // --- saving ---
    void SaveImage();
    void SaveScenes(int32_t sequence, uint64_t msPerScene);
    int32_t SaveImageWithModule(const wchar_t* path, const wchar_t* language);
    int32_t SaveImageBuiltIn(const wchar_t* path, const wchar_t* language);
    int32_t SaveScenesWithModule(const wchar_t* path, const wchar_t* language, int32_t sequence,
                                 CFgUIProgressBox* box, uint64_t last, uint64_t msPerScene);
    int32_t SaveScenesBuiltIn(const wchar_t* path, const wchar_t* language, int32_t sequence, CFgUIProgressBox* box,
                              uint64_t last, uint64_t msPerScene);
    // The picture at 1:1 with its overlays, as 8-bit RGB.
    int32_t RenderWithGuides(CImgBuff* image);
    // The image a save writes (the result, or the picture with its guides,
    // or the selected area of either); 0 when there is none.
    int32_t PrepareSaveImage(CImgBuff* out);

    // --- settings file ---
    void LoadSettings();
    void SaveSettings();

    // --- layout, busy lock, language, guide colour, filter lists ---
    void Layout();
    void LockDialogs();
    void UnlockDialogs();
    // A filter's whole-sequence run: the main screen and every dialog,
    // the composite included, take no input until it ends.
    void LockForRun(int32_t lock);
    void SetLanguage(const wchar_t* code);
    void SetGuideColor(uint32_t index);
    int32_t SetConnect(uint32_t n);
    void LoadFilterListCommand();
    void SaveFilterListCommand();
    int32_t ReadFilterListFile(const wchar_t* path);
    int32_t WriteFilterListFile(const wchar_t* path);
    bool Japanese() const;
    // Japanese or English text by the controller's language.
    const wchar_t* Text(const wchar_t* japanese, const wchar_t* english) const {
        return Japanese() ? japanese : english;
    }

private:
    // Decodes frame `index` of the open document into `out` (the reader's
    // frame when it has it); no lock held.
    int32_t DecodeFrame(uint64_t index, CImgBuff* out);
    // Starts the reader on the scene the play loop will ask for next.
    void PrefetchNext();
    // Enables the screen and its dialogs as the busy lock and the run lock say.
    void ApplyLocks();
    // SaveScenes after its progress box is made and the lock taken.
    int32_t SaveScenesRun(int32_t sequence, uint64_t msPerScene, CFgUIProgressBox* box);
    // Paints the user-interface thread made (ShowResult and LoadFrame),
    // so that a scene change can make sure it painted exactly once.
    uint64_t paints_ = 0;
    // Set while the user-interface thread waits for a synchronous chain
    // run, which shows its own result: the worker then posts no redraw.
    std::atomic<uint32_t> syncRunWaiting_{0};
    std::atomic<uint32_t> frameReady_{0};
    CImgBuff scratch_;  // the frame being decoded, swapped into the source
    CFgUIProgressBox* mp4Progress_ = nullptr;
    wchar_t mp4ProgressText_[64] = {};
    bool constructed_ = false;
};
