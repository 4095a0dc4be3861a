#include "image/kernels/particles.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "image/bitmask.h"
#include "image/kernels/convolve.h"
#include "image/kernels/histogram_levels.h"
#include "image/kernels/hsv_range.h"
#include "image/kernels/islands.h"
#include "image/kernels/kernel_frame.h"
#include "image/kernels/negative.h"
#include "image/pool.h"

namespace {

// Neighbours in table order: 8 then 4 (x to the right, y downward).
const int32_t kN8[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
const int32_t kN4[4][2] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};

struct Grey {
    uint8_t* p;
    int32_t w, h;
    explicit Grey(const CImgBuff* img) : p(img->buffer->pixels), w(img->buffer->width), h(img->buffer->height) {}
    uint8_t& at(int32_t x, int32_t y) const { return p[static_cast<size_t>(y) * w + x]; }
    bool inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < w && y < h; }
};

// The mask of the pixels of value v.
BitMask* LevelMask(const Grey& g, uint8_t v) {
    BitMask* m = ImgBitMaskCreate(g.w, g.h);
    if (!m) return nullptr;
    for (int32_t y = 0; y < g.h; ++y) {
        uint32_t* row = ImgBitMaskRow(m, y);
        const uint8_t* s = &g.at(0, y);
        for (int32_t x = 0; x < g.w; ++x)
            if (s[x] == v) ImgBitSet(row, x);
    }
    return m;
}

bool Empty(const BitMask* m) {
    const uint64_t n = static_cast<uint64_t>(ImgBitMaskWordsPerRow(m)) * m->height;
    for (uint64_t i = 0; i < n; ++i)
        if (m->words[i]) return false;
    return true;
}

// Takes from `m` every component (at `conn`) that touches the border.
bool TakeFromBorder(BitMask* m, int32_t conn) {
    const int32_t w = m->width, h = m->height;
    ImgBitRunList runs;
    const auto from = [&](int32_t x, int32_t y) {
        runs.count = 0;
        return ImgBitMaskTakeComponent(m, x, y, conn, 0, 0, w - 1, h - 1, &runs) >= 0;
    };
    for (int32_t x = 0; x < w; ++x)
        if (!from(x, 0) || !from(x, h - 1)) return false;
    for (int32_t y = 0; y < h; ++y)
        if (!from(0, y) || !from(w - 1, y)) return false;
    return true;
}

struct MarkerJob {
    const CImgBuff* levels;
    BitMask* markers;
    CriticalSection* lock;
    int32_t objectConn, backgroundConn;
    std::atomic<int32_t> failed;
};

// The tops of the level map at level t: level-t pixels that enclose no core
// (a region above t enclosed by level-t pixels).
bool MarkLevel(MarkerJob& job, uint8_t t) {
    const Grey g(job.levels);
    std::unique_ptr<BitMask, void (*)(BitMask*)> s(LevelMask(g, t), ImgBitMaskDestroy);
    if (!s) return false;
    if (Empty(s.get())) return true;
    // What the level-t pixels enclose: the zeros not reached from the border.
    std::unique_ptr<BitMask, void (*)(BitMask*)> enclosed(ImgBitMaskComplement(s.get()), ImgBitMaskDestroy);
    if (!enclosed || !TakeFromBorder(enclosed.get(), job.backgroundConn)) return false;
    if (!Empty(enclosed.get())) {
        CImgBuff cores;
        if (!cores.buffer || !cores.buffer->Create(g.w, g.h, kImgGray8)) return false;
        const Grey c(&cores);
        for (int32_t y = 0; y < g.h; ++y)
            for (int32_t x = 0; x < g.w; ++x)
                if (ImgBitTest(ImgBitMaskRow(enclosed.get(), y), x)) c.at(x, y) = 255;
        IslandSettings settings{&cores, 0, static_cast<uint32_t>(job.backgroundConn), 0, 1, 0.0, 1, nullptr, 0};
        const int32_t n = ImgMeasureIslands(&settings, nullptr, nullptr, 0, nullptr);
        if (n < 0) return false;
        std::vector<IslandRecord> records(static_cast<size_t>(n));
        if (n > 0 && ImgMeasureIslands(&settings, nullptr, records.data(), static_cast<uint64_t>(n), nullptr) != n) return false;
        // Fill each core into S, then erase it with every level-t pixel
        // connected to it.
        std::unique_ptr<BitMask, void (*)(BitMask*)> zeros(ImgBitMaskComplement(s.get()), ImgBitMaskDestroy);
        if (!zeros) return false;
        ImgBitRunList runs;
        for (const IslandRecord& r : records) {
            runs.count = 0;
            if (ImgBitMaskTakeComponent(zeros.get(), r.startX, r.startY, job.backgroundConn, 0, 0, g.w - 1, g.h - 1, &runs) < 0)
                return false;
            for (uint64_t i = 0; i < runs.count; ++i)
                ImgBitRowSetRange(ImgBitMaskRow(s.get(), runs.runs[i].y), runs.runs[i].x0, runs.runs[i].x1);
        }
        for (const IslandRecord& r : records) {
            runs.count = 0;
            if (ImgBitMaskTakeComponent(s.get(), r.startX, r.startY, job.objectConn, 0, 0, g.w - 1, g.h - 1, &runs) < 0)
                return false;
        }
    }
    CriticalSectionLock hold(*job.lock);
    const uint64_t n = static_cast<uint64_t>(ImgBitMaskWordsPerRow(s.get())) * g.h;
    for (uint64_t i = 0; i < n; ++i) job.markers->words[i] |= s->words[i];
    return true;
}

// Clears the plateau of value v holding (x, y) in p, at `conn`.
void ClearPlateau(const Grey& p, int32_t x, int32_t y, int32_t conn, std::vector<std::pair<int32_t, int32_t>>& stack) {
    const uint8_t v = p.at(x, y);
    stack.assign(1, {x, y});
    p.at(x, y) = 0;
    while (!stack.empty()) {
        const auto [cx, cy] = stack.back();
        stack.pop_back();
        for (int k = 0; k < (conn == 8 ? 8 : 4); ++k) {
            const int32_t nx = cx + (conn == 8 ? kN8[k][0] : kN4[k][0]), ny = cy + (conn == 8 ? kN8[k][1] : kN4[k][1]);
            if (!p.inside(nx, ny) || p.at(nx, ny) != v) continue;
            p.at(nx, ny) = 0;
            stack.emplace_back(nx, ny);
        }
    }
}

// A marker plateau with a higher neighbour in the level map is no top.
bool DropFalsePeaks(BitMask* markers, const CImgBuff* levels, int32_t conn) {
    CImgBuff copy;
    if (!copy.buffer || !copy.CopyFrom(levels) || !copy.buffer->pixels) return false;
    const Grey b(levels), p(&copy);
    std::vector<std::pair<int32_t, int32_t>> stack;
    for (int32_t y = 0; y < b.h - 1; ++y) {
        const uint32_t* row = ImgBitMaskRow(markers, y);
        for (int32_t x = 0; x < b.w - 1; ++x) {
            const uint8_t v = p.at(x, y);
            if (!v || !ImgBitTest(row, x)) continue;
            bool higher = false;
            for (int k = 0; k < (conn == 8 ? 8 : 4) && !higher; ++k) {
                const int32_t nx = x + (conn == 8 ? kN8[k][0] : kN4[k][0]), ny = y + (conn == 8 ? kN8[k][1] : kN4[k][1]);
                higher = b.inside(nx, ny) && b.at(nx, ny) > v;
            }
            if (higher) ClearPlateau(p, x, y, conn, stack);
        }
    }
    // The last row and column are neither examined nor cleared.
    auto clear = [&](uint64_t first, uint64_t count) {
        for (uint64_t i = first; i < first + count; ++i) {
            const int32_t y = static_cast<int32_t>(i);
            uint32_t* row = ImgBitMaskRow(markers, y);
            for (int32_t x = 0; x < b.w - 1; ++x)
                if (!p.at(x, y)) ImgBitClear(row, x);
        }
    };
    PoolParallelRun(static_cast<uint64_t>(std::max(0, b.h - 1)), clear);
    return true;
}

}  // namespace

uint32_t ImgParticleDistanceMap(CImgBuff* a, uint32_t inverted) {
    if (!a || !a->buffer || a->buffer->format != kImgGray8 || !a->buffer->pixels) return 0;
    if (inverted && !ImgNegate(a, nullptr)) return 0;
    if (!ImgExtractBrightnessRange(a, 257, 65535, 0, 1, 0, nullptr)) return 0;
    const Grey q(a);
    // Chessboard distance to the background, the image's border counting
    // as background one step away; two raster passes give what 254 passes
    // of neighbour growth give, with 255 for anything farther.
    std::vector<int32_t> d(static_cast<size_t>(q.w) * q.h);
    constexpr int32_t kFar = 1 << 30;
    for (int32_t y = 0; y < q.h; ++y)
        for (int32_t x = 0; x < q.w; ++x) {
            const bool border = x == 0 || y == 0 || x == q.w - 1 || y == q.h - 1;
            d[static_cast<size_t>(y) * q.w + x] = q.at(x, y) == 0 ? 0 : border ? 1 : kFar;
        }
    const auto relax = [&](int32_t x, int32_t y, const int32_t (*nb)[2]) {
        int32_t& v = d[static_cast<size_t>(y) * q.w + x];
        if (v <= 1) return;
        for (int k = 0; k < 4; ++k) {
            const int32_t nx = x + nb[k][0], ny = y + nb[k][1];
            if (q.inside(nx, ny)) v = std::min(v, d[static_cast<size_t>(ny) * q.w + nx] + 1);
        }
    };
    static const int32_t kBefore[4][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}};
    static const int32_t kAfter[4][2] = {{1, 1}, {0, 1}, {-1, 1}, {1, 0}};
    for (int32_t y = 0; y < q.h; ++y)
        for (int32_t x = 0; x < q.w; ++x) relax(x, y, kBefore);
    for (int32_t y = q.h - 1; y >= 0; --y)
        for (int32_t x = q.w - 1; x >= 0; --x) relax(x, y, kAfter);
    for (int32_t y = 0; y < q.h; ++y)
        for (int32_t x = 0; x < q.w; ++x) q.at(x, y) = static_cast<uint8_t>(std::min(d[static_cast<size_t>(y) * q.w + x], 255));
    static const int32_t kOnes[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    if (!ImgConvolve(a, 3, kOnes, 1, 0, nullptr)) return 0;
    uint64_t bins[256], largest = 0;
    if (!ImgHistogram(a, 1, bins, &largest, nullptr)) return 0;
    uint32_t top = 0;
    for (uint32_t v = 0; v < 256; ++v)
        if (bins[v]) top = v;
    return top;
}

int32_t ImgParticleMarkers(CImgBuff* b, uint32_t top, int32_t connectivity) {
    const Grey g(b);
    std::unique_ptr<BitMask, void (*)(BitMask*)> markers(ImgBitMaskCreate(g.w, g.h), ImgBitMaskDestroy);
    std::unique_ptr<CriticalSection> lock(PoolNewCriticalSection());
    if (!markers || !lock) return 0;
    MarkerJob job{b, markers.get(), lock.get(), connectivity, connectivity == 8 ? 4 : 8, {0}};
    auto level = [&](uint64_t first, uint64_t count) {
        for (uint64_t i = first; i < first + count && !job.failed.load(); ++i)
            if (!MarkLevel(job, static_cast<uint8_t>(i + 1))) job.failed.store(1);
    };
    PoolParallelRun(top, level);
    if (job.failed.load() || !DropFalsePeaks(markers.get(), b, connectivity)) return 0;
    for (int32_t y = 0; y < g.h; ++y)
        for (int32_t x = 0; x < g.w; ++x) g.at(x, y) = ImgBitTest(ImgBitMaskRow(markers.get(), y), x) ? 255 : 0;
    return 1;
}

int32_t ImgParticleLabelMarkers(CImgBuff* b) {
    const Grey g(b);
    std::unique_ptr<BitMask, void (*)(BitMask*)> k(LevelMask(g, 0), ImgBitMaskDestroy);
    if (!k) return -1;
    // LevelMask gave the zeros; the markers are the rest.
    std::unique_ptr<BitMask, void (*)(BitMask*)> markers(ImgBitMaskComplement(k.get()), ImgBitMaskDestroy);
    if (!markers) return -1;
    int32_t label = 0, largest = 0;
    ImgBitRunList runs;
    for (int32_t y = 0; y < g.h; ++y) {
        const uint32_t* row = ImgBitMaskRow(markers.get(), y);
        for (int32_t x = ImgBitRowNextSet(row, 0, g.w - 1); x >= 0; x = ImgBitRowNextSet(row, x + 1, g.w - 1)) {
            runs.count = 0;
            if (ImgBitMaskTakeComponent(markers.get(), x, y, 8, 0, 0, g.w - 1, g.h - 1, &runs) < 0) return -1;
            label = label == 255 ? 1 : label + 1;
            largest = std::max(largest, label);
            for (uint64_t i = 0; i < runs.count; ++i)
                std::memset(&g.at(runs.runs[i].x0, runs.runs[i].y), label, static_cast<size_t>(runs.runs[i].x1 - runs.runs[i].x0 + 1));
        }
    }
    return largest;
}

int32_t ImgParticleGrow(CImgBuff* b, const CImgBuff* a, uint32_t top, int32_t connectivity) {
    CImgBuff temp;
    if (!temp.buffer || !temp.buffer->Create(b->buffer->width, b->buffer->height, kImgGray8)) return 0;
    const Grey lb(b), lv(a), tp(&temp);
    const int nbCount = connectivity == 8 ? 8 : 4;
    const int32_t (*nb)[2] = connectivity == 8 ? kN8 : kN4;
    for (int32_t level = static_cast<int32_t>(top) - 1; level >= 1; --level) {
        for (;;) {
            std::memset(temp.buffer->pixels, 0, static_cast<size_t>(lb.w) * lb.h);
            auto grow = [&](uint64_t first, uint64_t count) {
                for (uint64_t i = first; i < first + count; ++i) {
                    const int32_t y = static_cast<int32_t>(i);
                    for (int32_t x = 0; x < lb.w; ++x) {
                        if (lv.at(x, y) != level || lb.at(x, y)) continue;
                        uint8_t seen = 0;
                        bool clash = false;
                        for (int k = 0; k < nbCount && !clash; ++k) {
                            const int32_t nx = x + nb[k][0], ny = y + nb[k][1];
                            if (!lb.inside(nx, ny) || !lb.at(nx, ny)) continue;
                            if (!seen) seen = lb.at(nx, ny);
                            clash = lb.at(nx, ny) != seen;
                        }
                        if (!clash) tp.at(x, y) = seen;
                    }
                }
            };
            PoolParallelRun(static_cast<uint64_t>(lb.h), grow);
            std::atomic<int32_t> changed{0};
            auto apply = [&](uint64_t first, uint64_t count) {
                for (uint64_t i = first; i < first + count; ++i) {
                    const int32_t y = static_cast<int32_t>(i);
                    for (int32_t x = 0; x < lb.w; ++x)
                        if (tp.at(x, y)) {
                            lb.at(x, y) = tp.at(x, y);
                            changed.store(1, std::memory_order_relaxed);
                        }
                }
            };
            PoolParallelRun(static_cast<uint64_t>(lb.h), apply);
            if (!changed.load()) break;
        }
    }
    // Where two labels meet, the higher one gives way.
    for (int32_t y = 0; y < lb.h; ++y)
        for (int32_t x = 0; x < lb.w; ++x) {
            const uint8_t v = lb.at(x, y);
            if (!v) continue;
            for (int k = 0; k < nbCount; ++k) {
                const int32_t nx = x + nb[k][0], ny = y + nb[k][1];
                if (lb.inside(nx, ny) && lb.at(nx, ny) && lb.at(nx, ny) < v) {
                    lb.at(x, y) = 0;
                    break;
                }
            }
        }
    if (connectivity != 8) return 1;
    // Notches: an unlabelled pixel whose edge neighbours show one label
    // exactly three times before any other label takes it.
    CImgBuff copy;
    if (!copy.buffer || !copy.CopyFrom(b) || !copy.buffer->pixels) return 0;
    const Grey cp(&copy);
    auto notch = [&](uint64_t first, uint64_t count) {
        for (uint64_t i = first; i < first + count; ++i) {
            const int32_t y = static_cast<int32_t>(i);
            for (int32_t x = 0; x < lb.w; ++x) {
                if (cp.at(x, y)) continue;
                uint8_t label = 0;
                int same = 0;
                for (int k = 0; k < 4; ++k) {
                    const int32_t nx = x + kN4[k][0], ny = y + kN4[k][1];
                    if (!cp.inside(nx, ny) || !cp.at(nx, ny)) continue;
                    if (!label) label = cp.at(nx, ny);
                    if (cp.at(nx, ny) != label) break;
                    ++same;
                }
                if (same == 3) lb.at(x, y) = label;
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(lb.h), notch);
    return 1;
}

int32_t ImgSeparateParticles(CImgBuff* image, uint32_t gray, int32_t connectivity, uint32_t inverted, const ImgRect* region) {
    if (!image || !image->buffer || !ImgFormatValid(image->buffer->format) || !image->buffer->pixels) return 0;
    const C_ImgBuff& img = *image->buffer;
    if (img.width < 1 || img.height < 1 || (connectivity != 4 && connectivity != 8)) return 0;
    ImgRect r{0, 0, img.width - 1, img.height - 1};
    if (region) {
        r = *region;
        if (r.x0 > r.x1 || r.y0 > r.y1 || r.x0 < 0 || r.y0 < 0 || r.x1 >= img.width || r.y1 >= img.height) return 0;
    }
    CImgBuff a;
    if (!a.buffer || !image->ExtractRect(&a, r.x0, r.y0, r.x1, r.y1) || !a.buffer->ConvertFormat(kImgGray8)) return 0;
    uint32_t top = 0;
    if (gray) {
        uint64_t bins[256], largest = 0;
        if (!ImgHistogram(&a, 1, bins, &largest, nullptr)) return 0;
        for (uint32_t v = 0; v < 256; ++v)
            if (bins[v]) top = v;
    } else {
        top = ImgParticleDistanceMap(&a, inverted);
        if (top == 0) return 0;
    }
    // Every step is checked: a failed one leaves the image as it was.
    CImgBuff b;
    if (!b.buffer || !b.CopyFrom(&a) || !b.buffer->pixels) return 0;
    if (!ImgParticleMarkers(&b, top, connectivity)) return 0;
    if (ImgParticleLabelMarkers(&b) < 0) return 0;
    if (!ImgParticleGrow(&b, &a, top, connectivity)) return 0;
    const Grey labels(&b);
    const uint8_t background = inverted ? kImgLevelWhite : kImgLevelBlack;
    ImgForEachRegionRow(r, [&](int32_t y) {
        uint8_t levels[kImgSpanPixels];
        for (int32_t x = r.x0; x <= r.x1; x += kImgSpanPixels) {
            const int32_t n = std::min(kImgSpanPixels, r.x1 - x + 1);
            for (int32_t k = 0; k < n; ++k) levels[k] = labels.at(x - r.x0 + k, y - r.y0) ? static_cast<uint8_t>(kImgLevelKeep) : background;
            ImgWriteLevelsSpan(*image->buffer, x, y, n, levels);
        }
    });
    return 1;
}
