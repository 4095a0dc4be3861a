// Host callbacks called by a plug-in from on_filter: on the user-interface
// thread every callback acts; on the chain's worker the rerun becomes
// asynchronous, pump returns 1 without dispatching, and seek and close UI do
// nothing. Needs a window, so that the layer knows its user-interface thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>

#include "filters/core/filter_plugin.h"
#include "filters/core/lf_plugin.h"
#include "image/imgbuff.h"
#include "platform/plat_window.h"
#include "support/plugin_support.h"

namespace {

using Lines = std::vector<std::string>;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST(FilterPluginCallbacks, ActOnTheUserInterfaceThreadOnlyWhereTheyMust) {
    uint32_t window = PlatCreateWindow(L"callbacks", 0, 0, 64, 48, kPlatStyleFixed);
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(PlatIsUiThread());
    kvplugin::PluginFolder folder;
    kvplugin::Install("tp_plugin", folder.Path("a.wfm"));
    setenv("TP_CALLBACKS", "1", 1);
    setenv("TP_RESULT", "0", 1);
    auto* host = new kvplugin::RecordingHost;
    host->calibScale = 2.5;
    host->calibAxisY = -1;
    wcscpy(host->calibUnit, L"mm");
    ASSERT_EQ(LoadFilterPlugins(Wide(folder.Folder()).c_str(), host), 1);

    CImgBuff image;
    ASSERT_EQ(image.buffer->Create(2, 2, kImgGray8), 1);
    CImgFilter* filter = CreatePluginFilter(0);
    ASSERT_NE(filter, nullptr);
    filter->visible = 1;
    folder.ClearLog();
    filter->OnFilter(&image, 0, 0, 0, 2, 2, 8, 1, nullptr, nullptr);  // here, on the user-interface thread
    EXPECT_EQ(host->Calls(), Lines({"Refilter 0", "Redraw", "Seek 5", "OnFilterUiClosed"}));
    EXPECT_EQ(filter->visible, 0u);
    Lines log = folder.LogLines();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "em_hide");
    EXPECT_EQ(log[2], "callbacks pump=1 scale=2.5 axis=-1 unit=mm");

    // The same plug-in on the chain's worker.
    host->calls.clear();
    filter->visible = 1;
    ASSERT_EQ(host->AddFilter(filter, nullptr), 1);
    folder.ClearLog();
    CImgBuff result;
    host->RequestRun(&result, &image, 0, 0);
    EXPECT_EQ(host->Calls(), Lines({"Refilter 1", "Redraw"}));
    EXPECT_EQ(filter->visible, 1u);
    log = folder.LogLines();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "callbacks pump=1 scale=2.5 axis=-1 unit=mm");

    delete host;
    UnloadFilterPlugins();
    unsetenv("TP_CALLBACKS");
    unsetenv("TP_RESULT");
    PlatDestroyWindow(window);
}

}  // namespace
