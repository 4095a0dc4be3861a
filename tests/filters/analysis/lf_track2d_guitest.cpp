// The 2D tracking filter in the test host on synthetic disc movies: targets
// drawn and coloured with the mouse, AUTO runs in every order and direction
// against the controller's headless run and the true path, cancel, MANUAL
// runs answered at the modal-start hook (clicks, SKIP, NO DATA, LOST, quit),
// STEP, the settings section and its load rules.
#include "filters/analysis/lf_track2d.h"

#include <gtest/gtest.h>

#include <chrono>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <cmath>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filters/analysis/support/picture_screen.h"
#include "filters/analysis/support/track_host.h"
#include "filters/analysis/track_hsv.h"
#include "filters/core/cfgfile.h"
#include "filters/processing/lf_reversal.h"
#include "filters/processing/support/fake_host.h"
#include "platform/utf8.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "filters/analysis/support/table_fit.h"
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

// A frame the chain never delivers ends the run like the end of the scene:
// the frames before it keep their points, no later frame is sought, no message.
TEST_F(Track2dTest, AMissingFrameEndsTheRun) {
    ASSERT_TRUE(OpenDiscs(host, 12));
    AddDiscTarget(track, host, 0);
    host.unreadable = {5};
    host.calls.clear();
    kvtest::ModalAnswers answers;
    ManualScript guard(&answers);
    guard.filter = track;
    track->RunTracking(0);
    EXPECT_TRUE(answers.messages.empty());
    EXPECT_EQ(guard.waits, 0);
    for (int32_t f = 0; f < 12; ++f) EXPECT_EQ(P2dPointPresent(At(*track, f, 0)), f < 5) << f;
    EXPECT_EQ(std::find(host.calls.begin(), host.calls.end(), "Seek(6)"), host.calls.end());
    EXPECT_EQ(track->running.load(), 0u);
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

// --- the panel's commands ---

// Three plain targets (tracked by hand only) with a point in every frame:
// target i at (10 i + f, 5 + f).
void ThreeTargets(CLfTrack2d* f) {
    for (int32_t i = 0; i < 3; ++i) ASSERT_EQ(f->AddTargetAt(new CTrack, 10 * i, 5), i);
    for (int32_t i = 0; i < 3; ++i)
        for (uint32_t r = 0; r < f->table.Rows(); ++r) f->table.SetPoint(r, static_cast<uint32_t>(i), {10.0 * i + r, 5.0 + r});
}

std::vector<std::wstring> ListTexts(const CLfTrack2d* f) {
    std::vector<std::wstring> out;
    for (const FgListItem& item : f->idList.items) out.push_back(item.text);
    return out;
}

std::vector<std::wstring> Ids(int n) {
    std::vector<std::wstring> out{L"ALL"};
    for (int i = 1; i <= n; ++i) out.push_back(std::to_wstring(i));
    return out;
}

TEST_F(Track2dTest, EditCommandsValidAndRefused) {
    host.SetSourceFormat(64, 48, 3, 10);
    ThreeTargets(track);
    ASSERT_EQ(ListTexts(track), Ids(3));
    struct Case {
        const char* name;
        void (CLfTrack2d::*command)();
        std::vector<std::pair<CFgUIEdit CLfTrack2d::*, const wchar_t*>> fields;
        bool refused;
        int targets;
        std::function<void(CLfTrack2d*)> check;
    };
    using T = CLfTrack2d;
    const Case cases[] = {
        {"erase id 0", &T::EraseData, {{&T::eraseIdEdit, L"0"}, {&T::eraseFirstEdit, L"1"}, {&T::eraseLastEdit, L"2"}}, true, 3, nullptr},
        {"erase beyond the movie", &T::EraseData, {{&T::eraseIdEdit, L"1"}, {&T::eraseFirstEdit, L"1"}, {&T::eraseLastEdit, L"11"}}, true, 3, nullptr},
        {"erase first after last", &T::EraseData, {{&T::eraseIdEdit, L"1"}, {&T::eraseFirstEdit, L"5"}, {&T::eraseLastEdit, L"4"}}, true, 3, nullptr},
        {"erase id 4", &T::EraseData, {{&T::eraseIdEdit, L"4"}, {&T::eraseFirstEdit, L"1"}, {&T::eraseLastEdit, L"2"}}, true, 3, nullptr},
        {"erase not a number", &T::EraseData, {{&T::eraseIdEdit, L"2x"}, {&T::eraseFirstEdit, L"1"}, {&T::eraseLastEdit, L"2"}}, true, 3, nullptr},
        {"erase from frame 0 changes nothing", &T::EraseData, {{&T::eraseIdEdit, L"2"}, {&T::eraseFirstEdit, L"0"}, {&T::eraseLastEdit, L"3"}}, false, 3,
         [](CLfTrack2d* f) { for (int r = 0; r < 10; ++r) EXPECT_TRUE(P2dPointPresent(At(*f, r, 1))) << r; }},
        {"erase 3-5 of id 2", &T::EraseData, {{&T::eraseIdEdit, L"2"}, {&T::eraseFirstEdit, L"3"}, {&T::eraseLastEdit, L"5"}}, false, 3,
         [](CLfTrack2d* f) { for (int r = 0; r < 10; ++r) EXPECT_EQ(P2dPointPresent(At(*f, r, 1)), r < 2 || r > 4) << r; }},
        {"split frame 0", &T::SplitId, {{&T::splitIdEdit, L"1"}, {&T::splitFrameEdit, L"0"}}, true, 3, nullptr},
        {"split frame 11", &T::SplitId, {{&T::splitIdEdit, L"1"}, {&T::splitFrameEdit, L"11"}}, true, 3, nullptr},
        {"split id 1 at 6", &T::SplitId, {{&T::splitIdEdit, L"1"}, {&T::splitFrameEdit, L"6"}}, false, 4,
         [](CLfTrack2d* f) {
             for (int r = 0; r < 10; ++r) {
                 EXPECT_EQ(P2dPointPresent(At(*f, r, 0)), r < 5) << r;
                 EXPECT_EQ(P2dPointPresent(At(*f, r, 3)), r >= 5) << r;
             }
             EXPECT_EQ(At(*f, 7, 3).x, 7);
         }},
        {"concat an id with itself", &T::ConcatId, {{&T::id1Edit, L"2"}, {&T::id2Edit, L"2"}}, true, 4, nullptr},
        {"concat id 0", &T::ConcatId, {{&T::id1Edit, L"0"}, {&T::id2Edit, L"2"}}, true, 4, nullptr},
        {"concat 4 into 1", &T::ConcatId, {{&T::id1Edit, L"1"}, {&T::id2Edit, L"4"}}, false, 3,
         [](CLfTrack2d* f) { for (int r = 0; r < 10; ++r) EXPECT_EQ(At(*f, r, 0).x, r) << r; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& field : c.fields) (track->*field.first).SetLineText(0, field.second);
        kvtest::ModalAnswers answers;
        (track->*c.command)();
        EXPECT_EQ(answers.messages, c.refused ? std::vector<std::wstring>{L"The input content is incorrect"}
                                               : std::vector<std::wstring>{});
        EXPECT_EQ(track->targetCount, c.targets);
        EXPECT_EQ(ListTexts(track), Ids(c.targets));
        EXPECT_TRUE(track->idList.items[0].selected);
        if (c.check) c.check(track);
    }
    // DEL ID: the last selected moves to the new last; the list shrinks.
    track->selected = 2;
    track->DeleteId();
    EXPECT_EQ(track->targetCount, 2);
    EXPECT_EQ(track->selected.load(), 1);
    EXPECT_EQ(ListTexts(track), Ids(2));
    track->selected = 0;
    track->DeleteId();
    track->DeleteId();
    EXPECT_EQ(track->targetCount, 0);
    EXPECT_EQ(track->selected.load(), -1);
    EXPECT_EQ(ListTexts(track), Ids(0));
    track->DeleteId();  // nothing left: nothing happens
    // A run without targets selects nothing.
    track->RunTracking(0);
    EXPECT_EQ(track->selected.load(), -1);
}

TEST_F(Track2dTest, StepMovesByOrderAndEndsAtTheLastScene) {
    ASSERT_TRUE(OpenDiscs(host, 5));
    AddDiscTarget(track, host, 0);
    AddDiscTarget(track, host, 1);
    // STEP lives on the track tab; the engine panel's values stay with their targets.
    track->tabs.SelectTab(CLfTrack2d::kTabTrack, 0);
    const struct {
        int32_t order, backward, id, frame;
        int32_t nextId, nextFrame;  // -1: "end of scene"
    } cases[] = {
        {0, 0, 0, 2, 1, 2}, {0, 0, 1, 2, 0, 3}, {0, 0, 1, 4, -1, -1}, {0, 0, 0, 4, 1, 4},
        {1, 0, 0, 2, 0, 3}, {1, 0, 0, 4, 1, 0}, {1, 0, 1, 4, -1, -1},
        {2, 0, 0, 4, -1, -1}, {2, 0, 1, 1, 1, 2},
        {0, 1, 1, 2, 0, 1}, {0, 1, 1, 0, -1, -1}, {1, 1, 0, 0, 1, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "order " << c.order << " back " << c.backward << " id " << c.id
                                        << " frame " << c.frame);
        track->trackOrder.Set(c.order);
        track->revers.Set(c.backward);
        host.Seek(static_cast<uint64_t>(c.frame));
        track->selected = c.id;
        track->table.SetPoint(static_cast<uint32_t>(c.frame), static_cast<uint32_t>(c.id), {-1, -1});
        kvtest::ModalAnswers answers;
        ManualScript guard(&answers);
        guard.filter = track;
        track->StepTracking();
        EXPECT_EQ(guard.waits, 0);
        const P2dPoint p = At(*track, c.frame, c.id);
        EXPECT_LT(std::hypot(p.x - kDiscs[c.id].X(c.frame), p.y - kDiscs[c.id].Y(c.frame)), 1.0);
        if (c.nextId < 0) {
            EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"end of scene"}));
            EXPECT_EQ(host.currentFrame, static_cast<uint64_t>(c.frame));
        } else {
            EXPECT_TRUE(answers.messages.empty());
            EXPECT_EQ(track->selected.load(), c.nextId);
            EXPECT_EQ(host.currentFrame, static_cast<uint64_t>(c.nextFrame));
        }
        EXPECT_EQ(track->stepping.load(), 0u);
    }
}

TEST_F(Track2dTest, ControlStatesFollowRunWaitAndManualRun) {
    for (int bits = 0; bits < 8; ++bits) {
        const bool r = bits & 1, m = bits & 2, x = bits & 4;
        SCOPED_TRACE(testing::Message() << "R " << r << " M " << m << " X " << x);
        track->running = r;
        track->manualWait = m;
        track->manualRun = x;
        track->allSceneCheck.checked = 0;
        track->UpdateControls();
        const bool idle = !r && !m;
        EXPECT_EQ(track->stepButton.enabled, idle ? 1u : 0u);
        EXPECT_EQ(track->idList.enabled, idle ? 1u : 0u);
        EXPECT_EQ(track->tabs.enabled, idle ? 1u : 0u);
        EXPECT_EQ(track->saveButton.enabled, idle ? 1u : 0u);
        EXPECT_EQ(track->lineBar.enabled, idle ? 1u : 0u);
        EXPECT_EQ(track->autoButton.enabled, !x && (r || !m) ? 1u : 0u);
        EXPECT_EQ(track->manualButton.enabled, (x || !r) && (r || !m) ? 1u : 0u);
        EXPECT_EQ(track->skipButton.enabled, m || x ? 1u : 0u);
        EXPECT_EQ(track->noDataButton.enabled, m || x ? 1u : 0u);
        EXPECT_EQ(track->lostButton.enabled, (m || x) && r ? 1u : 0u);
        track->allSceneCheck.checked = 1;
        track->UpdateControls();
        EXPECT_EQ(track->lineBar.enabled, 0u);
    }
    track->running = 0;
    track->manualWait = 0;
    track->manualRun = 0;
    // Disabled by the host, everything is off; enabled again, the rules apply.
    track->allSceneCheck.checked = 1;
    track->EnableUi(0);
    EXPECT_EQ(track->autoButton.enabled, 0u);
    EXPECT_EQ(track->stepButton.enabled, 0u);
    track->EnableUi(1);
    EXPECT_EQ(track->autoButton.enabled, 1u);
    EXPECT_EQ(track->lostButton.enabled, 0u);
    EXPECT_EQ(track->lineBar.enabled, 0u);
}

TEST_F(Track2dTest, MouseOnEachTab) {
    ASSERT_TRUE(OpenDiscs(host, 6));
    host.Seek(2);
    // First tab: a press outside every box makes a 1 x 1 target and draws.
    track->OnLButtonDown(40, 50, 0);
    ASSERT_EQ(track->targetCount, 1);
    EXPECT_EQ(track->targets[0]->w, 1);
    EXPECT_EQ(track->targets[0]->x, 40);
    EXPECT_EQ(track->mouseMode.load(), CLfTrack2d::kMouseDraw);
    track->OnMouseMove(30, 57, 0);  // spans both corners, included
    EXPECT_EQ(track->targets[0]->x, 30);
    EXPECT_EQ(track->targets[0]->w, 11);
    EXPECT_EQ(track->targets[0]->h, 8);
    track->OnLButtonUp(30, 57, 0);
    EXPECT_EQ(track->mouseMode.load(), CLfTrack2d::kMouseNone);
    // A press in a box without points moves it.
    track->OnLButtonDown(32, 52, 0);
    EXPECT_EQ(track->mouseMode.load(), CLfTrack2d::kMouseMove);
    track->OnMouseMove(35, 50, 0);
    EXPECT_EQ(track->targets[0]->x, 33);
    EXPECT_EQ(track->targets[0]->y, 48);
    track->OnLButtonUp(35, 50, 0);
    // A right press: a box of the last drawn size centred on the click, moving.
    track->OnRButtonDown(100, 80, 0);
    ASSERT_EQ(track->targetCount, 2);
    EXPECT_EQ(track->targets[1]->w, 11);
    EXPECT_EQ(track->targets[1]->h, 8);
    EXPECT_EQ(track->targets[1]->x, 100 - 5);
    EXPECT_EQ(track->targets[1]->y, 80 - 4);
    EXPECT_EQ(track->selected.load(), 1);
    EXPECT_EQ(track->mouseMode.load(), CLfTrack2d::kMouseMove);
    track->OnRButtonUp(100, 80, 0);
    EXPECT_EQ(ListTexts(track), Ids(2));
    // A target with points keeps its box.
    track->table.SetPoint(4, 0, {38, 52});
    track->OnLButtonDown(34, 50, 0);
    EXPECT_EQ(track->mouseMode.load(), CLfTrack2d::kMouseNone);
    EXPECT_EQ(track->selected.load(), 1);
    EXPECT_EQ(track->targetCount, 2);

    // Second tab: the first target with a point here whose box holds the click.
    track->tabs.SelectTab(CLfTrack2d::kTabTrack, 0);
    track->table.SetPoint(2, 0, {38, 52});
    host.Seek(2);  // the box follows the point
    EXPECT_EQ(track->targets[0]->x, 38 - 5);
    track->OnLButtonDown(39, 53, 0);
    EXPECT_EQ(track->selected.load(), 0);

    // Third tab: the nearest point of this frame, the lower ID on a tie.
    track->tabs.SelectTab(CLfTrack2d::kTabEdit, 0);
    track->table.SetPoint(2, 0, {10, 10});
    track->table.SetPoint(2, 1, {20, 10});
    track->OnLButtonDown(15, 10, 0);
    EXPECT_EQ(std::wstring(track->eraseIdEdit.GetText()), L"1");
    EXPECT_EQ(std::wstring(track->eraseFirstEdit.GetText()), L"3");
    EXPECT_EQ(std::wstring(track->eraseLastEdit.GetText()), L"5");
    EXPECT_EQ(std::wstring(track->splitIdEdit.GetText()), L"1");
    EXPECT_EQ(std::wstring(track->splitFrameEdit.GetText()), L"3");
    EXPECT_EQ(std::wstring(track->id1Edit.GetText()), L"1");
    // With shift only the second ID of the join.
    track->OnLButtonDown(19, 11, 1);
    EXPECT_EQ(std::wstring(track->id2Edit.GetText()), L"2");
    EXPECT_EQ(std::wstring(track->eraseIdEdit.GetText()), L"1");
    EXPECT_EQ(std::wstring(track->id1Edit.GetText()), L"1");
}

// A new source discards the targets; the guide colour sets the tint flags;
// a new calibration reaches the table's block only when usable, its unit
// cut before a character that would not fit.
TEST_F(Track2dTest, SourceGuideColourAndCalibration) {
    ASSERT_TRUE(OpenDiscs(host, 6));
    ThreeTargets(track);
    host.SetSourceFormat(64, 48, 3, 17);
    EXPECT_EQ(track->targetCount, 0);
    EXPECT_EQ(track->table.Rows(), 17u);
    EXPECT_EQ(track->selected.load(), -1);
    EXPECT_EQ(ListTexts(track), Ids(0));

    host.calls.clear();
    host.SetGuideColor(0, 1, 0);
    EXPECT_EQ(track->tint[0].load(), 0);
    EXPECT_EQ(track->tint[1].load(), 255);
    EXPECT_EQ(track->tint[2].load(), 0);
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Refilter(1)"), 1);
    host.SetGuideColor(0, 1, 0);
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Refilter(1)"), 1);

    ASSERT_TRUE(OpenDiscs(host, 6));
    host.SetCalibration(2.5, -1, L"abcdefghijµm");
    host.RunCurrent();
    EXPECT_EQ(track->table.info.scale, 2.5);
    EXPECT_EQ(track->table.info.yDirection, -1);
    EXPECT_EQ(P2dUnitText(track->table.info), "abcdefghij");  // µ would not fit whole
    host.SetCalibration(0, 1, L"mm");
    host.RunCurrent();
    EXPECT_EQ(track->table.info.scale, 2.5);
    EXPECT_EQ(track->table.info.yDirection, -1);
    EXPECT_EQ(track->table.error, static_cast<uint32_t>(kP2dBadArgument));
}

TEST_F(Track2dTest, WorkImageIsTheImageAsItReachesTheFilter) {
    FakeHost h;
    h.SetLanguage(L"en");
    ASSERT_NE(h.Add(CreateLfReversal()), nullptr);
    auto* f = static_cast<CLfTrack2d*>(h.Add(CreateLfTrack2dHsv()));
    ASSERT_TRUE(OpenDiscs(h, 3));
    h.Seek(1);
    CImgBuff* work = f->GetWorkImage();
    ASSERT_TRUE(work && work->buffer && work->buffer->pixels);
    CImgBuff original;
    DiscFrame(1, &original);
    ASSERT_EQ(work->buffer->width, kW);
    for (int32_t y = 0; y < kH; y += 7)
        for (int32_t x = 0; x < kW; x += 5) {
            uint8_t a[3], b[3];
            work->buffer->GetPixelRgb8(x, y, &a[0], &a[1], &a[2]);
            original.buffer->GetPixelRgb8(x, y, &b[0], &b[1], &b[2]);
            for (int k = 0; k < 3; ++k) ASSERT_EQ(a[k], 255 - b[k]) << x << "," << y;
        }
}

// --- track files ---

std::string ReadBytes(const std::string& path) { return kvtest::ReadFileBytes(path); }

TEST_F(Track2dTest, TrackFilesSaveLoadAndRefuse) {
    host.SetSourceFormat(64, 48, 3, 10);
    host.SetCalibration(0.25, -1, L"mm");
    ASSERT_TRUE(OpenDiscs(host, 10));
    host.SetCalibration(0.25, -1, L"mm");
    host.RunCurrent();
    kvtest::TempDir dir("track2d_files");
    const std::wstring path = PlatUtf8ToWide(dir.file("a.p2d").c_str());
    {
        // Nothing to save.
        kvtest::ModalAnswers answers({path});
        track->SaveTrackFile();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"saving failed (write)"}));
    }
    ThreeTargets(track);
    {
        kvtest::ModalAnswers answers({path});
        track->SaveTrackFile();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"saved"}));
        ASSERT_EQ(answers.startNames.size(), 1u);
        EXPECT_EQ(answers.startNames[0], L"temp.p2d");
    }
    const std::string saved = ReadBytes(dir.file("a.p2d"));
    ASSERT_EQ(saved.size(), 16u + 24u + 3u * 10u * 16u);
    {
        // Overwrite refused, then a write that fails part-way: the old file stays.
        kvtest::ModalAnswers answers({path});
        answers.buttons = {1};
        track->table.SetPoint(0, 0, {1, 1});
        track->SaveTrackFile();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"Do you want to overwrite it?"}));
        EXPECT_EQ(ReadBytes(dir.file("a.p2d")), saved);
    }
    {
        rlimit old{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = 100;
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        kvtest::ModalAnswers answers({path});
        track->SaveTrackFile();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previousHandler);
        EXPECT_EQ(answers.messages,
                  (std::vector<std::wstring>{L"Do you want to overwrite it?", L"saving failed (write)"}));
        EXPECT_EQ(ReadBytes(dir.file("a.p2d")), saved);
    }
    // Round trip into a new filter of a longer movie: the table grows to it.
    FakeHost other;
    other.SetLanguage(L"en");
    auto* g = static_cast<CLfTrack2d*>(other.Add(CreateLfTrack2dHsv()));
    ASSERT_TRUE(OpenDiscs(other, 14));
    {
        kvtest::ModalAnswers answers({path});
        g->LoadTrackFile();
        EXPECT_TRUE(answers.messages.empty());
    }
    EXPECT_EQ(g->targetCount, 3);
    EXPECT_EQ(ListTexts(g), Ids(3));
    EXPECT_EQ(g->selected.load(), 0);
    EXPECT_EQ(g->table.Rows(), 14u);
    for (int32_t i = 0; i < 3; ++i)
        for (int32_t r = 0; r < 10; ++r) EXPECT_EQ(At(*g, r, i).x, 10.0 * i + r) << i << " " << r;
    EXPECT_EQ(other.calibScale, 0.25);
    EXPECT_EQ(other.calibAxisY, -1);
    EXPECT_STREQ(other.calibUnit, L"mm");
    // Version 2, a text file: refused, the targets kept.
    std::string v2 = saved;
    v2[6] = 2;
    ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("v2.p2d"), v2));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("text.p2d"), "hello, this is text\n"));
    const struct {
        const char* file;
        const wchar_t* message;
    } refused[] = {{"v2.p2d", L"unsupported version"}, {"text.p2d", L"loading failed"}};
    for (const auto& r : refused) {
        kvtest::ModalAnswers answers({PlatUtf8ToWide(dir.file(r.file).c_str())});
        g->LoadTrackFile();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{r.message})) << r.file;
        EXPECT_EQ(g->targetCount, 3);
    }
    // A file with scale 0 keeps the host's calibration; its points load. No
    // columns: no target, nothing selected.
    std::string zero = saved;
    const double none = 0.0;
    std::memcpy(&zero[16], &none, 8);
    ASSERT_TRUE(kvtest::WriteFileBytes(dir.file("zero.p2d"), zero));
    other.SetCalibration(3.0, 1, L"cm");
    {
        kvtest::ModalAnswers answers({PlatUtf8ToWide(dir.file("zero.p2d").c_str())});
        g->LoadTrackFile();
        EXPECT_TRUE(answers.messages.empty());
    }
    EXPECT_EQ(other.calibScale, 3.0);
    EXPECT_STREQ(other.calibUnit, L"cm");
    EXPECT_EQ(g->targetCount, 3);
    // Counts that no record of the file backs: refused, the targets kept.
    const struct {
        const char* file;
        uint32_t columns, rows;
    } unbacked[] = {{"no_columns.p2d", 0, 10}, {"no_rows.p2d", 10000, 0}, {"max_no_rows.p2d", 0x7FFFFFFFu, 0},
                    {"rows_20m.p2d", 0, 20000000u}};
    for (const auto& u : unbacked) {
        std::string header = saved.substr(0, 40);
        std::memcpy(&header[8], &u.columns, 4);
        std::memcpy(&header[12], &u.rows, 4);
        ASSERT_TRUE(kvtest::WriteFileBytes(dir.file(u.file), header));
        kvtest::ModalAnswers answers({PlatUtf8ToWide(dir.file(u.file).c_str())});
        g->LoadTrackFile();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"loading failed"})) << u.file;
        EXPECT_EQ(g->targetCount, 3) << u.file;
        EXPECT_EQ(ListTexts(g), Ids(3)) << u.file;
    }
}

// A real file of many columns (one target each) loads with the panel shown
// in linear time: the ID list is filled with one repaint, and the targets
// are replaced by the next file's in one pass.
TEST_F(Track2dTest, AFileOfManyColumnsLoadsAndIsReplacedInLinearTime) {
    ASSERT_TRUE(OpenDiscs(host, 2));
    kvtest::TempDir dir("track2d_wide");
    constexpr uint32_t kColumns = 20000;
    const std::string wide = dir.file("wide.p2d"), small = dir.file("small.p2d");
    {
        CP2dData d;
        ASSERT_TRUE(d.Create(kColumns, 1));
        for (uint32_t c = 0; c < kColumns; ++c) d.SetPoint(0, c, {1.0 + c % 50, 2.0});
        ASSERT_TRUE(d.Save(wide.c_str()));
        CP2dData e;
        ASSERT_TRUE(e.Create(2, 2));
        e.SetPoint(1, 1, {7.0, 8.0});
        ASSERT_TRUE(e.Save(small.c_str()));
    }
    ASSERT_TRUE(track->PanelShown());
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    {
        kvtest::ModalAnswers answers({PlatUtf8ToWide(wide.c_str())});
        track->LoadTrackFile();
        EXPECT_TRUE(answers.messages.empty());
    }
    const auto loaded = Clock::now();
    EXPECT_EQ(track->targetCount, static_cast<int32_t>(kColumns));
    EXPECT_EQ(track->idList.Count(), static_cast<int32_t>(kColumns) + 1);
    {
        kvtest::ModalAnswers answers({PlatUtf8ToWide(small.c_str())});
        track->LoadTrackFile();
        EXPECT_TRUE(answers.messages.empty());
    }
    const auto replaced = Clock::now();
    EXPECT_EQ(track->targetCount, 2);
    EXPECT_EQ(ListTexts(track), Ids(2));
    EXPECT_EQ(At(*track, 1, 1).x, 7.0);
    // Quadratic work took minutes here; linear work takes well under a second.
    EXPECT_LT(loaded - start, std::chrono::seconds(5));
    EXPECT_LT(replaced - loaded, std::chrono::seconds(5));
}

// --- the table ---

TEST_F(Track2dTest, TableCellTexts) {
    host.SetSourceFormat(640, 480, 3, 4);
    for (int32_t i = 0; i < 2; ++i) ASSERT_GE(track->AddTargetAt(new CTrack, 5, 5), 0);
    track->table.SetPoint(0, 0, {10, 0});
    track->table.SetPoint(1, 1, {3.25, 100});
    const struct {
        double scale;
        int32_t axis;
        const wchar_t* unit;
        uint64_t column, row;
        const wchar_t* text;
    } cases[] = {
        {1, 1, L"", 0, 0, L"pixel"},     {1, 1, L"mm", 0, 0, L"mm"},    {1, 1, L"", 1, 0, L"1"},
        {1, 1, L"", 2, 0, L""},          {1, 1, L"", 3, 0, L"2"},       {1, 1, L"", 0, 1, L""},
        {1, 1, L"", 1, 1, L"X"},         {1, 1, L"", 4, 1, L"Y"},       {1, 1, L"", 0, 2, L"1"},
        {1, 1, L"", 0, 5, L"4"},         {1, 1, L"", 1, 2, L"10.0"},    {1, 1, L"", 2, 2, L"0.0"},
        {1, -1, L"", 2, 2, L"479.0"},    {0.5, -1, L"", 2, 2, L"239.5"}, {0.5, 1, L"", 1, 2, L"5.0"},
        {1, 1, L"", 3, 3, L"3.2"},       {1, 1, L"", 3, 2, L""},        {1, 1, L"", 4, 2, L""},
        {2, -1, L"", 4, 3, L"758.0"},
    };
    for (const auto& c : cases) {
        host.SetCalibration(c.scale, c.axis, c.unit);
        EXPECT_EQ(std::wstring(track->CellText(c.column, c.row)), c.text)
            << c.column << "," << c.row << " scale " << c.scale << " axis " << c.axis;
    }
    track->ShowTable();
    ASSERT_NE(track->tableWindow.window, 0u);
    EXPECT_STREQ(track->tableWindow.title, L"TRACK DATA");
    EXPECT_EQ(track->tableWindow.grid.columns, 5u);
    EXPECT_EQ(track->tableWindow.grid.rows, 6u);
    // Drawn, every column fits its widest text.
    track->tableWindow.CFgUICtrl::Redraw();
    EXPECT_GT(kvtest::ExpectEveryTextFits(track->tableWindow.grid), 8);
}

// A run, the table saved as CSV (a unit with a comma is quoted) and read by
// Python's csv against the true path; screenshots of the panel and the
// picture.
TEST_F(Track2dTest, CsvOfARunAndScreenshots) {
    constexpr int kFrames = 20;
    ASSERT_TRUE(OpenDiscs(host, kFrames));
    AddDiscTarget(track, host, 0);
    AddDiscTarget(track, host, 1);
    {
        kvtest::ModalAnswers answers;
        ManualScript guard(&answers);
        guard.filter = track;
        track->RunTracking(0);
        EXPECT_EQ(guard.waits, 0);
    }
    host.SetCalibration(1.0, 1, L"px,a");
    track->ShowTable();
    ASSERT_NE(track->tableWindow.window, 0u);
    kvtest::TempDir dir("track2d_csv");
    const std::string csv = dir.file("track.csv");
    {
        kvtest::ModalAnswers answers({PlatUtf8ToWide(csv.c_str())});
        track->tableWindow.SaveCsvCommand();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"saved"}));
    }
    if (!kvtest::DebianPython().empty()) {
        std::string out;
        ASSERT_EQ(kvtest::RunPython(
                      "import csv, sys\n"
                      "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8', newline='')))\n"
                      "paths = [(24, 30, 1.3, 0.7), (130, 20, -1.1, 0.2)]\n"
                      "worst = 0\n"
                      "for r in rows[2:]:\n"
                      "    f = int(r[0]) - 1\n"
                      "    for k, (x0, y0, vx, vy) in enumerate(paths):\n"
                      "        worst = max(worst, abs(float(r[1 + 2 * k]) - (x0 + vx * f)), abs(float(r[2 + 2 * k]) - (y0 + vy * f)))\n"
                      "print(sorted(set(len(r) for r in rows)), len(rows), rows[0][0], rows[0][1], rows[1][1], rows[1][2], worst < 0.25)\n",
                      {csv}, &out),
                  0);
        EXPECT_EQ(out, "[5] 22 px,a 1 X Y True\n");
    }
    kvtest::Pump();
    kvtest::SaveScreenshot(kvtest::CaptureFrame(track->tableWindow, track->tableWindow), "track2d-table");
    // The picture after the run: boxes, IDs and all-scene trails.
    host.SetGuideColor(1, 1, 0);
    track->tabs.SelectTab(CLfTrack2d::kTabTrack, 0);
    track->lineAll.Set(1);
    track->allSceneCheck.checked = 1;
    host.Seek(kFrames / 2);
    kvtest::PictureScreen picture(&host, 2 * kW, 2 * kH);
    picture.Shoot(&host.result, "track2d-overlay", 2);
    // Panel tabs in both languages.
    const char* names[3] = {"regist", "track", "edit"};
    for (const wchar_t* lang : {L"en", L"jp"}) {
        host.SetLanguage(lang);
        ASSERT_NE(track->window, 0u);
        for (int32_t t = 0; t < 3; ++t) {
            track->tabs.SelectTab(t, 0);
            kvtest::Pump();
            kvtest::SaveScreenshot(kvtest::CaptureFrame(*track, *track),
                                   std::string("track2d-panel-") + names[t] + "-" + (lang[0] == L'e' ? "en" : "jp"));
        }
    }
    EXPECT_EQ(track->autoButton.label, L"自動追跡");
    ASSERT_NE(track->tableWindow.window, 0u);  // reopened after the language switch
    EXPECT_STREQ(track->tableWindow.title, L"追跡データ");
}

// The overlay by tab and state, with a recording pen.
class LineRecorder : public COverlayPen {
public:
    int lines = 0;
    void Colour(double, double, double) override {}
    void Line(double, double, double, double) override { ++lines; }
    void Triangle(double, double, double, double, double, double) override {}
    void Quad(double, double, double, double) override {}
};
double Identity(int32_t v) { return v; }

TEST_F(Track2dTest, OverlayByTabAndTrails) {
    host.SetSourceFormat(64, 48, 3, 10);
    ThreeTargets(track);
    track->table.SetPoint(4, 2, {-1, -1});  // target 3 has no point at frame 4
    host.currentFrame = 4;
    LineRecorder rec;
    COverlayPen* previous = SetOverlayPen(&rec);
    auto draw = [&] {
        rec.lines = 0;
        track->OnOverlayView(Identity, Identity, nullptr, nullptr, 0, 0, 63, 47, 0, 0, 63, 47, 1);
        return rec.lines;
    };
    // First tab: boxes only (4 lines each), the selected one twice.
    EXPECT_EQ(draw(), 3 * 4 + 4);
    // Track tab, all IDs: boxes where a point is here, a cross and the trail
    // back 10 frames (frames 4 ... 0: 4 segments; target 3, the selected one,
    // has no point here: no box, no cross, 3 segments below frame 4).
    track->tabs.SelectTab(CLfTrack2d::kTabTrack, 0);
    EXPECT_EQ(draw(), (4 + 2 + 4) + (4 + 2 + 4) + (0 + 0 + 3));
    // Only ID 2 chosen.
    track->idList.SetItemSelected(2, 1);
    track->idList.callback(&track->idList, track->idList.data, 2);
    EXPECT_FALSE(track->idList.items[0].selected);
    EXPECT_EQ(draw(), 4 + 2 + 4);
    // All scenes: the polyline over frames 0 ... 9.
    track->idList.SetItemSelected(0, 1);
    track->idList.callback(&track->idList, track->idList.data, 0);
    EXPECT_FALSE(track->idList.items[2].selected);
    track->lineAll.Set(1);
    EXPECT_EQ(draw(), (4 + 2 + 9) + (4 + 2 + 9) + (0 + 0 + 3 + 4));
    // During a manual wait only the current target, with an outline 1 pixel out.
    track->manualWait = 1;
    track->currentTarget = 1;
    EXPECT_EQ(draw(), 4 + 4 + 2 + 9);
    track->manualWait = 0;
    SetOverlayPen(previous);
}

}  // namespace
