// Filter plug-in host and adapter: loading folders of good and broken
// plug-ins, file names, path comparison, the Plugin menu text, forwarding of
// every slot, the pixel type a plug-in works on against the pixel-format
// oracle (tests/image/oracle/pixel_rules.py), the overlay transform, a frame
// through a real chain on the worker and the order of deletion and exit.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "filters/core/filter_plugin.h"
#include "filters/core/filterctrl.h"
#include "filters/core/lf_plugin.h"
#include "image/imgbuff.h"
#include "platform/files.h"
#include "support/plugin_support.h"
#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;
using kvplugin::Install;
using kvplugin::PluginFolder;
using Lines = std::vector<std::string>;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

int CountLines(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

TEST(FilterPluginHost, LoaderKeepsGoodPluginsAndRefusesBrokenOnesWithOneLineEach) {
    PluginFolder folder;
    Install("tp_plugin", folder.Path("a.wfm"));
    Install("tp_plugin", folder.Path("B.WFM"));
    Install("tp_plugin", folder.Path("c.WfMx"));
    Install("tp_minimal", folder.Path("j_minimal.wfm"));
    Install("tp_plugin", folder.Path("d.wf"));
    Install("tp_plugin", folder.Path(".wfm"));
    fs::create_directory(folder.Path("e.wfm"));
    Install("tp_init_zero", folder.Path("f_zero.wfm"));
    Install("tp_no_name", folder.Path("g_noname.wfm"));
    Install("tp_unresolved", folder.Path("h_unresolved.wfm"));
    kvtest::WriteFileBytes(folder.Path("i_text.wfm"), "text\n");
    kvplugin::RecordingHost host;

    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadFilterPlugins(Wide(folder.Folder()).c_str(), &host), 1);
    std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(g_FilterPluginCount, 4u);
    EXPECT_EQ(g_FilterPluginHost, &host);
    // In listing order: code units, capitals first.
    const char* kept[] = {"B.WFM", "a.wfm", "c.WfMx", "j_minimal.wfm"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::wstring(g_FilterPluginTable[i].path), Wide(folder.Path(kept[i])));
        EXPECT_EQ(g_FilterPluginTable[i].caps, 0x1FFu);
    }
    EXPECT_NE(g_FilterPluginTable[0].on_filter, nullptr);
    EXPECT_EQ(g_FilterPluginTable[3].on_filter, nullptr);  // the minimal plug-in
    EXPECT_EQ(g_FilterPluginTable[3].em_exit, nullptr);

    EXPECT_EQ(CountLines(log), 4) << log;
    EXPECT_NE(log.find("f_zero.wfm refused: em_init gave 0"), std::string::npos) << log;
    EXPECT_NE(log.find("g_noname.wfm refused: missing entry point: em_name"), std::string::npos) << log;
    EXPECT_NE(log.find("h_unresolved.wfm refused: cannot be loaded: "), std::string::npos) << log;
    EXPECT_NE(log.find("tp_symbol_nobody_defines"), std::string::npos) << log;
    EXPECT_NE(log.find("i_text.wfm refused: cannot be loaded"), std::string::npos) << log;
    EXPECT_EQ(dlopen(folder.Path("f_zero.wfm").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    EXPECT_EQ(dlopen(folder.Path("g_noname.wfm").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);

    // A minimal plug-in makes filters that never process images.
    CImgFilter* minimal = CreatePluginFilter(3);
    ASSERT_NE(minimal, nullptr);
    CImgBuff image;
    ASSERT_EQ(image.buffer->Create(2, 2, kImgGray8), 1);
    EXPECT_EQ(minimal->OnFilter(&image, 0, 0, 0, 2, 2, 8, 1, nullptr, nullptr), 0);
    delete minimal;

    folder.ClearLog();
    UnloadFilterPlugins();
    EXPECT_EQ(g_FilterPluginTable, nullptr);
    EXPECT_EQ(g_FilterPluginCount, 0u);
    EXPECT_EQ(folder.LogLines(), Lines({"em_exit", "em_exit", "em_exit"}));
    EXPECT_EQ(dlopen(folder.Path("a.wfm").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(FilterPluginHost, FolderWithoutPluginsOrHostLeavesNoTable) {
    PluginFolder folder;
    kvplugin::RecordingHost host;
    Install("tp_plugin", folder.Path("x.dll"));
    EXPECT_EQ(LoadFilterPlugins(Wide(folder.Folder()).c_str(), &host), 0);
    EXPECT_EQ(g_FilterPluginTable, nullptr);
    EXPECT_EQ(ListFilterPlugins(L"en"), nullptr);
    EXPECT_EQ(CreatePluginFilter(0), nullptr);
    Install("tp_plugin", folder.Path("x.wfm"));
    EXPECT_EQ(LoadFilterPlugins(L"", &host), 0);
    EXPECT_EQ(LoadFilterPlugins(Wide(folder.Folder()).c_str(), nullptr), 0);
    EXPECT_EQ(g_FilterPluginTable, nullptr);
}

TEST(FilterPluginHost, PluginFileNames) {
    struct Case {
        const wchar_t* name;
        int32_t isFolder;
        bool plugin;
    } cases[] = {{L"x.wfm", 0, true},   {L"X.WFM", 0, true},  {L"x.WfM", 0, true}, {L"x.wfmx", 0, true},
                 {L"a.b.wfm", 0, true}, {L"x.wf", 0, false},  {L".wfm", 0, false}, {L"x.wfm", 1, false},
                 {L"", 0, false},       {L"wfm", 0, false},   {L"x.wfm.so", 0, false}};
    for (const Case& c : cases) {
        FgDirEntry entry = {};
        wcscpy(entry.name, c.name);
        entry.isFolder = c.isFolder;
        const wchar_t* path = IsFilterPluginFile(L"/opt/k/plugin", &entry);
        EXPECT_EQ(path != nullptr, c.plugin) << c.name;
        if (path) { EXPECT_EQ(std::wstring(path), std::wstring(L"/opt/k/plugin/") + c.name); }
    }
    FgDirEntry entry = {};
    wcscpy(entry.name, L"x.wfm");
    EXPECT_STREQ(IsFilterPluginFile(L"/opt/k/plugin/", &entry), L"/opt/k/plugin/x.wfm");
    // A joined path over 1023 characters is refused, not cut.
    std::wstring folder = L"/" + std::wstring(1016, L'd');
    EXPECT_NE(IsFilterPluginFile(folder.c_str(), &entry), nullptr);  // 1017 + 1 + 5 = 1023 characters
    folder += L'd';
    EXPECT_EQ(IsFilterPluginFile(folder.c_str(), &entry), nullptr);
}

TEST(FilterPluginHost, PathComparison) {
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    } cases[] = {
        {L"/p/Blur.wfm", L"/P/bLUR.LFM", true},  {L"/p/blur.wfm", L"/p/blur.wfm", true},
        {L"/p/blur.lfm", L"/p/blur.wfm", true},  {L"/p/blur.wfm", L"/p/blurr.wfm", false},
        {L"/p/blur.wfm", L"/p/blue.wfm", false}, {L"/p/blur.dll", L"/p/blur.dll", false},
        {L"/p/x.wfmx", L"/p/x.wfmx", false},     {L"", L"", false},
        {L".wfm", L".wfm", false},               {L"a.wfm", L"A.WFM", true},
        {nullptr, L"a.wfm", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareFilterPluginPaths(c.a, c.b) == 0, c.same) << (c.a ? c.a : L"null") << " " << c.b;
}

TEST(FilterPluginHost, MenuTextOneLinePerModule) {
    kvplugin::RecordingHost host;
    {
        PluginFolder folder;
        Install("tp_plugin", folder.Path("a.wfm"));
        Install("tp_tab_name", folder.Path("b.wfm"));
        ASSERT_EQ(LoadFilterPlugins(Wide(folder.Folder()).c_str(), &host), 1);
        wchar_t* menu = ListFilterPlugins(L"en");
        ASSERT_NE(menu, nullptr);
        // TAB and LF inside a name become blanks.
        EXPECT_STREQ(menu, L"Test plug-in\t0\nTab here and a line\t1\n");
        free(menu);
        menu = ListFilterPlugins(L"jp");
        ASSERT_NE(menu, nullptr);
        EXPECT_STREQ(menu, L"テスト\t0\nテスト\t1\n");
        free(menu);
    }
    {
        PluginFolder folder;
        Install("tp_plugin", folder.Path("a.wfm"));
        Install("tp_null_name", folder.Path("b.wfm"));
        ASSERT_EQ(LoadFilterPlugins(Wide(folder.Folder()).c_str(), &host), 1);
        EXPECT_EQ(ListFilterPlugins(L"en"), nullptr);
    }
}

class PluginAdapter : public ::testing::Test {
protected:
    void SetUp() override {
        Install("tp_plugin", folder_.Path("a.wfm"));
        ASSERT_EQ(LoadFilterPlugins(Wide(folder_.Folder()).c_str(), &host_), 1);
        folder_.ClearLog();
    }
    PluginFolder folder_;
    kvplugin::RecordingHost host_;
};

TEST_F(PluginAdapter, MakersBindByIndexOrPath) {
    CImgFilter* byIndex = CreatePluginFilter(0);
    ASSERT_NE(byIndex, nullptr);
    EXPECT_EQ(std::wstring(byIndex->GetId()), Wide(folder_.Path("a.wfm")));
    // A saved ".lfm" path names the ".wfm" module.
    CImgFilter* byPath = CreatePluginFilterByPath(Wide(folder_.Path("A.LFM")).c_str());
    ASSERT_NE(byPath, nullptr);
    EXPECT_EQ(CreatePluginFilterByPath(Wide(folder_.Path("b.wfm")).c_str()), nullptr);
    EXPECT_EQ(CreatePluginFilterByPath(L""), nullptr);
    EXPECT_EQ(CreatePluginFilter(1), nullptr);
    delete byIndex;
    delete byPath;
    // Unmatched adapters were deleted without an instance.
    EXPECT_EQ(folder_.LogLines(), Lines({"em_create", "em_create", "em_delete", "em_delete"}));

    CLfPlugin unbound(static_cast<uint64_t>(7));
    EXPECT_EQ(unbound.instance, nullptr);
    EXPECT_EQ(unbound.GetId(), nullptr);
    EXPECT_EQ(unbound.GetName(L"en"), nullptr);
    EXPECT_EQ(unbound.HasUi(), 0);
}

TEST_F(PluginAdapter, SlotsForwardToTheEntryPoints) {
    CLfPlugin filter(static_cast<uint64_t>(0));
    ASSERT_NE(filter.instance, nullptr);
    const wchar_t* first = filter.GetName(L"en");
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, L"Test plug-in");
    EXPECT_STREQ(filter.GetName(L"jp"), L"テスト");  // the first cached name was freed (sanitizer build)
    EXPECT_EQ(filter.HasUi(), 1);
    filter.EnableUi(0);
    filter.EnableUi(1);
    filter.OnEnable(1);
    filter.ShowUi(1, nullptr);
    filter.ShowUi(0, nullptr);
    filter.OnLang(L"en");
    filter.OnLang(L"jp");
    filter.OnSize(640, 480, 6, 12);
    filter.OnMouseMove(3, 4, 1);
    filter.OnLButtonDown(5, 6, 2);
    filter.OnLButtonUp(7, 8, 3);
    filter.OnRButtonDown(-1, 9, 0);
    filter.OnRButtonUp(10, 11, 0);
    EXPECT_EQ(folder_.LogLines(),
              Lines({"em_create", "em_name en", "em_name jp", "em_uilock 1", "em_uilock 0", "on_enable 1",
                     "em_show 0", "em_hide", "on_lang en", "on_lang jp", "on_size 640 480 48 12", "move 3 4 1",
                     "ldown 5 6 2", "lup 7 8 3", "rdown -1 9 0", "rup 10 11 0"}));
    g_FilterPluginTable[0].caps = 0x7F;
    EXPECT_EQ(filter.HasUi(), 0);
}

TEST_F(PluginAdapter, OverlayTransformByZoomAndFittedSpans) {
    CLfPlugin filter(static_cast<uint64_t>(0));
    OverlaySetTextureTarget(4096, 4096);
    struct Case {
        int32_t dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoom;
        double ax, ay, bx, by;  // display points of (ix0, iy0) and (ix1, iy1)
    } cases[] = {
        {10, 20, 409, 319, 0, 0, 199, 149, 2, 10, 20, 408, 318},
        {10, 20, 109, 69, 0, 0, 399, 199, -4, 10, 20, 109.75, 69.75},
        {0, 0, 299, 199, 100, 50, 399, 249, 0, 0, 0, 299, 199},
        // One visible column and row: the counts stand in for the zero spans.
        {0, 0, 99, 49, 7, 9, 7, 9, -1, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        folder_.ClearLog();
        filter.OnOverlayView(nullptr, nullptr, nullptr, nullptr, c.dx0, c.dy0, c.dx1, c.dy1, c.ix0, c.iy0, c.ix1,
                             c.iy1, c.zoom);
        Lines log = folder_.LogLines();
        ASSERT_EQ(log.size(), 1u);
        char expected[256];
        double ax = c.ax, ay = c.ay, bx = c.bx, by = c.by;
        OverlayPixelToGl(&ax, &ay);
        OverlayPixelToGl(&bx, &by);
        snprintf(expected, sizeof expected, "on_overlay_view 1 0 0 %d %d %d %d %d %d %d %d %d -> %g %g %g %g", c.dx0,
                 c.dy0, c.dx1, c.dy1, c.ix0, c.iy0, c.ix1, c.iy1, c.zoom, ax, ay, bx, by);
        EXPECT_EQ(log[0], expected);
        EXPECT_TRUE(std::isfinite(ax) && std::isfinite(bx));
    }
    OverlaySetTextureTarget(0, 0);
}

// Every pixel format against every single accepted type and a few sets:
// the type the plug-in works on follows the conversion order, the pixels it
// sees are the oracle's conversion, and a changed result comes back as the
// oracle's conversion of the changed pixels.
const char kPixelOracle[] = R"PY(
import struct, sys
sys.path.insert(0, sys.argv[1])
import pixel_rules as pr
folder = sys.argv[2]
PACK = {1: 'B', 2: 'H', 3: 'I', 4: 'BBB', 5: 'HHH', 6: 'III', 7: 'ddd', 8: 'HHH', 9: 'BBBB'}
MAX = {1: 255, 2: 65535, 3: 4294967295, 4: 255, 5: 65535, 6: 4294967295, 8: 65535, 9: 255}
def pack(fmt, pixels):
    return b''.join(struct.pack('<' + PACK[fmt], *p) for p in pixels)
def unpack(fmt, data):
    n = struct.calcsize('<' + PACK[fmt])
    return [struct.unpack_from('<' + PACK[fmt], data, i) for i in range(0, len(data), n)]
def invert(fmt, p):
    return tuple(-v for v in p) if fmt == 7 else tuple(MAX[fmt] - v for v in p)
def close(a, b):
    if len(a) != len(b): return False
    for x, y in zip(a, b):
        if isinstance(x, float) or isinstance(y, float):
            if not (x == y or abs(x - y) <= 1e-9 * max(1.0, abs(x), abs(y))): return False
        elif x != y: return False
    return True
if sys.argv[3] == 'make':
    for f in range(1, 10):
        open(f'{folder}/src{f}.bin', 'wb').write(pack(f, pr.SAMPLES[f]))
    sys.exit(0)
bad = 0
for line in open(f'{folder}/cases.txt'):
    src, mask, work = map(int, line.split())
    px = pr.SAMPLES[src]
    own = {1: 1, 2: 2, 3: 3, 4: 4, 5: 5, 6: 6, 7: 7, 8: 5, 9: 3}[src]
    if work == own:
        seen = list(px)
        back = [invert(src, p) for p in px]
    else:
        seen = [pr.convert(src, work, p) for p in px]
        back = [pr.convert(work, src, invert(work, s)) for s in seen]
    got_seen = unpack(src if work == own else work, open(f'{folder}/seen{src}_{mask}.bin', 'rb').read())
    got_back = unpack(src, open(f'{folder}/back{src}_{mask}.bin', 'rb').read())
    if not all(close(a, b) for a, b in zip(seen, got_seen)) or len(seen) != len(got_seen):
        print('seen', src, mask, work, seen, got_seen); bad += 1
    if (len(back) != len(got_back) or not all(close(a, b) for a, b in zip(back, got_back))):
        print('back', src, mask, work, back, got_back); bad += 1
print('bad', bad)
)PY";

TEST_F(PluginAdapter, PixelTypeOrderAndConversionsMatchThePixelOracle) {
    if (kvtest::DebianPython().empty()) GTEST_SKIP() << "no Debian python3";
    const std::string oracleDir = std::string(KV_SOURCE_DIR) + "/tests/image/oracle";
    kvtest::TempDir dir("pluginpixels");
    std::string out;
    ASSERT_EQ(kvtest::RunPython(kPixelOracle, {oracleDir, dir.path(), "make"}, &out), 0) << out;

    // Expected work type by image bytes per pixel: own type, then the order.
    struct Row {
        int32_t bytes;
        int32_t own;
        int32_t order[6];
    } rows[] = {{1, 1, {2, 3, 4, 5, 6, 7}}, {2, 2, {3, 5, 6, 7, 1, 4}}, {4, 3, {6, 7, 2, 5, 1, 4}},
                {3, 4, {6, 5, 7, 1, 2, 3}}, {6, 5, {6, 7, 4, 2, 3, 1}}, {12, 6, {7, 5, 4, 3, 2, 1}},
                {24, 7, {6, 5, 4, 3, 2, 1}}};
    const uint32_t masks[] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x7F, 0x41, 0x12, 0x24, 0x00, 0x100};
    std::string cases;
    setenv("TP_PIXELS", dir.file("seen.bin").c_str(), 1);
    for (int32_t f = 1; f <= 9; ++f) {
        std::string src = kvtest::ReadFileBytes(dir.file("src" + std::to_string(f) + ".bin"));
        int32_t bytes = ImgFormatBytes(f);
        const Row* row = nullptr;
        for (const Row& r : rows)
            if (r.bytes == bytes) row = &r;
        ASSERT_NE(row, nullptr);
        for (uint32_t mask : masks) {
            SCOPED_TRACE("format " + std::to_string(f) + " mask " + std::to_string(mask));
            int32_t expected = 0;
            if ((mask >> (row->own - 1)) & 1) {
                expected = row->own;
            } else {
                for (int32_t t : row->order)
                    if (!expected && ((mask >> (t - 1)) & 1)) expected = t;
            }
            EXPECT_EQ(PluginWorkType(mask, bytes), expected);
            g_FilterPluginTable[0].caps = mask;
            CLfPlugin filter(static_cast<uint64_t>(0));
            CImgBuff image;
            int32_t n = static_cast<int32_t>(src.size() / bytes);
            ASSERT_EQ(image.buffer->Create(n, 1, f), 1);
            memcpy(image.buffer->pixels, src.data(), src.size());
            std::remove(dir.file("seen.bin").c_str());
            folder_.ClearLog();
            int32_t changed = filter.OnFilter(&image, 3, 0, 0, n, 1, 8, 1, nullptr, nullptr);
            if (!expected) {
                EXPECT_EQ(changed, 0);
                EXPECT_FALSE(fs::exists(dir.file("seen.bin")));  // never called
                EXPECT_EQ(memcmp(image.buffer->pixels, src.data(), src.size()), 0);
                continue;
            }
            EXPECT_EQ(changed, 1);
            Lines log = folder_.LogLines();
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0], "on_filter " + std::to_string(ImgFormatBytes(expected) * 8) + " " + std::to_string(n) +
                                  " 1 3 0 0 " + std::to_string(n - 1) + " 0 8 1");
            EXPECT_EQ(image.buffer->format, f);
            fs::rename(dir.file("seen.bin"), dir.file("seen" + std::to_string(f) + "_" + std::to_string(mask) + ".bin"));
            kvtest::WriteFileBytes(dir.file("back" + std::to_string(f) + "_" + std::to_string(mask) + ".bin"),
                                   std::string(reinterpret_cast<char*>(image.buffer->pixels), src.size()));
            cases += std::to_string(f) + " " + std::to_string(mask) + " " + std::to_string(expected) + "\n";
        }
    }
    unsetenv("TP_PIXELS");
    kvtest::WriteFileBytes(dir.file("cases.txt"), cases);
    ASSERT_EQ(kvtest::RunPython(kPixelOracle, {oracleDir, dir.path(), "check"}, &out), 0) << out;
    EXPECT_EQ(out, "bad 0\n");
}

TEST_F(PluginAdapter, UnchangedResultLeavesTheFrame) {
    setenv("TP_RESULT", "0", 1);
    g_FilterPluginTable[0].caps = 0x01;  // 8-bit grey only
    CLfPlugin filter(static_cast<uint64_t>(0));
    CImgBuff image;
    ASSERT_EQ(image.buffer->Create(3, 2, kImgRgb8), 1);
    image.buffer->SetPixelRgb8(1, 1, 200, 100, 50);
    CImgBuff before;
    before.CopyFrom(&image);
    EXPECT_EQ(filter.OnFilter(&image, 0, 0, 0, 3, 2, 8, 1, nullptr, nullptr), 0);
    EXPECT_EQ(image.buffer->format, kImgRgb8);
    EXPECT_EQ(memcmp(image.buffer->pixels, before.buffer->pixels, 18), 0);
    unsetenv("TP_RESULT");
}

// A frame through a real chain: the worker runs the adapter; deleting the
// chain deletes every instance, all before the module's em_exit.
TEST_F(PluginAdapter, FrameThroughAChainOnTheWorker) {
    CImgBuff source, result;
    ASSERT_EQ(source.buffer->Create(4, 3, kImgRgb8), 1);
    for (int32_t i = 0; i < 36; ++i) source.buffer->pixels[i] = static_cast<uint8_t>(i * 7);
    {
        auto* host = new kvplugin::RecordingHost;
        g_FilterPluginHost = host;
        host->SetSourceFormat(4, 3, 3, 10);
        CImgFilter* a = CreatePluginFilter(0);
        CImgFilter* b = CreatePluginFilter(0);
        ASSERT_NE(a, nullptr);
        ASSERT_EQ(host->AddFilter(a, nullptr), 1);
        ASSERT_EQ(host->AddFilter(b, nullptr), 1);
        host->RequestRun(&result, &source, 6, 0);
        ASSERT_EQ(result.buffer->format, kImgRgb8);
        // Two inversions give the frame back.
        EXPECT_EQ(memcmp(result.buffer->pixels, source.buffer->pixels, 36), 0);
        host->RemoveFilter(1);
        host->RequestRun(&result, &source, 7, 0);
        for (int32_t i = 0; i < 36; ++i) EXPECT_EQ(result.buffer->pixels[i], static_cast<uint8_t>(~(i * 7))) << i;
        delete host;  // deletes the chains' filters
    }
    UnloadFilterPlugins();
    Lines log = folder_.LogLines();
    int filters = 0;
    for (const std::string& l : log) filters += l.rfind("on_filter 24 4 3 ", 0) == 0;
    EXPECT_EQ(filters, 3);
    EXPECT_NE(std::find(log.begin(), log.end(), "on_filter 24 4 3 7 0 0 3 2 8 1"), log.end());
    EXPECT_EQ(std::count(log.begin(), log.end(), "em_delete"), 2);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "em_exit");  // after every deletion
    EXPECT_EQ(std::count(log.begin(), log.end(), "em_exit"), 1);
}

}  // namespace
