#include "filters/analysis/lf_anti_shake.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "filters/analysis/sequence_run.h"
#include "filters/core/cfgfile.h"
#include "filters/core/filterctrl.h"
#include "image/kernels/align.h"
#include "image/kernels/convolve.h"
#include "image/kernels/image_shift.h"
#include "image/kernels/raster_stack.h"
#include "image/pool.h"
#include "media/codec.h"
#include "media/frame_output.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

CImgFilter* CreateLfAntiShake() { return new (std::nothrow) CLfAntiShake; }

namespace {

bool HasPixels(const CImgBuff& h) { return h.buffer && h.buffer->pixels && ImgFormatValid(h.buffer->format); }

int32_t PatchSize(uint64_t w, uint64_t h) {
    return static_cast<int32_t>(std::max<uint64_t>(std::min(w, h) / 16, 8));
}

}  // namespace

CLfAntiShake::CLfAntiShake() {
    shakeButton.AddToGroup(&compositeButton);
    fixedButton.AddToGroup(&movingButton);
    for (CFgUIChkButton* b : {&shakeButton, &compositeButton, &fixedButton, &movingButton}) {
        b->callback = OnRadio;
        b->data = this;
    }
    for (CFgUIChkButton* b : {&zoomBox, &antiNoiseBox, &specifyBox}) {
        b->callback = OnBox;
        b->data = this;
    }
    openButton.callback = saveButton.callback = OnButton;
    openButton.data = saveButton.data = this;
    ShowSettings();
    AttachControls();
}

PanelSpec CLfAntiShake::Panel() {
    const bool busy = Running();
    return {L"Anti shake / Composit", L"ブレ補正 / 加算平均", 268, 152, 268, 152,
            {
                {&shakeButton, 8, 8, 124, 20, L"anti shake", L"ブレ補正"},
                {&compositeButton, 136, 8, 124, 20, L"composit", L"加算平均"},
                {&fixedButton, 8, 32, 124, 20, L"fixed", L"定点"},
                {&movingButton, 136, 32, 124, 20, L"moving", L"移動"},
                {&zoomBox, 8, 56, 124, 20, L"zoom(x2)", L"拡大(x2)"},
                {&antiNoiseBox, 136, 56, 124, 20, L"anti noise", L"ノイズ軽減"},
                {&specifyBox, 8, 80, 252, 20, L"specify a reference point", L"基準点を指定する"},
                {&openButton, 8, 108, 124, 36, L"OPEN", L"画像を開く"},
                {&saveButton, 136, 108, 124, 36, busy ? L"CANCEL" : L"SAVE", busy ? L"中止" : L"画像を保存"},
            }};
}

void CLfAntiShake::ApplyRules() {
    const uint32_t idle = Running() ? 0 : 1;
    const uint32_t composite = sel.Get() == 1 ? 1 : 0;
    shakeButton.enabled = compositeButton.enabled = idle;
    fixedButton.enabled = movingButton.enabled = idle && !composite;
    zoomBox.enabled = idle && composite;
    antiNoiseBox.enabled = zoomBox.enabled && zoom.Get() ? 1 : 0;
    specifyBox.enabled = idle && !(!composite && type.Get() == 1);
    openButton.enabled = idle && composite;
    saveButton.enabled = 1;
    if (focused && !focused->enabled) FocusNext();
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfAntiShake::ShowSettings() {
    shakeButton.SelectInGroup(static_cast<int32_t>(sel.Get()), 0);
    fixedButton.SelectInGroup(static_cast<int32_t>(type.Get()), 0);
    zoomBox.checked = zoom.Get();
    antiNoiseBox.checked = antiNoise.Get();
}

void CLfAntiShake::EnableUi(int32_t enable) {
    if (Running()) return;
    CDialogFilter<CLfAntiShake>::EnableUi(enable);
}

int32_t CLfAntiShake::QueryClose() {
    if (Running()) return 0;
    return CDialogFilter<CLfAntiShake>::QueryClose();
}

void CLfAntiShake::SaveConfig(CCfgPack* pack) {
    CDialogFilter<CLfAntiShake>::SaveConfig(pack);
    looseFlags.Save(pack);
}

void CLfAntiShake::LoadConfig(CCfgPack* pack) {
    if (pack) {
        // Any text but "0" and empty turns these on.
        for (CSettingFlag* flag : {&zoom, &antiNoise})
            if (const wchar_t* v = CfgFindValue(pack, flag->key)) flag->Set(v[0] && std::wcscmp(v, L"0") != 0 ? 1 : 0);
    }
    CDialogFilter<CLfAntiShake>::LoadConfig(pack);
}

void CLfAntiShake::Message(const wchar_t* en, const wchar_t* jp, bool error) {
    const bool j = Japanese();
    FgMessageBox(j ? jp : en, error ? (j ? L"エラー" : L"error") : (j ? L"確認" : L"confirmation"), 1,
                 PanelShown() ? this : nullptr);
}

void CLfAntiShake::ClearReferences() {
    for (Reference& r : refs) {
        r.pattern.FreePixels();
        r.x = r.y = 0;
        r.w = r.h = 0;
    }
}

void CLfAntiShake::OnRadio(CFgUIChkButton* button, void* data) {
    auto* f = static_cast<CLfAntiShake*>(data);
    const int32_t index = (button->leader ? button->leader : button)->GetGroupSelection();
    if (index != 0 && index != 1) return;
    if (button == &f->shakeButton || button == &f->compositeButton) f->sel.Set(static_cast<uint32_t>(index));
    if (button == &f->fixedButton || button == &f->movingButton) f->type.Set(static_cast<uint32_t>(index));
    f->ApplyRules();
}

void CLfAntiShake::OnBox(CFgUIChkButton* box, void* data) {
    auto* f = static_cast<CLfAntiShake*>(data);
    if (box == &f->zoomBox) f->zoom.Set(box->checked ? 1 : 0);
    if (box == &f->antiNoiseBox) f->antiNoise.Set(box->checked ? 1 : 0);
    if (box == &f->specifyBox) {
        f->ClearReferences();
        if (f->Chain()) f->Chain()->Redraw();
    }
    f->ApplyRules();
}

void CLfAntiShake::OnButton(CFgUIButton* button, void* data) {
    auto* f = static_cast<CLfAntiShake*>(data);
    if (button == &f->saveButton && f->run_) {
        f->run_->Cancel();
        return;
    }
    if (f->run_) return;
    f->Run(button == &f->saveButton);
}

int32_t CLfAntiShake::OnFilter(CImgBuff* image, uint64_t frame, int64_t, int64_t, int64_t, int64_t, uint32_t,
                               uint32_t bg, uint32_t*, uint32_t*) {
    if (CSequenceRun::Capture(this, image, frame)) return 1;
    if (!image || !HasPixels(*image)) return 1;
    {
        std::lock_guard<std::mutex> hold(pickLock_);
        if (picking_) picked_.CopyFrom(image);
    }
    if (!CSequenceRun::Running(this)) {
        patch = PatchSize(static_cast<uint64_t>(image->buffer->width), static_cast<uint64_t>(image->buffer->height));
        fill = bg > 0 ? 255 : 0;
    }
    return 1;
}

void CLfAntiShake::CutReference(Reference* slot, const CImgBuff& frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                double px, double py) {
    if (!slot->pattern.buffer || !frame.ExtractRect(&slot->pattern, x0, y0, x1, y1)) {
        slot->pattern.FreePixels();
        return;
    }
    slot->x = px;
    slot->y = py;
    slot->w = x1 - x0 + 1;
    slot->h = y1 - y0 + 1;
}

void CLfAntiShake::OnLButtonDown(int64_t x, int64_t y, uint32_t) {
    if (Running() || !specifyBox.checked || !Chain()) return;
    {
        std::lock_guard<std::mutex> hold(pickLock_);
        picking_ = true;
        picked_.FreePixels();
    }
    Chain()->Refilter(0);
    CImgBuff frame;
    {
        std::lock_guard<std::mutex> hold(pickLock_);
        picking_ = false;
        std::swap(frame.buffer, picked_.buffer);
        picked_.FreePixels();
    }
    if (HasPixels(frame)) {
        const int64_t n = patch.load(), w = frame.buffer->width, h = frame.buffer->height;
        const int64_t x0 = std::max<int64_t>(x - n / 2, 0), y0 = std::max<int64_t>(y - n / 2, 0);
        const int64_t x1 = std::min<int64_t>(x + n - n / 2 - 1, w - 1), y1 = std::min<int64_t>(y + n - n / 2 - 1, h - 1);
        Reference* slot = !refs[0].Used() ? &refs[0] : !refs[1].Used() ? &refs[1] : nullptr;
        if (slot && x1 - x0 + 1 >= 8 && y1 - y0 + 1 >= 8)
            CutReference(slot, frame, static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1),
                         static_cast<int32_t>(y1), static_cast<double>(x0), static_cast<double>(y0));
    }
    Chain()->Redraw();
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfAntiShake::OnRButtonDown(int64_t, int64_t, uint32_t) {
    if (Running() || !specifyBox.checked) return;
    Reference& r = refs[1].Used() ? refs[1] : refs[0];
    r.pattern.FreePixels();
    if (Chain()) Chain()->Redraw();
}

void CLfAntiShake::OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen*, CFgFont*, int32_t dx0,
                                 int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1,
                                 int32_t iy1, int32_t zoomCode) {
    if (Running() || !specifyBox.checked || !refs[0].Used() || !toGlX || !toGlY) return;
    glColor3d(guideRed, guideGreen, guideBlue);
    for (const Reference& r : refs) {
        if (!r.Used()) continue;
        int32_t x0 = static_cast<int32_t>(r.x), y0 = static_cast<int32_t>(r.y);
        int32_t x1 = x0 + r.w - 1, y1 = y0 + r.h - 1;
        MapImageToView(&x0, &y0, dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoomCode);
        MapImageToView(&x1, &y1, dx0, dy0, dx1, dy1, ix0, iy0, ix1, iy1, zoomCode);
        glBegin(GL_LINE_LOOP);
        glVertex2d(toGlX(x0), toGlY(y0));
        glVertex2d(toGlX(x1), toGlY(y0));
        glVertex2d(toGlX(x1), toGlY(y1));
        glVertex2d(toGlX(x0), toGlY(y1));
        glEnd();
    }
}

// --- accumulation ---

void CLfAntiShake::Accumulate(const CImgBuff& frame, double* const sums[3]) {
    const C_ImgBuff& F = *frame.buffer;
    const int32_t w = F.width, format = F.format;
    auto rows = [&](uint64_t first, uint64_t count) {
        for (uint64_t yy = first; yy < first + count; ++yy) {
            const int32_t y = static_cast<int32_t>(yy);
            const uint64_t base = yy * static_cast<uint64_t>(w);
            const uint8_t* p = F.PixelAt(0, y);
            switch (format) {
                case kImgGray8:
                    for (int32_t x = 0; x < w; ++x) sums[0][base + x] += p[x];
                    break;
                case kImgGray16:
                    for (int32_t x = 0; x < w; ++x) sums[0][base + x] += reinterpret_cast<const uint16_t*>(p)[x];
                    break;
                case kImgGray32:
                    for (int32_t x = 0; x < w; ++x) sums[0][base + x] += reinterpret_cast<const uint32_t*>(p)[x];
                    break;
                case kImgRgb8:
                    for (int32_t x = 0; x < w; ++x)
                        for (int c = 0; c < 3; ++c) sums[c][base + x] += p[3 * x + c];
                    break;
                case kImgRgb16:
                    for (int32_t x = 0; x < w; ++x)
                        for (int c = 0; c < 3; ++c) sums[c][base + x] += reinterpret_cast<const uint16_t*>(p)[3 * x + c];
                    break;
                case kImgRgb32:
                    for (int32_t x = 0; x < w; ++x)
                        for (int c = 0; c < 3; ++c) sums[c][base + x] += reinterpret_cast<const uint32_t*>(p)[3 * x + c];
                    break;
                default:
                    // XYZ, HSV and CMYK: R, G, B at the depth of the format.
                    for (int32_t x = 0; x < w; ++x) {
                        uint32_t v[3] = {};
                        if (format == kImgCmyk8) {
                            uint8_t r, g, b;
                            F.GetPixelRgb8(x, y, &r, &g, &b);
                            v[0] = r, v[1] = g, v[2] = b;
                        } else if (format == kImgHsv16) {
                            uint16_t r, g, b;
                            F.GetPixelRgb16(x, y, &r, &g, &b);
                            v[0] = r, v[1] = g, v[2] = b;
                        } else {
                            F.GetPixelRgb32(x, y, &v[0], &v[1], &v[2]);
                        }
                        for (int c = 0; c < 3; ++c) sums[c][base + x] += v[c];
                    }
                    break;
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(F.height), rows);
}

bool CLfAntiShake::MeanImage(const double* const sums[3], uint64_t count, int32_t format, int32_t width, int32_t height,
                             CImgBuff* out) {
    if (!count || !out->buffer || !out->buffer->Create(width, height, format)) return false;
    C_ImgBuff& O = *out->buffer;
    const double n = static_cast<double>(count);
    auto mean = [&](int c, uint64_t i) { return static_cast<uint32_t>(std::trunc(sums[c][i] / n)); };
    auto rows = [&](uint64_t first, uint64_t rowCount) {
        for (uint64_t yy = first; yy < first + rowCount; ++yy) {
            const int32_t y = static_cast<int32_t>(yy);
            const uint64_t base = yy * static_cast<uint64_t>(width);
            uint8_t* p = O.PixelAt(0, y);
            for (int32_t x = 0; x < width; ++x) {
                const uint64_t i = base + static_cast<uint64_t>(x);
                switch (format) {
                    case kImgGray8: p[x] = static_cast<uint8_t>(mean(0, i)); break;
                    case kImgGray16: reinterpret_cast<uint16_t*>(p)[x] = static_cast<uint16_t>(mean(0, i)); break;
                    case kImgGray32: reinterpret_cast<uint32_t*>(p)[x] = mean(0, i); break;
                    case kImgRgb8:
                        for (int c = 0; c < 3; ++c) p[3 * x + c] = static_cast<uint8_t>(mean(c, i));
                        break;
                    case kImgRgb16:
                        for (int c = 0; c < 3; ++c) reinterpret_cast<uint16_t*>(p)[3 * x + c] = static_cast<uint16_t>(mean(c, i));
                        break;
                    case kImgRgb32:
                        for (int c = 0; c < 3; ++c) reinterpret_cast<uint32_t*>(p)[3 * x + c] = mean(c, i);
                        break;
                    case kImgCmyk8:
                        O.SetPixelRgb8(x, y, static_cast<uint8_t>(mean(0, i)), static_cast<uint8_t>(mean(1, i)),
                                       static_cast<uint8_t>(mean(2, i)));
                        break;
                    case kImgHsv16:
                        O.SetPixelRgb16(x, y, static_cast<uint16_t>(mean(0, i)), static_cast<uint16_t>(mean(1, i)),
                                        static_cast<uint16_t>(mean(2, i)));
                        break;
                    default: O.SetPixelRgb32(x, y, mean(0, i), mean(1, i), mean(2, i)); break;
                }
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(height), rows);
    return true;
}

// --- the run ---

bool CLfAntiShake::AskStillPath(wchar_t* path) {
    const bool jp = Japanese();
    CFgScreen* parent = PanelShown() ? this : nullptr;
    FgSelectFileOptions options;
    options.title = jp ? L"保存する画像ファイル" : L"Save image file";
    options.startPath = g_LastFileDir;
    options.extensions = GetImageExtensionList();
    if (!FgSelectFile(path, kFgPathMax + 1, &options, parent) || !path[0]) return false;
    if (codec_file_exists(path) &&
        FgMessageBox(jp ? L"上書き保存しますか？" : L"Do you want to overwrite it?", jp ? L"確認" : L"confirmation", 2,
                     parent) != 1)
        return false;
    return true;
}

CLfAntiShake::Outcome CLfAntiShake::Steady(CSequenceRun& run, const CImgBuff& first, int32_t n) {
    const bool jp = Japanese();
    codec_write_options encode{};
    if (Chain()) Chain()->GetEncodeSettings(&encode);
    int32_t cancelled = 0;
    FrameOutput* out = SaveFramesAs(&first, CImgFilter::frames, language.c_str(), nullptr,
                                    jp ? L"保存ファイルの選択" : L"Select save file", &encode,
                                    PanelShown() ? this : nullptr, &cancelled);
    if (!out) return cancelled ? kCanceled : kFailed;
    const int32_t w = first.buffer->width, h = first.buffer->height;
    const uint8_t fillLevel = static_cast<uint8_t>(fill.load());
    int32_t refX[2] = {static_cast<int32_t>(refs[0].x), static_cast<int32_t>(refs[1].x)};
    int32_t refY[2] = {static_cast<int32_t>(refs[0].y), static_cast<int32_t>(refs[1].y)};
    int32_t searchX[2] = {refX[0], refX[1]}, searchY[2] = {refY[0], refY[1]};
    bool written = true, lost = false;
    CImgBuff frame;
    for (uint64_t i = 0; i < CImgFilter::frames && written; ++i) {
        const CSequenceRun::StepResult got = run.Step(i, &frame);
        if (got == CSequenceRun::kCanceled) break;
        // A frame missing from the output would shorten it: the run stops.
        if (got != CSequenceRun::kReady || frame.buffer->width != w || frame.buffer->height != h) {
            lostFrame_ = i;
            lost = true;
            break;
        }
        if (type.Get() == 0) {
            const CImgBuff* templates[2] = {&refs[0].pattern, &refs[1].pattern};
            double foundX[2] = {}, foundY[2] = {};
            if (ImgAlignTwoPointsEx(&frame, templates, refX, refY, searchX, searchY, n, fillLevel, foundX, foundY))
                for (int k = 0; k < 2; ++k) {
                    searchX[k] = static_cast<int32_t>(foundX[k]);
                    searchY[k] = static_cast<int32_t>(foundY[k]);
                }
        } else {
            double dx = 0, dy = 0;
            if (refs[0].Used() && ImgRefinePointOffset(&frame, &refs[0].pattern, static_cast<int32_t>(refs[0].x),
                                                       static_cast<int32_t>(refs[0].y), std::min(w, h) / 6, &dx, &dy, 0)) {
                ImgShiftSubpixel(&frame, -dx, -dy, fillLevel);
                // The reference is taken again from the steadied frame, led
                // by a quarter of an offset of 16 pixels or more.
                const double leadX = std::fabs(dx) < 16 ? 0.0 : dx, leadY = std::fabs(dy) < 16 ? 0.0 : dy;
                const int32_t x0 = std::clamp(w / 3 - static_cast<int32_t>(leadX / 4), 0, w - 1);
                const int32_t y0 = std::clamp(h / 3 - static_cast<int32_t>(leadY / 4), 0, h - 1);
                const int32_t x1 = std::min(x0 + w / 3 - 1, w - 1), y1 = std::min(y0 + h / 3 - 1, h - 1);
                CutReference(&refs[0], frame, x0, y0, x1, y1, w / 3, h / 3);
            }
        }
        written = WriteOutputFrame(out, &frame) != 0;
    }
    // Ended on every way out: a cancelled or stopped run leaves the old files as they were.
    bool closed = false;
    if (run.Canceled() || lost)
        AbortFrameOutput(out);
    else
        closed = CloseFrameOutput(out) != 0;
    if (run.Canceled()) return kCanceled;
    if (lost) return kLost;
    return written && closed ? kDone : kFailed;
}

CLfAntiShake::Outcome CLfAntiShake::Mean(CSequenceRun& run, int32_t n, CImgBuff* result) {
    const int32_t w = static_cast<int32_t>(CImgFilter::width), h = static_cast<int32_t>(CImgFilter::height);
    const uint8_t fillLevel = static_cast<uint8_t>(fill.load());
    int32_t refX[2] = {static_cast<int32_t>(refs[0].x), static_cast<int32_t>(refs[1].x)};
    int32_t refY[2] = {static_cast<int32_t>(refs[0].y), static_cast<int32_t>(refs[1].y)};
    const CImgBuff* templates[2] = {&refs[0].pattern, &refs[1].pattern};
    std::unique_ptr<double[]> planes[3];
    double* sums[3] = {};
    uint64_t added = 0;
    int32_t format = 0, fw = 0, fh = 0;
    CImgBuff frame;
    for (uint64_t i = 0; i < std::max<uint64_t>(CImgFilter::frames, 1); ++i) {
        const CSequenceRun::StepResult got = run.Step(i, &frame);
        if (got == CSequenceRun::kCanceled) return kCanceled;
        if (got != CSequenceRun::kReady) {
            // The mean of fewer frames than asked is not the result: the run stops.
            lostFrame_ = i;
            return kLost;
        }
        if (!format) {
            format = frame.buffer->format;
            fw = frame.buffer->width;
            fh = frame.buffer->height;
            const uint64_t cells = static_cast<uint64_t>(fw) * static_cast<uint64_t>(fh);
            for (int c = 0; c < (format >= kImgRgb8 ? 3 : 1); ++c) {
                planes[c].reset(new (std::nothrow) double[cells]());
                if (!planes[c]) return kFailed;
                sums[c] = planes[c].get();
            }
        }
        if (frame.buffer->format != format || frame.buffer->width != fw || frame.buffer->height != fh) {
            lostFrame_ = i;
            return kLost;
        }
        (void)w, (void)h;
        ImgAlignTwoPoints(0, &frame, templates, refX, refY, n, fillLevel, 0);
        Accumulate(frame, sums);
        ++added;
    }
    return added && MeanImage(sums, added, format, fw, fh, result) ? kDone : kFailed;
}

CLfAntiShake::Outcome CLfAntiShake::Stack(CSequenceRun& run, const CImgBuff& first, CImgBuff* result) {
    FrameStack* stack = ImgFrameStackCreate(&first);
    if (!stack) return kFailed;
    const uint8_t fillLevel = static_cast<uint8_t>(fill.load());
    CImgBuff frame;
    for (uint64_t i = 1; i < CImgFilter::frames; ++i) {
        const CSequenceRun::StepResult got = run.Step(i, &frame);
        if (got == CSequenceRun::kCanceled) {
            CImgBuff discard;
            ImgFrameStackResolve(stack, &discard);  // frees the stack
            return kCanceled;
        }
        if (got != CSequenceRun::kReady) {
            lostFrame_ = i;
            CImgBuff discard;
            ImgFrameStackResolve(stack, &discard);  // frees the stack
            return kLost;
        }
        ImgFrameStackAdd(stack, &frame, fillLevel);
    }
    if (!ImgFrameStackResolve(stack, result)) return kFailed;
    if (antiNoise.Get()) {
        const double smooth[9] = {1, 2, 1, 2, 3, 2, 1, 2, 1};
        const double sharpen[9] = {-1, -2, -1, -2, 18, -2, -1, -2, -1};
        if (!ImgConvolve3x3(result, 0, smooth) || !ImgConvolve3x3(result, 0, sharpen)) return kFailed;
    }
    return kDone;
}

void CLfAntiShake::Run(bool save) {
    if (run_ || !Chain()) return;
    const bool jp = Japanese();
    if (CImgFilter::frames < 2) Message(L"there is no video", L"動画がありません", false);
    const int32_t n = PatchSize(CImgFilter::width, CImgFilter::height);
    CSequenceRun run(this);
    if (run.Begin(&saveButton, jp ? L"中止" : L"CANCEL") != CSequenceRun::kStarted) {
        Message(L"failed", L"失敗しました", true);
        return;
    }
    CImgBuff first;
    const CSequenceRun::StepResult firstGot = run.Step(0, &first);
    if (firstGot != CSequenceRun::kReady) {
        run.End();
        if (firstGot == CSequenceRun::kCanceled)
            Message(L"canceled", L"中止しました", false);
        else
            Message(LostFramesText({0}, true, false).c_str(), LostFramesText({0}, true, true).c_str(), true);
        return;
    }
    const int32_t w = first.buffer->width, h = first.buffer->height;
    const bool steady = sel.Get() == 0;
    if (steady && type.Get() == 1) {
        ClearReferences();
        CutReference(&refs[0], first, w / 3, h / 3, 2 * (w / 3) - 1, 2 * (h / 3) - 1, w / 3, h / 3);
    } else if (!specifyBox.checked) {
        TileScore a{}, b{};
        if (!ImgFindReferenceArea(&first, n, n, w - n, h - n, n, n, &a, &b)) {
            run.End();
            Message(L"reference point not found", L"基準点が見つかりません", false);
            return;
        }
        CutReference(&refs[0], first, a.x0, a.y0, a.x1, a.y1, a.x0, a.y0);
        CutReference(&refs[1], first, b.x0, b.y0, b.x1, b.y1, b.x0, b.y0);
    } else if (!refs[0].Used() || !refs[1].Used()) {
        run.End();
        Message(L"specify two reference points", L"2つの基準点を指定してください", false);
        return;
    }
    run_ = &run;
    ApplyRules();
    Outcome outcome = kFailed;
    CImgBuff result;
    wchar_t path[kFgPathMax + 1] = {};
    if (steady) {
        outcome = Steady(run, first, n);
    } else if (save && !AskStillPath(path)) {
        outcome = kCanceled;
    } else {
        outcome = zoom.Get() ? Stack(run, first, &result) : Mean(run, n, &result);
        if (outcome == kDone) {
            if (save)
                outcome = SaveImageFile(&result, path, nullptr, nullptr) ? kDone : kFailed;
            else
                Chain()->ReplaceSourceImage(&result);
        }
    }
    if (run.Canceled()) outcome = kCanceled;
    ClearReferences();
    run_ = nullptr;
    run.End();
    ApplyRules();
    if (outcome == kCanceled)
        Message(L"canceled", L"中止しました", false);
    else if (outcome == kLost)
        Message(LostFramesText({lostFrame_}, true, false).c_str(), LostFramesText({lostFrame_}, true, true).c_str(),
                true);
    else if (save || steady)
        outcome == kDone ? Message(L"saved", L"セーブしました", false)
                         : Message(L"saving failed", L"セーブできませんでした", true);
    else
        outcome == kDone ? Message(L"finishd", L"終了しました", false) : Message(L"failed", L"失敗しました", true);
    if (Chain()) Chain()->Redraw();
}
