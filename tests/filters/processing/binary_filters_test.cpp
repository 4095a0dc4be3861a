// The binary-image filters in real chain runs: each against its kernel
// called directly with the clipped region and the run's conditions, their
// settings tables, and the object sizes against scipy.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_bg_erase.h"
#include "filters/processing/lf_binary.h"
#include "filters/processing/lf_config.h"
#include "filters/processing/lf_mask.h"
#include "filters/processing/lf_noise_remover.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/lf_separation.h"
#include "filters/processing/lf_window_cut.h"
#include "filters/processing/region_clip.h"
#include "filters/processing/support/fake_host.h"
#include "image/bitmask.h"
#include "image/kernels/background_subtract.h"
#include "image/kernels/morphology.h"
#include "media/codec.h"
#include "media/frame_output.h"
#include "image/kernels/object_removal.h"
#include "image/kernels/particles.h"
#include "image/pool.h"
#include "platform/utf8.h"
#include "support/testsupport.h"

namespace {

// Unit runs have no display: the panels' windows fail at once instead of
// probing for one.
[[maybe_unused]] const int kNoDisplay = setenv("SDL_VIDEODRIVER", "dummy", 0);

constexpr int32_t kW = 64, kH = 48;

// Discs of object level on the background level (white when `whiteBg`).
void Discs(CImgBuff& image, bool whiteBg, uint32_t seed = 7) {
    ASSERT_TRUE(image.buffer->Create(kW, kH, kImgGray8));
    const uint8_t back = whiteBg ? 255 : 0, object = whiteBg ? 0 : 255;
    std::memset(image.buffer->pixels, back, kW * kH);
    for (int i = 0; i < 14; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int cx = static_cast<int>(seed >> 16) % kW;
        seed = seed * 1103515245u + 12345u;
        const int cy = static_cast<int>(seed >> 16) % kH;
        const int r = 1 + i % 6;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) *image.buffer->PixelAt(x, y) = object;
    }
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

using Kernel = std::function<void(CImgBuff* image, const ImgRect& r, int32_t connect, uint32_t inverted)>;

// The filter behind each kind of processing rectangle, with the chain's own
// conditions (8, white) and behind "Change conditions" (4, black), equals its
// kernel on the region clipped by the test; disabled, it passes frames.
void ExpectChainMatchesKernel(const std::function<CImgFilter*(FakeHost&)>& add, const Kernel& kernel) {
    const struct {
        const char* name;
        uint64_t x, y, w, h;  // w 0: no rectangle
    } regions[] = {
        {"whole image", 0, 0, 0, 0},
        {"inside", 5, 7, 40, 30},
        {"partly outside", 30, 20, 100, 100},
        {"wholly outside", 200, 10, 20, 20},
        {"beyond 32 bits", (uint64_t{1} << 32) + 3, 2, 10, 10},
    };
    for (const auto& region : regions) {
        for (bool conditions : {false, true}) {
            SCOPED_TRACE(std::string(region.name) + (conditions ? ", 4 black" : ", 8 white"));
            FakeHost host;
            if (region.w) static_cast<CLfRect*>(host.Add(CreateLfRect()))->Set({1, region.x, region.y, region.w, region.h});
            if (conditions) {
                auto* c = static_cast<CLfConfig*>(host.Add(CreateLfConfig()));
                c->connectivity.Set(4);
                c->background.Set(0);
            }
            CImgFilter* filter = add(host);
            ASSERT_NE(filter, nullptr);
            CImgBuff image, expected;
            Discs(image, !conditions);
            ASSERT_TRUE(expected.CopyFrom(&image));
            // The clipped region, computed here in 64 bits.
            int64_t x0 = 0, y0 = 0, x1 = kW - 1, y1 = kH - 1;
            if (region.w) {
                x0 = static_cast<int64_t>(region.x);
                y0 = static_cast<int64_t>(region.y);
                x1 = std::min<int64_t>(x0 + static_cast<int64_t>(region.w) - 1, kW - 1);
                y1 = std::min<int64_t>(y0 + static_cast<int64_t>(region.h) - 1, kH - 1);
            }
            if (x0 <= x1 && y0 <= y1) {
                const ImgRect r{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1),
                                static_cast<int32_t>(y1)};
                kernel(&expected, r, conditions ? 4 : 8, conditions ? 0 : 1);
            }
            CImgBuff before;
            ASSERT_TRUE(before.CopyFrom(&image));
            host.RunChain(&image, 0);
            EXPECT_EQ(std::memcmp(image.buffer->pixels, expected.buffer->pixels, kW * kH), 0);
            filter->enabled = 0;
            ASSERT_TRUE(image.CopyFrom(&before));
            host.RunChain(&image, 0);
            EXPECT_EQ(std::memcmp(image.buffer->pixels, before.buffer->pixels, kW * kH), 0);
        }
    }
}

// scipy's view of a raw 8-bit image: the expected result of deleting the
// objects (pixels other than the background) of the region by size, with
// sizes counted inside the region only.
std::string ScipyRemoveBySize(const std::string& raw, int32_t w, int32_t h, int32_t connect, int32_t bgLevel,
                              uint32_t minimum, uint32_t maximum, const ImgRect& r) {
    kvtest::TempDir dir("noise_oracle");
    const std::string in = dir.file("in.raw"), out = dir.file("out.raw");
    if (!kvtest::WriteFileBytes(in, raw)) return {};
    const std::string script = R"(
import sys, numpy as np
from scipy import ndimage
src, dst, w, h, conn, bg, mn, mx, x0, y0, x1, y1 = sys.argv[1:3] + [int(v) for v in sys.argv[3:]]
a = np.fromfile(src, dtype=np.uint8).reshape(h, w)
sub = a[y0:y1 + 1, x0:x1 + 1]
st = ndimage.generate_binary_structure(2, 1 if conn == 4 else 2)
lab, n = ndimage.label(sub != bg, structure=st)
sizes = np.bincount(lab.ravel())
drop = np.zeros(n + 1, bool)
for i in range(1, n + 1):
    if (mn and sizes[i] <= mn) or (mx and sizes[i] >= mx): drop[i] = True
sub[drop[lab]] = bg
a.tofile(dst)
)";
    std::string ignored;
    if (kvtest::RunPython(script,
                          {in, out, std::to_string(w), std::to_string(h), std::to_string(connect), std::to_string(bgLevel),
                           std::to_string(minimum), std::to_string(maximum), std::to_string(r.x0), std::to_string(r.y0),
                           std::to_string(r.x1), std::to_string(r.y1)},
                          &ignored) != 0)
        return {};
    return kvtest::ReadFileBytes(out);
}

// Sizes of the 8-connected objects (non-zero pixels), smallest first, by scipy.
std::string ScipyObjectSizes(const CImgBuff& image) {
    kvtest::TempDir dir("label_oracle");
    const std::string in = dir.file("in.raw");
    kvtest::WriteFileBytes(in, std::string(reinterpret_cast<const char*>(image.buffer->pixels),
                                           static_cast<size_t>(image.buffer->width) * image.buffer->height));
    const std::string script = R"(
import sys, numpy as np
from scipy import ndimage
a = np.fromfile(sys.argv[1], dtype=np.uint8).reshape(int(sys.argv[3]), int(sys.argv[2]))
lab, n = ndimage.label(a != 0, structure=np.ones((3, 3)))
print(' '.join(str(int(s)) for s in sorted(np.bincount(lab.ravel())[1:])))
)";
    std::string out;
    if (kvtest::RunPython(script, {in, std::to_string(image.buffer->width), std::to_string(image.buffer->height)}, &out) != 0)
        return "no python";
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// --- the shared region helper ---

TEST(ClippedRegion, SaturatesThenClips) {
    CImgBuff image;
    ASSERT_TRUE(image.buffer->Create(10, 8, kImgGray8));
    const struct {
        int64_t x, y, w, h;
        bool inside;
        ImgRect r;
    } cases[] = {
        {0, 0, 10, 8, true, {0, 0, 9, 7}},
        {-5, -5, 8, 7, true, {0, 0, 2, 1}},
        {6, 4, 100, 100, true, {6, 4, 9, 7}},
        {10, 0, 5, 5, false, {}},
        {(int64_t{1} << 32) + 2, 0, 3, 3, false, {}},  // would wrap onto x = 2 in 32 bits
        {0, 0, INT64_MAX, INT64_MAX, true, {0, 0, 9, 7}},
        {INT64_MAX - 1, 0, INT64_MAX, 1, false, {}},
        {-(int64_t{1} << 40), 0, (int64_t{1} << 40) + 2, 1, true, {0, 0, 1, 0}},
        {2, 2, 0, 3, false, {}},
    };
    for (const auto& c : cases) {
        ImgRect r;
        EXPECT_EQ(ClippedRegion(&image, c.x, c.y, c.w, c.h, &r), c.inside) << c.x << "," << c.y;
        if (c.inside) {
            EXPECT_EQ(std::vector<int32_t>({r.x0, r.y0, r.x1, r.y1}),
                      std::vector<int32_t>({c.r.x0, c.r.y0, c.r.x1, c.r.y1}));
        }
    }
}

// --- separation ---

TEST(Separation, ChainRunsEqualTheKernel) {
    for (uint32_t gray : {0u, 1u}) {
        SCOPED_TRACE(gray);
        ExpectChainMatchesKernel(
            [gray](FakeHost& host) {
                auto* f = static_cast<CLfSeparation*>(host.Add(CreateLfSeparation()));
                f->gray.Set(gray);
                return f;
            },
            [gray](CImgBuff* image, const ImgRect& r, int32_t connect, uint32_t inverted) {
                ImgSeparateParticles(image, gray, connect, inverted, &r);
            });
    }
}

TEST(Separation, TwoTouchingDiscsBecomeTwoObjects) {
    CImgBuff image;
    ASSERT_TRUE(image.buffer->Create(60, 40, kImgGray8));
    std::memset(image.buffer->pixels, 0, 60 * 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x)
            if ((x - 20) * (x - 20) + (y - 20) * (y - 20) <= 100 || (x - 38) * (x - 38) + (y - 20) * (y - 20) <= 100)
                *image.buffer->PixelAt(x, y) = 255;
    CImgBuff single;
    ASSERT_TRUE(single.buffer->Create(60, 40, kImgGray8));
    std::memset(single.buffer->pixels, 0, 60 * 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x)
            if ((x - 30) * (x - 30) + (y - 20) * (y - 20) <= 100) *single.buffer->PixelAt(x, y) = 255;
    if (ScipyObjectSizes(single) == "no python") GTEST_SKIP() << "scipy is not installed";
    EXPECT_EQ(ScipyObjectSizes(image).find(' '), std::string::npos);  // one object before
    FakeHost host;
    host.bg = 0;
    host.Add(CreateLfSeparation());
    host.RunChain(&image, 0);
    const std::string sizes = ScipyObjectSizes(image);
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), ' '), 1) << sizes;
    host.RunChain(&single, 0);
    const std::string one = ScipyObjectSizes(single);
    EXPECT_EQ(one.find(' '), std::string::npos) << one;
    EXPECT_FALSE(one.empty());
}

TEST(Separation, SettingsTable) {
    std::unique_ptr<CLfSeparation> f(static_cast<CLfSeparation*>(CreateLfSeparation()));
    EXPECT_STREQ(f->GetName(L"en"), L"Separation");
    EXPECT_STREQ(f->GetName(L"jp"), L"物体の分離");
    EXPECT_EQ(Saved(f.get()), L"if_enable=0;if_visible=0;gray=0;");
    const struct {
        const wchar_t* text;
        uint32_t gray;
    } cases[] = {{L"1", 1}, {L"0", 0}, {L"yes", 1}, {L"", 1}, {L"0", 0}, {L"00", 1}};
    for (const auto& c : cases) {
        Load(f.get(), {{L"gray", c.text}});
        EXPECT_EQ(f->gray.Get(), c.gray) << std::wstring(c.text).size();
        EXPECT_EQ(f->grayBox.checked, c.gray);
    }
    Load(f.get(), {});
    EXPECT_EQ(f->gray.Get(), 1u);  // a missing key keeps the value
    EXPECT_EQ(Saved(f.get()), L"if_enable=0;if_visible=0;gray=1;");
}

// --- window cut ---

TEST(WindowCut, ChainRunsEqualTheKernelForEachEdgeChoice) {
    for (uint32_t edges : {0u, 15u, 1u | 4u, 2u | 8u}) {
        SCOPED_TRACE(edges);
        ExpectChainMatchesKernel(
            [edges](FakeHost& host) {
                auto* f = static_cast<CLfWindowCut*>(host.Add(CreateLfWindowCut()));
                f->left.Set(edges & 1);
                f->top.Set((edges >> 1) & 1);
                f->right.Set((edges >> 2) & 1);
                f->bottom.Set((edges >> 3) & 1);
                return f;
            },
            [edges](CImgBuff* image, const ImgRect& r, int32_t connect, uint32_t inverted) {
                ImgEraseEdgeObjects(image, edges & 1, (edges >> 1) & 1, (edges >> 2) & 1, (edges >> 3) & 1, connect,
                                    inverted, &r);
            });
    }
}

TEST(WindowCut, EdgesAreTheRectangles) {
    // Squares touching the rectangle's left, top, right and bottom edges and
    // one inside; the image's own edges are far away.
    CImgBuff image;
    ASSERT_TRUE(image.buffer->Create(40, 40, kImgGray8));
    std::memset(image.buffer->pixels, 0, 40 * 40);
    auto square = [&](int x, int y) {
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i) *image.buffer->PixelAt(x + i, y + j) = 255;
    };
    square(10, 18);  // left edge at 10
    square(18, 10);  // top edge at 10
    square(27, 18);  // right edge at 29
    square(18, 27);  // bottom edge at 29
    square(18, 18);  // inside
    const struct {
        uint32_t left, top, right, bottom;
        std::vector<bool> kept;  // left, top, right, bottom, inside
    } cases[] = {
        {1, 1, 1, 1, {false, false, false, false, true}},
        {0, 0, 0, 0, {true, true, true, true, true}},
        {0, 1, 0, 1, {true, false, true, false, true}},
    };
    for (const auto& c : cases) {
        CImgBuff work;
        ASSERT_TRUE(work.CopyFrom(&image));
        FakeHost host;
        host.bg = 0;
        static_cast<CLfRect*>(host.Add(CreateLfRect()))->Set({1, 10, 10, 20, 20});
        auto* f = static_cast<CLfWindowCut*>(host.Add(CreateLfWindowCut()));
        f->left.Set(c.left);
        f->top.Set(c.top);
        f->right.Set(c.right);
        f->bottom.Set(c.bottom);
        host.RunChain(&work, 0);
        const int at[5][2] = {{11, 19}, {19, 11}, {28, 19}, {19, 28}, {19, 19}};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(*work.buffer->PixelAt(at[i][0], at[i][1]) == 255, c.kept[i]) << i;
    }
}

TEST(WindowCut, SettingsTable) {
    std::unique_ptr<CLfWindowCut> f(static_cast<CLfWindowCut*>(CreateLfWindowCut()));
    EXPECT_STREQ(f->GetName(L"jp"), L"ウィンドウカット");
    EXPECT_EQ(Saved(f.get()), L"if_enable=0;if_visible=0;top=1;bottom=1;left=1;right=1;");
    EXPECT_EQ(f->leftBox.checked + f->topBox.checked + f->rightBox.checked + f->bottomBox.checked, 4u);
    Load(f.get(), {{L"top", L"0"}, {L"bottom", L"2"}, {L"left", L"yes"}, {L"right", L"0"}});
    EXPECT_EQ(Saved(f.get()), L"if_enable=0;if_visible=0;top=0;bottom=1;left=1;right=0;");
    EXPECT_EQ(f->topBox.checked, 0u);
    EXPECT_EQ(f->rightBox.checked, 0u);
    EXPECT_EQ(f->leftBox.checked, 1u);
    // A box click sets its edge; without a chain nothing runs.
    f->topBox.checked = 1;
    f->topBox.callback(&f->topBox, f->topBox.data);
    EXPECT_EQ(f->top.Get(), 1u);
}

// --- noise remover ---

TEST(NoiseRemover, ChainRunsEqualTheKernel) {
    const uint32_t limits[][2] = {{10, 0}, {0, 30}, {4, 20}, {0, 0}};
    for (const auto& l : limits) {
        SCOPED_TRACE(std::to_string(l[0]) + "/" + std::to_string(l[1]));
        ExpectChainMatchesKernel(
            [&l](FakeHost& host) {
                auto* f = static_cast<CLfNoiseRemover*>(host.Add(CreateLfNoiseRemover()));
                f->minEffective.Set(l[0]);
                f->maxEffective.Set(l[1]);
                return f;
            },
            [&l](CImgBuff* image, const ImgRect& r, int32_t connect, uint32_t inverted) {
                ImgRemoveObjectsBySize(image, l[0], l[1], connect, inverted, &r);
            });
    }
}

// Objects of 9, 10, 11 and 1000 pixels, and objects cut by the rectangle,
// against scipy's labels; then the switches and entered values.
TEST(NoiseRemover, SizesAgainstScipyAndTheSwitchTable) {
    CImgBuff image;
    ASSERT_TRUE(image.buffer->Create(80, 60, kImgGray8));
    std::memset(image.buffer->pixels, 0, 80 * 60);
    auto bar = [&](int x, int y, int n) {  // n pixels in rows of 10
        for (int i = 0; i < n; ++i) *image.buffer->PixelAt(x + i % 10, y + i / 10) = 255;
    };
    bar(2, 2, 9);
    bar(2, 6, 10);
    bar(2, 10, 11);
    bar(30, 2, 11);  // cut to 6 pixels by the rectangle below
    for (int y = 20; y < 60; ++y)
        for (int x = 15; x < 40; ++x) *image.buffer->PixelAt(x, y) = 255;  // 1000 pixels
    const std::string raw(reinterpret_cast<const char*>(image.buffer->pixels), 80 * 60);

    FakeHost host;
    host.bg = 0;
    host.connect = 8;
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    rect->Set({1, 0, 0, 34, 60});
    auto* f = static_cast<CLfNoiseRemover*>(host.Add(CreateLfNoiseRemover()));
    const ImgRect r{0, 0, 33, 59};
    auto run = [&](uint32_t expectMin, uint32_t expectMax) {
        CImgBuff work;
        EXPECT_TRUE(work.CopyFrom(&image));
        host.RunChain(&work, 0);
        const std::string expected = ScipyRemoveBySize(raw, 80, 60, 8, 0, expectMin, expectMax, r);
        if (expected.empty()) return;  // no scipy
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(work.buffer->pixels), 80 * 60), expected)
            << expectMin << "/" << expectMax;
        EXPECT_EQ(f->minEffective.Get(), expectMin);
        EXPECT_EQ(f->maxEffective.Get(), expectMax);
    };
    // A new filter: at most 10 pixels go (9, 10 and the cut 6), 11 and 1000 stay.
    run(10, 0);
    {
        CImgBuff work;
        ASSERT_TRUE(work.CopyFrom(&image));
        host.RunChain(&work, 0);
        EXPECT_EQ(*work.buffer->PixelAt(2, 2), 0);
        EXPECT_EQ(*work.buffer->PixelAt(2, 6), 0);
        EXPECT_EQ(*work.buffer->PixelAt(2, 10), 255);
        EXPECT_EQ(*work.buffer->PixelAt(30, 2), 0);
        EXPECT_EQ(*work.buffer->PixelAt(36, 2), 255);  // outside the rectangle
        EXPECT_EQ(*work.buffer->PixelAt(20, 30), 255);
    }
    auto click = [&](CFgUIChkButton& box) {
        box.checked = box.checked ? 0 : 1;
        box.callback(&box, box.data);
    };
    auto commit = [&](CFgUIEdit& edit, const wchar_t* text) {
        edit.SetLineText(0, text);
        edit.focusLost(&edit, edit.data);
    };
    click(f->minBox);  // minimum off: everything stays
    EXPECT_EQ(f->minEdit.enabled, 0u);
    run(0, 0);
    commit(f->minEdit, L"9");  // entered while off: no effect yet
    EXPECT_EQ(f->minEntered.Get(), 9u);
    run(0, 0);
    click(f->minBox);  // on again: the last entered value
    EXPECT_EQ(f->minEdit.enabled, 1u);
    run(9, 0);
    click(f->maxBox);  // maximum on at its entered 1000
    run(9, 1000);
    commit(f->maxEdit, L"11");
    run(9, 11);
    commit(f->minEdit, L"0");  // 0 deletes nothing by size
    run(0, 11);
    commit(f->minEdit, L"x1");  // invalid: the entered value is shown again
    EXPECT_STREQ(f->minEdit.GetText(), L"0");
    commit(f->minEdit, L"");
    EXPECT_STREQ(f->minEdit.GetText(), L"0");
    run(0, 11);
}

TEST(NoiseRemover, SettingsTable) {
    std::unique_ptr<CLfNoiseRemover> f(static_cast<CLfNoiseRemover*>(CreateLfNoiseRemover()));
    EXPECT_STREQ(f->GetName(L"en"), L"Noise remover");
    EXPECT_EQ(Saved(f.get()),
              L"if_enable=0;if_visible=0;enable_min=1;enable_max=0;ui_min=10;ui_max=1000;param_min=10;param_max=0;");
    EXPECT_STREQ(f->minEdit.GetText(), L"10");
    EXPECT_STREQ(f->maxEdit.GetText(), L"1000");
    EXPECT_EQ(f->minEdit.enabled, 1u);
    EXPECT_EQ(f->maxEdit.enabled, 0u);
    // Effective values load as they are, even when they disagree with the switches.
    Load(f.get(), {{L"enable_min", L"0"}, {L"enable_max", L"yes"}, {L"ui_min", L"25"}, {L"ui_max", L"77"},
                   {L"param_min", L"5"}, {L"param_max", L"6"}});
    EXPECT_EQ(Saved(f.get()),
              L"if_enable=0;if_visible=0;enable_min=0;enable_max=0;ui_min=25;ui_max=77;param_min=5;param_max=6;");
    EXPECT_EQ(f->minBox.checked, 0u);
    EXPECT_EQ(f->minEdit.enabled, 0u);
    EXPECT_STREQ(f->minEdit.GetText(), L"25");
    EXPECT_STREQ(f->maxEdit.GetText(), L"77");
    // The boxes receive the stored text itself, not the number rewritten.
    Load(f.get(), {{L"ui_min", L"007"}, {L"ui_max", L"+12abc"}});
    EXPECT_STREQ(f->minEdit.GetText(), L"007");
    EXPECT_STREQ(f->maxEdit.GetText(), L"+12abc");
    EXPECT_EQ(f->minEntered.Get(), 7u);
    EXPECT_EQ(f->maxEntered.Get(), 12u);
    // A section without the keys leaves the boxes showing the values.
    Load(f.get(), {});
    EXPECT_STREQ(f->minEdit.GetText(), L"7");
}

// --- binary image process ---

// One pass of a repeated type, as the kernels are called directly.
void BinaryPass(int32_t type, CImgBuff* image, const ImgRect& r, int32_t connect, uint32_t inverted) {
    if (type == 0) ImgBinaryExpandExclusive(image, connect, inverted, r.x0, r.y0, r.x1, r.y1);
    if (type == 1) ImgBinaryExpand(image, connect, inverted, &r);
    if (type == 2) {
        BitMask* mask = ImgForegroundMask(image, inverted, r.x0, r.y0, r.x1, r.y1);
        ASSERT_NE(mask, nullptr);
        ImgBinaryShrink(mask, image, connect, inverted, r.x0, r.y0, r.x1, r.y1);
        ImgBitMaskDestroy(mask);
    }
}

TEST(Binary, ChainRunsEqualTheKernelsForEveryType) {
    for (int32_t type = 0; type <= 5; ++type) {
        SCOPED_TRACE(type);
        ExpectChainMatchesKernel(
            [type](FakeHost& host) {
                auto* f = static_cast<CLfBinary*>(host.Add(CreateLfBinary()));
                f->type.Set(type);
                f->repeat.Set(3);
                f->shave.Set(4);
                return f;
            },
            [type](CImgBuff* image, const ImgRect& r, int32_t connect, uint32_t inverted) {
                if (type <= 2)
                    for (int i = 0; i < 3; ++i) BinaryPass(type, image, r, connect, inverted);
                if (type == 3) {
                    ImgBinaryThin(image, connect, inverted, &r);
                    ImgBinaryShave(image, 4, connect, inverted, &r);
                }
                if (type == 4) ImgBinaryBorder(image, connect, inverted, &r);
                if (type == 5) ImgBinaryFillHoles(image, connect, inverted, &r);
            });
    }
}

TEST(Binary, NewFilterFillsHolesAndHugeRepeatsStopWhenNothingChanges) {
    {
        CImgBuff image;
        ASSERT_TRUE(image.buffer->Create(20, 20, kImgGray8));
        std::memset(image.buffer->pixels, 0, 400);
        for (int y = 5; y < 15; ++y)
            for (int x = 5; x < 15; ++x)
                if (x == 5 || x == 14 || y == 5 || y == 14) *image.buffer->PixelAt(x, y) = 255;
        FakeHost host;
        host.bg = 0;
        auto* f = static_cast<CLfBinary*>(host.Add(CreateLfBinary()));
        EXPECT_EQ(f->pendingChanges, 0u);
        EXPECT_EQ(f->setButton.enabled, 0u);
        host.RunChain(&image, 0);
        EXPECT_EQ(*image.buffer->PixelAt(10, 10), 255);
        EXPECT_EQ(*image.buffer->PixelAt(2, 2), 0);
    }
    // Repeat counts far beyond what any image needs: the same result as 200
    // passes, at once.
    for (int32_t type : {0, 1, 2}) {
        SCOPED_TRACE(type);
        CImgBuff image, expected;
        ASSERT_TRUE(image.buffer->Create(64, 64, kImgGray8));
        std::memset(image.buffer->pixels, 0, 64 * 64);
        for (int i = 0; i < 6; ++i) *image.buffer->PixelAt(7 + i * 9, 11 + i * 7) = 255;
        if (type == 2) std::memset(image.buffer->pixels, 255, 64 * 40);
        ASSERT_TRUE(expected.CopyFrom(&image));
        for (int i = 0; i < 200; ++i) BinaryPass(type, &expected, ImgRect{0, 0, 63, 63}, 8, 0);
        FakeHost host;
        host.bg = 0;
        auto* f = static_cast<CLfBinary*>(host.Add(CreateLfBinary()));
        f->type.Set(type);
        f->repeat.Set(1000000000000000ull);
        const auto start = std::chrono::steady_clock::now();
        host.RunChain(&image, 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(std::memcmp(image.buffer->pixels, expected.buffer->pixels, 64 * 64), 0);
    }
}

TEST(Binary, SettingsTableAndPendingEdits) {
    FakeHost host;
    auto* f = static_cast<CLfBinary*>(host.Add(CreateLfBinary()));
    EXPECT_STREQ(f->GetName(L"jp"), L"2値画像処理");
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;type=5;repeat=1;shave=0;");
    EXPECT_EQ(f->typeButtons[0].GetGroupSelection(), 5);
    EXPECT_EQ(f->repeatEdit.enabled + f->shaveEdit.enabled, 0u);
    auto commit = [](CFgUIEdit& edit, const wchar_t* text) {
        edit.SetLineText(0, text);
        edit.focusLost(&edit, edit.data);
    };
    // Thinning enables only the shave field; degeneracy only the repeat one.
    f->typeButtons[0].SelectInGroup(3, 0);
    f->typeButtons[3].callback(&f->typeButtons[3], f->typeButtons[3].data);
    EXPECT_EQ(f->type.Pending(), 3);
    EXPECT_EQ(f->shaveEdit.enabled, 1u);
    EXPECT_EQ(f->repeatEdit.enabled, 0u);
    EXPECT_EQ(f->setButton.enabled, 1u);
    f->typeButtons[0].SelectInGroup(2, 0);
    f->typeButtons[2].callback(&f->typeButtons[2], f->typeButtons[2].data);
    EXPECT_EQ(f->repeatEdit.enabled, 1u);
    EXPECT_EQ(f->shaveEdit.enabled, 0u);
    commit(f->repeatEdit, L"0");  // not a count: the pending one again
    EXPECT_STREQ(f->repeatEdit.GetText(), L"1");
    commit(f->repeatEdit, L"12");
    commit(f->shaveEdit, L"0");
    EXPECT_EQ(f->shave.Pending(), 0u);
    commit(f->shaveEdit, L"7a");
    EXPECT_STREQ(f->shaveEdit.GetText(), L"0");
    // Nothing ran and nothing is saved until "set".
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;type=5;repeat=1;shave=0;");
    f->setButton.callback(&f->setButton, f->setButton.data);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;type=2;repeat=12;shave=0;");
    EXPECT_EQ(f->setButton.enabled, 0u);
    // Loads: a type outside 0..5 is ignored; counts are taken as read.
    // The count boxes receive the stored text itself.
    const struct {
        const wchar_t *type, *repeat;
        const wchar_t* saved;
    } loads[] = {
        {L"6", L"3", L"type=2;repeat=3;shave=0;"},
        {L"-1", L"1000000000000000", L"type=2;repeat=1000000000000000;shave=0;"},
        {L"4", L"0", L"type=4;repeat=0;shave=0;"},
        {L"x", L"99999999999999999999999", L"type=0;repeat=18446744073709551615;shave=0;"},
        {L"1", L"007", L"type=1;repeat=7;shave=0;"},
    };
    for (const auto& l : loads) {
        Load(f, {{L"type", l.type}, {L"repeat", l.repeat}});
        EXPECT_EQ(Saved(f), std::wstring(L"if_enable=1;if_visible=1;") + l.saved);
        EXPECT_EQ(f->typeButtons[0].GetGroupSelection(), f->type.Get());
        EXPECT_EQ(f->pendingChanges, 0u);
        EXPECT_STREQ(f->repeatEdit.GetText(), l.repeat);
        EXPECT_EQ(f->setButton.enabled, 0u);
    }
    Load(f, {{L"shave", L"0042"}});
    EXPECT_STREQ(f->shaveEdit.GetText(), L"0042");
    EXPECT_STREQ(f->repeatEdit.GetText(), L"7");
    EXPECT_EQ(f->pendingChanges, 0u);
}

// --- mask ---

// The frame's pixels as 16-bit R, G, B rows.
std::string Rgb16Bytes(const CImgBuff& image) {
    std::string out;
    for (int32_t y = 0; y < image.buffer->height; ++y)
        for (int32_t x = 0; x < image.buffer->width; ++x) {
            uint16_t c[3] = {};
            image.buffer->GetPixelRgb16(x, y, &c[0], &c[1], &c[2]);
            out.append(reinterpret_cast<const char*>(c), sizeof c);
        }
    return out;
}

std::wstring W(const std::string& s) { return PlatUtf8ToWide(s.c_str()); }

// ImageMagick's masks on a 48-bit frame against numpy's clamped
// subtraction (and the preview), behind a rectangle partly outside.
TEST(Mask, ChainRunsAgainstNumpy) {
    if (!kvtest::HaveTool("convert") || kvtest::DebianPython().empty()) GTEST_SKIP() << "ImageMagick or python missing";
    kvtest::TempDir dir("mask");
    const struct {
        const char* name;
        const char* convert;  // arguments making the PNG
    } masks[] = {
        {"grey8 smaller", "-size 40x30 gradient:black-white -depth 8 -type Grayscale PNG8:"},
        {"rgb8 full", "-size 64x48 plasma:fractal -seed 5 -depth 8 -type TrueColor PNG24:"},
        {"rgb16 larger", "-size 80x60 gradient:red-blue -depth 16 -type TrueColor PNG48:"},
    };
    CImgBuff frame;
    ASSERT_TRUE(frame.buffer->Create(64, 48, kImgRgb16));
    uint32_t seed = 99;
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x) {
            uint16_t c[3];
            for (uint16_t& v : c) {
                seed = seed * 1103515245u + 12345u;
                v = static_cast<uint16_t>(seed >> 16);
            }
            frame.buffer->SetPixelRgb16(x, y, c[0], c[1], c[2]);
        }
    const std::string framePath = dir.file("frame.raw");
    ASSERT_TRUE(kvtest::WriteFileBytes(framePath, Rgb16Bytes(frame)));
    const std::string script = R"(
import sys, numpy as np, cv2
frame, maskpath, out = sys.argv[1:4]
preview, outside, x0, y0, x1, y1 = [int(v) for v in sys.argv[4:]]
img = np.fromfile(frame, dtype=np.uint16).reshape(48, 64, 3).astype(np.int64)
m = cv2.imread(maskpath, cv2.IMREAD_UNCHANGED)
if m.ndim == 2: m = np.stack([m] * 3, axis=2)
else: m = m[:, :, ::-1]
m = m.astype(np.int64) * (257 if m.dtype == np.uint8 else 1)
full = np.full((48, 64, 3), outside, np.int64)
h, w = min(48, m.shape[0]), min(64, m.shape[1])
full[:h, :w] = m[:h, :w]
res = img.copy()
sub = (slice(y0, y1 + 1), slice(x0, x1 + 1))
res[sub] = full[sub] if preview else np.clip(img[sub] - full[sub], 0, None)
res.astype(np.uint16).tofile(out)
)";
    int index = 0;
    for (const auto& m : masks) {
        SCOPED_TRACE(m.name);
        const std::string png = dir.file("mask" + std::to_string(index++) + ".png");
        ASSERT_EQ(kvtest::RunCommand(std::string("convert ") + m.convert + png), 0);
        for (uint32_t show : {0u, 1u})
            for (uint32_t full : {0u, 1u}) {
                const std::string out = dir.file("expected.raw");
                std::string ignored;
                ASSERT_EQ(kvtest::RunPython(script,
                                            {framePath, png, out, std::to_string(show), full ? "65535" : "0", "10", "5",
                                             "63", "47"},
                                            &ignored),
                          0);
                const std::string expected = kvtest::ReadFileBytes(out);
                for (uint64_t threads : {uint64_t{1}, uint64_t{8}}) {
                    SCOPED_TRACE(std::to_string(show) + "/" + std::to_string(full) + "/" + std::to_string(threads));
                    PoolStart();
                    PoolSetThreadCount(threads);
                    FakeHost host;
                    static_cast<CLfRect*>(host.Add(CreateLfRect()))->Set({1, 10, 5, 100, 100});
                    auto* f = static_cast<CLfMask*>(host.Add(CreateLfMask()));
                    ASSERT_TRUE(f->LoadMask(W(png).c_str()));
                    f->preview.Set(show);
                    f->outsideFull.Set(full);
                    CImgBuff work;
                    ASSERT_TRUE(work.CopyFrom(&frame));
                    host.RunChain(&work, 0);
                    PoolStop();
                    EXPECT_TRUE(Rgb16Bytes(work) == expected);
                }
            }
    }
}

// Every frame format against the 16-bit RGB accessors' rule, pixel by
// pixel: the grey and 8-bit frames take plain-sample paths that must give
// the same bytes, the other formats still go through the accessors.
TEST(Mask, EveryFormatFollowsTheAccessorRule) {
    if (!kvtest::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    kvtest::TempDir dir("maskfmt");
    const char* masks[] = {
        "-size 40x30 gradient:black-white -depth 8 -type Grayscale PNG8:",
        "-size 64x48 plasma:fractal -seed 5 -depth 8 -type TrueColor PNG24:",
        "-size 80x60 plasma:fractal -seed 7 -depth 16 -type TrueColor PNG48:",
        "-size 50x70 gradient:white-black -depth 16 -type Grayscale PNG:",
    };
    int index = 0;
    for (const char* convert : masks) {
        const std::string png = dir.file("mask" + std::to_string(index++) + ".png");
        ASSERT_EQ(kvtest::RunCommand(std::string("convert ") + convert + png), 0);
        CImgBuff maskImage;
        codec_file* file = codec_file_open(W(png).c_str(), nullptr, nullptr);
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(maskImage.ReadFrame(file, 0));
        codec_file_close(file);
        const C_ImgBuff* mk = maskImage.buffer;
        for (int32_t format : {kImgGray8, kImgGray16, kImgRgb8, kImgRgb16, kImgGray32, kImgHsv16, kImgCmyk8})
            for (uint32_t show : {0u, 1u})
                for (uint32_t full : {0u, 1u}) {
                    SCOPED_TRACE(std::string(convert) + " format " + std::to_string(format) + " preview " +
                                 std::to_string(show) + " outside " + std::to_string(full));
                    CImgBuff frame;
                    ASSERT_TRUE(frame.buffer->Create(64, 48, format));
                    uint32_t seed = 7 + format;
                    for (int32_t y = 0; y < 48; ++y)
                        for (int32_t x = 0; x < 64; ++x) {
                            uint16_t c[3];
                            for (uint16_t& v : c) {
                                seed = seed * 1103515245u + 12345u;
                                v = static_cast<uint16_t>(seed >> 16);
                            }
                            frame.buffer->SetPixelRgb16(x, y, c[0], c[1], c[2]);
                        }
                    CImgBuff expected;
                    ASSERT_TRUE(expected.CopyFrom(&frame));
                    const uint16_t outside = full ? 65535 : 0;
                    for (int32_t y = 5; y < 48; ++y)
                        for (int32_t x = 10; x < 64; ++x) {
                            uint16_t mr = outside, mg = outside, mb = outside;
                            if (y < mk->height && x < mk->width) mk->GetPixelRgb16(x, y, &mr, &mg, &mb);
                            uint16_t r = 0, g = 0, b = 0;
                            expected.buffer->GetPixelRgb16(x, y, &r, &g, &b);
                            if (show)
                                expected.buffer->SetPixelRgb16(x, y, mr, mg, mb);
                            else
                                expected.buffer->SetPixelRgb16(x, y, r > mr ? r - mr : 0, g > mg ? g - mg : 0,
                                                               b > mb ? b - mb : 0);
                        }
                    FakeHost host;
                    static_cast<CLfRect*>(host.Add(CreateLfRect()))->Set({1, 10, 5, 100, 100});
                    auto* f = static_cast<CLfMask*>(host.Add(CreateLfMask()));
                    ASSERT_TRUE(f->LoadMask(W(png).c_str()));
                    f->preview.Set(show);
                    f->outsideFull.Set(full);
                    host.RunChain(&frame, 0);
                    const uint64_t bytes = uint64_t(64) * 48 * ImgFormatBytes(format);
                    EXPECT_EQ(std::memcmp(frame.buffer->pixels, expected.buffer->pixels, bytes), 0);
                }
    }
}

TEST(Mask, WithoutAMaskAndOutsideLevels) {
    const struct {
        uint32_t preview, full;
        uint8_t result;
    } cases[] = {{1, 1, 255}, {0, 1, 0}, {1, 0, 0}, {0, 0, 100}};
    for (const auto& c : cases) {
        FakeHost host;
        auto* f = static_cast<CLfMask*>(host.Add(CreateLfMask()));
        f->preview.Set(c.preview);
        f->outsideFull.Set(c.full);
        CImgBuff image;
        ASSERT_TRUE(image.buffer->Create(8, 6, kImgGray8));
        std::memset(image.buffer->pixels, 100, 48);
        host.RunChain(&image, 0);
        EXPECT_EQ(image.buffer->pixels[0], c.result) << c.preview << c.full;
        EXPECT_EQ(image.buffer->pixels[47], c.result);
    }
}

TEST(Mask, FailedLoadsKeepTheMaskAndLongPathsLoad) {
    kvtest::TempDir dir("mask_files");
    CImgBuff m;
    ASSERT_TRUE(m.buffer->Create(4, 3, kImgGray8));
    std::memset(m.buffer->pixels, 200, 12);
    // A folder chain deep enough for a path beyond 1024 characters.
    std::string deep = dir.path();
    while (deep.size() < 1100) {
        deep += "/" + std::string(100, 'd');
        ASSERT_EQ(kvtest::RunCommand("mkdir -p '" + deep + "'"), 0);
    }
    const std::string good = deep + "/mask.png";
    if (!kvtest::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    ASSERT_EQ(kvtest::RunCommand("convert -size 4x3 xc:gray78 -depth 8 -type Grayscale PNG8:'" + good + "'"), 0);
    std::unique_ptr<CLfMask> f(static_cast<CLfMask*>(CreateLfMask()));
    EXPECT_EQ(Saved(f.get()), L"if_enable=0;if_visible=0;preview=1;default_mask=1;");
    EXPECT_EQ(f->previewBox.enabled, 0u);
    Load(f.get(), {{L"path", W(good).c_str()}, {L"preview", L"0"}, {L"default_mask", L"2"}});
    EXPECT_TRUE(f->HasMask());
    EXPECT_EQ(f->previewBox.enabled, 1u);
    EXPECT_EQ(Saved(f.get()), L"if_enable=0;if_visible=0;preview=0;default_mask=1;path=" + W(good) + L";");
    // A truncated PNG and a missing file leave the mask and its path.
    const std::string bytes = kvtest::ReadFileBytes(good);
    const std::string cut = dir.file("cut.png");
    ASSERT_TRUE(kvtest::WriteFileBytes(cut, bytes.substr(0, bytes.size() / 2)));
    EXPECT_FALSE(f->LoadMask(W(cut).c_str()));
    EXPECT_FALSE(f->LoadMask(W(dir.file("missing.png")).c_str()));
    EXPECT_EQ(f->MaskPath(), W(good));
    EXPECT_TRUE(f->HasMask());
    // A section without a path keeps the mask.
    Load(f.get(), {{L"preview", L"1"}});
    EXPECT_TRUE(f->HasMask());
    EXPECT_EQ(f->preview.Get(), 1u);
}

// --- background removal ---

TEST(BgErase, ChainRunsEqualTheKernelsWithAndWithoutABackground) {
    if (!kvtest::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    kvtest::TempDir dir("bg_erase");
    const std::string png = dir.file("bg.png");
    ASSERT_EQ(kvtest::RunCommand("convert -size 50x40 gradient:gray20-gray80 -depth 8 -type Grayscale PNG8:" + png), 0);
    CImgBuff background;
    ASSERT_TRUE(LoadImageFile(&background, W(png).c_str(), nullptr, nullptr));
    const struct {
        uint32_t type;
        int32_t level, tile;
        uint32_t masked;
    } modes[] = {{0, 2, 0, 0}, {0, 2, 0, 1}, {1, 5, 0, 0}, {1, 12, 3, 1}};
    for (bool loaded : {false, true})
        for (const auto& m : modes) {
            SCOPED_TRACE(std::to_string(loaded) + " " + std::to_string(m.type) + "/" + std::to_string(m.level) + "/" +
                         std::to_string(m.tile) + "/" + std::to_string(m.masked));
            CImgBuff empty;
            const CImgBuff* back = loaded ? &background : &empty;
            ExpectChainMatchesKernel(
                [&](FakeHost& host) {
                    auto* f = static_cast<CLfBgErase*>(host.Add(CreateLfBgErase()));
                    if (loaded) { EXPECT_TRUE(f->LoadBackground(W(png).c_str(), false)); }
                    f->eraseType.Set(m.type);
                    f->extractLevel.Set(m.level);
                    f->tileSize.Set(m.tile);
                    f->outsideMasked.Set(m.masked);
                    return f;
                },
                [&](CImgBuff* image, const ImgRect& r, int32_t, uint32_t inverted) {
                    if (m.type == 0)
                        ImgSubtractBackground(image, back, m.masked, &r);
                    else
                        ImgExtractObjects(image, back, inverted, m.level, uint64_t{1} << m.tile, &r);
                });
        }
}

TEST(BgErase, PreviewAndFailedLoads) {
    if (!kvtest::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
    kvtest::TempDir dir("bg_preview");
    const std::string png = dir.file("bg.png");
    ASSERT_EQ(kvtest::RunCommand("convert -size 5x4 xc:'rgb(10,20,30)' -depth 8 -type TrueColor PNG24:" + png), 0);
    for (uint64_t threads : {uint64_t{1}, uint64_t{8}})
        for (uint32_t masked : {0u, 1u}) {
            PoolStart();
            PoolSetThreadCount(threads);
            FakeHost host;
            auto* f = static_cast<CLfBgErase*>(host.Add(CreateLfBgErase()));
            f->preview = 1;
            f->outsideMasked.Set(masked);
            CImgBuff image;
            ASSERT_TRUE(image.buffer->Create(9, 7, kImgRgb8));
            std::memset(image.buffer->pixels, 77, 9 * 7 * 3);
            host.RunChain(&image, 0);  // no background: all outside
            uint8_t c[3];
            image.buffer->GetPixelRgb8(4, 3, &c[0], &c[1], &c[2]);
            EXPECT_EQ(c[0], masked ? 255 : 0);
            ASSERT_TRUE(f->LoadBackground(W(png).c_str(), false));
            host.RunChain(&image, 0);
            for (int32_t y = 0; y < 7; ++y)
                for (int32_t x = 0; x < 9; ++x) {
                    image.buffer->GetPixelRgb8(x, y, &c[0], &c[1], &c[2]);
                    const bool inside = x < 5 && y < 4;
                    EXPECT_EQ(std::vector<int>({c[0], c[1], c[2]}),
                              inside ? std::vector<int>({10, 20, 30})
                                     : std::vector<int>(3, masked ? 255 : 0))
                        << x << "," << y;
                }
            // Failed loads leave the background.
            const std::string cut = dir.file("cut.png");
            const std::string bytes = kvtest::ReadFileBytes(png);
            ASSERT_TRUE(kvtest::WriteFileBytes(cut, bytes.substr(0, bytes.size() / 2)));
            EXPECT_FALSE(f->LoadBackground(W(cut).c_str(), false));
            EXPECT_FALSE(f->LoadBackground(W(dir.file("none.png")).c_str(), false));
            EXPECT_TRUE(f->HasBackground());
            std::memset(image.buffer->pixels, 77, 9 * 7 * 3);
            host.RunChain(&image, 0);
            image.buffer->GetPixelRgb8(0, 0, &c[0], &c[1], &c[2]);
            EXPECT_EQ(c[2], 30);
            PoolStop();
        }
}

TEST(BgErase, SettingsTable) {
    std::unique_ptr<CLfBgErase> f(static_cast<CLfBgErase*>(CreateLfBgErase()));
    EXPECT_STREQ(f->GetId(), L"background_removal");
    EXPECT_EQ(Saved(f.get()), L"if_enable=0;if_visible=0;erase_type=0;extract_level=2;tile_size=0;default_mask=0;");
    EXPECT_EQ(f->levelBar.enabled, 0u);
    Load(f.get(), {{L"erase_type", L"1"}, {L"extract_level", L"20"}, {L"tile_size", L"7"}, {L"default_mask", L"1"}});
    EXPECT_EQ(Saved(f.get()), L"if_enable=0;if_visible=0;erase_type=1;extract_level=20;tile_size=0;default_mask=1;");
    EXPECT_EQ(f->levelBar.enabled, 1u);
    EXPECT_EQ(f->levelBar.position, 20);
    EXPECT_EQ(f->extraction.leader->GetGroupSelection(), 1);
    Load(f.get(), {{L"erase_type", L"-1"}, {L"extract_level", L"1"}, {L"tile_size", L"6"}, {L"default_mask", L"x"}});
    EXPECT_EQ(Saved(f.get()), L"if_enable=0;if_visible=0;erase_type=1;extract_level=20;tile_size=6;default_mask=1;");
    EXPECT_EQ(f->tileBar.position, 6);
}

}  // namespace
