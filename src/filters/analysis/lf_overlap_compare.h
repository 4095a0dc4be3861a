// "Overlap compare": a second image, chosen from a file, moved, turned and
// scaled, laid over every frame either blended with a chosen transparency
// ("compare") or as the absolute difference ("diff").
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "filters/processing/dialog_filter.h"
#include "image/imgbuff.h"
#include "toolkit/fg_picture.h"
#include "toolkit/fg_scrollbar.h"

class CLfOverlapCompare : public CDialogFilter<CLfOverlapCompare> {
public:
    // The transformed overlay in one frame format, its coverage mask and
    // the frame position of its top-left pixel.
    struct Overlay {
        CImgBuff image;
        CImgBuff mask;
        int32_t x0 = 0, y0 = 0;
        int32_t format = 0;
    };

    CLfOverlapCompare();

    // Slider values (read by the worker) and the mode: 0 compare, 1 diff,
    // -1 neither.
    std::atomic<int32_t> positionX{0}, positionY{0}, roll{0}, size{400}, transparency{50};
    std::atomic<int32_t> mode{0};

    CFgUIPicture picture;
    CFgUILabel positionLabel, rollLabel, sizeLabel, transparentLabel;
    CFgUIScrollBar positionXBar, positionYBar, rollBar, sizeBar, transparencyBar;
    CFgUIChkButton compareButton, diffButton;
    CFgUIButton selectButton;

    PanelSpec Panel() override;
    void OnSize(uint64_t w, uint64_t h, uint64_t bpp, uint64_t frameCount) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // Loads the file into a new image and swaps it in under the lock (a step
    // transforming the old one keeps it alive); shows it, re-ranges the
    // position sliders and asks for a rebuild. False when nothing loaded:
    // the filter is then without a chosen image.
    bool SelectImage(const wchar_t* path);
    // A slider or the mode changed: rebuild on the next step, rerun.
    void RequestRebuild();
    bool HasImage() const;
    // The overlay the last step laid over its frame, or null.
    std::shared_ptr<const Overlay> CurrentOverlay() const;

    // Lays the overlay over the frame's rows on the worker pool: compare
    // (weight `alpha` percent of the coverage) or diff. The overlay is in
    // the frame's format.
    static void Compose(CImgBuff* frame, const Overlay& overlay, int32_t composeMode, int32_t alpha);

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    static void OnBar(CFgUIScrollBar* bar, void* data, int32_t position);
    static void OnRadio(CFgUIChkButton* button, void* data);
    static void OnSelect(CFgUIButton* button, void* data);
    void SetPositionRanges();

    mutable std::mutex lock_;
    std::shared_ptr<const CImgBuff> chosen_;
    std::shared_ptr<const Overlay> overlay_;
    bool rebuild_ = false;
    bool busy_ = false;
};

// A new "Overlap compare" filter, or null when out of memory.
CImgFilter* CreateLfOverlapCompare();
