#include "filters/analysis/sequence_run.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <new>
#include <thread>
#include <utility>

#include "filters/core/filterctrl.h"
#include "filters/core/imgfilter.h"
#include "image/imgbuff.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_loop.h"

namespace {

// Guards the active run's capture image and stamp: the chain worker copies
// into the capture while the user-interface thread begins and ends runs.
std::mutex g_RunLock;
std::atomic<CSequenceRun*> g_ActiveRun{nullptr};

bool SameImage(const C_ImgBuff* a, const C_ImgBuff* b) {
    return a && b && a->pixels && b->pixels && a->width == b->width && a->height == b->height &&
           a->format == b->format;
}

// Dispatches the queued messages; a quit message, or one another loop took
// before, cancels the active run.
void PumpForRun() {
    if (g_QuitRequested.load() || !FgPumpMessages()) {
        if (CSequenceRun* run = g_ActiveRun.load()) run->Cancel();
    }
}

}  // namespace

CSequenceRun::CSequenceRun(CImgFilter* filter) : filter_(filter) {}

CSequenceRun::~CSequenceRun() { End(); }

CSequenceRun::BeginResult CSequenceRun::Begin(CFgUIButton* button, const wchar_t* cancelLabel) {
    if (begun_ || !filter_ || !filter_->owner) return kBusy;
    std::unique_ptr<CImgBuff> capture(new (std::nothrow) CImgBuff);
    if (!capture || !capture->buffer) return kNoMemory;
    {
        std::lock_guard<std::mutex> hold(g_RunLock);
        if (g_ActiveRun.load()) return kBusy;
        capture_ = capture.release();
        stamp_ = 0;
        g_ActiveRun.store(this);
    }
    begun_ = true;
    cancel_.store(0);
    filter_->owner->LockUi(1, filter_);
    locked_ = true;
    if (button) {
        button_ = button;
        savedLabel_ = button->label;
        button->SetLabel(cancelLabel ? cancelLabel : L"");
    }
    return kStarted;
}

void CSequenceRun::End() {
    if (!begun_) return;
    begun_ = false;
    CImgBuff* capture = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_RunLock);
        capture = capture_;
        capture_ = nullptr;
        if (g_ActiveRun.load() == this) g_ActiveRun.store(nullptr);
    }
    delete capture;
    if (button_) {
        button_->SetLabel(savedLabel_.c_str());
        button_ = nullptr;
    }
    if (locked_ && filter_->owner) filter_->owner->LockUi(0, filter_);
    locked_ = false;
}

CSequenceRun::StepResult CSequenceRun::Step(uint64_t index, CImgBuff* into) {
    if (!begun_) return kMissing;
    CFilterCtrl* host = filter_->owner;
    uint64_t before;
    {
        std::lock_guard<std::mutex> hold(g_RunLock);
        before = stamp_;
        visitWanted_ = true;
    }
    const int32_t sought = host ? host->Seek(index) : 0;
    bool fresh = false;
    if (sought) {
        {
            std::lock_guard<std::mutex> hold(g_RunLock);
            fresh = stamp_ != before;
        }
        // A still: the seek succeeded without running the chain.
        if (!fresh) host->Refilter(0);
    }
    {
        std::lock_guard<std::mutex> hold(g_RunLock);
        visitWanted_ = false;
        fresh = sought && stamp_ != before;
        if (fresh && into) {
            // The capture is handed over whole: the two images exchange
            // their buffers, and the next capture is copied into the one
            // `into` held.
            if (into->buffer && capture_->buffer) {
                std::swap(into->buffer, capture_->buffer);
            } else {
                into->CopyFrom(capture_);
                fresh = SameImage(into->buffer, capture_->buffer);
            }
        }
    }
    PumpForRun();
    if (Canceled()) return kCanceled;
    return fresh ? kReady : kMissing;
}

int32_t CSequenceRun::Capture(const CImgFilter* filter, const CImgBuff* image, uint64_t frame) {
    if (!filter || !image) return 0;
    std::lock_guard<std::mutex> hold(g_RunLock);
    CSequenceRun* run = g_ActiveRun.load();
    if (!run || run->filter_ != filter || !run->capture_) return 0;
    run->capture_->CopyFrom(image);
    if (!SameImage(run->capture_->buffer, image->buffer)) return 0;
    ++run->stamp_;
    run->capturedFrame_ = frame;
    return 1;
}

int32_t CSequenceRun::Visit(const CImgFilter* filter, const CImgBuff* image, uint64_t frame,
                            int32_t (*visit)(const CImgBuff* image, void* data), void* data) {
    if (!filter || !image || !visit) return 0;
    std::lock_guard<std::mutex> hold(g_RunLock);
    CSequenceRun* run = g_ActiveRun.load();
    if (!run || run->filter_ != filter || !run->visitWanted_) return 0;
    run->visitWanted_ = false;
    if (!visit(image, data)) return 0;
    ++run->stamp_;
    run->capturedFrame_ = frame;
    return 1;
}

CSequenceRun* CSequenceRun::RunOf(const CImgFilter* filter) {
    CSequenceRun* run = g_ActiveRun.load();
    return run && filter && run->filter_ == filter ? run : nullptr;
}

int32_t CSequenceRun::CancelRequestedFor(const CImgFilter* filter) {
    CSequenceRun* run = g_ActiveRun.load();
    return run && filter && run->filter_ == filter && run->Canceled() ? 1 : 0;
}

int32_t SequenceRunJob(int32_t (*job)(void*), void* arg) {
    if (!job) return 0;
    struct State {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        int32_t result = 0;
    };
    auto state = std::make_shared<State>();
    std::thread thread;
    try {
        thread = std::thread([state, job, arg] {
            const int32_t result = job(arg);
            std::lock_guard<std::mutex> hold(state->lock);
            state->result = result;
            state->finished = true;
            state->done.notify_all();
        });
    } catch (...) {
        return 0;
    }
    for (;;) {
        {
            std::unique_lock<std::mutex> wait(state->lock);
            if (state->done.wait_for(wait, std::chrono::milliseconds(250), [&] { return state->finished; })) break;
        }
        PumpForRun();
    }
    thread.join();
    return state->result;
}

std::wstring LostFramesText(const std::vector<uint64_t>& frames, bool stopped, bool japanese) {
    std::wstring list;
    const size_t shown = stopped ? std::min<size_t>(frames.size(), 1) : std::min<size_t>(frames.size(), 8);
    for (size_t k = 0; k < shown; ++k) {
        if (k) list += L", ";
        list += std::to_wstring(frames[k] + 1);
    }
    if (frames.size() > shown) list += L", ...";
    if (japanese)
        return stopped ? L"フレーム " + list + L" を読み込めませんでした。処理を中止しました"
                       : L"読み込めなかったフレーム " + list + L" を飛ばしました";
    if (stopped) return L"frame " + list + L" could not be read; the run stopped";
    return frames.size() == 1 ? L"frame " + list + L" could not be read and was skipped"
                              : L"frames " + list + L" could not be read and were skipped";
}
