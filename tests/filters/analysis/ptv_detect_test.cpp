// Detection of the particles of one frame: contour centres against OpenCV's
// contours of numpy-drawn discs, both backgrounds, the rectangle, the cap of
// one slot and a refused connectivity.
#include "filters/analysis/ptv_detect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "filters/analysis/ptv_link.h"
#include "support/testsupport.h"

namespace {

const char* kDiscs = R"PY(
import sys, numpy as np, cv2
path, bg = sys.argv[1], int(sys.argv[2])
w, h = 320, 240
rng = np.random.default_rng(7)
img = np.zeros((h, w), np.uint8)
for k in range(60):
    cx, cy, r = rng.uniform(8, w - 8), rng.uniform(8, h - 8), rng.uniform(1.2, 4.5)
    cv2.circle(img, (int(round(cx * 16)), int(round(cy * 16))), int(round(r * 16)), 255, -1, cv2.LINE_8, 4)
open(path, 'wb').write((255 - img if bg else img).tobytes())
contours, _ = cv2.findContours(img, cv2.RETR_EXTERNAL, cv2.CHAIN_APPROX_NONE)
for c in contours:
    p = c.reshape(-1, 2).astype(np.float64)
    print(repr(p[:, 0].mean()), repr(p[:, 1].mean()))
)PY";

struct Centre {
    double x, y;
};

TEST(PtvDetect, ContourCentresMatchOpenCvOnBothBackgrounds) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with OpenCV";
    kvtest::TempDir dir("ptv_detect");
    static PtvWindow window;
    std::vector<IslandRecord> scratch(kPtvSlotCapacity);
    for (const uint32_t bg : {1u, 0u}) {
        const std::string path = dir.file("discs.raw");
        std::string out;
        ASSERT_EQ(kvtest::RunPython(kDiscs, {path, std::to_string(bg)}, &out), 0);
        const std::string bytes = kvtest::ReadFileBytes(path);
        ASSERT_EQ(bytes.size(), 320u * 240u);
        CImgBuff img;
        ASSERT_EQ(img.buffer->Create(320, 240, kImgGray8), 1);
        std::memcpy(img.buffer->pixels, bytes.data(), bytes.size());
        std::vector<Centre> want;
        std::istringstream in(out);
        Centre c{};
        while (in >> c.x >> c.y) want.push_back(c);
        ASSERT_GT(want.size(), 30u);

        for (const uint32_t connect : {8u, 4u}) {
            ParticleFrame& slot = window.slots[0];
            const int32_t n = PtvDetect(&img, ImgRect{0, 0, 319, 239}, connect, bg, &slot, scratch.data());
            if (connect == 4) {
                EXPECT_GE(n, static_cast<int32_t>(want.size()));  // discs touching at corners split
                continue;
            }
            ASSERT_EQ(n, static_cast<int32_t>(want.size())) << "bg " << bg;
            for (const Centre& w : want) {
                double best = 1e9;
                for (int32_t i = 0; i < slot.count; ++i) {
                    const Particle& p = slot.records[i];
                    EXPECT_EQ(p.id, -1);
                    EXPECT_EQ(p.valid, 1u);
                    best = std::min(best, std::hypot(p.x - w.x, p.y - w.y));
                }
                EXPECT_LT(best, 1e-9) << w.x << "," << w.y;
            }
        }
        // A rectangle: only the objects inside it, in full-image coordinates.
        ParticleFrame& slot = window.slots[1];
        const ImgRect rect{100, 50, 219, 169};
        const int32_t n = PtvDetect(&img, rect, 8, bg, &slot, scratch.data());
        ASSERT_GT(n, 0);
        for (int32_t i = 0; i < n; ++i) {
            EXPECT_GE(slot.records[i].x, 100.0);
            EXPECT_LE(slot.records[i].x, 219.0);
            EXPECT_GE(slot.records[i].y, 50.0);
            EXPECT_LE(slot.records[i].y, 169.0);
        }
    }
}

TEST(PtvDetect, CapOfOneSlotAndRefusedArguments) {
    static PtvWindow window;
    std::vector<IslandRecord> scratch(kPtvSlotCapacity);
    // 10,000 lone pixels on black.
    CImgBuff img;
    ASSERT_EQ(img.buffer->Create(200, 200, kImgGray8), 1);
    for (int32_t y = 0; y < 200; y += 2)
        for (int32_t x = 0; x < 200; x += 2) img.SetPixelGray8(x, y, 255);
    ParticleFrame& slot = window.slots[2];
    ASSERT_EQ(PtvDetect(&img, ImgRect{0, 0, 199, 199}, 8, 0, &slot, scratch.data()), kPtvSlotCapacity);
    EXPECT_EQ(slot.count, kPtvSlotCapacity);
    EXPECT_EQ(slot.records[0].x, 0.0);
    EXPECT_EQ(slot.records[1].x, 2.0);  // scan order
    EXPECT_EQ(slot.records[kPtvSlotCapacity - 1].y, 2.0 * ((kPtvSlotCapacity - 1) / 100));
    // A refused connectivity leaves the slot empty.
    EXPECT_EQ(PtvDetect(&img, ImgRect{0, 0, 199, 199}, 5, 0, &slot, scratch.data()), -1);
    EXPECT_EQ(slot.count, 0);
    EXPECT_EQ(PtvDetect(nullptr, ImgRect{0, 0, 199, 199}, 8, 0, &slot, scratch.data()), -1);
}

}  // namespace
