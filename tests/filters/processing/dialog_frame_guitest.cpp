// The dialog-filter frame on the offscreen driver, with a test-only filter
// and a host that records its hooks: showing and hiding, the per-class
// panel position, language changes, the close box, both change schemes,
// numeric edits, and the filter-file flow; then "Change conditions".
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "filters/core/cfgfile.h"
#include "filters/processing/dialog_filter.h"
#include "filters/processing/filter_file.h"
#include "filters/processing/lf_config.h"
#include "filters/processing/support/fake_host.h"
#include "platform/utf8.h"
#include "support/testsupport.h"
#include "toolkit/support/file_select_answer.h"
#include "toolkit/support/ui_input.h"

namespace {

// A panel with a count edit, a three-way radio group and, in the deferred
// variant, a "set" button.
template <int Variant>
class TestPanel : public CDialogFilter<TestPanel<Variant>> {
public:
    explicit TestPanel(bool deferred) {
        this->BindEdit(&countEdit, &count, EditNumberRule{false, true, UINT64_MAX});
        this->BindRadioGroup({&modeA, &modeB, &modeC}, &mode, {0, 1, 2});
        if (deferred) this->UseSetButton(&setButton);
        this->AttachControls();
    }
    CSetting<uint32_t> count{this->settings, L"count", 5, 1, 1000};
    CSetting<uint32_t> mode{this->settings, L"mode", 1, 0, 2};
    CFgUIEdit countEdit;
    CFgUIChkButton modeA, modeB, modeC;
    CFgUIButton setButton;
    PanelSpec Panel() override {
        return {L"Test panel", L"テスト", 200, 120, 220, 120,
                {{&countEdit, 8, 8, 80, 20, nullptr, nullptr},
                 {&modeA, 8, 36, 60, 20, L"A", L"甲"},
                 {&modeB, 70, 36, 60, 20, L"B", L"乙"},
                 {&modeC, 132, 36, 60, 20, L"C", L"丙"},
                 {&setButton, 8, 80, 60, 24, L"set", L"決定"}}};
    }
    std::wstring Saved() {
        CCfgFile file;
        CCfgPack* pack = file.AddPack(L"t");
        this->SaveConfig(pack);
        std::wstring text;
        for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
        return text;
    }
    void Commit(const wchar_t* text) {
        countEdit.SetLineText(0, text);
        countEdit.focusLost(&countEdit, countEdit.data);
    }
    std::wstring EditText() { return countEdit.GetText(); }
    // C is offered only while A is not chosen.
    void ApplyRules() override {
        if (!CFgUICtrl::enabled) return;
        modeC.enabled = mode.Get() == 0 ? 0 : 1;
    }
};
using PanelA = TestPanel<0>;
using PanelB = TestPanel<1>;

class DialogFrameTest : public testing::Test {
protected:
    void TearDown() override { kvtest::Pump(); }
    FakeHost host;
};

TEST_F(DialogFrameTest, ShowAndHideAreIdempotentAndTheChainOpensThePanel) {
    auto* p = static_cast<PanelA*>(host.Add(new PanelA(false)));
    EXPECT_EQ(p->visible, 1u);
    EXPECT_TRUE(p->PanelShown());
    const uint32_t window = p->window;
    p->ShowUi(1, nullptr);
    EXPECT_EQ(p->window, window);
    EXPECT_STREQ(p->title, L"テスト");  // the chain's default language is Japanese
    EXPECT_EQ(p->CFgScreen::width, 220u);
    p->ShowUi(0, nullptr);
    EXPECT_FALSE(p->PanelShown());
    p->ShowUi(0, nullptr);
    EXPECT_FALSE(p->PanelShown());
    EXPECT_EQ(p->position.known, 1u);
}

TEST_F(DialogFrameTest, PanelsReopenWhereTheirClassLastClosedOne) {
    auto* first = static_cast<PanelA*>(host.Add(new PanelA(false)));
    first->ShowUi(0, nullptr);
    first->position = {1, 137, 91};
    first->ShowUi(1, nullptr);
    const int32_t x = first->CFgScreen::x, y = first->CFgScreen::y;
    first->ShowUi(0, nullptr);
    auto* second = static_cast<PanelA*>(host.Add(new PanelA(false)));
    EXPECT_EQ(second->position.known, 1u);
    EXPECT_EQ(second->CFgScreen::x, x);
    EXPECT_EQ(second->CFgScreen::y, y);
    // A panel of another class keeps the toolkit's place.
    auto* other = static_cast<PanelB*>(host.Add(new PanelB(false)));
    EXPECT_EQ(other->position.known, 0u);
}

TEST_F(DialogFrameTest, LanguageChangeRebuildsTheLabelsInPlaceKeepingValues) {
    auto* p = static_cast<PanelA*>(host.Add(new PanelA(false)));
    p->Commit(L"42");
    p->modeC.SelectInGroup(2, 0);
    const int32_t x = p->CFgScreen::x, y = p->CFgScreen::y;
    EXPECT_EQ(p->modeA.label, L"甲");
    host.SetLanguage(L"en");
    EXPECT_TRUE(p->PanelShown());
    EXPECT_EQ(p->modeA.label, L"A");
    EXPECT_STREQ(p->title, L"Test panel");
    EXPECT_EQ(p->CFgScreen::width, 200u);
    EXPECT_EQ(p->CFgScreen::x, x);
    EXPECT_EQ(p->CFgScreen::y, y);
    EXPECT_EQ(p->EditText(), L"42");
    EXPECT_EQ(p->modeA.GetGroupSelection(), 2);
}

TEST_F(DialogFrameTest, CloseBoxHidesThePanelAndKeepsTheFilterWorking) {
    auto* p = static_cast<PanelA*>(host.Add(new PanelA(false)));
    EXPECT_EQ(p->QueryClose(), 0);
    EXPECT_FALSE(p->PanelShown());
    EXPECT_EQ(p->visible, 0u);
    EXPECT_EQ(p->FilterOn(), true);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"OnFilterUiClosed"}));
    EXPECT_EQ(p->Saved(), L"if_enable=1;if_visible=0;count=5;mode=1;");
    EXPECT_EQ(p->QueryClose(), 0);  // not visible: nothing
    EXPECT_EQ(host.calls.size(), 1u);
}

TEST_F(DialogFrameTest, EnablingThePanelAgainKeepsTheControlRules) {
    auto* p = static_cast<PanelA*>(host.Add(new PanelA(false)));
    p->modeA.SelectInGroup(0, 0);
    p->modeA.callback(&p->modeA, p->modeA.data);
    EXPECT_EQ(p->mode.Get(), 0u);
    EXPECT_EQ(p->modeC.enabled, 0u);
    p->EnableUi(0);
    EXPECT_EQ(p->modeB.enabled, 0u);
    p->EnableUi(1);
    EXPECT_EQ(p->modeB.enabled, 1u);
    EXPECT_EQ(p->countEdit.enabled, 1u);
    EXPECT_EQ(p->modeC.enabled, 0u);
}

TEST_F(DialogFrameTest, ImmediateSchemeRerunsOnEveryAcceptedChange) {
    auto* p = static_cast<PanelA*>(host.Add(new PanelA(false)));
    const struct {
        const wchar_t* text;
        uint32_t stored;
        const wchar_t* shown;
        size_t reruns;
    } cases[] = {
        {L"12", 12, L"12", 1},  {L"", 12, L"12", 1},     {L"abc", 12, L"12", 1},
        {L"0", 12, L"12", 1},   {L".5", 12, L"12", 1},   {L"1.2.3", 12, L"12", 1},
        {L"12", 12, L"12", 1},  // unchanged: no run
        {L"99999999999999999999", 12, L"12", 1},  // overflows: invalid
        {L"7", 7, L"7", 2},
    };
    for (const auto& c : cases) {
        p->Commit(c.text);
        EXPECT_EQ(p->count.Get(), c.stored) << std::wstring(c.text).size();
        EXPECT_EQ(p->EditText(), c.shown);
        EXPECT_EQ(host.calls.size(), c.reruns);
    }
    // A radio click applies at once and waits for the run.
    p->modeA.SelectInGroup(0, 0);
    p->modeA.callback(&p->modeA, p->modeA.data);
    EXPECT_EQ(p->mode.Get(), 0u);
    EXPECT_EQ(host.calls.back(), "Refilter(0)");
    // A disabled filter stores but does not run.
    p->CImgFilter::enabled = 0;
    p->Commit(L"8");
    EXPECT_EQ(p->count.Get(), 8u);
    EXPECT_EQ(host.calls.size(), 3u);
}

TEST_F(DialogFrameTest, DeferredSchemeAppliesOnSetAndLoadClearsPending) {
    auto* p = static_cast<PanelA*>(host.Add(new PanelA(true)));
    EXPECT_EQ(p->setButton.enabled, 0u);
    p->Commit(L"30");
    EXPECT_EQ(p->count.Get(), 5u);
    EXPECT_EQ(p->count.Pending(), 30u);
    EXPECT_EQ(p->setButton.enabled, 1u);
    EXPECT_EQ(p->Saved(), L"if_enable=1;if_visible=1;count=5;mode=1;");
    EXPECT_TRUE(host.calls.empty());
    p->setButton.callback(&p->setButton, p->setButton.data);
    EXPECT_EQ(p->count.Get(), 30u);
    EXPECT_EQ(p->setButton.enabled, 0u);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    p->Commit(L"31");
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    pack->AddItem(L"count", L"44");
    p->LoadConfig(pack);
    EXPECT_EQ(p->count.Get(), 44u);
    EXPECT_EQ(p->count.Pending(), 44u);
    EXPECT_EQ(p->EditText(), L"44");
    EXPECT_EQ(p->pendingChanges, 0u);
    EXPECT_EQ(p->setButton.enabled, 0u);
}

// --- the filter-file flow ---

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(DialogFrameTest, FilterFileVersionsAndOverwrite) {
    kvtest::TempDir dir("filter_file");
    auto* p = static_cast<PanelA*>(host.Add(new PanelA(false)));
    host.SetLanguage(L"en");
    const FilterFileKind lut{L"lut", L"lut_ver", LutVersionReadable};
    const std::string path = dir.file("a.lut");
    const std::wstring wpath = PlatUtf8ToWide(path.c_str());
    p->count.Set(9);
    {
        kvtest::ModalAnswers answers({wpath});
        EXPECT_EQ(SaveFilterFile(p, p, lut), 1);
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"saved"}));
    }
    EXPECT_EQ(ReadText(path), "[test_panel] {\n lut_ver 1\n if_enable 1\n if_visible 1\n count 9\n mode 1\n}\n");
    // Declining the overwrite keeps the file.
    p->count.Set(10);
    {
        kvtest::ModalAnswers answers({wpath});
        answers.buttons = {1};
        EXPECT_EQ(SaveFilterFile(p, p, lut), 0);
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"Do you want to overwrite it?"}));
    }
    EXPECT_NE(ReadText(path).find("count 9"), std::string::npos);
    // A value the file cannot hold fails the save: the old file stays whole.
    const std::string before = ReadText(path);
    {
        struct Bad : PanelA {
            Bad() : PanelA(false) {}
            void SaveConfig(CCfgPack* pack) override {
                PanelA::SaveConfig(pack);
                pack->AddItem(L"bad", L"line\nbreak");
            }
        } bad;
        bad.language = L"en";
        kvtest::ModalAnswers answers({wpath});
        EXPECT_EQ(SaveFilterFile(&bad, p, lut), 0);
        EXPECT_EQ(answers.messages, (std::vector<std::wstring>{L"Do you want to overwrite it?", L"saving failed"}));
    }
    EXPECT_EQ(ReadText(path), before);

    const struct {
        const char* version;  // null: no version item
        bool loaded;
        const wchar_t* message;
    } cases[] = {
        {"0", true, nullptr},
        {"1", true, nullptr},
        {"2", false, L"It is a file created with a newer version and can not be read"},
        {"-1", false, L"It is a file created with a newer version and can not be read"},
        {"text", true, nullptr},  // not a number reads as 0
        {nullptr, false, L"loading failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version ? c.version : "missing");
        {
            std::ofstream out(path, std::ios::binary);
            out << "[test_panel] {\n";
            if (c.version) out << " lut_ver " << c.version << "\n";
            out << " count 77\n}\n";
        }
        p->count.Set(3);
        kvtest::ModalAnswers answers({wpath});
        EXPECT_EQ(OpenFilterFile(p, p, lut), c.loaded ? 1 : 0);
        EXPECT_EQ(p->count.Get(), c.loaded ? 77u : 3u);
        if (c.message) {
            EXPECT_EQ(answers.messages, (std::vector<std::wstring>{c.message}));
        } else {
            EXPECT_TRUE(answers.messages.empty());
        }
    }
    // ".fmx" reads its version unsigned: "-1" is a huge number, refused.
    EXPECT_FALSE(FmxVersionReadable(L"-1"));
    EXPECT_TRUE(FmxVersionReadable(L"1"));
    EXPECT_FALSE(FmxVersionReadable(L"2"));
}

// --- change conditions ---

TEST_F(DialogFrameTest, ChangeConditionsHoldForTheRestOfOneRun) {
    host.connect = 8;
    host.bg = 1;
    auto* before = static_cast<ProbeFilter*>(host.Add(new ProbeFilter));
    host.connect = 4;  // taken when the panel first opens
    auto* conditions = static_cast<CLfConfig*>(host.Add(CreateLfConfig()));
    EXPECT_EQ(conditions->connectivity.Get(), 4u);
    EXPECT_EQ(conditions->connect4.GetGroupSelection(), 0);
    host.connect = 8;
    conditions->black.SelectInGroup(0, 0);
    conditions->black.callback(&conditions->black, conditions->black.data);
    EXPECT_EQ(conditions->background.Get(), 0u);
    EXPECT_EQ(host.calls.back(), "Refilter(0)");
    auto* after = static_cast<ProbeFilter*>(host.Add(new ProbeFilter));
    CImgBuff image;
    ASSERT_TRUE(image.buffer->Create(4, 4, kImgGray8));
    host.RunChain(&image, 0);
    EXPECT_EQ(before->steps.at(0).connect, 8u);
    EXPECT_EQ(before->steps.at(0).bg, 1u);
    EXPECT_EQ(after->steps.at(0).connect, 4u);
    EXPECT_EQ(after->steps.at(0).bg, 0u);
    EXPECT_EQ(host.connect.load(), 8u);  // the chain's own are back
    conditions->CImgFilter::enabled = 0;
    host.RunChain(&image, 0);
    EXPECT_EQ(after->steps.at(1).connect, 8u);
    EXPECT_EQ(after->steps.at(1).bg, 1u);
    // Loading: "6" is ignored, "8" taken; the flag stays.
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"change_conditions");
    pack->AddItem(L"connect", L"6");
    pack->AddItem(L"bg", L"1");
    conditions->LoadConfig(pack);
    EXPECT_EQ(conditions->connectivity.Get(), 4u);
    EXPECT_EQ(conditions->background.Get(), 1u);
    EXPECT_EQ(conditions->white.leader->GetGroupSelection(), 1);
    EXPECT_EQ(conditions->takenFromChain, 1u);
    EXPECT_STREQ(conditions->GetId(), L"change_conditions");
    EXPECT_STREQ(conditions->GetName(nullptr), L"Change conditions");
}

}  // namespace
