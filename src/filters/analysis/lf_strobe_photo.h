// "Strobe photo": one still in which the moving objects of every frame of
// the open movie appear over a common background. The background is chosen
// (the current frame or the last computed one, with an object mask painted
// over its objects) or computed from the movie; masked cells of it are
// repaired from frames that show background there; then every frame adds
// the pixels that changed and differ enough from the background.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "filters/processing/dialog_filter.h"
#include "image/imgbuff.h"
#include "toolkit/fg_picture.h"
#include "toolkit/fg_scrollbar.h"

class CSequenceRun;

class CLfStrobePhoto : public CDialogFilter<CLfStrobePhoto> {
public:
    static constexpr int32_t kCell = 4;  // cells of 4 x 4 pixels

    CLfStrobePhoto();

    CFgUIPicture picture;
    CFgUIChkButton setBgBox;
    CFgUIButton currentFrameButton, currentBgButton, startButton, endButton, clearButton;
    CFgUILabel maskLabel, levelLabel;
    CFgUIScrollBar levelBar;
    CFgUIButton execButton, openButton, saveButton;

    std::atomic<uint32_t> maskEdit{0};
    uint32_t dragging = 0;
    int32_t dragStartX = 0, dragStartY = 0, dragX = 0, dragY = 0;  // cells

    PanelSpec Panel() override;
    void EnableUi(int32_t enable) override;
    int32_t QueryClose() override;
    void OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t dx0,
                       int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                       int32_t zoom) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnMouseMove(int64_t x, int64_t y, uint32_t flags) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnLButtonUp(int64_t x, int64_t y, uint32_t flags) override;

    // The buttons' actions.
    void CurrentFrame();
    void CurrentBackground();
    void StartMaskEdit();
    void EndMaskEdit();
    void ClearMask();
    void Exec();
    void Open();
    void Save();
    bool Running() const { return run_ != nullptr; }

    // Copies of the images (empty handles when there is none).
    void CopyBackground(CImgBuff* out) const;
    void CopyMask(CImgBuff* out) const;
    void CopyComposite(CImgBuff* out) const;
    void CopyLastBackground(CImgBuff* out) const;
    // Sets the chosen background (and drops the mask and the composite), as
    // CURRENT FRAME does with a captured frame.
    void SetBackground(const CImgBuff& image);

    // The cells (cellsX x cellsY, row-major, 1 = changed) where the mean
    // absolute 8-bit difference of a and b is above 8 percent of 255, by
    // rows of cells on the pool; the images have the same size.
    static void ChangedCells(const CImgBuff& a, const CImgBuff& b, std::vector<uint8_t>* cells);
    // One repair pass of the background against a frame: every masked cell
    // with an unmasked neighbour whose background matches the frame's cell
    // takes the frame's cell; the pass reads the mask and background as
    // they were at its start. True when a cell changed.
    static bool RepairPass(const CImgBuff& frame, CImgBuff* background, CImgBuff* mask);
    // Copies into the composite the pixels of changed cells whose 8-bit RGB
    // distance from the background is at least `threshold`.
    static void AddChanges(const CImgBuff& frame, const CImgBuff& background, const std::vector<uint8_t>& cells,
                           uint32_t threshold, CImgBuff* composite);
    // Tints the pixels under the mask with the checkerboard of the guide colour.
    static void TintMasked(CImgBuff* image, const CImgBuff& mask, double red, double green, double blue);

protected:
    void ApplyRules() override;

private:
    int64_t lostFrame_ = -1;  // the frame the last run could not get; -1 none
    static void OnButton(CFgUIButton* button, void* data);
    static void OnBox(CFgUIChkButton* box, void* data);
    static void OnBar(CFgUIScrollBar* bar, void* data, int32_t position);
    // The background exists and fits frames of this size (and format, when known).
    bool BackgroundFits(int32_t width, int32_t height, int32_t format) const;
    void ShowPicture(const CImgBuff& image);
    // Steps 3-5 of a run; false when cancelled.
    bool Compose(CSequenceRun& run, uint64_t count, uint32_t threshold, CImgBuff* composite, bool* noBackground);
    void Message(const wchar_t* en, const wchar_t* jp, bool error);

    mutable std::mutex lock_;  // the images the filter step reads
    CImgBuff mask_, background_, composite_, lastBackground_;
    CSequenceRun* run_ = nullptr;
};

class CImgFilter;

// A new "Strobe photo" filter, or null when out of memory.
CImgFilter* CreateLfStrobePhoto();
