#include "filters/processing/filter_file.h"

#include <cwchar>
#include <string>

#include "filters/core/cfgfile.h"
#include "filters/core/filterctrl.h"
#include "filters/core/imgfilter.h"
#include "filters/processing/filter_settings.h"
#include "media/codec.h"
#include "platform/config_dir.h"
#include "platform/files.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

namespace {

bool Japanese(const CImgFilter* filter) { return filter->language == L"jp"; }
const wchar_t* Text(const CImgFilter* filter, const wchar_t* jp, const wchar_t* en) {
    return Japanese(filter) ? jp : en;
}

// Runs the file selection with the folder of other selections kept.
bool AskPath(CImgFilter* filter, CFgScreen* panel, const FilterFileKind& kind, bool save, wchar_t* path) {
    wchar_t kept[kFgPathMax + 1];
    std::wcsncpy(kept, g_LastFileDir, kFgPathMax + 1);
    wchar_t start[kFgPathMax + 1];
    std::wcsncpy(start, FgGetConfigDir(0), kFgPathMax);
    start[kFgPathMax] = L'\0';
    const std::wstring name = std::wstring(L"temp.") + kind.extension;
    if (!FgPathAppend(start, kFgPathMax + 1, name.c_str())) start[0] = L'\0';
    FgSelectFileOptions options;
    options.title = save ? Text(filter, L"保存するファイル名を選択", L"select file name to save")
                         : Text(filter, L"ファイルを選択", L"select file");
    options.startPath = start;
    options.extensions = kind.extension;
    path[0] = L'\0';
    const bool chosen = FgSelectFile(path, kFgPathMax, &options, panel) && path[0];
    FgSetLastFileDir(kept);
    return chosen;
}

void Message(CImgFilter* filter, CFgScreen* panel, const wchar_t* jp, const wchar_t* en, bool error) {
    FgMessageBox(Text(filter, jp, en), error ? Text(filter, L"エラー", L"error") : Text(filter, L"確認", L"confirmation"),
                 1, panel);
}

void RerunWhenOn(CImgFilter* filter) {
    if (filter->enabled && filter->owner) filter->owner->Refilter(0);
}

}  // namespace

bool LutVersionReadable(const wchar_t* text) {
    const int32_t v = SettingTextToInt32(text);
    return v == 0 || v == 1;
}

bool FmxVersionReadable(const wchar_t* text) { return SettingTextToUInt32(text) < 2; }

int32_t OpenFilterFile(CImgFilter* filter, CFgScreen* panel, const FilterFileKind& kind) {
    wchar_t path[kFgPathMax + 1];
    if (!filter || !AskPath(filter, panel, kind, false, path)) return 0;
    CCfgFile file;
    const wchar_t* id = filter->GetId();
    CCfgPack* section = nullptr;
    if (file.Load(path) && id[0])
        for (CCfgPack* p = file.firstPack; p && !section; p = p->next)
            if (std::wcscmp(p->name, id) == 0) section = p;
    if (!section) {
        Message(filter, panel, L"ロードできませんでした", L"loading failed", true);
        RerunWhenOn(filter);
        return 0;
    }
    const wchar_t* version = CfgFindValue(section, kind.versionKey);
    if (!version) {
        Message(filter, panel, L"ロードできませんでした", L"loading failed", true);
        return 0;
    }
    if (!kind.versionReadable(version)) {
        Message(filter, panel, L"より新しいバージョンで作成されたファイルなので読めません",
                L"It is a file created with a newer version and can not be read", true);
        return 0;
    }
    filter->LoadConfig(section);
    RerunWhenOn(filter);
    return 1;
}

int32_t SaveFilterFile(CImgFilter* filter, CFgScreen* panel, const FilterFileKind& kind) {
    wchar_t path[kFgPathMax + 1];
    if (!filter || !AskPath(filter, panel, kind, true, path)) return 0;
    if (codec_file_exists(path) &&
        FgMessageBox(Text(filter, L"上書き保存しますか？", L"Do you want to overwrite it?"),
                     Text(filter, L"確認", L"confirmation"), 2, panel) != 1)
        return 0;
    CCfgFile file;
    CCfgPack* section = file.AddPack(filter->GetId());
    bool ok = section && section->AddItem(kind.versionKey, L"1");
    if (ok) filter->SaveConfig(section);
    // Written beside the old file and renamed over it only when complete.
    ok = ok && file.Save(path);
    if (ok)
        Message(filter, panel, L"セーブしました", L"saved", false);
    else
        Message(filter, panel, L"セーブできませんでした", L"saving failed", true);
    return ok ? 1 : 0;
}
