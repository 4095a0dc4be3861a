// Filter plug-in host: loads the *.wfm libraries of the plugin folder, binds
// their entry points, initialises them with the host callbacks, lists them
// for the Plugin menu and unloads them. Loading, listing and unloading run
// on the user-interface thread.
#pragma once

#include <cstdint>

#include "korvane/filter_plugin.h"

class CFilterCtrl;
struct FgDirEntry;

// One accepted library; its index in the table is its module index.
struct FilterPluginModule {
    void* library;
    wchar_t* path;  // malloc: folder, '/', file name
    uint32_t caps;  // result of em_init
    fp_em_init_fn em_init;
    fp_em_exit_fn em_exit;
    fp_em_name_fn em_name;
    fp_em_create_fn em_create;
    fp_em_delete_fn em_delete;
    fp_em_show_fn em_show;
    fp_em_hide_fn em_hide;
    fp_em_uilock_fn em_uilock;
    fp_on_enable_fn on_enable;
    fp_on_lang_fn on_lang;
    fp_on_size_fn on_size;
    fp_on_filter_fn on_filter;
    fp_on_overlay_view_fn on_overlay_view;
    fp_on_mouse_fn on_mouse_move;
    fp_on_mouse_fn on_mouse_lbutton_down;
    fp_on_mouse_fn on_mouse_lbutton_up;
    fp_on_mouse_fn on_mouse_rbutton_down;
    fp_on_mouse_fn on_mouse_rbutton_up;
};

extern CFilterCtrl* g_FilterPluginHost;
extern FilterPluginModule* g_FilterPluginTable;  // malloc; null when none is registered
extern uint64_t g_FilterPluginCount;

// Loads every plug-in of the folder with `host` as the callbacks' target;
// 1 when at least one is registered. A refused library is reported by one
// line on stderr.
int32_t LoadFilterPlugins(const wchar_t* folder, CFilterCtrl* host);
// em_exit of each module, then its library is released. Every plug-in
// filter must have been deleted first.
void UnloadFilterPlugins();
// Plugin menu text: one line "name<TAB>index<LF>" per module (TAB and LF in
// a name become blanks); malloc'd, null without modules, for a language
// that cannot be converted or when a module gives no name.
wchar_t* ListFilterPlugins(const wchar_t* language);
// 0 when both paths name the same module (case-free, ".wfm" and ".lfm"
// alike), non-zero otherwise.
int32_t CompareFilterPluginPaths(const wchar_t* a, const wchar_t* b);
// The full path of a plug-in file of the folder (an extension starting with
// "wfm" in any case) in a static buffer valid until the next call; null for
// other entries and for a path longer than 1023 characters.
const wchar_t* IsFilterPluginFile(const wchar_t* folder, const FgDirEntry* entry);
