#include "image/kernels/islands.h"

#include "image/bitmask.h"

namespace {

void AddSummary(IslandSummary& t, const IslandSummary& s) {
    t.objects += s.objects;
    t.holes += s.holes;
    t.islands += s.islands;
    t.singlePixelObjects += s.singlePixelObjects;
    t.singlePixelHoles += s.singlePixelHoles;
    t.area += s.area;
    t.holeArea += s.holeArea;
    t.maxValue += s.maxValue;
    t.minValue += s.minValue;
    t.valueSum += s.valueSum;
    t.meanValue += s.meanValue;
    t.pixelCount += s.pixelCount;
}

}  // namespace

int32_t ImgMeasureIslands(const IslandSettings* settings, IslandSummary* totals, IslandRecord* records, uint64_t maximumCount,
                          const ImgRect* region) {
    if (!settings || !settings->image || !settings->image->buffer) return -1;
    CImgBuff* image = settings->image;
    if (!ImgFormatValid(image->buffer->format) || !image->buffer->pixels) return -1;
    if (maximumCount != 0 && !records) return -1;
    if (settings->connectivity != 4 && settings->connectivity != 8) return -1;
    ImgRect r;
    if (!ImgGetRoi(&r, image, region)) return -1;

    // A region smaller than the image is measured on a private copy; the
    // caller's image is never changed.
    CImgBuff crop;
    IslandSettings s = *settings;
    const bool whole = r.x0 == 0 && r.y0 == 0 && r.x1 == image->buffer->width - 1 && r.y1 == image->buffer->height - 1;
    if (!whole) {
        if (!crop.buffer || !image->ExtractRect(&crop, r.x0, r.y0, r.x1, r.y1)) return -1;
        s.image = &crop;
    }
    const int32_t w = r.x1 - r.x0 + 1, h = r.y1 - r.y0 + 1;
    const uint32_t top = ImgFormatGroupMax(image->buffer->format);
    RangeMask range;
    if (!ImgRangeMaskCreate(&range, s.image, w - 1, h - 1, s.inverted ? 0u : 1u, s.inverted ? top - 1 : top)) return -1;
    BitMask* islandMask = nullptr;
    if (s.islands && maximumCount != 0) {
        islandMask = ImgBitMaskClone(range.mask);
        if (!islandMask) {
            ImgRangeMaskRelease(&range);
            return -1;
        }
    }
    IslandSummary own{};
    IslandSummary& t = totals ? *totals : own;
    if (maximumCount != 0) {
        t = IslandSummary{};
        t.regionArea = (w * s.lengthPerPixel) * (h * s.lengthPerPixel);
    }

    int32_t result = 0, count = 0;
    int32_t px = 0, py = 0;
    for (;;) {
        IslandSummary summary{};
        IslandObject object{};
        const int32_t got = ImgNextObject(&range, &s, &object, w - 1, h - 1, px, py, static_cast<int32_t>(s.connectivity),
                                          s.islands, &summary.islands, islandMask);
        if (got == 0) break;
        if (got < 0) {
            ImgIslandObjectRelease(&object);
            result = -1;
            break;
        }
        if (maximumCount == 0) {
            ++count;
        } else {
            if (!ImgMeasureObject(&object, &s, &summary, &records[count])) {
                ImgIslandObjectRelease(&object);
                result = -1;
                break;
            }
            AddSummary(t, summary);
            ++count;
            if (static_cast<uint64_t>(count) >= maximumCount) {
                ImgIslandObjectRelease(&object);
                break;
            }
        }
        px = object.x + 1;
        py = object.y;
        if (px >= w) {
            px = 0;
            ++py;
        }
        ImgIslandObjectRelease(&object);
        if (s.progress && s.progress(count, static_cast<int64_t>(maximumCount), s.user)) break;
    }
    ImgRangeMaskRelease(&range);
    ImgBitMaskDestroy(islandMask);
    if (result < 0) return -1;

    if (maximumCount != 0) {
        const double lpp = s.lengthPerPixel;
        const int32_t fullHeight = image->buffer->height;
        for (int32_t i = 0; i < count; ++i) {
            IslandRecord& rec = records[i];
            rec.startX += r.x0;
            rec.startY += r.y0;
            rec.centreX += r.x0;
            rec.weightedX += r.x0;
            rec.centreY += r.y0;
            rec.weightedY += r.y0;
            if (s.yAxis == -1) {
                rec.centreY = (fullHeight - 1) - rec.centreY;
                rec.weightedY = (fullHeight - 1) - rec.weightedY;
            }
            rec.centreX *= lpp;
            rec.centreY *= lpp;
            rec.weightedX *= lpp;
            rec.weightedY *= lpp;
        }
    }
    return count;
}
