// The colour-range tracker: discs of a numpy movie tracked through the
// controller (centroids of the drawn pixels, the path, a hidden disc, a disc
// too fast without prediction), the choice among several regions and the
// binarisation options, the preview tint against a numpy transcription, and
// the panel's picks and undo.
#include "filters/analysis/track_hsv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/testsupport.h"
#include "support/track_host.h"

namespace {

// Runs the movie script of the oracle folder: mode "discs" or "patch".
bool MakeMovie(const std::string& mode, const std::string& dir) {
    const std::string script =
        "import runpy, sys\nsys.argv = sys.argv[1:]\nrunpy.run_path(sys.argv[0], run_name='__main__')\n";
    std::string out;
    return kvtest::RunPython(script, {std::string(KV_SOURCE_DIR) + "/tests/filters/analysis/oracle/track_movie.py", mode, dir},
                             &out) == 0;
}

// Adds the frames of a raw RGB file to the host.
void LoadFrames(TrackHost* host, const std::string& path, int32_t w, int32_t h) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes(static_cast<size_t>(w) * h * 3);
    while (in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        CImgBuff* f = new CImgBuff;
        f->buffer->Create(w, h, kImgRgb8);
        std::memcpy(f->buffer->pixels, bytes.data(), bytes.size());
        host->AddFrame(f);
    }
}

struct DiscTruth {
    double x, y;  // true centre
    int64_t drawn, full;
    double cx, cy;  // centroid of the drawn pixels
    int32_t x0, y0, x1, y1;
};
using Truth = std::map<std::pair<int32_t, int32_t>, DiscTruth>;  // (frame, disc)

Truth ReadTruth(const std::string& path) {
    Truth t;
    std::ifstream in(path);
    int32_t f, d;
    DiscTruth r;
    while (in >> f >> d >> r.x >> r.y >> r.drawn >> r.full >> r.cx >> r.cy >> r.x0 >> r.y0 >> r.x1 >> r.y1) t[{f, d}] = r;
    return t;
}

// The exact range of pure red as the pixel accessors read it.
HsvRange RedRange() {
    CImgBuff one;
    one.buffer->Create(1, 1, kImgRgb8);
    one.SetPixelRgb8(0, 0, 255, 0, 0);
    uint16_t h, s, v;
    one.buffer->GetPixelHsv16(0, 0, &h, &s, &v);
    return {h, 0, s, s, v, v};
}

P2dPoint At(CTrackCtrl& c, int32_t frame, int32_t column) {
    P2dPoint p{-7, -7};
    c.table.GetPoint(static_cast<uint32_t>(frame), static_cast<uint32_t>(column), &p);
    return p;
}

// Picks the colour at (x, y) of `frame` through the panel in set mode and
// returns a new target with a `box` x `box` search box centred there.
CTrackHSV* PickTarget(TrackHost& host, CPanelHSV& panel, CImgBuff* frame, double x, double y, int32_t box) {
    panel.Reset();
    panel.range = kHsvAcceptAll;
    struct Rerun {
        CPanelHSV* panel;
        CImgBuff* frame;
    } rerun{&panel, frame};
    panel.change = [](CTrackPanel* p, void* user) {
        auto* r = static_cast<Rerun*>(user);
        r->panel->OnFilter(r->frame, 0, 0, 0, r->frame->buffer->width, r->frame->buffer->height);
        (void)p;
    };
    panel.changeUser = &rerun;
    panel.colorSet.checked = 1;
    panel.colorSet.callback(&panel.colorSet, panel.colorSet.data);
    EXPECT_EQ(panel.OnLButtonUp(static_cast<int32_t>(std::lround(x)), static_cast<int32_t>(std::lround(y))), 0);
    panel.change = nullptr;
    CTrackHSV* t = static_cast<CTrackHSV*>(panel.CreateTrack());
    int32_t bx = 0, by = 0;
    TrackCentreBox(x, y, box, box, &bx, &by);
    EXPECT_GE(host.AddTargetAt(t, bx, by), 0);
    t->x = bx, t->y = by, t->w = t->h = box;
    return t;
}

class DiscMovie : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (kvtest::DebianPython().empty()) return;
        dir_ = new kvtest::TempDir("track_discs");
        ready_ = MakeMovie("discs", dir_->path());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "no numpy movie";
        LoadFrames(&host, dir_->file("frames.rgb"), 240, 180);
        ASSERT_EQ(host.frames.size(), 60u);
        truth = ReadTruth(dir_->file("truth.txt"));
    }
    static kvtest::TempDir* dir_;
    static bool ready_;
    TrackHost host;
    CPanelHSV panel{&host, nullptr};
    Truth truth;
};
kvtest::TempDir* DiscMovie::dir_ = nullptr;
bool DiscMovie::ready_ = false;

TEST_F(DiscMovie, WholeDiscsGiveTheCentroidOfTheirPixels) {
    const int32_t discs[] = {0, 1, 2, 4};
    for (int32_t d : discs) {
        const DiscTruth& t0 = truth[{0, d}];
        PickTarget(host, panel, host.frames[0].get(), t0.x, t0.y, 41);
    }
    // The red disc's pick spans the hue wrap.
    const HsvRange& red = static_cast<CTrackHSV*>(host.targets[0])->range;
    EXPECT_TRUE(red.hueCentre < red.hueWidth || static_cast<int32_t>(red.hueCentre) + red.hueWidth > 65535);
    host.SizeTable();
    host.last = 35;
    host.TrackByScene(1, 0, 0);
    EXPECT_TRUE(host.asked.empty());
    int32_t checked = 0;
    for (int32_t i = 0; i < 4; ++i) {
        int32_t bx = host.targets[i]->x, by = host.targets[i]->y;
        for (int32_t f = 0; f <= 35; ++f) {
            const DiscTruth& t = truth[{f, discs[i]}];
            if (f > 0) {
                const P2dPoint prev = At(host, f - 1, i);
                TrackCentreBox(prev.x, prev.y, 41, 41, &bx, &by);
            } else {
                TrackCentreBox(t.x, t.y, 41, 41, &bx, &by);
            }
            const P2dPoint p = At(host, f, i);
            ASSERT_GE(p.x, 0) << "disc " << discs[i] << " frame " << f;
            const bool whole = t.drawn == t.full && t.x0 >= bx && t.y0 >= by && t.x1 <= bx + 40 && t.y1 <= by + 40;
            if (!whole) continue;
            ++checked;
            EXPECT_NEAR(p.x, t.cx, 1e-9) << "disc " << discs[i] << " frame " << f;
            EXPECT_NEAR(p.y, t.cy, 1e-9) << "disc " << discs[i] << " frame " << f;
            EXPECT_LT(std::hypot(p.x - t.x, p.y - t.y), 0.2) << "disc " << discs[i] << " frame " << f;
        }
    }
    EXPECT_GT(checked, 120);
}

TEST_F(DiscMovie, AHiddenDiscIsAskedFor) {
    const DiscTruth& t0 = truth[{0, 4}];
    PickTarget(host, panel, host.frames[0].get(), t0.x, t0.y, 41);
    host.SizeTable();
    struct Case {
        const char* name;
        TrackHost::Answer answer;
        size_t asked;
        int32_t lastFrame;
    } cases[] = {{"lost", TrackHost::Answer::Lost, 1, 40},
                 {"point", TrackHost::Answer::Point, 10, 59},
                 {"skip", TrackHost::Answer::Skip, 10, 59}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        host.table.SetRows(0);
        host.SizeTable();
        TrackCentreBox(t0.x, t0.y, 41, 41, &host.targets[0]->x, &host.targets[0]->y);
        host.asked.clear();
        host.visited.clear();
        host.answers.clear();
        for (int32_t f = 40; f <= 49; ++f) {
            const DiscTruth& t = truth[{f, 4}];
            host.answers.push_back({k.answer, static_cast<int32_t>(t.x), static_cast<int32_t>(t.y)});
        }
        host.TrackByScene(1, 0, 0);
        EXPECT_EQ(host.asked.size(), k.asked);
        EXPECT_EQ(host.asked[0], std::make_pair(0, 40));
        EXPECT_EQ(host.visited.back(), k.lastFrame);
        EXPECT_LT(std::hypot(At(host, 39, 0).x - truth[{39, 4}].x, At(host, 39, 0).y - truth[{39, 4}].y), 0.2);
        const P2dPoint at45 = At(host, 45, 0);
        if (k.answer == TrackHost::Answer::Point) {
            EXPECT_EQ(at45.x, static_cast<int32_t>(truth[{45, 4}].x));
        } else {
            EXPECT_EQ(at45.x, -1);
        }
        // Two frames to come back to the whole disc after the bar.
        if (k.lastFrame == 59) {
            for (int32_t f = 52; f <= 59; ++f)
                EXPECT_LT(std::hypot(At(host, f, 0).x - truth[{f, 4}].x, At(host, f, 0).y - truth[{f, 4}].y), 0.2) << f;
        }
    }
}

TEST_F(DiscMovie, PredictionKeepsAFastDiscInItsBox) {
    const DiscTruth& t0 = truth[{0, 3}];
    PickTarget(host, panel, host.frames[0].get(), t0.x, t0.y, 21);
    host.SizeTable();
    host.last = 11;
    const DiscTruth& t1 = truth[{1, 3}];
    for (int32_t predict = 0; predict <= 1; ++predict) {
        SCOPED_TRACE(predict);
        host.table.SetRows(0);
        host.SizeTable();
        TrackCentreBox(t0.x, t0.y, 21, 21, &host.targets[0]->x, &host.targets[0]->y);
        host.asked.clear();
        host.answers.assign({{TrackHost::Answer::Point, static_cast<int32_t>(std::lround(t1.x)),
                              static_cast<int32_t>(std::lround(t1.y))}});
        host.TrackByScene(1, predict, 0);
        if (!predict) {
            // The disc outruns its box at once and again after the answer.
            ASSERT_EQ(host.asked.size(), 2u);
            EXPECT_EQ(host.asked[1], std::make_pair(0, 2));
        } else {
            ASSERT_EQ(host.asked.size(), 1u);
            for (int32_t f = 2; f <= 11; ++f) {
                const DiscTruth& t = truth[{f, 3}];
                EXPECT_LT(std::hypot(At(host, f, 0).x - t.x, At(host, f, 0).y - t.y), 0.2) << f;
            }
        }
        EXPECT_EQ(host.asked[0], std::make_pair(0, 1));
    }
}

// A grey cut-out with red rectangles and discs.
struct Cut {
    CImgBuff image;
    Cut(int32_t w, int32_t h) {
        image.buffer->Create(w, h, kImgRgb8);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) image.SetPixelRgb8(x, y, 100, 100, 100);
    }
    void Rect(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t r = 255) {
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x) image.SetPixelRgb8(x, y, r, r == 255 ? 0 : 100, r == 255 ? 0 : 100);
    }
    void Disc(double cx, double cy, double r) {
        for (int32_t y = 0; y < image.buffer->height; ++y)
            for (int32_t x = 0; x < image.buffer->width; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) image.SetPixelRgb8(x, y, 255, 0, 0);
    }
    // Centroid of the red pixels within a rectangle.
    void Centroid(int32_t x0, int32_t y0, int32_t x1, int32_t y1, double* cx, double* cy) {
        double sx = 0, sy = 0, n = 0;
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x) {
                uint8_t r, g, b;
                image.GetPixelRgb8(x, y, &r, &g, &b);
                if (r == 255 && g == 0) sx += x, sy += y, n += 1;
            }
        *cx = sx / n, *cy = sy / n;
    }
};

TEST(TrackHsv, ChoiceAmongRegionsAndBinarisationOptions) {
    CTrackCtrl ctrl;
    struct Case {
        const char* name;
        std::function<void(Cut&)> draw;
        int32_t size;
        std::map<uint32_t, uint32_t> options;
        int32_t found;
        int32_t expectX0, expectY0, expectX1, expectY1;  // where the chosen region lies
    } cases[] = {
        {"one", [](Cut& c) { c.Disc(17.3, 22.6, 6); }, 41, {}, 1, 0, 0, 40, 40},
        {"manual", [](Cut& c) { c.Disc(20, 14, 3); c.Disc(8, 30, 5); }, 41, {{kTrackOptMultiSelect, 0}}, 0, 0, 0, 0, 0},
        {"unset", [](Cut& c) { c.Disc(20, 14, 3); c.Disc(8, 30, 5); }, 41, {{kTrackOptMultiSelect, 0xFFFFFFFFu}}, 0, 0, 0, 0, 0},
        {"nearest", [](Cut& c) { c.Disc(20, 14, 3); c.Disc(8, 30, 5); }, 41, {{kTrackOptMultiSelect, 1}}, 1, 15, 9, 25, 19},
        {"largest", [](Cut& c) { c.Disc(20, 14, 3); c.Disc(8, 30, 5); }, 41, {{kTrackOptMultiSelect, 2}}, 1, 0, 23, 15, 37},
        {"tie near", [](Cut& c) { c.Rect(8, 18, 12, 22); c.Rect(28, 18, 32, 22); }, 40, {{kTrackOptMultiSelect, 1}}, 1, 0, 0, 19, 39},
        {"tie size", [](Cut& c) { c.Rect(8, 18, 12, 22); c.Rect(28, 18, 32, 22); }, 40, {{kTrackOptMultiSelect, 2}}, 1, 0, 0, 19, 39},
        // A box under 100 pixels keeps small objects and drops those of half the box.
        {"small box", [](Cut& c) { c.Rect(3, 3, 5, 5); }, 9, {}, 1, 0, 0, 8, 8},
        {"half the box", [](Cut& c) { c.Rect(1, 1, 7, 7); }, 9, {}, 0, 0, 0, 0, 0},
        {"noise limits", [](Cut& c) { c.Rect(1, 1, 3, 3); c.Rect(10, 10, 20, 20); c.Rect(25, 25, 30, 30); }, 41,
         {{kTrackOptNoiseAuto, 0}, {kTrackOptNoiseEnableLow, 1}, {kTrackOptNoiseLow, 9}, {kTrackOptNoiseEnableHigh, 1},
          {kTrackOptNoiseHigh, 121}, {kTrackOptMultiSelect, 0}},
         1, 25, 25, 30, 30},
        {"edge", [](Cut& c) { c.Rect(0, 5, 6, 12); c.Rect(20, 20, 26, 27); }, 41,
         {{kTrackOptWindowCut, 1}, {kTrackOptMultiSelect, 0}}, 1, 20, 20, 26, 27},
        // A square ring with an off-centre hole: filled, the centroid is the square's.
        {"ring filled", [](Cut& c) { c.Rect(10, 10, 30, 30); c.Rect(13, 14, 19, 22, 0); }, 41, {}, 1, 0, 0, 40, 40},
        {"ring open", [](Cut& c) { c.Rect(10, 10, 30, 30); c.Rect(13, 14, 19, 22, 0); }, 41, {{kTrackOptHoleFill, 0}}, 1, 0, 0, 40, 40},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        for (uint32_t i = 0; i < kTrackOptCount; ++i) ctrl.options[i] = kTrackOptionDefaults[i];
        for (const auto& [index, value] : k.options) ctrl.options[index] = value;
        Cut cut(k.size, k.size);
        k.draw(cut);
        double ex = 0, ey = 0;
        if (k.found) {
            if (std::string(k.name) == "ring filled") {
                ex = ey = 20;
            } else {
                cut.Centroid(k.expectX0, k.expectY0, k.expectX1, k.expectY1, &ex, &ey);
            }
        }
        CTrackHSV t;
        t.owner = &ctrl;
        t.range = RedRange();
        t.w = t.h = k.size;
        double x = -1, y = -1;
        ASSERT_EQ(t.Find(&cut.image, &x, &y), k.found);
        if (k.found) {
            EXPECT_NEAR(x, ex, 1e-9);
            EXPECT_NEAR(y, ey, 1e-9);
        }
    }
}

TEST(TrackHsv, RangeTestAcrossTheWrap) {
    const HsvRange all = kHsvAcceptAll;
    const HsvRange wrap = {65000, 1000, 0, 65535, 0, 65535};
    struct Case {
        const HsvRange* range;
        uint16_t h;
        bool in;
    } cases[] = {{&all, 12345, true}, {&wrap, 64000, true}, {&wrap, 63999, false}, {&wrap, 65535, true},
                 {&wrap, 0, true},    {&wrap, 464, true},    {&wrap, 465, false}};
    for (const Case& k : cases) EXPECT_EQ(HsvRangeContains(*k.range, k.h, 100, 100), k.in) << k.h;
    const HsvRange sv = {0, 32768, 10, 20, 30, 40};
    EXPECT_TRUE(HsvRangeContains(sv, 0, 10, 40));
    EXPECT_FALSE(HsvRangeContains(sv, 0, 9, 35));
    EXPECT_FALSE(HsvRangeContains(sv, 0, 15, 41));
}

TEST(TrackHsv, PreviewTintMatchesNumpy) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3";
    kvtest::TempDir dir("track_tint");
    // numpy: a palette image, the pure-red pixels kept, every other pixel
    // averaged with the checkerboard for each set of flags.
    const std::string script = R"(
import sys
import numpy as np
rng = np.random.default_rng(3)
palette = np.array([(255, 0, 0), (0, 0, 255), (128, 128, 128), (0, 0, 0), (255, 255, 255), (0, 255, 0)], np.int32)
img = palette[rng.integers(0, len(palette), size=(13, 19))]
open(sys.argv[1] + '/in.rgb', 'wb').write(img.astype(np.uint8).tobytes())
yy, xx = np.mgrid[0:13, 0:19]
dark = ((xx // 4 + yy // 4) % 2) == 1
kept = (img[..., 0] == 255) & (img[..., 1] == 0) & (img[..., 2] == 0)
for name, flags in (('red', (1, 0, 0)), ('white', (1, 1, 1)), ('black', (0, 0, 0))):
    if any(flags):
        checker = np.stack([np.where(dark, 64, 192) * f for f in flags], axis=2)
    else:
        checker = np.stack([np.where(dark, 0, 127)] * 3, axis=2)
    out = np.where(kept[..., None], img, (img + checker) // 2)
    open(sys.argv[1] + '/' + name + '.rgb', 'wb').write(out.astype(np.uint8).tobytes())
)";
    std::string ignored;
    ASSERT_EQ(kvtest::RunPython(script, {dir.path()}, &ignored), 0);
    auto read = [&](const std::string& name) {
        std::ifstream in(dir.file(name), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string input = read("in.rgb");
    ASSERT_EQ(input.size(), 13u * 19 * 3);
    struct Flags {
        const char* name;
        uint8_t r, g, b;
    } flags[] = {{"red", 255, 0, 0}, {"white", 255, 255, 255}, {"black", 0, 0, 0}};
    CTrackCtrl ctrl;
    ctrl.options[kTrackOptNoiseAuto] = 0;
    ctrl.options[kTrackOptHoleFill] = 0;
    for (uint32_t preview = 0; preview <= 1; ++preview) {
        ctrl.options[kTrackOptPreview] = preview;
        for (const Flags& f : flags) {
            SCOPED_TRACE(std::string(f.name) + (preview ? " binarised" : " range"));
            ctrl.tint[0] = f.r, ctrl.tint[1] = f.g, ctrl.tint[2] = f.b;
            CImgBuff image;
            image.buffer->Create(19, 13, kImgRgb8);
            std::memcpy(image.buffer->pixels, input.data(), input.size());
            CTrackHSV t;
            t.owner = &ctrl;
            t.range = RedRange();
            t.w = t.h = 41;
            t.BuildPreview(&image);
            const std::string expected = read(std::string(f.name) + ".rgb");
            ASSERT_EQ(expected.size(), input.size());
            int32_t differing = 0;
            for (size_t i = 0; i < input.size(); ++i) differing += image.buffer->pixels[i] != static_cast<uint8_t>(expected[i]);
            EXPECT_EQ(differing, 0);
        }
    }
}

TEST(TrackHsv, PanelPicksAndUndo) {
    CTrackCtrl ctrl;
    CPanelHSV panel(&ctrl, nullptr);
    CImgBuff image;
    image.buffer->Create(100, 100, kImgRgb8);
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 100; ++x) image.SetPixelRgb8(x, y, 200, 40, 40);
    // Different pixels just outside the boxes the picks must use.
    image.SetPixelRgb8(3, 0, 0, 0, 255);
    image.SetPixelRgb8(70, 58, 0, 0, 255);
    image.SetPixelRgb8(69, 60, 0, 0, 255);
    uint16_t h, s, v;
    image.buffer->GetPixelHsv16(10, 10, &h, &s, &v);

    struct Region {
        int64_t x, y, w, h;
    } region{0, 0, 100, 100};
    struct Rerun {
        CPanelHSV* panel;
        CImgBuff* image;
        Region* region;
        int32_t calls;
    } rerun{&panel, &image, &region, 0};
    panel.change = [](CTrackPanel*, void* user) {
        auto* r = static_cast<Rerun*>(user);
        ++r->calls;
        r->panel->OnFilter(r->image, 0, r->region->x, r->region->y, r->region->w, r->region->h);
    };
    panel.changeUser = &rerun;
    const HsvRange before = {1000, 2000, 3, 4000, 5, 6000};
    panel.range = before;

    EXPECT_EQ(panel.OnLButtonUp(10, 10), 1);  // not in pick mode
    panel.colorSet.checked = 1;
    panel.colorSet.callback(&panel.colorSet, panel.colorSet.data);
    EXPECT_EQ(rerun.calls, 1);
    EXPECT_EQ(panel.historyCount, 1u);
    EXPECT_EQ(panel.OnLButtonDown(0, 0), 0);
    EXPECT_EQ(panel.OnLButtonUp(0, 0), 0);  // the 3 x 3 box at the corner
    const HsvRange one = panel.range;
    EXPECT_EQ(one.hueCentre, h);
    EXPECT_EQ(one.hueWidth, 0);
    EXPECT_EQ(one.satLow, s);
    EXPECT_EQ(one.satHigh, s);
    EXPECT_EQ(one.valLow, v);
    EXPECT_EQ(one.valHigh, v);
    EXPECT_EQ(panel.colorAdd.checked, 1u);
    EXPECT_EQ(panel.colorSet.checked, 0u);
    EXPECT_EQ(panel.pickPending, 0u);
    EXPECT_EQ(panel.hueCentreBar.position, h);

    // Inside a region away from the origin the box stops at its far edge.
    region = {50, 40, 20, 20};
    EXPECT_EQ(panel.OnLButtonUp(69, 59), 0);
    EXPECT_EQ(panel.historyCount, 3u);
    EXPECT_EQ(panel.range.hueWidth, 0);
    // An add beside the blue pixel widens the range.
    region = {0, 0, 100, 100};
    EXPECT_EQ(panel.OnLButtonUp(70, 56), 0);
    EXPECT_GT(panel.range.hueWidth, 0);
    EXPECT_GT(panel.range.satHigh, s);
    EXPECT_EQ(panel.historyCount, 4u);

    // A right click steps back two entries; the sliders show the first.
    EXPECT_EQ(panel.OnRButtonDown(0, 0), 0);
    EXPECT_EQ(panel.OnRButtonUp(), 0);
    EXPECT_EQ(panel.historyCount, 2u);
    EXPECT_EQ(panel.range.hueWidth, 0);
    EXPECT_EQ(panel.OnRButtonDown(0, 0), 0);
    EXPECT_EQ(panel.OnRButtonUp(), 0);
    EXPECT_EQ(panel.historyCount, 0u);
    EXPECT_EQ(panel.history, nullptr);
    EXPECT_EQ(panel.range.hueCentre, before.hueCentre);
    EXPECT_EQ(panel.range.satHigh, before.satHigh);
    EXPECT_EQ(panel.hueCentreBar.position, 0);  // the accept-everything range was shown last
    EXPECT_EQ(panel.OnRButtonDown(0, 0), 0);  // nothing left: nothing popped
    EXPECT_EQ(panel.range.hueCentre, before.hueCentre);

    // A slider ends pick mode.
    panel.satBar.Notify(10, 20);
    EXPECT_FALSE(panel.PickMode());
    EXPECT_EQ(panel.range.satLow, 10);
    EXPECT_EQ(panel.OnRButtonDown(0, 0), 1);

    // Targets take and give the range; the pattern of another engine is untouched.
    CTrackHSV* t = static_cast<CTrackHSV*>(panel.CreateTrack());
    EXPECT_EQ(t->kind, 1u);
    EXPECT_EQ(t->range.satLow, 10);
    t->range.valLow = 77;
    panel.LoadFromTrack(t);
    EXPECT_EQ(panel.range.valLow, 77);
    EXPECT_EQ(panel.valBar.low, 77);
    t->kind = 0;
    t->range.valLow = 99;
    panel.LoadFromTrack(t);
    EXPECT_EQ(panel.range.valLow, 77);
    delete t;
}

}  // namespace
