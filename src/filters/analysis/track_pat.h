// The pattern tracking engine: a target that holds a square template cut
// from a frame with its 36 rotated copies and finds it again in its search
// box, and the panel through which the user draws, moves and copies such
// targets and sets the rotation search and the similarity threshold.
#pragma once

#include <cstdint>

#include "filters/analysis/track_ctrl.h"
#include "image/kernels/template_match.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_label.h"
#include "toolkit/fg_scrollbar.h"

// The distance the rotated templates need between the centre and an image
// edge: the half-diagonal p * sqrt(2), rounded half away from zero.
int32_t PatternReach(int32_t p);

class CTrackPAT : public CTrack {
public:
    CTrackPAT() { kind = 1; }
    ~CTrackPAT() override;

    uint32_t p = 16;            // template half-size: the square is 2p + 1 pixels
    uint32_t searchHalfW = 32;  // search box: centre +- these
    uint32_t searchHalfH = 32;
    ImageList* templates = nullptr;

    void DrawOverlay(OverlayToGlFn toGlX, OverlayToGlFn toGlY, const OverlayRect& rect, double red, double green,
                     double blue) override;
    void BuildPreview(CImgBuff*) override {}
    int32_t Find(CImgBuff* image, double* x, double* y) override;
    // Cuts the templates around (cx, cy) of the owner's current work image;
    // a cut that fails keeps the templates held before. 1 cut, 0 not.
    int32_t CutTemplate(int32_t cx, int32_t cy);
    // Finds the template in `image` with the given rotation flag and
    // threshold: top-left position and score of the best match.
    int32_t Match(const CImgBuff* image, int32_t rotation, double* x, double* y, double* score) const;
};

class CPanelPAT : public CTrackPanel {
public:
    CPanelPAT(CTrackCtrl* owner, CFgUICtrl* dialog);

    uint32_t p = 0, searchHalfW = 0, searchHalfH = 0;
    uint32_t state = 0;  // 0 idle, 1 drawing, 2 placing a copy, 3 moving
    int32_t pressX = 0, pressY = 0;
    int32_t pointerX = 0, pointerY = 0;
    CTrackPAT* edited = nullptr;
    int32_t centreX = 0, centreY = 0;
    int32_t pressCentreX = 0, pressCentreY = 0;

    CFgUILabel unplaced;  // never placed
    CFgUIChkButton rollCheck;
    CFgUIScrollBar thresholdBar;
    CFgUILabel thresholdLabel;

    void Layout(int32_t show, int32_t x, int32_t y, int32_t right, int32_t bottom, const wchar_t* language) override;
    CTrack* CreateTrack() override;
    void LoadFromTrack(CTrack*) override {}
    void StoreToTrack(CTrack*) override {}
    void Reset() override;
    int32_t CancelAdd() override;
    int32_t OnFilter(CImgBuff*, uint64_t, int64_t, int64_t, int64_t, int64_t) override { return 1; }
    int32_t OnMouseMove(int32_t x, int32_t y) override;
    int32_t OnLButtonDown(int32_t x, int32_t y) override;
    int32_t OnLButtonUp(int32_t x, int32_t y) override;
    int32_t OnRButtonDown(int32_t x, int32_t y) override;
    int32_t OnRButtonUp() override;

private:
    void ShowThreshold();
    // The edited target takes the panel's sizes and the box around the centre.
    void StoreSizes();
    void Refresh();
};
