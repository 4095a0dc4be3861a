#include "image/kernels/islands.h"

#include <algorithm>
#include <vector>

#include "image/bitmask.h"
#include "image/pool.h"

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
    // Takes the next object (1), or says none is left (0) or it failed (-1).
    const auto next = [&](IslandObject& object, IslandSummary& summary) {
        summary = IslandSummary{};
        object = IslandObject{};
        const int32_t got = ImgNextObject(&range, &s, &object, w - 1, h - 1, px, py, static_cast<int32_t>(s.connectivity),
                                          s.islands, &summary.islands, islandMask);
        if (got <= 0) {
            ImgIslandObjectRelease(&object);
            return got;
        }
        px = object.x + 1;
        py = object.y;
        if (px >= w) {
            px = 0;
            ++py;
        }
        return got;
    };
    if (maximumCount == 0) {
        for (;;) {
            IslandSummary summary;
            IslandObject object;
            const int32_t got = next(object, summary);
            if (got <= 0) {
                result = got;
                break;
            }
            ++count;
            ImgIslandObjectRelease(&object);
            if (s.progress && s.progress(count, 0, s.user)) break;
        }
    } else {
        // Objects are taken out of the mask one after another, a batch at a
        // time; while the pool measures one batch, one of its items takes
        // the next. The records and the totals are then taken in order, as
        // one object after another would give them.
        const uint64_t threads = std::max<uint64_t>(1, g_PoolThreadCount.load());
        const uint64_t batch = 64 * threads;
        struct Batch {
            std::vector<IslandObject> objects;
            std::vector<IslandSummary> summaries;
            std::vector<IslandRecord> measured;
            std::vector<int32_t> ok;
            uint64_t taken = 0;
            int32_t got = 1;  // what the last take gave: 1 more may follow, 0 none left, -1 failure
        };
        Batch batches[2];
        for (Batch& bt : batches) {
            bt.objects.resize(batch);
            bt.summaries.resize(batch);
            bt.measured.resize(batch);
            bt.ok.resize(batch);
        }
        const auto fill = [&](Batch& bt, uint64_t room) {
            bt.taken = 0;
            bt.got = 1;
            while (bt.taken < room && (bt.got = next(bt.objects[bt.taken], bt.summaries[bt.taken])) > 0) ++bt.taken;
        };
        fill(batches[0], std::min<uint64_t>(batch, maximumCount));
        uint64_t pending = batches[0].taken;  // taken, not yet in the records
        for (int32_t c = 0;; c ^= 1) {
            Batch& cur = batches[c];
            Batch& nxt = batches[c ^ 1];
            const uint64_t room = cur.got > 0 ? std::min<uint64_t>(batch, maximumCount - static_cast<uint64_t>(count) - pending) : 0;
            nxt.taken = 0;
            nxt.got = cur.got;
            // Item 0 takes the next batch; items 1 .. slices measure this one.
            const uint64_t slices = std::max<uint64_t>(1, std::min<uint64_t>(cur.taken, threads));
            auto work = [&](uint64_t first, uint64_t n) {
                for (uint64_t item = first; item < first + n; ++item) {
                    if (item == 0) {
                        if (room) fill(nxt, room);
                        continue;
                    }
                    for (uint64_t i = (item - 1) * cur.taken / slices; i < item * cur.taken / slices; ++i)
                        cur.ok[i] = ImgMeasureObject(&cur.objects[i], &s, &cur.summaries[i], &cur.measured[i]);
                }
            };
            PoolParallelRun(1 + slices, work);
            bool more = true;
            for (uint64_t i = 0; i < cur.taken && more; ++i) {
                if (!cur.ok[i]) {
                    result = -1;
                    more = false;
                    break;
                }
                records[count] = cur.measured[i];
                AddSummary(t, cur.summaries[i]);
                ++count;
                if (static_cast<uint64_t>(count) >= maximumCount) more = false;
                else if (s.progress && s.progress(count, static_cast<int64_t>(maximumCount), s.user)) more = false;
            }
            for (uint64_t k = 0; k < cur.taken; ++k) ImgIslandObjectRelease(&cur.objects[k]);
            pending = nxt.taken;
            // The end of the objects, or a failure to take one, counts once
            // every object taken before it is in.
            if (more && nxt.taken == 0 && nxt.got <= 0) {
                if (nxt.got < 0) result = -1;
                more = false;
            }
            if (!more || nxt.taken == 0) {
                for (uint64_t k = 0; k < nxt.taken; ++k) ImgIslandObjectRelease(&nxt.objects[k]);
                break;
            }
        }
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
