// FFT core: numpy's fft2/ifft2, a plain recursive radix-2 transform written
// here as the reference of the 1e-9 bound, and the helpers around them.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/kernels/fft_core.h"
#include "support/kernel_test_util.h"

namespace {

using Array = std::vector<FftComplex>;

Array Noise(uint64_t n, uint32_t seed) {
    Array a(n);
    uint32_t s = seed * 2654435761u + 7;
    for (FftComplex& c : a) {
        s = s * 1103515245u + 12345u;
        c.re = double(s >> 8) / 16777216.0 - 0.5;
        s = s * 1103515245u + 12345u;
        c.im = double(s >> 8) / 16777216.0 - 0.5;
    }
    return a;
}

std::string Bytes(const Array& a) { return std::string(reinterpret_cast<const char*>(a.data()), a.size() * sizeof(FftComplex)); }

// max |a - b| / max |b|.
double RelativeError(const FftComplex* a, const FftComplex* b, uint64_t n) {
    double diff = 0.0, top = 0.0;
    for (uint64_t i = 0; i < n; ++i) {
        diff = std::max(diff, std::hypot(a[i].re - b[i].re, a[i].im - b[i].im));
        top = std::max(top, std::hypot(b[i].re, b[i].im));
    }
    return top > 0 ? diff / top : diff;
}

// ---- the reference: recursive decimation in time on a 3n - 2 work buffer ----

std::vector<FftComplex> RefTwiddles(uint64_t m) {
    std::vector<FftComplex> t(2 * m);
    for (uint64_t s = m; s >= 2; s /= 2)
        for (uint64_t k = 0; k < s / 2; ++k) {
            const double a = double(k) * 6.283185307179586 / double(s);
            t[m - s + k] = FftComplex{std::cos(a), -std::sin(a)};
        }
    return t;
}

void RefFft1D(FftComplex* a, uint64_t n, const FftComplex* tw) {
    if (n == 1) return;
    const uint64_t h = n / 2;
    for (uint64_t k = 0; k < h; ++k) a[n + k] = a[2 * k];
    RefFft1D(a + n, h, tw + h);
    for (uint64_t k = 0; k < h; ++k) a[n + h + k] = a[2 * k + 1];
    RefFft1D(a + n + h, h, tw + h);
    for (uint64_t k = 0; k < h; ++k) {
        const FftComplex e = a[n + k], o = a[n + h + k];
        const double c = tw[k].re, s = -tw[k].im;
        const double tr = o.re * c + o.im * s, ti = o.im * c - o.re * s;
        a[k] = FftComplex{e.re + tr, e.im + ti};
        a[k + h] = FftComplex{e.re - tr, e.im - ti};
    }
}

void RefRows(Array& a, uint64_t len, uint64_t rows, const FftComplex* tw, bool inverse) {
    Array work(3 * len);
    for (uint64_t r = 0; r < rows; ++r) {
        for (uint64_t x = 0; x < len; ++x) work[x] = FftComplex{a[r * len + x].re, inverse ? -a[r * len + x].im : a[r * len + x].im};
        RefFft1D(work.data(), len, tw);
        for (uint64_t x = 0; x < len; ++x)
            a[r * len + x] = inverse ? FftComplex{work[x].re / double(len), work[x].im / -double(len)} : work[x];
    }
}

Array RefTranspose(const Array& a, uint64_t w, uint64_t h) {
    Array t(a.size());
    for (uint64_t y = 0; y < h; ++y)
        for (uint64_t x = 0; x < w; ++x) t[h * x + y] = a[w * y + x];
    return t;
}

Array Ref2D(Array a, uint64_t w, uint64_t h, bool inverse) {
    const uint64_t m = std::max(w, h);
    const std::vector<FftComplex> tw = RefTwiddles(m);
    RefRows(a, w, h, tw.data() + (m - w), inverse);
    a = RefTranspose(a, w, h);
    RefRows(a, h, w, tw.data() + (m - h), inverse);
    return RefTranspose(a, h, w);
}

TEST(FftCore, RefusesBadSides) {
    struct Case {
        uint64_t w, h;
        int32_t expected;
    };
    const Case cases[] = {{0, 4, 0}, {4, 0, 0}, {1, 4, 0}, {4, 1, 0}, {3, 4, 0}, {4, 6, 0}, {2, 2, 1}, {8, 4, 1}, {2, 16, 1},
                          // Sides whose product (or its byte count) does not fit.
                          {uint64_t(1) << 40, uint64_t(1) << 40, 0}, {uint64_t(1) << 62, 4, 0}};
    Array a = Noise(64, 1);
    for (const Case& c : cases) {
        const Array before = a;
        const bool small = c.w * c.h <= 64 && c.w <= 64 && c.h <= 64;
        EXPECT_EQ(Fft2D(small || c.expected == 0 ? a.data() : nullptr, c.w, c.h), c.expected) << c.w << "x" << c.h;
        EXPECT_EQ(Ifft2D(small || c.expected == 0 ? a.data() : nullptr, c.w, c.h), c.expected) << c.w << "x" << c.h;
        if (c.expected == 0) {
            EXPECT_EQ(Bytes(a), Bytes(before));
        }
    }
    EXPECT_EQ(Fft2D(nullptr, 4, 4), 0);
    EXPECT_EQ(Ifft2D(nullptr, 4, 4), 0);
}

TEST(FftCore, MatchesNumpyFft2AndIfft2) {
    struct Size {
        uint64_t w, h;
    };
    const Size sizes[] = {{2, 2}, {8, 4}, {256, 256}, {1024, 512}};
    std::vector<std::string> inputs;
    std::vector<Array> forward, inverse;
    for (const Size& s : sizes) {
        Array a = Noise(s.w * s.h, uint32_t(s.w + s.h));
        inputs.push_back(Bytes(a));
        Array f = a, i = a;
        ASSERT_EQ(Fft2D(f.data(), s.w, s.h), 1);
        ASSERT_EQ(Ifft2D(i.data(), s.w, s.h), 1);
        forward.push_back(f);
        inverse.push_back(i);
    }
    std::string script = "out = b''\n";
    for (size_t k = 0; k < std::size(sizes); ++k)
        script += "a = np.fromfile(sys.argv[" + std::to_string(k + 1) + "], np.complex128).reshape(" + std::to_string(sizes[k].h) + ", " +
                  std::to_string(sizes[k].w) + ")\nout += np.fft.fft2(a).tobytes() + np.fft.ifft2(a).tobytes()\n";
    script += "open(sys.argv[-1], 'wb').write(out)\n";
    const std::string expected = ktest::RunNumpy(script, inputs);
    size_t at = 0;
    for (size_t k = 0; k < std::size(sizes); ++k) {
        const uint64_t n = sizes[k].w * sizes[k].h;
        ASSERT_GE(expected.size(), at + 2 * n * sizeof(FftComplex));
        const FftComplex* f = reinterpret_cast<const FftComplex*>(expected.data() + at);
        const FftComplex* i = f + n;
        EXPECT_LT(RelativeError(forward[k].data(), f, n), 1e-12) << sizes[k].w << "x" << sizes[k].h;
        EXPECT_LT(RelativeError(inverse[k].data(), i, n), 1e-12) << sizes[k].w << "x" << sizes[k].h;
        at += 2 * n * sizeof(FftComplex);
    }
}

TEST(FftCore, WithinBoundOfRecursiveTransform) {
    for (uint64_t n = 1; n <= 4096; n *= 2) {
        // Fft1D fed a level made by the formula, in a 3n - 2 buffer.
        const std::vector<FftComplex> tw = RefTwiddles(std::max<uint64_t>(n, 2));
        Array ours = Noise(3 * n - 2, uint32_t(n)), ref = ours;
        EXPECT_EQ(Fft1D(ours.data(), n, tw.data()), 1);
        RefFft1D(ref.data(), n, tw.data());
        EXPECT_LE(RelativeError(ours.data(), ref.data(), n), 1e-9) << n;
    }
    // Rows go four at a time and columns sixteen at a time: short groups
    // (height 2), narrow arrays (width below 16) and one-block widths.
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{2, 2}, {16, 4}, {4, 32}, {32, 2}, {2, 64}, {8, 16}, {128, 64}, {512, 512}}) {
        const Array a = Noise(w * h, uint32_t(w * 3 + h));
        for (bool inverse : {false, true}) {
            Array ours = a;
            ASSERT_EQ((inverse ? Ifft2D : Fft2D)(ours.data(), w, h), 1);
            const Array ref = Ref2D(a, w, h, inverse);
            EXPECT_LE(RelativeError(ours.data(), ref.data(), w * h), 1e-9) << w << "x" << h << (inverse ? " inverse" : "");
        }
    }
}

// The filled transform equals filling the whole array (zero rows below
// filledRows) and calling Fft2D; each filled row is asked for exactly once.
TEST(FftCore, FilledTransformMatchesFft2D) {
    struct Case {
        uint64_t w, h, filled;
        int32_t arrays;
    };
    const Case cases[] = {{64, 32, 32, 3}, {64, 32, 21, 3}, {32, 64, 5, 1}, {8, 16, 10, 2}, {2, 2, 1, 1}, {16, 8, 0, 1}, {32, 16, 99, 1}};
    for (const Case& c : cases) {
        std::vector<Array> source, ours, ref;
        for (int32_t a = 0; a < c.arrays; ++a) {
            source.push_back(Noise(c.w * c.h, uint32_t(c.w * 7 + c.filled + a)));
            ref.push_back(source.back());
            for (uint64_t i = std::min(c.filled, c.h) * c.w; i < c.w * c.h; ++i) ref.back()[i] = FftComplex{0, 0};
            ASSERT_EQ(Fft2D(ref.back().data(), c.w, c.h), 1);
            ours.push_back(Array(c.w * c.h, FftComplex{std::nan(""), std::nan("")}));  // every element must be written
        }
        struct Fill {
            std::vector<Array>* source;
            std::vector<Array>* ours;
            uint64_t w;
            std::vector<std::atomic<int>> asked;
            std::atomic<bool> badCount{false};
        } fill{&source, &ours, c.w, std::vector<std::atomic<int>>(c.h), {}};
        FftComplex* arrays[3] = {};
        for (int32_t a = 0; a < c.arrays; ++a) arrays[a] = ours[a].data();
        const auto fn = [](void* ctx, uint64_t first, uint64_t count) {
            Fill* f = static_cast<Fill*>(ctx);
            if (count == 0 || count > 4) f->badCount = true;
            for (uint64_t y = first; y < first + count; ++y) {
                ++f->asked[y];
                for (size_t a = 0; a < f->source->size(); ++a)
                    std::memcpy((*f->ours)[a].data() + y * f->w, (*f->source)[a].data() + y * f->w, f->w * sizeof(FftComplex));
            }
        };
        ASSERT_EQ(FftForwardFilled(arrays, c.arrays, c.w, c.h, c.filled, fn, &fill), 1);
        EXPECT_FALSE(fill.badCount);
        for (uint64_t y = 0; y < c.h; ++y) EXPECT_EQ(fill.asked[y], y < c.filled ? 1 : 0) << y;
        for (int32_t a = 0; a < c.arrays; ++a) EXPECT_EQ(Bytes(ours[a]), Bytes(ref[a])) << c.w << "x" << c.h << " filled " << c.filled;
    }
    FftComplex* none[1] = {nullptr};
    Array one(16);
    FftComplex* some[4] = {one.data(), one.data(), one.data(), one.data()};
    const FftFillFn nothing = [](void*, uint64_t, uint64_t) {};
    EXPECT_EQ(FftForwardFilled(none, 1, 4, 4, 4, nothing, nullptr), 0);
    EXPECT_EQ(FftForwardFilled(some, 4, 4, 4, 4, nothing, nullptr), 0);
    EXPECT_EQ(FftForwardFilled(some, 0, 4, 4, 4, nothing, nullptr), 0);
    EXPECT_EQ(FftForwardFilled(some, 1, 4, 4, 4, nullptr, nullptr), 0);
    EXPECT_EQ(FftForwardFilled(some, 1, 4, 3, 4, nothing, nullptr), 0);
}

TEST(FftCore, TwiddleTableFollowsTheFormula) {
    const uint64_t m = 64;
    const std::vector<FftComplex> ref = RefTwiddles(m);
    std::vector<FftComplex> ours(2 * m);
    FftMakeTwiddles(ours.data(), m);
    EXPECT_EQ(std::memcmp(ours.data(), ref.data(), (m - 1) * sizeof(FftComplex)), 0);
    EXPECT_EQ(ours[m - 4 + 1].re, std::cos(6.283185307179586 / 4));  // level 4, k = 1
}

TEST(FftCore, ImpulseConstantAndShift) {
    const uint64_t w = 8, h = 4;
    Array a(w * h, FftComplex{0, 0});
    a[0] = FftComplex{1, 0};
    ASSERT_EQ(Fft2D(a.data(), w, h), 1);
    for (const FftComplex& c : a) EXPECT_TRUE(c.re == 1.0 && c.im == 0.0);
    Array k(w * h, FftComplex{2.5, 0});
    ASSERT_EQ(Fft2D(k.data(), w, h), 1);
    for (uint64_t i = 0; i < w * h; ++i) EXPECT_NEAR(std::hypot(k[i].re, k[i].im), i == 0 ? 2.5 * w * h : 0.0, 1e-12) << i;
    ASSERT_EQ(FftShiftQuadrants(k.data(), w, h), 1);
    EXPECT_NEAR(k[w * (h / 2) + w / 2].re, 2.5 * w * h, 1e-12);
    EXPECT_NEAR(k[0].re, 0.0, 1e-12);
    // Twice restores; forward then inverse gives the input back in its layout.
    const Array n = Noise(w * h, 5);
    Array s = n;
    FftShiftQuadrants(s.data(), w, h);
    EXPECT_NE(Bytes(s), Bytes(n));
    FftShiftQuadrants(s.data(), w, h);
    EXPECT_EQ(Bytes(s), Bytes(n));
    ASSERT_EQ(Fft2D(s.data(), w, h), 1);
    ASSERT_EQ(Ifft2D(s.data(), w, h), 1);
    EXPECT_LT(RelativeError(s.data(), n.data(), w * h), 1e-14);
}

TEST(FftCore, TransposeInPlaceAndApart) {
    for (auto [w, h] : {std::pair<uint64_t, uint64_t>{8, 4}, {33, 70}, {1, 5}}) {
        const Array a = Noise(w * h, uint32_t(w + 10 * h));
        const Array ref = RefTranspose(a, w, h);
        Array apart(w * h), same = a;
        ASSERT_EQ(FftTranspose(a.data(), apart.data(), w, h), 1);
        ASSERT_EQ(FftTranspose(same.data(), same.data(), w, h), 1);
        EXPECT_EQ(Bytes(apart), Bytes(ref));
        EXPECT_EQ(Bytes(same), Bytes(ref));
    }
    Array one(1);
    EXPECT_EQ(FftTranspose(one.data(), one.data(), uint64_t(1) << 40, uint64_t(1) << 40), 0);
}

TEST(FftCore, PowerAndLogScale) {
    const Array a = {{3, 4}, {0, 0}, {-1, 2}};
    std::vector<double> p(3);
    ASSERT_EQ(FftPowerSpectrum(p.data(), a.data(), 3), 1);
    EXPECT_EQ(p, (std::vector<double>{25, 0, 5}));
    EXPECT_EQ(FftPowerSpectrum(nullptr, a.data(), 3), 0);
    EXPECT_EQ(FftPowerSpectrum(p.data(), nullptr, 3), 0);
    EXPECT_EQ(FftPowerSpectrum(p.data(), a.data(), 0), 0);

    std::vector<double> v = {9, 0, 0.5, -9};
    double scale = 0;
    ASSERT_EQ(FftLogScale(v.data(), v.size(), &scale), 1);
    EXPECT_DOUBLE_EQ(scale, 1.0);
    EXPECT_DOUBLE_EQ(v[0], 1.0);
    EXPECT_EQ(v[1], 0.0);
    EXPECT_DOUBLE_EQ(v[2], std::log10(1.5));
    EXPECT_DOUBLE_EQ(v[3], 1.0);
    // All zero: the factor is +infinity and every value not a number.
    std::vector<double> z(1000, 0.0);
    ASSERT_EQ(FftLogScale(z.data(), z.size(), &scale), 1);
    EXPECT_EQ(scale, std::numeric_limits<double>::infinity());
    for (double x : z) EXPECT_TRUE(std::isnan(x));
    // Many chunks: the shared maximum is the largest of all.
    std::vector<double> big(100000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = double(i % 977);
    big[76543] = -5000;
    ASSERT_EQ(FftLogScale(big.data(), big.size(), nullptr), 1);
    EXPECT_DOUBLE_EQ(big[76543], 1.0);
}

TEST(FftCore, OneThreadAndAllThreadsAgree) {
    const Array a = Noise(256 * 64, 3);
    Array one = a, all = a;
    ktest::WithOneAndAllThreads([&] { Fft2D(one.data(), 256, 64), Ifft2D(one.data(), 64, 256); },
                                [&] { Fft2D(all.data(), 256, 64), Ifft2D(all.data(), 64, 256); });
    EXPECT_EQ(Bytes(one), Bytes(all));
}

}  // namespace
