// The pattern tracker: a textured patch of a numpy/OpenCV movie followed on
// its sub-pixel path (against the truth and OpenCV's TM_SQDIFF match), a
// turning patch with the rotated templates on one and on all pool threads,
// the similarity threshold, the panel's mouse protocol with its edge clips
// and cancel, and the overlay corners at three zooms.
#include "filters/analysis/track_pat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "image/pool.h"
#include "support/testsupport.h"
#include "support/track_host.h"

namespace {

bool MakeMovie(const std::string& mode, const std::string& dir) {
    const std::string script =
        "import runpy, sys\nsys.argv = sys.argv[1:]\nrunpy.run_path(sys.argv[0], run_name='__main__')\n";
    std::string out;
    return kvtest::RunPython(script, {std::string(KV_SOURCE_DIR) + "/tests/filters/analysis/oracle/track_movie.py", mode, dir},
                             &out) == 0;
}

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

P2dPoint At(CTrackCtrl& c, int32_t frame, int32_t column) {
    P2dPoint p{-7, -7};
    c.table.GetPoint(static_cast<uint32_t>(frame), static_cast<uint32_t>(column), &p);
    return p;
}

// Draws a pattern target with the panel: press at the centre, move `reach`
// pixels right, release.
CTrackPAT* Draw(TrackHost& host, CPanelPAT& panel, int32_t cx, int32_t cy, int32_t reach) {
    const int32_t before = host.targetCount;
    panel.OnLButtonDown(cx, cy);
    panel.OnMouseMove(cx + reach, cy);
    panel.OnLButtonUp(cx + reach, cy);
    if (host.targetCount != before + 1) return nullptr;
    return static_cast<CTrackPAT*>(host.targets[host.targetCount - 1]);
}

class PatchMovie : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (kvtest::DebianPython().empty()) return;
        dir_ = new kvtest::TempDir("track_patch");
        ready_ = MakeMovie("patch", dir_->path());
        std::ifstream in(dir_->file("truth.txt"));
        std::string kind;
        int32_t f;
        double x, y;
        while (in >> kind >> f >> x >> y) truth_[kind].push_back({x, y});
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "no numpy/OpenCV movie";
    }
    static kvtest::TempDir* dir_;
    static bool ready_;
    static std::map<std::string, std::vector<P2dPoint>> truth_;
};
kvtest::TempDir* PatchMovie::dir_ = nullptr;
bool PatchMovie::ready_ = false;
std::map<std::string, std::vector<P2dPoint>> PatchMovie::truth_;

TEST_F(PatchMovie, TranslationFollowsThePath) {
    TrackHost host;
    LoadFrames(&host, dir_->file("shift.rgb"), 200, 160);
    ASSERT_EQ(host.frames.size(), 40u);
    host.GoToFrame(0);
    CPanelPAT panel(&host, nullptr);
    CTrackPAT* t = Draw(host, panel, 60, 50, 22);
    ASSERT_NE(t, nullptr);
    // Distance 22: r 23, p 16, search 48, box 97 x 97.
    EXPECT_EQ(t->p, 16u);
    EXPECT_EQ(t->searchHalfW, 48u);
    EXPECT_EQ(t->w, 97);
    EXPECT_EQ(t->h, 97);
    ASSERT_NE(t->templates, nullptr);
    host.SizeTable();
    host.TrackByScene(1, 0, 0);
    EXPECT_TRUE(host.asked.empty());
    const auto& path = truth_["shift"];
    const auto& cv = truth_["opencv"];
    for (int32_t f = 0; f < 40; ++f) {
        const P2dPoint p = At(host, f, 0);
        EXPECT_LT(std::hypot(p.x - path[f].x, p.y - path[f].y), 0.1) << f;
        EXPECT_LT(std::hypot(p.x - cv[f].x, p.y - cv[f].y), 0.25) << f;
    }
}

TEST_F(PatchMovie, RotatedTemplatesFollowATurningPatch) {
    const uint64_t threads = g_PoolThreadCount.load();
    for (uint64_t count : {uint64_t{1}, PoolGetProcessorCount()}) {
        SCOPED_TRACE(count);
        ASSERT_TRUE(PoolSetThreadCount(count));
        TrackHost host;
        LoadFrames(&host, dir_->file("turn.rgb"), 200, 160);
        host.GoToFrame(0);
        CPanelPAT panel(&host, nullptr);
        panel.rollCheck.checked = 1;
        panel.rollCheck.callback(&panel.rollCheck, panel.rollCheck.data);
        EXPECT_EQ(host.Option(kTrackOptRotation), 1u);
        ASSERT_NE(Draw(host, panel, 100, 80, 22), nullptr);
        host.SizeTable();
        host.TrackByScene(1, 0, 0);
        EXPECT_TRUE(host.asked.empty());
        for (int32_t f = 0; f < 40; ++f) {
            const P2dPoint p = At(host, f, 0);
            EXPECT_LT(std::hypot(p.x - 100.0, p.y - 80.0), 1.0) << f;
        }
    }
    PoolSetThreadCount(threads);
}

// A uniform frame of level 100 to cut templates from.
void UniformHost(TrackHost& host, uint8_t level = 100) {
    CImgBuff* f = new CImgBuff;
    f->buffer->Create(64, 64, kImgRgb8);
    std::memset(f->buffer->pixels, level, 64 * 64 * 3);
    host.AddFrame(f);
    host.GoToFrame(0);
}

TEST(TrackPat, ThresholdIsAMinimumSimilarity) {
    TrackHost host;
    UniformHost(host);
    CTrackPAT t;
    t.owner = &host;
    t.p = 5;
    double x = 0, y = 0;
    CImgBuff search;
    search.buffer->Create(30, 30, kImgRgb8);
    EXPECT_EQ(t.Find(&search, &x, &y), 0);  // no template yet
    ASSERT_TRUE(t.CutTemplate(32, 32));
    struct Case {
        uint32_t threshold;
        uint8_t level;  // score = |level - 100| / 255 * 100
        int32_t found;
    } cases[] = {{90, 125, 1}, {90, 126, 0}, {90, 75, 1}, {99, 102, 1}, {99, 103, 0}, {50, 227, 1}, {50, 228, 0}};
    for (const Case& k : cases) {
        host.options[kTrackOptThreshold] = k.threshold;
        std::memset(search.buffer->pixels, k.level, 30 * 30 * 3);
        EXPECT_EQ(t.Find(&search, &x, &y), k.found) << k.threshold << " " << int(k.level);
        if (k.found) {
            // Equal scores everywhere: the start position wins.
            EXPECT_NEAR(x, 15, 0.11);
            EXPECT_NEAR(y, 15, 0.11);
        }
    }
    // A cut-out smaller than the template.
    CImgBuff small;
    small.buffer->Create(10, 12, kImgRgb8);
    EXPECT_EQ(t.Find(&small, &x, &y), 0);
}

TEST(TrackPat, DrawingAndMovingKeepTheTemplatesInsideTheImage) {
    TrackHost host;
    UniformHost(host);
    CImgBuff* big = new CImgBuff;  // 200 x 160, textured so that cuts differ
    big->buffer->Create(200, 160, kImgRgb8);
    for (int32_t y = 0; y < 160; ++y)
        for (int32_t x = 0; x < 200; ++x) big->SetPixelRgb8(x, y, static_cast<uint8_t>(x * 7 + y), 50, 90);
    host.frames[0].reset(big);
    CPanelPAT panel(&host, nullptr);
    // A press at each edge: the drawn size shrinks until the half-diagonal fits.
    struct Edge {
        int32_t x, y;
        uint32_t p;
    } edges[] = {{5, 80, 3}, {194, 80, 3}, {100, 5, 3}, {100, 154, 3}, {12, 30, 8}, {100, 100, 16}};
    for (const Edge& e : edges) {
        SCOPED_TRACE(std::to_string(e.x) + "," + std::to_string(e.y));
        CTrackPAT* t = Draw(host, panel, e.x, e.y, 22);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->p, e.p);
        EXPECT_LE(PatternReach(static_cast<int32_t>(t->p)), std::min({e.x, e.y, 199 - e.x, 159 - e.y}));
        EXPECT_NE(t->templates, nullptr);
    }
    // Moving the last target against each edge: the centre stops at the
    // template's reach and the cut succeeds.
    CTrackPAT* t = static_cast<CTrackPAT*>(host.targets[host.targetCount - 1]);
    const int32_t reach = PatternReach(16);
    struct Move {
        int32_t x, y, cx, cy;
    } moves[] = {{0, 100, reach, 100}, {199, 100, 199 - reach, 100}, {100, 0, 100, reach}, {100, 159, 100, 159 - reach}};
    for (const Move& m : moves) {
        const int32_t cx = t->x + 48, cy = t->y + 48;
        const ImageList* old = t->templates;
        EXPECT_EQ(panel.OnLButtonDown(cx, cy), 0);
        EXPECT_EQ(panel.state, 3u);
        EXPECT_EQ(panel.OnMouseMove(m.x, m.y), 0);
        EXPECT_EQ(panel.OnLButtonUp(m.x, m.y), 0);
        EXPECT_EQ(panel.state, 0u);
        EXPECT_EQ(t->x + 48, m.cx);
        EXPECT_EQ(t->y + 48, m.cy);
        EXPECT_NE(t->templates, old);
        EXPECT_NE(t->templates, nullptr);
    }
    // A cut that cannot be made keeps the templates held before.
    const ImageList* kept = t->templates;
    EXPECT_EQ(t->CutTemplate(2, 2), 0);
    EXPECT_EQ(t->templates, kept);
}

TEST(TrackPat, CancelAddAndCopies) {
    TrackHost host;
    UniformHost(host);
    CPanelPAT panel(&host, nullptr);
    // A right press before any pattern was drawn adds nothing.
    EXPECT_EQ(panel.OnRButtonDown(30, 30), 0);
    EXPECT_EQ(host.targetCount, 0);
    EXPECT_EQ(panel.CancelAdd(), 0);  // state 0

    // State 1: the target being drawn is taken back.
    panel.OnLButtonDown(30, 30);
    EXPECT_EQ(panel.state, 1u);
    EXPECT_EQ(host.targetCount, 1);
    host.table.error = 5;
    EXPECT_EQ(panel.CancelAdd(), 1);
    EXPECT_EQ(host.targetCount, 0);
    EXPECT_EQ(host.table.error, 0u);
    EXPECT_EQ(panel.state, 0u);
    EXPECT_EQ(panel.edited, nullptr);

    CTrackPAT* first = Draw(host, panel, 30, 30, 10);
    ASSERT_NE(first, nullptr);
    host.SizeTable();
    host.table.SetPoint(0, 0, {30, 30});
    // State 2: a copy placed with the right button stays.
    EXPECT_EQ(panel.OnRButtonDown(20, 40), 0);
    EXPECT_EQ(panel.state, 2u);
    ASSERT_EQ(host.targetCount, 2);
    CTrackPAT* copy = static_cast<CTrackPAT*>(host.targets[1]);
    EXPECT_EQ(copy->p, first->p);
    EXPECT_EQ(copy->x, 20 - static_cast<int32_t>(first->searchHalfW));
    EXPECT_EQ(copy->w, first->w);
    EXPECT_EQ(panel.CancelAdd(), 0);
    EXPECT_EQ(host.targetCount, 2);
    EXPECT_EQ(panel.OnRButtonUp(), 0);  // nothing more: state 0 already

    // State 3: moving the first target (which has a tracked point) is ended,
    // not undone by removing a target.
    EXPECT_EQ(panel.OnLButtonDown(30, 30), 0);
    EXPECT_EQ(panel.state, 3u);
    EXPECT_EQ(panel.edited, first);
    EXPECT_EQ(panel.CancelAdd(), 0);
    EXPECT_EQ(host.targetCount, 2);
    EXPECT_EQ(panel.state, 0u);
    EXPECT_EQ(At(host, 0, 0).x, 30);
    panel.OnLButtonDown(60, 5);
    EXPECT_EQ(host.targetCount, 3);
    panel.Reset();
    EXPECT_EQ(panel.state, 0u);
}

// Records the lines an overlay draws.
class LineRecorder : public COverlayPen {
public:
    std::vector<std::vector<double>> lines;
    void Colour(double, double, double) override {}
    void Line(double x1, double y1, double x2, double y2) override { lines.push_back({x1, y1, x2, y2}); }
    void Triangle(double, double, double, double, double, double) override {}
    void Quad(double, double, double, double) override {}
};

double Identity(int32_t v) { return v; }

TEST(TrackPat, OverlayCornersAtThreeZooms) {
    CTrackCtrl ctrl;
    CTrackPAT t;
    t.owner = &ctrl;
    t.x = 10, t.y = 20, t.p = 2, t.searchHalfW = 6, t.searchHalfH = 5;  // centre (16, 25)
    LineRecorder rec;
    COverlayPen* previous = SetOverlayPen(&rec);
    struct Case {
        int32_t zoom;
        double tx0, ty0, tx1, ty1;  // template square
        double sx0, sy0, sx1, sy1;  // search box
    } cases[] = {{1, 14, 23, 18, 27, 10, 20, 22, 30},
                 {2, 28, 46, 37, 55, 20, 40, 45, 61},
                 {-2, 7, 11, 9, 13, 5, 10, 11, 15}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.zoom);
        for (uint32_t rotation = 0; rotation <= 1; ++rotation) {
            ctrl.options[kTrackOptRotation] = rotation;
            rec.lines.clear();
            OverlayRect rect;
            rect.viewX1 = rect.viewY1 = rect.imageX1 = rect.imageY1 = 199;
            rect.zoom = k.zoom;
            t.DrawOverlay(Identity, Identity, rect, 1, 0, 0);
            ASSERT_EQ(rec.lines.size(), rotation ? 44u : 8u);
            EXPECT_EQ(rec.lines[0], (std::vector<double>{k.tx0, k.ty0, k.tx1, k.ty0}));
            EXPECT_EQ(rec.lines[1], (std::vector<double>{k.tx1, k.ty0, k.tx1, k.ty1}));
            const size_t s = rotation ? 40 : 4;
            EXPECT_EQ(rec.lines[s], (std::vector<double>{k.sx0, k.sy0, k.sx1, k.sy0}));
            EXPECT_EQ(rec.lines[s + 2], (std::vector<double>{k.sx1, k.sy1, k.sx0, k.sy1}));
        }
    }
    // The circle of the rotation search: radius trunc(2 sqrt 2) = 2 around
    // the centre, its quarter points on the axes.
    ctrl.options[kTrackOptRotation] = 1;
    rec.lines.clear();
    OverlayRect rect;
    rect.viewX1 = rect.viewY1 = rect.imageX1 = rect.imageY1 = 199;
    t.DrawOverlay(Identity, Identity, rect, 1, 0, 0);
    EXPECT_EQ(rec.lines[4][0], 18);
    EXPECT_EQ(rec.lines[4][1], 25);
    EXPECT_EQ(rec.lines[4 + 9][0], 16);
    EXPECT_EQ(rec.lines[4 + 9][1], 27);
    EXPECT_EQ(rec.lines[4 + 18][0], 14);
    EXPECT_EQ(rec.lines[4 + 27][1], 23);
    SetOverlayPen(previous);
}

}  // namespace
