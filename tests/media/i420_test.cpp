// RGB ↔ I420: bit-exact against numpy for many geometries (vector tails,
// odd sizes, stretched, cut and black rows), with scalar and vector rows and
// with one and all pool threads; every colour through the vector rows.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/pool.h"
#include "media/i420.h"
#include "support/testsupport.h"

namespace {

std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

// Runs f with scalar and vector rows, each with one and all pool threads,
// and expects the same result every time; returns it.
template <class F>
std::string EveryWay(F f) {
    const uint64_t p = PoolGetProcessorCount();
    std::string first;
    for (int vector = 0; vector < 2; ++vector) {
        i420_set_vector_for_testing(vector);
        for (uint64_t threads : {uint64_t{1}, p}) {
            EXPECT_EQ(PoolSetThreadCount(threads), 1);
            const std::string r = f();
            if (first.empty()) first = r;
            EXPECT_TRUE(r == first) << "vector " << vector << ", threads " << threads;
        }
    }
    i420_set_vector_for_testing(1);
    return first;
}

class I420 : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PoolStart(); }
    static void TearDownTestSuite() { PoolStop(); }
};

std::string RunNumpy(const std::string& script, const std::string& input, const std::string& cases) {
    kvtest::TempDir dir("i420");
    const std::string in = dir.file("in.raw"), out = dir.file("out.raw");
    EXPECT_TRUE(kvtest::WriteFileBytes(in, input));
    std::string log;
    EXPECT_EQ(kvtest::RunPython(script, {in, out, cases}, &log), 0) << log;
    return kvtest::ReadFileBytes(out);
}

TEST_F(I420, RgbToI420MatchesNumpy) {
    const std::pair<uint64_t, uint64_t> sizes[] = {{1, 1},  {2, 2},   {3, 5},   {31, 3},   {32, 2},
                                                   {33, 9}, {64, 48}, {95, 7},  {130, 66}, {1920, 4}};
    std::string input, cases, ours;
    uint32_t seed = 1;
    for (const auto& [w, h] : sizes) {
        std::string rgb = RandomBytes(w * h * 3, seed++);
        // Pure white and black pixels at the start.
        for (uint64_t i = 0; i < std::min<uint64_t>(w * h, 8) * 3; ++i) rgb[i] = static_cast<char>(i < 12 ? 255 : 0);
        input += rgb;
        cases += std::to_string(w) + "," + std::to_string(h) + ";";
        ours += EveryWay([&, w = w, h = h] {
            std::string out(w * h + 2 * (w / 2) * (h / 2), '\x55');
            uint8_t* y = reinterpret_cast<uint8_t*>(out.data());
            rgb_to_i420(w, h, reinterpret_cast<const uint8_t*>(rgb.data()), y, y + w * h,
                        y + w * h + (w / 2) * (h / 2));
            return out;
        });
    }
    const char* script = R"(
import sys
import numpy as np
data = np.fromfile(sys.argv[1], dtype=np.uint8)
out, at = [], 0
for case in sys.argv[3].split(';')[:-1]:
    w, h = map(int, case.split(','))
    rgb = data[at:at + w * h * 3].reshape(h, w, 3).astype(np.int64)
    at += w * h * 3
    r, g, b = rgb[..., 0], rgb[..., 1], rgb[..., 2]
    y = (183 * r + 614 * g + 62 * b + 16000) // 1000
    def blocks(n):
        q = (n // 1000)[:h // 2 * 2, :w // 2 * 2]
        return (q[0::2, 0::2] + q[0::2, 1::2] + q[1::2, 0::2] + q[1::2, 1::2]) >> 2
    u = blocks(439 * b - 339 * g - 101 * r + 128000)
    v = blocks(439 * r - 399 * g - 40 * b + 128000)
    out += [a.astype(np.uint8).tobytes() for a in (y, u, v)]
open(sys.argv[2], 'wb').write(b''.join(out))
)";
    const std::string expected = RunNumpy(script, input, cases);
    ASSERT_EQ(expected.size(), ours.size());
    EXPECT_TRUE(ours == expected);
}

TEST_F(I420, WhiteAndBlackHaveTheirLimitedRangeValues) {
    const uint8_t white[12] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
    const uint8_t black[12] = {};
    uint8_t y[4], u, v;
    rgb_to_i420(2, 2, white, y, &u, &v);
    EXPECT_EQ(y[0], 235);
    EXPECT_EQ(u, 127);
    EXPECT_EQ(v, 128);
    rgb_to_i420(2, 2, black, y, &u, &v);
    EXPECT_EQ(y[3], 16);
    EXPECT_EQ(u, 128);
    EXPECT_EQ(v, 128);
}

// One conversion case: output w × h from a picture p × ph with strides.
struct RowCase {
    uint64_t w, h, p, ph, s, uvs;
};

TEST_F(I420, I420ToRgbRowsMatchesNumpy) {
    const RowCase cases[] = {
        {1, 1, 1, 1, 1, 1},          {2, 2, 2, 2, 2, 1},          {7, 5, 7, 5, 8, 4},
        {16, 2, 16, 2, 16, 8},       {33, 3, 33, 3, 48, 24},      {64, 48, 64, 48, 64, 32},
        {100, 9, 100, 9, 128, 64},   {1920, 3, 1920, 3, 1920, 960},
        {48, 8, 64, 8, 64, 32},      // cut to the output width
        {64, 12, 64, 8, 64, 32},     // rows past the picture are black
        {80, 6, 64, 6, 64, 32},      // stretched
        {853, 4, 720, 4, 736, 368},  // stretched, as a wide-pixel movie
        {9, 3, 5, 3, 5, 3},          // stretched from an odd width, last samples clamped
        {64, 4, 64, 4, 40, 20},      // picture wider than its stride: black beyond
        {30, 4, 64, 4, 40, 20},      // ... cut inside the stride
    };
    std::string input, spec, ours;
    uint32_t seed = 100;
    for (const RowCase& c : cases) {
        const uint64_t chroma_rows = (c.ph + 1) / 2;
        const std::string y = RandomBytes(c.s * c.ph, seed++);
        const std::string u = RandomBytes(c.uvs * chroma_rows, seed++);
        const std::string v = RandomBytes(c.uvs * chroma_rows, seed++);
        input += y + u + v;
        spec += std::to_string(c.w) + "," + std::to_string(c.h) + "," + std::to_string(c.p) + "," +
                std::to_string(c.ph) + "," + std::to_string(c.s) + "," + std::to_string(c.uvs) + ";";
        ours += EveryWay([&] {
            std::string out(c.w * c.h * 3, '\x55');
            auto bytes = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
            i420_to_rgb_rows(c.w, c.h, c.p, c.ph, bytes(y), bytes(u), bytes(v),
                             reinterpret_cast<uint8_t*>(out.data()), c.s, c.uvs);
            return out;
        });
    }
    const char* script = R"(
import sys
import numpy as np
data = np.fromfile(sys.argv[1], dtype=np.uint8)
def colour(n):
    q = int(n / 1000)  # toward zero
    return min(max(q, 0), 255)
def rgb(y, u, v):
    y, u, v = y - 16, u - 128, v - 128
    return [colour(1164 * y + 1793 * v), colour(1164 * y - 213 * u - 533 * v), colour(1164 * y + 2112 * u)]
out, at = bytearray(), 0
for case in sys.argv[3].split(';')[:-1]:
    w, h, p, ph, s, uvs = map(int, case.split(','))
    cr = (ph + 1) // 2
    Y = data[at:at + s * ph].reshape(ph, s).astype(int); at += s * ph
    U = data[at:at + uvs * cr].reshape(cr, uvs).astype(int); at += uvs * cr
    V = data[at:at + uvs * cr].reshape(cr, uvs).astype(int); at += uvs * cr
    for r in range(h):
        row = [0] * (3 * w)
        if r < ph:
            yr, ur, vr = Y[r], U[r // 2], V[r // 2]
            if w > p and p <= s:
                for x in range(w):
                    f = x * p / w
                    i = int(f)
                    t = f - i
                    i1, c, c1 = min(i + 1, p - 1), i // 2, min(i // 2 + 1, (p + 1) // 2 - 1)
                    mix = lambda a, b: int(float(a) * (1.0 - t) + float(b) * t)
                    row[3 * x:3 * x + 3] = rgb(mix(yr[i], yr[i1]), mix(ur[c], ur[c1]), mix(vr[c], vr[c1]))
            else:
                for x in range(min(w, p, s)):
                    row[3 * x:3 * x + 3] = rgb(yr[x], ur[x // 2], vr[x // 2])
        out += bytes(row)
open(sys.argv[2], 'wb').write(bytes(out))
)";
    const std::string expected = RunNumpy(script, input, spec);
    ASSERT_EQ(expected.size(), ours.size());
    EXPECT_TRUE(ours == expected);
}

// The formulas restated for single values, to check every input of the
// vector rows.
uint8_t Colour(int32_t n) {
    const int32_t q = n / 1000;
    return static_cast<uint8_t>(q < 0 ? 0 : q > 255 ? 255 : q);
}

TEST_F(I420, EveryYuvTripleConvertsExactly) {
    // 256 × 256 blocks hold every (U, V); image k gives them Y 4k .. 4k + 3.
    std::vector<uint8_t> y(512 * 512), u(256 * 256), v(256 * 256), out(512 * 512 * 3);
    for (uint32_t i = 0; i < 256 * 256; ++i) {
        u[i] = static_cast<uint8_t>(i >> 8);
        v[i] = static_cast<uint8_t>(i);
    }
    uint64_t wrong = 0;
    for (uint32_t k = 0; k < 64; ++k) {
        for (uint32_t r = 0; r < 512; ++r)
            for (uint32_t x = 0; x < 512; ++x) y[r * 512 + x] = static_cast<uint8_t>(4 * k + 2 * (r & 1) + (x & 1));
        i420_to_rgb_rows(512, 512, 512, 512, y.data(), u.data(), v.data(), out.data(), 512, 256);
        for (uint32_t i = 0; i < 512 * 512; ++i) {
            const int32_t yy = y[i] - 16, uu = u[(i / 1024) * 256 + (i % 512) / 2] - 128,
                          vv = v[(i / 1024) * 256 + (i % 512) / 2] - 128;
            wrong += out[3 * i] != Colour(1164 * yy + 1793 * vv);
            wrong += out[3 * i + 1] != Colour(1164 * yy - 213 * uu - 533 * vv);
            wrong += out[3 * i + 2] != Colour(1164 * yy + 2112 * uu);
        }
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(I420, EveryColourConvertsExactly) {
    // Each 2 × 2 block one colour: red by image, green by block row, blue by column.
    std::vector<uint8_t> rgb(512 * 512 * 3), y(512 * 512), u(256 * 256), v(256 * 256);
    uint64_t wrong = 0;
    for (uint32_t red = 0; red < 256; ++red) {
        for (uint32_t i = 0; i < 512 * 512; ++i) {
            rgb[3 * i] = static_cast<uint8_t>(red);
            rgb[3 * i + 1] = static_cast<uint8_t>(i / 1024);
            rgb[3 * i + 2] = static_cast<uint8_t>((i % 512) / 2);
        }
        rgb_to_i420(512, 512, rgb.data(), y.data(), u.data(), v.data());
        for (uint32_t g = 0; g < 256; ++g) {
            for (uint32_t b = 0; b < 256; ++b) {
                const int32_t r = static_cast<int32_t>(red), gg = static_cast<int32_t>(g), bb = static_cast<int32_t>(b);
                wrong += y[(2 * g) * 512 + 2 * b] != (183 * r + 614 * gg + 62 * bb + 16000) / 1000;
                wrong += u[g * 256 + b] != (439 * bb - 339 * gg - 101 * r + 128000) / 1000;
                wrong += v[g * 256 + b] != (439 * r - 399 * gg - 40 * bb + 128000) / 1000;
            }
        }
    }
    EXPECT_EQ(wrong, 0u);
}

}  // namespace
