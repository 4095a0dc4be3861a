#include "image/kernels/raster_stack.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "image/kernels/align.h"
#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

void PlotGrayPixel(int32_t x, int32_t y, PlotGrayContext* context) {
    if (!context || !context->image || !context->image->buffer) return;
    context->image->buffer->SetPixelGray8(x, y, context->grey);
}

namespace {

// Image points outside 32-bit coordinates lie outside every image.
void Plot(int64_t x, int64_t y, PlotGrayContext* context) {
    if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) return;
    PlotGrayPixel(static_cast<int32_t>(x), static_cast<int32_t>(y), context);
}

}  // namespace

void ImgOctantPlot1(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* c) { Plot(ox + a, oy + b, c); }
void ImgOctantPlot2(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* c) { Plot(ox + b, oy + a, c); }
void ImgOctantPlot3(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* c) { Plot(ox - b, oy + a, c); }
void ImgOctantPlot4(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* c) { Plot(ox - a, oy + b, c); }
void ImgOctantPlot5(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* c) { Plot(ox - a, oy - b, c); }
void ImgOctantPlot6(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* c) { Plot(ox - b, oy - a, c); }
void ImgOctantPlot7(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* c) { Plot(ox + b, oy - a, c); }
void ImgOctantPlot8(int32_t ox, int32_t oy, int64_t a, int64_t b, PlotGrayContext* c) { Plot(ox + a, oy - b, c); }

void ImgLineStepper(int32_t ox, int32_t oy, int64_t n, int64_t m, ImgOctantPlotFn thunk, PlotGrayContext* context) {
    if (n < 1 || m < 1 || m > n) return;
    // The error term counts the n - 1 steps along the major axis against
    // the m - 1 along the minor one, so both halves meet in the middle.
    int64_t j = 0, i2 = n - 1, j2 = m - 1, e = (n - 1) >> 1;
    for (int64_t i = 0; i < n; ++i) {
        thunk(ox, oy, i, j, context);
        thunk(ox, oy, i2, j2, context);
        if (j2 - j < 2 && i2 - i < 2) break;
        e += m - 1;
        if (e >= n - 1) {
            e -= n - 1;
            j += 1;
            j2 -= 1;
        }
        i2 -= 1;
    }
}

void ImgDrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PlotGrayContext* context) {
    const int64_t dx = int64_t{x1} - x0, dy = int64_t{y1} - y0;
    const bool right = dx >= 0, down = dy >= 0;
    const int64_t ax = right ? dx : -dx, ay = down ? dy : -dy;
    if (ax >= ay) {
        static constexpr ImgOctantPlotFn kThunks[2][2] = {{ImgOctantPlot5, ImgOctantPlot4}, {ImgOctantPlot8, ImgOctantPlot1}};
        ImgLineStepper(x0, y0, ax + 1, ay + 1, kThunks[right][down], context);
    } else {
        static constexpr ImgOctantPlotFn kThunks[2][2] = {{ImgOctantPlot6, ImgOctantPlot3}, {ImgOctantPlot7, ImgOctantPlot2}};
        ImgLineStepper(x0, y0, ay + 1, ax + 1, kThunks[right][down], context);
    }
}

void ImgChartArcOctant(int32_t ox, int32_t oy, ImgOctantPlotFn thunk, PlotGrayContext* context) {
    int64_t y = 128;
    for (int64_t a = 0; a <= 90; ++a) {
        if (std::llabs(a * a + (y - 1) * (y - 1) - 16384) < std::llabs(a * a + y * y - 16384)) y -= 1;
        thunk(ox, oy, a, y, context);
    }
}

int32_t ImgDrawChartCircle(PlotGrayContext* context) {
    ImgChartArcOctant(127, 127, ImgOctantPlot2, context);
    ImgChartArcOctant(127, 127, ImgOctantPlot1, context);
    ImgChartArcOctant(128, 127, ImgOctantPlot4, context);
    ImgChartArcOctant(128, 127, ImgOctantPlot3, context);
    ImgChartArcOctant(128, 128, ImgOctantPlot6, context);
    ImgChartArcOctant(128, 128, ImgOctantPlot5, context);
    ImgChartArcOctant(127, 128, ImgOctantPlot8, context);
    ImgChartArcOctant(127, 128, ImgOctantPlot7, context);
    return 1;
}

void ImgEnlarge2xRows(void* ctx, uint64_t first, uint64_t count) {
    const Enlarge2xJob& job = *static_cast<const Enlarge2xJob*>(ctx);
    const C_ImgBuff& s = *job.source;
    C_ImgBuff& d = *job.destination;
    const int32_t bpp = d.BytesPerPixel();
    uint8_t rgb[3 * kImgSpanPixels];
    for (uint64_t i = first; i < first + count; ++i) {
        const int32_t y = static_cast<int32_t>(i);
        for (int32_t x0 = 0; x0 < s.width; x0 += kImgSpanPixels) {
            const int32_t n = std::min(kImgSpanPixels, s.width - x0);
            ImgReadRgb8Span(s, x0, y, n, rgb);
            for (int32_t k = 0; k < n; ++k) {
                // One pixel through the setter, its bytes repeated over 2 x 2.
                const int32_t x = 2 * (x0 + k);
                uint8_t* p00 = d.PixelAt(x, 2 * y);
                d.SetPixelRgb8(x, 2 * y, rgb[3 * k], rgb[3 * k + 1], rgb[3 * k + 2]);
                std::memcpy(p00 + bpp, p00, static_cast<size_t>(bpp));
                std::memcpy(d.PixelAt(x, 2 * y + 1), p00, 2 * static_cast<size_t>(bpp));
            }
        }
    }
}

int32_t ImgEnlarge2x(CImgBuff* image) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) || !image->buffer->pixels) return 0;
    C_ImgBuff& b = *image->buffer;
    if (b.width > INT32_MAX / 2 || b.height > INT32_MAX / 2) return 0;
    C_ImgBuff larger;
    if (!larger.Create(2 * b.width, 2 * b.height, b.format)) return 0;
    Enlarge2xJob job{&b, &larger};
    PoolParallelFor(ImgEnlarge2xRows, &job, static_cast<uint64_t>(b.height));
    b.TakePixels(&larger);
    return 1;
}

namespace {

void FreeStack(FrameStack* s) {
    if (!s) return;
    delete s->template1;
    delete s->template2;
    delete s->workFrame;
    delete s->enlargedTemplate1;
    delete[] s->sumR;
    delete[] s->sumG;
    delete[] s->sumB;
    delete[] s->hits;
    delete s;
}

uint64_t Cells(const FrameStack& s) {
    return static_cast<uint64_t>(s.scale) * static_cast<uint64_t>(s.width) * static_cast<uint64_t>(s.scale) *
           static_cast<uint64_t>(s.height);
}

// Enlarged once per doubling of the scale.
bool EnlargeByScale(CImgBuff* image, int32_t scale) {
    for (int32_t s = scale; s > 1; s /= 2)
        if (!ImgEnlarge2x(image)) return false;
    return true;
}

}  // namespace

FrameStack* ImgFrameStackCreate(const CImgBuff* frame) {
    if (!frame || !frame->buffer || !ImgFormatValid(frame->buffer->format) || !frame->buffer->pixels) return nullptr;
    const C_ImgBuff& f = *frame->buffer;
    if (f.width < 1 || f.height < 1) return nullptr;
    std::unique_ptr<FrameStack, void (*)(FrameStack*)> s(new (std::nothrow) FrameStack{}, FreeStack);
    if (!s) return nullptr;
    s->sampling = 1;
    s->width = f.width;
    s->height = f.height;
    s->scale = 2;
    const uint64_t cells = Cells(*s);
    if (cells > SIZE_MAX / sizeof(uint32_t)) return nullptr;
    s->sumR = new (std::nothrow) uint32_t[cells]();
    s->sumG = new (std::nothrow) uint32_t[cells]();
    s->sumB = new (std::nothrow) uint32_t[cells]();
    s->hits = new (std::nothrow) uint32_t[cells]();
    s->template1 = new (std::nothrow) CImgBuff;
    s->template2 = new (std::nothrow) CImgBuff;
    s->workFrame = new (std::nothrow) CImgBuff;
    s->enlargedTemplate1 = new (std::nothrow) CImgBuff;
    if (!s->sumR || !s->sumG || !s->sumB || !s->hits || !s->template1 || !s->template2 || !s->workFrame || !s->enlargedTemplate1)
        return nullptr;

    // Two reference areas of 32 x 32 within a 32-pixel margin.
    TileScore a, b;
    if (!ImgFindReferenceArea(frame, 32, 32, f.width - 32, f.height - 32, 32, 32, &a, &b)) return nullptr;
    s->ref1x = a.x0;
    s->ref1y = a.y0;
    s->ref2x = b.x0;
    s->ref2y = b.y0;
    if (!frame->ExtractRect(s->template1, a.x0, a.y0, a.x1, a.y1) || !frame->ExtractRect(s->template2, b.x0, b.y0, b.x1, b.y1)) return nullptr;
    s->enlargedTemplate1->CopyFrom(s->template1);
    s->workFrame->CopyFrom(frame);
    if (!EnlargeByScale(s->enlargedTemplate1, s->scale) || !EnlargeByScale(s->workFrame, s->scale)) return nullptr;

    // The first frame itself, through a copy that its alignment may change.
    CImgBuff first;
    first.CopyFrom(frame);
    if (!first.buffer || first.buffer->format != f.format || !ImgFrameStackAdd(s.get(), &first, 0)) return nullptr;
    return s.release();
}

int32_t ImgFrameStackAdd(FrameStack* stack, CImgBuff* frame, uint8_t fill) {
    if (!stack || !frame || !frame->buffer || !ImgFormatValid(frame->buffer->format) || !frame->buffer->pixels) return 0;
    FrameStack& s = *stack;
    C_ImgBuff& f = *frame->buffer;
    if (f.width != s.width || f.height != s.height) return 0;
    const CImgBuff* templates[2] = {s.template1, s.template2};
    const int32_t rx[2] = {s.ref1x, s.ref2x}, ry[2] = {s.ref1y, s.ref2y};
    if (!ImgAlignTwoPoints(s.scale != 1, frame, templates, rx, ry, 32, fill, static_cast<int32_t>(s.sampling))) return 0;

    // The remaining fraction in fine cells, from template 1 in the aligned
    // frame enlarged.
    int32_t ox = 0, oy = 0;
    if (s.scale >= 2) {
        CImgBuff enlarged;
        enlarged.CopyFrom(frame);
        if (!enlarged.buffer || enlarged.buffer->format != f.format || !EnlargeByScale(&enlarged, s.scale)) return 0;
        double dx = 0, dy = 0;
        if (!ImgRefinePointOffset(&enlarged, s.enlargedTemplate1, s.scale * s.ref1x, s.scale * s.ref1y, s.scale - 1, &dx, &dy,
                                  static_cast<int32_t>(s.sampling)))
            return 0;
        const double limit = s.scale - 1;
        ox = static_cast<int32_t>(std::clamp(std::round(dx), -limit, limit));
        oy = static_cast<int32_t>(std::clamp(std::round(dy), -limit, limit));
    }
    // Each frame row lands on its own fine row: the rows go to the pool.
    const int64_t gridW = int64_t{s.scale} * s.width;
    auto rows = [&](uint64_t first, uint64_t count) {
        uint8_t rgb[3 * kImgSpanPixels];
        for (uint64_t i = first; i < first + count; ++i) {
            const int32_t y = static_cast<int32_t>(i);
            const int64_t cy = int64_t{s.scale} * y - oy;
            if (cy < 0) continue;
            for (int32_t x0 = 0; x0 < f.width; x0 += kImgSpanPixels) {
                const int32_t n = std::min(kImgSpanPixels, f.width - x0);
                ImgReadRgb8Span(f, x0, y, n, rgb);
                for (int32_t k = 0; k < n; ++k) {
                    const int64_t cx = int64_t{s.scale} * (x0 + k) - ox;
                    if (cx < 0) continue;
                    const uint64_t cell = static_cast<uint64_t>(cy * gridW + cx);
                    s.sumR[cell] += rgb[3 * k];
                    s.sumG[cell] += rgb[3 * k + 1];
                    s.sumB[cell] += rgb[3 * k + 2];
                    s.hits[cell] += 1;
                }
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(s.height), rows);
    return 1;
}

void ImgFrameStackFillRows(void* ctx, uint64_t first, uint64_t count) {
    const FrameStackJob& job = *static_cast<const FrameStackJob*>(ctx);
    const FrameStack& s = *job.stack;
    const int64_t w = int64_t{s.scale} * s.width, h = int64_t{s.scale} * s.height;
    // Neighbours in order with their weights: corners 1, sides 2.
    static constexpr int kDx[8] = {-1, 0, 1, 1, 1, 0, -1, -1}, kDy[8] = {-1, -1, -1, 0, 1, 1, 1, 0};
    static constexpr uint32_t kWeight[8] = {1, 2, 1, 2, 1, 2, 1, 2};
    for (uint64_t r = first; r < first + count; ++r) {
        const int64_t y = static_cast<int64_t>(r);
        for (int64_t x = 0; x < w; ++x) {
            const uint64_t cell = static_cast<uint64_t>(y * w + x);
            if (job.source[cell]) continue;
            for (int q = 0; q < 8; ++q) {
                const int64_t nx = x + kDx[q], ny = y + kDy[q];
                if (nx < 0 || nx >= w || ny < 0 || ny >= h) continue;
                const uint64_t n = static_cast<uint64_t>(ny * w + nx);
                if (!job.source[n]) continue;
                const uint32_t hits = s.hits[n];
                s.sumR[cell] += s.sumR[n] / hits * kWeight[q];
                s.sumG[cell] += s.sumG[n] / hits * kWeight[q];
                s.sumB[cell] += s.sumB[n] / hits * kWeight[q];
                s.hits[cell] += kWeight[q];
                job.filled[cell] = 1;
            }
        }
    }
}

void ImgFrameStackDivideRows(void* ctx, uint64_t first, uint64_t count) {
    const FrameStackJob& job = *static_cast<const FrameStackJob*>(ctx);
    const FrameStack& s = *job.stack;
    C_ImgBuff& out = *job.output;
    const int64_t w = int64_t{s.scale} * s.width;
    for (uint64_t r = first; r < first + count; ++r) {
        const int32_t y = static_cast<int32_t>(r);
        for (int64_t x = 0; x < w; ++x) {
            const uint64_t cell = static_cast<uint64_t>(int64_t{y} * w + x);
            const uint32_t h = s.hits[cell];
            if (h == 0) continue;
            out.SetPixelRgb8(static_cast<int32_t>(x), y, static_cast<uint8_t>(s.sumR[cell] / h), static_cast<uint8_t>(s.sumG[cell] / h),
                             static_cast<uint8_t>(s.sumB[cell] / h));
        }
    }
}

int32_t ImgFrameStackResolve(FrameStack* stack, CImgBuff* output) {
    if (!stack) return 0;
    std::unique_ptr<FrameStack, void (*)(FrameStack*)> own(stack, FreeStack);
    if (!output || !output->buffer) return 0;
    FrameStack& s = *stack;
    if (s.scale >= 2) {
        output->CopyFrom(s.workFrame);
    } else if (!output->buffer->Create(s.width, s.height, s.template1->buffer->format)) {
        return 0;
    }
    if (!output->buffer->pixels) return 0;
    const uint64_t cells = Cells(s);
    const uint64_t rows = static_cast<uint64_t>(s.scale) * static_cast<uint64_t>(s.height);
    if (s.scale >= 2) {
        std::unique_ptr<uint8_t[]> source(new (std::nothrow) uint8_t[cells]), filled(new (std::nothrow) uint8_t[cells]());
        if (!source || !filled) return 0;
        for (uint64_t c = 0; c < cells; ++c) source[c] = s.hits[c] != 0;
        FrameStackJob job{stack, output->buffer, source.get(), filled.get()};
        // Passes until no cell is left unfilled, or a pass fills nothing
        // (no cell has hits at all).
        for (;;) {
            PoolParallelFor(ImgFrameStackFillRows, &job, rows);
            uint64_t newly = 0, unfilled = 0;
            for (uint64_t c = 0; c < cells; ++c) {
                if (filled[c]) {
                    source[c] = 1;
                    filled[c] = 0;
                    ++newly;
                } else if (!source[c]) {
                    ++unfilled;
                }
            }
            if (unfilled == 0 || newly == 0) break;
        }
    }
    FrameStackJob job{stack, output->buffer, nullptr, nullptr};
    PoolParallelFor(ImgFrameStackDivideRows, &job, rows);
    return 1;
}
