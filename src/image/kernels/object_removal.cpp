#include "image/kernels/object_removal.h"

#include <algorithm>
#include <cstring>

#include "image/bitmask.h"
#include "image/kernels/kernel_frame.h"

namespace {

bool ValidImage(const CImgBuff* image) {
    return image && image->buffer && ImgFormatValid(image->buffer->format) && image->buffer->pixels;
}

// The region's pixels whose grey value (8- or 16-bit reading) differs from
// `background`, bit (x - x0, y - y0).
BitMask* ObjectMask(const CImgBuff* image, const ImgRect& r, bool eightBit, uint32_t background) {
    BitMask* m = ImgBitMaskCreate(r.x1 - r.x0 + 1, r.y1 - r.y0 + 1);
    if (!m) return nullptr;
    const C_ImgBuff& b = *image->buffer;
    ImgForEachRegionRow(r, [&](int32_t y) {
        uint32_t* row = ImgBitMaskRow(m, y - r.y0);
        for (int32_t x = r.x0; x <= r.x1; x += kImgSpanPixels) {
            const int32_t n = std::min(kImgSpanPixels, r.x1 - x + 1);
            if (eightBit) {
                uint8_t v[kImgSpanPixels];
                ImgReadGray8Span(b, x, y, n, v);
                for (int32_t k = 0; k < n; ++k)
                    if (v[k] != background) ImgBitSet(row, x - r.x0 + k);
            } else {
                uint16_t v[kImgSpanPixels];
                ImgReadGray16Span(b, x, y, n, v);
                for (int32_t k = 0; k < n; ++k)
                    if (v[k] != background) ImgBitSet(row, x - r.x0 + k);
            }
        }
    });
    return m;
}

// Paints the runs (mask coordinates) black or white: the grey setters'
// 0 and full scale in the image's format.
void PaintRuns(C_ImgBuff& b, const ImgBitRunList& runs, int32_t x0, int32_t y0, bool white) {
    uint8_t levels[kImgSpanPixels];
    std::memset(levels, white ? kImgLevelWhite : kImgLevelBlack, sizeof levels);
    for (uint64_t i = 0; i < runs.count; ++i) {
        const ImgBitRun& run = runs.runs[i];
        for (int32_t x = run.x0; x <= run.x1; x += kImgSpanPixels)
            ImgWriteLevelsSpan(b, x0 + x, y0 + run.y, std::min(kImgSpanPixels, run.x1 - x + 1), levels);
    }
}

}  // namespace

int32_t ImgRemoveObjectsBySize(CImgBuff* image, uint32_t minimum, uint32_t maximum, int32_t connectivity, uint32_t inverted,
                               const ImgRect* region) {
    if (connectivity != 4 && connectivity != 8) return 0;
    if (minimum == 0 && maximum == 0) return 1;
    if (!ValidImage(image)) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, region)) return 0;
    const bool eightBit = ImgFormatIn(ImgFormat8BitMask, image->buffer->format);
    const uint32_t background = inverted ? (eightBit ? 255u : 65535u) : 0u;
    BitMask* m = ObjectMask(image, r, eightBit, background);
    if (!m) return 0;
    int32_t result = 1;
    ImgBitRunList runs;
    const int32_t w = m->width, h = m->height;
    for (int32_t y = 0; y < h; ++y) {
        const uint32_t* row = ImgBitMaskRow(m, y);
        for (int32_t x = ImgBitRowNextSet(row, 0, w - 1); x >= 0; x = ImgBitRowNextSet(row, x + 1, w - 1)) {
            runs.count = 0;
            const int64_t count = ImgBitMaskTakeComponent(m, x, y, connectivity, 0, 0, w - 1, h - 1, &runs);
            if (count < 0) {
                result = 0;
                break;
            }
            if ((minimum != 0 && count <= minimum) || (maximum != 0 && count >= maximum))
                PaintRuns(*image->buffer, runs, r.x0, r.y0, background != 0);
        }
    }
    ImgBitMaskDestroy(m);
    return result;
}

int32_t ImgEraseEdgeObjects(CImgBuff* image, uint32_t left, uint32_t top, uint32_t right, uint32_t bottom, int32_t connectivity,
                            uint32_t inverted, const ImgRect* region) {
    if (connectivity != 4 && connectivity != 8) return 0;
    if (!ValidImage(image)) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, region)) return 0;
    const uint32_t background = inverted ? 255u : 0u;
    BitMask* m = ObjectMask(image, r, true, background);
    if (!m) return 0;
    const int32_t w = m->width, h = m->height;
    ImgBitRunList runs;
    // An object erased from one edge reads as background at the later ones.
    const auto erase = [&](int32_t x, int32_t y) {
        runs.count = 0;
        if (ImgBitMaskTakeComponent(m, x, y, connectivity, 0, 0, w - 1, h - 1, &runs) < 0) return false;
        PaintRuns(*image->buffer, runs, r.x0, r.y0, background != 0);
        return true;
    };
    bool ok = true;
    if (left)
        for (int32_t y = 0; y < h && ok; ++y) ok = erase(0, y);
    if (right)
        for (int32_t y = 0; y < h && ok; ++y) ok = erase(w - 1, y);
    if (top)
        for (int32_t x = 0; x < w && ok; ++x) ok = erase(x, 0);
    if (bottom)
        for (int32_t x = 0; x < w && ok; ++x) ok = erase(x, h - 1);
    ImgBitMaskDestroy(m);
    return ok ? 1 : 0;
}
