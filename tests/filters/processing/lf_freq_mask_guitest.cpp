// "Frequency mask": its rings against numpy at several transform sizes and
// thread counts, a chain run between "FFT" and "IFFT", its load rules and
// its panel.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/lf_fft.h"
#include "filters/processing/lf_freq_mask.h"
#include "filters/processing/lf_ifft.h"
#include "filters/processing/spectrum_records.h"
#include "filters/processing/support/region_runs.h"
#include "image/pool.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/ui_input.h"

namespace {

class FreqMaskTest : public testing::Test {
protected:
    void TearDown() override {
        PoolSetThreadCount(PoolGetProcessorCount());
        kvtest::Pump();
    }
    FakeHost host;
};

TEST_F(FreqMaskTest, RingsMatchNumpyAtEachSizeWithOneAndAllThreads) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    kvtest::TempDir dir("freq_rings");
    const struct {
        int32_t low, high;
        uint32_t revers;
    } bands[] = {{0, 0, 0}, {179, 179, 0}, {0, 20, 1}, {50, 60, 0}};
    for (uint64_t n : {256u, 512u, 1024u}) {
        for (const auto& band : bands) {
            std::string out;
            const char* script =
                "import sys, numpy as np\n"
                "n, lo, hi, rv = map(int, sys.argv[2:])\n"
                "c = (n - 1) / 2\n"
                "y, x = np.mgrid[0:n, 0:n]\n"
                "k = (np.sqrt((y - c) ** 2 + (x - c) ** 2) * (179 / np.sqrt(2 * c * c)) + 0.5).astype(int)\n"
                "inb = (lo <= k) & (k <= hi)\n"
                "rem = ~inb if rv else inb\n"
                "rem.astype(np.uint8).tofile(sys.argv[1])\n"
                "print(int(rem.sum()))\n";
            ASSERT_EQ(kvtest::RunPython(script,
                                        {dir.file("mask.raw"), std::to_string(n), std::to_string(band.low),
                                         std::to_string(band.high), std::to_string(band.revers)},
                                        &out),
                      0);
            const std::string expect = kvtest::ReadFileBytes(dir.file("mask.raw"));
            ASSERT_EQ(expect.size(), n * n);
            if (band.low == 0 && band.high == 0 && !band.revers) {
                EXPECT_EQ(std::stoi(out), n == 256 ? 0 : n == 512 ? 4 : 12) << n;
            }
            for (uint64_t threads : {uint64_t{1}, PoolGetProcessorCount()}) {
                SCOPED_TRACE("n " + std::to_string(n) + " band " + std::to_string(band.low) + "-" +
                             std::to_string(band.high) + " threads " + std::to_string(threads));
                PoolSetThreadCount(threads);
                // A colour region of n x (n - 10): every plane is masked alike,
                // and the picture where it covers the plane.
                CImgBuff image;
                kvtest::RandomImage(image, static_cast<int32_t>(n), static_cast<int32_t>(n - 10), kImgRgb8, 5);
                SpectrumRecord record{};
                ASSERT_TRUE(ImgFftForward(&record.state, &image));
                ASSERT_TRUE(ImgFftSpectrumImage(&record.state, &image));
                ASSERT_TRUE(CLfFreqMask::MaskSpectrum(&record, &image, {band.revers, band.low, band.high}));
                size_t mismatches = 0;
                for (uint64_t i = 0; i < n * n; ++i) {
                    const bool removed = expect[i] != 0;
                    for (int p = 0; p < 3; ++p) {
                        const FftComplex v = record.state.array[p][i];
                        mismatches += (v.re == 0 && v.im == 0) != removed;
                    }
                    const uint64_t px = i % n, py = i / n;
                    if (py >= 5 && py < n - 5) {
                        const uint8_t* pixel = image.buffer->PixelAt(static_cast<int32_t>(px), static_cast<int32_t>(py - 5));
                        const bool black = pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0;
                        if (removed) mismatches += !black;
                    }
                }
                EXPECT_EQ(mismatches, 0u);
                ImgFftReset(&record.state);
            }
        }
    }
}

// Band 0-0 between "FFT" and "IFFT": the chain equals the kernels called
// directly on each region; ring 0 holds no sample below a 512 transform (the
// ring formula puts the centre samples at index 0 only from 512 on), so
// there the picture's mean is kept, and at 512 the centre samples, the mean
// among them, are removed and the picture darkens. Without "FFT" before it
// the mask finds no spectrum and frames pass.
TEST_F(FreqMaskTest, BandZeroKeepsTheMeanBelowA512TransformRemovesItAtAndPassesWithoutASpectrum) {
    auto* rect = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    CImgFilter* fft = host.Add(CreateLfFFT());
    auto* mask = static_cast<CLfFreqMask*>(host.Add(CreateLfFreqMask()));
    host.Add(CreateLfIFFT());
    mask->Set({0, 0, 0});
    for (const kvtest::RegionCase& c : kvtest::RegionCases())
        for (int32_t format : kvtest::RegionFormats())
            kvtest::ExpectChainMatchesDirect(host, rect, c, format, [&](CImgBuff* img, const ImgRect& r, bool in) {
                if (!in) return;
                CImgBuff part;
                SpectrumRecord record{};
                ASSERT_TRUE(img->ExtractRect(&part, r.x0, r.y0, r.x1, r.y1));
                ASSERT_TRUE(ImgFftForward(&record.state, &part));
                ASSERT_TRUE(ImgFftSpectrumImage(&record.state, &part));
                ASSERT_TRUE(CLfFreqMask::MaskSpectrum(&record, &part, {0, 0, 0}));
                ASSERT_TRUE(ImgFftInverse(&record.state, &part, &part, nullptr));
                ImgFftReset(&record.state);
                img->PasteImage(&part, static_cast<uint32_t>(r.x0), static_cast<uint32_t>(r.y0));
            });
    // Whole grey pictures of random bytes: a 256 transform keeps the mean
    // (to rounding), a 512 one loses it.
    rect->Set({0, 0, 0, 0, 0});
    const struct {
        int32_t side;
        bool meanKept;
    } sizes[] = {{200, true}, {300, false}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(size.side);
        CImgBuff image;
        kvtest::RandomImage(image, size.side, size.side, kImgGray8, 3);
        const auto mean = [](const CImgBuff& img) {
            const std::vector<uint8_t> bytes = kvtest::Bytes(img);
            double sum = 0;
            for (uint8_t b : bytes) sum += b;
            return sum / static_cast<double>(bytes.size());
        };
        const double before = mean(image);
        host.RunChain(&image, 0);
        ASSERT_EQ(image.buffer->format, kImgGray8);
        const double after = mean(image);
        if (size.meanKept) {
            EXPECT_NEAR(after, before, 0.5);
        } else {
            EXPECT_LT(after, before - 20);
        }
    }
    // Without "FFT" before it the mask finds no spectrum: frames pass.
    fft->enabled = 0;
    rect->Set({1, 0, 0, 40, 30});
    CImgBuff image;
    kvtest::RandomImage(image, 40, 30, kImgRgb8, 9);
    const std::vector<uint8_t> before = kvtest::Bytes(image);
    host.RunChain(&image, 0);
    EXPECT_TRUE(kvtest::Bytes(image) == before);
}

TEST_F(FreqMaskTest, LoadsTakeTheRangeOnlyWhole) {
    const struct {
        const char* name;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> items;
        CLfFreqMask::Band expect;
    } cases[] = {
        {"both", {{L"range_min", L"10"}, {L"range_max", L"40"}, {L"revers", L"0"}}, {0, 10, 40}},
        {"min above max", {{L"range_min", L"50"}, {L"range_max", L"40"}}, {1, 5, 6}},
        {"max beyond the bar", {{L"range_min", L"0"}, {L"range_max", L"200"}}, {1, 5, 6}},
        {"negative", {{L"range_min", L"-1"}, {L"range_max", L"6"}}, {1, 5, 6}},
        {"one key alone", {{L"range_min", L"1"}}, {1, 5, 6}},
        {"revers other than 0 ticks", {{L"revers", L"yes"}}, {1, 5, 6}},
        {"revers 0", {{L"revers", L"0"}}, {0, 5, 6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CLfFreqMask mask;
        mask.reversBox.checked = 1;
        mask.range.low = 5;
        mask.range.high = 6;
        mask.Set({1, 5, 6});
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"frequency_mask");
        for (const auto& [k, v] : c.items) pack->AddItem(k, v);
        mask.LoadConfig(pack);
        const CLfFreqMask::Band b = mask.Get();
        EXPECT_EQ(std::vector<int32_t>({int32_t(b.revers), b.low, b.high}),
                  std::vector<int32_t>({int32_t(c.expect.revers), c.expect.low, c.expect.high}));
        EXPECT_EQ(mask.range.low, c.expect.low);
        EXPECT_EQ(mask.reversBox.checked, c.expect.revers);
    }
    CLfFreqMask mask;
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"frequency_mask");
    mask.SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    EXPECT_EQ(text, L"if_enable=0;if_visible=0;range_min=179;range_max=179;revers=0;");
}

TEST_F(FreqMaskTest, PanelDragsRefilterAndShowInBothLanguages) {
    for (const wchar_t* language : {L"en", L"jp"}) {
        const bool jp = std::wstring(language) == L"jp";
        host.SetLanguage(language);
        auto* mask = static_cast<CLfFreqMask*>(host.Add(CreateLfFreqMask()));
        ASSERT_TRUE(mask->PanelShown());
        EXPECT_EQ(mask->CFgScreen::width, 216u);
        EXPECT_EQ(mask->reversBox.label, jp ? L"反転" : L"revers");
        host.calls.clear();
        PlatPostTestClick(mask->window, 20, 20);
        kvtest::Pump();
        EXPECT_EQ(mask->Get().revers, 1u);
        mask->range.Notify(10, 30);  // as a drag step reports it
        EXPECT_EQ(mask->Get().low, 10);
        EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)", "Refilter(0)"}));
        kvtest::SaveScreenshot(kvtest::CaptureFrame(*mask, *mask), std::string("frequency_mask-") + (jp ? "jp" : "en"));
    }
}

}  // namespace
