// "Anti shake / Composit": runs over every frame of the open sequence and
// either steadies the picture (written out as a new movie or sequence) or
// stacks the aligned frames into one still (a mean, or a double-size stack
// with optional noise reduction), saved or shown in place of the source.
// Frames are aligned by two reference patches found automatically, clicked
// by the user, or (for a moving camera) taken from the centre.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "filters/processing/dialog_filter.h"
#include "image/imgbuff.h"

class CSequenceRun;

class CLfAntiShake : public CDialogFilter<CLfAntiShake> {
public:
    // A reference: the cut patch (empty: a free slot), its top-left corner
    // and size in image pixels.
    struct Reference {
        CImgBuff pattern;
        double x = 0, y = 0;
        int32_t w = 0, h = 0;
        bool Used() const { return pattern.buffer && pattern.buffer->pixels && pattern.buffer->format; }
    };

    CLfAntiShake();

    CSetting<uint32_t> sel{settings, L"sel", 0, 0, 1, SettingRule::Exact, {0, 1}};   // 0 anti shake, 1 composite
    CSetting<uint32_t> type{settings, L"type", 0, 0, 1, SettingRule::Exact, {0, 1}};  // 0 fixed, 1 moving
    // On for any text but "0" and empty: loaded by hand.
    CFilterSettingList looseFlags;
    CSettingFlag zoom{looseFlags, L"zoom", 0};
    CSettingFlag antiNoise{looseFlags, L"anti_noise", 1};

    CFgUIChkButton shakeButton, compositeButton, fixedButton, movingButton;
    CFgUIChkButton zoomBox, antiNoiseBox, specifyBox;
    CFgUIButton openButton, saveButton;

    Reference refs[2];
    std::atomic<int32_t> patch{32};
    std::atomic<uint32_t> fill{255};

    PanelSpec Panel() override;
    void EnableUi(int32_t enable) override;
    int32_t QueryClose() override;
    void OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t dx0,
                       int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                       int32_t zoom) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;

    // A whole run: `save` 1 for SAVE (the result to a file), 0 for OPEN.
    void Run(bool save);
    bool Running() const { return run_ != nullptr; }
    // Empties both reference slots.
    void ClearReferences();
    // Adds every pixel of the frame into the sums (one plane for grey, R, G,
    // B for colour) on the pool, and writes sums / count truncated into an
    // image of the given format and size.
    static void Accumulate(const CImgBuff& frame, double* const sums[3]);
    static bool MeanImage(const double* const sums[3], uint64_t count, int32_t format, int32_t width, int32_t height,
                          CImgBuff* out);

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    // kLost: a frame could not be had (lostFrame_ says which); the run stopped.
    enum Outcome { kDone, kFailed, kCanceled, kLost };
    uint64_t lostFrame_ = 0;
    static void OnRadio(CFgUIChkButton* button, void* data);
    static void OnBox(CFgUIChkButton* box, void* data);
    static void OnButton(CFgUIButton* button, void* data);
    void Message(const wchar_t* en, const wchar_t* jp, bool error);
    void CutReference(Reference* slot, const CImgBuff& frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                      double px, double py);
    Outcome Steady(CSequenceRun& run, const CImgBuff& first, int32_t n);
    Outcome Mean(CSequenceRun& run, int32_t n, CImgBuff* result);
    Outcome Stack(CSequenceRun& run, const CImgBuff& first, CImgBuff* result);
    // For SAVE: the file to write the still to; false when the user declined.
    bool AskStillPath(wchar_t* path);

    std::mutex pickLock_;
    bool picking_ = false;
    CImgBuff picked_;
    CSequenceRun* run_ = nullptr;
};

class CImgFilter;

// A new "Anti shake / Composit" filter, or null when out of memory.
CImgFilter* CreateLfAntiShake();
