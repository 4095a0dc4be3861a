// Island measurement against scipy.ndimage and OpenCV on random blob
// frames, the driver's edge cases, and the caller's image left untouched.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include "image/kernels/islands.h"
#include "image/pool.h"
#include "support/kernel_test_util.h"

namespace {

std::vector<double> Numbers(const std::string& text) {
    std::istringstream in(text);
    std::vector<double> v;
    double d;
    while (in >> d) v.push_back(d);
    return v;
}

IslandSettings Settings(CImgBuff* img, uint32_t conn, uint32_t islands) {
    return IslandSettings{img, 0, conn, islands, 1, 1.0, 1, nullptr, 0};
}

// Per component (label order, which is raster order of first pixels):
// first pixel, area, centre of mass, whether another component lies in its
// holes, hole pixels; then the count of components not inside another's
// filled area; and for 8-connectivity per outer contour: first point,
// point count, arc length, children (holes) and the OpenCV area and
// centroid of the component under its first point.
// Each input and connectivity 4, then 8, gives one section, led by its length.
const char* kComponentsScript = R"(
from scipy import ndimage
import cv2
w, h = 173, 131
def section(a, conn):
  st = np.ones((3, 3)) if conn == 8 else None
  lab, n = ndimage.label(a, structure=st)
  out = [n]
  inside = set()
  for i, sl in enumerate(ndimage.find_objects(lab), start=1):
      comp = lab[sl] == i
      filled = ndimage.binary_fill_holes(comp)
      holes = filled & ~comp
      inner = set(np.unique(lab[sl][holes]).tolist()) - {0}
      inside |= inner
      ys, xs = np.nonzero(comp)
      ys, xs = ys + sl[0].start, xs + sl[1].start
      first = ys[0] * w + xs[0]
      out += [first, comp.sum(), ys.mean(), xs.mean(), 1 if inner else 0, holes.sum()]
  out.append(n - len(inside))
  cc, cl, stats, cents = cv2.connectedComponentsWithStats(a.astype(np.uint8), connectivity=conn)
  if conn == 8:
      cs, hier = cv2.findContours(a.astype(np.uint8), cv2.RETR_CCOMP, cv2.CHAIN_APPROX_NONE)
      outer = [k for k in range(len(cs)) if hier[0][k][3] < 0]
      out.append(len(outer))
      for k in outer:
          c = cs[k][:, 0, :]
          children = 0
          ch = hier[0][k][2]
          while ch >= 0:
              children += 1
              ch = hier[0][ch][0]
          x0, y0 = c[0]
          l = cl[y0, x0]
          out += [y0 * w + x0, len(c), cv2.arcLength(cs[k], True), children, stats[l][4], cents[l][0], cents[l][1]]
  return out
res = []
for f in sys.argv[1:-1]:
  a = np.fromfile(f, np.uint8).reshape(h, w) > 0
  for conn in (4, 8):
    o = section(a, conn)
    res += [len(o)] + o
open(sys.argv[-1], 'w').write(' '.join(repr(float(v)) for v in res))
)";

TEST(Islands, RandomBlobsAgainstScipyAndOpenCv) {
    const int32_t w = 173, h = 131;
    CImgBuff images[2];
    ASSERT_TRUE(ktest::MakeBlobs(images[0], w, h, 3, 0.01));
    ASSERT_TRUE(ktest::MakeBlobs(images[1], w, h, 4, 0.12));
    const std::vector<double> all = Numbers(ktest::RunNumpy(kComponentsScript, {ktest::Block(images[0]), ktest::Block(images[1])}));
    size_t section = 0;
    for (CImgBuff& img : images) {
        for (uint32_t conn : {4u, 8u}) {
            ASSERT_LT(section, all.size());
            const size_t length = static_cast<size_t>(all[section]);
            const std::vector<double> o(all.begin() + section + 1, all.begin() + section + 1 + length);
            section += 1 + length;
            ASSERT_FALSE(o.empty());
            const int n = static_cast<int>(o[0]);
            ASSERT_GT(n, 20);
            const std::string before = ktest::Block(img);

            IslandSettings s = Settings(&img, conn, 1);
            EXPECT_EQ(ImgMeasureIslands(&s, nullptr, nullptr, 0, nullptr), n);
            std::vector<IslandRecord> rec(n + 5);
            IslandSummary totals{};
            ASSERT_EQ(ImgMeasureIslands(&s, &totals, rec.data(), rec.size(), nullptr), n);
            EXPECT_EQ(ktest::Block(img), before);
            std::map<int64_t, int> byStart;
            double area = 0;
            for (int i = 0; i < n; ++i) {
                const double* c = &o[1 + 6 * i];
                const IslandRecord& r = rec[i];
                byStart[int64_t(r.startY) * w + r.startX] = i;
                ASSERT_EQ(int64_t(r.startY) * w + r.startX, int64_t(c[0])) << "conn " << conn << " object " << i;
                EXPECT_EQ(r.area, c[1]);
                EXPECT_NEAR(r.weightedY, c[2], 1e-9);
                EXPECT_NEAR(r.weightedX, c[3], 1e-9);
                if (c[4] == 0) {
                    EXPECT_EQ(r.holeArea, c[5]) << "object " << i;
                }
                area += c[1];
            }
            EXPECT_EQ(totals.objects, uint64_t(n));
            EXPECT_EQ(totals.area, area);
            EXPECT_EQ(totals.regionArea, double(w) * h);
            // Without islands an object in another's hole joins it.
            s.islands = 0;
            EXPECT_EQ(ImgMeasureIslands(&s, nullptr, nullptr, 0, nullptr), int(o[1 + 6 * n])) << conn;
            if (conn != 8) continue;
            size_t at = 2 + 6 * n;
            const int outer = static_cast<int>(o[at++]);
            EXPECT_EQ(outer, n);
            for (int k = 0; k < outer; ++k, at += 7) {
                const auto it = byStart.find(int64_t(o[at]));
                ASSERT_NE(it, byStart.end());
                const IslandRecord& r = rec[it->second];
                // A lone pixel's contour is one pixel long here, 0 in OpenCV.
                EXPECT_NEAR(r.perimeter, o[at + 1] == 1 ? 1.0 : o[at + 2], 1e-7 * r.perimeter) << "contour of " << o[at + 1] << " points";
                if (o[1 + 6 * it->second + 4] == 0) {
                    EXPECT_EQ(r.holes, int(o[at + 3]));
                }
                EXPECT_EQ(r.area, o[at + 4]);
                EXPECT_NEAR(r.weightedX, o[at + 5], 1e-6);
                EXPECT_NEAR(r.weightedY, o[at + 6], 1e-6);
            }
        }
    }
}

// Bars 6 pixels wide at many angles: length - 1 and breadth - 1 within half
// a pixel of OpenCV's smallest rectangle around the contour points.
TEST(Islands, ElongatedObjectsAgainstMinAreaRect) {
    const int32_t w = 320, h = 240;
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(w, h, kImgGray8));
    int k = 0;
    for (int cy = 30; cy < h; cy += 60)
        for (int cx = 30; cx < w; cx += 60, ++k) {
            const double a = k * 0.27, c = std::cos(a), s = std::sin(a);
            for (int y = cy - 28; y <= cy + 28; ++y)
                for (int x = cx - 28; x <= cx + 28; ++x) {
                    const double u = (x - cx) * c + (y - cy) * s, v = -(x - cx) * s + (y - cy) * c;
                    if (std::fabs(u) <= 22 && std::fabs(v) <= 3) *img.buffer->PixelAt(x, y) = 200;
                }
        }
    const std::vector<double> o = Numbers(ktest::RunNumpy(R"(
import cv2
a = np.fromfile(sys.argv[1], np.uint8).reshape(240, 320)
cs, _ = cv2.findContours(a, cv2.RETR_EXTERNAL, cv2.CHAIN_APPROX_NONE)
out = []
for c in sorted(cs, key=lambda c: (c[0][0][1], c[0][0][0])):
    (_, _), (rw, rh), _ = cv2.minAreaRect(c)
    out += [c[0][0][1] * 320 + c[0][0][0], max(rw, rh), min(rw, rh)]
open(sys.argv[-1], 'w').write(' '.join(repr(float(v)) for v in out))
)",
                                                          {ktest::Block(img)}));
    IslandSettings s = Settings(&img, 8, 0);
    std::vector<IslandRecord> rec(40);
    const int n = ImgMeasureIslands(&s, nullptr, rec.data(), rec.size(), nullptr);
    ASSERT_EQ(n, k);
    ASSERT_EQ(o.size(), size_t(3 * n));
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(rec[i].startY * w + rec[i].startX, int(o[3 * i]));
        EXPECT_NEAR(rec[i].length - 1, o[3 * i + 1], 0.5) << i;
        EXPECT_NEAR(rec[i].breadth - 1, o[3 * i + 2], 0.5) << i;
        EXPECT_GT(rec[i].length, rec[i].breadth);
    }
}

struct Case {
    const char* name;
    int32_t format;
    uint8_t fill;  // every byte
    uint32_t inverted;
    int expected;
};

TEST(Islands, WholeImageCases) {
    const Case cases[] = {
        {"all zero", kImgGray8, 0, 0, 0},
        {"all 255", kImgGray8, 255, 0, 1},
        {"all 255 inverted", kImgGray8, 255, 1, 0},
        {"all zero inverted", kImgGray8, 0, 1, 1},
        {"grey16 all max", kImgGray16, 255, 0, 1},
        {"grey32 all max inverted", kImgGray32, 255, 1, 0},
    };
    for (const Case& c : cases) {
        CImgBuff img;
        ASSERT_TRUE(img.buffer->Create(9, 7, c.format));
        std::memset(img.buffer->pixels, c.fill, 9 * 7 * img.buffer->BytesPerPixel());
        IslandSettings s = Settings(&img, 8, 0);
        s.inverted = c.inverted;
        s.lengthPerPixel = 0.5;
        EXPECT_EQ(ImgMeasureIslands(&s, nullptr, nullptr, 0, nullptr), c.expected) << c.name;
        IslandRecord rec[2];
        IslandSummary t;
        EXPECT_EQ(ImgMeasureIslands(&s, &t, rec, 2, nullptr), c.expected) << c.name;
        EXPECT_EQ(t.regionArea, 4.5 * 3.5) << c.name;
        EXPECT_EQ(t.objects, uint64_t(c.expected));
    }
}

// Five separate dots on a 30 x 20 image; an RGB pixel of (0, 0, 1) is grey 0.
void FiveDots(CImgBuff& img, int32_t format) {
    ASSERT_TRUE(img.buffer->Create(30, 20, format));
    for (int i = 0; i < 5; ++i) img.buffer->SetPixelGray8(3 + 5 * i, 10, 200);
    if (format == kImgRgb8) img.buffer->SetPixelRgb8(0, 0, 0, 0, 1);
}

int32_t StopAtOnce(int32_t, int64_t, uint64_t user) {
    ++*reinterpret_cast<int*>(user);
    return 1;
}

TEST(Islands, LimitsCancelAndRefusals) {
    CImgBuff img;
    FiveDots(img, kImgRgb8);
    IslandSettings s = Settings(&img, 8, 0);
    EXPECT_EQ(ImgMeasureIslands(&s, nullptr, nullptr, 0, nullptr), 5);
    IslandRecord rec[5];
    std::memset(rec, 0x5A, sizeof rec);
    IslandSummary t;
    std::memset(&t, 0x5A, sizeof t);
    const IslandSummary untouched = t;
    EXPECT_EQ(ImgMeasureIslands(&s, &t, nullptr, 0, nullptr), 5);
    EXPECT_EQ(std::memcmp(&t, &untouched, sizeof t), 0);
    EXPECT_EQ(ImgMeasureIslands(&s, &t, rec, 3, nullptr), 3);
    EXPECT_EQ(t.objects, 3u);
    EXPECT_EQ(rec[2].startX, 13);
    EXPECT_EQ(rec[3].startX, 0x5A5A5A5A);
    EXPECT_EQ(rec[0].reserved, 0u);

    const std::string before = ktest::Block(img);
    int calls = 0;
    s.progress = StopAtOnce;
    s.user = reinterpret_cast<uint64_t>(&calls);
    EXPECT_EQ(ImgMeasureIslands(&s, &t, rec, 5, nullptr), 1);
    EXPECT_EQ(calls, 1);
    const ImgRect region{2, 2, 25, 15};
    EXPECT_EQ(ImgMeasureIslands(&s, &t, rec, 5, &region), 1);
    EXPECT_EQ(ktest::Block(img), before);
    s.progress = nullptr;

    s.connectivity = 6;
    EXPECT_EQ(ImgMeasureIslands(&s, nullptr, nullptr, 0, nullptr), -1);
    s.connectivity = 8;
    EXPECT_EQ(ImgMeasureIslands(&s, nullptr, nullptr, 2, nullptr), -1);
    EXPECT_EQ(ImgMeasureIslands(nullptr, nullptr, nullptr, 0, nullptr), -1);
    const ImgRect outside{40, 0, 50, 5};
    EXPECT_EQ(ImgMeasureIslands(&s, nullptr, nullptr, 0, &outside), -1);
    CImgBuff empty;
    IslandSettings e = Settings(&empty, 8, 0);
    EXPECT_EQ(ImgMeasureIslands(&e, nullptr, nullptr, 0, nullptr), -1);
    EXPECT_EQ(ktest::Block(img), before);
}

// Coordinates are shifted by the region's origin, flipped with y axis -1
// against the full image's height, and scaled.
TEST(Islands, RegionOriginFlipAndScale) {
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(60, 100, kImgGray8));
    *img.buffer->PixelAt(20, 30) = 255;
    for (int y = 8; y <= 12; ++y) *img.buffer->PixelAt(40, y) = 255;  // centred on row 10
    const std::string before = ktest::Block(img);
    IslandSettings s = Settings(&img, 8, 0);
    IslandRecord rec[4];
    const ImgRect region{20, 30, 59, 99};
    ASSERT_EQ(ImgMeasureIslands(&s, nullptr, rec, 4, &region), 1);
    EXPECT_EQ(rec[0].startX, 20);
    EXPECT_EQ(rec[0].startY, 30);
    EXPECT_EQ(rec[0].centreX, 20.0);
    s.yAxis = -1;
    s.lengthPerPixel = 0.25;
    ASSERT_EQ(ImgMeasureIslands(&s, nullptr, rec, 4, nullptr), 2);
    EXPECT_EQ(rec[0].startY, 8);  // never flipped
    EXPECT_DOUBLE_EQ(rec[0].centreY, 89 * 0.25);
    EXPECT_DOUBLE_EQ(rec[0].weightedY, 89 * 0.25);
    EXPECT_DOUBLE_EQ(rec[0].centreX, 40 * 0.25);
    EXPECT_DOUBLE_EQ(rec[1].centreY, 69 * 0.25);
    EXPECT_EQ(ktest::Block(img), before);
}

// Many objects, measured in pieces on the pool: a limit or a cancel at any
// object gives exactly the first records and totals of the whole run, and
// the records beyond stay untouched; so does every thread count.
int32_t StopAtLimit(int32_t count, int64_t, uint64_t user) { return count >= *reinterpret_cast<int*>(user) ? 1 : 0; }

TEST(Islands, LimitsAndCancelsAmongManyObjects) {
    CImgBuff img;
    ASSERT_TRUE(img.buffer->Create(240, 200, kImgGray8));
    // Discs and rings of a few sizes on a 6-pixel grid: 1360 objects.
    for (int32_t y = 0; y < 200; ++y)
        for (int32_t x = 0; x < 240; ++x) {
            const int32_t cx = x / 6 * 6 + 2, cy = y / 6 * 6 + 2, k = (x / 6 + 7 * (y / 6)) % 4;
            const int32_t d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            if (d <= k + 1 && !(k == 3 && d == 0)) img.buffer->SetPixelGray8(x, y, uint8_t(40 + (x * 7 + y) % 200));
        }
    IslandSettings s = Settings(&img, 8, 1);
    const int32_t n = ImgMeasureIslands(&s, nullptr, nullptr, 0, nullptr);
    ASSERT_GT(n, 1300);
    const uint64_t all = PoolGetProcessorCount();
    std::vector<IslandRecord> whole(n);
    IslandSummary wholeTotals;
    ASSERT_EQ(ImgMeasureIslands(&s, &wholeTotals, whole.data(), whole.size(), nullptr), n);
    for (uint64_t threads : {uint64_t{1}, all}) {
        ASSERT_EQ(PoolSetThreadCount(threads), 1);
        for (int32_t k : {1, 63, 64, 65, 129, 700, n - 1, n}) {
            for (bool cancel : {false, true}) {
                std::vector<IslandRecord> rec(n + 1);
                std::memset(rec.data(), 0x5A, rec.size() * sizeof(IslandRecord));
                IslandSummary t;
                int limit = k;
                s.progress = cancel ? StopAtLimit : nullptr;
                s.user = reinterpret_cast<uint64_t>(&limit);
                ASSERT_EQ(ImgMeasureIslands(&s, &t, rec.data(), cancel ? n : k, nullptr), k) << threads << " " << k << " " << cancel;
                EXPECT_EQ(std::memcmp(rec.data(), whole.data(), k * sizeof(IslandRecord)), 0) << threads << " " << k << " " << cancel;
                EXPECT_EQ(rec[k].startX, 0x5A5A5A5A) << threads << " " << k << " " << cancel;
                EXPECT_EQ(t.objects, uint64_t(k));
                if (k == n) {
                    EXPECT_EQ(std::memcmp(&t, &wholeTotals, sizeof t), 0) << threads;
                }
            }
        }
        s.progress = nullptr;
    }
    ASSERT_EQ(PoolSetThreadCount(all), 1);
}

}  // namespace
