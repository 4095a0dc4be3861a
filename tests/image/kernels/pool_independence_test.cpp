// Every kernel gives the same result with one pool thread as with all of
// them, in every pixel format.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "image/kernels/kernels.h"
#include "image/pool.h"
#include "support/kernel_test_util.h"

namespace {

using Kernel = std::function<void(CImgBuff&, const CImgBuff& background)>;

struct Named {
    const char* name;
    Kernel run;
};

const ImgRect kRoi{3, 2, 60, 41};

// Background pixels among the noise, so that binary objects have edges.
void Gaps(CImgBuff& i) {
    for (int32_t y = 0; y < i.buffer->height; ++y)
        for (int32_t x = 0; x < i.buffer->width; ++x)
            if ((x * 7 + y * 3) % 11 < 4) i.buffer->SetPixelGray8(x, y, 0);
}

// Background of three frames: the image, the (smaller) background and the
// image again.
void BackgroundFrames(CImgBuff& i, const CImgBuff& bg, bool denoised, int32_t mode) {
    CImgBuff first;
    first.CopyFrom(&i);
    const CImgBuff* frames[3] = {&first, &bg, &first};
    const ImgFrameSourceFn source = [](uint64_t index, CImgBuff* image, void* user) {
        image->CopyFrom(static_cast<const CImgBuff* const*>(user)[index]);
        return int32_t(1);
    };
    if (denoised) ImgCreateBackgroundDenoised(&i, 3, mode, 40.0, source, frames);
    else ImgCreateBackground(&i, 3, mode, source, frames);
}

std::vector<Named> Kernels() {
    return {
        {"negate", [](CImgBuff& i, const CImgBuff&) { ImgNegate(&i, &kRoi); }},
        {"shift", [](CImgBuff& i, const CImgBuff&) { ImgShift(&i, -7, 5, 200); }},
        {"shift subpixel", [](CImgBuff& i, const CImgBuff&) { ImgShiftSubpixel(&i, 2.3, -1.6, 30); }},
        {"mirror h", [](CImgBuff& i, const CImgBuff&) {
             MirrorJob job{&i, 3, 2, 60, 41};
             PoolParallelFor(ImgMirrorHorizontalRows, &job, 40);
         }},
        {"mirror v", [](CImgBuff& i, const CImgBuff&) {
             MirrorJob job{&i, 3, 2, 60, 41};
             PoolParallelFor(ImgMirrorVerticalRows, &job, 20);
         }},
        {"turn", [](CImgBuff& i, const CImgBuff&) { ImgRotateQuarterTurns(&i, 1); }},
        {"half turn", [](CImgBuff& i, const CImgBuff&) { ImgRotateQuarterTurns(&i, 2); }},
        {"gamma", [](CImgBuff& i, const CImgBuff&) { ImgGammaCorrect(&i, 1.0, 1.8, &kRoi); }},
        {"gamma wide", [](CImgBuff& i, const CImgBuff&) { ImgGammaCorrectWide(&i, 2.2, 1.0, &kRoi); }},
        {"level table", [](CImgBuff& i, const CImgBuff&) {
             ImgLevelTable* t = ImgLevelTableCreate(5000, 50000);
             ImgLevelTableApply(&i, t, &kRoi);
             ImgLevelTableFree(t);
         }},
        {"level stretch", [](CImgBuff& i, const CImgBuff&) { ImgLevelStretch(&i, 30, 200, &kRoi); }},
        {"histogram", [](CImgBuff& i, const CImgBuff&) {
             // The bins are written into the image so that they are compared too.
             uint64_t bins[256], largest = 0;
             for (int mode = 1; mode <= 4; ++mode) {
                 ImgHistogram(&i, mode, bins, &largest, &kRoi);
                 for (int v = 0; v < 256; ++v) i.buffer->pixels[v + 256 * (mode - 1)] ^= static_cast<uint8_t>(bins[v] * 7 + largest);
             }
         }},
        {"equalize", [](CImgBuff& i, const CImgBuff&) { ImgFlattenHistogram(&i, &kRoi); }},
        {"hsv", [](CImgBuff& i, const CImgBuff&) { ImgExtractHsvRange(&i, 60000, 9000, 1000, 60000, 100, 65000, 0, 1, 0, &kRoi); }},
        {"brightness", [](CImgBuff& i, const CImgBuff&) { ImgExtractBrightnessRange(&i, 10000, 40000, 1, 0, 1, &kRoi); }},
        {"table", [](CImgBuff& i, const CImgBuff&) {
             std::unique_ptr<ColorRangeTable> t(ImgColorRangeTableCreate(20000, 6000, 0, 65535, 0, 65535, 0));
             ColorTableJob job{&i, t.get(), 1, 1, 3, 2, 60, 41};
             PoolParallelFor(i.buffer->format == kImgGray8 ? ImgExtractByTableGray8Rows : ImgExtractByTableRgb8Rows, &job, 40);
         }},
        {"subtract", [](CImgBuff& i, const CImgBuff& bg) { ImgSubtractBackground(&i, &bg, 1, &kRoi); }},
        {"objects tiles", [](CImgBuff& i, const CImgBuff& bg) { ImgExtractObjects(&i, &bg, 1, 3000.0, 4, &kRoi); }},
        {"objects pixels", [](CImgBuff& i, const CImgBuff& bg) { ImgExtractObjects(&i, &bg, 0, 40.0, 1, &kRoi); }},
        {"rotate scale", [](CImgBuff& i, const CImgBuff&) { ImgRotateScale(&i, 30, 20, 23.5, 1.1, 1, 1); }},
        {"overlap transform", [](CImgBuff& i, const CImgBuff&) {
             CImgBuff out, mask;
             int32_t xy[2] = {0, 0};
             ImgOverlapTransform(&i, 3.3, -1.7, 33.0, 1.1, &out, &mask, &xy[0], &xy[1]);
             // The output, with the mask and the position written over its first bytes.
             i.buffer->TakePixels(out.buffer);
             std::memcpy(i.buffer->pixels, mask.buffer->pixels, 40);
             std::memcpy(i.buffer->pixels + 40, xy, sizeof xy);
         }},
        {"perspective", [](CImgBuff& i, const CImgBuff&) {
             const CameraMatrix cam{700.0, 690.0, 33.5, 22.5};
             const double angles[3] = {14.0, -9.0, 6.0};
             ImgPerspectiveTransform(&i, &cam, angles, 1.1, 1);
         }},
        {"align", [](CImgBuff& i, const CImgBuff&) {
             TileScore a{}, b{};
             if (!ImgFindReferenceArea(&i, 4, 4, 62, 40, 14, 14, &a, &b)) return;
             CImgBuff t0, t1;
             i.ExtractRect(&t0, a.x0, a.y0, a.x1, a.y1);
             i.ExtractRect(&t1, b.x0, b.y0, b.x1, b.y1);
             const CImgBuff* templates[2] = {&t0, &t1};
             const int32_t rx[2] = {a.x0, b.x0}, ry[2] = {a.y0, b.y0};
             ImgShift(&i, 2, -1, 0);
             ImgAlignTwoPoints(0, &i, templates, rx, ry, 5, 255, 0);
         }},
        {"enlarge 2x", [](CImgBuff& i, const CImgBuff&) { ImgEnlarge2x(&i); }},
        {"match template", [](CImgBuff& i, const CImgBuff&) {
             // The results are written into the image so that they are compared.
             CImgBuff t;
             i.ExtractRect(&t, 20, 10, 35, 29);
             int32_t xy[4] = {0, 0, 0, 0};
             double s[2] = {0, 0};
             ImgMatchTemplate(&i, &t, 0, 0, 0, 0, 60, 40, &xy[0], &xy[1], 0, 0, 0, &s[0], nullptr, nullptr);
             ImgMatchTemplate(&i, &t, 5, 5, 0, 0, 60, 40, &xy[2], &xy[3], 1, 1, 0, &s[1], nullptr, nullptr);
             std::memcpy(i.buffer->pixels, xy, sizeof xy);
             std::memcpy(i.buffer->pixels + sizeof xy, s, sizeof s);
         }},
        {"match patterns", [](CImgBuff& i, const CImgBuff&) {
             ImageList* list = ImgMakeRotatedTemplates(&i, 20, 12, 31, 23);
             CriticalSection lock;
             MatchPatternsJob job{&i, list, 20, 12, 15, 7, 25, 17, 0, 0, 0.25, 0, nullptr, nullptr, &lock, 0, -1.0, 0.0, 0.0};
             if (list) PoolParallelFor(ImgMatchPatternsKernel, &job, list->count);
             ImgDeleteImageList(list);
             const double r[4] = {double(job.bestIndex), job.bestScore, job.bestX, job.bestY};
             std::memcpy(i.buffer->pixels, r, sizeof r);
         }},
        {"islands", [](CImgBuff& i, const CImgBuff&) {
             // The records are written into the image so that they are compared too.
             IslandSettings s{&i, 1, 4, 1, 0, 0.5, -1, nullptr, 0};
             IslandRecord rec[8];
             IslandSummary totals;
             std::memset(rec, 0, sizeof rec);
             const int32_t n = ImgMeasureIslands(&s, &totals, rec, 8, &kRoi);
             std::memcpy(i.buffer->pixels, rec, sizeof rec);
             std::memcpy(i.buffer->pixels + sizeof rec, &totals, sizeof totals);
             i.buffer->pixels[sizeof rec + sizeof totals] ^= static_cast<uint8_t>(n);
         }},
        {"remove by size", [](CImgBuff& i, const CImgBuff&) { ImgRemoveObjectsBySize(&i, 0, 60, 8, 0, &kRoi); }},
        {"expand", [](CImgBuff& i, const CImgBuff&) {
             Gaps(i);
             ImgBinaryExpand(&i, 4, 0, &kRoi);
         }},
        {"border", [](CImgBuff& i, const CImgBuff&) { ImgBinaryBorder(&i, 8, 0, &kRoi); }},
        {"thin", [](CImgBuff& i, const CImgBuff&) { ImgBinaryThin(&i, 8, 0, &kRoi); }},
        {"convolve", [](CImgBuff& i, const CImgBuff&) {
             const int32_t k[25] = {1, 2, 3, 2, 1, 0, -1, 4, -1, 0, 2, 2, 9, 2, 2, 0, -1, 4, -1, 0, 1, 2, 3, 2, 1};
             ImgConvolve(&i, 5, k, 1, 0, &kRoi);
         }},
        {"convolve 3x3", [](CImgBuff& i, const CImgBuff&) {
             const double k[9] = {0.5, 1, 0.5, 1, 3, 1, 0.5, 1, 0.5};
             ImgConvolve3x3(&i, 0, k);
         }},
        {"median", [](CImgBuff& i, const CImgBuff&) { ImgMedian(&i, 3, &kRoi); }},
        {"up convert", [](CImgBuff& i, const CImgBuff&) {
             i.buffer->ConvertFormat(kImgRgb8);
             ImgUpConvertDepth(&i, 32);
         }},
        {"particles", [](CImgBuff& i, const CImgBuff&) {
             Gaps(i);
             ImgSeparateParticles(&i, 0, 8, 0, &kRoi);
         }},
        {"particles grey", [](CImgBuff& i, const CImgBuff&) { ImgSeparateParticles(&i, 1, 4, 1, &kRoi); }},
        {"edge objects", [](CImgBuff& i, const CImgBuff&) { ImgEraseEdgeObjects(&i, 1, 0, 1, 1, 4, 1, &kRoi); }},
        {"fft spectrum", [](CImgBuff& i, const CImgBuff&) {
             ImgFftState st{};
             ImgFftForward(&st, &i);
             ImgFftSpectrumImage(&st, &i);
             ImgFftReset(&st);
         }},
        {"background average", [](CImgBuff& i, const CImgBuff& bg) { BackgroundFrames(i, bg, false, 0); }},
        {"background maximum", [](CImgBuff& i, const CImgBuff& bg) { BackgroundFrames(i, bg, false, 1); }},
        {"background lab", [](CImgBuff& i, const CImgBuff& bg) { BackgroundFrames(i, bg, true, 0); }},
        {"background mirrored", [](CImgBuff& i, const CImgBuff& bg) { BackgroundFrames(i, bg, true, -1); }},
        {"bayer mosaic", [](CImgBuff& i, const CImgBuff&) { ImgBayer(&i, 0, 5, nullptr, nullptr); }},
        {"bayer linear", [](CImgBuff& i, const CImgBuff&) { ImgBayer(&i, 1, 2, nullptr, &kRoi); }},
        {"bayer linear xtrans", [](CImgBuff& i, const CImgBuff&) { ImgBayer(&i, 1, 5, nullptr, &kRoi); }},
        {"bayer adaptive", [](CImgBuff& i, const CImgBuff&) {
             const double gains[4] = {0, 1.2, 0.9, 1.7};
             ImgBayer(&i, 2, 1, gains, &kRoi);
         }},
        {"component", [](CImgBuff& i, const CImgBuff&) {
             // A different code in each band of rows, with and without colour.
             for (int32_t code = 1; code <= 22; ++code) {
                 const ImgRect band{3, code * 2, 60, code * 2 + 1};
                 ImgExtractComponent(&i, code, code % 2, &band);
                 ImgExtractComponent(&i, code, 0, &band);
             }
         }},
        {"white balance", [](CImgBuff& i, const CImgBuff&) {
             // The estimate is written into the image so that it is compared too.
             double rgb[3] = {0, 0, 0};
             int32_t used = -1;
             ImgEstimateWhiteBalance(&i, &rgb[0], &rgb[1], &rgb[2], 60, 40, &used);
             ColorLut* lut = ImgColorLutCreateWhiteBalance(0.9, 0.8, 0.6);
             ImgColorLutApply(lut, &i);
             ImgColorLutDestroy(lut);
             std::memcpy(i.buffer->pixels, rgb, sizeof rgb);
         }},
        {"colour correction", [](CImgBuff& i, const CImgBuff&) {
             const double r[6] = {0.9, 0.8, 0.2, 0.1, 0.2, 0.8}, g[6] = {0.2, 0.8, 0.9, 0.7, 0.1, 0.1}, b[6] = {0.1, 0.1, 0.2, 0.9, 0.9, 0.7};
             ColorLut* lut = ImgColorLutCreateColorCorrection(r, g, b, nullptr, nullptr, nullptr, 1, 1);
             ImgColorLutApply(lut, &i);
             ImgColorLutDestroy(lut);
         }},
        {"wavelength tint", [](CImgBuff& i, const CImgBuff&) { ImgWavelengthFilter(&i, 520.5, 1, 0, 1.0, &kRoi); }},
        {"wavelength grey", [](CImgBuff& i, const CImgBuff&) {
             ImgWavelengthFilter(&i, 610.0, 2, 1, 1.0, &kRoi);
             ImgWavelengthFilter(&i, 470.0, 0, 3, 1.7, &kRoi);
         }},
        {"fft inverse", [](CImgBuff& i, const CImgBuff&) {
             ImgFftState st{};
             CImgBuff mask;
             ImgFftForward(&st, &i);
             ImgFftSpectrumImage(&st, &mask);
             ImgFftInverse(&st, &i, nullptr, &mask);
             ImgFftReset(&st);
         }},
    };
}

TEST(PoolIndependence, OneThreadAndAllThreadsAgree) {
    for (int32_t f : ktest::kAllFormats) {
        CImgBuff source, background;
        ASSERT_TRUE(ktest::MakeNoise(source, 67, 45, f, 90));
        ASSERT_TRUE(ktest::MakeNoise(background, 50, 40, f, 91));
        // Half of the pixels equal the background, so that extraction paints.
        for (int y = 0; y < 40; y += 2) std::memcpy(source.buffer->PixelAt(0, y), background.buffer->PixelAt(0, y), 50 * source.buffer->BytesPerPixel());
        for (const Named& k : Kernels()) {
            CImgBuff one, all;
            ktest::WithOneAndAllThreads([&] { one.CopyFrom(&source); k.run(one, background); },
                                        [&] { all.CopyFrom(&source); k.run(all, background); });
            EXPECT_EQ(one.buffer->width, all.buffer->width);
            EXPECT_TRUE(ktest::Block(one) == ktest::Block(all)) << k.name << " " << ImgFormatName(f);
            EXPECT_FALSE(ktest::Block(one) == ktest::Block(source) && std::string(k.name) != "objects pixels")
                << k.name << " changed nothing in " << ImgFormatName(f);
        }
    }
}

}  // namespace
