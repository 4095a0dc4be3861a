// The colour map: cell counts against numpy's model of the pixel rules
// (RGB8, RGB16 and XYZ with values that have no cell), chart cells of
// known colours, the stored charts, shading against the pixel rules, and
// its settings table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/colour_charts.h"
#include "filters/processing/lf_color_map.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/support/fake_host.h"
#include "filters/processing/support/region_runs.h"
#include "image/pool.h"
#include "support/testsupport.h"

namespace {

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

void Load(CImgFilter* f, const wchar_t* key, const wchar_t* value) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    pack->AddItem(key, value);
    f->LoadConfig(pack);
}

std::string Raw(const CImgBuff& image) {
    const auto bytes = kvtest::Bytes(image);
    return std::string(bytes.begin(), bytes.end());
}

// An XYZ frame of colours, with pixels that have no cell: X + Y + Z of 0,
// negative sums, NaN, infinities and values far outside sRGB.
void XyzFrame(CImgBuff& image) {
    ASSERT_TRUE(image.buffer->Create(40, 30, kImgXyz));
    auto* d = reinterpret_cast<double*>(image.buffer->pixels);
    uint32_t seed = 11;
    for (int i = 0; i < 40 * 30 * 3; ++i) {
        seed = seed * 1103515245u + 12345u;
        d[i] = static_cast<double>(seed >> 8 & 0xFFFF) / 60000.0;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const double odd[][3] = {{0, 0, 0}, {-0.2, -0.1, -0.3}, {nan, 0.5, 0.5}, {inf, 0.1, 0.1},
                             {0.5, nan, 0.1}, {5, 0, 0}, {-1, 2, 0}, {0, 0, 9}, {1e300, 1e300, 1e300}};
    for (size_t k = 0; k < sizeof odd / sizeof odd[0]; ++k)
        for (int c = 0; c < 3; ++c) d[(7 * k + 3) * 3 + c] = odd[k][c];
}

// The table of a run against numpy: every pixel of the clipped region put
// in its cell by the pixel rules; pixels without a finite cell inside the
// table skipped.
TEST(ColorMap, CountsAgainstNumpy) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "python missing";
    kvtest::TempDir dir("color_map_counts");
    for (int32_t format : {kImgRgb8, kImgRgb16, kImgXyz}) {
        CImgBuff image;
        if (format == kImgXyz)
            XyzFrame(image);
        else
            kvtest::RandomImage(image, 40, 30, format, 21);
        const std::string raw = dir.file("in.raw");
        ASSERT_TRUE(kvtest::WriteFileBytes(raw, Raw(image)));
        for (uint32_t view = 0; view < 3; ++view) {
            SCOPED_TRACE("format " + std::to_string(format) + " view " + std::to_string(view));
            const std::string script = PixelRules() + R"(
import sys, math
import numpy as np
fmt, view = int(sys.argv[2]), int(sys.argv[3])
x0, y0, x1, y1 = (int(v) for v in sys.argv[4:8])
dt = {4: np.uint8, 5: np.uint16, 7: np.float64}[fmt]
a = np.fromfile(sys.argv[1], dt).reshape(30, 40, 3)
rows, cols = [], []
with np.errstate(all='ignore'):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            px = tuple(v.item() for v in a[y, x])
            if view == 2:
                h, s, v = get_hsv16(fmt, px)
                r = s / 65535.0 * 128
                t = 2 * math.pi * h / 65535.0
                c = int(min(max(128 + r * math.cos(t), 0.0), 255.0))
                w = int(min(max(128 + r * math.sin(t), 0.0), 255.0))
            else:
                X, Y, Z = (np.float64(v) for v in get_xyz(fmt, px))
                if view == 0:
                    s = X + Y + Z
                    cf, rf = 255 * X / s, 255 * Y / s
                else:
                    try:
                        L, A, B = xyz_to_lab(X, Y, Z)
                    except (ValueError, OverflowError):
                        continue
                    cf, rf = 255 * (A + 128) / 255, 255 * (B + 128) / 255
                if not (0 <= cf < 256 and 0 <= rf < 256): continue
                c, w = int(cf), int(rf)
            rows.append(w); cols.append(c)
h, _, _ = np.histogram2d(rows, cols, bins=256, range=[[0, 256], [0, 256]])
sys.stdout.write(' '.join(str(int(v)) for v in h.ravel()))
)";
            const ImgRect r{6, 4, 39, 26};  // the rectangle below, clipped
            std::string out;
            ASSERT_EQ(kvtest::RunPython(script,
                                        {raw, std::to_string(format), std::to_string(view), std::to_string(r.x0),
                                         std::to_string(r.y0), std::to_string(r.x1), std::to_string(r.y1)},
                                        &out),
                      0)
                << out;
            std::istringstream in(out);
            std::vector<uint32_t> expected(65536);
            for (uint32_t& v : expected) in >> v;
            for (uint64_t threads : {uint64_t{1}, uint64_t{8}}) {
                PoolStart();
                PoolSetThreadCount(threads);
                FakeHost host;
                AddRect(host, 6, 4, 100, 23);
                auto* f = static_cast<CLfColorMap*>(host.Add(CreateLfColorMap()));
                f->view.Set(static_cast<int32_t>(view));
                CImgBuff work, before;
                ASSERT_TRUE(work.CopyFrom(&image));
                ASSERT_TRUE(before.CopyFrom(&image));
                host.RunChain(&work, 0);
                EXPECT_EQ(kvtest::Bytes(work), kvtest::Bytes(before));  // the image is not changed
                uint32_t mismatches = 0, largest = 0;
                for (int32_t row = 0; row < 256; ++row)
                    for (int32_t col = 0; col < 256; ++col) {
                        const uint32_t e = expected[static_cast<size_t>(row) * 256 + static_cast<size_t>(col)];
                        largest = std::max(largest, e);
                        if (f->Count(col, row) != e) ++mismatches;
                    }
                EXPECT_EQ(mismatches, 0u) << "threads " << threads;
                EXPECT_EQ(f->MaxCount(), largest);
                EXPECT_TRUE(f->HasChart());
            }
        }
    }
    PoolSetThreadCount(PoolGetProcessorCount());
}

// Known colours land in known cells, named (column, row) on the chart,
// whose rows run downwards (the table's row is 255 - row).
TEST(ColorMap, CellsOfWhiteAndRed) {
    const struct {
        uint8_t r, g, b;
        uint32_t view;
        int32_t column, row;
    } cases[] = {
        {255, 255, 255, kChartXy, 79, 172},
        {255, 255, 255, kChartHsv, 128, 127},
        {255, 0, 0, kChartXy, 163, 171},
        {255, 0, 0, kChartHsv, 255, 127},
        {128, 128, 128, kChartHsv, 128, 127},  // any grey: the centre of the wheel
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.column) + "," + std::to_string(c.row));
        FakeHost host;
        auto* f = static_cast<CLfColorMap*>(host.Add(CreateLfColorMap()));
        f->view.Set(static_cast<int32_t>(c.view));
        CImgBuff image;
        ASSERT_TRUE(image.buffer->Create(9, 7, kImgRgb8));
        for (int i = 0; i < 63; ++i) {
            uint8_t* p = image.buffer->pixels + 3 * i;
            p[0] = c.r, p[1] = c.g, p[2] = c.b;
        }
        host.RunChain(&image, 0);
        EXPECT_EQ(f->Count(c.column, 255 - c.row), 63u);
        EXPECT_EQ(f->MaxCount(), 63u);
    }
}

// The stored charts: black outside; the xy chart is black above row 43 and
// coloured on the locus at 520 nm; the wheel and the plane are coloured
// at their centres.
TEST(ColorMap, StoredCharts) {
    BuildColourCharts();
    const CImgBuff* xy = ColourChart(kChartXy);
    ASSERT_NE(xy, nullptr);
    ASSERT_EQ(xy->buffer->format, kImgRgb8);
    bool blackAbove = true;
    for (int32_t y = 0; y < 43; ++y)
        for (int32_t x = 0; x < 256; ++x) {
            const uint8_t* p = xy->buffer->PixelAt(x, y);
            if (p[0] || p[1] || p[2]) blackAbove = false;
        }
    EXPECT_TRUE(blackAbove);
    const uint8_t* locus = xy->buffer->PixelAt(18, 43);
    EXPECT_GT(locus[0] + locus[1] + locus[2], 0);
    EXPECT_GT(locus[1], locus[0]);  // green at 520 nm
    for (uint32_t view : {kChartLab, kChartHsv}) {
        const CImgBuff* c = ColourChart(view);
        ASSERT_NE(c, nullptr);
        const uint8_t* corner = c->buffer->PixelAt(0, 0);
        EXPECT_EQ(corner[0] + corner[1] + corner[2], 0);
        const uint8_t* centre = c->buffer->PixelAt(128, 128);
        EXPECT_GT(centre[0] + centre[1] + centre[2], 0);
    }
    EXPECT_EQ(ColourChart(3), nullptr);
}

// Shading of a hit and an empty cell per type and view, against the pixel
// rules applied to the stored chart's own pixel; a white background.
TEST(ColorMap, ShadingAgainstThePixelRules) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "python missing";
    BuildColourCharts();
    // Uniform red: 63 pixels in one cell (max 63).
    struct Probe {
        uint32_t view;
        int32_t column, row;  // chart pixel
        bool hit;
    };
    const Probe probes[] = {{kChartXy, 163, 171, true}, {kChartXy, 100, 150, false},
                            {kChartLab, 128, 128, false}, {kChartHsv, 255, 127, true}, {kChartHsv, 100, 100, false}};
    for (int32_t type = 0; type < 3; ++type)
        for (const Probe& p : probes) {
            SCOPED_TRACE("type " + std::to_string(type) + " view " + std::to_string(p.view) + " at " +
                         std::to_string(p.column) + "," + std::to_string(p.row));
            FakeHost host;
            auto* f = static_cast<CLfColorMap*>(host.Add(CreateLfColorMap()));
            f->view.Set(static_cast<int32_t>(p.view));
            f->type.Set(type);
            CImgBuff image;
            ASSERT_TRUE(image.buffer->Create(9, 7, kImgRgb8));
            for (int i = 0; i < 63; ++i) image.buffer->pixels[3 * i] = 255;
            host.RunChain(&image, 0);
            CImgBuff shown;
            ASSERT_TRUE(f->ChartImage(&shown));
            const uint8_t* stored = ColourChart(p.view)->buffer->PixelAt(p.column, p.row);
            const std::string script = PixelRules() + R"(
import sys, math
view, typ, hit = (int(v) for v in sys.argv[1:4])
px = tuple(int(v) for v in sys.argv[4:7])
n, mx = (63, 63) if hit else (0, 63)
if weighted(*px) == 0:
    out = px  # the outside is not shaded
elif view == 2:
    h, s, v = get_hsv16(4, px)
    f = 19660.5 / math.log10(mx + 1)
    nv = 39321 if n == 0 else [math.trunc(19660.5 * n / mx + 45874.5), math.trunc(math.log10(19660.5 * n / mx + 1) * f + 45874.5), 65535][typ]
    out = set_hsv16(4, h, s, min(nv, 65535))
else:
    L, a, b = get_lab(4, px)
    f = 65.0 / math.log10(mx + 1)
    L = 30 if n == 0 else [65.0 * n / mx + 35, math.log10(65.0 * n / mx + 1) * f + 35, 75][typ]
    out = set_lab(4, L, a, b)
print(*out)
)";
            std::string out;
            ASSERT_EQ(kvtest::RunPython(script,
                                        {std::to_string(p.view), std::to_string(type), std::to_string(p.hit ? 1 : 0),
                                         std::to_string(stored[0]), std::to_string(stored[1]), std::to_string(stored[2])},
                                        &out),
                      0)
                << out;
            std::istringstream in(out);
            int e[3];
            in >> e[0] >> e[1] >> e[2];
            const uint8_t* got = shown.buffer->PixelAt(p.column, p.row);
            EXPECT_EQ(got[0], e[0]);
            EXPECT_EQ(got[1], e[1]);
            EXPECT_EQ(got[2], e[2]);
        }
    // A white background: the outside of the shown chart is white, the
    // stored chart keeps its black outside.
    FakeHost host;
    auto* f = static_cast<CLfColorMap*>(host.Add(CreateLfColorMap()));
    f->bg.Set(255);
    f->view.Set(kChartHsv);
    CImgBuff image;
    ASSERT_TRUE(image.buffer->Create(4, 4, kImgRgb8));
    host.RunChain(&image, 0);
    CImgBuff shown;
    ASSERT_TRUE(f->ChartImage(&shown));
    const uint8_t* corner = shown.buffer->PixelAt(0, 0);
    EXPECT_TRUE(corner[0] == 255 && corner[1] == 255 && corner[2] == 255);
    EXPECT_EQ(ColourChart(kChartHsv)->buffer->PixelAt(0, 0)[0], 0);
}

// An image without a pixel format shows the plain chart of the view.
TEST(ColorMap, NoFormatShowsThePlainChart) {
    CLfColorMap f;
    f.view.Set(kChartLab);
    EXPECT_FALSE(f.HasChart());
    CImgBuff empty;
    EXPECT_EQ(f.OnFilter(&empty, 0, 0, 0, 10, 10, 8, 1, nullptr, nullptr), 1);
    CImgBuff shown;
    ASSERT_TRUE(f.ChartImage(&shown));
    EXPECT_EQ(Raw(shown), Raw(*ColourChart(kChartLab)));
    EXPECT_EQ(f.MaxCount(), 0u);
}

TEST(ColorMap, SettingsTable) {
    CLfColorMap f;
    EXPECT_EQ(Saved(&f), L"if_enable=0;if_visible=0;view=0;type=1;bg=0;");
    Load(&f, L"view", L"2");
    Load(&f, L"type", L"0");
    Load(&f, L"bg", L"255");
    EXPECT_EQ(Saved(&f), L"if_enable=0;if_visible=0;view=2;type=0;bg=255;");
    // Out of the accepted set: unchanged.
    const std::pair<const wchar_t*, const wchar_t*> ignored[] = {
        {L"view", L"3"}, {L"view", L"-1"}, {L"type", L"7"}, {L"bg", L"128"}, {L"bg", L"-255"}};
    for (const auto& [k, v] : ignored) {
        Load(&f, k, v);
        EXPECT_EQ(Saved(&f), L"if_enable=0;if_visible=0;view=2;type=0;bg=255;") << k << L" " << v;
    }
    // Any other character, or an overflow, reads as 0, which is accepted.
    Load(&f, L"type", L"2");
    Load(&f, L"view", L"1x");
    Load(&f, L"type", L"99999999999");
    Load(&f, L"bg", L"white");
    EXPECT_EQ(Saved(&f), L"if_enable=0;if_visible=0;view=0;type=0;bg=0;");
}

}  // namespace
