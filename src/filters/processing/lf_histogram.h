// "Histogram": shows the histogram of the region reaching it (brightness
// for grey images, red, green and blue overlaid for colour) and stretches a
// chosen level range [min, max] onto the full range. A click on the graph
// picks the range from the next frame's histogram.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "filters/processing/dialog_filter.h"
#include "image/kernels/histogram_levels.h"
#include "platform/kernel.h"
#include "toolkit/fg_rangebar.h"
#include "toolkit/fg_scrollbar.h"
#include "toolkit/fg_texture.h"

// The counts of one frame: kind 0 grey (counts[0] is the brightness), 1
// colour (red, green, blue).
struct HistogramRecord {
    uint32_t kind = 0;
    uint64_t maximum = 0;  // the largest count of levels 1 to 254
    uint64_t counts[3][256] = {};
};

class CLfHistogram : public CDialogFilter<CLfHistogram> {
public:
    // The graph's inclusive dialog rectangle.
    static constexpr int32_t kGraphX0 = 10, kGraphY0 = 10, kGraphX1 = 265, kGraphY1 = 109;

    CLfHistogram();
    ~CLfHistogram() override;

    CFgUIRangeBar rangeBar;
    CFgUIScrollBar viewBar;
    CFgTexture graph;  // 256 x 100 RGB

    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void OnEnable(int32_t on) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // Dialog side: clicks on the graph, the graph drawn over the panel (its
    // image drawn anew from the latest counts first when they changed), and
    // the posted redraw, which also carries out a picked range.
    void OnLButtonDown(int32_t x, int32_t y) override;
    void DrawOverlay() override;
    void Redraw() override;

    // The range bar moved (or a load or pick moved it) to [lo, hi].
    void RangeChanged(int32_t lo, int32_t hi);
    void ViewChanged(int32_t view);
    // The graph image is to be drawn again from the stored counts and
    // settings: a shown panel repaints, and draws it, at once.
    void RedrawGraph();

    uint64_t Min();
    uint64_t Max();
    uint64_t View();
    HistogramRecord Record();
    bool AutoRangeRequested() const { return autoRange_.load() != 0; }

    // The graph of a record: 256 x 100, grey 8-bit for grey counts, RGB 8-bit
    // for colour; bars of levels inside [min, max] at 255, others 127; a
    // disabled filter's black background becomes grey 64.
    static int32_t DrawGraph(const HistogramRecord& record, uint64_t min, uint64_t max, uint64_t view, bool enabled,
                             CImgBuff* out);
    // Counts the region of an image into a record (before any change).
    static void Count(CImgBuff* image, const ImgRect& region, HistogramRecord* record);

private:
    void PostUiWork();
    // Inside a paint: the graph texture from the stored counts, when stale.
    void DrawGraphTexture();

    // The panel's window while it is shown, else 0: set and cleared on the
    // user-interface thread, read by the step to post its redraw.
    std::atomic<uint32_t> shownWindow_{0};
    // Set when the counts or the graph's settings changed since the texture
    // was drawn. The step only stores counts: the graph image and its upload
    // are made by the panel's next paint, so a hidden panel costs the step
    // nothing and a shown one draws at most once per paint.
    std::atomic<uint32_t> graphStale_{1};
    CriticalSection lock_;  // after g_GlLock
    std::unique_ptr<HistogramRecord> record_;
    std::shared_ptr<ImgLevelTable> table_;  // the step keeps its copy alive while applying
    uint64_t min_ = 0, max_ = 255, view_ = 10000;
    std::atomic<uint32_t> autoRange_{0};
    // A range picked by a step, for the user-interface thread to apply.
    bool picked_ = false;
    int32_t pickedLo_ = 0, pickedHi_ = 0;
};

CImgFilter* CreateLfHistogram();
