// "PIV" in the test host: grid planning, settings, table texts, mouse
// editing, whole runs (two frames, cancel, missing frames, one frame, a
// black cell, the search span), the CSV through Python's csv reader, and
// screenshots of the picture, both panel pages and the table.
#include "filters/analysis/lf_piv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "filters/analysis/sequence_run.h"
#include "filters/core/cfgfile.h"
#include "filters/processing/support/fake_host.h"
#include "image/kernels/template_match.h"
#include "image/pool.h"
#include "filters/analysis/support/picture_screen.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "filters/analysis/support/table_fit.h"
#include "toolkit/fg_loop.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

// Grey 8-bit particles: a fixed random set of Gaussian spots moved by
// (dx, dy) per frame, so frame k holds them shifted by k x (dx, dy).
void Particles(CImgBuff* image, int32_t w, int32_t h, double dx, double dy, int32_t format = kImgGray8,
               uint32_t seed = 7) {
    ASSERT_TRUE(image->buffer->Create(w, h, format));
    std::vector<double> acc(static_cast<size_t>(w) * h, 0.0);
    const int count = w * h / 30;
    for (int p = 0; p < count; ++p) {
        seed = seed * 1103515245u + 12345u;
        const double px = (seed >> 8) % (w * 16) / 16.0 + dx;
        seed = seed * 1103515245u + 12345u;
        const double py = (seed >> 8) % (h * 16) / 16.0 + dy;
        for (int y = std::max(0, static_cast<int>(py) - 4); y <= std::min(h - 1, static_cast<int>(py) + 4); ++y)
            for (int x = std::max(0, static_cast<int>(px) - 4); x <= std::min(w - 1, static_cast<int>(px) + 4); ++x)
                acc[static_cast<size_t>(y) * w + x] += std::exp(-((x - px) * (x - px) + (y - py) * (y - py)) / 2.0);
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double v = std::min(1.0, acc[static_cast<size_t>(y) * w + x]) * 220.0;
            if (format == kImgGray16)
                image->buffer->SetPixelGray16(x, y, static_cast<uint16_t>(v * 256));
            else
                image->buffer->SetPixelGray8(x, y, static_cast<uint8_t>(v));
        }
}

std::vector<std::unique_ptr<CImgBuff>> ShiftSequence(int frames, int32_t w, int32_t h, double dx, double dy) {
    std::vector<std::unique_ptr<CImgBuff>> out;
    for (int k = 0; k < frames; ++k) {
        out.push_back(std::make_unique<CImgBuff>());
        Particles(out.back().get(), w, h, k * dx, k * dy);
    }
    return out;
}

bool OpenShifts(FakeHost& host, int frames, int32_t w, int32_t h, double dx, double dy) {
    auto scenes = std::make_shared<std::vector<std::unique_ptr<CImgBuff>>>(ShiftSequence(frames, w, h, dx, dy));
    return host.OpenSequence(static_cast<uint64_t>(frames), [scenes](uint64_t i, CImgBuff* out) {
        out->CopyFrom((*scenes)[i].get());
        return true;
    });
}

std::wstring Saved(CImgFilter* f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    f->SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

class PivTest : public testing::Test {
protected:
    void SetUp() override {
        host.SetLanguage(L"en");
        piv = static_cast<CLfPiv*>(host.Add(CreateLfPiv()));
        ASSERT_NE(piv, nullptr);
    }
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
    CLfPiv* piv = nullptr;
};

TEST_F(PivTest, GridPlanningKeepsAPlanTheImageCannotHold) {
    const struct {
        uint64_t w, h;
        int32_t index;
        int32_t x0, y0, cell, columns, rows;
    } cases[] = {
        {100, 100, 2, 34, 34, 32, 1, 1},    // 100 / 32 = 3: one cell, centred
        {64, 64, 2, 34, 34, 32, 1, 1},      // two cells per axis: the plan stays
        {640, 480, 2, 32, 32, 32, 18, 13},  // one cell's margin all round
        {640, 480, 0, 8, 8, 8, 78, 58},
        {95, 400, 2, 32, 32, 32, 18, 13},   // 95 / 32 = 2: the plan made for 640 x 480 stays
        {97, 200, 1, 8, 20, 16, 4, 10},     // (97 - 64) / 2 = 16 ... truncated halves
    };
    for (const auto& c : cases) {
        piv->SelectCellSize(c.index);
        host.SetSourceFormat(c.w, c.h, 1, 5);
        EXPECT_EQ(piv->planCell, c.cell) << c.w << "x" << c.h;
        EXPECT_EQ(piv->planColumns, c.columns) << c.w << "x" << c.h;
        EXPECT_EQ(piv->planRows, c.rows) << c.w << "x" << c.h;
        if (c.w == 97) {
            EXPECT_EQ(piv->planX0, (97 - 16 * 4) / 2);
            EXPECT_EQ(piv->planY0, (200 - 16 * 10) / 2);
        } else {
            EXPECT_EQ(piv->planX0, c.x0) << c.w << "x" << c.h;
            EXPECT_EQ(piv->planY0, c.y0) << c.w << "x" << c.h;
        }
    }
}

TEST_F(PivTest, SettingsRoundTripAndLoadRules) {
    EXPECT_EQ(Saved(piv),
              L"if_enable=1;if_visible=1;cell_size=2;large_pattern=1;fast_scan=1;search_size=0;grid=1;cell=0;"
              L"arrow_zoom=30;color_bar=2;erase_r=1;erase_r_val=45;erase_l=1;erase_l_val=20;");
    struct Item {
        const wchar_t *key, *value;
    };
    const struct {
        std::vector<Item> items;
        const wchar_t* expect;  // the keys after if_visible
    } cases[] = {
        {{{L"cell_size", L"5"}}, L""},
        {{{L"cell_size", L"x"}}, L"cell_size=0;"},
        {{{L"cell_size", L"-1"}}, L""},
        {{{L"cell_size", L"1"}, {L"search_size", L"2"}, {L"arrow_zoom", L"100"}}, L"cell_size=1;search_size=2;arrow_zoom=100;"},
        {{{L"arrow_zoom", L"9"}, {L"color_bar", L"33"}, {L"erase_r_val", L"121"}, {L"erase_l_val", L"14"}}, L""},
        {{{L"arrow_zoom", L"99999999999"}}, L""},  // overflow reads as 0: out of range
        {{{L"grid", L"abc"}, {L"cell", L"2"}, {L"erase_r", L"0"}}, L"cell=1;erase_r=0;"},
        {{{L"erase_r_val", L"90"}, {L"erase_l_val", L"30"}, {L"color_bar", L"8"}}, L"color_bar=8;erase_r_val=90;erase_l_val=30;"},
    };
    for (const auto& c : cases) {
        CLfPiv fresh;
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"piv");
        for (const Item& i : c.items) pack->AddItem(i.key, i.value);
        fresh.LoadConfig(pack);
        // Compare only the keys that differ from the defaults.
        CLfPiv defaults;
        std::wstring got, base = Saved(&defaults), now = Saved(&fresh);
        size_t a = 0, b = 0;
        while (a < now.size()) {
            const size_t ea = now.find(L';', a), eb = base.find(L';', b);
            if (now.substr(a, ea - a) != base.substr(b, eb - b)) got += now.substr(a, ea - a + 1);
            a = ea + 1;
            b = eb + 1;
        }
        EXPECT_EQ(got, c.expect) << c.items[0].key << "=" << c.items[0].value;
    }
    // Loaded slider values act as the sliders do.
    CLfPiv f;
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"piv");
    pack->AddItem(L"erase_r_val", L"90");
    pack->AddItem(L"erase_l_val", L"30");
    pack->AddItem(L"color_bar", L"8");
    pack->AddItem(L"grid", L"0");
    f.LoadConfig(pack);
    EXPECT_DOUBLE_EQ(f.flow.angleLimit, 90 / 180.0 * 3.14159265358979323846);
    EXPECT_DOUBLE_EQ(f.flow.lengthRatio, 3.0);
    EXPECT_EQ(f.flow.colourBase, 8);
    EXPECT_EQ(f.flow.drawGrid, 0u);
    // "level" gates "look at big pattern" only, and is never written.
    EXPECT_EQ(f.bigCheck.enabled, 1u);
    pack->AddItem(L"level", L"2");
    f.LoadConfig(pack);
    EXPECT_EQ(f.methodLevel, 2);
    EXPECT_EQ(f.bigCheck.enabled, 0u);
    EXPECT_EQ(Saved(&f).find(L"level"), std::wstring::npos);
}

TEST_F(PivTest, ControlRulesFollowCellSizeAndBigPattern) {
    piv->SelectCellSize(0);
    piv->bigCheck.checked = 0;
    piv->RefreshControls();
    EXPECT_EQ(piv->fastCheck.enabled, 0u);
    piv->bigCheck.checked = 1;
    piv->RefreshControls();
    EXPECT_EQ(piv->fastCheck.enabled, 1u);
    piv->SelectCellSize(2);
    piv->bigCheck.checked = 0;
    piv->RefreshControls();
    EXPECT_EQ(piv->fastCheck.enabled, 1u);
}

// A store with known vectors for the text and mouse tests: 2 x 1 cells of 16
// at (10, 20), 3 frames.
void KnownField(CLfPiv* piv) {
    ASSERT_TRUE(piv->flow.Setup(10, 20, 16, 2, 1, 3));
    *piv->flow.VectorAt(0, 0, 1) = {3.0, 4.0};
    *piv->flow.VectorAt(1, 0, 1) = {-1.0, -1.0};
    *piv->flow.VectorAt(1, 0, 2) = {0.0, 2.0};
    piv->SizeTable(3);
}

TEST_F(PivTest, CellTextsPerFrameTimeCalibrationAndAxis) {
    int32_t flags = 0;
    EXPECT_STREQ(piv->CellText(0, 0, &flags), L"");  // no field: empty
    KnownField(piv);
    EXPECT_EQ(piv->table.grid.columns, 5u);
    EXPECT_EQ(piv->table.grid.rows, 5u);
    EXPECT_EQ(piv->table.grid.headerRows, 2u);
    EXPECT_EQ(piv->table.grid.headerColumns, 1u);
    // No frame time: per frame, in pixels.
    EXPECT_STREQ(piv->CellText(0, 0, &flags), L"pixel/frame");
    EXPECT_STREQ(piv->CellText(1, 0, &flags), L"1,1");
    EXPECT_STREQ(piv->CellText(2, 0, &flags), L"");
    EXPECT_STREQ(piv->CellText(3, 0, &flags), L"2,1");
    EXPECT_STREQ(piv->CellText(0, 1, &flags), L"rad");
    EXPECT_STREQ(piv->CellText(1, 1, &flags), L"speed");
    EXPECT_STREQ(piv->CellText(2, 1, &flags), L"direction");
    flags = 0;
    EXPECT_STREQ(piv->CellText(0, 3, &flags), L"2");
    EXPECT_EQ(flags, 1);
    EXPECT_STREQ(piv->CellText(1, 2, &flags), L"0.0");  // frame 0 has no vectors
    EXPECT_STREQ(piv->CellText(1, 3, &flags), L"5.0");
    EXPECT_STREQ(piv->CellText(2, 3, &flags), L"0.93");  // atan2(4, 3)
    EXPECT_STREQ(piv->CellText(4, 3, &flags), L"-2.36");
    // 40 ms a frame, 0.5 mm a pixel, Y up: the filter step takes the
    // calibration with the next run (a new source empties the store).
    host.frameTime = 40;
    host.SetCalibration(0.5, -1, L"mm");
    CImgBuff img;
    Particles(&img, 64, 64, 0, 0);
    ASSERT_TRUE(host.OpenSequence({&img}));
    EXPECT_STREQ(piv->CellText(0, 0, &flags), L"");
    KnownField(piv);
    EXPECT_STREQ(piv->CellText(0, 0, &flags), L"mm/s");
    EXPECT_STREQ(piv->CellText(1, 3, &flags), L"62.5");  // 25 frames/s x 0.5 x 5
    EXPECT_STREQ(piv->CellText(2, 3, &flags), L"-0.93");
    host.SetLanguage(L"jp");
    EXPECT_STREQ(piv->CellText(1, 1, &flags), L"速度");
    EXPECT_STREQ(piv->CellText(2, 1, &flags), L"方位");
}

TEST_F(PivTest, SelectDeselectAndDeleteWithTheMouse) {
    KnownField(piv);
    host.currentFrame = 1;
    host.calls.clear();
    piv->OnRButtonDown(0, 0, 0);  // no selection: nothing
    EXPECT_TRUE(host.calls.empty());
    piv->OnLButtonDown(5, 25, 0);  // left of the grid
    EXPECT_EQ(piv->flow.selectedColumn, -1);
    piv->OnLButtonDown(30, 25, 0);  // cell (1, 0)
    EXPECT_EQ(piv->flow.selectedColumn, 1);
    EXPECT_EQ(piv->flow.selectedRow, 0);
    piv->OnLButtonDown(30, 25, 0);  // again: cleared
    EXPECT_EQ(piv->flow.selectedColumn, -1);
    piv->OnLButtonDown(42, 25, 0);  // x = 42: column 2 is outside
    EXPECT_EQ(piv->flow.selectedColumn, -1);
    piv->OnLButtonDown(12, 35, 0);
    EXPECT_EQ(piv->flow.selectedColumn, 0);
    piv->OnRButtonDown(0, 0, 0);
    EXPECT_EQ(piv->flow.VectorAt(0, 0, 1)->dx, 0.0);
    EXPECT_EQ(piv->flow.VectorAt(0, 0, 1)->dy, 0.0);
    EXPECT_EQ(piv->flow.selectedColumn, -1);
    EXPECT_EQ(piv->flow.frameFlags[1], 1u);
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Redraw"), 4);
    // A selected cell whose vector is zero in the current frame stays.
    piv->OnLButtonDown(12, 35, 0);
    host.currentFrame = 0;
    piv->OnRButtonDown(0, 0, 0);
    EXPECT_EQ(piv->flow.selectedColumn, 0);
}

TEST_F(PivTest, TwoFrameRunGivesVectorsForFrameOneOnly) {
    ASSERT_TRUE(OpenShifts(host, 2, 128, 96, 3, -2));
    piv->SelectCellSize(1);
    host.calls.clear();
    piv->Execute();
    EXPECT_EQ(host.calls.front(), "LockUi(1)");
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "LockUi(0)"), host.calls.end());
    EXPECT_EQ(host.calls.back(), "Redraw");
    ASSERT_EQ(piv->flow.frames, 2);
    ASSERT_EQ(piv->flow.columns, 6);
    ASSERT_EQ(piv->flow.rows, 4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 6; ++c) {
            EXPECT_EQ(piv->flow.VectorAt(c, r, 0)->dx, 0.0);
            EXPECT_EQ(piv->flow.VectorAt(c, r, 1)->dx, 3.0) << c << "," << r;
            EXPECT_EQ(piv->flow.VectorAt(c, r, 1)->dy, -2.0) << c << "," << r;
        }
    EXPECT_EQ(piv->execButton.label, L"EXEC");
    EXPECT_EQ(piv->tabs.current, CLfPiv::kPageResult);
    EXPECT_EQ(piv->table.grid.columns, 2u * 24 + 1);
    EXPECT_EQ(piv->table.grid.rows, 4u);
    EXPECT_FALSE(piv->Running());
}

TEST_F(PivTest, OneFrameAndUnreadableFrames) {
    CImgBuff still;
    Particles(&still, 96, 96, 0, 0);
    ASSERT_TRUE(host.OpenSequence({&still}));
    {
        kvtest::ModalAnswers answers;
        piv->Execute();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"need an image of 2 frames or more"}));
    }
    EXPECT_EQ(piv->flow.frames, 0);

    // Frame 4 never arrives: the run stops there and says so; frames 1 to 3
    // are kept and the frames never analysed show blank cells, not a speed of 0.
    ASSERT_TRUE(OpenShifts(host, 8, 96, 96, 1, 1));
    host.unreadable = {4};
    {
        kvtest::ModalAnswers answers;
        piv->Execute();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"frame 5 could not be read; the run stopped"}));
    }
    ASSERT_EQ(piv->flow.frames, 8);
    ASSERT_EQ(piv->flow.columns, 1);
    for (int f = 1; f < 4; ++f) EXPECT_EQ(piv->flow.VectorAt(0, 0, f)->dx, 1.0) << f;
    for (uint64_t f = 1; f < 8; ++f) {
        int32_t flags = 0;
        EXPECT_EQ(std::wstring(piv->CellText(1, 2 + f, &flags)), f < 4 ? L"1.4" : L"") << f;
        EXPECT_EQ(std::wstring(piv->CellText(2, 2 + f, &flags)).empty(), f >= 4) << f;
    }
    EXPECT_FALSE(piv->Running());
    EXPECT_EQ(host.calls.back(), "Redraw");
    // In Japanese, and frame 0 itself.
    host.SetLanguage(L"jp");
    host.unreadable = {0};
    {
        kvtest::ModalAnswers answers;
        piv->Execute();
        EXPECT_EQ(answers.messages,
                  (std::vector<std::wstring>{L"フレーム 1 を読み込めませんでした。処理を中止しました"}));
    }
    int32_t flags = 0;
    EXPECT_EQ(std::wstring(piv->CellText(1, 3, &flags)), L"");
    // A whole run shows every frame again.
    host.unreadable.clear();
    piv->Execute();
    EXPECT_EQ(std::wstring(piv->CellText(1, 9, &flags)), L"1.4");
}

TEST_F(PivTest, CancelAtFrameFiveKeepsTheFramesBeforeAndASecondRunWorks) {
    ASSERT_TRUE(OpenShifts(host, 10, 96, 96, 2, 0));
    host.SetLanguage(L"en");
    // The click on CANCEL arrives while frame 5 is shown.
    host.atFrame[5] = [&] {
        EXPECT_EQ(piv->execButton.label, L"CANCEL");
        EXPECT_EQ(piv->fastCheck.enabled, 0u);
        EXPECT_EQ(piv->execButton.enabled, 1u);
        ASSERT_NE(piv->window, 0u);
        PlatPostTestClick(piv->window, piv->execButton.x + 5, piv->execButton.y + 5);
    };
    {
        kvtest::ModalAnswers answers;
        piv->Execute();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"canceled"}));
    }
    for (int f = 1; f < 10; ++f) EXPECT_EQ(piv->flow.VectorAt(0, 0, f)->dx, f < 5 ? 2.0 : 0.0) << f;
    EXPECT_EQ(piv->execButton.label, L"EXEC");
    EXPECT_EQ(piv->fastCheck.enabled, 1u);
    // No frame after the fifth was sought, and the lock was undone.
    const auto fifth = std::find(host.calls.begin(), host.calls.end(), "Seek(5)");
    ASSERT_NE(fifth, host.calls.end());
    EXPECT_EQ(std::find(fifth, host.calls.end(), "Seek(6)"), host.calls.end());
    EXPECT_NE(std::find(fifth, host.calls.end(), "LockUi(0)"), host.calls.end());
    host.atFrame.clear();
    kvtest::ModalAnswers answers;
    piv->Execute();
    EXPECT_TRUE(answers.messages.empty());
    for (int f = 1; f < 10; ++f) EXPECT_EQ(piv->flow.VectorAt(0, 0, f)->dx, 2.0) << f;
}

TEST_F(PivTest, BlackCellHasNoVectorAndTheLargestSearchSpansTwoCells) {
    // A shift of 40 pixels a frame: only the search of ±2s with s = 32 reaches it.
    ASSERT_TRUE(OpenShifts(host, 2, 256, 192, 40, 0));
    for (int32_t index : {0, 2}) {
        piv->SetSearchSize(index);
        piv->Execute();
        int found = 0;
        for (int r = 0; r < piv->flow.rows; ++r)
            for (int c = 0; c < piv->flow.columns; ++c) found += piv->flow.VectorAt(c, r, 1)->dx == 40.0;
        if (index == 2)
            EXPECT_GE(found, piv->flow.columns * piv->flow.rows - piv->flow.rows);  // all but where particles left
        else
            EXPECT_EQ(found, 0);
    }
    // A frame pair black around one cell: that cell's vector is (0, 0).
    auto a = std::make_shared<CImgBuff>(), b = std::make_shared<CImgBuff>();
    Particles(a.get(), 160, 160, 0, 0);
    Particles(b.get(), 160, 160, 1, 0);
    for (CImgBuff* img : {a.get(), b.get()})
        for (int y = 0; y < 160; ++y)
            for (int x = 0; x < 100; ++x) img->buffer->SetPixelGray8(x, y, 0);
    ASSERT_TRUE(host.OpenSequence({a.get(), b.get()}));
    piv->SetSearchSize(0);
    piv->Execute();
    ASSERT_EQ(piv->flow.columns, 3);
    EXPECT_EQ(piv->flow.VectorAt(0, 0, 1)->dx, 0.0);
    EXPECT_EQ(piv->flow.VectorAt(0, 0, 1)->dy, 0.0);
    EXPECT_EQ(piv->flow.VectorAt(2, 1, 1)->dx, 1.0);
}

TEST_F(PivTest, SearchMatchesTheKernelsShortcutOnASmallFrame) {
    // The job halves the previous frame once and runs the coarse-to-fine
    // search itself: every vector equals that of ImgMatchTemplate with its
    // own shortcut followed by the refinement, for both cell sizes that use it.
    for (int32_t s : {16, 32}) {
        CImgBuff prev, cur;
        Particles(&prev, 200, 168, 0, 0);
        Particles(&cur, 200, 168, 2.6, -1.3);
        CFlowData flow;
        const int32_t columns = 200 / s - 2, rows = 168 / s - 2;
        ASSERT_TRUE(flow.Setup((200 - s * columns) / 2, (168 - s * rows) / 2, s, columns, rows, 2));
        for (int32_t q : {-2, 1}) {
            ASSERT_EQ(PivRunJobThread(&prev, &cur, 1, 0, 1, q, &flow, nullptr), 1);
            const int32_t r = PivSearchRadius(s, q);
            for (int32_t row = 0; row < rows; ++row)
                for (int32_t c = 0; c < columns; ++c) {
                    CImgBuff pattern;
                    const int32_t x0 = flow.originX + c * s - s / 2, y0 = flow.originY + row * s - s / 2;
                    ASSERT_TRUE(cur.ExtractRect(&pattern, x0, y0, x0 + 2 * s - 1, y0 + 2 * s - 1));
                    int32_t X = 0, Y = 0;
                    double score = -1, fx = x0, fy = y0;
                    if (ImgMatchTemplate(&prev, &pattern, x0, y0, x0 - r, y0 - r, x0 + r, y0 + r, &X, &Y, 1, 0, 16,
                                         &score, nullptr, nullptr)) {
                        double rx = 0, ry = 0, rs = -1;
                        if (ImgRefineMatchSubpixel(&prev, &pattern, X - 1.0, Y - 1.0, X + 1.0, Y + 1.0, &rx, &ry, 1, 0,
                                                   0.5, &rs, nullptr, nullptr) &&
                            rs >= 0) {
                            fx = rx;
                            fy = ry;
                        }
                    }
                    const FlowVector* v = flow.VectorAt(c, row, 1);
                    EXPECT_EQ(v->dx, x0 - fx) << s << " " << q << " " << c << "," << row;
                    EXPECT_EQ(v->dy, y0 - fy) << s << " " << q << " " << c << "," << row;
                }
        }
    }
}

TEST_F(PivTest, CancelDuringASlowJobIsTakenAtTheNextPoll) {
    // Exhaustive search of ±2s over a large frame: a job of seconds.
    ASSERT_TRUE(OpenShifts(host, 3, 1024, 1024, 1, 0));
    piv->SelectCellSize(3);
    piv->fastCheck.checked = 0;
    piv->fastScan.Set(0);
    piv->SetSearchSize(2);
    using Clock = std::chrono::steady_clock;
    std::atomic<bool> done{false};
    Clock::time_point posted{}, taken{}, jobEnded{};
    std::thread clicker;
    host.atFrame[1] = [&] {
        // 150 ms into the first job another thread clicks CANCEL and watches
        // for the cancel flag the search reads.
        clicker = std::thread([&, window = piv->window, x = piv->execButton.x + 5, y = piv->execButton.y + 5] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            posted = Clock::now();
            PlatPostTestClick(window, x, y);
            while (!CSequenceRun::CancelRequestedFor(piv) && Clock::now() - posted < std::chrono::seconds(10))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            taken = Clock::now();
            done = true;
        });
    };
    // The next seek comes right after the job has ended.
    host.atFrame[2] = [&] { jobEnded = Clock::now(); };
    kvtest::ModalAnswers answers;
    piv->Execute();
    clicker.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"canceled"}));
    // The wait pumps every 250 ms (300 ms with dispatching on a quiet
    // machine); the bound leaves room for a loaded one.
    std::printf("[ PIV ] cancel taken after %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(taken - posted).count()));
    EXPECT_LT(taken - posted, std::chrono::milliseconds(1000));
    // The searches in progress stop at their next candidate; the frame after
    // is sought, then the run ends (the stopped searches left zero vectors).
    ASSERT_NE(jobEnded, Clock::time_point{});
    EXPECT_LT(jobEnded - taken, std::chrono::milliseconds(1000));
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Seek(3)"), 0);
}

TEST_F(PivTest, CsvReadsAlignedInPythonAndScreenshots) {
    ASSERT_TRUE(OpenShifts(host, 3, 160, 128, 2, 1));
    host.SetCalibration(1.0, -1, L"");
    piv->SelectCellSize(2);
    piv->Execute();
    ASSERT_EQ(piv->flow.columns * piv->flow.rows, 6);
    piv->ShowTable();
    ASSERT_NE(piv->table.window, 0u);
    EXPECT_STREQ(piv->table.title, L"VECTOR DATA");
    kvtest::TempDir dir("piv_csv");
    const std::string path = dir.file("piv.csv");
    {
        kvtest::ModalAnswers answers({PlatUtf8ToWide(path.c_str())});
        piv->table.SaveCsvCommand();
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"saved"}));
    }
    if (!kvtest::DebianPython().empty()) {
        std::string out;
        ASSERT_EQ(kvtest::RunPython("import csv, sys, math\n"
                                    "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8', newline='')))\n"
                                    "print(sorted(set(len(r) for r in rows)), len(rows), rows[0][0], rows[0][1], rows[1][1])\n"
                                    "print(rows[3][1], rows[3][2], rows[2][1])\n",
                                    {path}, &out),
                  0);
        // 2N + 1 = 13 fields in every row; speed |(2, 1)| per frame, direction atan2(-1, 2) (Y up).
        EXPECT_EQ(out, "[13] 5 pixel/frame 1,1 speed\n2.2 -0.46 0.0\n");
    }
    kvtest::Pump();
    // Every column fits its widest text once drawn ("pixel/frame" whole).
    piv->table.CFgUICtrl::Redraw();
    EXPECT_GT(kvtest::ExpectEveryTextFits(piv->table.grid), 13 * 3);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(piv->table, piv->table), "piv_table");
    // The picture: arrows on the result page, coloured cells, then the measure grid.
    host.currentFrame = 1;
    host.SetGuideColor(1, 1, 0);
    kvtest::PictureScreen picture(&host, 320, 256);
    piv->cellsCheck.checked = 1;
    piv->colourCells.Set(1);
    host.RunCurrent();
    picture.Shoot(&host.result, "piv_result_arrows", 2);
    piv->tabs.SelectTab(CLfPiv::kPageMeasure, 0);
    picture.Shoot(&host.result, "piv_measure_grid", 2);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*piv, *piv), "piv_panel_measure");
    piv->tabs.SelectTab(CLfPiv::kPageResult, 0);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*piv, *piv), "piv_panel_result");
    host.SetLanguage(L"jp");
    ASSERT_NE(piv->window, 0u);
    EXPECT_EQ(piv->execButton.label, L"実行");
    ASSERT_NE(piv->table.window, 0u);  // reopened after the language switch
    EXPECT_STREQ(piv->table.title, L"ベクトルデータ");
    piv->table.CFgUICtrl::Redraw();
    EXPECT_GT(kvtest::ExpectEveryTextFits(piv->table.grid), 13 * 3);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*piv, *piv), "piv_panel_result_jp");
}

}  // namespace
