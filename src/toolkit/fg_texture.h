// OpenGL texture with a CPU copy of its pixels in a power-of-two buffer,
// divided into equal cells; attached to the context of one screen and
// re-sent when that context is re-created. It can also be a render target.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/kernel.h"

class CFgScreen;
class CImgBuff;

// One rectangle of a batch drawn by CFgTexture::DrawQuads: pixel corners
// (x0, y0) and (x1, y1) (exclusive edges, as DrawRegion's x + width), the
// texel rectangle drawn into it, and the colour used by tinted textures.
struct FgTexQuad {
    double x0, y0, x1, y1;
    double sourceX0, sourceY0, sourceX1, sourceY1;
    double color[3];
};

class CFgTexture {
public:
    CFgTexture();
    virtual ~CFgTexture();
    CFgTexture(const CFgTexture&) = delete;
    CFgTexture& operator=(const CFgTexture&) = delete;

    uint64_t alpha = 0;  // 1: RGBA, 4 bytes per texel; 0: RGB, 3 bytes
    uint64_t cellWidth = 0;
    uint64_t cellHeight = 0;
    uint64_t columns = 0;
    uint64_t rows = 0;
    uint64_t texWidth = 0;   // smallest power of two >= cellWidth x columns
    uint64_t texHeight = 0;  // smallest power of two >= cellHeight x rows
    uint64_t byteSize = 0;
    uint8_t* pixels = nullptr;  // rows of texWidth texels, first row at t = 0
    CFgScreen* screen = nullptr;
    uint64_t screenGeneration = 0;
    uint32_t glName = 0;
    uint32_t hasName = 0;
    uint32_t tinted = 0;  // 1: the current colour modulates the texels
    uint32_t renderbuffer = 0;
    uint32_t framebuffer = 0;
    uint32_t rendering = 0;
    int32_t savedViewport[4] = {0, 0, 0, 0};
    // Set when pixels changed off the user-interface thread; the next draw sends them.
    std::atomic<uint32_t> uploadPending{0};
    // The cells' extent and kind the name's storage was last specified
    // for (0 = nothing known): while they are unchanged only the cells' rows
    // are sent again.
    uint64_t sentWidth = 0;
    uint64_t sentHeight = 0;
    uint64_t sentAlpha = 0;
    uint64_t sendCount = 0;  // raised with every send of the pixels to OpenGL
    mutable CriticalSection lock;

    int32_t Create(uint64_t cellWidth, uint64_t cellHeight, uint64_t columns, uint64_t rows, uint64_t alpha,
                   const uint8_t* pixels);
    void Clear();
    int32_t CopyFrom(const CFgTexture* other);
    int32_t Upload();
    int32_t AttachToScreen(CFgScreen* screen);
    void ReleaseGl();

    int32_t DrawCell(double x, double y, double width, double height, uint64_t cell);
    int32_t DrawCellQuad(const double* xs, const double* ys, uint64_t cell, uint64_t columnsSpanned,
                         uint64_t rowsSpanned);
    int32_t DrawRegion(double x, double y, double width, double height, double sourceX, double sourceY,
                       double sourceWidth, double sourceHeight);
    int32_t DrawRegionQuad(const double* xs, const double* ys, double sourceX, double sourceY, double sourceWidth,
                           double sourceHeight);
    int32_t DrawFullViewport();
    // Many rectangles of this texture with one bind: the same pixels as a
    // DrawRegion per rectangle (with the quad's colour set first when tinted).
    int32_t DrawQuads(const FgTexQuad* quads, size_t count);

    int32_t BeginRenderTo();
    void EndRenderTo();

    // Display conversion: the image as 8-bit RGB in the first cell.
    int32_t SetFromImage(const CImgBuff* image, uint64_t columns);

    uint64_t BytesPerTexel() const { return alpha ? 4 : 3; }
    uint64_t RowBytes() const { return texWidth * BytesPerTexel(); }

private:
    int32_t SendPixels();
    int32_t Ready();
    int32_t DrawTexCoords(const double* xs, const double* ys, double s0, double t0, double s1, double t1);
    // Pixel corner to OpenGL coordinates of the current render target.
    void ToGl(double x, double y, double* gx, double* gy) const;
    void BeginTexturing();
    void EndTexturing();
};
