// "Manual measurement": up to four points clicked on the picture give a
// position, a distance or the normalised inner product of two directions,
// shown in the panel and drawn over the picture. The image is not changed.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "filters/processing/dialog_filter.h"

class CLfMmeasure : public CDialogFilter<CLfMmeasure> {
public:
    struct Point {
        int32_t x, y;
    };

    CLfMmeasure();

    CFgUILabel resultLabel;
    CFgUIButton clearButton;

    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void OnEnable(int32_t on) override;
    void OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t dx0,
                       int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                       int32_t zoom) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    // The label takes the text the worker may have recomputed.
    void DrawBackground() override;

    std::vector<Point> Points() const;
    std::wstring Text() const;
    // "CLS": no points, no text.
    void ClearPoints();

    // The result text of `count` points (0-4) in click order; `height` is
    // the frame's row count, used when the Y axis points up.
    static std::wstring ResultText(const Point* points, int32_t count, bool japanese, double scale, int32_t axisY,
                                   const wchar_t* unit, uint64_t height);

private:
    static void OnClear(CFgUIButton* button, void* data);
    // Recomputes the text; from the user-interface thread the owner and the
    // panel are redrawn at once, from the worker the panel's repaint is posted.
    void Recompute(bool onWorker);

    mutable std::mutex lock_;
    Point points_[4] = {};
    int32_t count_ = 0;
    uint64_t frameHeight_ = 0;
    std::wstring text_;
};

class CImgFilter;

// A new "Manual measurement" filter, or null when out of memory.
CImgFilter* CreateLfMmeasure();
