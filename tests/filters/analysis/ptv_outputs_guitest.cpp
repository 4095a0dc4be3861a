// The PTV filter's outputs in the test host: the vector field against numpy
// means per cell, both table views through Python's csv reader, and track
// files read by Python's struct, reloaded, read by CP2dData, and loaded
// from hostile fixtures (trusted sizes, bad calibrations, cut units).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "filters/analysis/lf_ptv.h"
#include "filters/analysis/overlay_pen.h"
#include "filters/analysis/p2d_data.h"
#include "filters/analysis/support/picture_screen.h"
#include "filters/processing/support/fake_host.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "filters/analysis/support/table_fit.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

class PtvOutputsTest : public testing::Test {
protected:
    void SetUp() override {
        host.SetLanguage(L"en");
        ptv = static_cast<CLfPtv*>(host.Add(CreateLfPtv()));
        ASSERT_NE(ptv, nullptr);
    }
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
    CLfPtv* ptv = nullptr;
};

// A store of `frames` frames: `ids` particles wandering over w x h, some
// missing in some frames, some standing still, in shuffled record order.
void RandomStore(CParticleData* d, int32_t frames, int32_t ids, double w, double h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    ASSERT_EQ(d->SetFrames(frames), 1);
    std::vector<double> x(static_cast<size_t>(ids)), y(static_cast<size_t>(ids));
    for (int32_t i = 0; i < ids; ++i) {
        x[i] = u(rng) * w;
        y[i] = u(rng) * h;
    }
    for (int32_t f = 0; f < frames; ++f) {
        std::vector<int32_t> order(static_cast<size_t>(ids));
        for (int32_t i = 0; i < ids; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        for (int32_t i : order) {
            if (u(rng) < 0.1) continue;  // absent in this frame
            ASSERT_GE(d->AddParticle(f, Particle{i, 1, x[i], y[i]}), 0);
        }
        for (int32_t i = 0; i < ids; ++i) {
            if (i % 7 == 0) continue;  // at rest
            x[i] = std::clamp(x[i] + (u(rng) - 0.5) * 12, 0.0, w - 0.5);
            y[i] = std::clamp(y[i] + (u(rng) - 0.5) * 12, 0.0, h - 0.5);
        }
    }
}

std::string StoreText(const CParticleData& d) {
    std::string out;
    char line[128];
    for (int32_t f = 0; f < d.frameCount; ++f)
        for (int32_t i = 0; i < d.frames[f].count; ++i) {
            const Particle& p = d.frames[f].records[i];
            std::snprintf(line, sizeof line, "%d %d %.17g %.17g\n", f, p.id, p.x, p.y);
            out += line;
        }
    return out;
}

const char* kCellMeans = R"PY(
import sys, numpy as np
x0, y0, step, cols, rows, frames = (int(a) for a in sys.argv[2:8])
pts = {}
for line in open(sys.argv[1]):
    f, i, x, y = line.split()
    pts[(int(f), int(i))] = (float(x), float(y))
for f in range(frames):
    sx = np.zeros((rows, cols)); sy = np.zeros((rows, cols)); n = np.zeros((rows, cols))
    if f > 0:
        for (g, i), (x, y) in pts.items():
            if g != f or (f - 1, i) not in pts: continue
            px, py = pts[(f - 1, i)]
            if px == x and py == y: continue
            c = (int(x) - x0); r = (int(y) - y0)
            if c < 0 or r < 0 or c // step >= cols or r // step >= rows: continue
            sx[r // step, c // step] += x - px; sy[r // step, c // step] += y - py; n[r // step, c // step] += 1
    with np.errstate(invalid='ignore', divide='ignore'):
        mx = np.where(n > 0, sx / np.maximum(n, 1), 0.0); my = np.where(n > 0, sy / np.maximum(n, 1), 0.0)
    for r in range(rows):
        print(' '.join('%.17g %.17g' % (mx[r, c], my[r, c]) for c in range(cols)))
)PY";

TEST_F(PtvOutputsTest, VectorFieldMatchesNumpyMeansPerCell) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3 with numpy";
    host.SetSourceFormat(200, 160, 1, 6);
    ptv->SelectCellSize(1);
    ASSERT_EQ(ptv->flow.step, 16);
    EXPECT_EQ(ptv->flow.columns, 10);
    EXPECT_EQ(ptv->flow.rows, 8);
    EXPECT_EQ(ptv->flow.originX, 20);
    EXPECT_EQ(ptv->flow.originY, 16);
    kvtest::TempDir dir("ptv_vectors");
    // The store may hold more frames than the movie (a loaded file): the
    // field covers the frames below both counts.
    for (int32_t storeFrames : {6, 9, 4}) {
        SCOPED_TRACE(storeFrames);
        ptv->store.Clear();
        RandomStore(&ptv->store, storeFrames, 300, 200, 160, 5 + storeFrames);
        // Frame 2: nothing moves.
        for (int32_t i = 0; i < ptv->store.frames[2].count; ++i) {
            Particle& p = ptv->store.frames[2].records[i];
            Particle before{};
            if (ptv->store.GetParticle(1, p.id, &before)) {
                p.x = before.x;
                p.y = before.y;
            }
        }
        ptv->store.Touch();
        kvtest::ModalAnswers answers;
        ptv->ComputeVectors();
        EXPECT_TRUE(answers.messages.empty());
        const std::string path = dir.file("store.txt");
        ASSERT_TRUE(kvtest::WriteFileBytes(path, StoreText(ptv->store)));
        const int32_t frames = std::min(storeFrames, 6);
        std::string out;
        ASSERT_EQ(kvtest::RunPython(kCellMeans, {path, "20", "16", "16", "10", "8", std::to_string(frames)}, &out), 0);
        std::istringstream in(out);
        int32_t nonZero = 0;
        for (int32_t f = 0; f < frames; ++f)
            for (int32_t r = 0; r < 8; ++r)
                for (int32_t c = 0; c < 10; ++c) {
                    double mx = 0, my = 0;
                    ASSERT_TRUE(in >> mx >> my);
                    const FlowVector* v = ptv->flow.VectorAt(c, r, f);
                    ASSERT_NE(v, nullptr);
                    EXPECT_NEAR(v->dx, mx, 1e-9) << f << " " << c << "," << r;
                    EXPECT_NEAR(v->dy, my, 1e-9) << f << " " << c << "," << r;
                    if (f == 0 || f == 2) {
                        EXPECT_EQ(v->dx, 0.0);
                        EXPECT_EQ(v->dy, 0.0);
                    }
                    nonZero += v->dx != 0.0;
                }
        EXPECT_GT(nonZero, 100);
        for (int32_t f = 1; f < frames; ++f) EXPECT_EQ(ptv->flow.frameFlags[f], 1u);
        for (int32_t f = frames; f < 6; ++f)
            for (int32_t r = 0; r < 8; ++r)
                for (int32_t c = 0; c < 10; ++c) EXPECT_EQ(ptv->flow.VectorAt(c, r, f)->dx, 0.0);
    }
    // An image that cannot hold 3 x 3 cells: "failed".
    host.SetSourceFormat(40, 40, 1, 6);
    kvtest::ModalAnswers answers;
    ptv->ComputeVectors();
    EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"failed"}));
}

const char* kReadCsv = R"PY(
import csv, sys
rows = list(csv.reader(open(sys.argv[1], encoding='utf-8', newline='')))
print(sorted(set(len(r) for r in rows)), len(rows))
for r in rows:
    print('|'.join(r))
)PY";

std::string SaveCsv(CLfPtv* ptv, const kvtest::TempDir& dir, const char* name) {
    const std::string path = dir.file(name);
    kvtest::ModalAnswers answers({PlatUtf8ToWide(path.c_str())});
    ptv->table.SaveCsvCommand();
    EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"saved"}));
    std::string out;
    EXPECT_EQ(kvtest::RunPython(kReadCsv, {path}, &out), 0);
    return out;
}

TEST_F(PtvOutputsTest, TrackAndVectorViewsThroughPythonCsv) {
    host.SetSourceFormat(100, 80, 1, 3);
    ptv->ShowTable();
    ASSERT_NE(ptv->table.window, 0u);
    EXPECT_STREQ(ptv->table.title, L"TRACK DATA");
    EXPECT_EQ(ptv->table.grid.columns, 0u);  // no tracks: an empty grid
    // Id 0 in frames 0-2, id 1 in frame 1 and 2; scale 2, Y up, unit "mm".
    ASSERT_EQ(ptv->store.SetFrames(3), 1);
    ptv->store.AddParticle(0, Particle{0, 1, 10.0, 20.0});
    ptv->store.AddParticle(1, Particle{0, 1, 13.0, 24.0});
    ptv->store.AddParticle(1, Particle{1, 1, 50.25, 5.0});
    ptv->store.AddParticle(2, Particle{1, 1, 50.25, 6.0});
    ptv->store.AddParticle(2, Particle{0, 1, 16.0, 28.0});
    host.SetCalibration(2.0, -1, L"mm");
    CImgBuff img;
    img.buffer->Create(100, 80, kImgGray8);
    host.RequestRun(&host.result, &img, 0, 0);  // the filter step takes the calibration
    ptv->SizeTable();
    EXPECT_EQ(ptv->table.grid.columns, 5u);
    EXPECT_EQ(ptv->table.grid.rows, 5u);
    // Drawn: every column fits its widest text.
    ptv->table.CFgUICtrl::Redraw();
    EXPECT_GT(kvtest::ExpectEveryTextFits(ptv->table.grid), 15);
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3";
    kvtest::TempDir dir("ptv_csv");
    // y up: (80 - 1 - y) x 2.
    EXPECT_EQ(SaveCsv(ptv, dir, "tracks.csv"),
              "[5] 5\n"
              "mm|1||2|\n"
              "|X|Y|X|Y\n"
              "1|20.0|118.0||\n"
              "2|26.0|110.0|100.5|148.0\n"
              "3|32.0|102.0|100.5|146.0\n");
    // The vector view on the "ptv" tab, no frame time: per frame.
    host.SetSourceFormat(100, 100, 1, 3);  // a new image empties the store
    ASSERT_EQ(ptv->store.SetFrames(3), 1);
    ptv->store.AddParticle(0, Particle{0, 1, 40.0, 40.0});
    ptv->store.AddParticle(1, Particle{0, 1, 43.0, 36.0});
    ptv->store.AddParticle(2, Particle{0, 1, 43.0, 36.0});
    ptv->SelectTab(CLfPtv::kTabPtv);
    ptv->SelectCellSize(2);  // 32: one cell
    {
        kvtest::ModalAnswers answers;
        ptv->ComputeVectors();
        EXPECT_TRUE(answers.messages.empty());
    }
    ASSERT_EQ(ptv->flow.columns * ptv->flow.rows, 1);
    ptv->ShowTable();
    EXPECT_EQ(ptv->table.grid.columns, 3u);
    ptv->table.CFgUICtrl::Redraw();
    EXPECT_GT(kvtest::ExpectEveryTextFits(ptv->table.grid), 10);
    // |(3, -4)| x 2 = 10 per frame; direction atan2(4, 3) with Y up.
    EXPECT_EQ(SaveCsv(ptv, dir, "vectors.csv"),
              "[3] 5\n"
              "mm/frame|1,1|\n"
              "rad|speed|direction\n"
              "1|0.0|0.00\n"
              "2|10.0|0.93\n"
              "3|0.0|0.00\n");
    host.frameTime = 40;
    int32_t flags = 0;
    EXPECT_STREQ(ptv->CellText(0, 0, &flags), L"mm/s");
    EXPECT_STREQ(ptv->CellText(1, 3, &flags), L"250.0");
    flags = 0;
    EXPECT_STREQ(ptv->CellText(0, 4, &flags), L"3");
    EXPECT_EQ(flags, 1);
    host.SetLanguage(L"jp");
    EXPECT_STREQ(ptv->CellText(1, 1, &flags), L"速度");
}

const char* kReadTrackFile = R"PY(
import struct, sys
d = open(sys.argv[1], 'rb').read()
magic, mark, ver, cols, rows = struct.unpack('<4s2sHII', d[:16])
scale, ydir = struct.unpack('<di', d[16:28])
unit = d[28:40]
print(len(d), magic, mark, ver, cols, rows, scale, ydir, unit.split(b'\0')[0].decode('utf-8'), unit[unit.index(b'\0'):] == bytes(12 - unit.index(b'\0')))
for r in range(rows):
    print(' '.join('%g,%g' % struct.unpack('<dd', d[40 + 16 * (r * cols + c):56 + 16 * (r * cols + c)]) for c in range(cols)))
)PY";

TEST_F(PtvOutputsTest, TrackFilesSavedReadByStructReloadedAndReadByTheTable) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3";
    kvtest::TempDir dir("ptv_p2d");
    host.SetSourceFormat(100, 80, 1, 4);
    // No tracks: a 40-byte file with 0 columns and every frame as a row.
    ASSERT_EQ(ptv->store.SetFrames(4), 1);
    const std::string empty = dir.file("empty.p2d");
    {
        kvtest::ModalAnswers answers;
        EXPECT_EQ(ptv->SaveTrackFileTo(PlatUtf8ToWide(empty.c_str()).c_str()), 1);
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"saved"}));
    }
    std::string out;
    ASSERT_EQ(kvtest::RunPython(kReadTrackFile, {empty}, &out), 0);
    EXPECT_EQ(out, "40 b'P2D\\x00' b'LH' 1 0 4 1.0 1  True\n\n\n\n\n");
    // Tracks: ids 0-2 over 4 frames; id 1 is not valid in frame 2; the last
    // row is empty; the unit of 6 three-byte characters is cut at 3.
    ASSERT_EQ(ptv->store.SetFrames(4), 1);
    ptv->store.AddParticle(0, Particle{0, 1, 1.5, 2.5});
    ptv->store.AddParticle(0, Particle{2, 1, 30.0, 40.0});
    ptv->store.AddParticle(1, Particle{1, 1, 5.0, 6.0});
    ptv->store.AddParticle(1, Particle{0, 1, 2.0, 3.0});
    ptv->store.AddParticle(2, Particle{1, 0, 7.0, 8.0});
    host.SetCalibration(0.25, -1, L"ミリメートル");
    CImgBuff img;
    img.buffer->Create(100, 80, kImgGray8);
    host.RequestRun(&host.result, &img, 0, 0);
    const std::string full = dir.file("full.p2d");
    {
        kvtest::ModalAnswers answers;
        EXPECT_EQ(ptv->SaveTrackFileTo(PlatUtf8ToWide(full.c_str()).c_str()), 1);
    }
    ASSERT_EQ(kvtest::RunPython(kReadTrackFile, {full}, &out), 0);
    EXPECT_EQ(out,
              "232 b'P2D\\x00' b'LH' 1 3 4 0.25 -1 ミリメ True\n"
              "1.5,2.5 -1,-1 30,40\n"
              "2,3 5,6 -1,-1\n"
              "-1,-1 -1,-1 -1,-1\n"
              "-1,-1 -1,-1 -1,-1\n");
    // The table reads it.
    CP2dData table;
    ASSERT_EQ(table.Load(full.c_str()), 1);
    EXPECT_EQ(table.Columns(), 3u);
    EXPECT_EQ(table.Rows(), 4u);
    EXPECT_EQ(P2dUnitText(table.info), "ミリメ");
    // Reloaded: the valid particles, ids from the earlier rows, the file's
    // calibration sent to the host.
    host.SetCalibration(1.0, 1, L"");
    {
        kvtest::ModalAnswers answers;
        EXPECT_EQ(ptv->LoadTrackFileFrom(PlatUtf8ToWide(full.c_str()).c_str()), 1);
        EXPECT_TRUE(answers.messages.empty());
    }
    ASSERT_EQ(ptv->store.frameCount, 4);
    EXPECT_EQ(ptv->store.GetIdCount(), 3);
    EXPECT_EQ(ptv->store.frames[0].count, 2);
    EXPECT_EQ(ptv->store.frames[1].count, 2);
    EXPECT_EQ(ptv->store.frames[2].count, 0);
    EXPECT_EQ(ptv->store.frames[3].count, 0);
    Particle p{};
    ASSERT_EQ(ptv->store.GetParticle(1, 1, &p), 1);
    EXPECT_EQ(p.x, 5.0);
    EXPECT_EQ(p.valid, 1u);
    EXPECT_EQ(ptv->idList.Count(), 4);
    EXPECT_EQ(host.calibScale, 0.25);
    EXPECT_EQ(host.calibAxisY, -1);
    EXPECT_STREQ(host.calibUnit, L"ミリメ");
    // A file that cannot be created: "saving failed", nothing left behind;
    // a target that cannot be replaced stays as it was.
    {
        kvtest::ModalAnswers answers;
        EXPECT_EQ(ptv->SaveTrackFileTo(PlatUtf8ToWide(dir.file("no/such/dir/x.p2d").c_str()).c_str()), 0);
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"saving failed"}));
    }
    const std::string folder = dir.file("folder.p2d");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    {
        kvtest::ModalAnswers answers;
        EXPECT_EQ(ptv->SaveTrackFileTo(PlatUtf8ToWide(folder.c_str()).c_str()), 0);
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"saving failed"}));
    }
    std::string listing;
    kvtest::RunCommand("ls " + dir.path(), &listing);
    EXPECT_EQ(listing, "empty.p2d\nfolder.p2d\nfull.p2d\n");
}

// A track file written by Python's struct.
std::string Fixture(const kvtest::TempDir& dir, const std::string& name, const std::string& body) {
    const std::string path = dir.file(name);
    const std::string script = "import struct, sys, math\nout = open(sys.argv[1], 'wb')\n" + body + "\nout.close()\n";
    std::string ignored;
    EXPECT_EQ(kvtest::RunPython(script, {path}, &ignored), 0) << body;
    return path;
}

std::string Header(unsigned columns, unsigned rows, const std::string& scale = "0.5", int ydir = 1,
                   const std::string& unit = "b'mm'", int version = 1) {
    return "out.write(b'P2D\\x00' + b'LH' + struct.pack('<HII', " + std::to_string(version) + ", " +
           std::to_string(columns) + ", " + std::to_string(rows) + "))\nout.write(struct.pack('<di', " + scale + ", " +
           std::to_string(ydir) + ") + " + unit + ".ljust(12, b'\\x00'))\n";
}

TEST_F(PtvOutputsTest, HostileTrackFiles) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no python3";
    kvtest::TempDir dir("ptv_p2d_bad");
    host.SetSourceFormat(100, 80, 1, 4);
    struct Case {
        const char* name;
        std::string body;
        std::vector<std::wstring> messages;
        int32_t frames;  // of the store afterwards; -1: not loaded
        bool calibrationSent;
    };
    const std::string point = "out.write(struct.pack('<dd', 3.0, 4.0))\n";
    const Case cases[] = {
        // The header's counts are not trusted: 2^31 - 1 rows of 0 columns in
        // a 40-byte file hold no points, so the calibration is taken and the
        // store stays empty instead of being sized by the rows; counts the
        // file does not hold fail before anything.
        {"rows without points", Header(0, 2147483647), {}, 0, true},
        {"short file", Header(2, 3) + point + point, {L"loading failed"}, -1, false},
        {"counts beyond 32 bits", Header(0x80000000u, 1), {L"loading failed"}, -1, false},
        {"huge product", Header(65536, 65536), {L"loading failed"}, -1, false},
        {"version 2", Header(1, 1, "0.5", 1, "b'mm'", 2) + point, {L"unsupported version", L"loading failed"}, -1,
         false},
        {"not a track file", "out.write(b'XYZ\\x00' + bytes(36))", {L"loading failed"}, -1, false},
        // Unusable calibrations keep the host's; the points still load.
        {"scale 0", Header(1, 1, "0.0") + point, {}, 1, false},
        {"negative scale", Header(1, 1, "-2.0") + point, {}, 1, false},
        {"scale nan", Header(1, 1, "float('nan')") + point, {}, 1, false},
        {"scale inf", Header(1, 1, "float('inf')") + point, {}, 1, false},
        {"direction 2", Header(1, 1, "0.5", 2) + point, {}, 1, false},
        {"direction 0", Header(1, 1, "0.5", 0) + point, {}, 1, false},
        {"good calibration", Header(1, 1, "0.5", -1) + point, {}, 1, true},
        // A unit cut inside a character: the host gets an empty unit.
        {"broken unit", Header(1, 1, "0.5", 1, "'ミリメートル'.encode()[:11]") + point, {}, 1, true},
        {"no rows", Header(3, 0), {}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.SetCalibration(1.0, 1, L"px");
        const std::string path = Fixture(dir, std::string(c.name) + ".p2d", c.body);
        kvtest::ModalAnswers answers;
        const int32_t loaded = ptv->LoadTrackFileFrom(PlatUtf8ToWide(path.c_str()).c_str());
        EXPECT_EQ(answers.messages, c.messages);
        EXPECT_EQ(loaded, c.frames >= 0 ? 1 : 0);
        EXPECT_EQ(ptv->store.frameCount, std::max(c.frames, 0));
        if (c.frames > 0) {
            EXPECT_EQ(ptv->store.GetIdCount(), 1);
        }
        if (c.calibrationSent) {
            EXPECT_EQ(host.calibScale, 0.5);
        } else {
            EXPECT_EQ(host.calibScale, 1.0);
            EXPECT_EQ(host.calibAxisY, 1);
            EXPECT_STREQ(host.calibUnit, L"px");
        }
        if (std::string(c.name) == "broken unit") {
            EXPECT_STREQ(host.calibUnit, L"");
        }
    }
    // Not finite points are absent; a far but finite one is kept, and
    // drawing and picking pass over it.
    const std::string path = Fixture(dir, "far.p2d",
                                     Header(4, 1) +
                                         "for p in [(float('inf'), 1.0), (1e300, 2.0), (float('nan'), 0.0), (5.0, 5.0)]:\n"
                                         "    out.write(struct.pack('<dd', *p))\n");
    {
        kvtest::ModalAnswers answers;
        ASSERT_EQ(ptv->LoadTrackFileFrom(PlatUtf8ToWide(path.c_str()).c_str()), 1);
    }
    ASSERT_EQ(ptv->store.frameCount, 1);
    EXPECT_EQ(ptv->store.frames[0].count, 2);
    EXPECT_EQ(ptv->store.GetIdCount(), 4);
    host.currentFrame = 0;
    ptv->SelectTab(CLfPtv::kTabEdit);
    ptv->OnLButtonDown(0, 0, 0);
    EXPECT_STREQ(ptv->eraseIdEdit.GetText(), L"4");
    CImgBuff img;
    img.buffer->Create(100, 80, kImgGray8);
    kvtest::PictureScreen picture(&host, 200, 160);
    picture.Shoot(&img, "", 2);
}

TEST_F(PtvOutputsTest, VectorArrowsAndTrackTableScreenshots) {
    host.SetSourceFormat(256, 192, 1, 5);
    RandomStore(&ptv->store, 5, 200, 256, 192, 3);
    ptv->RefillIdList();
    ptv->SelectTab(CLfPtv::kTabPtv);
    ptv->SelectCellSize(1);
    ptv->colourCells.Set(1);
    ptv->ComputeVectors();
    host.currentFrame = 3;
    host.SetGuideColor(1, 1, 0);
    CImgBuff img;
    img.buffer->Create(256, 192, kImgGray8);
    kvtest::PictureScreen picture(&host, 512, 384);
    picture.Shoot(&img, "ptv_vectors", 2);
    ptv->SelectTab(CLfPtv::kTabTrack);
    ptv->ShowTable();
    ASSERT_NE(ptv->table.window, 0u);
    EXPECT_EQ(ptv->table.grid.columns, 401u);
    kvtest::Pump();
    kvtest::SaveScreenshot(kvtest::CaptureFrame(ptv->table, ptv->table), "ptv_track_table");
    // A language switch reopens the table with its title in the new language.
    host.SetLanguage(L"jp");
    ASSERT_NE(ptv->table.window, 0u);
    EXPECT_STREQ(ptv->table.title, L"追跡データ");
}

}  // namespace
