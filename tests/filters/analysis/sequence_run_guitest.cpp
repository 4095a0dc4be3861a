// The whole-sequence run helper driven through the test host: frames as the
// chain delivered them, the host calls in order, the button and the lock
// undone on every way out, missing frames, stills, cancelling by a click,
// one run at a time, and the job wait that pumps messages.
#include "filters/analysis/sequence_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "filters/processing/support/fake_host.h"
#include "image/imgbuff.h"
#include "platform/plat_messages.h"
#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/support/ui_input.h"

namespace {

// Adds 100 to every pixel of a grey 8-bit image, so a capture shows the chain ran.
void AddHundred(CImgBuff* image) {
    C_ImgBuff* b = image->buffer;
    for (int32_t i = 0; i < b->width * b->height; ++i) b->pixels[i] = static_cast<uint8_t>(b->pixels[i] + 100);
}

// A filter whose step adds 100 to every pixel (so a capture shows the
// chain ran) and copies the result into its run's capture.
class CaptureFilter : public CImgFilter {
public:
    const wchar_t* GetName(const wchar_t*) override { return L"Capture"; }
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t,
                     uint32_t*, uint32_t*) override {
        AddHundred(image);
        copies += CSequenceRun::Capture(this, image, frame);
        return 1;
    }
    int copies = 0;
};

// A filter whose step adds 100 to every pixel and hands the chain's image
// to its run's visit, which records the first pixel (or declines).
class VisitFilter : public CImgFilter {
public:
    const wchar_t* GetName(const wchar_t*) override { return L"Visit"; }
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t,
                     uint32_t*, uint32_t*) override {
        AddHundred(image);
        CSequenceRun::Visit(this, image, frame, Record, this);
        return 1;
    }
    static int32_t Record(const CImgBuff* image, void* data) {
        auto* f = static_cast<VisitFilter*>(data);
        f->seen.push_back(image->buffer->pixels[0]);
        return f->accept ? 1 : 0;
    }
    std::vector<int> seen;
    bool accept = true;
};

// Scene i: a 4 x 3 grey image of value i.
bool Scene(uint64_t i, CImgBuff* out) {
    if (!out->buffer->Create(4, 3, kImgGray8)) return false;
    for (int32_t p = 0; p < 12; ++p) out->buffer->pixels[p] = static_cast<uint8_t>(i);
    return true;
}

class Panel : public CFgUIDialog {
public:
    Panel() {
        Create(-1, -1, 120, 60, L"panel", 0, nullptr);
        button.SetRect(10, 10, 80, 30);
        button.SetLabel(L"EXEC");
        AddChild(&button);
        kvtest::Pump();
    }
    ~Panel() override { Destroy(); }
    CFgUIButton button;
};

class SequenceRunTest : public testing::Test {
protected:
    void SetUp() override {
        filter = static_cast<CaptureFilter*>(host.Add(new CaptureFilter));
        ASSERT_NE(filter, nullptr);
    }
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
    CaptureFilter* filter = nullptr;
    Panel panel;
};

TEST_F(SequenceRunTest, StepsThroughTheSequenceAndUndoesEverything) {
    ASSERT_TRUE(host.OpenSequence(5, Scene));
    host.calls.clear();
    {
        CSequenceRun run(filter);
        ASSERT_EQ(run.Begin(&panel.button, L"CANCEL"), CSequenceRun::kStarted);
        EXPECT_TRUE(CSequenceRun::Running(filter));
        EXPECT_EQ(panel.button.label, L"CANCEL");
        CImgBuff frame;
        for (uint64_t i = 0; i < 5; ++i) {
            ASSERT_EQ(run.Step(i, &frame), CSequenceRun::kReady) << i;
            EXPECT_EQ(frame.buffer->width, 4);
            EXPECT_EQ(frame.buffer->pixels[11], 100 + i);
            EXPECT_EQ(run.CapturedFrame(), i);
        }
        // Past the end the seek fails: missing, not the last frame again.
        frame.buffer->pixels[0] = 7;
        EXPECT_EQ(run.Step(5, &frame), CSequenceRun::kMissing);
        EXPECT_EQ(frame.buffer->pixels[0], 7);
        EXPECT_FALSE(run.Canceled());
    }
    EXPECT_EQ(host.calls, (std::vector<std::string>{"LockUi(1)", "Seek(0)", "Seek(1)", "Seek(2)", "Seek(3)",
                                                    "Seek(4)", "Seek(5)", "LockUi(0)"}));
    EXPECT_EQ(panel.button.label, L"EXEC");
    EXPECT_FALSE(CSequenceRun::Running(filter));
    // After the run the step copies nothing.
    const int before = filter->copies;
    host.Seek(1);
    EXPECT_EQ(filter->copies, before);
}

TEST_F(SequenceRunTest, UnreadableFrameIsMissingAndLaterFramesStillArrive) {
    ASSERT_TRUE(host.OpenSequence(6, Scene));
    host.unreadable = {3};
    CSequenceRun run(filter);
    ASSERT_EQ(run.Begin(nullptr, nullptr), CSequenceRun::kStarted);
    CImgBuff frame;
    std::vector<int> got;
    for (uint64_t i = 0; i < 6; ++i) got.push_back(run.Step(i, &frame) == CSequenceRun::kReady ? frame.buffer->pixels[0] : -1);
    EXPECT_EQ(got, (std::vector<int>{100, 101, 102, -1, 104, 105}));
    // The unreadable seek succeeded without a chain run: the helper asked
    // for one synchronous run, which had nothing to run on.
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "Refilter(0)"), host.calls.end());
}

TEST_F(SequenceRunTest, StillIsRunOnceByASynchronousRefilter) {
    CImgBuff still;
    ASSERT_TRUE(Scene(9, &still));
    ASSERT_TRUE(host.OpenStill(still));
    host.calls.clear();
    CSequenceRun run(filter);
    ASSERT_EQ(run.Begin(nullptr, nullptr), CSequenceRun::kStarted);
    CImgBuff frame;
    ASSERT_EQ(run.Step(0, &frame), CSequenceRun::kReady);
    EXPECT_EQ(frame.buffer->pixels[0], 109);
    EXPECT_EQ(run.Step(1, &frame), CSequenceRun::kMissing);
    run.End();
    EXPECT_EQ(host.calls, (std::vector<std::string>{"LockUi(1)", "Seek(0)", "Refilter(0)", "Seek(1)", "LockUi(0)"}));
}

TEST_F(SequenceRunTest, OnlyTheRunningFilterCapturesAndOneRunAtATime) {
    auto* other = static_cast<CaptureFilter*>(host.Add(new CaptureFilter));
    ASSERT_TRUE(host.OpenSequence(3, Scene));
    CSequenceRun run(other);
    ASSERT_EQ(run.Begin(nullptr, nullptr), CSequenceRun::kStarted);
    CSequenceRun second(filter);
    EXPECT_EQ(second.Begin(&panel.button, L"CANCEL"), CSequenceRun::kBusy);
    EXPECT_EQ(panel.button.label, L"EXEC");
    EXPECT_EQ(run.Begin(nullptr, nullptr), CSequenceRun::kBusy);
    const int first = filter->copies;
    CImgBuff frame;
    ASSERT_EQ(run.Step(2, &frame), CSequenceRun::kReady);
    // The second filter ran after the first: it sees 200 + 2 and only it copied.
    EXPECT_EQ(frame.buffer->pixels[0], 202);
    EXPECT_EQ(filter->copies, first);
    EXPECT_EQ(other->copies, 1);
    EXPECT_FALSE(CSequenceRun::Running(filter));
    second.End();  // never began: nothing to undo
    EXPECT_TRUE(CSequenceRun::Running(other));
}

TEST_F(SequenceRunTest, ClickOnTheButtonCancelsAndAnEarlyReturnUndoesTheRun) {
    ASSERT_TRUE(host.OpenSequence(10, Scene));
    CSequenceRun* active = nullptr;
    panel.button.callback = [](CFgUIButton*, void* data) { (*static_cast<CSequenceRun**>(data))->Cancel(); };
    panel.button.data = &active;
    // The click is queued while frame 5 is shown and dispatched by the
    // step's pump.
    host.atFrame[5] = [&] { PlatPostTestClick(panel.window, 20, 20); };
    host.calls.clear();
    auto runAll = [&]() -> int {
        CSequenceRun run(filter);
        if (run.Begin(&panel.button, L"CANCEL") != CSequenceRun::kStarted) return -2;
        active = &run;
        CImgBuff frame;
        for (uint64_t i = 0; i < 10; ++i) {
            const CSequenceRun::StepResult r = run.Step(i, &frame);
            if (r == CSequenceRun::kCanceled) return static_cast<int>(i);  // the scope guard ends the run
            if (r != CSequenceRun::kReady) return -1;
        }
        return 10;
    };
    EXPECT_EQ(runAll(), 5);
    EXPECT_EQ(host.calls.back(), "LockUi(0)");
    EXPECT_EQ(host.calls[host.calls.size() - 2], "Seek(5)");
    EXPECT_EQ(panel.button.label, L"EXEC");
    // A second run works from the start.
    host.atFrame.clear();
    EXPECT_EQ(runAll(), 10);
}

TEST_F(SequenceRunTest, JobWaitEndsWithTheJobAndPumpsWhileItRuns) {
    // A quick job is not held for the 250 ms poll.
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(SequenceRunJob([](void*) { return 7; }, nullptr), 7);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(240));

    // A slow job that waits for the cancel flag: the click posted by the job
    // is dispatched by the wait's pumping.
    ASSERT_TRUE(host.OpenSequence(2, Scene));
    CSequenceRun run(filter);
    ASSERT_EQ(run.Begin(&panel.button, L"CANCEL"), CSequenceRun::kStarted);
    panel.button.callback = [](CFgUIButton*, void* data) { static_cast<CSequenceRun*>(data)->Cancel(); };
    panel.button.data = &run;
    struct Job {
        CaptureFilter* filter;
        uint32_t window;
        std::chrono::steady_clock::duration taken;
    } job{filter, panel.window, {}};
    const int32_t result = SequenceRunJob(
        [](void* arg) -> int32_t {
            auto* j = static_cast<Job*>(arg);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const auto posted = std::chrono::steady_clock::now();
            PlatPostTestClick(j->window, 20, 20);
            while (!CSequenceRun::CancelRequestedFor(j->filter)) {
                if (std::chrono::steady_clock::now() - posted > std::chrono::seconds(5)) return 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            j->taken = std::chrono::steady_clock::now() - posted;
            return 1;
        },
        &job);
    EXPECT_EQ(result, 1);
    // One poll of 250 ms, with room for a loaded machine; a wait that did
    // not pump would never see the click.
    EXPECT_LE(job.taken, std::chrono::milliseconds(1000));
    EXPECT_TRUE(run.Canceled());
    EXPECT_EQ(CSequenceRun::CancelRequestedFor(nullptr), 0);
}

// The copy-free visit: once for each step, on the first chain run of its
// seek (a second run during the same seek, or one between steps, is not
// visited), and a declined visit leaves the frame missing.
TEST_F(SequenceRunTest, VisitIsOfferedOncePerStepOnly) {
    auto* visitor = static_cast<VisitFilter*>(host.Add(new VisitFilter));
    ASSERT_NE(visitor, nullptr);
    ASSERT_TRUE(host.OpenSequence(4, Scene));
    host.unreadable = {2};
    host.atFrame[1] = [&] { host.RunCurrent(); };
    CSequenceRun run(visitor);
    ASSERT_EQ(run.Begin(nullptr, nullptr), CSequenceRun::kStarted);
    host.RunCurrent();  // between steps
    EXPECT_TRUE(visitor->seen.empty());
    EXPECT_EQ(run.Step(0, nullptr), CSequenceRun::kReady);
    EXPECT_EQ(run.Step(1, nullptr), CSequenceRun::kReady);
    EXPECT_EQ(run.Step(2, nullptr), CSequenceRun::kMissing);
    // The capturing filter before it added 100 as well.
    EXPECT_EQ(visitor->seen, (std::vector<int>{200, 201}));
    EXPECT_EQ(run.CapturedFrame(), 1u);
    visitor->accept = false;
    EXPECT_EQ(run.Step(3, nullptr), CSequenceRun::kMissing);
    EXPECT_EQ(visitor->seen, (std::vector<int>{200, 201, 203}));
    run.End();
    host.RunCurrent();
    EXPECT_EQ(visitor->seen.size(), 3u);
    // The other filter of the chain captured nothing: the run is not its.
    EXPECT_EQ(filter->copies, 0);
}

}  // namespace
