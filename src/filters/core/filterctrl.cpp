// The chain controller's life, its worker thread and run requests.
#include "filters/core/filterctrl.h"

#include "image/imgbuff.h"
#include "platform/thread_start.h"
#include "toolkit/fg_loop.h"

namespace {

// Copies source into destination, or empties it when source holds no pixels.
void CopyOrEmpty(CImgBuff* destination, const CImgBuff* source) {
    if (source && source->buffer && ImgFormatValid(source->buffer->format)) {
        destination->CopyFrom(source);
    } else {
        destination->FreePixels();
    }
}

// Hands the run's image to its target: the two exchange their pixel blocks
// (the worker's image is overwritten by the next run's copy of its source),
// or the target is emptied when the run left no pixels.
void HandOver(CImgBuff* target, CImgBuff* image) {
    if (!image->buffer || !ImgFormatValid(image->buffer->format) || !target->buffer) {
        CopyOrEmpty(target, image);
        return;
    }
    C_ImgBuff held;
    held.TakePixels(target->buffer);
    target->buffer->TakePixels(image->buffer);
    image->buffer->TakePixels(&held);
}

}  // namespace

CFilterCtrl::CFilterCtrl() {
    SetLanguage(L"jp");
    FgThreadStart start{&CFilterCtrl::WorkerMain, this, {1}};
    try {
        worker_ = std::thread(FgThreadEntry, &start);
    } catch (...) {
        return;  // no worker: requests are never served
    }
    // The record lives on this stack: wait until the thread has taken it.
    while (start.started.load() != 0) PlatSleep(10);
    threadRunning = 1;
}

CFilterCtrl::~CFilterCtrl() {
    StopWorker();
    for (FilterChain& chain : chains) {
        while (chain.Count() > 0) RemoveFromChain(chain, 0);
    }
}

void CFilterCtrl::StopWorker() {
    if (!worker_.joinable()) return;
    lock.Enter();
    quit = 1;
    wakeEvent.Set();
    lock.Leave();
    worker_.join();
    threadRunning = 0;
}

void CFilterCtrl::WorkerMain(void* self) { static_cast<CFilterCtrl*>(self)->WorkerLoop(); }

void CFilterCtrl::WorkerLoop() {
    workerId_ = std::this_thread::get_id();
    CImgBuff image;
    lock.Enter();
    while (!quit) {
        // Requests made before the worker first got here, or during a run,
        // are served before it waits.
        while (requestPending && !quit) {
            // The run's targets are fixed when it starts.
            CImgBuff* target = result;
            uint64_t frame = frameArg;
            uint64_t serving = requestSeq_;
            requestPending = 0;
            CopyOrEmpty(&image, source);
            lock.Leave();
            ChainRegion region;
            bool ran;
            {
                // The gate is left before the lock is taken again: a thread
                // that holds the lock and edits the chain waits for the
                // gate only.
                ChainGateHold hold(gate_);
                ran = RunActiveChain(&image, frame, &region);
            }
            lock.Enter();
            if (ran) StoreRegion(region);
            if (target) HandOver(target, &image);
            lock.Leave();
            owner->OnFrameDone();
            lock.Enter();
            doneSeq_ = serving;
        }
        if (quit) break;
        // Every request so far is served; a later one sets the event again.
        wakeEvent.Reset();
        lock.Leave();
        wakeEvent.SetAndWait(doneEvent);
        lock.Enter();
    }
    // Releases a synchronous requester that is still waiting.
    doneEvent.Set();
    lock.Leave();
}

void CFilterCtrl::RequestRun(CImgBuff* resultImage, CImgBuff* sourceImage, uint64_t frame, int32_t async) {
    lock.Enter();
    source = sourceImage;
    result = resultImage;
    frameArg = frame;
    requestPending = 1;
    const uint64_t ticket = ++requestSeq_;
    const bool wait = !async && threadRunning && std::this_thread::get_id() != workerId_.load();
    if (!wait) {
        wakeEvent.Set();
        lock.Leave();
        return;
    }
    // The worker needs the lock and the gate: the wait releases every level
    // of both that this thread holds (an edit in progress, or a caller that
    // holds the lock) and takes them back afterwards.
    const uint32_t gateLevels = gate_.Suspend();
    const uint32_t callerLevels = lock.LeaveAll() - 1;  // besides the one taken above
    lock.Enter();
    // The done signal may stem from an earlier pass of the worker: wait
    // until the run that serves this request has finished.
    while (doneSeq_ < ticket && !quit) {
        FgWaitEvent(&wakeEvent, &doneEvent, &lock);
        lock.Enter();
    }
    lock.Leave();
    lock.EnterLevels(callerLevels);
    gate_.Resume(gateLevels);
}

void CFilterCtrl::LockUi(int32_t lockFlag, CImgFilter* filter) {
    ChainGateHold hold(gate_);
    for (CImgFilter* f : chains[activeChain].filters) f->OnEnable(!lockFlag || f == filter ? 1 : 0);
}

void CFilterCtrl::ChangeCalibration(double scale, int32_t axisY, const wchar_t* unit) {
    calibScale = scale;
    calibAxisY = axisY;
    size_t n = 0;
    for (; unit && unit[n] && n < static_cast<size_t>(kFilterUnitMax - 1); ++n) calibUnit[n] = unit[n];
    calibUnit[n] = L'\0';
}
