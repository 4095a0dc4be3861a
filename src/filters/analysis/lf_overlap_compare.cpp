#include "filters/analysis/lf_overlap_compare.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "image/kernels/overlap_transform.h"
#include "image/pool.h"
#include "media/frame_output.h"
#include "toolkit/fg_file_select.h"

CImgFilter* CreateLfOverlapCompare() { return new (std::nothrow) CLfOverlapCompare; }

CLfOverlapCompare::CLfOverlapCompare() {
    compareButton.AddToGroup(&diffButton);
    compareButton.callback = diffButton.callback = OnRadio;
    compareButton.data = diffButton.data = this;
    struct Range {
        CFgUIScrollBar* bar;
        int32_t minimum, maximum, position;
    };
    for (const Range& r : {Range{&positionXBar, 0, 0, 0}, Range{&positionYBar, 0, 0, 0}, Range{&rollBar, -720, 720, 0},
                           Range{&sizeBar, 200, 800, 400}, Range{&transparencyBar, 1, 100, 50}}) {
        r.bar->orientation = kFgBarHorizontal;
        r.bar->callback = OnBar;
        r.bar->data = this;
        r.bar->page = 1;
        r.bar->minimum = r.minimum;
        r.bar->maximum = r.maximum;
        r.bar->position = r.position;
    }
    selectButton.callback = OnSelect;
    selectButton.data = this;
    ShowSettings();
    AttachControls();
}

PanelSpec CLfOverlapCompare::Panel() {
    return {L"Overlap compare", L"重ねて比較", 440, 302, 440, 302,
            {
                {&picture, 8, 8, 288, 288, nullptr, nullptr},
                {&positionLabel, 304, 8, 128, 20, L"position", L"位置"},
                {&positionXBar, 304, 28, 128, 20, nullptr, nullptr},
                {&positionYBar, 304, 48, 128, 20, nullptr, nullptr},
                {&rollLabel, 304, 72, 128, 20, L"roll", L"回転"},
                {&rollBar, 304, 92, 128, 20, nullptr, nullptr},
                {&sizeLabel, 304, 120, 128, 20, L"size", L"サイズ"},
                {&sizeBar, 304, 140, 128, 20, nullptr, nullptr},
                {&transparentLabel, 304, 168, 128, 20, L"transparent", L"透明度"},
                {&transparencyBar, 304, 188, 128, 20, nullptr, nullptr},
                {&compareButton, 304, 234, 64, 20, L"compare", L"比較"},
                {&diffButton, 370, 234, 64, 20, L"diff", L"違い"},
                {&selectButton, 304, 264, 128, 30, L"SELECT IMAGE", L"画像を選択"},
            }};
}

void CLfOverlapCompare::ApplyRules() {
    transparencyBar.enabled = mode.load() == 0 ? 1 : 0;
    if (!transparencyBar.enabled && focused == &transparencyBar) FocusNext();
}

void CLfOverlapCompare::ShowSettings() {
    compareButton.SelectInGroup(mode.load(), 0);
    positionXBar.position = positionX.load();
    positionYBar.position = positionY.load();
    rollBar.position = roll.load();
    sizeBar.position = size.load();
    transparencyBar.position = transparency.load();
}

bool CLfOverlapCompare::HasImage() const {
    std::lock_guard<std::mutex> hold(lock_);
    return chosen_ != nullptr;
}

std::shared_ptr<const CLfOverlapCompare::Overlay> CLfOverlapCompare::CurrentOverlay() const {
    std::lock_guard<std::mutex> hold(lock_);
    return overlay_;
}

void CLfOverlapCompare::RequestRebuild() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        rebuild_ = true;
    }
    Rerun(1);
}

void CLfOverlapCompare::SetPositionRanges() {
    int32_t overlayW = 0, overlayH = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (chosen_) {
            overlayW = chosen_->buffer->width;
            overlayH = chosen_->buffer->height;
        }
    }
    // Quarter pixels, kept within 32 bits for frames and overlays of any size.
    auto quarter = [](uint64_t v) { return static_cast<int32_t>(std::min<uint64_t>(v, INT32_MAX / 4) * 4); };
    positionXBar.minimum = -quarter(static_cast<uint64_t>(overlayW));
    positionXBar.maximum = quarter(CImgFilter::width);
    positionYBar.minimum = -quarter(static_cast<uint64_t>(overlayH));
    positionYBar.maximum = quarter(CImgFilter::height);
    positionXBar.position = positionYBar.position = 0;
    positionX = positionY = 0;
    if (PanelShown()) CFgUICtrl::Redraw();
}

void CLfOverlapCompare::OnSize(uint64_t, uint64_t, uint64_t, uint64_t) {
    const bool moved = positionX.load() != 0 || positionY.load() != 0;
    SetPositionRanges();
    // The overlay follows the sliders back to the origin.
    if (moved) {
        std::lock_guard<std::mutex> hold(lock_);
        rebuild_ = true;
    }
}

bool CLfOverlapCompare::SelectImage(const wchar_t* path) {
    auto loaded = std::make_shared<CImgBuff>();
    bool ok = loaded->buffer && path && path[0] &&
              LoadImageFile(loaded.get(), path, language.c_str(), PanelShown() ? this : nullptr) &&
              loaded->buffer->pixels && ImgFormatValid(loaded->buffer->format);
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (ok)
            chosen_ = std::move(loaded);
        else
            chosen_.reset();
        rebuild_ = true;
    }
    CFgTexture shown;
    if (ok && shown.SetFromImage(chosen_.get(), 1)) {
        picture.SetImage(&shown);
    } else {
        picture.GetTexture()->Clear();
    }
    picture.UpdateLayout();
    SetPositionRanges();
    Rerun(1);
    return ok;
}

void CLfOverlapCompare::OnBar(CFgUIScrollBar* bar, void* data, int32_t position) {
    auto* f = static_cast<CLfOverlapCompare*>(data);
    if (bar == &f->positionXBar) f->positionX = position;
    if (bar == &f->positionYBar) f->positionY = position;
    if (bar == &f->rollBar) f->roll = position;
    if (bar == &f->sizeBar) f->size = position;
    if (bar == &f->transparencyBar) f->transparency = position;
    f->RequestRebuild();
}

void CLfOverlapCompare::OnRadio(CFgUIChkButton* button, void* data) {
    auto* f = static_cast<CLfOverlapCompare*>(data);
    f->mode = (button->leader ? button->leader : button)->GetGroupSelection();
    f->ApplyRules();
    if (f->PanelShown()) f->CFgUICtrl::Redraw();
    f->RequestRebuild();
}

void CLfOverlapCompare::OnSelect(CFgUIButton*, void* data) {
    auto* f = static_cast<CLfOverlapCompare*>(data);
    wchar_t path[1024] = {};
    if (!FgSelectFile(path, 1024, nullptr, f->PanelShown() ? f : nullptr) || !path[0]) return;
    f->SelectImage(path);
}

namespace {

// The weight of each pixel on the 0-255 scale: `alpha` percent of the
// coverage for compare, the coverage for diff. alpha x coverage stays
// within 16 bits.
void PixelWeights(const uint8_t* mask, int32_t count, int32_t composeMode, uint16_t alpha, uint16_t* weights) {
    if (composeMode == 0)
        for (int32_t i = 0; i < count; ++i) weights[i] = static_cast<uint16_t>(static_cast<uint16_t>(alpha * mask[i]) / 100);
    else
        for (int32_t i = 0; i < count; ++i) weights[i] = mask[i];
}

// The pixel weights repeated for each of a pixel's C samples.
template <int32_t C>
void SampleWeights(const uint16_t* pixel, int32_t count, uint16_t* sample) {
    for (int32_t i = 0; i < count; ++i)
        for (int32_t c = 0; c < C; ++c) sample[C * i + c] = pixel[i];
}

// x / 255, exact over the blend's range and in shifts and adds, so that the
// loops below vectorise: up to 255 x 255 in 16 bits, up to 255 x 65535 in
// 32 bits ((x + 1) x 257 stays below 2^32).
inline uint16_t Div255(uint16_t x) { return static_cast<uint16_t>((x + 1 + (x >> 8)) >> 8); }
inline uint32_t Div255(uint32_t x) {
    const uint32_t t = x + 1;
    return (t * 257u + (t >> 8)) >> 16;
}
inline uint64_t Div255(uint64_t x) { return x / 255; }

// n samples of type T blended with sums in W, in flat loops: compare
// ((255 - a) in + a over) / 255, diff ((255 - m) in + m |in - over|) / 255.
template <class T, class W>
void BlendSamples(T* frame, const T* over, const uint16_t* weight, size_t n, int32_t composeMode) {
    // The weights' complements stay 16-bit, so that products of 16-bit
    // samples widen to 32 bits in one step.
    if (composeMode == 0) {
        for (size_t k = 0; k < n; ++k) {
            const uint16_t a = weight[k], keep = static_cast<uint16_t>(255 - a);
            frame[k] = static_cast<T>(Div255(static_cast<W>(W{keep} * frame[k] + W{a} * over[k])));
        }
        return;
    }
    for (size_t k = 0; k < n; ++k) {
        const uint16_t m = weight[k], keep = static_cast<uint16_t>(255 - m);
        const T in = frame[k], ov = over[k];
        const T d = static_cast<T>(in > ov ? in - ov : ov - in);
        frame[k] = static_cast<T>(Div255(static_cast<W>(W{keep} * in + W{m} * d)));
    }
}

struct ComposeJob {
    C_ImgBuff* frame;
    const C_ImgBuff* over;
    const C_ImgBuff* mask;
    int32_t x0, y0;          // overlay position in the frame
    int32_t fx0, fx1, fy0;   // covered frame columns (inclusive) and first row
    int32_t composeMode, alpha;
};

// Rows of a grey or RGB format of sample type T (C samples a pixel), the
// sums in W: 8-bit samples in 16 bits (255 x 255 fits), 16-bit in 32, 32-bit
// in 64.
template <class T, class W, int32_t C>
void ComposeRowsOf(const ComposeJob& j, uint64_t first, uint64_t count) {
    const int32_t span = j.fx1 - j.fx0 + 1;
    std::vector<uint16_t> pixel(static_cast<size_t>(span)), sample(C > 1 ? static_cast<size_t>(span) * C : 0);
    for (uint64_t r = first; r < first + count; ++r) {
        const int32_t fy = j.fy0 + static_cast<int32_t>(r);
        const int32_t oy = fy - j.y0, ox = j.fx0 - j.x0;
        PixelWeights(j.mask->PixelAt(ox, oy), span, j.composeMode, static_cast<uint16_t>(j.alpha), pixel.data());
        if (C > 1) SampleWeights<C>(pixel.data(), span, sample.data());
        BlendSamples<T, W>(reinterpret_cast<T*>(j.frame->PixelAt(j.fx0, fy)),
                           reinterpret_cast<const T*>(j.over->PixelAt(ox, oy)), C > 1 ? sample.data() : pixel.data(),
                           static_cast<size_t>(span) * C, j.composeMode);
    }
}

void ComposeRows(const ComposeJob& j, uint64_t first, uint64_t count) {
    switch (j.frame->format) {
        case kImgGray8: ComposeRowsOf<uint8_t, uint16_t, 1>(j, first, count); return;
        case kImgRgb8: ComposeRowsOf<uint8_t, uint16_t, 3>(j, first, count); return;
        case kImgGray16: ComposeRowsOf<uint16_t, uint32_t, 1>(j, first, count); return;
        case kImgRgb16: ComposeRowsOf<uint16_t, uint32_t, 3>(j, first, count); return;
        case kImgGray32: ComposeRowsOf<uint32_t, uint64_t, 1>(j, first, count); return;
        case kImgRgb32: ComposeRowsOf<uint32_t, uint64_t, 3>(j, first, count); return;
        default: break;
    }
    // XYZ, HSV and CMYK: R, G, B through the 32-bit accessors.
    const int32_t span = j.fx1 - j.fx0 + 1;
    for (uint64_t r = first; r < first + count; ++r) {
        const int32_t fy = j.fy0 + static_cast<int32_t>(r);
        const int32_t oy = fy - j.y0, ox = j.fx0 - j.x0;
        const uint8_t* m = j.mask->PixelAt(ox, oy);
        for (int32_t i = 0; i < span; ++i) {
            uint32_t in[3], ov[3];
            uint16_t weight;
            PixelWeights(m + i, 1, j.composeMode, static_cast<uint16_t>(j.alpha), &weight);
            const uint16_t w[3] = {weight, weight, weight};
            j.frame->GetPixelRgb32(j.fx0 + i, fy, &in[0], &in[1], &in[2]);
            j.over->GetPixelRgb32(ox + i, oy, &ov[0], &ov[1], &ov[2]);
            BlendSamples<uint32_t, uint64_t>(in, ov, w, 3, j.composeMode);
            j.frame->SetPixelRgb32(j.fx0 + i, fy, in[0], in[1], in[2]);
        }
    }
}

}  // namespace

void CLfOverlapCompare::Compose(CImgBuff* frame, const Overlay& overlay, int32_t composeMode, int32_t alpha) {
    C_ImgBuff* f = frame->buffer;
    const C_ImgBuff* o = overlay.image.buffer;
    const C_ImgBuff* m = overlay.mask.buffer;
    if (!f || !o || !m || !f->pixels || !o->pixels || !m->pixels || f->format != o->format ||
        m->format != kImgGray8 || m->width != o->width || m->height != o->height || (composeMode != 0 && composeMode != 1))
        return;
    // The frame rows and columns the overlay covers, in 64 bits.
    const int64_t fx0 = std::max<int64_t>(0, overlay.x0), fy0 = std::max<int64_t>(0, overlay.y0);
    const int64_t fx1 = std::min<int64_t>(f->width, int64_t{overlay.x0} + o->width) - 1;
    const int64_t fy1 = std::min<int64_t>(f->height, int64_t{overlay.y0} + o->height) - 1;
    if (fx1 < fx0 || fy1 < fy0) return;
    alpha = std::clamp(alpha, 0, 100);  // a percentage: weights stay within 0-255
    ComposeJob job{f, o, m, overlay.x0, overlay.y0, static_cast<int32_t>(fx0), static_cast<int32_t>(fx1),
                   static_cast<int32_t>(fy0), composeMode, alpha};
    auto rows = [&job](uint64_t first, uint64_t count) { ComposeRows(job, first, count); };
    PoolParallelRun(static_cast<uint64_t>(fy1 - fy0 + 1), rows);
}

int32_t CLfOverlapCompare::OnFilter(CImgBuff* image, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t,
                                    uint32_t*, uint32_t*) {
    if (!image || !image->buffer || !image->buffer->pixels || !ImgFormatValid(image->buffer->format)) return 1;
    const int32_t format = image->buffer->format;
    std::shared_ptr<const Overlay> current;
    std::shared_ptr<const CImgBuff> source;
    bool build = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        current = overlay_;
        // An overlay of another format is rebuilt: the workers read it in
        // the frame's own layout.
        const bool stale = current && current->format != format;
        if (!busy_ && (rebuild_ || stale)) {
            rebuild_ = false;
            busy_ = true;
            build = true;
            source = chosen_;
        }
    }
    if (build) {
        std::shared_ptr<Overlay> fresh;
        const double scale = size.load() / 4.0 / 100.0;
        if (source && scale > 0) {
            fresh = std::make_shared<Overlay>();
            const bool made = fresh->image.buffer && fresh->mask.buffer &&
                              ImgOverlapTransform(source.get(), positionX.load() / 4.0, positionY.load() / 4.0,
                                                  roll.load() / 4.0, scale, &fresh->image, &fresh->mask, &fresh->x0,
                                                  &fresh->y0) &&
                              (fresh->image.buffer->format == format ||
                               fresh->image.buffer->ConvertFormat(static_cast<uint32_t>(format)));
            if (made)
                fresh->format = format;
            else
                fresh.reset();
        }
        std::lock_guard<std::mutex> hold(lock_);
        overlay_ = fresh;
        busy_ = false;
        current = std::move(fresh);
    }
    const int32_t composeMode = mode.load();
    if (current && current->format == format && (composeMode == 0 || composeMode == 1))
        Compose(image, *current, composeMode, transparency.load());
    return 1;
}
