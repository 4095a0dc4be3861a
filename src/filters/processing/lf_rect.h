// "Process rect": a chain item that processes no pixels but sets the
// rectangle the filters after it work on, until the next processing
// rectangle. Drawn with the left button on the picture, moved with the
// right one, shown as an outline.
#pragma once

#include <cstdint>
#include <mutex>

#include "filters/core/imgfilter.h"

class CLfRect : public CImgFilter {
public:
    // The rectangle the worker reads, as one consistent copy.
    struct Rect {
        uint32_t set = 0;
        uint64_t x = 0, y = 0, w = 0, h = 0;
    };

    const wchar_t* GetName(const wchar_t* languageCode) override;
    int32_t Filter(CImgBuff* image, uint64_t frame, int64_t* x, int64_t* y, int64_t* w, int64_t* h,
                   uint32_t* connect, uint32_t* bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t dx0,
                       int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                       int32_t zoom) override;
    void OnMouseMove(int64_t x, int64_t y, uint32_t flags) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnLButtonUp(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonUp(int64_t x, int64_t y, uint32_t flags) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;

    Rect Get() const;
    void Set(const Rect& r);
    // The outline's corners in view pixels (left, top, right, bottom).
    static void OutlineCorners(const Rect& r, int32_t dx0, int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0,
                               int32_t iy0, int32_t ix1, int32_t iy1, int32_t zoom, int32_t corners[4]);

    uint32_t dragMode = 0;  // 0 idle, 1 drawing, 2 moving
    uint64_t moveOriginX = 0, moveOriginY = 0;
    uint64_t anchorX = 0, anchorY = 0;
    uint64_t lastX = 0, lastY = 0;

private:
    void Rerun();
    mutable std::mutex lock_;
    Rect rect_;
};

CImgFilter* CreateLfRect();
