// The 2D tracking filter in the test host on synthetic disc movies: targets
// drawn and coloured with the mouse, AUTO runs in every order and direction
// against the controller's headless run and the true path, cancel, MANUAL
// runs answered at the modal-start hook (clicks, SKIP, NO DATA, LOST, quit),
// STEP, the settings section and its load rules.
#include "filters/analysis/lf_track2d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filters/analysis/support/track_host.h"
#include "filters/analysis/track_hsv.h"
#include "filters/core/cfgfile.h"
#include "filters/processing/support/fake_host.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/fg_loop.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

constexpr int32_t kW = 160, kH = 120;

// Two flat discs on a lightly textured grey ground, each on a straight
// sub-pixel path.
struct Disc {
    double x0, y0, vx, vy, r;
    uint8_t c[3];
    double X(double t) const { return x0 + vx * t; }
    double Y(double t) const { return y0 + vy * t; }
};
const Disc kDiscs[2] = {{24, 30, 1.3, 0.7, 6, {230, 30, 30}}, {130, 20, -1.1, 0.2, 6, {30, 40, 230}}};

void DiscFrame(uint64_t t, CImgBuff* out) {
    out->buffer->Create(kW, kH, kImgRgb8);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const uint8_t g = static_cast<uint8_t>(96 + (x * 7 + y * 13 + static_cast<int32_t>(t)) % 9);
            uint8_t c[3] = {g, g, g};
            for (const Disc& d : kDiscs) {
                const double dx = x - d.X(static_cast<double>(t)), dy = y - d.Y(static_cast<double>(t));
                if (dx * dx + dy * dy <= d.r * d.r) std::copy(d.c, d.c + 3, c);
            }
            out->SetPixelRgb8(x, y, c[0], c[1], c[2]);
        }
}

bool OpenDiscs(FakeHost& host, uint64_t frames) {
    return host.OpenSequence(frames, [](uint64_t i, CImgBuff* out) {
        DiscFrame(i, out);
        return true;
    });
}

P2dPoint At(CTrackCtrl& c, int32_t frame, int32_t column) {
    P2dPoint p{-7, -7};
    c.table.GetPoint(static_cast<uint32_t>(frame), static_cast<uint32_t>(column), &p);
    return p;
}

CPanelHSV* HsvPanel(CLfTrack2d* f) { return static_cast<CPanelHSV*>(f->panels[0]); }

// As a user does on the first tab: a drag draws a box round the disc, then
// "color set" and a click on the disc pick its colour.
void AddDiscTarget(CLfTrack2d* f, FakeHost& host, int disc, int32_t half = 12) {
    const double t = static_cast<double>(host.currentFrame);
    const int32_t cx = static_cast<int32_t>(std::lround(kDiscs[disc].X(t)));
    const int32_t cy = static_cast<int32_t>(std::lround(kDiscs[disc].Y(t)));
    f->OnLButtonDown(cx - half, cy - half, 0);
    f->OnMouseMove(cx + half, cy + half, 0);
    f->OnLButtonUp(cx + half, cy + half, 0);
    CPanelHSV* panel = HsvPanel(f);
    panel->colorSet.checked = 1;
    panel->colorSet.callback(&panel->colorSet, panel->colorSet.data);
    f->OnLButtonDown(cx, cy, 0);
    f->OnLButtonUp(cx, cy, 0);
    // Out of the picking mode again.
    panel->colorAdd.checked = 0;
    panel->colorAdd.callback(&panel->colorAdd, panel->colorAdd.data);
}

// Answers the waits of ManualTrack (the modal loop without a screen) with
// the next scripted action; other modal screens go to the hook installed
// before (a ModalAnswers).
class ManualScript {
public:
    explicit ManualScript(kvtest::ModalAnswers* answers = nullptr) : answers_(answers) {
        previous_ = FgSetModalStartHook(&ManualScript::Hook, this);
    }
    ~ManualScript() { FgSetModalStartHook(previous_, answers_); }
    std::deque<std::function<void()>> steps;
    int waits = 0;
    CLfTrack2d* filter = nullptr;

private:
    static void Hook(CFgScreen* screen, void* user) {
        auto* self = static_cast<ManualScript*>(user);
        if (screen) {
            if (self->previous_) self->previous_(screen, self->answers_);
            return;
        }
        ++self->waits;
        if (self->steps.empty()) {
            ADD_FAILURE() << "an unexpected manual wait";
            if (self->filter) self->filter->AnswerLost();
            return;
        }
        auto step = self->steps.front();
        self->steps.pop_front();
        step();
    }
    kvtest::ModalAnswers* answers_;
    FgModalStartHook previous_ = nullptr;
};

class Track2dTest : public testing::Test {
protected:
    void SetUp() override {
        host.SetLanguage(L"en");
        track = static_cast<CLfTrack2d*>(host.Add(CreateLfTrack2dHsv()));
        ASSERT_NE(track, nullptr);
    }
    void TearDown() override {
        g_QuitRequested = 0;
        kvtest::Pump();
    }
    FakeHost host;
    CLfTrack2d* track = nullptr;
};

// The controller's own run over the same frames with the filter's targets
// as they were before its run.
struct Headless {
    TrackHost ctrl;
    Headless(uint64_t frames, const std::vector<CTrackHSV>& like) {
        for (uint64_t i = 0; i < frames; ++i) {
            auto* image = new CImgBuff;
            DiscFrame(i, image);
            ctrl.AddFrame(image);
        }
        for (const CTrackHSV& t : like) {
            auto* copy = new CTrackHSV;
            copy->range = t.range;
            copy->x = t.x, copy->y = t.y, copy->w = t.w, copy->h = t.h;
            EXPECT_GE(ctrl.AddTarget(copy), 0);
        }
        ctrl.SizeTable();
    }
};

std::vector<CTrackHSV> Snapshot(CLfTrack2d* f) {
    std::vector<CTrackHSV> out(static_cast<size_t>(f->targetCount));
    for (int32_t i = 0; i < f->targetCount; ++i) {
        auto* t = static_cast<CTrackHSV*>(f->targets[i]);
        out[static_cast<size_t>(i)].range = t->range;
        out[static_cast<size_t>(i)].x = t->x, out[static_cast<size_t>(i)].y = t->y;
        out[static_cast<size_t>(i)].w = t->w, out[static_cast<size_t>(i)].h = t->h;
    }
    return out;
}

TEST_F(Track2dTest, NamesAndEngines) {
    EXPECT_STREQ(track->GetName(L"en"), L"2D hsv tracking");
    EXPECT_STREQ(track->GetName(L"jp"), L"2D HSV追跡");
    EXPECT_STREQ(track->GetId(), L"2d_hsv_tracking");
    std::unique_ptr<CImgFilter> pattern(CreateLfTrack2dPattern());
    EXPECT_STREQ(pattern->GetName(L"en"), L"2D pattern tracking");
    EXPECT_STREQ(pattern->GetName(L"jp"), L"2D パターン追跡");
    EXPECT_STREQ(pattern->GetId(), L"2d_pattern_tracking");
    EXPECT_EQ(static_cast<CLfTrack2d*>(pattern.get())->Engine(), 1u);
    EXPECT_EQ(track->selected.load(), -1);
    EXPECT_EQ(track->lastBoxW, 1);
    EXPECT_EQ(track->idList.Count(), 1);
    EXPECT_EQ(track->idList.items[0].text, L"ALL");
}

TEST_F(Track2dTest, DrawnTargetsTakeTheirBoxAndPickedColour) {
    ASSERT_TRUE(OpenDiscs(host, 4));
    AddDiscTarget(track, host, 0);
    ASSERT_EQ(track->targetCount, 1);
    const CTrack* t = track->targets[0];
    EXPECT_EQ(t->x, 24 - 12);
    EXPECT_EQ(t->y, 30 - 12);
    EXPECT_EQ(t->w, 25);
    EXPECT_EQ(t->h, 25);
    EXPECT_EQ(track->lastBoxW, 25);
    EXPECT_EQ(track->selected.load(), 0);
    // The picked range holds the disc's colour only.
    const HsvRange range = static_cast<const CTrackHSV*>(t)->range;
    CImgBuff red;
    red.buffer->Create(1, 1, kImgRgb8);
    red.SetPixelRgb8(0, 0, 230, 30, 30);
    uint16_t h, s, v;
    red.buffer->GetPixelHsv16(0, 0, &h, &s, &v);
    EXPECT_TRUE(HsvRangeContains(range, h, s, v));
    red.SetPixelRgb8(0, 0, 100, 100, 100);
    red.buffer->GetPixelHsv16(0, 0, &h, &s, &v);
    EXPECT_FALSE(HsvRangeContains(range, h, s, v));
    EXPECT_EQ(track->idList.Count(), 2);
    EXPECT_EQ(track->idList.items[1].text, L"1");
}

// AUTO in each order and direction: the points equal the controller's
// headless run and lie within a pixel of the true path.
TEST_F(Track2dTest, AutoRunsEqualTheHeadlessRunAndThePath) {
    constexpr uint64_t kFrames = 30;
    const struct {
        const char* name;
        int32_t order;
        bool backward;
    } cases[] = {{"by scene", 0, false}, {"by id", 1, false}, {"only id", 2, false},
                 {"by scene backward", 0, true}, {"by id backward", 1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost h;
        h.SetLanguage(L"en");
        auto* f = static_cast<CLfTrack2d*>(h.Add(CreateLfTrack2dHsv()));
        ASSERT_TRUE(OpenDiscs(h, kFrames));
        const int32_t start = c.backward ? static_cast<int32_t>(kFrames) - 1 : 0;
        h.Seek(static_cast<uint64_t>(start));
        AddDiscTarget(f, h, 0);
        AddDiscTarget(f, h, 1);
        f->trackOrder.Set(c.order);
        f->revers.Set(c.backward ? 1 : 0);
        // "only id" tracks the selected one: the first, chosen by a click in
        // its box (the panel then shows its colour).
        if (c.order == 2) {
            const CTrack* t0 = f->targets[0];
            f->OnLButtonDown(t0->x + 3, t0->y + 3, 0);
            f->OnLButtonUp(t0->x + 3, t0->y + 3, 0);
            ASSERT_EQ(f->selected.load(), 0);
        }
        Headless headless(kFrames, Snapshot(f));
        h.calls.clear();
        {
            kvtest::ModalAnswers answers;
            ManualScript script(&answers);
            script.filter = f;
            f->RunTracking(0);
            EXPECT_TRUE(answers.messages.empty());
            EXPECT_EQ(script.waits, 0);
        }
        const int32_t step = c.backward ? -1 : 1;
        if (c.order == 0)
            headless.ctrl.TrackByScene(step, 1, 0);
        else
            headless.ctrl.TrackById(step, 1, c.order == 2 ? 0 : -1, 0);
        EXPECT_TRUE(headless.ctrl.asked.empty());
        for (int32_t i = 0; i < 2; ++i) {
            for (int32_t fr = 0; fr < static_cast<int32_t>(kFrames); ++fr) {
                const P2dPoint p = At(*f, fr, i), q = At(headless.ctrl, fr, i);
                EXPECT_EQ(p.x, q.x) << "target " << i << " frame " << fr;
                EXPECT_EQ(p.y, q.y) << "target " << i << " frame " << fr;
                if (c.order == 2 && i == 1) {
                    EXPECT_FALSE(P2dPointPresent(p)) << fr;
                    continue;
                }
                ASSERT_TRUE(P2dPointPresent(p)) << "target " << i << " frame " << fr;
                EXPECT_LT(std::hypot(p.x - kDiscs[i].X(fr), p.y - kDiscs[i].Y(fr)), 1.0) << i << " " << fr;
            }
        }
        // Every frame was shown, in the run's direction, and the host unlocked.
        std::vector<std::string> seeks;
        for (const std::string& call : h.calls)
            if (call.rfind("Seek(", 0) == 0) seeks.push_back(call);
        ASSERT_FALSE(seeks.empty());
        EXPECT_EQ(seeks.front(), "Seek(" + std::to_string(c.backward ? kFrames - 1 : 0) + ")");
        EXPECT_EQ(std::count(h.calls.begin(), h.calls.end(), "LockUi(1)"), 1);
        EXPECT_EQ(std::count(h.calls.begin(), h.calls.end(), "LockUi(0)"), 1);
        EXPECT_EQ(f->running.load(), 0u);
        EXPECT_EQ(f->autoButton.label, L"AUTO TRACK");
    }
}

TEST_F(Track2dTest, CancelAtFrameFortyKeepsTheEarlierRows) {
    ASSERT_TRUE(OpenDiscs(host, 100));
    AddDiscTarget(track, host, 0);
    host.atFrame[40] = [&] {
        EXPECT_EQ(track->autoButton.label, L"CANCEL");
        EXPECT_EQ(track->stepButton.enabled, 0u);
        EXPECT_EQ(track->autoButton.enabled, 1u);
        EXPECT_EQ(track->manualButton.enabled, 0u);
        track->RunTracking(0);  // the button, pressed again
    };
    host.calls.clear();
    {
        kvtest::ModalAnswers answers;
        ManualScript guard(&answers);  // a wait nobody expects is answered "lost"
        guard.filter = track;
        track->RunTracking(0);
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"canceled"}));
    }
    for (int32_t f = 0; f < 100; ++f) EXPECT_EQ(P2dPointPresent(At(*track, f, 0)), f < 40) << f;
    for (int32_t f = 0; f <= 40; ++f)
        EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "Seek(" + std::to_string(f) + ")"), host.calls.end())
            << f;
    EXPECT_EQ(std::find(host.calls.begin(), host.calls.end(), "Seek(41)"), host.calls.end());
    EXPECT_EQ(track->autoButton.label, L"AUTO TRACK");
    EXPECT_EQ(track->running.load(), 0u);
    EXPECT_EQ(track->cancel.load(), 0u);
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "LockUi(0)"), 1);
    EXPECT_EQ(track->stepButton.enabled, 1u);
    // A second run goes on from the frame shown.
    host.atFrame.clear();
    kvtest::ModalAnswers answers;
    ManualScript guard(&answers);  // a wait nobody expects is answered "lost"
    guard.filter = track;
    track->RunTracking(0);
    EXPECT_TRUE(answers.messages.empty());
    for (int32_t f = 0; f < 100; ++f) EXPECT_TRUE(P2dPointPresent(At(*track, f, 0))) << f;
}

// MANUAL: every point is asked for; a click, SKIP, NO DATA and LOST.
TEST_F(Track2dTest, ManualRunTakesClicksSkipNoDataAndLost) {
    ASSERT_TRUE(OpenDiscs(host, 8));
    AddDiscTarget(track, host, 0);
    // A point recorded before: SKIP leaves it.
    track->table.SetPoint(1, 0, {50.5, 60.5});
    kvtest::ModalAnswers answers;
    ManualScript script(&answers);
    script.filter = track;
    std::vector<uint32_t> waitingStates;
    auto check = [&] {
        EXPECT_EQ(track->manualWait.load(), 1u);
        EXPECT_EQ(track->lostButton.enabled, 1u);
        EXPECT_EQ(track->skipButton.enabled, 1u);
        EXPECT_EQ(track->autoButton.enabled, 0u);
        EXPECT_EQ(track->manualButton.enabled, 1u);
        EXPECT_EQ(track->manualButton.label, L"CANCEL");
    };
    script.steps = {
        [&] {
            check();
            track->OnLButtonDown(33, 44, 0);
            track->OnLButtonUp(33, 44, 0);
        },
        [&] {
            check();
            track->skipButton.callback(&track->skipButton, track->skipButton.data);
        },
        [&] { track->noDataButton.callback(&track->noDataButton, track->noDataButton.data); },
        [&] { track->lostButton.callback(&track->lostButton, track->lostButton.data); },
    };
    track->RunTracking(1);
    EXPECT_EQ(script.waits, 4);
    EXPECT_TRUE(answers.messages.empty());
    const P2dPoint p0 = At(*track, 0, 0), p1 = At(*track, 1, 0), p2 = At(*track, 2, 0), p3 = At(*track, 3, 0);
    EXPECT_EQ(p0.x, 33);
    EXPECT_EQ(p0.y, 44);
    EXPECT_EQ(p1.x, 50.5);  // skipped: unchanged
    EXPECT_EQ(p2.x, -1);    // no data
    EXPECT_EQ(p3.x, -1);    // lost: the run ends with the only target
    EXPECT_FALSE(P2dPointPresent(At(*track, 4, 0)));
    EXPECT_EQ(track->manualWait.load(), 0u);
    EXPECT_EQ(track->manualButton.label, L"MANUAL TRACK");
    EXPECT_EQ(track->targets[0]->lost, 0u);
}

// A quit message during the wait cancels: nothing stored, the run ends,
// and a wait that starts with the quit flag set returns at once.
TEST_F(Track2dTest, QuitDuringAManualWaitCancelsAndStoresNothing) {
    ASSERT_TRUE(OpenDiscs(host, 8));
    AddDiscTarget(track, host, 0);
    kvtest::ModalAnswers answers;
    ManualScript script(&answers);
    script.filter = track;
    script.steps = {[&] {
                        track->OnLButtonDown(30, 40, 0);
                        track->OnLButtonUp(30, 40, 0);
                    },
                    [&] { PlatPostQuitMessage(0); }};
    track->RunTracking(1);
    EXPECT_EQ(script.waits, 2);
    EXPECT_EQ(g_QuitRequested.load(), 1u);
    EXPECT_TRUE(P2dPointPresent(At(*track, 0, 0)));
    for (int32_t f = 1; f < 8; ++f) EXPECT_FALSE(P2dPointPresent(At(*track, f, 0))) << f;
    EXPECT_TRUE(answers.messages.empty());  // a quitting program shows no message
    EXPECT_EQ(track->running.load(), 0u);
    int32_t x = 5, y = 5;
    EXPECT_EQ(track->ManualTrack(0, 1, &x, &y), 0);
    EXPECT_EQ(script.waits, 2);
    EXPECT_EQ(x, 5);
    g_QuitRequested = 0;
}

// STEP that falls back to a click: the host stays locked and the panel
// refuses to close while the click is awaited.
TEST_F(Track2dTest, StepWaitsForAClickWithTheHostLocked) {
    ASSERT_TRUE(OpenDiscs(host, 5));
    AddDiscTarget(track, host, 0);
    // Move the box off the disc: nothing is found there.
    track->targets[0]->x = 100;
    track->targets[0]->y = 90;
    kvtest::ModalAnswers answers;
    ManualScript script(&answers);
    script.filter = track;
    script.steps = {[&] {
        const auto lock = std::find(host.calls.rbegin(), host.calls.rend(), "LockUi(1)");
        const auto unlock = std::find(host.calls.rbegin(), host.calls.rend(), "LockUi(0)");
        EXPECT_TRUE(lock != host.calls.rend() && (unlock == host.calls.rend() || lock < unlock));
        EXPECT_EQ(track->QueryClose(), 0);
        EXPECT_NE(track->window, 0u);
        track->OnLButtonDown(70, 80, 0);
        track->OnLButtonUp(70, 80, 0);
    }};
    host.calls.clear();
    track->StepTracking();
    EXPECT_EQ(script.waits, 1);
    EXPECT_EQ(At(*track, 0, 0).x, 70);
    EXPECT_EQ(At(*track, 0, 0).y, 80);
    EXPECT_EQ(host.calls.back() == "LockUi(0)" || std::count(host.calls.begin(), host.calls.end(), "LockUi(0)") == 1,
              true);
    EXPECT_EQ(host.currentFrame, 1u);  // by scene, the only ID: the next frame
    EXPECT_EQ(track->stepping.load(), 0u);
}

std::wstring Saved(CImgFilter* f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    f->SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

TEST_F(Track2dTest, SettingsSectionAndLoadRules) {
    const std::wstring golden =
        L"if_enable=1;if_visible=1;trackpanelsel=0;disp_id=1;line_all=0;line_len=10;active_scope=1;revers=0;"
        L"track_order=0;connect=8;multi_select=1;noise_auto=1;noise_enable_l=0;noise_enable_h=0;noise_l=10;"
        L"noise_h=1000;window_cut=0;holl_fill=1;preview=1;";
    EXPECT_EQ(Saved(track), golden);
    struct Item {
        const wchar_t *key, *value;
    };
    const struct {
        std::vector<Item> items;
        const wchar_t* changed;  // the keys that differ from the defaults afterwards
    } cases[] = {
        {{{L"line_len", L"35"}, {L"trackpanelsel", L"2"}, {L"connect", L"6"}, {L"noise_l", L"0"}}, L""},
        {{{L"line_len", L"30"}, {L"trackpanelsel", L"1"}, {L"connect", L"4"}, {L"noise_l", L"5"}},
         L"trackpanelsel=1;line_len=30;connect=4;noise_l=5;"},
        {{{L"disp_id", L"2"}, {L"line_all", L"yes"}, {L"revers", L"1"}, {L"active_scope", L"0"}},
         L"active_scope=0;revers=1;"},
        {{{L"track_order", L"3"}, {L"multi_select", L"-1"}, {L"noise_h", L"-4"}}, L""},
        {{{L"track_order", L"2"}, {L"multi_select", L"2"}, {L"noise_h", L"77"}, {L"holl_fill", L"0"}},
         L"track_order=2;multi_select=2;noise_h=77;holl_fill=0;"},
        {{{L"preview", L"0"}, {L"window_cut", L"1"}, {L"noise_enable_l", L"1"}, {L"noise_auto", L"0"}},
         L"noise_auto=0;noise_enable_l=1;window_cut=1;preview=0;"},
    };
    for (const auto& c : cases) {
        CLfTrack2d fresh(0);
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"t");
        for (const Item& i : c.items) pack->AddItem(i.key, i.value);
        fresh.LoadConfig(pack);
        CLfTrack2d defaults(0);
        const std::wstring base = Saved(&defaults), now = Saved(&fresh);
        std::wstring got;
        size_t a = 0, b = 0;
        while (a < now.size()) {
            const size_t ea = now.find(L';', a), eb = base.find(L';', b);
            if (now.substr(a, ea - a) != base.substr(b, eb - b)) got += now.substr(a, ea - a + 1);
            a = ea + 1;
            b = eb + 1;
        }
        EXPECT_EQ(got, c.changed) << c.items[0].key << "=" << c.items[0].value;
    }
    // Loaded values reach the controls, the options block and the engine.
    CLfTrack2d f(0);
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    pack->AddItem(L"trackpanelsel", L"1");
    pack->AddItem(L"line_len", L"0");
    pack->AddItem(L"line_all", L"1");
    pack->AddItem(L"noise_l", L"25");
    pack->AddItem(L"track_order", L"1");
    f.LoadConfig(pack);
    EXPECT_EQ(f.Engine(), 1u);
    EXPECT_STREQ(f.GetName(L"en"), L"2D pattern tracking");
    EXPECT_EQ(f.lineBar.position, 0);
    EXPECT_EQ(f.allSceneCheck.checked, 1u);
    EXPECT_EQ(f.Option(kTrackOptNoiseLow), 25u);
    EXPECT_EQ(f.orderRadios[0].GetGroupSelection(), 1);
}

// "revers" 1 and "track_order" 1 loaded into a new filter: its next run goes
// backward, target by target, without a touch on the controls.
TEST_F(Track2dTest, LoadedReverseByIdRunsBackwardTargetByTarget) {
    constexpr uint64_t kFrames = 12;
    ASSERT_TRUE(OpenDiscs(host, kFrames));
    host.Seek(kFrames - 1);
    AddDiscTarget(track, host, 0);
    AddDiscTarget(track, host, 1);
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    pack->AddItem(L"revers", L"1");
    pack->AddItem(L"track_order", L"1");
    track->LoadConfig(pack);
    EXPECT_EQ(track->reversCheck.checked, 1u);
    EXPECT_EQ(track->Step(), -1);
    EXPECT_EQ(track->Order(), 1);
    host.calls.clear();
    kvtest::ModalAnswers answers;
    ManualScript guard(&answers);  // a wait nobody expects is answered "lost"
    guard.filter = track;
    track->RunTracking(0);
    std::vector<std::string> seeks;
    for (const std::string& call : host.calls)
        if (call.rfind("Seek(", 0) == 0) seeks.push_back(call);
    // Target 1's frames 11 ... 0, then target 2's.
    ASSERT_GE(seeks.size(), 2 * kFrames);
    for (uint64_t k = 0; k < kFrames; ++k) {
        EXPECT_EQ(seeks[k], "Seek(" + std::to_string(kFrames - 1 - k) + ")");
        EXPECT_EQ(seeks[kFrames + k], "Seek(" + std::to_string(kFrames - 1 - k) + ")");
    }
    for (int32_t f = 0; f < static_cast<int32_t>(kFrames); ++f)
        for (int32_t i = 0; i < 2; ++i) EXPECT_TRUE(P2dPointPresent(At(*track, f, i))) << i << " " << f;
}

// With "revers" on and the current frame 50, a run covers 50 ... 0.
TEST_F(Track2dTest, ReverseRangeEndsAtTheCurrentFrame) {
    ASSERT_TRUE(OpenDiscs(host, 60));
    host.Seek(50);
    int32_t first = -1, last = -1;
    ASSERT_EQ(track->GetFrameRange(&first, &last), 1);
    EXPECT_EQ(first, 50);
    EXPECT_EQ(last, 59);
    track->revers.Set(1);
    ASSERT_EQ(track->GetFrameRange(&first, &last), 1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 50);
}

}  // namespace
