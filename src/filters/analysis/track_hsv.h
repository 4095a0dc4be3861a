// The colour-range tracking engine: a target that holds a 16-bit HSV range
// and finds itself as a connected region of its search box, and the panel
// that edits the range with sliders and by picking colours in the picture.
#pragma once

#include <atomic>
#include <cstdint>

#include "filters/analysis/track_ctrl.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_label.h"
#include "toolkit/fg_rangebar.h"
#include "toolkit/fg_scrollbar.h"

// H centre, H half-width (32768 or more: every hue), S and V limits.
struct HsvRange {
    uint16_t hueCentre;
    uint16_t hueWidth;
    uint16_t satLow, satHigh;
    uint16_t valLow, valHigh;
};
static_assert(sizeof(HsvRange) == 12, "a history entry is 12 bytes");
constexpr HsvRange kHsvAcceptAll = {0, 32768, 0, 65535, 0, 65535};

// Whether a 16-bit H, S, V lies in the range.
bool HsvRangeContains(const HsvRange& range, uint16_t h, uint16_t s, uint16_t v);
// The checkerboard colour of pixel (x, y) for the tint flags.
void TrackTintColour(const uint8_t flags[3], int32_t x, int32_t y, uint8_t out[3]);
// Binarises an image in place for a target: the kept pixels become 0 and the
// rest the white background, then holes, sizes and edge objects as the
// options say (boxW x boxH: the target's search box). False when the range
// is invalid (the image is then unchanged).
bool TrackBinarise(CImgBuff* image, const HsvRange& range, int64_t boxW, int64_t boxH, const CTrackCtrl* options);

class CTrackHSV : public CTrack {
public:
    CTrackHSV() { kind = 1; }
    HsvRange range = kHsvAcceptAll;

    void BuildPreview(CImgBuff* image) override;
    int32_t Find(CImgBuff* image, double* x, double* y) override;
};

class CPanelHSV : public CTrackPanel {
public:
    CPanelHSV(CTrackCtrl* owner, CFgUICtrl* dialog);
    ~CPanelHSV() override;

    HsvRange range = kHsvAcceptAll;
    std::atomic<uint32_t> pickPending{0};
    uint32_t pickMode = 0;  // 0 set, 1 add
    int64_t pickX = 0, pickY = 0;
    HsvRange* history = nullptr;
    uint64_t historyCount = 0;

    CFgUILabel labels[4];
    CFgUIScrollBar hueCentreBar;
    CFgUIScrollBar hueWidthBar;
    CFgUIRangeBar satBar;
    CFgUIRangeBar valBar;
    CFgUIChkButton colorSet;
    CFgUIChkButton colorAdd;
    CFgUIButton optionButton;

    void Layout(int32_t show, int32_t x, int32_t y, int32_t right, int32_t bottom, const wchar_t* language) override;
    CTrack* CreateTrack() override;
    void LoadFromTrack(CTrack* track) override;
    void StoreToTrack(CTrack* track) override;
    void Reset() override;
    int32_t CancelAdd() override { return 0; }
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t width, int64_t height) override;
    int32_t OnMouseMove(int32_t, int32_t) override { return 1; }
    int32_t OnLButtonDown(int32_t x, int32_t y) override;
    int32_t OnLButtonUp(int32_t x, int32_t y) override;
    int32_t OnRButtonDown(int32_t x, int32_t y) override;
    int32_t OnRButtonUp() override;

    bool PickMode() const { return colorSet.checked || colorAdd.checked; }
    // Moves the sliders to the range (each only where the value fits).
    void ShowRange();

private:
    void Push(const HsvRange& entry);
    bool Pop(HsvRange* entry);
    void FreeHistory();
    void Repaint();
    void SliderMoved();
};
