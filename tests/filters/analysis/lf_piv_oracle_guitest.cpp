// "PIV" against the truth of numpy particle sequences (Gaussian particles
// of 2-3 pixels, moved per frame by a shift, a solid rotation or a shear;
// 8 and 16 bits), run by EXEC through the test host, and against a numpy
// FFT cross-correlation of the same windows; the same vectors on one
// thread and on all of them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "filters/analysis/lf_piv.h"
#include "filters/processing/support/fake_host.h"
#include "image/pool.h"
#include "support/testsupport.h"
#include "toolkit/support/ui_input.h"

namespace {

constexpr int32_t kW = 256, kH = 224, kFrames = 3;

// Writes frames f0.raw .. into the folder; motion kinds: shift dx dy,
// rotate omega (radians a frame about the centre), shear g (x moves by
// g (y - centre) a frame).
const char* kMakeFrames =
    "import sys, numpy as np\n"
    "d, w, h, frames, bits, kind, a, b, seed = sys.argv[1:]\n"
    "w, h, frames, bits, seed = map(int, (w, h, frames, bits, seed)); a, b = float(a), float(b)\n"
    "rng = np.random.default_rng(seed)\n"
    "m = 24; n = int(0.035 * (w + 2 * m) * (h + 2 * m))\n"
    "px = rng.uniform(-m, w + m, n); py = rng.uniform(-m, h + m, n)\n"
    "sig = rng.uniform(2.0, 3.0, n) / 2.5; amp = rng.uniform(0.6, 1.0, n)\n"
    "cx, cy = (w - 1) / 2, (h - 1) / 2\n"
    "yy, xx = np.mgrid[0:h, 0:w]\n"
    "for k in range(frames):\n"
    "    if kind == 'shift': X, Y = px + k * a, py + k * b\n"
    "    elif kind == 'rotate':\n"
    "        c, s = np.cos(k * a), np.sin(k * a)\n"
    "        X = cx + c * (px - cx) - s * (py - cy); Y = cy + s * (px - cx) + c * (py - cy)\n"
    "    else: X, Y = px + k * a * (py - cy), py.copy()\n"
    "    img = np.zeros((h, w))\n"
    "    for x0, y0, sg, am in zip(X, Y, sig, amp):\n"
    "        i0, i1 = max(int(y0) - 5, 0), min(int(y0) + 6, h); j0, j1 = max(int(x0) - 5, 0), min(int(x0) + 6, w)\n"
    "        if i0 >= i1 or j0 >= j1: continue\n"
    "        img[i0:i1, j0:j1] += am * np.exp(-((xx[i0:i1, j0:j1] - x0) ** 2 + (yy[i0:i1, j0:j1] - y0) ** 2) / (2 * sg * sg))\n"
    "    img = np.clip(img, 0, 1)\n"
    "    if bits == 8: img = (img * 230).astype(np.uint8)\n"
    "    else: img = (img * 60000).astype('<u2')\n"
    "    img.tofile(f'{d}/f{k}.raw')\n";

// For every cell of frame 1: truth and the FFT cross-correlation of the
// pattern window of frame 1 with the same window of frame 0 (means
// removed, three-point Gaussian peak). One line "tx ty fx fy" per cell.
const char* kOracle =
    "import sys, numpy as np\n"
    "d, w, h, bits, kind, a, b, x0, y0, s, C, R = sys.argv[1:]\n"
    "w, h, bits, x0, y0, s, C, R = map(int, (w, h, bits, x0, y0, s, C, R)); a, b = float(a), float(b)\n"
    "t = np.uint8 if bits == 8 else '<u2'\n"
    "f0 = np.fromfile(f'{d}/f0.raw', t).reshape(h, w).astype(float)\n"
    "f1 = np.fromfile(f'{d}/f1.raw', t).reshape(h, w).astype(float)\n"
    "cx, cy = (w - 1) / 2, (h - 1) / 2\n"
    "def peak(r, i, n):\n"
    "    l, c, u = r[(i - 1) % n], r[i], r[(i + 1) % n]\n"
    "    if min(l, c, u) <= 0: return 0.0\n"
    "    den = 2 * np.log(l) - 4 * np.log(c) + 2 * np.log(u)\n"
    "    return 0.0 if den == 0 else (np.log(l) - np.log(u)) / den\n"
    "for r in range(R):\n"
    "    for c in range(C):\n"
    "        px, py = x0 + c * s + s / 2 - 0.5, y0 + r * s + s / 2 - 0.5\n"
    "        if kind == 'shift': tx, ty = a, b\n"
    "        elif kind == 'rotate':\n"
    "            co, si = np.cos(-a), np.sin(-a)\n"
    "            qx = cx + co * (px - cx) - si * (py - cy); qy = cy + si * (px - cx) + co * (py - cy)\n"
    "            tx, ty = px - qx, py - qy\n"
    "        else: tx, ty = a * (py - cy), 0.0\n"
    "        X0, Y0 = x0 + c * s - s // 2, y0 + r * s - s // 2\n"
    "        A = f0[Y0:Y0 + 2 * s, X0:X0 + 2 * s]; B = f1[Y0:Y0 + 2 * s, X0:X0 + 2 * s]\n"
    "        A = A - A.mean(); B = B - B.mean()\n"
    "        corr = np.real(np.fft.ifft2(np.conj(np.fft.fft2(A)) * np.fft.fft2(B)))\n"
    "        n = 2 * s; iy, ix = np.unravel_index(np.argmax(corr), corr.shape)\n"
    "        fx = (ix if ix < n // 2 else ix - n) + peak(corr[iy, :], ix, n)\n"
    "        fy = (iy if iy < n // 2 else iy - n) + peak(corr[:, ix], iy, n)\n"
    "        print(tx, ty, fx, fy)\n";

struct Case {
    const char* kind;
    double a, b;
    int bits;
};

class PivOracleTest : public testing::TestWithParam<Case> {
protected:
    void TearDown() override { kvtest::Pump(); }
};

// Runs EXEC over the frames of the folder and returns frame 1's vectors.
std::vector<FlowVector> RunPiv(const std::string& dir, int bits, CFlowData* geometry) {
    FakeHost host;
    host.SetLanguage(L"en");
    auto* piv = static_cast<CLfPiv*>(host.Add(CreateLfPiv()));
    piv->SelectCellSize(1);  // 16, patterns of 32
    EXPECT_TRUE(host.OpenSequence(kFrames, [dir, bits](uint64_t i, CImgBuff* out) {
        const std::string bytes = kvtest::ReadFileBytes(dir + "/f" + std::to_string(i) + ".raw");
        if (!out->buffer->Create(kW, kH, bits == 8 ? kImgGray8 : kImgGray16)) return false;
        if (bytes.size() != static_cast<size_t>(kW) * kH * (bits / 8)) return false;
        std::memcpy(out->buffer->pixels, bytes.data(), bytes.size());
        return true;
    }));
    piv->Execute();
    std::vector<FlowVector> out;
    for (int r = 0; r < piv->flow.rows; ++r)
        for (int c = 0; c < piv->flow.columns; ++c) out.push_back(*piv->flow.VectorAt(c, r, 1));
    geometry->Setup(piv->flow.originX, piv->flow.originY, piv->flow.step, piv->flow.columns, piv->flow.rows, 1);
    return out;
}

TEST_P(PivOracleTest, VectorsAgainstTruthAndFftCorrelation) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    const Case c = GetParam();
    kvtest::TempDir dir("piv_oracle");
    std::string out;
    ASSERT_EQ(kvtest::RunPython(kMakeFrames,
                                {dir.path(), std::to_string(kW), std::to_string(kH), std::to_string(kFrames),
                                 std::to_string(c.bits), c.kind, std::to_string(c.a), std::to_string(c.b), "11"},
                                &out),
              0);
    CFlowData g;
    const uint64_t threads = PoolGetProcessorCount();
    PoolSetThreadCount(1);
    const std::vector<FlowVector> one = RunPiv(dir.path(), c.bits, &g);
    PoolSetThreadCount(threads);
    const std::vector<FlowVector> all = RunPiv(dir.path(), c.bits, &g);
    ASSERT_EQ(one.size(), all.size());
    for (size_t k = 0; k < one.size(); ++k) {
        EXPECT_EQ(one[k].dx, all[k].dx) << k;
        EXPECT_EQ(one[k].dy, all[k].dy) << k;
    }
    ASSERT_EQ(kvtest::RunPython(kOracle,
                                {dir.path(), std::to_string(kW), std::to_string(kH), std::to_string(c.bits), c.kind,
                                 std::to_string(c.a), std::to_string(c.b), std::to_string(g.originX),
                                 std::to_string(g.originY), std::to_string(g.step), std::to_string(g.columns),
                                 std::to_string(g.rows)},
                                &out),
              0);
    std::istringstream lines(out);
    size_t n = 0, nearTruth = 0, nearFft = 0, outliers = 0, exact = 0;
    double biasX = 0, biasY = 0, sq = 0;
    double tx, ty, fx, fy;
    while (lines >> tx >> ty >> fx >> fy) {
        ASSERT_LT(n, all.size());
        const FlowVector v = all[n++];
        const double ex = v.dx - tx, ey = v.dy - ty;
        biasX += ex;
        biasY += ey;
        sq += ex * ex + ey * ey;
        nearTruth += std::hypot(ex, ey) <= 0.5;
        nearFft += std::hypot(v.dx - fx, v.dy - fy) <= 0.5;
        outliers += std::hypot(ex, ey) > 1.0;
        exact += v.dx == tx && v.dy == ty;
    }
    ASSERT_EQ(n, all.size());
    const double N = static_cast<double>(n);
    std::printf("[ PIV ] %s %.3f %.3f %d-bit: %zu cells, bias (%.3f, %.3f), RMS %.3f, outliers > 1 px %.1f%%, "
                "within 0.5 px of truth %.1f%%, of FFT %.1f%%\n",
                c.kind, c.a, c.b, c.bits, n, biasX / N, biasY / N, std::sqrt(sq / N), 100.0 * outliers / N,
                100.0 * nearTruth / N, 100.0 * nearFft / N);
    if (std::strcmp(c.kind, "shift") == 0 && c.a == std::floor(c.a) && c.b == std::floor(c.b)) {
        EXPECT_EQ(exact, n);  // an integer shift is found exactly in every cell
    }
    EXPECT_GE(nearTruth, 0.95 * N);
    EXPECT_GE(nearFft, 0.95 * N);
}

INSTANTIATE_TEST_SUITE_P(Motions, PivOracleTest,
                         testing::Values(Case{"shift", 3, -2, 8}, Case{"shift", 3, -2, 16},
                                         Case{"shift", 1.4, 0.7, 8}, Case{"shift", -2.25, 1.6, 16},
                                         Case{"rotate", 0.012, 0, 8}, Case{"shear", 0.03, 0, 8},
                                         Case{"shear", 0.045, 0, 16}),
                         [](const testing::TestParamInfo<Case>& info) {
                             std::string name = std::string(info.param.kind) + std::to_string(info.index) + "_" +
                                                std::to_string(info.param.bits);
                             return name;
                         });

}  // namespace
