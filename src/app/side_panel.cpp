#include "app/side_panel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <vector>

#include <GL/gl.h>

#include "app/main_screen.h"
#include "image/imgbuff.h"
#include "media/codec.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_draw.h"
#include "toolkit/fg_icons.h"
#include "toolkit/fg_msgbox.h"
#include "toolkit/fg_text_batch.h"

namespace {

constexpr uint64_t kIconCell = 20;
constexpr uint16_t kShiftKey = 16;

// Ink of the list's icons: every cell has a one-pixel line along its right
// and bottom edges; 1 adds a check mark, 2 a short thick bar near the
// bottom, 3 a large filled square.
bool PanelIconInk(uint64_t cell, double x, double y) {
    if (x >= 19 || y >= 19) return true;
    switch (cell) {
        case kPanelIconCheck: {
            // Two strokes, down from the left and up to the right.
            auto near = [x, y](double ax, double ay, double bx, double by) {
                const double dx = bx - ax, dy = by - ay;
                double t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy);
                t = std::clamp(t, 0.0, 1.0);
                return std::hypot(x - (ax + t * dx), y - (ay + t * dy)) <= 1.4;
            };
            return near(4.5, 9.5, 8.0, 14.0) || near(8.0, 14.0, 15.0, 5.0);
        }
        case kPanelIconUiClosed:
            return x >= 5 && x < 15 && y >= 13 && y < 16;
        case kPanelIconUiOpen:
            return x >= 4 && x < 16 && y >= 4 && y < 16;
        default:
            return false;
    }
}

void OnButton(CFgUIButton* button, void* data) {
    auto* panel = static_cast<CSidePanel*>(data);
    if (button == &panel->deleteButton) panel->OnDelete();
    if (button == &panel->upButton) panel->OnUp();
    if (button == &panel->downButton) panel->OnDown();
    if (button == &panel->flushButton) panel->OnFlush();
}

void OnListScrolled(CFgUIScrollBar* bar, void*, int32_t) { bar->RedrawParent(); }

bool Empty(const CImgBuff& image) { return !image.buffer || !image.buffer->pixels; }

}  // namespace

CSidePanel::CSidePanel() {
    for (CFgUIButton* button : {&deleteButton, &upButton, &downButton, &flushButton}) {
        button->callback = OnButton;
        button->data = this;
    }
    deleteButton.SetLabel(L"DEL");
    upButton.SetLabel(L"UP");
    downButton.SetLabel(L"DOWN");
    flushButton.SetLabel(L"FLUSH");
    listScrollBar.orientation = kFgBarVertical;
    listScrollBar.callback = OnListScrolled;
    FgBuildIconStrip(&icons, kIconCell, kIconCell, 4, PanelIconInk);
}

CSidePanel::~CSidePanel() {
    // A run in progress would still call back into the panel.
    StopWorker();
    icons.ReleaseGl();
    RemoveAllFilters(1);
}

int32_t CSidePanel::AddFilter(CImgFilter* filter) {
    if (!filter) return 0;
    uint64_t index = 0;
    if (!CFilterCtrl::AddFilter(filter, &index)) return 0;
    SelectFilter(index);
    ClearRange();
    if (visible) {
        UpdateList();
        RedrawParent();
        if (mainScreen) mainScreen->RunFilterChain(0);
    }
    return 1;
}

// --- layout ---

void CSidePanel::Layout() {
    const bool jp = language == L"jp";
    deleteButton.SetLabel(jp ? L"削除" : L"DEL");
    upButton.SetLabel(jp ? L"↑" : L"UP");
    downButton.SetLabel(jp ? L"↓" : L"DOWN");
    flushButton.SetLabel(jp ? L"確定" : L"FLUSH");
    deleteButton.SetRect(x + 5, y + 5, 102, 24);
    upButton.SetRect(x + 107, y + 5, 36, 24);
    downButton.SetRect(x + 143, y + 5, 36, 24);
    flushButton.SetRect(x + 5, y + CFgUIObj::height - 29, 174, 24);
    const bool flush = mainScreen && !Empty(mainScreen->sourceImage) && mainScreen->sceneBar.sceneCount == 1;
    flushButton.enabled = flush ? 1 : 0;
    if (!flush && flushButton.parent && flushButton.parent->focused == &flushButton) flushButton.parent->FocusNext();

    listX = static_cast<uint64_t>(std::max(x + 5, 0));
    listY = static_cast<uint64_t>(std::max(y + 54, 0));
    listWidth = 157;
    // A panel shorter than the buttons and tabs has no list rows.
    listHeight = CFgUIObj::height > 88 ? static_cast<uint64_t>(CFgUIObj::height - 88) : 0;
    if (listHeight >= 1)
        listScrollBar.SetRect(x + 161, static_cast<int32_t>(listY), 16, static_cast<int32_t>(listHeight));
    for (uint64_t k = 0; k < 4; ++k) {
        tabRects[k][0] = listX + 45 * k;
        tabRects[k][1] = listY >= 19 ? listY - 19 : 0;
        tabRects[k][2] = 38;
        tabRects[k][3] = 18;
    }
    UpdateList();
}

void CSidePanel::UpdateList() {
    fullRows = listHeight / kPanelRowHeight;
    shownRows = fullRows + (listHeight % kPanelRowHeight != 0 ? 1 : 0);
    const uint64_t n = chains[activeChain].Count();
    const uint64_t page = std::min(fullRows, n);
    CFgUIScrollBar& bar = listScrollBar;
    if (static_cast<uint64_t>(std::max(bar.position, 0)) + page > n) {
        bar.position = static_cast<int32_t>(n - page);
        if (!updatingBar_ && bar.callback) {
            updatingBar_ = 1;
            bar.callback(&bar, bar.data, bar.position);
            updatingBar_ = 0;
        }
    }
    if (n >= 1 && page >= 1) {
        bar.minimum = 0;
        bar.maximum = static_cast<int32_t>(n - 1);
        bar.page = static_cast<int32_t>(page);
    }
    if (fullRows >= n) {
        listWidth = 173;
        scrollNeeded = 0;
        if (bar.visible) bar.SetVisible(0, 0);
    } else {
        listWidth = 157;
        scrollNeeded = 1;
        if (visible && !bar.visible) bar.SetVisible(1, 0);
    }
}

// --- mouse ---

int64_t CSidePanel::RowAt(int32_t mx, int32_t my) const {
    if (mx < static_cast<int64_t>(listX) || mx >= static_cast<int64_t>(listX + listWidth) ||
        my < static_cast<int64_t>(listY) || my >= static_cast<int64_t>(listY + listHeight))
        return -1;
    const int64_t row = (my - static_cast<int64_t>(listY)) / kPanelRowHeight + std::max(listScrollBar.position, 0);
    return row < static_cast<int64_t>(chains[activeChain].Count()) ? row : -1;
}

void CSidePanel::OnLButtonDown(int32_t px, int32_t py) {
    const int32_t mx = px + x, my = py + y;
    for (int32_t k = 0; k < 4; ++k) {
        const uint64_t* r = tabRects[k];
        if (mx >= static_cast<int64_t>(r[0]) && mx < static_cast<int64_t>(r[0] + r[2]) &&
            my >= static_cast<int64_t>(r[1]) && my < static_cast<int64_t>(r[1] + r[3])) {
            SwitchChain(k);
            return;
        }
    }
    const int64_t row = RowAt(mx, my);
    if (row < 0) return;
    FilterChain& chain = chains[activeChain];
    CImgFilter* filter = chain.filters[static_cast<size_t>(row)];
    const int64_t column = mx - static_cast<int64_t>(listX);
    if (column < 20) {
        const uint32_t on = filter->enabled ? 0 : 1;
        filter->enabled = on;
        filter->OnEnable(static_cast<int32_t>(on));
        Refilter(0);
    } else if (column < 40) {
        if (filter->HasUi()) {
            if (filter->visible) {
                filter->visible = 0;
                filter->uiParent = nullptr;
                filter->ShowUi(0, nullptr);
            } else {
                filter->visible = 1;
                filter->uiParent = uiParent;
                filter->ShowUi(1, uiParent);
            }
        }
    } else {
        const bool shift = (GetKeyState() & kShiftKey) != 0;
        if (!shift)
            anchorRow = -1;
        else if (anchorRow < 0 && chain.selected)
            anchorRow = static_cast<int32_t>(chain.selectedIndex);
        if (anchorRow < 0) {
            SelectFilter(static_cast<uint64_t>(row));
            ClearRange();
        } else if (row != anchorRow) {
            chain.selected = nullptr;
            chain.selectedIndex = 0;
            rangeFirst = static_cast<int32_t>(std::min<int64_t>(anchorRow, row));
            rangeLast = static_cast<int32_t>(std::max<int64_t>(anchorRow, row));
        } else {
            SelectFilter(static_cast<uint64_t>(row));
            rangeFirst = rangeLast = -1;
        }
    }
    RedrawParent();
}

void CSidePanel::OnRButtonDown(int32_t px, int32_t py) {
    const int32_t mx = px + x, my = py + y;
    if (dragging) return;
    const int64_t row = RowAt(mx, my);
    if (row < 0) return;
    FilterChain& chain = chains[activeChain];
    const bool isSelected = chain.selected && chain.selectedIndex == static_cast<uint64_t>(row);
    if ((rangeFirst >= 0 && !InRange(row)) || (rangeFirst < 0 && !isSelected)) {
        ClearRange();
        SelectFilter(static_cast<uint64_t>(row));
        RedrawParent();
    }
    dragging = 1;
    dragStartX = mx;
    dragStartY = my;
    rowsMoved = 0;
    SetCapture();
}

void CSidePanel::OnMouseMove(int32_t, int32_t py) {
    if (!dragging) return;
    const int32_t my = py + y;
    const int32_t target = (my - dragStartY) / kPanelRowHeight;  // truncated towards zero
    int32_t steps = target - rowsMoved;
    if (steps == 0) return;
    FilterChain& chain = chains[activeChain];
    const int64_t count = static_cast<int64_t>(chain.Count());
    int64_t first, last;
    if (rangeFirst >= 0) {
        first = rangeFirst;
        last = rangeLast;
    } else if (chain.selected) {
        first = last = static_cast<int64_t>(chain.selectedIndex);
    } else {
        return;
    }
    int32_t done = 0;
    // One step moves the neighbour across the block, which keeps its order.
    while (steps > 0 && last < count - 1) {
        for (int64_t i = last; i >= first; --i) SwapFilters(static_cast<uint64_t>(i), static_cast<uint64_t>(i + 1));
        ++first, ++last, ++done, --steps;
    }
    while (steps < 0 && first > 0) {
        for (int64_t i = first; i <= last; ++i) SwapFilters(static_cast<uint64_t>(i - 1), static_cast<uint64_t>(i));
        --first, --last, --done, ++steps;
    }
    rowsMoved += done;
    if (rangeFirst >= 0) {
        rangeFirst = static_cast<int32_t>(first);
        rangeLast = static_cast<int32_t>(last);
    } else {
        SelectFilter(static_cast<uint64_t>(first));
    }
    RedrawParent();
}

void CSidePanel::OnRButtonUp(int32_t, int32_t) {
    if (!dragging) return;
    if (rowsMoved != 0) Refilter(0);
    dragging = 0;
    ReleaseCapture();
}

// --- buttons ---

void CSidePanel::CollapseRange() {
    if (rangeFirst >= 0 && rangeFirst == rangeLast) {
        SelectFilter(static_cast<uint64_t>(rangeFirst));
        ClearRange();
    }
}

void CSidePanel::ScrollTo(int32_t position) {
    CFgUIScrollBar& bar = listScrollBar;
    if (position < bar.minimum || position + bar.page - 1 > bar.maximum) return;
    bar.position = position;
}

void CSidePanel::OnDelete() {
    CollapseRange();
    FilterChain& chain = chains[activeChain];
    if (rangeFirst >= 0) {
        anchorRow = -1;
        for (int64_t i = rangeLast; i >= rangeFirst; --i) RemoveFilter(static_cast<uint64_t>(i));
        ClearRange();
    } else if (chain.selected) {
        RemoveFilter(chain.selectedIndex);
    } else {
        return;
    }
    UpdateList();
    RedrawParent();
    Refilter(0);
}

void CSidePanel::OnUp() {
    CollapseRange();
    FilterChain& chain = chains[activeChain];
    if (rangeFirst < 0) {
        if (!chain.selected || chain.selectedIndex == 0) return;
        const uint64_t i = chain.selectedIndex;
        SwapFilters(i, i - 1);
        SelectFilter(i - 1);
        if (static_cast<int64_t>(i - 1) < listScrollBar.position) ScrollTo(static_cast<int32_t>(i - 1));
    } else {
        anchorRow = -1;
        if (rangeFirst == 0) return;
        for (int64_t i = rangeFirst; i <= rangeLast; ++i)
            SwapFilters(static_cast<uint64_t>(i), static_cast<uint64_t>(i - 1));
        --rangeFirst;
        --rangeLast;
    }
    RedrawParent();
    Refilter(0);
}

void CSidePanel::OnDown() {
    CollapseRange();
    FilterChain& chain = chains[activeChain];
    const uint64_t count = chain.Count();
    if (rangeFirst < 0) {
        if (!chain.selected || chain.selectedIndex + 1 >= count) return;
        const uint64_t i = chain.selectedIndex;
        SwapFilters(i, i + 1);
        SelectFilter(i + 1);
        const int64_t lastVisible = static_cast<int64_t>(listScrollBar.position) + static_cast<int64_t>(fullRows) - 1;
        if (static_cast<int64_t>(i + 1) > lastVisible) ScrollTo(listScrollBar.position + 1);
    } else {
        anchorRow = -1;
        if (static_cast<uint64_t>(rangeLast) + 1 >= count) return;
        for (int64_t i = rangeLast; i >= rangeFirst; --i)
            SwapFilters(static_cast<uint64_t>(i), static_cast<uint64_t>(i + 1));
        ++rangeFirst;
        ++rangeLast;
    }
    RedrawParent();
    Refilter(0);
}

void CSidePanel::OnFlush() {
    CollapseRange();
    if (!mainScreen || Empty(mainScreen->sourceImage) || mainScreen->sceneBar.sceneCount != 1 ||
        chains[activeChain].Count() == 0)
        return;
    const bool jp = language == L"jp";
    if (FgMessageBox(jp ? L"処理を確定しメモリー上のデータを更新します"
                        : L"Confirm confirmation process and update data in memory",
                     jp ? L"確認" : L"Confirmation", 0, mainScreen) != 1)
        return;
    if (chains[activeChain].Count() == 0) return;
    CImgBuff baked;
    {
        CriticalSectionLock hold(lock);
        if (!baked.CopyFrom(&mainScreen->sourceImage)) return;
    }
    // The chain runs once on the copy, in place, on the worker.
    RequestRun(&baked, &baked, 0, 0);
    if (!Empty(mainScreen->sourceImage) && mainScreen->sceneBar.sceneCount == 1 && !mainScreen->movieFile &&
        !mainScreen->moduleStream)
        mainScreen->ReplaceDocumentImage(&baked, nullptr);
    ClearRange();
    RemoveAllFilters(1);
    UpdateList();
    Refilter(0);
    RedrawParent();
}

int32_t CSidePanel::SwitchChain(int32_t n) {
    for (CImgFilter* filter : chains[activeChain].filters) {
        filter->hiddenByTab = 1;
        if (filter->visible) filter->ShowUi(0, nullptr);
    }
    if (!SelectChain(n)) return 0;
    ClearRange();
    for (CImgFilter* filter : chains[activeChain].filters) {
        filter->hiddenByTab = 0;
        if (filter->visible) filter->ShowUi(1, filter->uiParent);
    }
    UpdateList();
    RedrawParent();
    Refilter(0);
    return 1;
}

// --- toolkit slots ---

void CSidePanel::OnAttach() {
    if (CFgScreen* screen = OwnerScreen()) icons.AttachToScreen(screen);
    if (!parent) return;
    for (CFgUIObj* child : std::initializer_list<CFgUIObj*>{&deleteButton, &upButton, &downButton, &flushButton,
                                                             &listScrollBar}) {
        child->visible = visible;
        parent->AddChild(child);
    }
    listScrollBar.visible = visible && scrollNeeded ? 1 : 0;
}

void CSidePanel::OnVisibleChanged(uint32_t shown, uint64_t) {
    for (CFgUIButton* button : {&deleteButton, &upButton, &downButton, &flushButton}) button->SetVisible(shown, 0);
    listScrollBar.SetVisible(shown && scrollNeeded ? 1 : 0, 0);
}

int32_t CSidePanel::CanEnable(int32_t enable) {
    EnableUi(enable);
    return 1;
}

void CSidePanel::Draw(CFgScreen* screen, CFgFont* font) {
    static const double kWhite[3] = {1, 1, 1};
    static const double kBlack[3] = {0, 0, 0};
    // Controls are attached before their screen has a window.
    if (!icons.screen && screen) icons.AttachToScreen(screen);
    const int32_t right = Right(), bottom = Bottom();
    FgFillRect(screen, x, y, right, y, kWhite);
    FgFillRect(screen, x, y, x, bottom, kWhite);
    FgFillRect(screen, x, bottom, right, bottom, kBlack);
    FgFillRect(screen, right, y, right, bottom, kBlack);

    const int32_t lx0 = static_cast<int32_t>(listX), ly0 = static_cast<int32_t>(listY);
    const int32_t lx1 = lx0 + static_cast<int32_t>(listWidth) - 1, ly1 = ly0 + static_cast<int32_t>(listHeight) - 1;
    const bool on = enabled != 0;
    if (listHeight >= 1) FgDrawFrame(screen, lx0, ly0, lx1, ly1, Color(7), kBlack);

    CFgTextBatch texts(font);
    for (int32_t k = 0; k < 4; ++k) {
        const int32_t tx = static_cast<int32_t>(tabRects[k][0]), ty = static_cast<int32_t>(tabRects[k][1]);
        const int32_t tx1 = tx + static_cast<int32_t>(tabRects[k][2]) - 1;
        const int32_t ty1 = ty + static_cast<int32_t>(tabRects[k][3]) - 1;
        FgFillRect(screen, tx, ty, tx1, ty1, on ? kBlack : Color(7));
        const double* ink;
        if (k != activeChain) {
            FgFillRect(screen, tx + 1, ty + 1, tx1 - 1, ty1 - 1, Color(5));
            ink = on ? kBlack : Color(7);
        } else {
            ink = Color(5);
        }
        wchar_t label[8];
        std::swprintf(label, 8, L"%1u", static_cast<unsigned>(k + 1));
        if (font) texts.Add(tx + 15, ty + 2, label, ink, tx, ty, tx1, ty1);
    }
    if (font) texts.Draw();
    if (listHeight < 3 || listWidth < 3) return;

    // Rows inside the list's frame: fills, icons, then the names.
    const int32_t cx0 = lx0 + 1, cy0 = ly0 + 1, cx1 = lx1 - 1, cy1 = ly1 - 1;
    const FilterChain& chain = chains[activeChain];
    const uint64_t first = static_cast<uint64_t>(std::max(listScrollBar.position, 0));
    std::vector<FgColorRect> fills;
    std::vector<bool> greyed(chain.Count(), false);
    bool afterDisabledTag = false;
    for (uint64_t i = 0; i < chain.Count(); ++i) {
        const CImgFilter* f = chain.filters[i];
        if (f->kind == 1) afterDisabledTag = !f->enabled;
        else greyed[i] = afterDisabledTag;
    }
    struct Icon {
        int32_t x, y;
        uint64_t cell;
    };
    std::vector<Icon> cells;
    CFgTextBatch names(font);
    for (uint64_t r = 0; r < shownRows && first + r < chain.Count(); ++r) {
        const uint64_t i = first + r;
        CImgFilter* f = chain.filters[i];
        const int32_t ry = cy0 + static_cast<int32_t>(r) * kPanelRowHeight;
        const bool selected = (chain.selected == f && rangeFirst < 0) || InRange(static_cast<int64_t>(i));
        fills.push_back({cx0, ry, cx1, std::min(ry + kPanelRowHeight - 1, cy1), Color(on && selected ? 2 : 1)});
        const uint64_t faded = on ? 0 : 4;
        cells.push_back({cx0, ry, (f->enabled ? kPanelIconCheck : kPanelIconNone) + faded});
        const uint64_t ui = f->HasUi() ? (f->visible ? kPanelIconUiOpen : kPanelIconUiClosed) : kPanelIconNone;
        cells.push_back({cx0 + 20, ry, ui + faded});
        const double* ink = !on || greyed[i] ? Color(7) : Color(0);
        if (font) names.Add(cx0 + 42, ry + 3, f->GetName(language.c_str()), ink, cx0, cy0, cx1, cy1);
    }
    FgFillRects(screen, fills.data(), fills.size());
    FgScissorRect(screen, cx0, cy0, cx1, cy1);
    glColor3d(1, 1, 1);
    for (const Icon& icon : cells) icons.DrawCell(icon.x, icon.y, 0, 0, icon.cell);
    glDisable(GL_SCISSOR_TEST);
    if (font) names.Draw();
}

// --- hooks ---

void CSidePanel::OnFilterUiClosed() {
    if (mainScreen) mainScreen->Redraw();
}

void CSidePanel::LockUi(int32_t lockFlag, CImgFilter* filter) {
    // A filter's lock ends, but the busy lock of an open or a save holds.
    if (mainScreen) mainScreen->LockForRun(lockFlag);
    CFilterCtrl::LockUi(lockFlag, filter);
}

void CSidePanel::Refilter(int32_t async) {
    // A synchronous run shows its result before it returns.
    if (mainScreen) mainScreen->RunFilterChain(async);
}

void CSidePanel::OnFrameDone() {
    if (mainScreen) mainScreen->PostFrameDone();
}

void CSidePanel::Redraw() {
    if (mainScreen) mainScreen->Redraw();
}

int32_t CSidePanel::Seek(uint64_t frame) { return mainScreen ? mainScreen->SeekScene(frame) : 0; }

uint64_t CSidePanel::GetCurrentFrame() {
    return mainScreen && (mainScreen->movieFile || mainScreen->moduleStream) ? mainScreen->sceneBar.position : 0;
}

uint64_t CSidePanel::GetMediaFrameTime() { return mainScreen ? mainScreen->movieMsPerFrame : 0; }

uint64_t CSidePanel::GetFrameInterval() { return mainScreen ? mainScreen->msPerFrame : 33333; }

void CSidePanel::EnableImageView(int32_t flag) {
    if (!mainScreen) return;
    mainScreen->imageViewInput = flag != 0;
    if (!mainScreen->CFgUICtrl::enabled) {
        mainScreen->picture.Enable(flag);
        mainScreen->Redraw();
    }
}

void CSidePanel::ChangeCalibration(double scale, int32_t axisY, const wchar_t* unit) {
    if (!mainScreen) return;
    mainScreen->calibration.SetCalibration(scale, axisY, unit);
    SetCalibration(scale, axisY, unit);
    Refilter(0);
}

void CSidePanel::SetSourceImage(CImgBuff* image) {
    if (mainScreen) mainScreen->SetDocumentImage(image);
}

void CSidePanel::ReplaceSourceImage(CImgBuff* image) {
    if (mainScreen) mainScreen->SetDocumentImage(image);
}

void CSidePanel::GetSourceImage(CImgBuff* image) {
    if (!mainScreen || !image) return;
    CriticalSectionLock hold(lock);
    image->CopyFrom(&mainScreen->sourceImage);
}

void CSidePanel::GetResultImage(CImgBuff* image) {
    if (!mainScreen || !image) return;
    CriticalSectionLock hold(lock);
    image->CopyFrom(&mainScreen->resultImage);
}

void CSidePanel::GetEncodeSettings(codec_write_options* settings) {
    if (!settings) return;
    if (!mainScreen) {
        *settings = {75, 0, 0, 0, 5000000, 0};
        return;
    }
    mainScreen->saveSettings.GetWriteOptions(settings);
}
