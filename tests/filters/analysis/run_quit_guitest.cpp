// A quit request that arrives in the middle of a whole-sequence run: every
// run stops at the next frame, undoes its lock and shows no box, so the
// program can end without waiting for a click.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filters/analysis/lf_anti_shake.h"
#include "filters/analysis/lf_bg_create.h"
#include "filters/analysis/lf_piv.h"
#include "filters/analysis/lf_ptv.h"
#include "filters/analysis/lf_strobe_photo.h"
#include "filters/processing/support/fake_host.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/fg_loop.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

// Scene i: a bright 12 x 12 square moved by i pixels on a 160 x 120 gradient.
bool Scene(int32_t format, uint64_t i, CImgBuff* out) {
    if (!out->buffer->Create(160, 120, format)) return false;
    for (int32_t y = 0; y < 120; ++y)
        for (int32_t x = 0; x < 160; ++x) {
            const bool in = x >= 20 + static_cast<int32_t>(i) && x < 32 + static_cast<int32_t>(i) && y >= 20 && y < 32;
            const uint8_t v = in ? 230 : static_cast<uint8_t>((x + y) / 2);
            if (format == kImgRgb8)
                out->buffer->SetPixelRgb8(x, y, v, static_cast<uint8_t>(v / 2), 40);
            else
                out->buffer->SetPixelGray8(x, y, v);
        }
    return true;
}

TEST(RunQuit, EveryRunStopsWithoutABox) {
    kvtest::TempDir dir{"run_quit"};
    const std::wstring out = PlatUtf8ToWide(dir.file("q0000.png").c_str());
    struct Case {
        const char* name;
        int32_t format;
        std::function<CImgFilter*()> create;
        std::function<void(CImgFilter*)> run;
        std::vector<std::wstring> answers;  // file selections before the run
    } cases[] = {
        {"PIV", kImgGray8, CreateLfPiv, [](CImgFilter* f) { static_cast<CLfPiv*>(f)->Execute(); }, {}},
        {"PTV", kImgGray8, CreateLfPtv, [](CImgFilter* f) { static_cast<CLfPtv*>(f)->Track(); }, {}},
        {"anti-shake", kImgRgb8, CreateLfAntiShake, [](CImgFilter* f) { static_cast<CLfAntiShake*>(f)->Run(true); },
         {out}},
        {"strobe", kImgRgb8, CreateLfStrobePhoto, [](CImgFilter* f) { static_cast<CLfStrobePhoto*>(f)->Exec(); }, {}},
        {"background", kImgGray8, CreateLfBgCreate,
         [](CImgFilter* f) { static_cast<CLfBgCreate*>(f)->SaveCommand(); }, {out}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost host;
        host.SetLanguage(L"en");
        CImgFilter* f = host.Add(c.create());
        ASSERT_NE(f, nullptr);
        const int32_t format = c.format;
        ASSERT_TRUE(host.OpenSequence(8, [format](uint64_t i, CImgBuff* o) { return Scene(format, i, o); }));
        host.atFrame[2] = [] { PlatPostQuitMessage(0); };
        host.calls.clear();
        std::vector<std::wstring> shown;
        {
            kvtest::ModalAnswers answers(c.answers);
            c.run(f);
            shown = answers.messages;
        }
        EXPECT_EQ(g_QuitRequested.load(), 1u);
        EXPECT_TRUE(shown.empty()) << PlatWideToUtf8(shown.empty() ? L"" : shown[0].c_str());
        const auto second = std::find(host.calls.begin(), host.calls.end(), "Seek(2)");
        ASSERT_NE(second, host.calls.end());
        EXPECT_EQ(std::find(second, host.calls.end(), "Seek(3)"), host.calls.end());
        EXPECT_NE(std::find(second, host.calls.end(), "LockUi(0)"), host.calls.end());
        // A cancelled save leaves no file.
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
        g_QuitRequested = 0;
        kvtest::Pump();
    }
}

}  // namespace
