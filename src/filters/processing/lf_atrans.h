// "Zoom": the user draws a rectangle of the image's aspect (the input area)
// on the picture, may move or turn it, and after "set" every frame is turned
// and scaled about the rectangle's centre so that its diagonal lies on the
// image diagonal; the result may be mirrored left-right.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "filters/processing/dialog_filter.h"

class CLfAtrans : public CDialogFilter<CLfAtrans> {
public:
    struct Point {
        int32_t x = 0, y = 0;
        bool operator==(const Point&) const = default;
    };
    // Turn and scale about a centre, as the kernel takes them.
    struct Transform {
        int32_t cx = 0, cy = 0;
        double angle = 0;
        double scale = 0;
    };
    // What the worker reads, as one consistent copy: the applied diagonal,
    // the image size its transform was computed for, the transform and the
    // mirror switch.
    struct Applied {
        uint32_t enable = 0;
        Point a, b;
        uint64_t sizeW = 0, sizeH = 0;
        Transform transform;
        uint32_t mirror = 0;
    };
    enum Drag : uint32_t { kNoDrag, kDrawAspect, kDrawFree, kMove, kTurn };

    CLfAtrans();

    CFgUIChkButton mirrorBox, inputAreaBox;
    CFgUIButton setButton;

    // Interface-thread state of the rectangle being edited.
    uint32_t drawn = 0;
    uint32_t drag = kNoDrag;
    int64_t dragStartX = 0, dragStartY = 0;
    Point savedA, savedB;
    Point pivot;
    double startAngle = 0;
    Point currentA, currentB;
    Point corners[4];  // A, the corner beside it on A's row, B, the corner below A

    Applied Get() const;
    void Set(const Applied& applied);
    bool InputArea() const { return inputArea_.load() != 0; }

    // The transform that lays the diagonal A -> B onto the image diagonal
    // of a W x H image; false (nothing written) when W or H is 0, A equals B
    // or the diagonal is shorter than 22.6 pixels.
    static bool TransformFromDiagonal(uint64_t w, uint64_t h, Point a, Point b, Transform* out);
    // The four corners of the rectangle of the image's aspect whose diagonal
    // is A -> B, in drawing order.
    static void CornersOf(uint64_t w, uint64_t h, Point a, Point b, Point out[4]);

    PanelSpec Panel() override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t dx0,
                       int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                       int32_t zoom) override;
    void OnMouseMove(int64_t x, int64_t y, uint32_t flags) override;
    void OnLButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnLButtonUp(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonDown(int64_t x, int64_t y, uint32_t flags) override;
    void OnRButtonUp(int64_t x, int64_t y, uint32_t flags) override;

    // The "input area" box and the "set" button, as their clicks run them.
    void SetInputArea(bool on);
    void ApplyArea();

protected:
    void ApplyRules() override;

private:
    static void OnMirror(CFgUIChkButton* box, void* data);
    static void OnInputArea(CFgUIChkButton* box, void* data);
    static void OnSet(CFgUIButton* button, void* data);
    void UpdateCorners();
    void RedrawPicture();
    void RedrawPanel();

    mutable std::mutex lock_;
    Applied applied_;
    std::atomic<uint32_t> inputArea_{0};
};

// A new "Zoom" filter, or null when out of memory.
CImgFilter* CreateLfAtrans();
