// "Pixel value adjustment" in real chain runs behind a processing rectangle
// (against numpy for the integer formats and against the pixel accessors
// for XYZ, HSV and CMYK), its settings, and its panel driven by clicks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_clear.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/support/fake_host.h"
#include "image/pool.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/ui_input.h"

namespace {

constexpr int32_t kW = 23, kH = 17;

void Noise(CImgBuff& image, int32_t format, uint32_t seed) {
    ASSERT_TRUE(image.buffer->Create(kW, kH, format));
    const size_t n = static_cast<size_t>(kW) * kH * static_cast<size_t>(image.buffer->BytesPerPixel());
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        image.buffer->pixels[i] = static_cast<uint8_t>(seed >> 24);
    }
    // A few samples at the ends of the range, where the shift saturates.
    for (size_t i = 0; i < n && i < 40; ++i) image.buffer->pixels[i] = i % 2 ? 0xff : 0x00;
}

std::wstring Saved(CImgFilter* f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    f->SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

// numpy's result for the integer formats: the clipped rectangle shifted
// with saturation, or every byte set to the level.
const char* kNumpyClear = R"(
import sys, numpy as np
src, prefix, fmt, w, h, x0, y0, x1, y1 = sys.argv[1:]
fmt, w, h, x0, y0, x1, y1 = map(int, (fmt, w, h, x0, y0, x1, y1))
dt = {1: np.uint8, 2: np.uint16, 3: np.uint32, 4: np.uint8, 5: np.uint16, 6: np.uint32}[fmt]
ch = 1 if fmt <= 3 else 3
for level in (0, 127, 128, 129, 255):
    for mode in (0, 1):
        a = np.fromfile(src, dtype=dt).reshape(h, w, ch)
        region = a[y0:y1 + 1, x0:x1 + 1]
        if mode == 0:
            region.view(np.uint8)[...] = level
        else:
            bits = np.iinfo(dt).bits
            offset = {8: level - 128, 16: level * 257 - 32896, 32: level * 16843009 - 2155905152}[bits]
            region[...] = np.clip(region.astype(np.int64) + offset, 0, np.iinfo(dt).max).astype(dt)
        a.tofile('%s_%d_%d.raw' % (prefix, level, mode))
)";

class PixelValueAdjustmentTest : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
};

// The accessors' rendering for XYZ, HSV and CMYK, pixel by pixel.
void AccessorModel(C_ImgBuff& e, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t level, uint32_t mode) {
    if (mode == 1 && level == 128) return;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) {
            if (mode == 0) {
                e.SetPixelGray8(x, y, static_cast<uint8_t>(level));
            } else if (e.format == kImgCmyk8) {
                uint8_t c[3];
                e.GetPixelRgb8(x, y, &c[0], &c[1], &c[2]);
                for (uint8_t& v : c) v = static_cast<uint8_t>(std::clamp<int>(v + static_cast<int>(level) - 128, 0, 255));
                e.SetPixelRgb8(x, y, c[0], c[1], c[2]);
            } else if (e.format == kImgHsv16) {
                uint16_t c[3];
                e.GetPixelRgb16(x, y, &c[0], &c[1], &c[2]);
                for (uint16_t& v : c) v = static_cast<uint16_t>(std::clamp<int64_t>(v + int64_t{level} * 257 - 32896, 0, 65535));
                e.SetPixelRgb16(x, y, c[0], c[1], c[2]);
            } else {
                uint32_t c[3];
                e.GetPixelRgb32(x, y, &c[0], &c[1], &c[2]);
                for (uint32_t& v : c)
                    v = static_cast<uint32_t>(
                        std::clamp<int64_t>(v + int64_t{level} * 16843009 - 2155905152LL, 0, 4294967295LL));
                e.SetPixelRgb32(x, y, c[0], c[1], c[2]);
            }
        }
}

TEST_F(PixelValueAdjustmentTest, ChainRunsMatchNumpyInsideTheRectangleOnly) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with numpy";
    kvtest::TempDir dir("lf_clear");
    PoolStart();
    // Inside, partly outside and wholly outside the image.
    const struct {
        uint64_t x, y, w, h;
    } rects[] = {{3, 2, 10, 9}, {15, 10, 40, 40}, {30, 20, 5, 5}};
    for (int32_t format = 1; format <= 9; ++format)
        for (size_t ri = 0; ri < 3; ++ri) {
            const auto& rc = rects[ri];
            CImgBuff source;
            Noise(source, format, 77u + static_cast<uint32_t>(format));
            const size_t bytes = static_cast<size_t>(kW) * kH * static_cast<size_t>(source.buffer->BytesPerPixel());
            const int32_t x0 = static_cast<int32_t>(rc.x), y0 = static_cast<int32_t>(rc.y);
            const int32_t x1 = std::min<int32_t>(kW - 1, static_cast<int32_t>(rc.x + rc.w - 1));
            const int32_t y1 = std::min<int32_t>(kH - 1, static_cast<int32_t>(rc.y + rc.h - 1));
            const bool inside = x0 < kW && y0 < kH;
            const std::string in = dir.file("in.raw"), prefix = dir.file("out");
            if (format <= 6 && inside) {
                ASSERT_TRUE(kvtest::WriteFileBytes(in, std::string(reinterpret_cast<char*>(source.buffer->pixels), bytes)));
                std::string ignored;
                ASSERT_EQ(kvtest::RunPython(kNumpyClear,
                                            {in, prefix, std::to_string(format), std::to_string(kW), std::to_string(kH),
                                             std::to_string(x0), std::to_string(y0), std::to_string(x1),
                                             std::to_string(y1)},
                                            &ignored),
                          0);
            }
            FakeHost host;
            auto* r = static_cast<CLfRect*>(host.Add(CreateLfRect()));
            r->Set({1, rc.x, rc.y, rc.w, rc.h});
            auto* f = static_cast<CLfClear*>(host.Add(CreateLfClear()));
            ASSERT_NE(f, nullptr);
            for (uint32_t level : {0u, 127u, 128u, 129u, 255u})
                for (uint32_t mode : {0u, 1u}) {
                    CImgBuff expected;
                    ASSERT_TRUE(expected.CopyFrom(&source));
                    if (inside && format <= 6) {
                        const std::string got = kvtest::ReadFileBytes(prefix + "_" + std::to_string(level) + "_" +
                                                                      std::to_string(mode) + ".raw");
                        ASSERT_EQ(got.size(), bytes);
                        std::memcpy(expected.buffer->pixels, got.data(), bytes);
                    } else if (inside) {
                        AccessorModel(*expected.buffer, x0, y0, x1, y1, level, mode);
                    }
                    for (uint64_t threads : {uint64_t{1}, PoolGetProcessorCount()}) {
                        SCOPED_TRACE(testing::Message() << "threads " << threads << " format " << format << " level "
                                                        << level << " mode " << mode << " rect " << ri);
                        PoolSetThreadCount(threads);
                        CImgBuff image;
                        ASSERT_TRUE(image.CopyFrom(&source));
                        f->mode.Set(mode);
                        f->level.Set(level);
                        host.RunChain(&image, 0);
                        ASSERT_EQ(std::memcmp(image.buffer->pixels, expected.buffer->pixels, bytes), 0);
                    }
                }
        }
    PoolStop();
}

TEST_F(PixelValueAdjustmentTest, MaxAndMinSetWhiteAndBlackInEveryFormat) {
    for (int32_t format = 1; format <= 9; ++format) {
        for (uint32_t level : {0u, 255u}) {
            SCOPED_TRACE(testing::Message() << "format " << format << " level " << level);
            CImgBuff image;
            Noise(image, format, 5);
            ASSERT_TRUE(LfClearApply(&image, nullptr, CLfClear::kModeSet, level));
            for (int32_t y = 0; y < kH; ++y)
                for (int32_t x = 0; x < kW; ++x) {
                    uint8_t r, g, b;
                    ASSERT_TRUE(image.GetPixelRgb8(x, y, &r, &g, &b));
                    ASSERT_EQ(std::vector<int>({r, g, b}), std::vector<int>(3, static_cast<int>(level)));
                }
        }
    }
}

TEST_F(PixelValueAdjustmentTest, SettingsSaveAndLoad) {
    FakeHost host;
    auto* f = static_cast<CLfClear*>(host.Add(CreateLfClear()));
    EXPECT_EQ(Saved(f), L"if_enable=1;if_visible=1;mode=1;sel=128;");
    struct Item {
        const wchar_t *key, *value;
    };
    const struct {
        const char* name;
        std::vector<Item> items;
        uint32_t modeBefore, mode, level;
        size_t reruns;
    } cases[] = {
        {"sel 200", {{L"sel", L"200"}}, 1, 1, 200, 1},
        {"sel 300 ignored", {{L"sel", L"300"}}, 1, 1, 90, 0},
        {"sel -1 ignored", {{L"sel", L"-1"}}, 1, 1, 90, 0},
        {"sel signed with blanks", {{L"sel", L" +7x"}}, 1, 1, 7, 1},
        {"mode 0", {{L"mode", L"0"}}, 1, 0, 90, 0},
        {"mode other than 0 is adjustment", {{L"mode", L"2"}}, 0, 1, 90, 0},
        {"mode empty is adjustment", {{L"mode", L""}}, 0, 1, 90, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        f->mode.Set(c.modeBefore);
        f->level.Set(90);
        host.calls.clear();
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"t");
        for (const Item& i : c.items) pack->AddItem(i.key, i.value);
        f->LoadConfig(pack);
        EXPECT_EQ(f->mode.Get(), c.mode);
        EXPECT_EQ(f->level.Get(), c.level);
        EXPECT_EQ(f->levelBar.position, static_cast<int32_t>(c.level));
        EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Refilter(1)"), static_cast<long>(c.reruns));
    }
    f->mode.Set(0);
    f->level.Set(200);
    const std::wstring text = Saved(f);
    EXPECT_EQ(text, L"if_enable=1;if_visible=1;mode=0;sel=200;");
}

TEST_F(PixelValueAdjustmentTest, PanelClicksInBothLanguages) {
    for (const wchar_t* language : {L"en", L"jp"}) {
        const bool jp = std::wcscmp(language, L"jp") == 0;
        FakeHost host;
        host.SetLanguage(language);
        auto* f = static_cast<CLfClear*>(host.Add(CreateLfClear()));
        ASSERT_TRUE(f->PanelShown());
        EXPECT_STREQ(f->title, jp ? L"画素値調整" : L"Pixel value adjustment");
        host.calls.clear();
        PlatPostTestClick(f->window, 20, 16);  // "setting"
        kvtest::Pump();
        EXPECT_EQ(f->mode.Get(), 0u);
        PlatPostTestClick(f->window, 190, 44);  // "max"
        kvtest::Pump();
        EXPECT_EQ(f->level.Get(), 255u);
        EXPECT_EQ(f->levelBar.position, 255);
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), std::string("pixel_value_adjustment-") +
                                                                    (jp ? "jp" : "en"));
        PlatPostTestClick(f->window, 20, 44);  // "min"
        PlatPostTestClick(f->window, 100, 44);  // "center"
        PlatPostTestClick(f->window, 100, 16);  // "adjustment"
        kvtest::Pump();
        EXPECT_EQ(f->level.Get(), 128u);
        EXPECT_EQ(f->mode.Get(), 1u);
        EXPECT_EQ(host.calls, std::vector<std::string>(5, "Refilter(1)"));
        // A switched-off filter reruns nothing.
        f->CImgFilter::enabled = 0;
        host.calls.clear();
        PlatPostTestClick(f->window, 20, 44);
        kvtest::Pump();
        EXPECT_EQ(f->level.Get(), 0u);
        EXPECT_TRUE(host.calls.empty());
    }
}

}  // namespace
