// "Histogram": counts against numpy, the graph pixel by pixel against a
// numpy model, the stretch against its kernels behind a rectangle, the
// click that picks the range from the next frame, the graph drawn only for
// a shown panel (and from the latest frame when it is shown), and its
// settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_histogram.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/support/fake_host.h"
#include "image/kernels/histogram_levels.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/ui_input.h"

namespace {

std::wstring Saved(CImgFilter* f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    f->SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

// Levels lo..hi only, in a pattern numpy can count.
void Levels(CImgBuff& image, int32_t w, int32_t h, int32_t format, int lo, int hi) {
    ASSERT_TRUE(image.buffer->Create(w, h, format));
    uint32_t seed = 7;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t c[3];
            for (uint8_t& v : c) {
                seed = seed * 1103515245u + 12345u;
                v = static_cast<uint8_t>(lo + static_cast<int>((seed >> 16) % static_cast<uint32_t>(hi - lo + 1)));
            }
            if (format <= kImgGray32)
                image.buffer->SetPixelGray8(x, y, c[0]);
            else
                image.buffer->SetPixelRgb8(x, y, c[0], c[1], c[2]);
        }
}

class HistogramTest : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
};

TEST_F(HistogramTest, CountsAgainstNumpyBincountInsideTheRectangle) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with numpy";
    kvtest::TempDir dir("lf_histogram");
    for (int32_t format : {kImgGray8, kImgRgb8}) {
        SCOPED_TRACE(format);
        CImgBuff image;
        Levels(image, 40, 30, format, 0, 255);
        const int channels = format == kImgGray8 ? 1 : 3;
        const std::string raw = dir.file("in.raw");
        ASSERT_TRUE(kvtest::WriteFileBytes(
            raw, std::string(reinterpret_cast<char*>(image.buffer->pixels), 40 * 30 * static_cast<size_t>(channels))));
        std::string out;
        ASSERT_EQ(kvtest::RunPython("import sys, numpy as np\n"
                                    "c = int(sys.argv[2])\n"
                                    "a = np.fromfile(sys.argv[1], dtype=np.uint8).reshape(30, 40, c)[5:30, 12:40]\n"
                                    "for k in range(c): print(' '.join(map(str, np.bincount(a[:, :, k].ravel(), minlength=256))))\n",
                                    {raw, std::to_string(channels)}, &out),
                  0);
        FakeHost h;
        static_cast<CLfRect*>(h.Add(CreateLfRect()))->Set({1, 12, 5, 100, 100});
        auto* f = static_cast<CLfHistogram*>(h.Add(CreateLfHistogram()));
        h.RunChain(&image, 0);
        const HistogramRecord r = f->Record();
        EXPECT_EQ(r.kind, format == kImgGray8 ? 0u : 1u);
        std::istringstream lines(out);
        uint64_t maximum = 0;
        for (int c = 0; c < channels; ++c) {
            std::vector<uint64_t> expected(256);
            for (uint64_t& v : expected) lines >> v;
            EXPECT_EQ(std::vector<uint64_t>(r.counts[c], r.counts[c] + 256), expected) << "channel " << c;
            for (int i = 1; i < 255; ++i) maximum = std::max(maximum, expected[static_cast<size_t>(i)]);
        }
        EXPECT_EQ(r.maximum, maximum);
    }
}

// The graph as the model in numpy: scale, bar heights, 255 inside the range
// and 127 outside, colour bars overlaid, grey 64 background when disabled.
const char* kGraphModel = R"(
import sys, numpy as np
path, out, kind, lo, hi, view, enabled, maximum = sys.argv[1:]
kind, lo, hi, view, enabled, maximum = map(int, (kind, lo, hi, view, enabled, maximum))
counts = np.loadtxt(path, dtype=np.uint64, ndmin=2)
scale = max(1, maximum * view // 10000)
ch = 3 if kind == 1 else 1
g = np.zeros((100, 256, ch), dtype=np.uint8)
for c in range(ch):
    for i in range(256):
        h = min(int(counts[c][i]) * 100 // scale, 99)
        v = 255 if lo <= i <= hi else 127
        if h < 1:
            continue
        if ch == 3 and c == 0:
            g[100 - h:, i, :] = 0
        g[100 - h:, i, c] = v
if not enabled:
    if ch == 1:
        grey = g[:, :, 0].astype(np.int64)
    else:
        w = g.astype(np.int64)
        grey = (299 * w[:, :, 0] + 587 * w[:, :, 1] + 114 * w[:, :, 2] + 500) // 1000
    g[grey == 0] = 64
g.tofile(out)
)";

TEST_F(HistogramTest, GraphPixelByPixelAgainstANumpyModel) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with numpy";
    kvtest::TempDir dir("lf_histogram_graph");
    HistogramRecord grey;
    for (int i = 0; i < 256; ++i) grey.counts[0][i] = static_cast<uint64_t>((i * 37) % 101) * 3;
    grey.counts[0][0] = 5000;  // levels 0 and 255 do not set the scale
    grey.maximum = 300;
    HistogramRecord colour;
    colour.kind = 1;
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i) colour.counts[c][i] = static_cast<uint64_t>((i * (c + 3) * 11) % 97);
    colour.maximum = 96;
    HistogramRecord extremes;  // all pixels 0 or 255: maximum 0, scale 1
    extremes.counts[0][0] = 600;
    extremes.counts[0][255] = 400;
    const struct {
        const char* name;
        const HistogramRecord* record;
        uint64_t lo, hi, view;
        bool enabled;
    } cases[] = {
        {"grey full range", &grey, 0, 255, 10000, true},
        {"grey 127 outside [40, 180]", &grey, 40, 180, 10000, true},
        {"grey view 5000", &grey, 0, 255, 5000, true},
        {"grey disabled", &grey, 0, 255, 10000, false},
        {"colour", &colour, 30, 200, 10000, true},
        {"colour disabled", &colour, 0, 255, 7000, false},
        {"all 0 or 255", &extremes, 0, 255, 10000, true},
        {"empty disabled", &extremes, 0, 255, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream counts;
        const int channels = c.record->kind == 1 ? 3 : 1;
        for (int k = 0; k < channels; ++k) {
            for (int i = 0; i < 256; ++i) counts << c.record->counts[k][i] << ' ';
            counts << '\n';
        }
        const std::string in = dir.file("counts.txt"), out = dir.file("graph.raw");
        ASSERT_TRUE(kvtest::WriteFileBytes(in, counts.str()));
        std::string ignored;
        ASSERT_EQ(kvtest::RunPython(kGraphModel,
                                    {in, out, std::to_string(c.record->kind), std::to_string(c.lo),
                                     std::to_string(c.hi), std::to_string(c.view), c.enabled ? "1" : "0",
                                     std::to_string(c.record->maximum)},
                                    &ignored),
                  0);
        CImgBuff graph;
        ASSERT_TRUE(CLfHistogram::DrawGraph(*c.record, c.lo, c.hi, c.view, c.enabled, &graph));
        const std::string expected = kvtest::ReadFileBytes(out);
        ASSERT_EQ(expected.size(), 256u * 100u * static_cast<size_t>(channels));
        EXPECT_EQ(std::memcmp(graph.buffer->pixels, expected.data(), expected.size()), 0);
        if (c.record == &extremes && c.enabled) {
            EXPECT_EQ(*graph.buffer->PixelAt(0, 1), 255);  // full height: 99 pixels
            EXPECT_EQ(*graph.buffer->PixelAt(0, 0), 0);
            EXPECT_EQ(*graph.buffer->PixelAt(255, 1), 255);
        }
    }
}

TEST_F(HistogramTest, StretchBehindARectangleIsTheKernels) {
    for (int32_t format = 1; format <= 9; ++format)
        for (const CLfRect::Rect& rc : {CLfRect::Rect{1, 2, 3, 9, 7}, CLfRect::Rect{1, 10, 6, 50, 50},
                                        CLfRect::Rect{1, 30, 30, 5, 5}}) {
            SCOPED_TRACE(testing::Message() << "format " << format << " x " << rc.x);
            CImgBuff image, expected;
            Levels(image, 16, 12, format, 0, 255);
            ASSERT_TRUE(expected.CopyFrom(&image));
            if (rc.x < 16) {
                const ImgRect clip{static_cast<int32_t>(rc.x), static_cast<int32_t>(rc.y),
                                   static_cast<int32_t>(std::min<uint64_t>(15, rc.x + rc.w - 1)),
                                   static_cast<int32_t>(std::min<uint64_t>(11, rc.y + rc.h - 1))};
                if (format == kImgGray32 || format == kImgRgb32 || format == kImgXyz) {
                    ASSERT_TRUE(ImgLevelStretch(&expected, 40 * 256, 180 * 256 + 255, &clip));
                } else {
                    ImgLevelTable* t = ImgLevelTableCreate(40 * 256, 180 * 256 + 255);
                    ASSERT_TRUE(ImgLevelTableApply(&expected, t, &clip));
                    ImgLevelTableFree(t);
                }
            }
            FakeHost h;
            static_cast<CLfRect*>(h.Add(CreateLfRect()))->Set(rc);
            auto* f = static_cast<CLfHistogram*>(h.Add(CreateLfHistogram()));
            f->RangeChanged(40, 180);
            h.RunChain(&image, 0);
            ASSERT_EQ(std::memcmp(image.buffer->pixels, expected.buffer->pixels,
                                  16 * 12 * static_cast<size_t>(image.buffer->BytesPerPixel())),
                      0);
        }
}

TEST_F(HistogramTest, AClickOnTheGraphPicksTheRangeFromTheNextFrame) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfHistogram*>(host.Add(CreateLfHistogram()));
    ASSERT_TRUE(f->PanelShown());
    CImgBuff image, original;
    Levels(image, 64, 48, kImgRgb8, 30, 190);
    ASSERT_TRUE(original.CopyFrom(&image));
    host.RunChain(&image, 0);
    kvtest::Pump();
    host.calls.clear();
    PlatPostTestClick(f->window, 100, 50);
    kvtest::Pump();
    EXPECT_TRUE(f->AutoRangeRequested());
    EXPECT_EQ(host.calls, std::vector<std::string>{"Refilter(1)"});
    host.RunChain(&image, 0);
    // The picking run does not stretch; the panel then moves the bar and reruns.
    EXPECT_EQ(std::memcmp(image.buffer->pixels, original.buffer->pixels, 64 * 48 * 3), 0);
    EXPECT_FALSE(f->AutoRangeRequested());
    kvtest::Pump();
    EXPECT_EQ(f->Min(), 30u);
    EXPECT_EQ(f->Max(), 190u);
    EXPECT_EQ(f->rangeBar.low, 30);
    EXPECT_EQ(f->rangeBar.high, 190);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(1)", "Refilter(1)"}));
    host.RunChain(&image, 0);
    kvtest::Pump();
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "histogram-en");
    // A second click returns to the full range.
    PlatPostTestClick(f->window, 100, 50);
    kvtest::Pump();
    EXPECT_EQ(f->Min(), 0u);
    EXPECT_EQ(f->Max(), 255u);
    EXPECT_FALSE(f->AutoRangeRequested());
    // A disabled filter takes no request.
    f->CImgFilter::enabled = 0;
    host.calls.clear();
    PlatPostTestClick(f->window, 100, 50);
    kvtest::Pump();
    EXPECT_FALSE(f->AutoRangeRequested());
    EXPECT_TRUE(host.calls.empty());
    f->CImgFilter::enabled = 1;
    host.SetLanguage(L"jp");
    EXPECT_STREQ(f->title, L"ヒストグラム");
    host.RunChain(&original, 0);
    kvtest::Pump();
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "histogram-jp");
}

// The counts of an RGB8 image by a plain loop over its bytes, as the step
// should have recorded them.
HistogramRecord CountedByLoop(const CImgBuff& image) {
    HistogramRecord r;
    r.kind = 1;
    const C_ImgBuff& b = *image.buffer;
    const uint8_t* p = b.pixels;
    for (int32_t i = 0; i < b.width * b.height; ++i, p += 3)
        for (int c = 0; c < 3; ++c) ++r.counts[c][p[c]];
    for (int c = 0; c < 3; ++c)
        for (int i = 1; i < 255; ++i) r.maximum = std::max(r.maximum, r.counts[c][i]);
    return r;
}

// The panel, read back from the screen, shows the graph of `expected` (full
// range, full view) in its graph rectangle.
void ExpectGraphOnScreen(CLfHistogram* f, const HistogramRecord& expected) {
    ASSERT_TRUE(f->PanelShown());
    const HistogramRecord stored = f->Record();
    for (int c = 0; c < 3; ++c)
        ASSERT_EQ(std::vector<uint64_t>(stored.counts[c], stored.counts[c] + 256),
                  std::vector<uint64_t>(expected.counts[c], expected.counts[c] + 256))
            << "channel " << c;
    CImgBuff graph;
    ASSERT_TRUE(CLfHistogram::DrawGraph(expected, 0, 255, 10000, true, &graph));
    const PlatFrame frame = kvtest::CaptureFrame(*f, *f);
    ASSERT_GT(frame.width, CLfHistogram::kGraphX1);
    ASSERT_GT(frame.height, CLfHistogram::kGraphY1);
    int32_t wrong = 0;
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 256; ++x) {
            const uint8_t* want = graph.buffer->PixelAt(x, y);
            const uint8_t* got = kvtest::PixelAt(frame, CLfHistogram::kGraphX0 + x, CLfHistogram::kGraphY0 + y);
            if (std::memcmp(want, got, 3) != 0 && wrong++ < 3)
                ADD_FAILURE() << "graph pixel " << x << ", " << y << ": " << int(got[0]) << " " << int(got[1]) << " "
                              << int(got[2]) << " instead of " << int(want[0]) << " " << int(want[1]) << " "
                              << int(want[2]);
        }
    EXPECT_EQ(wrong, 0);
}

void ShowPanel(CLfHistogram* f) {
    f->visible = 1;
    f->ShowUi(1, f->uiParent);
    kvtest::Pump();
}

TEST_F(HistogramTest, AHiddenPanelGetsNoGraphAndShowingItDrawsTheLatestFrame) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfHistogram*>(host.Add(CreateLfHistogram()));
    CImgBuff scenes[3];
    const int ranges[3][2] = {{0, 255}, {30, 190}, {90, 140}};
    for (int i = 0; i < 3; ++i) Levels(scenes[i], 64, 48, kImgRgb8, ranges[i][0], ranges[i][1]);
    f->QueryClose();
    ASSERT_FALSE(f->PanelShown());
    CImgBuff before;
    ASSERT_TRUE(before.CopyFromTexture(&f->graph));
    const uint64_t sends = f->graph.sendCount;
    // The frames run on the chain's worker while the panel is hidden: counted, never drawn.
    ASSERT_TRUE(host.OpenSequence({&scenes[0], &scenes[1], &scenes[2]}));
    ASSERT_EQ(host.Seek(1), 1);
    ASSERT_EQ(host.Seek(2), 1);
    kvtest::Pump();
    const HistogramRecord stored = f->Record();
    const HistogramRecord latest = CountedByLoop(scenes[2]);
    EXPECT_EQ(std::vector<uint64_t>(&stored.counts[0][0], &stored.counts[0][0] + 3 * 256),
              std::vector<uint64_t>(&latest.counts[0][0], &latest.counts[0][0] + 3 * 256));
    EXPECT_EQ(stored.maximum, latest.maximum);
    CImgBuff after;
    ASSERT_TRUE(after.CopyFromTexture(&f->graph));
    EXPECT_EQ(std::memcmp(before.buffer->pixels, after.buffer->pixels, 256 * 100 * 3), 0);
    EXPECT_EQ(f->graph.uploadPending.load(), 0u);
    EXPECT_EQ(f->graph.sendCount, sends);
    // Shown again, the panel has the graph of the last frame at once.
    ShowPanel(f);
    ExpectGraphOnScreen(f, latest);
    // While it is shown each frame redraws it, also across a language change.
    ASSERT_EQ(host.Seek(0), 1);
    kvtest::Pump();
    ExpectGraphOnScreen(f, CountedByLoop(scenes[0]));
    host.SetLanguage(L"jp");
    kvtest::Pump();
    ExpectGraphOnScreen(f, CountedByLoop(scenes[0]));
    // A language change while hidden does not show it; the next show has the latest frame.
    f->QueryClose();
    ASSERT_EQ(host.Seek(1), 1);
    host.SetLanguage(L"en");
    kvtest::Pump();
    ASSERT_FALSE(f->PanelShown());
    ShowPanel(f);
    ExpectGraphOnScreen(f, CountedByLoop(scenes[1]));
}

// The panel shown and hidden on this thread while the worker runs frames:
// no frame's graph is lost (run under ThreadSanitizer for the races).
TEST_F(HistogramTest, ShowingAndHidingWhileTheWorkerRuns) {
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfHistogram*>(host.Add(CreateLfHistogram()));
    CImgBuff scenes[3];
    const int ranges[3][2] = {{0, 255}, {30, 190}, {90, 140}};
    for (int i = 0; i < 3; ++i) Levels(scenes[i], 320, 240, kImgRgb8, ranges[i][0], ranges[i][1]);
    ASSERT_TRUE(host.OpenSequence({&scenes[0], &scenes[1], &scenes[2]}));
    CImgBuff out;
    for (int i = 0; i < 40; ++i) {
        host.RequestRun(&out, &scenes[i % 3], static_cast<uint64_t>(i), 1);
        if (i % 2)
            ShowPanel(f);
        else
            f->QueryClose();
        kvtest::Pump();
    }
    host.RequestRun(&out, &scenes[1], 40, 0);
    kvtest::Pump();
    ExpectGraphOnScreen(f, CountedByLoop(scenes[1]));
    f->QueryClose();
    host.RequestRun(&out, &scenes[2], 41, 0);
    ShowPanel(f);
    ExpectGraphOnScreen(f, CountedByLoop(scenes[2]));
}

TEST_F(HistogramTest, SettingsSaveAndLoad) {
    auto* f = static_cast<CLfHistogram*>(host.Add(CreateLfHistogram()));
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;min=0;max=255;view=10000;");
    struct Item {
        const wchar_t *key, *value;
    };
    const struct {
        const char* name;
        std::vector<Item> items;
        uint64_t min, max, view;
    } cases[] = {
        {"min 10 alone", {{L"min", L"10"}}, 0, 255, 10000},
        {"min and max", {{L"min", L"10"}, {L"max", L"20"}}, 10, 20, 10000},
        {"min above max", {{L"min", L"30"}, {L"max", L"20"}}, 0, 255, 10000},
        {"max 256", {{L"min", L"0"}, {L"max", L"256"}}, 0, 255, 10000},
        {"view 0", {{L"view", L"0"}}, 0, 255, 10000},
        {"view 10001", {{L"view", L"10001"}}, 0, 255, 10000},
        {"view 1", {{L"view", L"1"}}, 0, 255, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CCfgFile reset;
        CCfgPack* r = reset.AddPack(L"histogram");
        r->AddItem(L"min", L"0");
        r->AddItem(L"max", L"255");
        r->AddItem(L"view", L"10000");
        f->LoadConfig(r);
        host.calls.clear();
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"histogram");
        for (const Item& i : c.items) pack->AddItem(i.key, i.value);
        f->LoadConfig(pack);
        EXPECT_EQ(f->Min(), c.min);
        EXPECT_EQ(f->Max(), c.max);
        EXPECT_EQ(f->View(), c.view);
        EXPECT_EQ(f->rangeBar.low, static_cast<int32_t>(c.min));
        EXPECT_EQ(f->viewBar.position, static_cast<int32_t>(c.view));
        EXPECT_TRUE(host.calls.empty());  // loading does not rerun
    }
}

}  // namespace
