// "Generate BG image" through the test host's sequence: the three plain
// methods against numpy over the frame stack, the noise-excluding ones
// against the kernels on the same frames, cancel and failure, settings and
// the panel's rules.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "filters/analysis/lf_bg_create.h"
#include "filters/core/cfgfile.h"
#include "filters/processing/support/fake_host.h"
#include "filters/processing/support/region_runs.h"
#include "image/kernels/background_create.h"
#include "media/frame_output.h"
#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

std::wstring W(const std::string& s) { return PlatUtf8ToWide(s.c_str()); }

// Frames of a known background with a square moving over it.
std::vector<std::unique_ptr<CImgBuff>> MovingSquare(int32_t format, int32_t count) {
    std::vector<std::unique_ptr<CImgBuff>> frames;
    for (int32_t i = 0; i < count; ++i) {
        auto f = std::make_unique<CImgBuff>();
        kvtest::RandomImage(*f, 40, 30, format, 99);
        const int32_t bpp = f->buffer->BytesPerPixel();
        for (int32_t y = 8; y < 16; ++y)
            for (int32_t x = 4 + 5 * i; x < 12 + 5 * i && x < 40; ++x) std::memset(f->buffer->PixelAt(x, y), 0xC0, bpp);
        frames.push_back(std::move(f));
    }
    return frames;
}

std::vector<const CImgBuff*> Pointers(const std::vector<std::unique_ptr<CImgBuff>>& frames) {
    std::vector<const CImgBuff*> p;
    for (const auto& f : frames) p.push_back(f.get());
    return p;
}

// numpy's truncated mean, maximum or minimum over the stack (`mode` 0, 1, -1).
std::vector<uint8_t> NumpyStack(const std::vector<std::unique_ptr<CImgBuff>>& frames, int32_t mode) {
    kvtest::TempDir dir("bg_np");
    std::string all;
    for (const auto& f : frames) {
        const std::vector<uint8_t> b = kvtest::Bytes(*f);
        all.append(b.begin(), b.end());
    }
    EXPECT_TRUE(kvtest::WriteFileBytes(dir.file("s"), all));
    const int32_t format = frames[0]->buffer->format;
    const char* dtype = format == kImgGray16 || format == kImgRgb16 ? "uint16" : "uint8";
    const char* script =
        "import sys, numpy as np\n"
        "d, n, dt, mode = sys.argv[1:]\n"
        "s = np.fromfile(d + '/s', dt).reshape(int(n), -1).astype(np.int64)\n"
        "r = {'0': lambda: s.sum(0) // s.shape[0], '1': lambda: s.max(0), '-1': lambda: s.min(0)}[mode]()\n"
        "r.astype(dt).tofile(d + '/r')\n";
    std::string ignored;
    EXPECT_EQ(kvtest::RunPython(script, {dir.path(), std::to_string(frames.size()), dtype, std::to_string(mode)},
                                &ignored),
              0);
    const std::string r = kvtest::ReadFileBytes(dir.file("r"));
    return std::vector<uint8_t>(r.begin(), r.end());
}

class BgCreate : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    CLfBgCreate* Add() {
        host.SetLanguage(L"en");
        return static_cast<CLfBgCreate*>(host.Add(CreateLfBgCreate()));
    }
    // SAVE with the file answered; the messages shown.
    std::vector<std::wstring> Save(CLfBgCreate* f, const std::string& path, std::vector<int> buttons = {}) {
        kvtest::ModalAnswers answers({W(path)});
        answers.buttons = std::move(buttons);
        f->SaveCommand();
        return answers.messages;
    }
    kvtest::TempDir dir{"bg_create"};
    FakeHost host;
};

TEST_F(BgCreate, PlainMethodsMatchNumpyOverTheStack) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3 with numpy";
    CLfBgCreate* f = Add();
    for (int32_t format : {kImgGray8, kImgGray16, kImgRgb8}) {
        const auto frames = MovingSquare(format, 6);
        ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
        for (const auto& [method, mode] : {std::pair{0u, 0}, {1u, 1}, {2u, -1}}) {
            SCOPED_TRACE("format " + std::to_string(format) + " method " + std::to_string(method));
            f->method.Set(method);
            const std::string out = dir.file("bg" + std::to_string(format) + "_" + std::to_string(method) + ".png");
            host.calls.clear();
            EXPECT_EQ(Save(f, out), (std::vector<std::wstring>{L"saved"}));
            CImgBuff read;
            ASSERT_TRUE(LoadImageFile(&read, W(out).c_str(), nullptr, nullptr));
            ASSERT_EQ(read.buffer->format, format);
            EXPECT_TRUE(kvtest::Bytes(read) == NumpyStack(frames, mode));
            // The host was locked for the run and unlocked after it.
            EXPECT_EQ(host.calls.front(), "LockUi(1)");
            EXPECT_EQ(host.calls.back(), "LockUi(0)");
            EXPECT_FALSE(f->Running());
        }
    }
}

TEST_F(BgCreate, NoiseExcludingMethodsEqualTheKernelOnTheSameFrames) {
    CLfBgCreate* f = Add();
    const auto frames = MovingSquare(kImgRgb8, 5);
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    f->noiseLevel.Set(7);
    struct Source {
        static int32_t Fetch(uint64_t i, CImgBuff* image, void* user) {
            image->CopyFrom((*static_cast<const std::vector<std::unique_ptr<CImgBuff>>*>(user))[i].get());
            return 1;
        }
    };
    const struct {
        uint32_t method;
        int32_t mode;
        double level;  // methods 4 and 5 take no noise level
    } cases[] = {{3, 0, 7.0}, {4, 1, 0.0}, {5, -1, 0.0}};
    for (const auto& c : cases) {
        f->method.Set(c.method);
        const std::string out = dir.file("d" + std::to_string(c.method) + ".png");
        EXPECT_EQ(Save(f, out), (std::vector<std::wstring>{L"saved"}));
        CImgBuff read, expect;
        ASSERT_TRUE(LoadImageFile(&read, W(out).c_str(), nullptr, nullptr));
        expect.buffer->Create(1, 1, kImgGray8);  // frame 0 gives it its size and format
        ASSERT_EQ(ImgCreateBackgroundDenoised(&expect, 5, c.mode, c.level, Source::Fetch,
                                              const_cast<std::vector<std::unique_ptr<CImgBuff>>*>(&frames)),
                  1);
        EXPECT_TRUE(kvtest::Bytes(read) == kvtest::Bytes(expect)) << c.method;
    }
}

TEST_F(BgCreate, CancelKeepsTheFileAndTheNextRunWorksAndFailuresSaySo) {
    CLfBgCreate* f = Add();
    const auto frames = MovingSquare(kImgGray8, 6);
    ASSERT_TRUE(host.OpenSequence(Pointers(frames)));
    const std::string out = dir.file("kept.png");
    ASSERT_TRUE(kvtest::WriteFileBytes(out, "old"));
    host.atFrame[2] = [&] {
        EXPECT_TRUE(f->Running());
        EXPECT_EQ(f->saveButton.label, L"CANCEL");
        EXPECT_EQ(f->methodButtons[1].enabled, 0u);
        EXPECT_EQ(f->QueryClose(), 0);
        PlatPostTestClick(f->window, 8 + 144, 140 + 18);
    };
    host.calls.clear();
    EXPECT_EQ(Save(f, out), (std::vector<std::wstring>{L"Do you want to overwrite it?", L"canceled"}));
    EXPECT_EQ(kvtest::ReadFileBytes(out), "old");
    EXPECT_EQ(host.calls.back(), "LockUi(0)");
    EXPECT_EQ(f->saveButton.label, L"SAVE");
    // No frame after the one that took the click was sought.
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Seek(3)"), 0);
    // The next run starts without the old cancel request.
    host.atFrame.clear();
    EXPECT_EQ(Save(f, out), (std::vector<std::wstring>{L"Do you want to overwrite it?", L"saved"}));
    EXPECT_NE(kvtest::ReadFileBytes(out), "old");
    // Declining the overwrite ends before any run.
    host.calls.clear();
    EXPECT_EQ(Save(f, out, {1}), (std::vector<std::wstring>{L"Do you want to overwrite it?"}));
    EXPECT_TRUE(host.calls.empty());
    // A frame the chain cannot deliver: nothing written, and the user told which.
    host.unreadable = {3};
    const std::string failed = dir.file("failed.png");
    EXPECT_EQ(Save(f, failed), (std::vector<std::wstring>{L"frame 4 could not be read; the run stopped"}));
    EXPECT_FALSE(codec_file_exists(W(failed).c_str()));
    // The panel closes once the run is over.
    EXPECT_EQ(f->QueryClose(), 0);
    EXPECT_FALSE(f->PanelShown());
}

TEST_F(BgCreate, SettingsLoadOnlyValuesInRangeAndThePanelFollowsTheMethod) {
    CLfBgCreate* f = Add();
    auto saved = [&] {
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"g");
        f->SaveConfig(pack);
        std::wstring text;
        for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
        return text;
    };
    EXPECT_EQ(saved(), L"if_enable=1;if_visible=1;sel=0;noise_level=2;");
    const struct {
        const wchar_t* sel;
        const wchar_t* level;
        uint32_t expectSel;
        int32_t expectLevel;
    } cases[] = {{L"3", L"12", 3, 12}, {L"6", L"25", 3, 12}, {L"-1", L"1", 3, 12}, {L"5", L"20", 5, 20},
                 {L"x", L"2", 0, 2}};  // text reads as its leading digits, as wcstol does
    for (const auto& c : cases) {
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"g");
        pack->AddItem(L"sel", c.sel);
        pack->AddItem(L"noise_level", c.level);
        f->LoadConfig(pack);
        EXPECT_EQ(f->method.Get(), c.expectSel);
        EXPECT_EQ(f->noiseLevel.Get(), c.expectLevel);
        EXPECT_EQ(f->noiseBar.position, c.expectLevel);
        EXPECT_EQ(f->methodButtons[0].GetGroupSelection(), static_cast<int32_t>(c.expectSel));
        EXPECT_EQ(f->noiseBar.enabled, c.expectSel == 3 ? 1u : 0u);
    }
    // A click on method 3 enables the noise level; method 1 disables it.
    PlatPostTestClick(f->window, 8 + 20, 68 + 10);
    kvtest::Pump();
    EXPECT_EQ(f->method.Get(), 3u);
    EXPECT_EQ(f->noiseBar.enabled, 1u);
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "generate_bg_image-en");
    host.SetLanguage(L"jp");
    EXPECT_EQ(f->saveButton.label, L"画像を保存");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "generate_bg_image-jp");
    PlatPostTestClick(f->window, 8 + 20, 28 + 10);
    kvtest::Pump();
    EXPECT_EQ(f->method.Get(), 1u);
    EXPECT_EQ(f->noiseBar.enabled, 0u);
}

}  // namespace
