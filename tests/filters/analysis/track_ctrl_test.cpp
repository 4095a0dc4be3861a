// The tracking controller: targets and columns, nearest points and
// prediction, runs by scene and by ID with manual answers and cancels, the
// editing operations and loading a track file as targets.
#include "filters/analysis/track_ctrl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "support/testsupport.h"
#include "support/track_host.h"

namespace {

CImgBuff* BlankFrame(int32_t w = 64, int32_t h = 48) {
    CImgBuff* image = new CImgBuff;
    image->buffer->Create(w, h, kImgRgb8);
    return image;
}

// A target whose engine answers from a script of (frame → cut-out point);
// a frame missing from the script is not found.
class ScriptTrack : public CTrack {
public:
    std::function<bool(int32_t frame, double* x, double* y)> script;
    std::vector<std::pair<int32_t, int32_t>> cuts;  // cut-out sizes seen
    int32_t Find(CImgBuff* image, double* x, double* y) override {
        cuts.emplace_back(image->buffer->width, image->buffer->height);
        return script && script(owner->currentFrame, x, y) ? 1 : 0;
    }
};

P2dPoint At(CTrackCtrl& c, int32_t frame, int32_t column) {
    P2dPoint p{-7, -7};
    c.table.GetPoint(static_cast<uint32_t>(frame), static_cast<uint32_t>(column), &p);
    return p;
}

void Put(CTrackCtrl& c, int32_t frame, int32_t column, double x, double y) {
    ASSERT_TRUE(c.table.SetPoint(static_cast<uint32_t>(frame), static_cast<uint32_t>(column), {x, y}));
}

CTrack* Box(int32_t x, int32_t y, int32_t w, int32_t h) {
    CTrack* t = new CTrack;
    t->x = x, t->y = y, t->w = w, t->h = h;
    return t;
}

TEST(TrackCtrl, StartsEmptyWithTheOptionDefaults) {
    g_P2dLastError = 3;
    CTrackCtrl c;
    EXPECT_EQ(g_P2dLastError, 0);
    EXPECT_EQ(c.targetCount, 0);
    EXPECT_EQ(c.currentTarget, -1);
    EXPECT_EQ(c.currentFrame, -1);
    const uint32_t expected[] = {1, 8, 1, 0, 0, 10, 1000, 0, 1, 1, 0, 90};
    for (uint32_t i = 0; i < kTrackOptCount; ++i) EXPECT_EQ(c.Option(i), expected[i]) << i;
    for (auto& t : c.tint) EXPECT_EQ(t, 255);
}

TEST(TrackCtrl, AddRefusesBadBoxesAndAddsColumns) {
    TrackHost c;
    for (int i = 0; i < 5; ++i) c.AddFrame(BlankFrame());
    struct Case {
        int32_t x, y, w, h;
        int32_t ok;
    } cases[] = {{0, 0, 0, 5, 0}, {0, 0, 5, 0, 0}, {-5, 0, 5, 5, 0}, {-4, 0, 5, 5, 1}, {0, -6, 5, 5, 0}, {0, -4, 5, 5, 1}};
    int32_t added = 0;
    for (const Case& k : cases) {
        CTrack* t = Box(k.x, k.y, k.w, k.h);
        const int32_t index = c.AddTarget(t);
        if (k.ok) {
            EXPECT_EQ(index, added++);
            EXPECT_EQ(t->owner, &c);
        } else {
            EXPECT_EQ(index, -1);
            delete t;
        }
        EXPECT_EQ(c.table.Columns(), static_cast<uint32_t>(added));
    }
    EXPECT_EQ(c.AddTarget(nullptr), -1);
    EXPECT_EQ(c.AddTarget(Box(1, 1, 3, 3)), 2);
    c.SizeTable();
    for (int32_t f = 0; f < 5; ++f)
        for (int32_t col = 0; col < 3; ++col) {
            EXPECT_EQ(At(c, f, col).x, -1);
            EXPECT_EQ(At(c, f, col).y, -1);
        }
}

TEST(TrackCtrl, RemoveMovesLaterColumnsDown) {
    CTrackCtrl c;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(c.AddTarget(Box(0, 0, 3, 3)), i);
    c.table.SetRows(4);
    CTrack* third = c.targets[2];
    Put(c, 2, 2, 5.5, 6.5);
    EXPECT_EQ(c.RemoveTarget(1), 1);
    EXPECT_EQ(c.targetCount, 2);
    EXPECT_EQ(c.targets[1], third);
    EXPECT_EQ(c.table.Columns(), 2u);
    EXPECT_EQ(At(c, 2, 1).x, 5.5);
    EXPECT_EQ(c.RemoveTarget(2), 0);
    EXPECT_EQ(c.RemoveTarget(-1), 0);
    while (c.RemoveTarget(0)) {
    }
    EXPECT_EQ(c.targetCount, 0);
    EXPECT_EQ(c.targets, nullptr);
}

TEST(TrackCtrl, NearestPointAndPrediction) {
    CTrackCtrl c;
    ASSERT_EQ(c.AddTarget(Box(0, 0, 5, 3)), 0);
    c.table.SetRows(10);
    Put(c, 3, 0, 10, 10);
    Put(c, 7, 0, 30, 40);
    double x = 99, y = 99;
    struct Case {
        int32_t frame, step;
        int32_t found;
        double x, y;
    } cases[] = {{5, 1, 1, 10, 10}, {5, -1, 1, 30, 40}, {3, -1, 1, 10, 10}, {0, 1, 1, 10, 10},
                 {9, 1, 1, 30, 40}, {8, -1, 1, 30, 40}};
    for (const Case& k : cases) {
        EXPECT_EQ(c.FindNearestPoint(0, k.frame, k.step, &x, &y), k.found) << k.frame << " " << k.step;
        EXPECT_EQ(x, k.x);
        EXPECT_EQ(y, k.y);
    }
    x = y = 99;
    EXPECT_EQ(c.FindNearestPoint(0, 10, 1, &x, &y), 0);
    EXPECT_EQ(x, 99);  // outside the table: untouched
    EXPECT_EQ(c.FindNearestPoint(1, 0, 1, &x, &y), 0);
    c.ClearPoints(0, 0, 9);
    EXPECT_EQ(c.FindNearestPoint(0, 4, 1, &x, &y), 0);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);

    // Prediction: (10, 10) at 3 and (14, 12) at 4 put the box for 5 on (18, 14).
    Put(c, 3, 0, 10, 10);
    Put(c, 4, 0, 14, 12);
    c.PlaceTarget(0, 5, 1, 1);
    EXPECT_EQ(c.targets[0]->x, 16);  // trunc(18 - 2)
    EXPECT_EQ(c.targets[0]->y, 13);  // trunc(14 - 1)
    c.PlaceTarget(0, 5, 1, 0);       // without prediction: on the nearest point
    EXPECT_EQ(c.targets[0]->x, 12);
    EXPECT_EQ(c.targets[0]->y, 11);
    // Backwards from frame 2: points at 3 and 4 predict (6, 8).
    c.PlaceTarget(0, 2, -1, 1);
    EXPECT_EQ(c.targets[0]->x, 4);
    EXPECT_EQ(c.targets[0]->y, 7);
}

TEST(TrackCtrl, FarPointsCentreWithoutOverflow) {
    int32_t x = 0, y = 0;
    TrackCentreBox(1e300, -1e300, 11, 11, &x, &y);
    EXPECT_EQ(x, (1 << 30) - 5);
    EXPECT_EQ(y, -(1 << 30) - 5);
    TrackCentreBox(std::nan(""), 3.9, 1, 1, &x, &y);
    EXPECT_EQ(y, 3);
    TrackCentreBox(-0.5, 10.0, 2, 4, &x, &y);
    EXPECT_EQ(x, -1);  // trunc(-1.0)
    EXPECT_EQ(y, 8);   // trunc(8.5)
}

// A host with frames and one scripted target per path.
struct Movie {
    TrackHost host;
    std::vector<ScriptTrack*> tracks;
    explicit Movie(int32_t frames, int32_t targets) {
        for (int i = 0; i < frames; ++i) host.AddFrame(BlankFrame());
        for (int i = 0; i < targets; ++i) {
            ScriptTrack* t = new ScriptTrack;
            t->w = t->h = 9;
            EXPECT_EQ(host.AddTarget(t), i);
            tracks.push_back(t);
        }
        host.SizeTable();
    }
};

TEST(TrackCtrl, ByScenePointsInImagePixels) {
    Movie r(6, 1);
    r.host.targets[0]->x = 10, r.host.targets[0]->y = 12;
    // Found 0.25 right of the cut-out's centre every frame: the box walks right.
    r.tracks[0]->script = [](int32_t, double* x, double* y) {
        *x = 4.25;
        *y = 4.0;
        return true;
    };
    r.host.TrackByScene(1, 0, 0);
    EXPECT_EQ(r.host.refreshes, 1);
    EXPECT_TRUE(r.host.asked.empty());
    double expectX = 10;
    for (int32_t f = 0; f < 6; ++f) {
        expectX = std::trunc(expectX) + 4.25;
        EXPECT_DOUBLE_EQ(At(r.host, f, 0).x, expectX) << f;
        EXPECT_DOUBLE_EQ(At(r.host, f, 0).y, 16.0) << f;
        expectX -= 4;  // the next box is centred on the point
    }
    EXPECT_EQ(r.host.targets[0]->lost, 0u);
}

TEST(TrackCtrl, BoxesAreClippedToTheImage) {
    Movie r(1, 1);
    r.host.targets[0]->x = -3, r.host.targets[0]->y = 44;  // 64 x 48 frames
    r.tracks[0]->script = [](int32_t, double* x, double* y) {
        *x = 0;
        *y = 0;
        return true;
    };
    r.host.TrackByScene(1, 0, 0);
    ASSERT_EQ(r.tracks[0]->cuts.size(), 1u);
    EXPECT_EQ(r.tracks[0]->cuts[0], std::make_pair(6, 4));
    EXPECT_EQ(At(r.host, 0, 0).x, 0);
    EXPECT_EQ(At(r.host, 0, 0).y, 44);
    // A box wholly off the picture asks the user.
    r.host.ClearPoints(0, 0, 0);
    r.host.targets[0]->x = 70;
    r.host.answers.push_back({TrackHost::Answer::Point, 3, 4});
    r.host.TrackByScene(1, 0, 0);
    EXPECT_EQ(r.host.asked.size(), 1u);
    EXPECT_EQ(At(r.host, 0, 0).x, 3);
}

TEST(TrackCtrl, ManualAnswersAndLostTargets) {
    // Target 0 vanishes at frame 10; target 1 at frame 14.
    Movie r(20, 2);
    for (int i = 0; i < 2; ++i) {
        const int32_t gone = i == 0 ? 10 : 14;
        r.host.targets[i]->x = 5 + 20 * i, r.host.targets[i]->y = 5;
        r.tracks[i]->script = [gone](int32_t f, double* x, double* y) {
            if (f >= gone) return false;
            *x = *y = 4;
            return true;
        };
    }
    struct Case {
        const char* name;
        std::vector<TrackHost::Manual> answers;
        int32_t lastFrame;  // the run ends after this frame
        size_t asked;
    } cases[] = {
        // Lost: (-1, -1) and never asked again; the run ends when both are lost.
        {"lost", {}, 14, 2},
        // A point, then lost at the next frame.
        {"point", {{TrackHost::Answer::Point, 30, 31}}, 14, 3},
        // Skip stores nothing for the frame and keeps asking.
        {"skip", {{TrackHost::Answer::Skip, 0, 0}}, 14, 3},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        r.host.table.SetRows(0);
        r.host.SizeTable();
        r.host.asked.clear();
        r.host.visited.clear();
        r.host.answers.assign(k.answers.begin(), k.answers.end());
        for (int i = 0; i < 2; ++i) r.host.targets[i]->x = 5 + 20 * i, r.host.targets[i]->y = 5;
        r.host.TrackByScene(1, 0, 0);
        EXPECT_EQ(r.host.visited.back(), k.lastFrame);
        ASSERT_EQ(r.host.asked.size(), k.asked);
        EXPECT_EQ(r.host.asked[0], std::make_pair(0, 10));
        EXPECT_EQ(At(r.host, 9, 0).x, 9);  // tracked before
        const P2dPoint at10 = At(r.host, 10, 0);
        if (std::string(k.name) == "lost") {
            EXPECT_EQ(at10.x, -1);
            for (int32_t f = 11; f < 20; ++f) EXPECT_EQ(At(r.host, f, 0).x, -1);
            EXPECT_EQ(r.host.asked[1], std::make_pair(1, 14));
        } else if (std::string(k.name) == "point") {
            EXPECT_EQ(at10.x, 30);
            EXPECT_EQ(at10.y, 31);
            EXPECT_EQ(r.host.asked[1], std::make_pair(0, 11));
            EXPECT_EQ(At(r.host, 11, 0).x, -1);
        } else {
            EXPECT_EQ(at10.x, -1);  // nothing stored
            EXPECT_EQ(r.host.asked[1], std::make_pair(0, 11));
        }
        EXPECT_EQ(At(r.host, 13, 1).x, 29);
        for (int i = 0; i < 2; ++i) EXPECT_EQ(r.host.targets[i]->lost, 0u);  // cleared at the end
    }
}

TEST(TrackCtrl, CancelKeepsEarlierFramesAndDropsThePointInFlight) {
    Movie r(10, 1);
    r.host.targets[0]->x = 0, r.host.targets[0]->y = 0;
    r.tracks[0]->script = [](int32_t, double* x, double* y) {
        *x = *y = 4;
        return true;
    };
    // Three ticks per frame (one before the target, two inside): the fifth
    // tick is the store of frame 1.
    r.host.cancelAfter = 4;
    r.host.TrackByScene(1, 0, 0);
    EXPECT_EQ(At(r.host, 0, 0).x, 4);
    EXPECT_EQ(At(r.host, 1, 0).x, -1);
    EXPECT_EQ(r.host.visited.size(), 2u);
    EXPECT_EQ(r.host.refreshes, 1);
}

TEST(TrackCtrl, ByIdRunsEachTargetAndSurvivesAFailedFrame) {
    Movie r(8, 2);
    for (int i = 0; i < 2; ++i) {
        r.host.targets[i]->x = 10 * i, r.host.targets[i]->y = 0;
        r.tracks[i]->script = [](int32_t, double* x, double* y) {
            *x = *y = 4;
            return true;
        };
    }
    r.host.failFrame = 5;
    r.host.TrackById(1, 0, -1, 0);
    const std::vector<int32_t> expected = {0, 1, 2, 3, 4, 0, 1, 2, 3, 4};
    EXPECT_EQ(r.host.visited, expected);
    EXPECT_EQ(At(r.host, 4, 1).x, 14);
    EXPECT_EQ(At(r.host, 5, 1).x, -1);
    // Backwards, one target only.
    r.host.visited.clear();
    r.host.failFrame = -1;
    r.host.TrackById(-1, 0, 1, 0);
    EXPECT_EQ(r.host.visited.front(), 7);
    EXPECT_EQ(r.host.visited.size(), 8u);
    const int32_t refreshes = r.host.refreshes;
    r.host.TrackById(1, 0, 2, 0);  // no such target: nothing, no refresh
    EXPECT_EQ(r.host.refreshes, refreshes);
}

TEST(TrackCtrl, EraseJoinAndSplit) {
    CTrackCtrl c;
    ASSERT_EQ(c.AddTarget(Box(0, 0, 5, 5)), 0);
    ASSERT_EQ(c.AddTarget(Box(0, 0, 7, 7)), 1);
    c.table.SetRows(10);
    for (int32_t f = 0; f <= 4; ++f) Put(c, f, 0, f, 100);
    for (int32_t f = 3; f <= 9; ++f) Put(c, f, 1, f, 200);
    EXPECT_EQ(c.MergeTargets(0, 0), 0);  // a target is not joined with itself
    EXPECT_EQ(c.MergeTargets(0, 1), 1);
    EXPECT_EQ(c.targetCount, 1);
    for (int32_t f = 0; f <= 9; ++f) EXPECT_EQ(At(c, f, 0).y, f <= 4 ? 100 : 200) << f;

    c.targets[0]->kind = 1;
    EXPECT_EQ(c.SplitTarget(0, 6), 1);
    ASSERT_EQ(c.targetCount, 2);
    EXPECT_EQ(c.targets[1]->kind, 1u);
    EXPECT_EQ(c.targets[1]->w, 5);
    for (int32_t f = 0; f <= 9; ++f) {
        EXPECT_EQ(At(c, f, 0).x, f < 6 ? f : -1) << f;
        EXPECT_EQ(At(c, f, 1).x, f < 6 ? -1 : f) << f;
    }
    EXPECT_EQ(c.SplitTarget(0, 6), 0);  // no point from there on
    EXPECT_EQ(c.targetCount, 2);

    struct Erase {
        int32_t target, first, last, ok;
    } erases[] = {{0, 2, 1, 0}, {0, -1, 3, 0}, {0, 0, 10, 0}, {2, 0, 1, 0}, {0, 1, 2, 1}};
    for (const Erase& e : erases) EXPECT_EQ(c.ClearPoints(e.target, e.first, e.last), e.ok);
    EXPECT_EQ(At(c, 0, 0).x, 0);
    EXPECT_EQ(At(c, 1, 0).x, -1);
    EXPECT_EQ(At(c, 2, 0).x, -1);
    EXPECT_EQ(At(c, 3, 0).x, 3);
}

TEST(TrackCtrl, LoadP2dMakesTargetsAndKeepsThemWhenTheFileFails) {
    kvtest::TempDir dir("track_load");
    const std::string good = dir.file("two.p2d");
    {
        CP2dData d;
        ASSERT_TRUE(d.Create(2, 6));
        d.SetPoint(2, 0, {20.7, 30.2});
        d.SetPoint(4, 1, {5e9, 7.5});  // far beyond any image: clamped, not undefined
        ASSERT_TRUE(d.Save(good.c_str()));
    }
    const std::string text = dir.file("text.p2d");
    FILE* f = std::fopen(text.c_str(), "w");
    std::fputs("not a track file at all, just some text\n", f);
    std::fclose(f);

    CTrackCtrl c;
    ASSERT_EQ(c.AddTarget(Box(3, 3, 9, 9)), 0);
    c.table.SetRows(3);
    Put(c, 1, 0, 8, 8);
    EXPECT_EQ(c.LoadP2d(text.c_str()), 0);
    EXPECT_EQ(c.table.error, static_cast<uint32_t>(kP2dNotTrackFile));
    EXPECT_EQ(c.targetCount, 1);
    EXPECT_EQ(At(c, 1, 0).x, 8);
    EXPECT_EQ(c.LoadP2d(dir.file("missing.p2d").c_str()), 0);
    EXPECT_EQ(c.targetCount, 1);

    ASSERT_EQ(c.LoadP2d(good.c_str()), 1);
    ASSERT_EQ(c.targetCount, 2);
    EXPECT_EQ(c.table.Rows(), 6u);
    const int32_t corners[2][2] = {{15, 25}, {(1 << 30) - 5, 2}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(c.targets[i]->kind, 0u);
        EXPECT_EQ(c.targets[i]->w, 11);
        EXPECT_EQ(c.targets[i]->h, 11);
        EXPECT_EQ(c.targets[i]->x, corners[i][0]) << i;
        EXPECT_EQ(c.targets[i]->y, corners[i][1]) << i;
    }
    EXPECT_EQ(At(c, 2, 0).x, 20.7);
}

}  // namespace
