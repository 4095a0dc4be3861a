// The extraction filter in real chain runs: against the range kernels
// called directly, picks and the hatched preview against numpy's model of
// 16-bit HSV, the fill and preview formats, and its settings table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_config.h"
#include "filters/processing/lf_extract.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/support/fake_host.h"
#include "filters/processing/support/region_runs.h"
#include "image/kernels/hsv_range.h"
#include "image/pool.h"
#include "support/testsupport.h"

namespace {

// Unit runs have no display: the panels' windows fail at once.
[[maybe_unused]] const int kNoDisplay = setenv("SDL_VIDEODRIVER", "dummy", 0);

// The pixel rules as a module: its own table of cases is not printed.
std::string PixelRules() {
    std::string text = kvtest::ReadFileBytes(std::string(KV_SOURCE_DIR) + "/tests/image/oracle/pixel_rules.py");
    const size_t main = text.find("if __name__ == \"__main__\":");
    return main == std::string::npos ? text : text.substr(0, main);
}

// A processing rectangle in front of the filters added after it (w 0: not set).
CLfRect* AddRect(FakeHost& host, uint64_t x, uint64_t y, uint64_t w, uint64_t h) {
    auto* r = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    if (w) r->Set({1, x, y, w, h});
    return r;
}

std::wstring Saved(CImgFilter* f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    f->SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

void Load(CImgFilter* f, const std::vector<std::pair<const wchar_t*, const wchar_t*>>& items) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    for (const auto& [k, v] : items) pack->AddItem(k, v);
    f->LoadConfig(pack);
}

void Press(CFgUIChkButton& box, uint32_t on) {
    box.checked = on;
    box.callback(&box, box.data);
}

std::string Raw(const CImgBuff& image) {
    const auto bytes = kvtest::Bytes(image);
    return std::string(bytes.begin(), bytes.end());
}

const ExtractRanges kNarrow{11000, 6000, 9000, 60000, 12000, 58000};

// Behind each kind of processing rectangle, with the chain's conditions and
// behind "Change conditions" (black), every flag combination equals the
// range kernel on the clipped rectangle: by HSV on colour, by brightness on
// grey or with "grayscale".
TEST(Extract, ChainRunsEqualTheRangeKernels) {
    for (const auto& region : kvtest::RegionCases())
        for (int32_t format : kvtest::RegionFormats())
            for (uint32_t flags = 0; flags < 8; ++flags)
                for (uint32_t black : {0u, 1u}) {
                    const uint32_t rev = flags & 1, fil = (flags >> 1) & 1, gry = (flags >> 2) & 1, bg = black ? 0 : 1;
                    SCOPED_TRACE(std::to_string(flags) + (black ? " black" : " white"));
                    FakeHost host;
                    CLfRect* rect = AddRect(host, 0, 0, 0, 0);
                    if (black) static_cast<CLfConfig*>(host.Add(CreateLfConfig()))->background.Set(0);
                    auto* f = static_cast<CLfExtract*>(host.Add(CreateLfExtract()));
                    f->SetRanges(kNarrow);
                    f->reverse.Set(rev);
                    f->fill.Set(fil);
                    f->gray.Set(gry);
                    kvtest::ExpectChainMatchesDirect(host, rect, region, format, [&](CImgBuff* img, const ImgRect& r, bool inside) {
                        if (!inside) return;
                        const bool colour = img->buffer->format >= kImgRgb8;
                        if (colour && !gry)
                            ASSERT_EQ(ImgExtractHsvRange(img, kNarrow.hueCentre, kNarrow.hueWidth, kNarrow.satLow, kNarrow.satHigh,
                                                         kNarrow.valLow, kNarrow.valHigh, rev, fil, bg, &r), 1);
                        else
                            ASSERT_EQ(ImgExtractBrightnessRange(img, kNarrow.valLow, kNarrow.valHigh, rev, fil, bg, &r), 1);
                    });
                }
}

TEST(Extract, NewFilterKeepsEveryPixelAndDisabledPassesFrames) {
    FakeHost host;
    auto* f = static_cast<CLfExtract*>(host.Add(CreateLfExtract()));
    for (int32_t format : {kImgGray8, kImgRgb8, kImgRgb16, kImgHsv16}) {
        CImgBuff image, before;
        kvtest::RandomImage(image, 40, 30, format, 3);
        ASSERT_TRUE(before.CopyFrom(&image));
        host.RunChain(&image, 0);
        EXPECT_EQ(kvtest::Bytes(image), kvtest::Bytes(before)) << format;
    }
    f->SetRanges(kNarrow);
    f->CImgFilter::enabled = 0;
    CImgBuff image, before;
    kvtest::RandomImage(image, 40, 30, kImgRgb8, 4);
    ASSERT_TRUE(before.CopyFrom(&image));
    host.RunChain(&image, 0);
    EXPECT_EQ(kvtest::Bytes(image), kvtest::Bytes(before));
}

// A filled extraction over the whole picture leaves a grey two-level image
// of the colour's depth; inside a smaller rectangle the format stays. An
// empty brightness range on a grey image does nothing.
TEST(Extract, FillFormatsAndEmptyBrightness) {
    const struct {
        int32_t format;
        uint64_t w;  // rectangle width (0: none)
        int32_t result;
    } cases[] = {
        {kImgRgb8, 0, kImgGray8},   {kImgCmyk8, 0, kImgGray8},  {kImgRgb16, 0, kImgGray16},
        {kImgHsv16, 0, kImgGray16}, {kImgRgb8, 20, kImgRgb8},   {kImgGray8, 0, kImgGray8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        FakeHost host;
        AddRect(host, 0, 0, c.w, 30);
        auto* f = static_cast<CLfExtract*>(host.Add(CreateLfExtract()));
        f->SetRanges(kNarrow);
        f->fill.Set(1);
        CImgBuff image;
        kvtest::RandomImage(image, 40, 30, c.format, 5);
        host.RunChain(&image, 0);
        EXPECT_EQ(image.buffer->format, c.result);
    }
    FakeHost host;
    auto* f = static_cast<CLfExtract*>(host.Add(CreateLfExtract()));
    CImgBuff image, before;
    kvtest::RandomImage(image, 40, 30, kImgGray8, 6);
    ASSERT_TRUE(before.CopyFrom(&image));
    // valLow > valHigh cannot be loaded or set through the bars; the step
    // itself skips it.
    f->SetRanges({0, 32768, 0, 65535, 300, 200});
    host.RunChain(&image, 0);
    EXPECT_EQ(kvtest::Bytes(image), kvtest::Bytes(before));
}

// The python model of a pick and of the preview, from the pixel rules.
const char* kPickModel = R"(
import sys
import numpy as np

def hue_in(h, c, w):
    if w >= 32768: return True
    lo, hi = (c - w) % 65536, (c + w) % 65536
    return lo <= h <= hi if lo <= hi else (h >= lo or h <= hi)

def hue_add(c, w, h):
    if w >= 32768 or hue_in(h, c, w): return c, w
    lo, hi = (c - w) % 65536, (c + w) % 65536
    a, b = (lo - h) % 65536, (h - hi) % 65536
    if a > b:
        step = -(-b // 2); c = (c + step) % 65536
    else:
        step = -(-a // 2); c = (c - step) % 65536
    return c, min(w + step, 32768)

def hsv(px):
    return rgb16_to_hsv16(*(257 * int(v) for v in px))
)";

// "pickup and set", a click on a uniform patch, a click on a varied patch
// (now adding), right clicks back to before the toggle, and a bar move that
// ends the mode; the ranges against numpy.
TEST(Extract, PickTableAgainstNumpy) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "python missing";
    CImgBuff image;
    kvtest::RandomImage(image, 40, 30, kImgRgb8, 9);
    for (int y = 2; y < 12; ++y)
        for (int x = 2; x < 12; ++x) {
            uint8_t* p = image.buffer->PixelAt(x, y);
            p[0] = 200, p[1] = 60, p[2] = 30;
        }
    kvtest::TempDir dir("extract_pick");
    const std::string raw = dir.file("in.raw");
    ASSERT_TRUE(kvtest::WriteFileBytes(raw, Raw(image)));
    const std::string script = PixelRules() + kPickModel + R"(
a = np.fromfile(sys.argv[1], np.uint8).reshape(30, 40, 3)
def pick(r, x, y, first):
    c, w, sl, sh, vl, vh = r
    if first:
        h, s, v = hsv(a[y, x]); c, w, sl, sh, vl, vh = h, 0, s, s, v, v
    for yy in range(max(y - 2, 0), min(y + 2, 29) + 1):
        for xx in range(max(x - 2, 0), min(x + 2, 39) + 1):
            h, s, v = hsv(a[yy, xx])
            c, w = hue_add(c, w, h)
            sl, sh, vl, vh = min(sl, s), max(sh, s), min(vl, v), max(vh, v)
    return (c, w, sl, sh, vl, vh)
r1 = pick((0, 32768, 0, 65535, 0, 65535), 6, 6, True)
r2 = pick(r1, 25, 20, False)
r3 = pick(r2, 39, 0, False)
for r in (r1, r2, r3): print(*r)
)";
    std::string out;
    ASSERT_EQ(kvtest::RunPython(script, {raw}, &out), 0) << out;
    std::istringstream lines(out);
    std::vector<ExtractRanges> expected(3);
    for (ExtractRanges& e : expected) {
        unsigned v[6];
        for (unsigned& k : v) lines >> k;
        e = {static_cast<uint16_t>(v[0]), static_cast<uint16_t>(v[1]), static_cast<uint16_t>(v[2]),
             static_cast<uint16_t>(v[3]), static_cast<uint16_t>(v[4]), static_cast<uint16_t>(v[5])};
    }

    FakeHost host;
    auto* f = static_cast<CLfExtract*>(host.Add(CreateLfExtract()));
    const ExtractRanges before = kNarrow;
    f->SetRanges(before);
    f->OnLButtonDown(6, 6, 0);  // no pick mode: nothing
    EXPECT_TRUE(host.calls.size() == 1 && host.calls[0] == "Refilter(1)");
    Press(f->pickSetBox, 1);
    EXPECT_EQ(f->PickMode(), 1u);
    EXPECT_EQ(f->Ranges(), ExtractRanges{});
    EXPECT_EQ(host.calls.back(), "Refilter(1)");
    const struct {
        int64_t x, y;
    } clicks[] = {{6, 6}, {25, 20}, {39, 0}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        f->OnLButtonDown(clicks[i].x, clicks[i].y, 0);
        EXPECT_EQ(host.calls.back(), "Refilter(0)");
        CImgBuff work;
        ASSERT_TRUE(work.CopyFrom(&image));
        host.RunChain(&work, 0);
        EXPECT_EQ(f->Ranges(), expected[i]);
        EXPECT_EQ(f->PickMode(), 2u);  // later clicks add
        EXPECT_EQ(f->pickSetBox.checked, 0u);
        EXPECT_EQ(f->pickAddBox.checked, 1u);
        EXPECT_EQ(f->hueBar.position, expected[i].hueCentre);
        EXPECT_EQ(f->widthBar.position, expected[i].hueWidth);
        EXPECT_EQ(f->valBar.low, expected[i].valLow);
    }
    EXPECT_EQ(expected[0].hueWidth, 0);  // the uniform patch widens nothing
    EXPECT_EQ(expected[0].satLow, expected[0].satHigh);
    // One undo per right click, down to the ranges from before the toggle.
    const ExtractRanges undo[] = {expected[1], expected[0], ExtractRanges{}, before};
    for (const ExtractRanges& u : undo) {
        f->OnRButtonDown(0, 0, 0);
        EXPECT_EQ(f->Ranges(), u);
    }
    EXPECT_EQ(f->PickHistorySize(), 0u);
    f->OnRButtonDown(0, 0, 0);
    EXPECT_EQ(f->Ranges(), before);
    // A bar move ends the mode and releases the toggle.
    f->hueBar.Notify(1234);
    EXPECT_EQ(f->PickMode(), 0u);
    EXPECT_EQ(f->pickAddBox.checked, 0u);
    EXPECT_EQ(f->Ranges().hueCentre, 1234);
    EXPECT_EQ(host.calls.back(), "Refilter(1)");
}

// The hatched preview per pixel against numpy, red and black guides, a
// rectangle at an odd offset, 1 and all pool threads; reverse included.
TEST(Extract, PreviewHatchAgainstNumpy) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "python missing";
    CImgBuff source;
    kvtest::RandomImage(source, 40, 30, kImgRgb8, 12);
    kvtest::TempDir dir("extract_hatch");
    const std::string raw = dir.file("in.raw");
    ASSERT_TRUE(kvtest::WriteFileBytes(raw, Raw(source)));
    const ImgRect r{3, 5, 25, 19};
    for (uint32_t rev : {0u, 1u})
        for (int guide = 0; guide < 3; ++guide) {
            const double rgb[3][3] = {{1, 0, 0}, {0, 0, 0}, {0, 1, 1}};
            const std::string out = dir.file("expect.raw");
            const std::string script = PixelRules() + kPickModel + R"(
a = np.fromfile(sys.argv[1], np.uint8).reshape(30, 40, 3).astype(int)
rev, gr, gg, gb = (int(v) for v in sys.argv[3:7])
c, w, sl, sh, vl, vh = (int(v) for v in sys.argv[7:13])
x0, y0, x1, y1 = (int(v) for v in sys.argv[13:17])
flag = (gr, gg, gb)
for y in range(y0, y1 + 1):
    for x in range(x0, x1 + 1):
        h, s, v = hsv(a[y, x])
        match = sl <= s <= sh and vl <= v <= vh and (s == 0 and hue_in(0, c, w) if s == 0 else hue_in(h, c, w))
        if match != bool(rev): continue
        odd = ((x - x0) // 4 + (y - y0) // 4) % 2
        if any(flag):
            t = [(64 if odd else 192) if f else 0 for f in flag]
        else:
            t = [0 if odd else 127] * 3
        a[y, x] = [(a[y, x][k] + t[k]) // 2 for k in range(3)]
a.astype(np.uint8).tofile(sys.argv[2])
)";
            std::vector<std::string> args = {raw, out, std::to_string(rev)};
            for (double v : rgb[guide]) args.push_back(std::to_string(static_cast<int>(v)));
            for (uint16_t v : {kNarrow.hueCentre, kNarrow.hueWidth, kNarrow.satLow, kNarrow.satHigh, kNarrow.valLow,
                               kNarrow.valHigh})
                args.push_back(std::to_string(v));
            for (int32_t v : {r.x0, r.y0, r.x1, r.y1}) args.push_back(std::to_string(v));
            std::string log;
            ASSERT_EQ(kvtest::RunPython(script, args, &log), 0) << log;
            const std::string expect = kvtest::ReadFileBytes(out);
            for (uint64_t threads : {uint64_t{1}, uint64_t{8}}) {
                SCOPED_TRACE(std::to_string(rev) + " guide " + std::to_string(guide) + " threads " + std::to_string(threads));
                PoolStart();
                PoolSetThreadCount(threads);
                FakeHost host;
                host.SetGuideColor(rgb[guide][0], rgb[guide][1], rgb[guide][2]);
                AddRect(host, r.x0, r.y0, r.x1 - r.x0 + 1, r.y1 - r.y0 + 1);
                auto* f = static_cast<CLfExtract*>(host.Add(CreateLfExtract()));
                f->SetRanges(kNarrow);
                f->reverse.Set(rev);
                f->fill.Set(1);  // the preview ignores fill and the background
                Press(f->previewBox, 1);
                CImgBuff image;
                ASSERT_TRUE(image.CopyFrom(&source));
                host.RunChain(&image, 0);
                EXPECT_EQ(image.buffer->format, kImgRgb8);
                EXPECT_TRUE(Raw(image) == expect);
            }
        }
    PoolSetThreadCount(PoolGetProcessorCount());
}

// The preview of a grey image is in colour: grey levels as R = G = B, the
// removed pixels hatched; the guide colour changes rerun it.
TEST(Extract, PreviewOnGreyGivesColour) {
    FakeHost host;
    auto* f = static_cast<CLfExtract*>(host.Add(CreateLfExtract()));
    f->SetRanges({0, 32768, 0, 65535, 0, 32767});  // grey levels 0..127 kept
    Press(f->previewBox, 1);
    const size_t runs = host.calls.size();
    host.SetGuideColor(0, 0, 1);
    EXPECT_EQ(host.calls.size(), runs + 1);
    EXPECT_EQ(f->GuideBytes(), 0x0000FFu);
    CImgBuff image;
    ASSERT_TRUE(image.buffer->Create(8, 8, kImgGray8));
    for (int i = 0; i < 64; ++i) image.buffer->pixels[i] = static_cast<uint8_t>(i < 32 ? 100 : 200);
    host.RunChain(&image, 0);
    ASSERT_EQ(image.buffer->format, kImgRgb8);
    const uint8_t* kept = image.buffer->PixelAt(0, 0);
    EXPECT_TRUE(kept[0] == 100 && kept[1] == 100 && kept[2] == 100);
    const uint8_t* even = image.buffer->PixelAt(0, 4);  // cell 1: odd
    EXPECT_TRUE(even[0] == 100 && even[1] == 100 && even[2] == (200 + 64) / 2);
    const uint8_t* odd = image.buffer->PixelAt(4, 4);  // cell 2: even
    EXPECT_TRUE(odd[0] == 100 && odd[1] == 100 && odd[2] == (200 + 192) / 2);
}

// The preview transcribed pixel by pixel: the frame in colour, a mask from
// the range kernels on a copy (removed pixels black, kept white, nothing
// when the ranges are unusable), then every pixel of the rectangle whose
// mask reads 0 as 8-bit grey averaged with its cell's tint: 4 x 4 cells
// counted from the rectangle's corner, even cells 192 and odd cells 64 in
// the guide's non-zero channels (127 and 0 in all three for a black guide).
// Returns the number of pixels hatched.
int64_t PreviewByHand(CImgBuff* image, const ImgRect& r, const ExtractRanges& q, uint32_t rev, uint32_t gry, uint32_t guide) {
    C_ImgBuff& b = *image->buffer;
    if (b.format <= kImgGray32) {
        EXPECT_TRUE(b.ConvertFormat(b.format + 3));
    }
    CImgBuff mask;
    EXPECT_TRUE(mask.CopyFrom(image));
    if (!gry)
        ImgExtractHsvRange(&mask, q.hueCentre, q.hueWidth, q.satLow, q.satHigh, q.valLow, q.valHigh, rev, 1, 0, &r);
    else if (q.valLow <= q.valHigh)
        ImgExtractBrightnessRange(&mask, q.valLow, q.valHigh, rev, 1, 0, &r);
    const uint8_t g[3] = {static_cast<uint8_t>(guide >> 16), static_cast<uint8_t>(guide >> 8), static_cast<uint8_t>(guide)};
    const bool flagged = g[0] || g[1] || g[2];
    int64_t hatched = 0;
    for (int32_t y = r.y0; y <= r.y1; ++y)
        for (int32_t x = r.x0; x <= r.x1; ++x) {
            uint8_t level;
            mask.buffer->GetPixelGray8(x, y, &level);
            if (level) continue;
            ++hatched;
            const bool odd = ((x - r.x0) / 4 + (y - r.y0) / 4) % 2 != 0;
            uint8_t p[3];
            b.GetPixelRgb8(x, y, &p[0], &p[1], &p[2]);
            for (int c = 0; c < 3; ++c) {
                const int t = flagged ? (g[c] ? (odd ? 64 : 192) : 0) : (odd ? 0 : 127);
                p[c] = static_cast<uint8_t>((p[c] + t) / 2);
            }
            b.SetPixelRgb8(x, y, p[0], p[1], p[2]);
        }
    return hatched;
}

// The preview equals its transcription byte for byte in every format, over
// rows longer than a span, on the whole picture and on a rectangle at an
// odd offset, with reverse, "grayscale", ranges that the kernels refuse
// (the mask is then the picture itself) and three guides, on 1 and all
// pool threads. Most cases hatch some pixels and keep others (grey frames
// fail every hue test).
TEST(Extract, PreviewEqualsThePerPixelRuleInEveryFormat) {
    constexpr int32_t kW = 1100, kH = 23;
    CImgBuff colour;
    kvtest::RandomImage(colour, kW, kH, kImgRgb8, 21);
    for (int32_t y = 0; y < kH; ++y)  // black runs: removed under the refused ranges
        for (int32_t x = (y * 37) % 29; x < kW; x += 97)
            for (int32_t k = 0; k < 9 && x + k < kW; ++k) colour.buffer->SetPixelRgb8(x + k, y, 0, 0, 0);
    const struct {
        ExtractRanges ranges;
        uint32_t rev, gry;
    } settings[] = {
        {kNarrow, 0, 0}, {kNarrow, 1, 0}, {kNarrow, 0, 1}, {{0, 32768, 0, 65535, 0, 32767}, 1, 1},
        {{11000, 6000, 60000, 9000, 12000, 58000}, 0, 0},  // saturation refused
        {{0, 32768, 0, 65535, 300, 200}, 0, 1},             // brightness refused
    };
    const ImgRect rects[] = {{0, 0, kW - 1, kH - 1}, {3, 5, 1030, 20}};
    const double guides[3][3] = {{1, 0, 0}, {0, 0, 0}, {0, 1, 1}};
    for (int32_t format : {kImgGray8, kImgGray16, kImgGray32, kImgRgb8, kImgRgb16, kImgRgb32, kImgXyz, kImgHsv16, kImgCmyk8}) {
        CImgBuff source;
        ASSERT_TRUE(source.CopyFrom(&colour));
        ASSERT_TRUE(source.buffer->ConvertFormat(format));
        int32_t partial = 0;
        for (size_t i = 0; i < std::size(settings); ++i)
            for (size_t k = 0; k < std::size(rects); ++k)
                for (uint64_t threads : {uint64_t{1}, PoolGetProcessorCount()}) {
                    const auto& s = settings[i];
                    const ImgRect& r = rects[k];
                    const size_t guide = (i + k) % 3;
                    SCOPED_TRACE(std::to_string(format) + " case " + std::to_string(i) + " x0 " + std::to_string(r.x0) +
                                 " threads " + std::to_string(threads));
                    PoolStart();
                    PoolSetThreadCount(threads);
                    FakeHost host;
                    host.SetGuideColor(guides[guide][0], guides[guide][1], guides[guide][2]);
                    AddRect(host, r.x0, r.y0, r.x1 - r.x0 + 1, r.y1 - r.y0 + 1);
                    auto* f = static_cast<CLfExtract*>(host.Add(CreateLfExtract()));
                    f->SetRanges(s.ranges);
                    f->reverse.Set(s.rev);
                    f->gray.Set(s.gry);
                    Press(f->previewBox, 1);
                    CImgBuff image, expect;
                    ASSERT_TRUE(image.CopyFrom(&source));
                    ASSERT_TRUE(expect.CopyFrom(&source));
                    host.RunChain(&image, 0);
                    const int64_t hatched = PreviewByHand(&expect, r, s.ranges, s.rev, s.gry, f->GuideBytes());
                    if (hatched > 0 && hatched < int64_t{r.x1 - r.x0 + 1} * (r.y1 - r.y0 + 1)) ++partial;
                    ASSERT_EQ(image.buffer->format, expect.buffer->format);
                    ASSERT_TRUE(Raw(image) == Raw(expect));
                }
        EXPECT_GE(partial, 16) << format;
    }
    PoolSetThreadCount(PoolGetProcessorCount());
}

TEST(Extract, SettingsTable) {
    CLfExtract f;
    EXPECT_EQ(Saved(&f), L"if_enable=0;if_visible=0;reverse=0;fill=0;gray=0;hc=0;hw=32768;s=0,65535;v=0,65535;");
    Load(&f, {{L"reverse", L"1"}, {L"fill", L"1"}, {L"gray", L"1"}, {L"hc", L"65535"}, {L"hw", L"32768"}, {L"s", L"7,9"},
              {L"v", L"0,0"}});
    EXPECT_EQ(Saved(&f), L"if_enable=0;if_visible=0;reverse=1;fill=1;gray=1;hc=65535;hw=32768;s=7,9;v=0,0;");
    EXPECT_EQ(f.grayBox.checked, 1u);
    EXPECT_EQ(f.hueBar.enabled, 0u);  // the rule follows a load
    EXPECT_EQ(f.satBar.low, 7);
    // Ignored: a half-width above 32768, an inverted or incomplete pair, a
    // hue beyond the circle, a negative number, a flag other than 0 or 1.
    CLfExtract g;
    const std::wstring defaults = Saved(&g);
    const std::vector<std::pair<const wchar_t*, const wchar_t*>> refused = {
        {L"hw", L"40000"}, {L"s", L"5,3"}, {L"s", L"5"}, {L"v", L"1,65536"}, {L"hc", L"65536"},
        {L"hc", L"-1"},    {L"gray", L"2"}, {L"fill", L"yes"}};
    for (const auto& item : refused) {
        Load(&g, {item});
        EXPECT_EQ(Saved(&g), defaults) << item.first << L" " << item.second;
    }
    Load(&f, {{L"gray", L"0"}});
    EXPECT_EQ(f.hueBar.enabled, 1u);
}

}  // namespace
