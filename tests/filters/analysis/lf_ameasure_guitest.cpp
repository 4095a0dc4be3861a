// "Auto measurement" in a real chain on binary frames: the saved CSV read by
// Python's csv module against scipy.ndimage and OpenCV, the island option,
// the calibration, memory shortage, the menus, the overlay, settings, and
// results replaced while the table is drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "filters/analysis/lf_ameasure.h"
#include "filters/analysis/support/overlay_view.h"
#include "filters/core/cfgfile.h"
#include "filters/processing/support/fake_host.h"
#include "filters/processing/support/region_runs.h"
#include "image/imgbuff.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "filters/analysis/support/table_fit.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

std::wstring W(const std::string& s) { return PlatUtf8ToWide(s.c_str()); }

void Fill(CImgBuff* image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t v) {
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) image->buffer->SetPixelGray8(x, y, v);
}

// Black ground, white objects: two squares, a ring with an island in its
// hole, two blobs touching at a corner (one object at 8-connectivity), and
// an L shape.
void Scene(CImgBuff* image) {
    image->buffer->Create(120, 90, kImgGray8);
    std::memset(image->buffer->pixels, 0, 120 * 90);
    Fill(image, 5, 5, 24, 19, 255);
    Fill(image, 30, 6, 37, 13, 255);
    Fill(image, 50, 10, 89, 49, 255);  // the ring
    Fill(image, 58, 18, 81, 41, 0);    // its hole
    Fill(image, 66, 26, 73, 33, 255);  // the island in the hole
    Fill(image, 8, 40, 17, 49, 255);
    Fill(image, 18, 50, 27, 59, 255);  // touches the blob above at a corner
    Fill(image, 40, 60, 44, 84, 255);
    Fill(image, 40, 80, 70, 84, 255);
}

// Python's csv module reads the table; scipy and OpenCV measure the scene.
// Prints "ok" or the first difference.
const char* kOracle = R"PY(
import sys, csv, numpy as np
from scipy import ndimage
import cv2
path, raw, w, h, conn, scale = sys.argv[1:]
w, h, conn, scale = int(w), int(h), int(conn), float(scale)
rows = list(csv.reader(open(path, encoding='utf-8')))
img = np.fromfile(raw, np.uint8).reshape(h, w)
obj = img > 0
st = np.ones((3, 3), bool) if conn == 8 else ndimage.generate_binary_structure(2, 1)
lab, n = ndimage.label(obj, st)
def fail(m):
    print(m); sys.exit(0)
if len(rows) != 25: fail('lines %d' % len(rows))
for r in rows:
    if len(r) != n + 1: fail('fields %d of %d' % (len(r), n + 1))
cols = {r[0]: [float(v) for v in r[1:]] for r in rows[1:]}
ncv, labcv, stats, cents = cv2.connectedComponentsWithStats(obj.astype(np.uint8), connectivity=conn)
if ncv - 1 != n: fail('opencv count %d' % (ncv - 1))
mine = sorted(zip(cols['center of gravity x'], cols['center of gravity y'], cols['area'], cols['number of holes'],
                  cols['perimeter length']))
ref = []
for k in range(1, n + 1):
    o = lab == k
    cy, cx = ndimage.center_of_mass(o)
    filled = ndimage.binary_fill_holes(o)
    holes = ndimage.label(filled & ~o, np.ones((3, 3), bool) if conn == 4 else ndimage.generate_binary_structure(2, 1))[1]
    cs, _ = cv2.findContours(o.astype(np.uint8), cv2.RETR_EXTERNAL, cv2.CHAIN_APPROX_NONE)
    ref.append((cx * scale, cy * scale, o.sum() * scale * scale, holes, cv2.arcLength(cs[0], True) * scale, stats[k][4]))
ref.sort()
for m, r in zip(mine, ref):
    if abs(m[0] - r[0]) > 0.002 or abs(m[2] - r[2]) > 0.002 or m[3] != r[3]: fail('island %s vs %s' % (m, r))
    if abs(m[2] - r[5] * scale * scale) > 0.002: fail('opencv area %s vs %s' % (m, r))
    if r[4] > 0 and abs(m[4] - r[4]) > 0.01 * r[4] + 0.002 and r[3] == 0 and r[2] > 40 * scale * scale:
        fail('perimeter %s vs %s' % (m, r))
print('ok')
)PY";

class AutoMeasure : public testing::Test {
protected:
    void TearDown() override {
        CLfAmeasure::allocateRecords = saved;
        kvtest::Pump();
    }
    CLfAmeasure* Add() {
        host.SetLanguage(L"en");
        host.bg = 0;
        host.connect = 8;
        return static_cast<CLfAmeasure*>(host.Add(CreateLfAmeasure()));
    }
    // Saves the table through the menu command with the path answered.
    std::vector<std::wstring> SaveCsv(CLfAmeasure* f, const std::string& path) {
        kvtest::ModalAnswers answers({W(path)});
        f->OnCommand(101);
        return answers.messages;
    }
    CLfAmeasure::RecordAllocator saved = CLfAmeasure::allocateRecords;
    kvtest::TempDir dir{"ameasure"};
    FakeHost host;
};

TEST_F(AutoMeasure, TheSavedTableMatchesScipyAndOpenCvAtBothConnectivities) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with scipy and OpenCV";
    CLfAmeasure* f = Add();
    CImgBuff scene;
    Scene(&scene);
    const std::string raw = dir.file("scene.raw");
    const std::vector<uint8_t> bytes = kvtest::Bytes(scene);
    ASSERT_TRUE(kvtest::WriteFileBytes(raw, std::string(bytes.begin(), bytes.end())));
    const struct {
        uint32_t connect;
        double scale;
        size_t islands;
    } cases[] = {{8, 1.0, 6}, {4, 1.0, 7}, {8, 0.5, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.connect);
        host.connect = c.connect;
        host.SetCalibration(c.scale, 1, L"");
        CImgBuff frame;
        frame.CopyFrom(&scene);
        host.RunChain(&frame, 0);
        EXPECT_TRUE(kvtest::Bytes(frame) == bytes);  // the image is not changed
        auto r = f->Results();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->count, c.islands);
        const std::string csv = dir.file("t" + std::to_string(&c - cases) + ".csv");
        EXPECT_EQ(SaveCsv(f, csv), (std::vector<std::wstring>{L"saved"}));
        std::string out;
        ASSERT_EQ(kvtest::RunPython(kOracle, {csv, raw, "120", "90", std::to_string(c.connect), std::to_string(c.scale)},
                                    &out),
                  0);
        EXPECT_EQ(out, "ok\n");
    }
}

TEST_F(AutoMeasure, CellsIslandOptionUnitAndEmptyFrames) {
    CLfAmeasure* f = Add();
    CImgBuff scene, frame;
    Scene(&scene);
    frame.CopyFrom(&scene);
    host.SetCalibration(1.0, 1, L"mm");
    host.RunChain(&frame, 0);
    ASSERT_TRUE(f->Results());
    const uint64_t withIslands = f->Results()->count;
    int32_t align = 9;
    EXPECT_EQ(f->CellText(0, 0, &align), L"unit:mm");
    EXPECT_EQ(align, -1);
    EXPECT_EQ(f->CellText(0, 17, &align), L"equivalent circle diameter");
    EXPECT_EQ(f->CellText(2, 0, &align), L"ID2");
    EXPECT_EQ(align, 0);
    EXPECT_EQ(f->CellText(1, 6, &align), L"0");
    EXPECT_EQ(align, 1);
    EXPECT_EQ(f->CellText(withIslands + 1, 1, &align), L"");
    EXPECT_EQ(CLfAmeasure::TitleColumnWidth(true), 26u);
    EXPECT_EQ(CLfAmeasure::TitleColumnWidth(false), 12u);
    // The grid follows once it is drawn: islands + 1 columns, 25 rows, a
    // title column as wide as the longest title, every number whole.
    kvtest::Pump();
    f->table.CFgUICtrl::Redraw();
    EXPECT_EQ(f->table.grid.columns, withIslands + 1);
    EXPECT_EQ(f->table.grid.rows, 25u);
    EXPECT_EQ(f->table.grid.columnWidths[0], 26u);
    EXPECT_EQ(kvtest::ExpectEveryTextFits(f->table.grid), static_cast<int>((withIslands + 1) * 25));
    // "Island" off: the island in the ring's hole becomes part of it.
    const wchar_t* text = nullptr;
    ASSERT_EQ(f->table.menuBar.ItemCount(), 2);
    text = f->table.menuBar.items[1].textCallback(f->table.menuBar.items[1].data, 1);
    EXPECT_STREQ(text, L"*Island\t201\n");
    host.calls.clear();
    f->OnCommand(201);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    EXPECT_EQ(f->island.Get(), 0u);
    text = f->table.menuBar.items[1].textCallback(f->table.menuBar.items[1].data, 1);
    EXPECT_STREQ(text, L" Island\t201\n");
    frame.CopyFrom(&scene);
    host.RunChain(&frame, 0);
    EXPECT_EQ(f->Results()->count, withIslands - 1);
    // Japanese: titles, unit and menu.
    host.SetLanguage(L"jp");
    EXPECT_EQ(f->CellText(0, 0, nullptr), L"単位:mm");
    EXPECT_EQ(f->CellText(0, 1, nullptr), L"輪郭の中心 X");
    EXPECT_EQ(f->table.menuBar.items[0].label, L"ファイル");
    text = f->table.menuBar.items[1].textCallback(f->table.menuBar.items[1].data, 1);
    EXPECT_STREQ(text, L"\u3000島処理\t201\n");
    // No unit: the corner cell is empty. No island: an empty table.
    host.SetCalibration(1.0, 1, L"");
    EXPECT_EQ(f->CellText(0, 0, nullptr), L"");
    frame.buffer->Clear();
    host.RunChain(&frame, 0);
    EXPECT_FALSE(f->Results());
    f->table.CFgUICtrl::Redraw();
    EXPECT_EQ(f->table.grid.columns, 0u);
    EXPECT_EQ(f->CellText(0, 1, nullptr), L"");
}

TEST_F(AutoMeasure, RoomForSixHundredOfAThousandIslandsListsFiveHundredTwelve) {
    CLfAmeasure* f = Add();
    CLfAmeasure::allocateRecords = [](uint64_t n) -> IslandRecord* {
        return n > 600 ? nullptr : new (std::nothrow) IslandRecord[n];
    };
    CImgBuff frame;
    frame.buffer->Create(160, 100, kImgGray8);
    std::memset(frame.buffer->pixels, 0, 160 * 100);
    for (int32_t j = 0; j < 25; ++j)
        for (int32_t i = 0; i < 40; ++i) Fill(&frame, 4 * i + 1, 4 * j + 1, 4 * i + 2, 4 * j + 2, 255);
    host.RunChain(&frame, 0);
    ASSERT_TRUE(f->Results());
    EXPECT_EQ(f->Results()->count, 512u);
    EXPECT_EQ(f->CellText(512, 0, nullptr), L"ID512");
    EXPECT_EQ(f->CellText(513, 0, nullptr), L"");
    // Nothing at all: an empty table.
    CLfAmeasure::allocateRecords = [](uint64_t) -> IslandRecord* { return nullptr; };
    host.RunChain(&frame, 0);
    EXPECT_FALSE(f->Results());
}

TEST_F(AutoMeasure, IslandCountsRisingAndFallingBetweenSteps) {
    // Each step first measures into room for a quarter more than the last
    // step's count (at least 64): frames with more islands than that room,
    // exactly as many, fewer, and far fewer are all listed whole, in raster
    // order.
    CLfAmeasure* f = Add();
    auto grid = [](CImgBuff& frame, int32_t columns, int32_t rows) {
        frame.buffer->Create(160, 100, kImgGray8);
        std::memset(frame.buffer->pixels, 0, 160 * 100);
        for (int32_t j = 0; j < rows; ++j)
            for (int32_t i = 0; i < columns; ++i) Fill(&frame, 4 * i + 1, 4 * j + 1, 4 * i + 2, 4 * j + 2, 255);
    };
    const struct {
        int32_t columns, rows;
    } steps[] = {{40, 25}, {3, 1}, {32, 2}, {40, 2}, {40, 25}, {1, 1}};
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.columns) + " x " + std::to_string(step.rows));
        CImgBuff frame;
        grid(frame, step.columns, step.rows);
        host.RunChain(&frame, 0);
        ASSERT_TRUE(f->Results());
        const uint64_t n = static_cast<uint64_t>(step.columns) * static_cast<uint64_t>(step.rows);
        ASSERT_EQ(f->Results()->count, n);
        const IslandRecord& lastOne = f->Results()->records[n - 1];
        EXPECT_DOUBLE_EQ(lastOne.weightedX, 4.0 * (step.columns - 1) + 1.5);
        EXPECT_DOUBLE_EQ(lastOne.weightedY, 4.0 * (step.rows - 1) + 1.5);
    }
}

// The filter step replaces the result (six islands, then one 4 x 4 square,
// in turn) while the table is drawn and saved: every drawing sizes the grid
// to one of the two results, and every saved file is one whole result's
// table, never columns of one step with the texts of the other.
TEST_F(AutoMeasure, ResultsReplacedWhileTheTableIsDrawnAndSaved) {
    CLfAmeasure* f = Add();
    std::atomic<bool> stop{false};
    std::atomic<int> steps{0};
    std::thread worker([&] {
        CImgBuff a, b;
        Scene(&a);
        b.buffer->Create(120, 90, kImgGray8);
        std::memset(b.buffer->pixels, 0, 120 * 90);
        Fill(&b, 2, 2, 5, 5, 255);
        for (int i = 0; !stop; ++i) {
            CImgBuff frame;
            frame.CopyFrom(i % 2 ? &a : &b);
            host.RunChain(&frame, 0);
            ++steps;
        }
    });
    // The one square's table: ID1 and an area of 16 (row 5).
    auto wholeTable = [](const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        if (lines.size() != 25 || start != text.size()) return std::string("not 25 lines");
        const size_t fields = static_cast<size_t>(std::count(lines[0].begin(), lines[0].end(), ',')) + 1;
        if (fields != 2 && fields != 7) return "a row of " + std::to_string(fields) + " fields";
        for (const std::string& line : lines) {
            // Titles hold no comma; every measure cell has a number.
            if (static_cast<size_t>(std::count(line.begin(), line.end(), ',')) + 1 != fields) return "ragged: " + line;
            if (line.find(",,") != std::string::npos || line.back() == ',') return "an empty cell: " + line;
        }
        if (fields == 2 && lines[5].substr(lines[5].find(',')) != ",16.000") return "square: " + lines[5];
        if (fields == 7 && lines[0].find(",ID6") == std::string::npos) return "scene: " + lines[0];
        return std::string("ok");
    };
    std::set<uint64_t> shapes;
    int saves = 0;
    for (int i = 0; i < 200 && !HasFailure(); ++i) {
        f->table.CFgUICtrl::Redraw();
        shapes.insert(f->table.grid.columns);
        for (uint64_t c = 0; c < 8; ++c) f->CellText(c, static_cast<uint64_t>(i % 25), nullptr);
        if (i % 10 == 0) {
            const std::string csv = dir.file("race" + std::to_string(i) + ".csv");
            EXPECT_EQ(SaveCsv(f, csv), (std::vector<std::wstring>{L"saved"}));
            EXPECT_EQ(wholeTable(kvtest::ReadFileBytes(csv)), "ok") << "save " << i;
            ++saves;
        }
    }
    stop = true;
    worker.join();
    EXPECT_EQ(saves, 20);
    EXPECT_GT(steps.load(), 1);
    // Empty only before the first step.
    for (uint64_t columns : shapes) EXPECT_TRUE(columns == 0 || columns == 2 || columns == 7) << columns;
}

TEST_F(AutoMeasure, CrossesWithNumbersSettingsAndTheWindow) {
    CLfAmeasure* f = Add();
    ASSERT_TRUE(f->table.window);
    EXPECT_EQ(f->table.CFgScreen::width, 300u);
    EXPECT_EQ(f->table.CFgScreen::height, 200u);
    CImgBuff frame;
    Scene(&frame);
    host.RunChain(&frame, 0);
    kvtest::OverlayView view(&host, 120, 90);
    const PlatFrame shot = view.Capture();
    // The first square's centre of gravity (14.5, 12) gives a cross at (14, 12).
    for (int32_t d = -3; d <= 3; ++d) {
        EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 14 + d, 12), 0xFF0000u) << d;
        EXPECT_EQ(kvtest::OverlayView::Rgb(shot, 14, 12 + d), 0xFF0000u) << d;
    }
    kvtest::SaveScreenshot(shot, "auto_measurement-crosses");
    f->table.CFgUICtrl::Redraw();
    kvtest::SaveScreenshot(kvtest::CaptureFrame(f->table, f->table), "auto_measurement-table");
    // Hidden and shown again: the remembered size.
    f->ShowUi(0, nullptr);
    EXPECT_FALSE(f->table.window);
    f->ShowUi(1, nullptr);
    EXPECT_EQ(f->table.CFgScreen::width, 300u);
    // Settings: "island" loads only as exactly "0" or "1".
    auto saved = [&] {
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"a");
        f->SaveConfig(pack);
        std::wstring text;
        for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
        return text;
    };
    EXPECT_EQ(saved(), L"if_enable=1;if_visible=1;island=1;");
    for (const auto& [text, expect] : {std::pair{L"0", 0u}, {L"2", 0u}, {L"1", 1u}, {L"", 1u}, {L" 0", 1u}}) {
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"a");
        pack->AddItem(L"island", text);
        f->LoadConfig(pack);
        EXPECT_EQ(f->island.Get(), expect);
    }
    // Disabled: the grid empties, the result stays.
    f->OnEnable(0);
    EXPECT_EQ(f->table.grid.columns, 0u);
    EXPECT_TRUE(f->Results());
}

}  // namespace
