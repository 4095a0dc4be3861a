#include "app/side_panel.h"

#include "app/main_screen.h"

CSidePanel::CSidePanel() { listScrollBar.orientation = 1; }

CSidePanel::~CSidePanel() { StopWorker(); }

int32_t CSidePanel::AddFilter(CImgFilter* filter) {
    if (!filter) return 0;
    uint64_t index = 0;
    if (!CFilterCtrl::AddFilter(filter, &index)) return 0;
    SelectFilter(index);
    return 1;
}

void CSidePanel::OnFilterUiClosed() {
    if (mainScreen) mainScreen->Redraw();
}

void CSidePanel::LockUi(int32_t lockFlag, CImgFilter* filter) {
    // A filter's lock ends, but the busy lock of an open or a save holds.
    if (mainScreen && (lockFlag || mainScreen->busyCount == 0)) mainScreen->EnableAll(lockFlag ? 0 : 1);
    CFilterCtrl::LockUi(lockFlag, filter);
}

void CSidePanel::Refilter(int32_t async) {
    if (mainScreen) mainScreen->RunFilterChain(async);
}

void CSidePanel::OnFrameDone() {
    if (mainScreen) mainScreen->PostFrameDone();
}

void CSidePanel::Redraw() {
    if (mainScreen) mainScreen->Redraw();
}

int32_t CSidePanel::Seek(uint64_t frame) { return mainScreen ? mainScreen->SeekScene(frame) : 0; }

uint64_t CSidePanel::GetCurrentFrame() {
    return mainScreen && (mainScreen->movieFile || mainScreen->moduleStream) ? mainScreen->sceneBar.position : 0;
}

uint64_t CSidePanel::GetMediaFrameTime() { return mainScreen ? mainScreen->movieMsPerFrame : 0; }

uint64_t CSidePanel::GetFrameInterval() { return mainScreen ? mainScreen->msPerFrame : 33333; }

void CSidePanel::EnableImageView(int32_t flag) {
    if (!mainScreen) return;
    mainScreen->imageViewInput = flag != 0;
    if (!mainScreen->CFgUICtrl::enabled) {
        mainScreen->picture.Enable(flag);
        mainScreen->Redraw();
    }
}

void CSidePanel::SetSourceImage(CImgBuff* image) {
    if (mainScreen) mainScreen->SetDocumentImage(image);
}

void CSidePanel::ReplaceSourceImage(CImgBuff* image) {
    if (mainScreen) mainScreen->SetDocumentImage(image);
}

void CSidePanel::GetSourceImage(CImgBuff* image) {
    if (!mainScreen || !image) return;
    CriticalSectionLock hold(lock);
    image->CopyFrom(&mainScreen->sourceImage);
}

void CSidePanel::GetResultImage(CImgBuff* image) {
    if (!mainScreen || !image) return;
    CriticalSectionLock hold(lock);
    image->CopyFrom(&mainScreen->resultImage);
}
