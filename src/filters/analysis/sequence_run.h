// Whole-sequence runs: a filter that steps the host through every frame of
// a sequence (PIV, PTV, tracking, tools) runs on the user-interface thread
// through one CSequenceRun:
//
//   CSequenceRun run(this);
//   if (run.Begin(&execButton, Japanese() ? L"中止" : L"CANCEL") != CSequenceRun::kStarted) ... "poor memory"
//   for (uint64_t i = 0; i < frames; ++i) {
//       if (run.Step(i, &frame) != CSequenceRun::kReady) break;  // missing frame or cancel
//       ... analyse `frame` (long work: SequenceRunJob) ...
//   }
//   bool canceled = run.Canceled();
//   run.End();  // or leave the scope: the destructor ends the run
//
// and in its filter step, on the chain worker:
//
//   CSequenceRun::Capture(this, image, frame);
//
// Begin creates the capture image, locks the rest of the main window
// (CFilterCtrl::LockUi (1, filter)) and relabels the start button; End (or
// the destructor, on every way out) frees the capture, restores the label
// and unlocks. Step seeks the frame (the host runs the chain, and the
// running filter's step copies what reaches it into the capture), copies
// the capture out, pumps messages and tests the cancel flag. Each capture
// is stamped, so a frame the chain never delivered (a failed seek, an
// unreadable frame) is reported instead of the previous frame repeating.
// A seek that succeeds without running the chain (a still image) is
// followed by one synchronous Refilter.
//
// One run exists at a time, process-wide; only the filter whose run is
// active copies into the capture, so two filters of the same class may
// share a chain.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class CImgFilter;
class CImgBuff;
class CFgUIButton;

class CSequenceRun {
public:
    enum BeginResult : int32_t {
        kStarted = 1,
        kNoMemory = 0,  // the capture image could not be made
        kBusy = -1,     // another run is active, this one already began, or the filter has no owner
    };
    enum StepResult : int32_t {
        kReady = 1,      // `into` holds the frame as the filters before this one left it
        kMissing = 0,    // the seek failed or the chain delivered no image for the frame
        kCanceled = -1,  // the cancel flag was set (Cancel, or the quit message)
    };

    explicit CSequenceRun(CImgFilter* filter);
    ~CSequenceRun();  // End()
    CSequenceRun(const CSequenceRun&) = delete;
    CSequenceRun& operator=(const CSequenceRun&) = delete;

    // Makes this the active run. `button` (may be null) shows `cancelLabel`
    // until End puts its previous label back.
    BeginResult Begin(CFgUIButton* button, const wchar_t* cancelLabel);
    // Undoes Begin: capture freed, label restored, LockUi (0, filter). Safe to
    // call twice and without Begin.
    void End();

    // Seek -> copy -> pump -> cancel test for one frame (index as the host's
    // Seek takes it). `into` receives the capture when kReady (the two images
// exchange their buffers).
    StepResult Step(uint64_t index, CImgBuff* into);

    // The cancel request: the start button's action while the run lasts.
    void Cancel() { cancel_.store(1); }
    // A cancel was requested (the run then ends with the "canceled" message).
    bool Canceled() const { return cancel_.load() != 0; }
    bool Active() const { return begun_; }
    CImgFilter* Filter() const { return filter_; }
    // Frame argument of the chain run that filled the last capture.
    uint64_t CapturedFrame() const { return capturedFrame_; }

    // Filter step (chain worker): copies `image` into the capture when the
    // active run belongs to `filter`; 1 when it copied.
    static int32_t Capture(const CImgFilter* filter, const CImgBuff* image, uint64_t frame);
    // The copy-free form of Capture for a run that consumes each frame
    // where it lies: hands the chain's own `image` to visit(image, data)
    // (read only, during the call) instead of copying it, once for each
    // Step (the first chain run of its seek), and counts the frame as
    // delivered when visit answers 1. Step then hands `into` nothing.
    static int32_t Visit(const CImgFilter* filter, const CImgBuff* image, uint64_t frame,
                         int32_t (*visit)(const CImgBuff* image, void* data), void* data);
    // The active run of `filter`, or null (any thread; the pointer is only
    // valid on the user-interface thread, which ends runs).
    static CSequenceRun* RunOf(const CImgFilter* filter);
    static bool Running(const CImgFilter* filter) { return RunOf(filter) != nullptr; }
    // Progress-callback form of the cancel flag for work on other threads;
    // 0 when `filter` has no active run.
    static int32_t CancelRequestedFor(const CImgFilter* filter);

private:
    CImgFilter* filter_;
    CFgUIButton* button_ = nullptr;
    std::wstring savedLabel_;
    CImgBuff* capture_ = nullptr;  // guarded by the process-wide run lock
    uint64_t stamp_ = 0;           // captures so far; guarded likewise
    uint64_t capturedFrame_ = 0;
    bool visitWanted_ = false;     // a Step waits for its frame; guarded likewise
    std::atomic<uint32_t> cancel_{0};
    bool begun_ = false;
    bool locked_ = false;
};

// Runs job(arg) on a thread of its own and returns its result, pumping
// messages while it runs: the wait ends as soon as the job ends, and
// messages are dispatched at least every 250 ms. 0 when no thread can be
// started. User-interface thread.
int32_t SequenceRunJob(int32_t (*job)(void*), void* arg);

// What a run tells when it could not get frames: their numbers (frame
// indexes, shown from 1 as the scene bar and the tables number them) and
// whether the run stopped at the first or went on without them.
std::wstring LostFramesText(const std::vector<uint64_t>& frames, bool stopped, bool japanese);
