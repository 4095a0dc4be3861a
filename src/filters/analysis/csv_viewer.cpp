#include "filters/analysis/csv_viewer.h"

#include <algorithm>
#include <cwchar>

#include "media/codec.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

CCsvViewer::CCsvViewer() {
    AddChild(&menuBar);
    AddChild(&grid);
    menuBar.callback = &CCsvViewer::OnMenu;
    menuBar.data = this;
    BuildMenu(true);
}

CCsvViewer::~CCsvViewer() { menuBar.RemoveAllItems(); }

void CCsvViewer::BuildMenu(bool japanese) {
    menuBar.RemoveAllItems();
    if (japanese)
        menuBar.AddItem(L"ファイル", L"CSV保存\t101\n", nullptr, this);
    else
        menuBar.AddItem(L"File", L"Save CSV\t101\n", nullptr, this);
    english = japanese ? 0 : 1;
}

void CCsvViewer::SetLanguage(const wchar_t* language) {
    BuildMenu(language && std::wcscmp(language, L"jp") == 0);
    // Owners' headers follow the language.
    fitPending_ = true;
    Redraw();
}

void CCsvViewer::Layout() {
    const int64_t bar = font.height ? static_cast<int64_t>(font.height) : 14;
    const int64_t top = bar + 8;
    const int64_t h = static_cast<int64_t>(height) - top;
    if (width < 1 || h < 1) return;
    grid.SetRect(0, static_cast<int32_t>(top), static_cast<int32_t>(width), static_cast<int32_t>(h));
}

void CCsvViewer::ContentsChanged() {
    fitPending_ = true;
    if (window) Redraw();
}

void CCsvViewer::FitColumnsIfChanged() {
    if (fitPending_.exchange(false)) grid.FitColumns();
}

void CCsvViewer::DrawBackground() {
    FitColumnsIfChanged();
    CFgUIDialog::DrawBackground();
}

void CCsvViewer::SizeWithHeaders(uint64_t columns, uint64_t rows) {
    fitPending_ = true;
    if (!columns || !rows || !grid.SetSize(columns, rows, 0) || !grid.SetHeaderRows(1, 2, 0)) {
        grid.Reset(0);
        grid.UpdateLayout();
        return;
    }
    grid.UpdateLayout();
    grid.ScrollToCell(std::max<uint64_t>(grid.firstColumn, 1), std::max<uint64_t>(grid.firstRow, 2));
}

void CCsvViewer::Open(int32_t x, int32_t y, int32_t w, int32_t h, const wchar_t* title, CFgScreen* parent) {
    if (window) {
        Redraw();
        return;
    }
    if (Create(x, y, static_cast<uint64_t>(std::max(w, 1)), static_cast<uint64_t>(std::max(h, 1)), title, 1, parent))
        Layout();
}

void CCsvViewer::NoteForLanguage(const wchar_t* language) {
    if (!window) return;
    SetLanguage(language);
    noted_ = true;
    notedX_ = x;
    notedY_ = y;
    notedW_ = static_cast<int32_t>(width);
    notedH_ = static_cast<int32_t>(height);
}

bool CCsvViewer::TakeNotedPlace(int32_t* px, int32_t* py, int32_t* pw, int32_t* ph) {
    if (!noted_) return false;
    noted_ = false;
    *px = notedX_;
    *py = notedY_;
    *pw = notedW_;
    *ph = notedH_;
    return true;
}

void CCsvViewer::OnSize(uint64_t, uint64_t) {
    Layout();
    Redraw();
}

void CCsvViewer::SaveCsvCommand() {
    // The path starts empty: the selection opens at the last folder.
    wchar_t path[1024] = {};
    if (!FgSelectFile(path, 1024, nullptr, this)) return;
    const bool jp = !english;
    if (codec_file_exists(path) &&
        FgMessageBox(jp ? L"上書き保存しますか？" : L"Do you want to overwrite it?", jp ? L"確認" : L"confirmation", 0,
                     this) != 1)
        return;
    if (grid.SaveCsv(path, quoteFields))
        FgMessageBox(jp ? L"セーブしました" : L"saved", jp ? L"確認" : L"confirmation", 1, this);
    else
        FgMessageBox(jp ? L"セーブできませんでした" : L"saving failed", jp ? L"エラー" : L"error", 1, this);
}

void CCsvViewer::OnMenu(CFgUIMenuBar*, void* data, int32_t, int32_t id) {
    if (id == kSaveCsvId && data) static_cast<CCsvViewer*>(data)->SaveCsvCommand();
}
