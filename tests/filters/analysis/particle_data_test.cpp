// The particle store: frames, records, ids, removal and renumbering, the
// out-of-memory paths through a failing allocator, and the per-frame index.
#include "filters/analysis/particle_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

// Allocations fail once the budget is used up.
int g_Budget = -1;
void* BudgetAllocate(size_t bytes) {
    if (g_Budget == 0) return nullptr;
    if (g_Budget > 0) --g_Budget;
    return std::malloc(bytes);
}

struct FailingAllocator {
    explicit FailingAllocator(int budget) {
        g_Budget = budget;
        previous = SetParticleAllocator(BudgetAllocate);
    }
    ~FailingAllocator() {
        SetParticleAllocator(previous);
        g_Budget = -1;
    }
    ParticleAllocFn previous;
};

Particle P(int32_t id, double x = 0.0, double y = 0.0) { return Particle{id, 1, x, y}; }

std::vector<int32_t> Ids(const CParticleData& d, int32_t frame) {
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < d.frames[frame].count; ++i) ids.push_back(d.frames[frame].records[i].id);
    return ids;
}

// A snapshot of everything observable, to show that a refused call changed nothing.
std::string Dump(const CParticleData& d) {
    std::string s = std::to_string(d.frameCount) + "/" + std::to_string(d.idCount) + ":";
    for (int32_t f = 0; f < d.frameCount; ++f) {
        s += "[" + std::to_string(d.frames[f].topId);
        for (int32_t i = 0; i < d.frames[f].count; ++i) {
            const Particle& p = d.frames[f].records[i];
            s += " " + std::to_string(p.id) + "," + std::to_string(p.valid) + "," + std::to_string(p.x) + "," +
                 std::to_string(p.y);
        }
        s += "]";
    }
    return s;
}

TEST(ParticleData, FramesGrowShrinkAndRefuseZero) {
    CParticleData d;
    EXPECT_EQ(d.SetFrames(0), 0);
    EXPECT_EQ(d.SetFrames(-3), 0);
    EXPECT_EQ(d.frames, nullptr);
    ASSERT_EQ(d.SetFrames(3), 1);
    ASSERT_EQ(d.frameCount, 3);
    for (int32_t f = 0; f < 3; ++f) {
        EXPECT_EQ(d.frames[f].topId, -1);
        EXPECT_EQ(d.frames[f].count, 0);
    }
    ASSERT_EQ(d.AddParticle(1, P(4, 1.5, 2.5)), 0);
    ASSERT_EQ(d.AddParticle(2, P(6)), 0);
    const std::string before = Dump(d);
    EXPECT_EQ(d.SetFrames(0), 0);
    EXPECT_EQ(Dump(d), before);

    // Growing moves frames over whole and resets the id count to "recompute".
    ASSERT_EQ(d.SetFrames(5), 1);
    EXPECT_EQ(d.idCount, 0);
    EXPECT_EQ(d.frames[1].topId, 4);
    EXPECT_EQ(d.frames[1].records[0].x, 1.5);
    EXPECT_EQ(d.frames[4].topId, -1);
    EXPECT_EQ(d.GetIdCount(), 7);
    // Shrinking releases the frames beyond.
    ASSERT_EQ(d.SetFrames(2), 1);
    EXPECT_EQ(d.frameCount, 2);
    EXPECT_EQ(d.GetIdCount(), 5);
    d.Clear();
    EXPECT_EQ(d.frames, nullptr);
    EXPECT_EQ(d.frameCount, 0);
    EXPECT_EQ(d.idCount, 0);
}

TEST(ParticleData, SetParticlesKeepsFirstRecordsAndFillsAddedOnes) {
    CParticleData d;
    EXPECT_EQ(d.SetParticles(0, 1), 0);  // no frames
    ASSERT_EQ(d.SetFrames(2), 1);
    EXPECT_EQ(d.SetParticles(2, 1), 0);
    EXPECT_EQ(d.SetParticles(-1, 1), 0);
    EXPECT_EQ(d.SetParticles(0, -1), 0);
    for (int32_t id = 0; id < 3; ++id) d.AddParticle(0, P(id, id, id));
    ASSERT_EQ(d.SetParticles(0, 2), 1);
    EXPECT_EQ(Ids(d, 0), (std::vector<int32_t>{0, 1}));
    ASSERT_EQ(d.SetParticles(0, 0), 1);
    EXPECT_EQ(d.frames[0].count, 0);
    EXPECT_EQ(d.frames[0].topId, 2);  // not touched
    ASSERT_EQ(d.SetParticles(0, 3), 1);
    for (int32_t i = 0; i < 3; ++i) {
        const Particle& p = d.frames[0].records[i];
        EXPECT_EQ(p.id, -1);
        EXPECT_EQ(p.valid, 0u);
        EXPECT_EQ(p.x, 0.0);
        EXPECT_EQ(p.y, 0.0);
    }
}

TEST(ParticleData, AddAndGetParticle) {
    CParticleData d;
    EXPECT_EQ(d.AddParticle(0, P(7)), -1);
    ASSERT_EQ(d.SetFrames(1), 1);
    EXPECT_EQ(d.AddParticle(1, P(7)), -1);
    EXPECT_EQ(d.AddParticle(-1, P(7)), -1);
    EXPECT_EQ(d.GetIdCount(), 0);  // topId -1 everywhere
    ASSERT_EQ(d.AddParticle(0, P(7, 3, 4)), 0);
    EXPECT_EQ(d.frames[0].topId, 7);
    EXPECT_EQ(d.idCount, 8);
    // A lower id leaves topId and the count; an unlinked one too.
    ASSERT_EQ(d.AddParticle(0, P(2, 5, 6)), 1);
    ASSERT_EQ(d.AddParticle(0, P(-1, 9, 9)), 2);
    EXPECT_EQ(d.frames[0].topId, 7);
    EXPECT_EQ(d.idCount, 8);

    Particle got{};
    ASSERT_EQ(d.GetParticle(0, 2, &got), 1);
    EXPECT_EQ(got.x, 5.0);
    EXPECT_EQ(got.y, 6.0);
    EXPECT_EQ(d.GetParticle(0, 3, &got), 0);
    EXPECT_EQ(d.GetParticle(0, -1, &got), 0);  // unlinked particles are never found by id
    EXPECT_EQ(d.GetParticle(1, 2, &got), 0);
    d.SetParticles(0, 0);
    EXPECT_EQ(d.GetParticle(0, 2, &got), 0);
}

TEST(ParticleData, RemoveParticleRecomputesTopIdAndIdCount) {
    CParticleData d;
    ASSERT_EQ(d.SetFrames(2), 1);
    for (int32_t id : {0, 3, 1}) d.AddParticle(0, P(id, id));
    for (int32_t id : {0, 2}) d.AddParticle(1, P(id, id));
    ASSERT_EQ(d.idCount, 4);
    const std::string before = Dump(d);
    EXPECT_EQ(d.RemoveParticle(0, 2), 0);
    EXPECT_EQ(d.RemoveParticle(0, -1), 0);
    EXPECT_EQ(d.RemoveParticle(2, 0), 0);
    EXPECT_EQ(Dump(d), before);

    // Not the top id: order kept, tops untouched.
    ASSERT_EQ(d.RemoveParticle(0, 0), 1);
    EXPECT_EQ(Ids(d, 0), (std::vector<int32_t>{3, 1}));
    EXPECT_EQ(d.frames[0].topId, 3);
    // The top id, which was also the last id: both recomputed.
    ASSERT_EQ(d.RemoveParticle(0, 3), 1);
    EXPECT_EQ(d.frames[0].topId, 1);
    EXPECT_EQ(d.idCount, 3);  // frame 1 still has 2
    ASSERT_EQ(d.RemoveParticle(0, 1), 1);
    EXPECT_EQ(d.frames[0].topId, -1);
    EXPECT_EQ(d.frames[0].count, 0);
    ASSERT_EQ(d.RemoveParticle(1, 2), 1);
    EXPECT_EQ(d.idCount, 1);
}

TEST(ParticleData, DeleteIdRenumbersEveryFrame) {
    CParticleData d;
    EXPECT_EQ(d.DeleteId(-1), 0);
    ASSERT_EQ(d.DeleteId(0), 1);  // empty store
    ASSERT_EQ(d.SetFrames(3), 1);
    for (int32_t id : {0, 1, 2, 3}) d.AddParticle(0, P(id, 10 + id));
    d.AddParticle(1, P(2, 20));  // left empty by the deletion
    for (int32_t id : {3, 0}) d.AddParticle(2, P(id, 30 + id));
    ASSERT_EQ(d.idCount, 4);

    ASSERT_EQ(d.DeleteId(2), 1);
    EXPECT_EQ(Ids(d, 0), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(d.frames[0].records[2].x, 13.0);  // the old 3
    EXPECT_EQ(d.frames[1].count, 0);
    EXPECT_EQ(d.frames[1].records, nullptr);
    EXPECT_EQ(d.frames[1].topId, -1);
    EXPECT_EQ(Ids(d, 2), (std::vector<int32_t>{2, 0}));
    EXPECT_EQ(d.idCount, 3);
    // Every frame's top id follows its renumbered records, so a later recount
    // finds no id that is gone.
    EXPECT_EQ(d.frames[0].topId, 2);
    EXPECT_EQ(d.frames[2].topId, 2);
    d.idCount = 0;
    EXPECT_EQ(d.GetIdCount(), 3);

    // An id that occurs nowhere still succeeds and lowers the count.
    ASSERT_EQ(d.DeleteId(9), 1);
    EXPECT_EQ(d.idCount, 2);
}

TEST(ParticleData, OutOfMemoryLeavesTheStoreAsItWas) {
    CParticleData d;
    ASSERT_EQ(d.SetFrames(2), 1);
    d.AddParticle(0, P(1, 1, 1));
    d.AddParticle(0, P(0, 2, 2));
    const std::string before = Dump(d);
    {
        FailingAllocator fail(0);
        EXPECT_EQ(d.SetFrames(4), 0);
        EXPECT_EQ(d.SetParticles(1, 5), 0);
        // A failed append raises no top id: no phantom id appears.
        EXPECT_EQ(d.AddParticle(1, P(9)), -1);
        EXPECT_EQ(Dump(d), before);
    }
    // The doubled block refused, exactly the count needed is taken.
    {
        CParticleData e;
        ASSERT_EQ(e.SetFrames(1), 1);
        ASSERT_EQ(e.SetParticles(0, 64), 1);
        struct Exact {
            static void* Allocate(size_t bytes) {
                return bytes > 65 * sizeof(Particle) ? nullptr : std::malloc(bytes);
            }
        };
        const ParticleAllocFn previous = SetParticleAllocator(Exact::Allocate);
        EXPECT_EQ(e.AddParticle(0, P(3)), 64);
        SetParticleAllocator(previous);
        EXPECT_EQ(e.frames[0].capacity, 65);
    }
}

TEST(ParticleData, FrameIndexMatchesLinearLookUpAndFollowsChanges) {
    std::mt19937 rng(5);
    CParticleData d;
    ASSERT_EQ(d.SetFrames(4), 1);
    for (int32_t f = 0; f < 4; ++f) {
        std::vector<int32_t> ids(50);
        for (int32_t i = 0; i < 50; ++i) ids[i] = i;
        std::shuffle(ids.begin(), ids.end(), rng);
        for (int32_t i = 0; i < 30; ++i) d.AddParticle(f, P(ids[i], f, i));
        d.AddParticle(f, P(-1));
    }
    CParticleFrameIndex index;
    for (int32_t f = -1; f <= 4; ++f) {
        for (int32_t id = -2; id < 55; ++id) {
            EXPECT_EQ(index.Find(d, f, id), d.FindRecord(f, id)) << f << " " << id;
        }
    }
    const int32_t id = d.frames[2].records[0].id;
    ASSERT_GE(index.Find(d, 2, id), 0);
    d.RemoveParticle(2, id);
    EXPECT_EQ(index.Find(d, 2, id), -1);
    d.AddParticle(2, P(id, 99, 98));
    ASSERT_NE(index.Record(d, 2, id), nullptr);
    EXPECT_EQ(index.Record(d, 2, id)->x, 99.0);
    // A store replaced by another at the same address is not mistaken for the old one.
    d.Clear();
    d.SetFrames(3);
    d.AddParticle(2, P(1, 7, 7));
    EXPECT_EQ(index.Find(d, 2, id == 1 ? 2 : id), -1);
    EXPECT_EQ(index.Find(d, 2, 1), 0);
}

}  // namespace
