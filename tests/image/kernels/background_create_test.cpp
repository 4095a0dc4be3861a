// Background creation from a stub frame source over frames in memory, with
// a scripted cancel: plain and outlier-excluding kernels against numpy over
// the stack, in every depth group.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "image/kernels/background_create.h"
#include "support/kernel_test_util.h"

namespace {

// Hands out copies of its frames; the call numbered `cancelAt` (counting
// from 0) answers 0 without copying.
struct Stub {
    std::vector<std::unique_ptr<CImgBuff>> frames;
    int64_t cancelAt = -1;
    int64_t calls = 0;
    std::vector<uint64_t> indices;

    static int32_t Fetch(uint64_t index, CImgBuff* image, void* user) {
        Stub* s = static_cast<Stub*>(user);
        s->indices.push_back(index);
        if (s->calls++ == s->cancelAt) return 0;
        image->CopyFrom(s->frames.at(index).get());
        return 1;
    }
    CImgBuff& Add() {
        frames.push_back(std::make_unique<CImgBuff>());
        return *frames.back();
    }
    std::string Stack() const {
        std::string all;
        for (const auto& f : frames) all += ktest::Block(*f);
        return all;
    }
};

struct Group {
    int32_t format;
    const char* dtype;
    int channels;
    const char* top;
};
const Group kGroups[] = {{kImgGray8, "np.uint8", 1, "255.0"},         {kImgGray16, "np.uint16", 1, "65535.0"},
                         {kImgGray32, "np.uint32", 1, "4294967295.0"}, {kImgRgb8, "np.uint8", 3, "255.0"},
                         {kImgRgb16, "np.uint16", 3, "65535.0"},       {kImgRgb32, "np.uint32", 3, "4294967295.0"}};

TEST(BackgroundCreate, PlainKernelsMatchNumpy) {
    const int32_t w = 23, h = 17, n = 5;
    for (const Group& g : kGroups) {
        Stub stub;
        for (int f = 0; f < n; ++f) ASSERT_TRUE(ktest::MakeNoise(stub.Add(), w, h, g.format, uint32_t(100 + f)));
        std::vector<std::string> results;
        for (int mode : {0, 1, -1}) {
            CImgBuff dst;
            ASSERT_EQ(dst.buffer->Create(2, 2, kImgGray8), 1);
            stub.indices.clear();
            ASSERT_EQ(ImgCreateBackground(&dst, n, mode, Stub::Fetch, &stub), 1);
            EXPECT_EQ(stub.indices, (std::vector<uint64_t>{0, 0, 1, 2, 3, 4}));
            ASSERT_EQ(dst.buffer->format, g.format);
            results.push_back(ktest::Block(dst));
        }
        const std::string shape = std::to_string(n) + ", " + std::to_string(h) + ", " + std::to_string(w) + (g.channels == 3 ? ", 3" : "");
        const std::string script = std::string("s = np.fromfile(sys.argv[1], ") + g.dtype + ").reshape(" + shape + ")\n" +
                                   "avg = np.trunc(np.minimum(s.astype(np.float64).sum(0) / " + std::to_string(n) + ", " + g.top +
                                   ")).astype(" + g.dtype + ")\n" +
                                   "open(sys.argv[-1], 'wb').write(avg.tobytes() + s.max(0).tobytes() + s.min(0).tobytes())\n";
        ktest::ExpectConcatenated(results, ktest::RunNumpy(script, {stub.Stack()}));
    }
}

// The outlier-excluding maximum and minimum: per channel at 32 bits, mean m
// truncated, M and L; written back through the 32-bit setter.
TEST(BackgroundCreate, MirroredExtremesMatchNumpy) {
    const int32_t w = 19, h = 11, n = 4;
    for (const Group& g : kGroups) {
        Stub stub;
        for (int f = 0; f < n; ++f) ASSERT_TRUE(ktest::MakeNoise(stub.Add(), w, h, g.format, uint32_t(200 + f)));
        std::vector<std::string> results;
        for (int mode : {1, -1}) {
            CImgBuff dst;
            ASSERT_EQ(dst.buffer->Create(1, 1, kImgRgb8), 1);
            ASSERT_EQ(ImgCreateBackgroundDenoised(&dst, n, mode, 0.0, Stub::Fetch, &stub), 1);
            results.push_back(ktest::Block(dst));
        }
        const int bits = g.format == kImgGray8 || g.format == kImgRgb8 ? 8 : g.format == kImgGray16 || g.format == kImgRgb16 ? 16 : 32;
        const std::string shape = std::to_string(n) + ", " + std::to_string(h) + ", " + std::to_string(w) + (g.channels == 3 ? ", 3" : "");
        const std::string script = std::string("s = np.fromfile(sys.argv[1], ") + g.dtype + ").reshape(" + shape + ").astype(np.uint64)\n" +
                                   "bits = " + std::to_string(bits) + "\n" +
                                   "wide = s * {8: 16843009, 16: 65537, 32: 1}[bits]\n"
                                   "m = np.trunc(wide.astype(np.float64).sum(0) / " + std::to_string(n) + ").astype(np.int64)\n"
                                   "M = wide.max(0).astype(np.int64); L = wide.min(0).astype(np.int64)\n"
                                   "hi = np.where(M - m > m - L, 2 * m - L, M)\n"
                                   "lo = np.where(M - m <= m - L, 2 * m - M, L)\n"
                                   "out = b''\n"
                                   "for v in (hi, lo):\n"
                                   "    v = (v >> (32 - bits)).astype(" + g.dtype + ")\n"
                                   "    out += v.tobytes()\n"
                                   "open(sys.argv[-1], 'wb').write(out)\n";
        // A grey destination goes through its RGB rendering (three equal
        // channels) and is written back as grey: the same numbers.
        ktest::ExpectConcatenated(results, ktest::RunNumpy(script, {stub.Stack()}));
    }
}

// One pixel of format 6 over a scripted run of values.
uint32_t MirroredOne(const std::vector<uint32_t>& values, int mode) {
    Stub stub;
    for (uint32_t v : values) {
        CImgBuff& f = stub.Add();
        f.buffer->Create(1, 1, kImgRgb32);
        f.SetPixelRgb32(0, 0, v, v, v);
    }
    CImgBuff dst;
    dst.buffer->Create(1, 1, kImgRgb32);
    EXPECT_EQ(ImgCreateBackgroundDenoised(&dst, values.size(), mode, 0.0, Stub::Fetch, &stub), 1);
    uint32_t r = 0, g = 0, b = 0;
    dst.GetPixelRgb32(0, 0, &r, &g, &b);
    EXPECT_TRUE(r == g && g == b);
    return r;
}

TEST(BackgroundCreate, SmallCases) {
    EXPECT_EQ(MirroredOne({10, 10, 10, 250}, 1), 130u);
    EXPECT_EQ(MirroredOne({10, 20, 30}, 1), 30u);
    EXPECT_EQ(MirroredOne({0, 200, 200, 200}, -1), 100u);
    EXPECT_EQ(MirroredOne({4294967295u, 4294967295u, 0}, 1), 4294967295u);
    EXPECT_EQ(MirroredOne({4294967295u, 0, 0}, -1), 0u);
    // Average of 10 and 13 is 11; one frame gives frame 0 back in every mode.
    Stub two;
    for (uint8_t v : {10, 13}) {
        two.Add().buffer->Create(3, 2, kImgGray8);
        std::memset(two.frames.back()->buffer->pixels, v, 6);
    }
    CImgBuff dst;
    dst.buffer->Create(1, 1, kImgGray8);
    ASSERT_EQ(ImgCreateBackground(&dst, 2, 0, Stub::Fetch, &two), 1);
    EXPECT_EQ(ktest::Block(dst), std::string(6, char(11)));
    for (int32_t f : ktest::kAllFormats) {
        Stub one;
        ASSERT_TRUE(ktest::MakeNoise(one.Add(), 9, 7, f, 5));
        for (int mode : {0, 1, -1}) {
            CImgBuff out;
            out.buffer->Create(1, 1, kImgGray8);
            ASSERT_EQ(ImgCreateBackground(&out, 1, mode, Stub::Fetch, &one), 1);
            if (f <= kImgRgb32) {
                EXPECT_EQ(ktest::Block(out), ktest::Block(*one.frames[0])) << ImgFormatName(f) << " " << mode;
            }
        }
    }
}

// Frames of other sizes: each pixel takes the result over the frames that
// cover it. An 8 x 8 frame 0 and a 3 x 3 frame 1: inside 3 x 3 the result is
// that of the two frames cropped to 3 x 3, outside it that of frame 0 alone,
// in every mode of both kernels.
TEST(BackgroundCreate, SmallerFrameCountsOnlyCoveringFrames) {
    struct Case {
        const char* name;
        bool denoised;
        int mode;
        double noise;
    };
    const Case cases[] = {{"average", false, 0, 0.0},         {"maximum", false, 1, 0.0},         {"minimum", false, -1, 0.0},
                          {"lab average", true, 0, 300.0},    {"mirrored maximum", true, 1, 0.0}, {"mirrored minimum", true, -1, 0.0}};
    const auto crop = [](const CImgBuff& from, int32_t w, int32_t h, CImgBuff& to) {
        ASSERT_EQ(to.buffer->Create(w, h, from.buffer->format), 1);
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(to.buffer->PixelAt(0, y), from.buffer->PixelAt(0, y), size_t(w) * from.buffer->BytesPerPixel());
    };
    for (int32_t format : {kImgGray8, kImgRgb8, kImgGray16, kImgRgb32}) {
        Stub mixed, alone, cropped;
        ASSERT_TRUE(ktest::MakeNoise(mixed.Add(), 8, 8, format, 41));
        ASSERT_TRUE(ktest::MakeNoise(mixed.Add(), 3, 3, format, 42));
        alone.Add().CopyFrom(mixed.frames[0].get());
        crop(*mixed.frames[0], 3, 3, cropped.Add());
        cropped.Add().CopyFrom(mixed.frames[1].get());
        for (const Case& c : cases) {
            const auto run = [&](Stub& stub) {
                CImgBuff out;
                out.buffer->Create(1, 1, kImgGray8);
                const uint64_t n = stub.frames.size();
                EXPECT_EQ(c.denoised ? ImgCreateBackgroundDenoised(&out, n, c.mode, c.noise, Stub::Fetch, &stub)
                                     : ImgCreateBackground(&out, n, c.mode, Stub::Fetch, &stub),
                          1);
                return ktest::Block(out);
            };
            const std::string got = run(mixed), outside = run(alone), inside = run(cropped);
            const size_t bpp = size_t(ImgFormatBytes(format));
            ASSERT_EQ(got.size(), 64 * bpp);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    const bool covered = x < 3 && y < 3;
                    const std::string want = covered ? inside.substr((y * 3 + x) * bpp, bpp) : outside.substr((y * 8 + x) * bpp, bpp);
                    EXPECT_EQ(got.substr((y * 8 + x) * bpp, bpp), want) << ImgFormatName(format) << " " << c.name << " at " << x << "," << y;
                }
        }
    }
}

// L*a*b* average: only frames within the noise level of the mean count; a
// pixel that no frame came near keeps its mean. Four grey frames (L* about
// 66), frame 1 black at (4, 3): there the mean L* is 3/4 of the grey's, the
// grey frames lie (L*/4)^2 from it, the black one (3 L*/4)^2.
TEST(BackgroundCreate, LabAverageExcludesOutliers) {
    Stub stub;
    for (int f = 0; f < 4; ++f) {
        CImgBuff& img = stub.Add();
        img.buffer->Create(6, 5, kImgRgb16);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) img.SetPixelRgb16(x, y, 40000, 40000, 40000);
    }
    stub.frames[1]->SetPixelRgb16(4, 3, 0, 0, 0);
    const auto run = [&](double noise) {
        auto out = std::make_unique<CImgBuff>();
        out->buffer->Create(1, 1, kImgGray8);
        stub.indices.clear();
        EXPECT_EQ(ImgCreateBackgroundDenoised(out.get(), 4, 0, noise, Stub::Fetch, &stub), 1);
        return out;
    };
    const std::unique_ptr<CImgBuff> strict = run(0.0), loose = run(1e12), middle = run(1000.0);
    EXPECT_EQ(stub.indices, (std::vector<uint64_t>{0, 0, 1, 2, 3, 0, 1, 2, 3}));
    const auto grey = [](const CImgBuff& img, int x, int y) {
        uint16_t r = 0, g = 0, b = 0;
        img.GetPixelRgb16(x, y, &r, &g, &b);
        EXPECT_TRUE(std::abs(int(r) - int(g)) <= 1 && std::abs(int(g) - int(b)) <= 1);
        return int(g);
    };
    // Where every frame is the grey, every level keeps it.
    for (const CImgBuff* out : {strict.get(), loose.get(), middle.get()}) EXPECT_NEAR(grey(*out, 0, 0), 40000, 1);
    // The black frame is left out at level 1000, counted at a huge level.
    EXPECT_NEAR(grey(*middle, 4, 3), 40000, 1);
    EXPECT_LT(grey(*loose, 4, 3), 30000);
    // At level 0 no frame equals the mean there: the mean is written, which
    // is what the huge level gives too.
    EXPECT_EQ(grey(*strict, 4, 3), grey(*loose, 4, 3));
}

TEST(BackgroundCreate, CancelReturnsMinusOneWithFrameZero) {
    struct Case {
        const char* name;
        bool denoised;
        int mode;
        int64_t cancelAt;  // call number: 0 is frame 0 of the start
    };
    const Case cases[] = {{"average first frame", false, 0, 1}, {"maximum last frame", false, 1, 4},   {"minimum", false, -1, 2},
                          {"lab pass one", true, 0, 3},         {"lab pass two", true, 0, 6},         {"mirrored", true, 1, 2}};
    for (const Case& c : cases) {
        Stub stub;
        for (int f = 0; f < 4; ++f) ASSERT_TRUE(ktest::MakeNoise(stub.Add(), 8, 6, kImgRgb8, uint32_t(30 + f)));
        stub.cancelAt = c.cancelAt;
        CImgBuff dst;
        dst.buffer->Create(1, 1, kImgGray16);
        const int32_t r = c.denoised ? ImgCreateBackgroundDenoised(&dst, 4, c.mode, 5.0, Stub::Fetch, &stub)
                                     : ImgCreateBackground(&dst, 4, c.mode, Stub::Fetch, &stub);
        EXPECT_EQ(r, -1) << c.name;
        EXPECT_EQ(ktest::Block(dst), ktest::Block(*stub.frames[0])) << c.name;
        EXPECT_EQ(stub.calls, c.cancelAt + 1) << c.name;
    }
}

TEST(BackgroundCreate, Refusals) {
    Stub stub;
    ASSERT_TRUE(ktest::MakeNoise(stub.Add(), 4, 4, kImgGray8, 1));
    CImgBuff dst, empty;
    dst.buffer->Create(1, 1, kImgGray8);
    EXPECT_EQ(ImgCreateBackground(&empty, 1, 0, Stub::Fetch, &stub), 0);
    EXPECT_EQ(ImgCreateBackground(&dst, 0, 0, Stub::Fetch, &stub), 0);
    EXPECT_EQ(ImgCreateBackground(&dst, 1, 2, Stub::Fetch, &stub), 0);
    EXPECT_EQ(ImgCreateBackground(&dst, 1, 0, nullptr, &stub), 0);
    EXPECT_EQ(ImgCreateBackground(nullptr, 1, 0, Stub::Fetch, &stub), 0);
    EXPECT_EQ(ImgCreateBackgroundDenoised(&dst, 1, 0, -1.0, Stub::Fetch, &stub), 0);
    EXPECT_EQ(ImgCreateBackgroundDenoised(&dst, 1, 0, std::numeric_limits<double>::quiet_NaN(), Stub::Fetch, &stub), 0);
    EXPECT_EQ(ImgCreateBackgroundDenoised(&dst, 1, -2, 0.0, Stub::Fetch, &stub), 0);
    EXPECT_TRUE(stub.indices.empty());  // nothing fetched for refused arguments
    // A source that leaves the destination empty.
    Stub blank;
    blank.Add();
    EXPECT_EQ(ImgCreateBackground(&dst, 1, 0, Stub::Fetch, &blank), 0);
}

// Frames handed in one at a time give what the fetching kernel gives over
// the same frames (checked against numpy above), in every format, with a
// smaller frame and an empty one among them, into a destination of any
// shape.
TEST(BackgroundCreate, HandedInFramesEqualFetchedOnes) {
    for (int32_t format : ktest::kAllFormats) {
        Stub stub;
        ASSERT_TRUE(ktest::MakeNoise(stub.Add(), 9, 7, format, 71));
        ASSERT_TRUE(ktest::MakeNoise(stub.Add(), 9, 7, format, 72));
        ASSERT_TRUE(ktest::MakeNoise(stub.Add(), 4, 5, format, 73));
        stub.Add();  // no pixels: covers nothing
        ASSERT_TRUE(ktest::MakeNoise(stub.Add(), 12, 3, format, 74));
        for (int mode : {0, 1, -1}) {
            CImgBuff fetched;
            fetched.buffer->Create(1, 1, kImgGray8);
            ASSERT_EQ(ImgCreateBackground(&fetched, stub.frames.size(), mode, Stub::Fetch, &stub), 1);
            ImgBackgroundFold fold(mode);
            for (const auto& f : stub.frames) ASSERT_EQ(fold.Add(f.get()), 1);
            EXPECT_EQ(fold.Count(), stub.frames.size());
            for (const int32_t start : {int32_t(kImgGray8), format}) {
                CImgBuff handed;
                ASSERT_EQ(handed.buffer->Create(start == format ? 9 : 2, start == format ? 7 : 2, start), 1);
                ASSERT_EQ(fold.Finish(&handed), 1);
                ASSERT_EQ(handed.buffer->format, format);
                EXPECT_EQ(ktest::Block(handed), ktest::Block(fetched)) << ImgFormatName(format) << " " << mode;
            }
        }
    }
    // Refused: a bad mode, a frame 0 without pixels (and every call after
    // it), nothing folded.
    CImgBuff frame, empty, out;
    ASSERT_TRUE(ktest::MakeNoise(frame, 4, 4, kImgGray8, 1));
    ImgBackgroundFold badMode(2), emptyFirst(0), none(1);
    EXPECT_EQ(badMode.Add(&frame), 0);
    EXPECT_EQ(emptyFirst.Add(&empty), 0);
    EXPECT_EQ(emptyFirst.Add(&frame), 0);
    EXPECT_EQ(emptyFirst.Finish(&out), 0);
    EXPECT_EQ(none.Finish(&out), 0);
    EXPECT_EQ(none.Add(nullptr), 0);
}

}  // namespace
