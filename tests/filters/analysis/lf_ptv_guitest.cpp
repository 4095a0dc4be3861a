// "Particle tracking / PTV" in the test host: settings and their load
// rules, radius clicks, picking, the edit commands on hand-built stores,
// whole runs by EXEC on disc sequences with known tracks (a 3-frame
// sequence, cancel, a missing frame, one and all pool threads), numpy
// tracks beside scipy's assignment linker, and screenshots of the overlay
// and the panel's tabs.
#include "filters/analysis/lf_ptv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "filters/analysis/ptv_detect.h"
#include "filters/analysis/ptv_link.h"
#include "filters/analysis/sequence_run.h"
#include "filters/analysis/support/picture_screen.h"
#include "filters/core/cfgfile.h"
#include "filters/processing/support/fake_host.h"
#include "image/pool.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

struct Pt {
    double x, y;
};

// One frame: white discs of radius r on black.
void Discs(CImgBuff* image, int32_t w, int32_t h, const std::vector<Pt>& centres, double r = 2.5) {
    ASSERT_TRUE(image->buffer->Create(w, h, kImgGray8));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) image->buffer->SetPixelGray8(x, y, 0);
    for (const Pt& c : centres) {
        for (int32_t y = static_cast<int32_t>(std::floor(c.y - r)); y <= static_cast<int32_t>(std::ceil(c.y + r)); ++y)
            for (int32_t x = static_cast<int32_t>(std::floor(c.x - r)); x <= static_cast<int32_t>(std::ceil(c.x + r));
                 ++x)
                if (x >= 0 && y >= 0 && x < w && y < h && (x - c.x) * (x - c.x) + (y - c.y) * (y - c.y) <= r * r)
                    image->buffer->SetPixelGray8(x, y, 255);
    }
}

using Frames = std::vector<std::vector<Pt>>;

bool OpenDiscs(FakeHost& host, const Frames& frames, int32_t w, int32_t h) {
    auto copy = std::make_shared<Frames>(frames);
    return host.OpenSequence(frames.size(), [copy, w, h](uint64_t i, CImgBuff* out) {
        Discs(out, w, h, (*copy)[i]);
        return out->buffer && out->buffer->pixels;
    });
}

// Five particles on straight paths, 3-6 pixels a frame, far apart.
Frames StraightTracks(int frames) {
    const Pt start[5] = {{20, 20}, {20, 100}, {100, 30}, {160, 150}, {60, 180}};
    const Pt step[5] = {{4, 0}, {3, 3}, {0, 5}, {-4, -2}, {5, -1}};
    Frames out(static_cast<size_t>(frames));
    for (int f = 0; f < frames; ++f)
        for (int k = 0; k < 5; ++k) out[f].push_back({start[k].x + f * step[k].x, start[k].y + f * step[k].y});
    return out;
}

std::wstring Saved(CImgFilter* f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    f->SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

// Store contents as (id, x, y) per frame, in record order.
using Contents = std::vector<std::vector<std::tuple<int32_t, double, double>>>;
Contents Dump(const CParticleData& d) {
    Contents out(static_cast<size_t>(d.frameCount));
    for (int32_t f = 0; f < d.frameCount; ++f)
        for (int32_t i = 0; i < d.frames[f].count; ++i) {
            const Particle& p = d.frames[f].records[i];
            out[f].emplace_back(p.id, p.x, p.y);
        }
    return out;
}

// A store from (id, x, y) lists; particles valid unless x is 99.
void Fill(CParticleData* d, const Contents& c) {
    d->Clear();
    ASSERT_EQ(d->SetFrames(static_cast<int32_t>(c.size())), 1);
    for (size_t f = 0; f < c.size(); ++f)
        for (const auto& [id, x, y] : c[f])
            ASSERT_GE(d->AddParticle(static_cast<int32_t>(f), Particle{id, x == 99 ? 0u : 1u, x, y}), 0);
}

std::vector<std::wstring> ListTexts(const CLfPtv* f) {
    std::vector<std::wstring> out;
    for (const FgListItem& i : f->idList.items) out.push_back(i.text);
    return out;
}

class PtvTest : public testing::Test {
protected:
    void SetUp() override {
        host.SetLanguage(L"en");
        host.bg.store(0);  // white discs on black
        ptv = static_cast<CLfPtv*>(host.Add(CreateLfPtv()));
        ASSERT_NE(ptv, nullptr);
    }
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
    CLfPtv* ptv = nullptr;
};

TEST_F(PtvTest, SettingsRoundTripAndLoadRules) {
    EXPECT_EQ(Saved(ptv),
              L"if_enable=1;if_visible=1;disp_id=1;line_all=0;line_len=10;search_r=5.0;active_scope=1;"
              L"active_range=1;cell_size=2;grid=1;cell=0;arrow_zoom=30;color_bar=2;");
    struct Item {
        const wchar_t *key, *value;
    };
    const struct {
        std::vector<Item> items;
        const wchar_t* expect;  // the keys that differ from the defaults
    } cases[] = {
        {{{L"grid", L"0"}}, L"grid=0;"},
        {{{L"grid", L"0"}, {L"cell", L"abc"}}, L"grid=0;cell=1;"},
        {{{L"cell_size", L"x"}}, L"cell_size=0;"},
        {{{L"cell_size", L"4"}}, L""},
        {{{L"cell_size", L"-1"}}, L""},
        {{{L"cell_size", L"3"}}, L"cell_size=3;"},
        {{{L"search_r", L"0"}}, L""},
        {{{L"search_r", L"-2"}}, L""},
        {{{L"search_r", L"1e3"}}, L""},
        {{{L"search_r", L"12.25"}}, L"search_r=12.2;"},  // "%.1lf" of 12.25 rounds to even
        {{{L"disp_id", L"2"}, {L"line_all", L"1"}, {L"active_scope", L""}, {L"active_range", L"0"}},
         L"line_all=1;active_range=0;"},
        {{{L"line_len", L"31"}, {L"arrow_zoom", L"9"}, {L"color_bar", L"33"}}, L""},
        {{{L"line_len", L"0"}, {L"arrow_zoom", L"100"}, {L"color_bar", L"1"}}, L"line_len=0;arrow_zoom=100;color_bar=1;"},
    };
    CLfPtv defaults;
    const std::wstring base = Saved(&defaults);
    for (const auto& c : cases) {
        CLfPtv fresh;
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"ptv");
        for (const Item& i : c.items) pack->AddItem(i.key, i.value);
        fresh.LoadConfig(pack);
        std::wstring got, now = Saved(&fresh);
        size_t a = 0, b = 0;
        while (a < now.size()) {
            const size_t ea = now.find(L';', a), eb = base.find(L';', b);
            if (now.substr(a, ea - a) != base.substr(b, eb - b)) got += now.substr(a, ea - a + 1);
            a = ea + 1;
            b = eb + 1;
        }
        EXPECT_EQ(got, c.expect) << c.items[0].key << "=" << c.items[0].value;
    }
    // An empty text turns the grid on; the edit box shows the loaded radius
    // without trailing zeros; loaded bars act as the bars do; a loaded cell
    // size does not set the grid up again.
    host.SetSourceFormat(320, 240, 1, 10);
    ASSERT_EQ(ptv->flow.step, 32);
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"ptv");
    pack->AddItem(L"grid", L"0");
    ptv->LoadConfig(pack);
    EXPECT_EQ(ptv->gridOn.Get(), 0u);
    EXPECT_EQ(ptv->flow.drawGrid, 0u);
    CCfgPack* second = file.AddPack(L"ptv2");
    second->AddItem(L"grid", L"");
    second->AddItem(L"search_r", L"2.50");
    second->AddItem(L"color_bar", L"8");
    second->AddItem(L"arrow_zoom", L"45");
    second->AddItem(L"cell_size", L"0");
    ptv->LoadConfig(second);
    EXPECT_EQ(ptv->gridOn.Get(), 1u);
    EXPECT_EQ(ptv->gridCheck.checked, 1u);
    EXPECT_STREQ(ptv->searchEdit.GetText(), L"2.5");
    EXPECT_EQ(ptv->flow.colourBase, 8);
    EXPECT_EQ(ptv->zoomLabel.text, L"zoom(x4.5)");
    EXPECT_EQ(ptv->colourLabel.text, L"every 8pixel/frame");
    EXPECT_EQ(ptv->cellSize, 8);
    EXPECT_EQ(ptv->cell8.GetGroupSelection(), 0);
    EXPECT_EQ(ptv->flow.step, 32);
    // The radio buttons do set it up again.
    ptv->SelectCellSize(1);
    EXPECT_EQ(ptv->flow.step, 16);
}

TEST_F(PtvTest, SearchEditTakesOnlyPositiveNumbersAndRadiusClicks) {
    const struct {
        const wchar_t* typed;
        double value;
        const wchar_t* shown;
    } cases[] = {{L"7.5", 7.5, L"7.5"}, {L"0", 7.5, L"7.5"}, {L"abc", 7.5, L"7.5"}, {L"-3", 7.5, L"7.5"},
                 {L"12", 12, L"12"},   {L"", 12, L"12"}};
    for (const auto& c : cases) {
        ptv->searchEdit.SetLineText(0, c.typed);
        ptv->searchEdit.focusLost(&ptv->searchEdit, ptv->searchEdit.data);
        EXPECT_EQ(ptv->searchR.Get(), c.value) << c.typed;
        EXPECT_STREQ(ptv->searchEdit.GetText(), c.shown) << c.typed;
    }
    // Scale 0.5: a 3-4-5 triangle gives 2.5; the centre itself gives 0.
    host.SetCalibration(0.5, 1, L"mm");
    ASSERT_TRUE(OpenDiscs(host, StraightTracks(4), 200, 200));
    host.calls.clear();
    ptv->OnLButtonDown(10, 10, 0);
    EXPECT_EQ(ptv->radiusState, 1);
    ptv->OnLButtonDown(13, 14, 0);
    EXPECT_EQ(ptv->searchR.Get(), 2.5);
    EXPECT_STREQ(ptv->searchEdit.GetText(), L"2.5");
    ptv->OnLButtonDown(11, 11, 0);  // sqrt(2) / 2 = 0.707...: one decimal kept
    EXPECT_EQ(ptv->searchR.Get(), 0.7);
    ptv->OnLButtonDown(10, 10, 0);
    EXPECT_EQ(ptv->searchR.Get(), 0.0);
    EXPECT_STREQ(ptv->searchEdit.GetText(), L"0");
    EXPECT_EQ(ptv->radiusState, 1);
    ptv->OnRButtonDown(0, 0, 0);
    EXPECT_EQ(ptv->radiusState, 0);
    ptv->OnRButtonDown(0, 0, 0);
    EXPECT_EQ(ptv->radiusState, 0);
    EXPECT_GE(std::count(host.calls.begin(), host.calls.end(), "Redraw"), 2);
    // Switching tabs ends measuring.
    ptv->OnLButtonDown(10, 10, 0);
    ptv->SelectTab(CLfPtv::kTabEdit);
    EXPECT_EQ(ptv->radiusState, 0);
}

TEST_F(PtvTest, PickingFillsTheEditBoxes) {
    // Id 0 in frames 0-3, id 1 in frames 1-2, id 2 in frame 2 only.
    Fill(&ptv->store, {{{0, 10, 10}}, {{0, 12, 10}, {1, 50, 50}}, {{1, 52, 50}, {0, 14, 10}, {2, 30, 30}}, {{0, 16, 10}}});
    ptv->RefillIdList();
    ptv->SelectTab(CLfPtv::kTabEdit);
    host.currentFrame = 2;
    ptv->OnLButtonDown(45, 45, 0);  // nearest: id 1
    EXPECT_STREQ(ptv->eraseIdEdit.GetText(), L"2");
    EXPECT_STREQ(ptv->splitIdEdit.GetText(), L"2");
    EXPECT_STREQ(ptv->id1Edit.GetText(), L"2");
    EXPECT_STREQ(ptv->eraseFromEdit.GetText(), L"2");
    EXPECT_STREQ(ptv->eraseToEdit.GetText(), L"3");
    EXPECT_STREQ(ptv->splitSceneEdit.GetText(), L"3");
    EXPECT_STREQ(ptv->id2Edit.GetText(), L"");
    // Shift: only id2.
    ptv->OnLButtonDown(15, 11, 1);
    EXPECT_STREQ(ptv->id2Edit.GetText(), L"1");
    EXPECT_STREQ(ptv->eraseIdEdit.GetText(), L"2");
    EXPECT_STREQ(ptv->id1Edit.GetText(), L"2");
    // A frame without particles, or beyond the store, changes nothing.
    host.currentFrame = 7;
    ptv->OnLButtonDown(15, 11, 0);
    EXPECT_STREQ(ptv->eraseIdEdit.GetText(), L"2");
    // Equal distances: the first record found wins.
    host.currentFrame = 2;
    ptv->eraseIdEdit.SetLineText(0, L"");
    ptv->OnLButtonDown(41, 40, 0);  // id 2 at (30, 30) and id 1 at (52, 50): both 11^2 + 10^2
    EXPECT_STREQ(ptv->eraseIdEdit.GetText(), L"2");
}

TEST_F(PtvTest, EditCommandsOnHandBuiltStores) {
    const Contents start = {{{0, 1, 1}, {1, 2, 2}, {2, 3, 3}},
                            {{0, 1, 2}, {1, 2, 3}, {2, 3, 4}},
                            {{0, 1, 3}, {1, 2, 4}},
                            {{2, 3, 6}, {1, 2, 5}, {0, 99, 4}}};
    struct Case {
        const char* name;
        int command;  // 0 erase, 1 split, 2 concat
        std::vector<const wchar_t*> boxes;
        bool ok;
        Contents expect;
        std::vector<std::wstring> list;
    };
    const std::vector<std::wstring> list3 = {L"ALL", L"1", L"2", L"3"};
    const Case cases[] = {
        {"erase id 2 scenes 2-3", 0, {L"2", L"2", L"3"}, true,
         {{{0, 1, 1}, {1, 2, 2}, {2, 3, 3}}, {{0, 1, 2}, {2, 3, 4}}, {{0, 1, 3}}, {{2, 3, 6}, {1, 2, 5}, {0, 99, 4}}},
         list3},
        {"erase id 0", 0, {L"0", L"1", L"2"}, false, start, list3},
        {"erase from > to", 0, {L"1", L"3", L"2"}, false, start, list3},
        {"erase beyond the frames", 0, {L"1", L"1", L"5"}, false, start, list3},
        {"erase id beyond the ids", 0, {L"4", L"1", L"1"}, false, start, list3},
        {"erase with text after digits", 0, {L"1x", L"4abc", L"4"}, true,
         {start[0], start[1], start[2], {{2, 3, 6}, {1, 2, 5}}}, list3},
        {"split id 2 at scene 3", 1, {L"2", L"3"}, true,
         {start[0], start[1], {{0, 1, 3}, {3, 2, 4}}, {{2, 3, 6}, {0, 99, 4}, {3, 2, 5}}},
         {L"ALL", L"1", L"2", L"3", L"4"}},
        {"split at scene 1 moves the whole track", 1, {L"3", L"1"}, true,
         {{{0, 1, 1}, {1, 2, 2}, {3, 3, 3}}, {{0, 1, 2}, {1, 2, 3}, {3, 3, 4}}, {{0, 1, 3}, {1, 2, 4}},
          {{1, 2, 5}, {0, 99, 4}, {3, 3, 6}}},
         {L"ALL", L"1", L"2", L"3", L"4"}},
        {"split scene 0", 1, {L"1", L"0"}, false, start, list3},
        {"split scene beyond", 1, {L"1", L"5"}, false, start, list3},
        // Frame 3: id 0's particle is not valid, id 2's replaces it; frame 2
        // has no id 2. Id 2 is gone and 3 becomes 2.
        {"concat 1 and 3", 2, {L"1", L"3"}, true,
         {{{0, 1, 1}, {1, 2, 2}}, {{0, 1, 2}, {1, 2, 3}}, {{0, 1, 3}, {1, 2, 4}}, {{1, 2, 5}, {0, 3, 6}}},
         {L"ALL", L"1", L"2"}},
        {"concat with itself", 2, {L"2", L"2"}, false, start, list3},
        {"concat id 0", 2, {L"0", L"2"}, false, start, list3},
        {"concat beyond", 2, {L"1", L"4"}, false, start, list3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fill(&ptv->store, start);
        ptv->RefillIdList();
        kvtest::ModalAnswers answers;
        bool ok = false;
        if (c.command == 0) {
            ptv->eraseIdEdit.SetLineText(0, c.boxes[0]);
            ptv->eraseFromEdit.SetLineText(0, c.boxes[1]);
            ptv->eraseToEdit.SetLineText(0, c.boxes[2]);
            ok = ptv->EraseData();
        } else if (c.command == 1) {
            ptv->splitIdEdit.SetLineText(0, c.boxes[0]);
            ptv->splitSceneEdit.SetLineText(0, c.boxes[1]);
            ok = ptv->SplitId();
        } else {
            ptv->id1Edit.SetLineText(0, c.boxes[0]);
            ptv->id2Edit.SetLineText(0, c.boxes[1]);
            ok = ptv->ConcatId();
        }
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(answers.messages, ok ? std::vector<std::wstring>{}
                                       : std::vector<std::wstring>{L"The input content is incorrect"});
        EXPECT_EQ(Dump(ptv->store), c.expect);
        EXPECT_EQ(ListTexts(ptv), c.list);
        EXPECT_EQ(ptv->store.GetIdCount(), static_cast<int32_t>(c.list.size()) - 1);
    }
}

TEST_F(PtvTest, ListChoicesSelectTheDrawnTracks) {
    Fill(&ptv->store, {{{0, 1, 1}, {1, 2, 2}, {2, 3, 3}}});
    ptv->RefillIdList();
    EXPECT_EQ(ptv->ShownIds(), (std::vector<uint8_t>{1, 1, 1}));
    // Choosing an id clears "ALL"; choosing "ALL" clears the ids.
    ptv->idList.SetItemSelected(2, 1);
    ptv->idList.callback(&ptv->idList, ptv->idList.data, 2);
    EXPECT_EQ(ptv->idList.items[0].selected, 0u);
    ptv->idList.SetItemSelected(3, 1);
    ptv->idList.callback(&ptv->idList, ptv->idList.data, 3);
    EXPECT_EQ(ptv->ShownIds(), (std::vector<uint8_t>{0, 1, 1}));
    ptv->idList.SetItemSelected(0, 1);
    ptv->idList.callback(&ptv->idList, ptv->idList.data, 0);
    EXPECT_EQ(ptv->idList.items[2].selected, 0u);
    EXPECT_EQ(ptv->idList.items[3].selected, 0u);
    EXPECT_EQ(ptv->ShownIds(), (std::vector<uint8_t>{1, 1, 1}));
}

// Ids of a store by the truth: for each frame, the id of the particle within
// 1.5 pixels of each true position (-1 none).
std::vector<std::vector<int32_t>> IdsAtTruth(const CParticleData& d, const Frames& truth) {
    std::vector<std::vector<int32_t>> out(truth.size());
    for (size_t f = 0; f < truth.size(); ++f)
        for (const Pt& t : truth[f]) {
            int32_t id = -1;
            if (static_cast<int32_t>(f) < d.frameCount)
                for (int32_t i = 0; i < d.frames[f].count; ++i) {
                    const Particle& p = d.frames[f].records[i];
                    if (std::hypot(p.x - t.x, p.y - t.y) <= 1.5) id = p.id;
                }
            out[f].push_back(id);
        }
    return out;
}

TEST_F(PtvTest, ExecTracksDiscsOnKnownPathsWithOneAndAllThreads) {
    const Frames truth = StraightTracks(10);
    ASSERT_TRUE(OpenDiscs(host, truth, 200, 200));
    ptv->searchR.Set(8);
    Contents first;
    for (uint64_t threads : {uint64_t{1}, PoolGetProcessorCount()}) {
        SCOPED_TRACE(threads);
        ASSERT_EQ(PoolSetThreadCount(threads), 1);
        host.calls.clear();
        kvtest::ModalAnswers answers;
        ptv->Track();
        EXPECT_TRUE(answers.messages.empty());
        EXPECT_EQ(host.calls.front(), "LockUi(1)");
        EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "LockUi(0)"), host.calls.end());
        EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "Seek(9)"), host.calls.end());
        ASSERT_EQ(ptv->store.frameCount, 10);
        ASSERT_EQ(ptv->store.GetIdCount(), 5);
        // Each true track carries one id over all frames, the five ids differ.
        const auto ids = IdsAtTruth(ptv->store, truth);
        std::set<int32_t> seen;
        for (size_t k = 0; k < 5; ++k) {
            seen.insert(ids[0][k]);
            for (size_t f = 0; f < 10; ++f) EXPECT_EQ(ids[f][k], ids[0][k]) << "track " << k << " frame " << f;
        }
        EXPECT_EQ(seen.size(), 5u);
        EXPECT_EQ(ListTexts(ptv), (std::vector<std::wstring>{L"ALL", L"1", L"2", L"3", L"4", L"5"}));
        EXPECT_EQ(ptv->idList.items[0].selected, 1u);
        EXPECT_EQ(ptv->trackButton.label, L"EXEC");
        EXPECT_EQ(ptv->eraseButton.enabled, 1u);
        EXPECT_FALSE(ptv->Running());
        if (first.empty())
            first = Dump(ptv->store);
        else
            EXPECT_EQ(Dump(ptv->store), first);
    }
    PoolSetThreadCount(PoolGetProcessorCount());
}

TEST_F(PtvTest, ThreeFramesCancelAndAMissingFrame) {
    // Tracks from a first run stay when EXEC is refused.
    ASSERT_TRUE(OpenDiscs(host, StraightTracks(6), 200, 200));
    ptv->searchR.Set(8);
    ptv->Track();
    ASSERT_EQ(ptv->store.GetIdCount(), 5);
    const Contents kept = Dump(ptv->store);
    // OnSize of a new sequence empties the store; a 3-frame sequence is refused.
    host.SetSourceFormat(200, 200, 1, 3);
    EXPECT_EQ(ptv->store.frameCount, 0);
    EXPECT_EQ(ptv->idList.Count(), 0);
    Fill(&ptv->store, kept);
    ptv->RefillIdList();
    host.calls.clear();
    {
        kvtest::ModalAnswers answers;
        ptv->Track();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"need an image of 4 frames or more"}));
    }
    EXPECT_TRUE(host.calls.empty());  // no capture, no seek, no lock
    EXPECT_EQ(Dump(ptv->store), kept);

    // Cancel while frame 5 is shown: no tracks, an empty list, the message,
    // the interface unlocked; a second run works.
    ASSERT_TRUE(OpenDiscs(host, StraightTracks(12), 200, 200));
    host.atFrame[5] = [&] {
        EXPECT_EQ(ptv->trackButton.label, L"CANCEL");
        EXPECT_EQ(ptv->eraseButton.enabled, 0u);
        EXPECT_EQ(ptv->idList.enabled, 0u);
        EXPECT_EQ(ptv->trackButton.enabled, 1u);
        ASSERT_NE(ptv->window, 0u);
        PlatPostTestClick(ptv->window, ptv->trackButton.x + 5, ptv->trackButton.y + 5);
    };
    host.calls.clear();
    {
        kvtest::ModalAnswers answers;
        ptv->Track();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"canceled"}));
    }
    EXPECT_EQ(ptv->store.GetIdCount(), 0);
    EXPECT_EQ(ptv->idList.Count(), 0);
    EXPECT_EQ(ptv->trackButton.label, L"EXEC");
    EXPECT_EQ(ptv->eraseButton.enabled, 1u);
    EXPECT_FALSE(ptv->Running());
    const auto fifth = std::find(host.calls.begin(), host.calls.end(), "Seek(5)");
    ASSERT_NE(fifth, host.calls.end());
    EXPECT_EQ(std::find(fifth, host.calls.end(), "Seek(6)"), host.calls.end());
    EXPECT_NE(std::find(fifth, host.calls.end(), "LockUi(0)"), host.calls.end());
    host.atFrame.clear();
    {
        kvtest::ModalAnswers answers;
        ptv->Track();
        EXPECT_TRUE(answers.messages.empty());
    }
    EXPECT_EQ(ptv->store.GetIdCount(), 5);
    EXPECT_EQ(ptv->idList.Count(), 6);

    // A frame that never arrives holds no particles and ends every track
    // through it; the run goes on, the particles after it start new
    // tracks, and the skip is told.
    host.unreadable = {5};
    {
        kvtest::ModalAnswers answers;
        ptv->Track();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"frame 6 could not be read and was skipped"}));
    }
    ASSERT_EQ(ptv->store.frameCount, 12);
    EXPECT_EQ(ptv->store.frames[5].count, 0);
    EXPECT_EQ(ptv->store.GetIdCount(), 10);
    const auto ids = IdsAtTruth(ptv->store, StraightTracks(12));
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_GE(ids[0][k], 0);
        EXPECT_EQ(ids[4][k], ids[0][k]);
        EXPECT_GE(ids[6][k], 5);
        EXPECT_EQ(ids[11][k], ids[6][k]);
    }
}

// ---------------------------------------------------------------------------
// Tracks with known identities from numpy, drawn as discs and run by EXEC,
// beside scipy's frame-to-frame assignment linker on the same detections.

const char* kMakeTracks = R"PY(
import sys, numpy as np
seed, n, frames, side, curved, crossing = (int(a) for a in sys.argv[1:7])
rng = np.random.default_rng(seed)
if crossing:
    p = rng.uniform(20, side - 20, (n, 2))
else:
    g = int(np.ceil(np.sqrt(n)))
    cell = side / g
    idx = np.arange(n)
    p = np.stack([(idx % g + 0.5) * cell, (idx // g + 0.5) * cell], 1) + rng.uniform(-0.1, 0.1, (n, 2)) * cell
speed = rng.uniform(2, 8, n)
angle = rng.uniform(0, 2 * np.pi, n)
turn = rng.uniform(-0.08, 0.08, n) if curved else np.zeros(n)
if not crossing:
    angle[:] = angle[0]
    turn[:] = turn[0]
birth = rng.integers(-frames // 2, frames // 2, n)
life = rng.integers(2, frames + 1, n)
for f in range(frames):
    for i in range(n):
        age = f - birth[i]
        if age < 0 or age >= life[i]:
            continue
        x, y = p[i]
        if 4 <= x < side - 4 and 4 <= y < side - 4:
            print(f, i, repr(float(x)), repr(float(y)))
    for i in range(n):
        if f - birth[i] >= 0:
            a = angle[i] + turn[i] * (f - birth[i])
            p[i] += speed[i] * np.array([np.cos(a), np.sin(a)])
)PY";

const char* kScipyLinker = R"PY(
import sys, numpy as np
from scipy.optimize import linear_sum_assignment
r = float(sys.argv[1])
frames = {}
for line in sys.stdin:
    f, k, x, y = line.split()
    frames.setdefault(int(f), []).append((int(k), float(x), float(y)))
count = max(frames) + 1 if frames else 0
nxt, prev, prevlab = 0, [], []
for f in range(count):
    cur = frames.get(f, [])
    lab = [-1] * len(cur)
    if prev and cur:
        a = np.array([[q[1], q[2]] for q in prev]); b = np.array([[q[1], q[2]] for q in cur])
        d = np.hypot(a[:, None, 0] - b[None, :, 0], a[:, None, 1] - b[None, :, 1])
        big = 1e9
        cost = np.where(d <= r, d * d, big)
        ri, ci = linear_sum_assignment(cost)
        for u, v in zip(ri, ci):
            if cost[u, v] < big:
                lab[v] = prevlab[u]
    for k in range(len(cur)):
        if lab[k] < 0:
            lab[k] = nxt; nxt += 1
        print(f, cur[k][0], lab[k])
    prev, prevlab = cur, lab
)PY";

struct Score {
    double correct = 1, found = 1;
    int32_t links = 0, trueLinks = 0;
};

// labels: (frame, true particle) -> track label. Links of one label between
// consecutive frames are correct when they join one true particle; a true
// link (of a true track of 4 frames or more, both ends detected) is found
// when both ends carry one label. With onlyLong, labels of fewer than 4
// frames are ignored (the assignment linker keeps every label).
Score ScoreLinks(const std::map<std::pair<int32_t, int32_t>, int32_t>& labels,
                 const std::map<int32_t, int32_t>& trueLength, const std::set<std::pair<int32_t, int32_t>>& detected,
                 bool onlyLong) {
    std::map<int32_t, int32_t> labelLength;
    for (const auto& kv : labels) ++labelLength[kv.second];
    std::map<std::pair<int32_t, int32_t>, int32_t> truthOf;  // (frame, label) -> truth
    std::map<std::pair<int32_t, int32_t>, int32_t> labelOf;
    for (const auto& kv : labels) {
        if (onlyLong && labelLength[kv.second] < 4) continue;
        labelOf[kv.first] = kv.second;
        truthOf[{kv.first.first, kv.second}] = kv.first.second;
    }
    Score s;
    int32_t good = 0, hit = 0;
    for (const auto& kv : truthOf) {
        const auto next = truthOf.find({kv.first.first + 1, kv.first.second});
        if (next == truthOf.end()) continue;
        ++s.links;
        good += next->second == kv.second;
    }
    for (const auto& d : detected) {
        if (trueLength.at(d.second) < 4 || !detected.count({d.first + 1, d.second})) continue;
        ++s.trueLinks;
        const auto a = labelOf.find(d), b = labelOf.find({d.first + 1, d.second});
        hit += a != labelOf.end() && b != labelOf.end() && a->second == b->second;
    }
    if (s.links) s.correct = static_cast<double>(good) / s.links;
    if (s.trueLinks) s.found = static_cast<double>(hit) / s.trueLinks;
    return s;
}

TEST_F(PtvTest, NumpyTracksDrawnAsDiscsBesideAnAssignmentLinker) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with numpy and scipy";
    struct Case {
        const char* name;
        int32_t seed, n, frames, side, curved, crossing;
        bool strict;
    };
    const Case cases[] = {
        {"100 sparse straight", 11, 100, 24, 512, 0, 0, true},
        {"100 sparse curved", 12, 100, 24, 512, 1, 0, true},
        {"1000 crossing", 13, 1000, 16, 1024, 1, 1, false},
    };
    kvtest::TempDir dir("ptv_exec_truth");
    const std::string scipyPath = dir.file("link.py");
    ASSERT_TRUE(kvtest::WriteFileBytes(scipyPath, kScipyLinker));
    ptv->searchR.Set(10);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text;
        ASSERT_EQ(kvtest::RunPython(kMakeTracks,
                                    {std::to_string(c.seed), std::to_string(c.n), std::to_string(c.frames),
                                     std::to_string(c.side), std::to_string(c.curved), std::to_string(c.crossing)},
                                    &text),
                  0);
        Frames frames(static_cast<size_t>(c.frames));
        std::vector<std::vector<int32_t>> truthAt(static_cast<size_t>(c.frames));
        std::map<int32_t, int32_t> trueLength;
        std::istringstream in(text);
        int32_t f = 0, k = 0;
        double x = 0, y = 0;
        while (in >> f >> k >> x >> y) {
            frames[f].push_back({x, y});
            truthAt[f].push_back(k);
            ++trueLength[k];
        }
        ASSERT_TRUE(OpenDiscs(host, frames, c.side, c.side));
        kvtest::ModalAnswers answers;
        ptv->Track();
        ASSERT_TRUE(answers.messages.empty());
        ASSERT_EQ(ptv->store.frameCount, c.frames);
        // Detections (the detector run on each frame here, as the run does)
        // matched to the true particles within 1.5 pixels. The store labels
        // them by its tracks; scipy links the same detections.
        std::map<std::pair<int32_t, int32_t>, int32_t> ours;
        std::set<std::pair<int32_t, int32_t>> detected;
        std::string dets;
        std::vector<IslandRecord> scratch(kPtvSlotCapacity);
        ParticleFrame slot{-1, 0, nullptr, kPtvSlotCapacity};
        std::vector<Particle> records(kPtvSlotCapacity);
        slot.records = records.data();
        for (int32_t fr = 0; fr < c.frames; ++fr) {
            const auto& pts = frames[static_cast<size_t>(fr)];
            CImgBuff image;
            Discs(&image, c.side, c.side, pts);
            const ImgRect rect{0, 0, c.side - 1, c.side - 1};
            ASSERT_GE(PtvDetect(&image, rect, 8, 0, &slot, scratch.data()), 0);
            for (int32_t d = 0; d < slot.count; ++d) {
                const Particle& q = slot.records[d];
                int32_t truth = -1;
                for (size_t i = 0; i < pts.size(); ++i)
                    if (std::hypot(q.x - pts[i].x, q.y - pts[i].y) <= 1.5) truth = truthAt[fr][i];
                if (truth < 0) continue;  // merged discs: no true particle
                detected.insert({fr, truth});
                char line[96];
                std::snprintf(line, sizeof line, "%d %d %.17g %.17g\n", fr, truth, q.x, q.y);
                dets += line;
                for (int32_t r = 0; r < ptv->store.frames[fr].count; ++r) {
                    const Particle& p = ptv->store.frames[fr].records[r];
                    if (p.x == q.x && p.y == q.y) ours[{fr, truth}] = p.id;
                }
            }
        }
        const Score our = ScoreLinks(ours, trueLength, detected, false);
        const std::string detPath = dir.file(std::string("dets_") + std::to_string(c.seed) + ".txt");
        ASSERT_TRUE(kvtest::WriteFileBytes(detPath, dets));
        std::string linked;
        ASSERT_EQ(kvtest::RunCommand(kvtest::DebianPython() + " " + scipyPath + " 10 < " + detPath, &linked), 0);
        std::map<std::pair<int32_t, int32_t>, int32_t> theirs;
        std::istringstream lin(linked);
        int32_t lf = 0, truth = 0, lab = 0;
        while (lin >> lf >> truth >> lab) theirs[{lf, truth}] = lab;
        const Score ref = ScoreLinks(theirs, trueLength, detected, true);
        std::printf("[ PTV EXEC %s ] ours: %d links, %.4f correct, %.4f of %d true links found; scipy: %d links, "
                    "%.4f correct, %.4f found\n",
                    c.name, our.links, our.correct, our.found, our.trueLinks, ref.links, ref.correct, ref.found);
        // Every stored particle belongs to a track of at least 4 frames.
        std::map<int32_t, int32_t> length;
        for (int32_t fr = 0; fr < c.frames; ++fr)
            for (int32_t r = 0; r < ptv->store.frames[fr].count; ++r) ++length[ptv->store.frames[fr].records[r].id];
        for (const auto& kv : length) EXPECT_GE(kv.second, 4) << "id " << kv.first;
        if (c.strict) {
            EXPECT_GE(our.correct, 0.99);
            EXPECT_GE(our.found, 0.95);
        } else {
            EXPECT_GE(our.correct, 0.9);
        }
    }
}

// ---------------------------------------------------------------------------
// Overlay: markers, ids and trails, the radius circle, and the panel's tabs.

TEST_F(PtvTest, OverlayScreenshotsAndPanelTabs) {
    const Frames truth = StraightTracks(12);
    ASSERT_TRUE(OpenDiscs(host, truth, 200, 200));
    ptv->searchR.Set(8);
    ptv->Track();
    ASSERT_EQ(ptv->store.GetIdCount(), 5);
    host.currentFrame = 8;
    host.SetGuideColor(1, 1, 0);
    host.Seek(8);
    kvtest::PictureScreen picture(&host, 400, 400);
    // Markers and trails in the guide colour: the marker's arm right of
    // track 0's particle at 2x (pixel centre in the middle of the enlarged pixel).
    ptv->searchR.Set(8.0);
    ptv->OnLButtonDown(100, 100, 0);
    const PlatFrame shot = picture.Shoot(&host.result, "ptv_tracks_overlay", 2);
    const Pt p = truth[8][0];
    const uint8_t* px = kvtest::PixelAt(shot, static_cast<int32_t>(p.x * 2 + 1) + 3, static_cast<int32_t>(p.y * 2 + 1));
    ASSERT_NE(px, nullptr);
    EXPECT_GT(px[0], 200);
    EXPECT_GT(px[1], 200);
    EXPECT_LT(px[2], 60);
    // Only track 1 chosen, all scenes, no ids.
    ptv->idList.SetItemSelected(2, 1);
    ptv->idList.callback(&ptv->idList, ptv->idList.data, 2);
    ptv->lineAll.Set(1);
    ptv->dispId.Set(0);
    picture.Shoot(&host.result, "ptv_tracks_one_all_scenes", 2);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*ptv, *ptv), "ptv_panel_track");
    ptv->SelectTab(CLfPtv::kTabEdit);
    EXPECT_EQ(ptv->idList.enabled, 1u);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*ptv, *ptv), "ptv_panel_edit");
    ptv->SelectTab(CLfPtv::kTabPtv);
    EXPECT_EQ(ptv->idList.enabled, 0u);
    EXPECT_EQ(ptv->lineSlider.enabled, 0u);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*ptv, *ptv), "ptv_panel_ptv");
    host.SetLanguage(L"jp");
    ASSERT_NE(ptv->window, 0u);
    EXPECT_EQ(ptv->trackButton.label, L"実行");
    EXPECT_EQ(ptv->tabs.tabs[0].label, L"追跡");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*ptv, *ptv), "ptv_panel_ptv_jp");
    EXPECT_STREQ(ptv->GetName(L"jp"), L"粒子追跡/PTV");
    EXPECT_STREQ(ptv->GetId(), L"particle_tracking_/_ptv");
}

}  // namespace
