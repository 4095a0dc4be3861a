#include "filters/analysis/lf_strobe_photo.h"

#include <GL/gl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

#include "filters/analysis/sequence_run.h"
#include "filters/core/filterctrl.h"
#include "image/kernels/image_compare.h"
#include "image/kernels/kernel_frame.h"
#include "image/pool.h"
#include "media/frame_output.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

CImgFilter* CreateLfStrobePhoto() { return new (std::nothrow) CLfStrobePhoto; }

namespace {

constexpr int32_t kCell = CLfStrobePhoto::kCell;

bool HasPixels(const CImgBuff& h) { return h.buffer && h.buffer->pixels && ImgFormatValid(h.buffer->format); }

int32_t CellsAcross(int32_t pixels) { return (pixels + kCell - 1) / kCell; }

// The inclusive pixel rectangle of cell (cx, cy), cut by the image edge.
ImgRect CellRect(const C_ImgBuff& image, int32_t cx, int32_t cy) {
    return {cx * kCell, cy * kCell, std::min(cx * kCell + kCell, image.width) - 1,
            std::min(cy * kCell + kCell, image.height) - 1};
}

bool CellMasked(const C_ImgBuff& mask, int32_t cx, int32_t cy) {
    const ImgRect r = CellRect(mask, cx, cy);
    for (int32_t y = r.y0; y <= r.y1; ++y)
        for (int32_t x = r.x0; x <= r.x1; ++x)
            if (*mask.PixelAt(x, y)) return true;
    return false;
}

bool AnyMasked(const CImgBuff& mask) {
    if (!HasPixels(mask)) return false;
    const C_ImgBuff& m = *mask.buffer;
    const uint64_t n = static_cast<uint64_t>(m.width) * static_cast<uint64_t>(m.height);
    for (uint64_t i = 0; i < n; ++i)
        if (m.pixels[i]) return true;
    return false;
}

bool SameShape(const CImgBuff& a, const CImgBuff& b) {
    return HasPixels(a) && HasPixels(b) && a.buffer->width == b.buffer->width &&
           a.buffer->height == b.buffer->height && a.buffer->format == b.buffer->format;
}

}  // namespace

CLfStrobePhoto::CLfStrobePhoto() {
    for (CFgUIButton* b : {&currentFrameButton, &currentBgButton, &startButton, &endButton, &clearButton, &execButton,
                           &openButton, &saveButton}) {
        b->callback = OnButton;
        b->data = this;
    }
    setBgBox.callback = OnBox;
    setBgBox.data = this;
    levelBar.orientation = kFgBarHorizontal;
    levelBar.minimum = 0;
    levelBar.maximum = 9;
    levelBar.page = 1;
    levelBar.step = 1;
    levelBar.position = 0;
    levelBar.callback = OnBar;
    levelBar.data = this;
    AttachControls();
}

PanelSpec CLfStrobePhoto::Panel() {
    const bool busy = Running();
    return {L"Strobe photo", L"ストロボ写真の合成", 304, 552, 304, 552,
            {
                {&picture, 8, 8, 288, 288, nullptr, nullptr},
                {&setBgBox, 8, 304, 288, 20, L"set bg image", L"背景画像を指定"},
                {&currentFrameButton, 8, 332, 140, 28, L"CURRENT FRAME", L"今のフレーム"},
                {&currentBgButton, 156, 332, 140, 28, L"CURRENT BG", L"今の背景画像"},
                {&maskLabel, 8, 372, 288, 20, L"edit object mask", L"物体マスクの編集"},
                {&startButton, 8, 392, 90, 28, L"START", L"開始"},
                {&endButton, 107, 392, 90, 28, L"END", L"終了"},
                {&clearButton, 206, 392, 90, 28, L"CLS", L"初期化"},
                {&levelLabel, 8, 428, 288, 20, L"loose ← object extraction → severe", L"緩い ← 物体抽出基準 → 厳しい"},
                {&levelBar, 8, 448, 288, 20, nullptr, nullptr},
                {&execButton, 8, 480, 288, 28, busy ? L"CANCEL" : L"EXEC", busy ? L"中止" : L"実行"},
                {&openButton, 8, 516, 140, 28, L"OPEN", L"画像を開く"},
                {&saveButton, 156, 516, 140, 28, L"SAVE", L"画像を保存"},
            }};
}

void CLfStrobePhoto::ApplyRules() {
    const uint32_t idle = Running() ? 0 : 1;
    const uint32_t edit = maskEdit.load() ? 1 : 0;
    const uint32_t chosen = setBgBox.checked ? 1 : 0;
    setBgBox.enabled = levelLabel.enabled = levelBar.enabled = openButton.enabled = saveButton.enabled =
        idle && !edit;
    execButton.enabled = 1;
    currentFrameButton.enabled = currentBgButton.enabled = startButton.enabled = idle && chosen && !edit;
    maskLabel.enabled = idle && chosen;
    endButton.enabled = clearButton.enabled = idle && chosen && edit;
    if (focused && !focused->enabled) FocusNext();
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfStrobePhoto::EnableUi(int32_t enable) {
    if (Running()) return;
    CDialogFilter<CLfStrobePhoto>::EnableUi(enable);
}

int32_t CLfStrobePhoto::QueryClose() {
    if (Running()) return 0;
    return CDialogFilter<CLfStrobePhoto>::QueryClose();
}

void CLfStrobePhoto::Message(const wchar_t* en, const wchar_t* jp, bool error) {
    const bool j = Japanese();
    FgMessageBox(j ? jp : en, error ? (j ? L"エラー" : L"error") : (j ? L"確認" : L"confirmation"), 1,
                 PanelShown() ? this : nullptr);
}

void CLfStrobePhoto::OnButton(CFgUIButton* button, void* data) {
    auto* f = static_cast<CLfStrobePhoto*>(data);
    if (button == &f->currentFrameButton) f->CurrentFrame();
    if (button == &f->currentBgButton) f->CurrentBackground();
    if (button == &f->startButton) f->StartMaskEdit();
    if (button == &f->endButton) f->EndMaskEdit();
    if (button == &f->clearButton) f->ClearMask();
    if (button == &f->execButton) f->Exec();
    if (button == &f->openButton) f->Open();
    if (button == &f->saveButton) f->Save();
}

void CLfStrobePhoto::OnBox(CFgUIChkButton*, void* data) { static_cast<CLfStrobePhoto*>(data)->ApplyRules(); }

void CLfStrobePhoto::OnBar(CFgUIScrollBar*, void* data, int32_t) { static_cast<CLfStrobePhoto*>(data)->Rerun(1); }

void CLfStrobePhoto::CopyBackground(CImgBuff* out) const {
    std::lock_guard<std::mutex> hold(lock_);
    out->CopyFrom(&background_);
}
void CLfStrobePhoto::CopyMask(CImgBuff* out) const {
    std::lock_guard<std::mutex> hold(lock_);
    out->CopyFrom(&mask_);
}
void CLfStrobePhoto::CopyComposite(CImgBuff* out) const {
    std::lock_guard<std::mutex> hold(lock_);
    out->CopyFrom(&composite_);
}
void CLfStrobePhoto::CopyLastBackground(CImgBuff* out) const {
    std::lock_guard<std::mutex> hold(lock_);
    out->CopyFrom(&lastBackground_);
}

bool CLfStrobePhoto::BackgroundFits(int32_t width, int32_t height, int32_t format) const {
    std::lock_guard<std::mutex> hold(lock_);
    // A background kept from another movie counts as none.
    return HasPixels(background_) && background_.buffer->width == width && background_.buffer->height == height &&
           (format == 0 || background_.buffer->format == format);
}

void CLfStrobePhoto::ShowPicture(const CImgBuff& image) {
    CFgTexture texture;
    if (HasPixels(image) && texture.SetFromImage(&image, 1))
        picture.SetImage(&texture);
    else
        picture.GetTexture()->Clear();
    picture.UpdateLayout();
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfStrobePhoto::SetBackground(const CImgBuff& image) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        composite_.FreePixels();
        mask_.FreePixels();
        background_.CopyFrom(&image);
    }
    ShowPicture(image);
}

void CLfStrobePhoto::CurrentFrame() {
    if (Running() || !Chain()) return;
    CSequenceRun run(this);
    if (run.Begin(nullptr, nullptr) != CSequenceRun::kStarted) return;
    run_ = &run;
    CImgBuff frame;
    const CSequenceRun::StepResult got = run.Step(Chain()->GetCurrentFrame(), &frame);
    run_ = nullptr;
    run.End();
    if (got == CSequenceRun::kReady) SetBackground(frame);
    ApplyRules();
}

void CLfStrobePhoto::CurrentBackground() {
    CImgBuff last;
    CopyLastBackground(&last);
    SetBackground(last);
}

void CLfStrobePhoto::StartMaskEdit() {
    if (!BackgroundFits(static_cast<int32_t>(CImgFilter::width), static_cast<int32_t>(CImgFilter::height), 0)) {
        Message(L"no BG image", L"背景画像が未設定です", true);
        return;
    }
    maskEdit = 1;
    ApplyRules();
    Rerun(0);
}

void CLfStrobePhoto::EndMaskEdit() {
    maskEdit = 0;
    dragging = 0;
    ApplyRules();
    Rerun(0);
}

void CLfStrobePhoto::ClearMask() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        mask_.FreePixels();
    }
    Rerun(0);
}

void CLfStrobePhoto::Open() {
    CImgBuff composite;
    CopyComposite(&composite);
    if (HasPixels(composite) && Chain()) Chain()->SetSourceImage(&composite);
}

void CLfStrobePhoto::Save() {
    CImgBuff composite;
    CopyComposite(&composite);
    if (!HasPixels(composite)) {
        Message(L"there is no image", L"画像がありません", false);
        return;
    }
    const bool jp = Japanese();
    CFgScreen* parent = PanelShown() ? this : nullptr;
    FgSelectFileOptions options;
    options.title = jp ? L"保存するファイル名を選択" : L"select file name to save";
    options.startPath = g_LastFileDir;
    options.extensions = GetImageExtensionList();
    wchar_t path[kFgPathMax + 1] = {};
    if (!FgSelectFile(path, kFgPathMax + 1, &options, parent) || !path[0]) return;
    if (ConfirmSaveImage(&composite, path, language.c_str(), parent) != 1) return;
    SaveImageFile(&composite, path, language.c_str(), parent);
}

// --- cell work ---

namespace {

// Adds |a - b| of one row of 8-bit samples into the column sums of the cell
// row (at most 4 rows x 255: 16 bits suffice).
void AddRowDifferences(const uint8_t* a, const uint8_t* b, size_t n, uint16_t* sums) {
    for (size_t i = 0; i < n; ++i) sums[i] = static_cast<uint16_t>(sums[i] + (a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]));
}

// Marks the cells of one cell row whose summed difference is above the
// threshold; `sums` holds each sample column's total over the cell rows.
template <int32_t C>
void MarkCells(const uint16_t* sums, int32_t w, int32_t rows, uint8_t* out) {
    const int32_t cw = CellsAcross(w);
    for (int32_t cx = 0; cx < cw; ++cx) {
        const int32_t cols = std::min(cx * kCell + kCell, w) - cx * kCell;
        const uint16_t* s = sums + static_cast<size_t>(cx) * kCell * C;
        uint32_t total = 0;
        if (cols == kCell)
            for (int32_t k = 0; k < kCell * C; ++k) total += s[k];
        else
            for (int32_t k = 0; k < cols * C; ++k) total += s[k];
        const double n = static_cast<double>(cols) * rows * C;
        if (ImgCompareDifferenceScore(static_cast<double>(total), n) > 8.0) out[cx] = 1;
    }
}

}  // namespace

void CLfStrobePhoto::ChangedCells(const CImgBuff& a, const CImgBuff& b, std::vector<uint8_t>* cells) {
    cells->clear();
    if (!HasPixels(a) || !HasPixels(b) || a.buffer->width != b.buffer->width || a.buffer->height != b.buffer->height)
        return;
    const C_ImgBuff& A = *a.buffer;
    const C_ImgBuff& B = *b.buffer;
    const int32_t w = A.width, h = A.height, cw = CellsAcross(w), ch = CellsAcross(h);
    cells->assign(static_cast<size_t>(cw) * static_cast<size_t>(ch), 0);
    const bool colour = ImgCompareByColour(A.format, B.format);
    const int32_t channels = colour ? 3 : 1;
    const size_t samples = static_cast<size_t>(w) * static_cast<size_t>(channels);
    // Images already in the sample format are read in place.
    const int32_t sampleFormat = colour ? kImgRgb8 : kImgGray8;
    const bool directA = A.format == sampleFormat, directB = B.format == sampleFormat;
    uint8_t* out = cells->data();
    auto rows = [&](uint64_t first, uint64_t count) {
        std::vector<uint8_t> rowA(directA ? 0 : samples), rowB(directB ? 0 : samples);
        std::vector<uint16_t> sums(samples);
        for (uint64_t cy = first; cy < first + count; ++cy) {
            std::fill(sums.begin(), sums.end(), uint16_t{0});
            const int32_t y0 = static_cast<int32_t>(cy) * kCell, y1 = std::min(y0 + kCell, h);
            for (int32_t y = y0; y < y1; ++y) {
                const uint8_t* pa = directA ? A.PixelAt(0, y) : rowA.data();
                const uint8_t* pb = directB ? B.PixelAt(0, y) : rowB.data();
                if (!directA) ImgCompareSampleRow(A, 0, y, w, colour, false, rowA.data());
                if (!directB) ImgCompareSampleRow(B, 0, y, w, colour, false, rowB.data());
                AddRowDifferences(pa, pb, samples, sums.data());
            }
            uint8_t* mark = out + cy * static_cast<uint64_t>(cw);
            if (colour)
                MarkCells<3>(sums.data(), w, y1 - y0, mark);
            else
                MarkCells<1>(sums.data(), w, y1 - y0, mark);
        }
    };
    PoolParallelRun(static_cast<uint64_t>(ch), rows);
}

bool CLfStrobePhoto::RepairPass(const CImgBuff& frame, CImgBuff* background, CImgBuff* mask) {
    if (!SameShape(frame, *background) || !HasPixels(*mask) || mask->buffer->format != kImgGray8 ||
        mask->buffer->width != frame.buffer->width || mask->buffer->height != frame.buffer->height)
        return false;
    // Every cell reads the mask and background as they were when the pass
    // began, so the outcome does not depend on the order rows are done in.
    CImgBuff maskBefore, backgroundBefore;
    maskBefore.CopyFrom(mask);
    backgroundBefore.CopyFrom(background);
    if (!SameShape(maskBefore, *mask) || !SameShape(backgroundBefore, *background)) return false;
    const C_ImgBuff& M = *maskBefore.buffer;
    const int32_t cw = CellsAcross(M.width), ch = CellsAcross(M.height);
    std::vector<uint8_t> masked(static_cast<size_t>(cw) * static_cast<size_t>(ch));
    for (int32_t cy = 0; cy < ch; ++cy)
        for (int32_t cx = 0; cx < cw; ++cx) masked[static_cast<size_t>(cy) * cw + cx] = CellMasked(M, cx, cy) ? 1 : 0;
    std::atomic<bool> changed{false};
    const int32_t bpp = frame.buffer->BytesPerPixel();
    auto rows = [&](uint64_t first, uint64_t count) {
        for (uint64_t row = first; row < first + count; ++row) {
            const int32_t cy = static_cast<int32_t>(row);
            for (int32_t cx = 0; cx < cw; ++cx) {
                if (!masked[static_cast<size_t>(cy) * cw + cx]) continue;
                const int32_t nx[4] = {cx, cx, cx - 1, cx + 1}, ny[4] = {cy - 1, cy + 1, cy, cy};
                const ImgRect here = CellRect(M, cx, cy);
                RectStatistics mine{};
                bool haveMine = false;
                for (int k = 0; k < 4; ++k) {
                    if (nx[k] < 0 || ny[k] < 0 || nx[k] >= cw || ny[k] >= ch) continue;
                    if (masked[static_cast<size_t>(ny[k]) * cw + nx[k]]) continue;
                    if (!haveMine) {
                        if (!ImgRectStatistics(&frame, here.x0, here.y0, here.x1, here.y1, &mine)) break;
                        haveMine = true;
                    }
                    const ImgRect there = CellRect(M, nx[k], ny[k]);
                    RectStatistics theirs{};
                    if (!ImgRectStatistics(&backgroundBefore, there.x0, there.y0, there.x1, there.y1, &theirs)) continue;
                    const double da = mine.slot[5] - theirs.slot[5], db = mine.slot[8] - theirs.slot[8];
                    if (std::fabs(mine.slot[2] - theirs.slot[2]) > 4.0 || std::fabs(mine.slot[9] - theirs.slot[9]) > 7.0 ||
                        std::fabs(mine.slot[10] - theirs.slot[10]) > 7.0 || da * da + db * db > 4.0)
                        continue;
                    // This cell only: its mask pixels cleared, the frame's pixels pasted.
                    const size_t span = static_cast<size_t>(here.x1 - here.x0 + 1);
                    for (int32_t y = here.y0; y <= here.y1; ++y) {
                        std::memset(mask->buffer->PixelAt(here.x0, y), 0, span);
                        std::memcpy(background->buffer->PixelAt(here.x0, y), frame.buffer->PixelAt(here.x0, y),
                                    span * static_cast<size_t>(bpp));
                    }
                    changed = true;
                    break;
                }
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(ch), rows);
    return changed.load();
}

void CLfStrobePhoto::AddChanges(const CImgBuff& frame, const CImgBuff& background, const std::vector<uint8_t>& cells,
                                uint32_t threshold, CImgBuff* composite) {
    if (!SameShape(frame, background) || !SameShape(frame, *composite)) return;
    const C_ImgBuff& F = *frame.buffer;
    const int32_t w = F.width, h = F.height, cw = CellsAcross(w);
    if (cells.size() != static_cast<size_t>(cw) * static_cast<size_t>(CellsAcross(h))) return;
    const uint64_t limit = uint64_t{threshold} * threshold;
    const int32_t bpp = F.BytesPerPixel();
    auto rows = [&](uint64_t first, uint64_t count) {
        std::vector<uint8_t> f(static_cast<size_t>(w) * 3), b(static_cast<size_t>(w) * 3);
        for (uint64_t yy = first; yy < first + count; ++yy) {
            const int32_t y = static_cast<int32_t>(yy);
            const uint8_t* cellRow = cells.data() + static_cast<size_t>(y / kCell) * cw;
            bool any = false;
            for (int32_t cx = 0; cx < cw && !any; ++cx) any = cellRow[cx] != 0;
            if (!any) continue;
            ImgReadRgb8Span(F, 0, y, w, f.data());
            ImgReadRgb8Span(*background.buffer, 0, y, w, b.data());
            for (int32_t x = 0; x < w; ++x) {
                if (!cellRow[x / kCell]) continue;
                const int32_t dr = f[3 * x] - b[3 * x], dg = f[3 * x + 1] - b[3 * x + 1], db = f[3 * x + 2] - b[3 * x + 2];
                if (static_cast<uint64_t>(dr * dr + dg * dg + db * db) >= limit)
                    std::memcpy(composite->buffer->PixelAt(x, y), F.PixelAt(x, y), static_cast<size_t>(bpp));
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(h), rows);
}

void CLfStrobePhoto::TintMasked(CImgBuff* image, const CImgBuff& mask, double red, double green, double blue) {
    if (!HasPixels(*image) || !HasPixels(mask) || mask.buffer->format != kImgGray8 ||
        mask.buffer->width != image->buffer->width || mask.buffer->height != image->buffer->height)
        return;
    const bool flags[3] = {static_cast<int32_t>(red * 255) != 0, static_cast<int32_t>(green * 255) != 0,
                           static_cast<int32_t>(blue * 255) != 0};
    const bool none = !flags[0] && !flags[1] && !flags[2];
    C_ImgBuff* img = image->buffer;
    const C_ImgBuff* m = mask.buffer;
    auto rows = [&](uint64_t first, uint64_t count) {
        for (uint64_t yy = first; yy < first + count; ++yy) {
            const int32_t y = static_cast<int32_t>(yy);
            for (int32_t x = 0; x < img->width; ++x) {
                if (!*m->PixelAt(x, y)) continue;
                const bool dark = ((x / 4 + y / 4) & 1) != 0;
                uint8_t c[3];
                img->GetPixelRgb8(x, y, &c[0], &c[1], &c[2]);
                for (int k = 0; k < 3; ++k) {
                    const int32_t checker = none ? (dark ? 0 : 127) : flags[k] ? (dark ? 64 : 192) : 0;
                    c[k] = static_cast<uint8_t>((c[k] + checker) / 2);
                }
                img->SetPixelRgb8(x, y, c[0], c[1], c[2]);
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(img->height), rows);
}

// --- the run ---

bool CLfStrobePhoto::Compose(CSequenceRun& run, uint64_t count, uint32_t threshold, CImgBuff* composite,
                             bool* noBackground) {
    CImgBuff mask, background, frame, previous;
    const bool chosen = setBgBox.checked != 0;
    if (chosen) {
        CopyMask(&mask);
        CopyBackground(&background);
    }
    // Frame i as the chain delivers it: 1 ready, -1 cancelled or missing. A
    // missing frame stops the run (lostFrame_ says which): a composite
    // without it would not show the whole motion.
    auto fetch = [&](uint64_t i, CImgBuff* into) {
        const CSequenceRun::StepResult r = run.Step(i, into);
        if (r == CSequenceRun::kCanceled) return -1;
        if (r != CSequenceRun::kReady) {
            lostFrame_ = static_cast<int64_t>(i);
            return -1;
        }
        // A background or mask of another size or format counts as none.
        if (chosen && !SameShape(*into, background)) {
            *noBackground = true;
            return -1;
        }
        return 1;
    };
    if (!chosen) {
        // The motion mask: every cell that changed between neighbouring frames.
        std::vector<uint8_t> marks, cells;
        for (uint64_t i = 0; i < count; ++i) {
            const int32_t got = fetch(i, &frame);
            if (got < 0) return false;
            if (got == 0) continue;
            if (!HasPixels(previous)) previous.CopyFrom(&frame);
            ChangedCells(frame, previous, &cells);
            if (marks.size() != cells.size()) marks.assign(cells.size(), 0);
            for (size_t k = 0; k < cells.size(); ++k) marks[k] |= cells[k];
            std::swap(previous.buffer, frame.buffer);
        }
        if (!HasPixels(previous)) return false;
        const int32_t w = previous.buffer->width, h = previous.buffer->height, cw = CellsAcross(w);
        if (!mask.buffer || !mask.buffer->Create(w, h, kImgGray8)) return false;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                *mask.buffer->PixelAt(x, y) = marks[static_cast<size_t>(y / kCell) * cw + x / kCell] ? 255 : 0;
    }
    const bool repair = AnyMasked(mask);
    if (!HasPixels(background)) {
        int32_t got = 0;
        for (uint64_t i = 0; i < count && got == 0; ++i) got = fetch(i, &background);
        if (got < 0) return false;
        if (got == 0) return false;
    }
    if (repair) {
        for (bool changed = true; changed;) {
            changed = false;
            for (uint64_t i = 0; i < count; ++i) {
                const int32_t got = fetch(i, &frame);
                if (got < 0) return false;
                if (got == 0) continue;
                while (RepairPass(frame, &background, &mask)) changed = true;
            }
        }
    }
    if (!chosen || repair) {
        std::lock_guard<std::mutex> hold(lock_);
        lastBackground_.CopyFrom(&background);
    }
    // The composite: the background, then every frame's changed pixels.
    composite->CopyFrom(&background);
    previous.FreePixels();
    std::vector<uint8_t> cells;
    for (uint64_t i = 0; i < count; ++i) {
        const int32_t got = fetch(i, &frame);
        if (got < 0) return false;
        if (got == 0 || !SameShape(frame, background)) continue;
        if (!HasPixels(previous)) previous.CopyFrom(&frame);
        ChangedCells(frame, previous, &cells);
        AddChanges(frame, background, cells, threshold, composite);
        std::swap(previous.buffer, frame.buffer);
    }
    return true;
}

void CLfStrobePhoto::Exec() {
    if (run_) {
        run_->Cancel();
        return;
    }
    if (CImgFilter::frames < 2) {
        Message(L"need an image of 2 frames or more", L"2フレーム以上の画像が必要です", true);
        return;
    }
    if (setBgBox.checked &&
        !BackgroundFits(static_cast<int32_t>(CImgFilter::width), static_cast<int32_t>(CImgFilter::height), 0)) {
        Message(L"no BG image", L"背景画像が未設定です", true);
        return;
    }
    CSequenceRun run(this);
    if (run.Begin(&execButton, Japanese() ? L"中止" : L"CANCEL") != CSequenceRun::kStarted) return;
    run_ = &run;
    ApplyRules();
    const uint32_t threshold = static_cast<uint32_t>(levelBar.position + 3) * 16;
    CImgBuff composite;
    bool noBackground = false;
    lostFrame_ = -1;
    const bool done = composite.buffer && Compose(run, CImgFilter::frames, threshold, &composite, &noBackground);
    const bool canceled = run.Canceled();
    run_ = nullptr;
    run.End();
    ApplyRules();
    if (noBackground) {
        Message(L"no BG image", L"背景画像が未設定です", true);
    } else if (canceled) {
        Message(L"canceled", L"中止しました", false);
    } else if (lostFrame_ >= 0) {
        const std::vector<uint64_t> lost{static_cast<uint64_t>(lostFrame_)};
        Message(LostFramesText(lost, true, false).c_str(), LostFramesText(lost, true, true).c_str(), true);
    } else if (!done) {
        Message(L"failed", L"失敗しました", true);
    } else {
        {
            std::lock_guard<std::mutex> hold(lock_);
            composite_.CopyFrom(&composite);
        }
        ShowPicture(composite);
    }
}

// --- the filter step, the mask painting and its overlay ---

int32_t CLfStrobePhoto::OnFilter(CImgBuff* image, uint64_t frame, int64_t, int64_t, int64_t, int64_t, uint32_t,
                                 uint32_t, uint32_t*, uint32_t*) {
    if (CSequenceRun::Capture(this, image, frame) || !image || !image->buffer || !maskEdit.load()) return 1;
    std::lock_guard<std::mutex> hold(lock_);
    if (!HasPixels(background_)) {
        image->buffer->Clear();
        return 1;
    }
    // A background of another movie's size leaves the frame as it is.
    if (background_.buffer->width != image->buffer->width || background_.buffer->height != image->buffer->height)
        return 1;
    image->CopyFrom(&background_);
    TintMasked(image, mask_, guideRed, guideGreen, guideBlue);
    return 1;
}

void CLfStrobePhoto::OnLButtonDown(int64_t x, int64_t y, uint32_t) {
    if (!maskEdit.load()) return;
    dragging = 1;
    dragStartX = dragX = static_cast<int32_t>(std::clamp<int64_t>(x, 0, INT32_MAX) / kCell);
    dragStartY = dragY = static_cast<int32_t>(std::clamp<int64_t>(y, 0, INT32_MAX) / kCell);
    Rerun(0);
}

void CLfStrobePhoto::OnMouseMove(int64_t x, int64_t y, uint32_t) {
    if (!maskEdit.load() || !dragging) return;
    dragX = static_cast<int32_t>(std::clamp<int64_t>(x, 0, INT32_MAX) / kCell);
    dragY = static_cast<int32_t>(std::clamp<int64_t>(y, 0, INT32_MAX) / kCell);
    Rerun(0);
}

void CLfStrobePhoto::OnLButtonUp(int64_t, int64_t, uint32_t) {
    if (!maskEdit.load() || !dragging) return;
    dragging = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!HasPixels(mask_) && HasPixels(background_) && mask_.buffer) {
            if (mask_.buffer->Create(background_.buffer->width, background_.buffer->height, kImgGray8))
                std::memset(mask_.buffer->pixels, 0,
                            static_cast<size_t>(mask_.buffer->width) * static_cast<size_t>(mask_.buffer->height));
        }
        if (HasPixels(mask_)) {
            C_ImgBuff& m = *mask_.buffer;
            const int64_t x0 = int64_t{std::min(dragStartX, dragX)} * kCell, y0 = int64_t{std::min(dragStartY, dragY)} * kCell;
            const int64_t x1 = std::min<int64_t>(int64_t{std::max(dragStartX, dragX)} * kCell + kCell, m.width) - 1;
            const int64_t y1 = std::min<int64_t>(int64_t{std::max(dragStartY, dragY)} * kCell + kCell, m.height) - 1;
            for (int64_t py = y0; py <= y1; ++py)
                if (x1 >= x0) std::memset(m.PixelAt(static_cast<int32_t>(x0), static_cast<int32_t>(py)), 255,
                                          static_cast<size_t>(x1 - x0 + 1));
        }
    }
    Rerun(0);
}

void CLfStrobePhoto::OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen*, CFgFont*, int32_t dx0,
                                   int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1,
                                   int32_t iy1, int32_t zoom) {
    if (!dragging || !toGlX || !toGlY) return;
    int32_t x0 = std::min(dragStartX, dragX) * kCell, y0 = std::min(dragStartY, dragY) * kCell;
    int32_t x1 = std::max(dragStartX, dragX) * kCell + kCell - 1, y1 = std::max(dragStartY, dragY) * kCell + kCell - 1;
    MapImageToView(&x0, &y0, dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoom);
    MapImageToView(&x1, &y1, dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoom);
    if (zoom > 1) {
        x0 += zoom / 2;
        y0 += zoom / 2;
        x1 += zoom / 2;
        y1 += zoom / 2;
    }
    glColor3d(guideRed, guideGreen, guideBlue);
    glBegin(GL_LINE_STRIP);
    glVertex2d(toGlX(x0), toGlY(y0));
    glVertex2d(toGlX(x1), toGlY(y0));
    glVertex2d(toGlX(x1), toGlY(y1));
    glVertex2d(toGlX(x0), toGlY(y1));
    glVertex2d(toGlX(x0), toGlY(y0));
    glEnd();
    glBegin(GL_POINTS);
    glVertex2d(toGlX(x0), toGlY(y0));
    glEnd();
}
