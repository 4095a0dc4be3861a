#include "toolkit/fg_icons.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/kernel.h"
#include "toolkit/fg_texture.h"

namespace {

struct Rgba {
    uint8_t r, g, b, a;
};
constexpr Rgba kClear{255, 255, 255, 0};

// Distance from point p to the segment a-b.
double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax;
    const double dy = by - ay;
    double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// One 16 x 16 mark: a box or a round mark with the given frame and inside
// colours and, when `mark` is set, a tick (box) or a dot (round).
void PaintIcon(Rgba* cell, uint64_t pitch, bool round, uint8_t frame, Rgba inside, bool mark, uint8_t markGrey) {
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            Rgba px = kClear;
            const double cx = x + 0.5 - 8;
            const double cy = y + 0.5 - 8;
            if (x >= 1 && x <= 14 && y >= 1 && y <= 14) {
                if (round) {
                    const double r = std::hypot(cx, cy);
                    if (r <= 7) px = r > 6 ? Rgba{frame, frame, frame, 255} : inside;
                    if (mark && r <= 4) px = {markGrey, markGrey, markGrey, 255};
                } else {
                    const bool edge = x == 1 || x == 14 || y == 1 || y == 14;
                    px = edge ? Rgba{frame, frame, frame, 255} : inside;
                    // Check mark from the lower left, down to the bottom, up to the upper right.
                    if (mark && !edge &&
                        std::min(SegmentDistance(x + 0.5, y + 0.5, 3.5, 7.5, 6.5, 11), SegmentDistance(x + 0.5, y + 0.5, 6.5, 11, 12, 3.5)) <= 1.3)
                        px = {markGrey, markGrey, markGrey, 255};
                }
            }
            cell[y * pitch + x] = px;
        }
    }
}

// One 32 x 32 arrow: a filled triangle pointing `direction` (0 up, 1 down,
// 2 left, 3 right) on a clear ground.
void PaintArrow(Rgba* cell, uint64_t pitch, int direction, uint8_t grey) {
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            // Along = distance from the tip side, across = offset from the middle.
            const double u = (direction < 2 ? y : x) + 0.5;
            const double v = (direction < 2 ? x : y) + 0.5 - 16;
            const double along = (direction == 0 || direction == 2) ? u - 10 : 22 - u;
            const bool inside = along >= 0 && along <= 12 && std::fabs(v) <= along;
            cell[y * pitch + x] = inside ? Rgba{grey, grey, grey, 255} : kClear;
        }
    }
}

struct SharedTexture {
    CriticalSection lock;
    CFgTexture* texture = nullptr;
    uint64_t references = 0;
};

SharedTexture g_IconAtlas;
SharedTexture g_Arrows;

CFgTexture* Acquire(SharedTexture& shared, uint64_t cellSize, uint64_t columns, uint32_t tinted,
                    void (*paint)(std::vector<Rgba>&)) {
    CriticalSectionLock own(shared.lock);
    if (!shared.texture) {
        std::vector<Rgba> pixels(cellSize * columns * cellSize * 2);
        paint(pixels);
        auto* texture = new CFgTexture;
        if (!texture->Create(cellSize, cellSize, columns, 2, 1, reinterpret_cast<const uint8_t*>(pixels.data()))) {
            delete texture;
            return nullptr;
        }
        texture->tinted = tinted;
        shared.texture = texture;
    }
    ++shared.references;
    return shared.texture;
}

void Release(SharedTexture& shared) {
    CriticalSectionLock own(shared.lock);
    if (shared.references == 0 || --shared.references > 0) return;
    delete shared.texture;
    shared.texture = nullptr;
}

void PaintIconAtlas(std::vector<Rgba>& pixels) {
    const uint64_t pitch = 6 * kFgIconCell;
    const Rgba cyan{205, 243, 243, 255};
    const Rgba white{255, 255, 255, 255};
    const Rgba disabled{224, 224, 224, 255};
    for (int i = 0; i < 12; ++i) {
        const int state = (i % 6) / 2;  // 0 focused, 1 enabled, 2 disabled
        const bool mark = (i % 2) == 1;
        Rgba* cell = pixels.data() + (i / 6) * kFgIconCell * pitch + (i % 6) * kFgIconCell;
        PaintIcon(cell, pitch, i >= 6, state == 2 ? 127 : 0, state == 0 ? cyan : state == 1 ? white : disabled, mark,
                  state == 2 ? 195 : 0);
    }
}

void PaintArrows(std::vector<Rgba>& pixels) {
    const uint64_t pitch = 4 * kFgArrowCell;
    for (int i = 0; i < 8; ++i)
        PaintArrow(pixels.data() + (i / 4) * kFgArrowCell * pitch + (i % 4) * kFgArrowCell, pitch, i % 4,
                   i < 4 ? 0 : 160);
}

}  // namespace

CFgTexture* FgAcquireIconAtlas() { return Acquire(g_IconAtlas, kFgIconCell, 6, 0, PaintIconAtlas); }
void FgReleaseIconAtlas() { Release(g_IconAtlas); }
CFgTexture* FgAcquireArrowTexture() { return Acquire(g_Arrows, kFgArrowCell, 4, 1, PaintArrows); }
void FgReleaseArrowTexture() { Release(g_Arrows); }
