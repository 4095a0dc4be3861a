// The extraction panel on the offscreen driver: check boxes and toggles at
// their rectangles, the bars' asynchronous reruns, the grayscale rule, and
// screenshots in both languages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/processing/lf_extract.h"
#include "filters/processing/support/fake_host.h"
#include "platform/plat_messages.h"
#include "support/testsupport.h"
#include "toolkit/support/ui_input.h"

namespace {

void ClickAt(CDialogFilterBase* f, int32_t x, int32_t y) {
    PlatPostTestClick(f->window, x, y);
    kvtest::Pump();
}

TEST(ExtractPanel, BoxesTogglesBarsAndRule) {
    FakeHost host;
    host.SetLanguage(L"en");
    auto* f = static_cast<CLfExtract*>(host.Add(CreateLfExtract()));
    ASSERT_TRUE(f->PanelShown());
    EXPECT_EQ(f->CFgScreen::width, 380u);
    EXPECT_EQ(f->hueBar.x, 95);
    ClickAt(f, 10 + 60, 165 + 10);  // grayscale
    EXPECT_EQ(f->gray.Get(), 1u);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Refilter(0)"}));
    EXPECT_EQ(f->hueBar.enabled, 0u);
    EXPECT_EQ(f->widthBar.enabled, 0u);
    EXPECT_EQ(f->satBar.enabled, 0u);
    EXPECT_EQ(f->valBar.enabled, 1u);
    ClickAt(f, 10 + 60, 165 + 10);
    EXPECT_EQ(f->hueBar.enabled, 1u);
    ClickAt(f, 10 + 60, 115 + 10);  // reverse
    EXPECT_EQ(f->reverse.Get(), 1u);
    ClickAt(f, 245 + 65, 115 + 10);  // pickup and set
    EXPECT_EQ(f->PickMode(), 1u);
    EXPECT_EQ(host.calls.back(), "Refilter(1)");
    ClickAt(f, 245 + 65, 140 + 10);  // pickup and add releases the other
    EXPECT_EQ(f->PickMode(), 2u);
    EXPECT_EQ(f->pickSetBox.checked, 0u);
    EXPECT_EQ(host.calls.back(), "Refilter(0)");
    f->valBar.Notify(1000, 50000);  // a bar ends the pick mode
    EXPECT_EQ(f->PickMode(), 0u);
    EXPECT_EQ(f->pickAddBox.checked, 0u);
    EXPECT_EQ(f->Ranges().valLow, 1000);
    EXPECT_EQ(host.calls.back(), "Refilter(1)");
    const size_t runs = host.calls.size();
    f->CImgFilter::enabled = 0;
    ClickAt(f, 245 + 65, 165 + 10);  // preview: nothing runs while disabled
    EXPECT_EQ(host.calls.size(), runs);
    f->CImgFilter::enabled = 1;
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "extraction-en");
    host.SetLanguage(L"jp");
    kvtest::SaveScreenshot(kvtest::CaptureFrame(*f, *f), "extraction-jp");
    EXPECT_EQ(f->hueBar.x, 75);
    EXPECT_EQ(f->hueBar.width, 294);
    EXPECT_EQ(f->grayBox.label, L"グレースケールとして処理");
    kvtest::Pump();
}

}  // namespace
