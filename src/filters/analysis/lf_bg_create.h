// "Generate BG image": one background image computed from every frame of
// the open movie (per-pixel average, maximum or minimum, each also in a
// noise-excluding variant) and saved to an image file. The filter step
// only reads frames while a run lasts; the image is never changed.
#pragma once

#include <atomic>
#include <cstdint>

#include "filters/processing/dialog_filter.h"
#include "toolkit/fg_scrollbar.h"

class CSequenceRun;
class ImgBackgroundFold;

class CLfBgCreate : public CDialogFilter<CLfBgCreate> {
public:
    CLfBgCreate();

    // Method 0-5: RGB average, maximum, minimum, then the L*a*b* average and
    // the maximum and minimum that leave out noise.
    CSetting<uint32_t> method{settings, L"sel", 0, 0, 5};
    CSetting<int32_t> noiseLevel{settings, L"noise_level", 2, 2, 20};

    CFgUIChkButton methodButtons[6];
    CFgUILabel noiseLabel;
    CFgUIScrollBar noiseBar;
    CFgUIButton saveButton;

    PanelSpec Panel() override;
    void EnableUi(int32_t enable) override;
    int32_t QueryClose() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // The SAVE button: asks for the file, runs the selected method over the
    // filter's frames and writes the background. While a run lasts the same
    // button cancels it.
    void SaveCommand();
    // Runs the selected method into `background` through the chain; 1 done,
    // 0 failed, -1 cancelled.
    int32_t Generate(CImgBuff* background);
    bool Running() const { return run_ != nullptr; }

    // Frame source of the noise-excluding kernels (which read every frame
    // twice): seeks the host to `index` and copies what the chain hands
    // this filter; 0 to stop (a cancel, or a frame the chain did not
    // deliver).
    static int32_t FetchFrame(uint64_t index, CImgBuff* image, void* filter);

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    int64_t lostFrame_ = -1;  // the first frame the last run could not get; -1 none
    // The average, maximum or minimum being folded: each frame is read where
    // the chain's step holds it, with no copy. Set only while a run lasts.
    std::atomic<ImgBackgroundFold*> fold_{nullptr};
    int32_t FoldFrames(CSequenceRun& run, int32_t mode, uint64_t count, CImgBuff* background);
    static int32_t FoldVisit(const CImgBuff* image, void* filter);
    static void OnRadio(CFgUIChkButton* button, void* data);
    static void OnBar(CFgUIScrollBar* bar, void* data, int32_t position);
    static void OnButton(CFgUIButton* button, void* data);

    CSequenceRun* run_ = nullptr;
};

class CImgFilter;

// A new "Generate BG image" filter, or null when out of memory.
CImgFilter* CreateLfBgCreate();
