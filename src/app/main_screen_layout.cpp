// Layout of the window, the busy lock, the language switch, the guide colour,
// connectivity, the side panel's showing and hiding, and the File menu's
// filter-list commands.
#include <cwchar>

#include "app/main_screen.h"
#include "media/codec.h"
#include "platform/config_dir.h"
#include "platform/files.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

void CMainScreen::Layout() {
    const int64_t w = static_cast<int64_t>(width), h = static_cast<int64_t>(height);
    const int64_t fontHeight = font.height ? static_cast<int64_t>(font.height) : 14;
    const int64_t top = fontHeight + 8;
    const int64_t avail = h - top;
    auto set = [](int32_t* r, int64_t x, int64_t y, int64_t rw, int64_t rh) {
        r[0] = static_cast<int32_t>(x);
        r[1] = static_cast<int32_t>(y);
        r[2] = static_cast<int32_t>(rw);
        r[3] = static_cast<int32_t>(rh);
    };
    set(pictureRect, 0, top, w, avail);
    sceneBarRect[0] = 0;
    sceneBarRect[2] = static_cast<int32_t>(w);
    if (sidePanelShown) {
        pictureRect[2] = static_cast<int32_t>(w - 184);
        set(sidePanelRect, w - 184, top, 184, avail);
    }
    if (sceneBarShown) {
        set(sceneBarRect, 0, top + avail - 40, w, 40);
        pictureRect[3] = static_cast<int32_t>(avail - 40);
        sidePanelRect[3] = static_cast<int32_t>(avail - 40);
    }
    picture.SetRect(pictureRect[0], pictureRect[1], pictureRect[2], pictureRect[3]);
    if (sceneBarShown && sceneBarRect[2] >= 1 && sceneBarRect[3] >= 1)
        sceneBar.SetRect(sceneBarRect[0], sceneBarRect[1], sceneBarRect[2], sceneBarRect[3]);
    sceneBar.Layout();
    if (sidePanelShown && sidePanelRect[2] >= 1 && sidePanelRect[3] >= 1)
        sidePanel.SetRect(sidePanelRect[0], sidePanelRect[1], sidePanelRect[2], sidePanelRect[3]);
    sidePanel.Layout();
    CFgUIDialog::Redraw();
}

void CMainScreen::ApplyLocks() {
    // The busy lock of an open or a save leaves the composite dialog live;
    // a filter's run locks it too, since its commands change the chain's input.
    const int32_t main = busyCount == 0 && !runLocked ? 1 : 0;
    EnableAll(main);
    calibration.EnableAll(main);
    playEdit.EnableAll(main);
    saveSettings.EnableAll(main);
    composite.EnableAll(runLocked ? 0 : 1);
}

void CMainScreen::LockDialogs() {
    if (busyCount != UINT32_MAX) ++busyCount;
    if (busyCount == 1) ApplyLocks();
}

void CMainScreen::UnlockDialogs() {
    if (busyCount == 0) return;
    if (--busyCount == 0) ApplyLocks();
}

void CMainScreen::LockForRun(int32_t lock) {
    runLocked = lock ? 1 : 0;
    ApplyLocks();
}

void CMainScreen::SetLanguage(const wchar_t* code) {
    if (!code || sidePanel.language == code) return;
    sidePanel.SetLanguage(code);
    sidePanel.Refilter(0);
    calibration.SetLanguage(code);
    playEdit.SetLanguage(code);
    saveSettings.SetLanguage(code);
    composite.SetLanguage(code);
    BuildMenus();
    Layout();
}

void CMainScreen::SetGuideColor(uint32_t index) {
    static const double kGuide[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                        {0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {1, 1, 1}};
    if (index > 7) return;
    guideColor = index;
    sidePanel.SetGuideColor(kGuide[index][0], kGuide[index][1], kGuide[index][2]);
    CFgUIDialog::Redraw();
}

int32_t CMainScreen::SetConnect(uint32_t n) {
    if (n != 4 && n != 8) return 0;
    if (sidePanel.connect.load() == n) return 1;
    sidePanel.connect.store(n);
    sidePanel.Refilter(0);
    return 1;
}

void CMainScreen::ShowSidePanel() {
    if (sidePanelShown) return;
    sidePanelShown = 1;
    Layout();
    sidePanel.SetVisible(1, 0);
}

void CMainScreen::HideSidePanel() {
    if (!sidePanelShown) return;
    sidePanel.SetVisible(0, 0);
    sidePanelShown = 0;
    Layout();
}

int32_t CMainScreen::AddFilterToChain(CImgFilter* filter, int32_t run) {
    const int32_t added = sidePanel.AddFilter(filter);
    if (added) ShowSidePanel();
    if (run) RunFilterChain(0);
    return added;
}

namespace {

// The name a filter-list selection starts with: the last list, else
// "korvane.ifl" in the settings folder.
void ProposedListName(const wchar_t* last, wchar_t* out) {
    if (last && last[0]) {
        std::wcsncpy(out, last, kFgPathMax);
        out[kFgPathMax] = 0;
        return;
    }
    std::wcsncpy(out, FgGetConfigDir(1), kFgPathMax);
    out[kFgPathMax] = 0;
    if (!FgPathAppend(out, kFgPathMax + 1, L"korvane.ifl")) out[0] = 0;
}

}  // namespace

void CMainScreen::LoadFilterListCommand() {
    wchar_t keptFolder[kFgPathMax + 1];
    std::wcsncpy(keptFolder, g_LastFileDir, kFgPathMax + 1);
    wchar_t name[kFgPathMax + 1] = {};
    wchar_t proposed[kFgPathMax + 1] = {};
    ProposedListName(filterListPath, proposed);
    FgSelectFileOptions options;
    options.title = Text(L"ファイルを選択", L"select file");
    options.startPath = proposed;
    options.extensions = L"ifl";
    if (FgSelectFile(name, kFgPathMax + 1, &options, this) && name[0]) {
        if (ReadFilterListFile(name)) {
            std::wcsncpy(filterListPath, name, kMainPathMax - 1);
        } else {
            FgMessageBox(Text(L"ロードできませんでした", L"loading failed"), Text(L"エラー", L"error"), 1, this);
        }
    }
    FgSetLastFileDir(keptFolder);
}

void CMainScreen::SaveFilterListCommand() {
    wchar_t keptFolder[kFgPathMax + 1];
    std::wcsncpy(keptFolder, g_LastFileDir, kFgPathMax + 1);
    wchar_t name[kFgPathMax + 1] = {};
    wchar_t proposed[kFgPathMax + 1] = {};
    ProposedListName(filterListPath, proposed);
    FgSelectFileOptions options;
    options.title = Text(L"保存するファイル名を選択", L"select file name to save");
    options.startPath = proposed;
    options.extensions = L"ifl";
    if (FgSelectFile(name, kFgPathMax + 1, &options, this) && name[0]) {
        const bool exists = codec_file_exists(name) != 0;
        if (!exists || FgMessageBox(Text(L"上書き保存しますか？", L"Do you want to overwrite it?"),
                                    Text(L"確認", L"confirmation"), 2, this) == 1) {
            if (WriteFilterListFile(name)) {
                FgMessageBox(Text(L"セーブしました", L"saved"), Text(L"確認", L"confirmation"), 1, this);
                std::wcsncpy(filterListPath, name, kMainPathMax - 1);
            } else {
                FgMessageBox(Text(L"セーブできませんでした", L"saving failed"), Text(L"エラー", L"error"), 1, this);
            }
        }
    }
    FgSetLastFileDir(keptFolder);
}
