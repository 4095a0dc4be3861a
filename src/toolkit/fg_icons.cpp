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

void FgDecodeIconPixels(uint8_t* rgba, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t* p = rgba + 4 * i;
        if (p[0] >= 1 && p[0] <= 254) {
            p[3] = static_cast<uint8_t>(255 - p[0]);
            p[0] = p[1] = p[2] = 0;
        }
    }
}

void FgFadeIconPixels(const uint8_t* rgba, uint8_t* out, uint64_t count) {
    for (uint64_t i = 0; i < 4 * count; ++i)
        out[i] = (i % 4 == 3) ? rgba[i] : static_cast<uint8_t>(255 - ((255 - rgba[i]) >> 1));
}

int32_t FgBuildIconStrip(CFgTexture* texture, uint64_t cellWidth, uint64_t cellHeight, uint64_t columns,
                         FgIconInkFn inside) {
    if (!texture || !inside || !cellWidth || !cellHeight || !columns) return 0;
    const uint64_t rowPixels = cellWidth * columns * cellHeight;
    std::vector<uint8_t> pixels(rowPixels * 2 * 4);
    const uint64_t pitch = cellWidth * columns;
    for (uint64_t cell = 0; cell < columns; ++cell) {
        for (uint64_t y = 0; y < cellHeight; ++y) {
            for (uint64_t x = 0; x < cellWidth; ++x) {
                int covered = 0;
                for (int sy = 0; sy < 4; ++sy)
                    for (int sx = 0; sx < 4; ++sx)
                        covered += inside(cell, x + (sx + 0.5) / 4.0, y + (sy + 0.5) / 4.0) ? 1 : 0;
                uint8_t* p = pixels.data() + 4 * (y * pitch + cell * cellWidth + x);
                if (covered == 0) {
                    p[0] = p[1] = p[2] = 255, p[3] = 0;
                } else if (covered == 16) {
                    p[0] = p[1] = p[2] = 0, p[3] = 255;
                } else {
                    const uint8_t grey = static_cast<uint8_t>(std::clamp(255 - covered * 255 / 16, 1, 254));
                    p[0] = p[1] = p[2] = grey, p[3] = 255;
                }
            }
        }
    }
    FgDecodeIconPixels(pixels.data(), rowPixels);
    FgFadeIconPixels(pixels.data(), pixels.data() + rowPixels * 4, rowPixels);
    return texture->Create(cellWidth, cellHeight, columns, 2, 1, pixels.data());
}
