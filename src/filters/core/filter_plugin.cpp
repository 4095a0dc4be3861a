// Filter plug-in host: loading, the host callbacks, the Plugin menu list and
// the comparison of module paths.
#include "filters/core/filter_plugin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "filters/core/filterctrl.h"
#include "filters/core/imgfilter.h"
#include "filters/core/textconv.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/plat_window.h"
#include "platform/utf8.h"
#include "toolkit/fg_loop.h"

CFilterCtrl* g_FilterPluginHost = nullptr;
FilterPluginModule* g_FilterPluginTable = nullptr;
uint64_t g_FilterPluginCount = 0;

namespace {

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

void Refuse(const wchar_t* path, const char* reason, const char* detail = nullptr) {
    std::string narrow = PlatWideToUtf8(path);
    fprintf(stderr, "korvane: filter plug-in %s refused: %s%s%s\n", narrow.c_str(), reason, detail ? ": " : "",
            detail ? detail : "");
}

// A non-empty name whose last extension (after a full stop that is not the
// first character) begins with "wfm" in any case.
bool HasPluginExtension(const wchar_t* name) {
    if (!name || !name[0]) return false;
    const wchar_t* dot = wcsrchr(name, L'.');
    if (!dot || dot == name) return false;
    static const wchar_t kWfm[] = L"wfm";
    for (int i = 0; i < 3; ++i)
        if (LowerAscii(dot[1 + i]) != kWfm[i]) return false;  // stops at the terminator too
    return true;
}

// Host callbacks. They act on the host given at load time; off the
// user-interface thread only the ones that cannot touch windows act.
void HostRerun() {
    if (g_FilterPluginHost) g_FilterPluginHost->Refilter(PlatIsUiThread() ? 0 : 1);
}

// The host's redraw posts itself when called off the user-interface thread.
void HostRedraw() {
    if (g_FilterPluginHost) g_FilterPluginHost->Redraw();
}

void HostCloseUi(void* hostFilter) {
    if (!hostFilter || !PlatIsUiThread()) return;
    CImgFilter* filter = static_cast<CImgFilter*>(hostFilter);
    filter->visible = 0;
    filter->uiParent = nullptr;
    filter->ShowUi(0, nullptr);
    if (g_FilterPluginHost) g_FilterPluginHost->OnFilterUiClosed();
}

void HostSeek(uint64_t frame) {
    if (g_FilterPluginHost && PlatIsUiThread()) g_FilterPluginHost->Seek(frame);
}

int32_t HostPump() {
    if (!PlatIsUiThread()) return 1;
    return FgPumpMessages();
}

double HostCalibration(int32_t* axisY, const wchar_t** unit) {
    CFilterCtrl* host = g_FilterPluginHost;
    if (axisY) *axisY = host ? host->calibAxisY : 1;
    if (unit) *unit = host ? host->calibUnit : L"";
    return host ? host->calibScale : 1.0;
}

template <class Fn>
Fn Bind(void* library, const char* name) {
    return reinterpret_cast<Fn>(PlatGetProcAddress(library, name));
}

void ReleaseRecord(FilterPluginModule* m) {
    free(m->path);
    m->path = nullptr;
    PlatFreeLibrary(m->library);
    m->library = nullptr;
}

}  // namespace

const wchar_t* IsFilterPluginFile(const wchar_t* folder, const FgDirEntry* entry) {
    static wchar_t path[1024];
    if (!folder || !entry || entry->isFolder || !HasPluginExtension(entry->name)) return nullptr;
    // A cut path could name another file: a path that does not fit is refused.
    if (wcslen(folder) > 1023) return nullptr;
    wcscpy(path, folder);
    return FgPathAppend(path, 1024, entry->name) ? path : nullptr;
}

int32_t LoadFilterPlugins(const wchar_t* folder, CFilterCtrl* host) {
    if (!folder || !folder[0] || !host) return 0;
    UnloadFilterPlugins();
    g_FilterPluginHost = host;
    uint64_t count = 0;
    FgDirEntry* entries = FgListDirectory(folder, &count);
    for (uint64_t i = 0; i < count; ++i) {
        const wchar_t* found = IsFilterPluginFile(folder, &entries[i]);
        if (!found) {
            if (!entries[i].isFolder && HasPluginExtension(entries[i].name)) {
                std::wstring whole = std::wstring(folder) + L"/" + entries[i].name;
                Refuse(whole.c_str(), "path longer than 1023 characters");
            }
            continue;
        }
        std::wstring path = found;
        char* narrow = WideToUtf8(path.c_str());
        void* library = narrow ? PlatLoadLibrary(narrow) : nullptr;
        free(narrow);
        if (!library) {
            Refuse(path.c_str(), "cannot be loaded", PlatLibraryError());
            continue;
        }
        FilterPluginModule* grown = static_cast<FilterPluginModule*>(
            realloc(g_FilterPluginTable, (g_FilterPluginCount + 1) * sizeof(FilterPluginModule)));
        if (!grown) {
            PlatFreeLibrary(library);
            break;
        }
        g_FilterPluginTable = grown;
        FilterPluginModule* m = &g_FilterPluginTable[g_FilterPluginCount];
        *m = {};
        m->library = library;
        m->path = wcsdup(path.c_str());
        if (!m->path) {
            PlatFreeLibrary(library);
            break;
        }
        m->em_init = Bind<fp_em_init_fn>(library, "em_init");
        m->em_name = Bind<fp_em_name_fn>(library, "em_name");
        m->em_create = Bind<fp_em_create_fn>(library, "em_create");
        m->em_delete = Bind<fp_em_delete_fn>(library, "em_delete");
        const char* missing = !m->em_init     ? "em_init"
                              : !m->em_name   ? "em_name"
                              : !m->em_create ? "em_create"
                              : !m->em_delete ? "em_delete"
                                              : nullptr;
        if (missing) {
            Refuse(path.c_str(), "missing entry point", missing);
            ReleaseRecord(m);
            continue;
        }
        m->em_exit = Bind<fp_em_exit_fn>(library, "em_exit");
        m->em_show = Bind<fp_em_show_fn>(library, "em_show");
        m->em_hide = Bind<fp_em_hide_fn>(library, "em_hide");
        m->em_uilock = Bind<fp_em_uilock_fn>(library, "em_uilock");
        m->on_enable = Bind<fp_on_enable_fn>(library, "on_enable");
        m->on_lang = Bind<fp_on_lang_fn>(library, "on_lang");
        m->on_size = Bind<fp_on_size_fn>(library, "on_size");
        m->on_filter = Bind<fp_on_filter_fn>(library, "on_filter");
        m->on_overlay_view = Bind<fp_on_overlay_view_fn>(library, "on_overlay_view");
        m->on_mouse_move = Bind<fp_on_mouse_fn>(library, "on_mouse_move");
        m->on_mouse_lbutton_down = Bind<fp_on_mouse_fn>(library, "on_mouse_lbutton_down");
        m->on_mouse_lbutton_up = Bind<fp_on_mouse_fn>(library, "on_mouse_lbutton_up");
        m->on_mouse_rbutton_down = Bind<fp_on_mouse_fn>(library, "on_mouse_rbutton_down");
        m->on_mouse_rbutton_up = Bind<fp_on_mouse_fn>(library, "on_mouse_rbutton_up");
        m->caps = m->em_init(HostRerun, HostRedraw, HostCloseUi, HostSeek, HostPump, HostCalibration);
        if (m->caps == 0) {
            Refuse(path.c_str(), "em_init gave 0");
            ReleaseRecord(m);
            continue;
        }
        ++g_FilterPluginCount;
    }
    free(entries);
    if (g_FilterPluginCount == 0) {
        free(g_FilterPluginTable);
        g_FilterPluginTable = nullptr;
    }
    return g_FilterPluginTable ? 1 : 0;
}

void UnloadFilterPlugins() {
    for (uint64_t i = 0; i < g_FilterPluginCount; ++i) {
        FilterPluginModule* m = &g_FilterPluginTable[i];
        if (m->em_exit) m->em_exit();
        ReleaseRecord(m);
    }
    free(g_FilterPluginTable);
    g_FilterPluginTable = nullptr;
    g_FilterPluginCount = 0;
}

wchar_t* ListFilterPlugins(const wchar_t* language) {
    if (!g_FilterPluginTable) return nullptr;
    char* code = WideToAnsi(language);
    if (!code) return nullptr;
    std::wstring menu;
    bool ok = true;
    try {
        for (uint64_t i = 0; i < g_FilterPluginCount && ok; ++i) {
            const char* name = g_FilterPluginTable[i].em_name(code);
            wchar_t* wide = name ? AnsiToWide(name) : nullptr;
            if (!wide) {
                ok = false;
                break;
            }
            // A TAB or LF inside a name would end the menu item early.
            for (wchar_t* p = wide; *p; ++p)
                if (*p == L'\t' || *p == L'\n') *p = L' ';
            menu += wide;
            menu += L'\t';
            menu += std::to_wstring(i);
            menu += L'\n';
            free(wide);
        }
    } catch (...) {
        ok = false;
    }
    free(code);
    if (!ok) return nullptr;
    wchar_t* out = static_cast<wchar_t*>(malloc((menu.size() + 1) * sizeof(wchar_t)));
    if (out) wmemcpy(out, menu.c_str(), menu.size() + 1);
    return out;
}

int32_t CompareFilterPluginPaths(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return 1;
    size_t n = wcslen(a);
    if (n < 5 || wcslen(b) != n) return 1;
    std::wstring la(a), lb(b);
    for (wchar_t& c : la) c = LowerAscii(c);
    for (wchar_t& c : lb) c = LowerAscii(c);
    auto plugin = [n](const std::wstring& s) {
        return s.compare(n - 4, 4, L".wfm") == 0 || s.compare(n - 4, 4, L".lfm") == 0;
    };
    if (!plugin(la) || !plugin(lb)) return 1;
    return la.compare(0, n - 4, lb, 0, n - 4) == 0 ? 0 : 1;
}
