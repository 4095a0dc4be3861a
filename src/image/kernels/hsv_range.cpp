#include "image/kernels/hsv_range.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "image/colour.h"
#include "image/kernels/kernel_frame.h"
#include "image/pool.h"

namespace {

bool HueInRange(uint16_t hue, uint16_t centre, uint16_t halfWidth) {
    if (halfWidth >= 32768) return true;
    const uint16_t lo = static_cast<uint16_t>(centre - halfWidth), hi = static_cast<uint16_t>(centre + halfWidth);
    return lo <= hi ? (hue >= lo && hue <= hi) : (hue >= lo || hue <= hi);
}

// The level a pixel gets from its match.
struct LevelRule {
    bool reverse, fill, grey;
    uint8_t operator()(bool match) const {
        const bool kept = match != reverse;
        const uint8_t removed = fill ? kImgLevelWhite : kImgLevelBlack;
        if (!kept) return removed;
        if (!grey) return kImgLevelKeep;
        return fill ? kImgLevelBlack : kImgLevelWhite;
    }
};

// Runs decide(x0, y, n, levels) over the job's rows in spans and writes the
// levels; the region is intersected with the image first.
template <class Job, class Decide>
void ForEachSpan(const Job& in, uint64_t first, uint64_t count, Decide&& decide) {
    Job job = in;
    if (!ImgJobRegionInside(job.image ? job.image->buffer : nullptr, &job.x0, &job.y0, &job.x1, &job.y1)) return;
    C_ImgBuff& b = *job.image->buffer;
    uint8_t levels[kImgSpanPixels];
    for (uint64_t i = first; i < first + count; ++i) {
        const int64_t y = in.y0 + static_cast<int64_t>(i);
        if (y < job.y0 || y > job.y1) continue;
        for (int32_t x = job.x0; x <= job.x1; x += kImgSpanPixels) {
            const int32_t n = std::min(kImgSpanPixels, job.x1 - x + 1);
            decide(b, x, static_cast<int32_t>(y), n, levels);
            ImgWriteLevelsSpan(b, x, static_cast<int32_t>(y), n, levels);
        }
    }
}

LevelRule RuleOf(const HsvRangeJob& job) { return LevelRule{job.reverse != 0, job.fill != 0, job.grey != 0}; }

}  // namespace

void ImgExtractHsvRows(void* ctx, uint64_t first, uint64_t count) {
    const HsvRangeJob& job = *static_cast<const HsvRangeJob*>(ctx);
    const LevelRule rule = RuleOf(job);
    ForEachSpan(job, first, count, [&](const C_ImgBuff& b, int32_t x, int32_t y, int32_t n, uint8_t* levels) {
        uint16_t hsv[3 * kImgSpanPixels];
        ImgReadHsv16Span(b, x, y, n, hsv);
        for (int32_t k = 0; k < n; ++k) {
            const uint16_t h = hsv[3 * k], s = hsv[3 * k + 1], v = hsv[3 * k + 2];
            levels[k] = rule(s >= job.satMin && s <= job.satMax && v >= job.valMin && v <= job.valMax &&
                             HueInRange(h, job.hueCentre, job.hueHalfWidth));
        }
    });
}

void ImgExtractBrightnessGray8Rows(void* ctx, uint64_t first, uint64_t count) {
    const HsvRangeJob& job = *static_cast<const HsvRangeJob*>(ctx);
    const LevelRule rule = RuleOf(job);
    const uint8_t lo = static_cast<uint8_t>(job.valMin >> 8), hi = static_cast<uint8_t>(job.valMax >> 8);
    ForEachSpan(job, first, count, [&](const C_ImgBuff& b, int32_t x, int32_t y, int32_t n, uint8_t* levels) {
        uint8_t grey[kImgSpanPixels];
        ImgReadGray8Span(b, x, y, n, grey);
        for (int32_t k = 0; k < n; ++k) levels[k] = rule(grey[k] >= lo && grey[k] <= hi);
    });
}

void ImgExtractBrightnessGray16Rows(void* ctx, uint64_t first, uint64_t count) {
    const HsvRangeJob& job = *static_cast<const HsvRangeJob*>(ctx);
    const LevelRule rule = RuleOf(job);
    ForEachSpan(job, first, count, [&](const C_ImgBuff& b, int32_t x, int32_t y, int32_t n, uint8_t* levels) {
        uint16_t grey[kImgSpanPixels];
        ImgReadGray16Span(b, x, y, n, grey);
        for (int32_t k = 0; k < n; ++k) levels[k] = rule(grey[k] >= job.valMin && grey[k] <= job.valMax);
    });
}

void ImgExtractByTableGray8Rows(void* ctx, uint64_t first, uint64_t count) {
    const ColorTableJob& job = *static_cast<const ColorTableJob*>(ctx);
    if (!job.table) return;
    const LevelRule rule{false, job.fill != 0, job.grey != 0};
    ForEachSpan(job, first, count, [&](const C_ImgBuff& b, int32_t x, int32_t y, int32_t n, uint8_t* levels) {
        uint8_t grey[kImgSpanPixels];
        ImgReadGray8Span(b, x, y, n, grey);
        for (int32_t k = 0; k < n; ++k) levels[k] = rule(job.table->grey[grey[k]] != 0);
    });
}

void ImgExtractByTableRgb8Rows(void* ctx, uint64_t first, uint64_t count) {
    const ColorTableJob& job = *static_cast<const ColorTableJob*>(ctx);
    if (!job.table) return;
    const LevelRule rule{false, job.fill != 0, job.grey != 0};
    ForEachSpan(job, first, count, [&](const C_ImgBuff& b, int32_t x, int32_t y, int32_t n, uint8_t* levels) {
        uint8_t rgb[3 * kImgSpanPixels];
        ImgReadRgb8Span(b, x, y, n, rgb);
        for (int32_t k = 0; k < n; ++k) {
            const uint8_t* p = rgb + 3 * k;
            levels[k] = rule(job.table->cube[(p[0] >> 3) * 1024 + (p[1] >> 3) * 32 + (p[2] >> 3)] != 0);
        }
    });
}

int32_t ImgExtractHsvRange(CImgBuff* image, uint16_t hueCentre, uint16_t hueHalfWidth, uint16_t satMin, uint16_t satMax,
                           uint16_t valMin, uint16_t valMax, uint32_t reverse, uint32_t grey, uint32_t fill,
                           const ImgRect* roi) {
    if (hueHalfWidth > 32768 || satMin > satMax || valMin > valMax || !image || !image->buffer) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    HsvRangeJob job{image, hueCentre, hueHalfWidth, satMin, satMax, valMin, valMax, reverse, fill, grey, r.x0, r.y0, r.x1, r.y1};
    const int32_t format = image->buffer->format;
    PoolWorkerFn worker = ImgExtractHsvRows;
    if (format <= kImgGray32 && satMin == 0) worker = format == kImgGray8 ? ImgExtractBrightnessGray8Rows : ImgExtractBrightnessGray16Rows;
    PoolParallelFor(worker, &job, static_cast<uint64_t>(r.y1 - r.y0 + 1));
    return 1;
}

int32_t ImgExtractBrightnessRange(CImgBuff* image, uint16_t low, uint16_t high, uint32_t reverse, uint32_t grey, uint32_t fill,
                                  const ImgRect* roi) {
    if (!image || !image->buffer) return 0;
    ImgRect r;
    if (!ImgGetRoi(&r, image, roi)) return 0;
    HsvRangeJob job{image, 0, 32768, 0, 65535, low, high, reverse, fill, grey, r.x0, r.y0, r.x1, r.y1};
    const PoolWorkerFn worker =
        ImgFormatIn(ImgFormat8BitMask, image->buffer->format) ? ImgExtractBrightnessGray8Rows : ImgExtractBrightnessGray16Rows;
    PoolParallelFor(worker, &job, static_cast<uint64_t>(r.y1 - r.y0 + 1));
    return 1;
}

ColorRangeTable* ImgColorRangeTableCreate(uint16_t hueCentre, uint16_t hueHalfWidth, uint16_t satMin, uint16_t satMax,
                                          uint16_t valMin, uint16_t valMax, int32_t reverse) {
    if (hueHalfWidth > 32768 || satMin > satMax || valMin > valMax) return nullptr;
    ColorRangeTable* t = new (std::nothrow) ColorRangeTable;
    if (!t) return nullptr;
    const uint8_t base = reverse ? 1 : 0, mark = reverse ? 0 : 1;
    t->greyFlag = 0;
    std::memset(t->grey, base, sizeof t->grey);
    std::memset(t->cube, base, sizeof t->cube);
    // A 5-bit value widened to 16 bits by repeating its bits: 0 -> 0, 31 -> 65535.
    const auto widen = [](uint32_t v) { return static_cast<uint16_t>((v << 11) | (v << 6) | (v << 1) | (v >> 4)); };
    for (uint32_t r5 = 0; r5 < 32; ++r5)
        for (uint32_t g5 = 0; g5 < 32; ++g5)
            for (uint32_t b5 = 0; b5 < 32; ++b5) {
                uint16_t h, s, v;
                ImgRgb16ToHsv16(widen(r5), widen(g5), widen(b5), &h, &s, &v);
                if (s >= satMin && s <= satMax && v >= valMin && v <= valMax && HueInRange(h, hueCentre, hueHalfWidth))
                    t->cube[r5 * 1024 + g5 * 32 + b5] = mark;
            }
    if (satMin > 0) return t;
    t->greyFlag = 1;
    for (uint32_t v = valMin >> 8; v <= static_cast<uint32_t>(valMax >> 8); ++v) t->grey[v] = mark;
    return t;
}

void ImgHueRangeAdd(uint16_t centre, uint16_t halfWidth, uint16_t hue, uint16_t* newCentre, uint16_t* newHalfWidth) {
    uint16_t c = centre, w = halfWidth;
    if (halfWidth < 32768 && !HueInRange(hue, centre, halfWidth)) {
        const int32_t lo = (centre - halfWidth + 65536) % 65536, hi = (centre + halfWidth) % 65536;
        const int32_t dLo = (lo - hue + 65536) % 65536, dHi = (hue - hi + 65536) % 65536;
        int32_t step;
        if (dHi < dLo) {
            step = (dHi + 1) / 2;
            c = static_cast<uint16_t>((centre + step) % 65536);
        } else {
            step = (dLo + 1) / 2;
            c = static_cast<uint16_t>((centre - step + 65536) % 65536);
        }
        w = static_cast<uint16_t>(std::min(halfWidth + step, 32768));
    }
    if (newCentre) *newCentre = c;
    if (newHalfWidth) *newHalfWidth = w;
}
