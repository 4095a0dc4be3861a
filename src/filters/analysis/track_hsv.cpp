#include "filters/analysis/track_hsv.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "image/colour.h"
#include "image/kernels/hsv_range.h"
#include "image/kernels/islands.h"
#include "image/kernels/morphology.h"
#include "image/kernels/object_removal.h"
#include "image/objects.h"
#include "image/pool.h"
#include "toolkit/fg_dialog.h"

bool HsvRangeContains(const HsvRange& r, uint16_t h, uint16_t s, uint16_t v) {
    if (v < r.valLow || v > r.valHigh || s < r.satLow || s > r.satHigh) return false;
    if (r.hueWidth >= 32768) return true;
    int32_t lo = static_cast<int32_t>(r.hueCentre) - r.hueWidth;
    if (lo < 0) lo += 65536;
    int32_t hi = static_cast<int32_t>(r.hueCentre) + r.hueWidth;
    if (hi > 65535) hi -= 65536;
    if (lo <= hi) return h >= lo && h <= hi;
    return h <= hi || h >= lo;
}

void TrackTintColour(const uint8_t flags[3], int32_t x, int32_t y, uint8_t out[3]) {
    const bool dark = ((x / 4 + y / 4) & 1) != 0;
    const bool any = flags[0] || flags[1] || flags[2];
    for (int c = 0; c < 3; ++c) {
        if (!any)
            out[c] = dark ? 0 : 127;
        else
            out[c] = flags[c] ? (dark ? 64 : 192) : 0;
    }
}

bool TrackBinarise(CImgBuff* image, const HsvRange& r, int64_t boxW, int64_t boxH, const CTrackCtrl* ctrl) {
    auto option = [&](uint32_t i) { return ctrl ? ctrl->Option(i) : kTrackOptionDefaults[i]; };
    const int32_t connect = static_cast<int32_t>(option(kTrackOptConnect));
    // The kept pixels become black objects on a white background.
    if (!ImgExtractHsvRange(image, r.hueCentre, r.hueWidth, r.satLow, r.satHigh, r.valLow, r.valHigh, 0, 1, 1, nullptr))
        return false;
    if (option(kTrackOptHoleFill)) ImgBinaryFillHoles(image, connect, 255, nullptr);
    uint64_t minimum = 0, maximum = 0;
    if (option(kTrackOptNoiseAuto)) {
        const uint64_t area = static_cast<uint64_t>(std::max<int64_t>(boxW, 0)) * static_cast<uint64_t>(std::max<int64_t>(boxH, 0));
        minimum = area / 100;
        maximum = std::max<uint64_t>(1, area / 2);
    } else {
        minimum = option(kTrackOptNoiseEnableLow) ? option(kTrackOptNoiseLow) : 0;
        maximum = option(kTrackOptNoiseEnableHigh) ? option(kTrackOptNoiseHigh) : 0;
    }
    if (minimum > 0 || maximum >= 1)
        ImgRemoveObjectsBySize(image, static_cast<uint32_t>(std::min<uint64_t>(minimum, UINT32_MAX)),
                               static_cast<uint32_t>(std::min<uint64_t>(maximum, UINT32_MAX)), connect, 1, nullptr);
    if (option(kTrackOptWindowCut)) ImgEraseEdgeObjects(image, 1, 1, 1, 1, connect, 1, nullptr);
    return true;
}

void CTrackHSV::BuildPreview(CImgBuff* image) {
    C_ImgBuff* b = image ? image->buffer : nullptr;
    if (!b || !b->pixels || b->width < 1 || b->height < 1) return;
    uint8_t flags[3] = {255, 255, 255};
    uint32_t preview = kTrackOptionDefaults[kTrackOptPreview];
    if (owner) {
        for (int c = 0; c < 3; ++c) flags[c] = owner->tint[c].load();
        preview = owner->Option(kTrackOptPreview);
    }
    const HsvRange r = range;
    CImgBuff mask;
    if (preview) {
        // The binarised copy says which pixels the tracker keeps.
        if (!mask.CopyFrom(image) || !mask.buffer || !mask.buffer->pixels) return;
        TrackBinarise(&mask, r, w, h, owner);
    }
    const C_ImgBuff* m = preview ? mask.buffer : nullptr;
    auto rows = [&](uint64_t first, uint64_t count) {
        uint8_t tint[3];
        for (uint64_t i = 0; i < count; ++i) {
            const int32_t yy = static_cast<int32_t>(first + i);
            for (int32_t xx = 0; xx < b->width; ++xx) {
                uint8_t own[3];
                if (m) {
                    uint16_t g = 0;
                    m->GetPixelGray16(xx, yy, &g);
                    if (g == 0) continue;
                    b->GetPixelRgb8(xx, yy, &own[0], &own[1], &own[2]);
                } else {
                    uint16_t hh, ss, vv;
                    b->GetPixelHsv16(xx, yy, &hh, &ss, &vv);
                    if (HsvRangeContains(r, hh, ss, vv)) continue;
                    uint16_t c16[3];
                    ImgHsv16ToRgb16(hh, ss, vv, &c16[0], &c16[1], &c16[2]);
                    for (int c = 0; c < 3; ++c) own[c] = static_cast<uint8_t>(c16[c] >> 8);
                }
                TrackTintColour(flags, xx, yy, tint);
                b->SetPixelRgb8(xx, yy, static_cast<uint8_t>((own[0] + tint[0]) / 2),
                                static_cast<uint8_t>((own[1] + tint[1]) / 2), static_cast<uint8_t>((own[2] + tint[2]) / 2));
            }
        }
    };
    PoolParallelRun(static_cast<uint64_t>(b->height), rows);
}

int32_t CTrackHSV::Find(CImgBuff* image, double* x, double* y) {
    if (!image || !image->buffer || !image->buffer->pixels) return 0;
    const C_ImgBuff* b = image->buffer;
    TrackBinarise(image, range, w, h, owner);
    IslandSettings s{};
    s.image = image;
    s.inverted = 1;
    s.connectivity = owner ? owner->Option(kTrackOptConnect) : kTrackOptionDefaults[kTrackOptConnect];
    s.islands = 0;
    s.unweighted = 1;
    s.lengthPerPixel = 1.0;
    s.yAxis = 1;
    const int32_t count = ImgMeasureIslands(&s, nullptr, nullptr, 0, nullptr);
    if (count < 1) return 0;
    IslandRecord* records = new (std::nothrow) IslandRecord[static_cast<size_t>(count)];
    if (!records) return 0;
    const int32_t measured = ImgMeasureIslands(&s, nullptr, records, static_cast<uint64_t>(count), nullptr);
    int32_t best = -1;
    if (measured == 1) {
        best = 0;
    } else if (measured > 1) {
        const uint32_t select = owner ? owner->Option(kTrackOptMultiSelect) : kTrackOptionDefaults[kTrackOptMultiSelect];
        if (select == 1) {
            const double cx = b->width * 0.5, cy = b->height * 0.5;
            double bestDistance = 0;
            for (int32_t i = 0; i < measured; ++i) {
                const double dx = records[i].weightedX - cx, dy = records[i].weightedY - cy;
                const double d = dx * dx + dy * dy;
                if (best < 0 || d < bestDistance) {
                    best = i;
                    bestDistance = d;
                }
            }
        } else if (select == 2) {
            for (int32_t i = 0; i < measured; ++i)
                if (best < 0 || records[i].area > records[best].area) best = i;
        }
    }
    int32_t found = 0;
    if (best >= 0) {
        if (x) *x = records[best].weightedX;
        if (y) *y = records[best].weightedY;
        found = 1;
    }
    delete[] records;
    return found;
}

// ---- panel ----

CPanelHSV::CPanelHSV(CTrackCtrl* ownerCtrl, CFgUICtrl* container) {
    owner = ownerCtrl;
    dialog = container;
    hueCentreBar.orientation = kFgBarHorizontal;
    hueCentreBar.minimum = 0;
    hueCentreBar.maximum = 65535;
    hueCentreBar.position = 0;
    hueWidthBar.orientation = kFgBarHorizontal;
    hueWidthBar.minimum = 0;
    hueWidthBar.maximum = 32768;
    hueWidthBar.position = 32768;
    for (CFgUIRangeBar* bar : {&satBar, &valBar}) {
        bar->orientation = kFgBarHorizontal;
        bar->minimum = 0;
        bar->maximum = 65535;
        bar->low = 0;
        bar->high = 65535;
        bar->data = this;
    }
    hueCentreBar.data = hueWidthBar.data = this;
    hueCentreBar.callback = [](CFgUIScrollBar*, void* data, int32_t position) {
        auto* p = static_cast<CPanelHSV*>(data);
        p->SliderMoved();
        p->range.hueCentre = static_cast<uint16_t>(position);
        p->NotifyChange();
    };
    hueWidthBar.callback = [](CFgUIScrollBar*, void* data, int32_t position) {
        auto* p = static_cast<CPanelHSV*>(data);
        p->SliderMoved();
        p->range.hueWidth = static_cast<uint16_t>(std::min(position, 32768));
        p->NotifyChange();
    };
    satBar.callback = [](CFgUIRangeBar*, void* data, int32_t low, int32_t high) {
        auto* p = static_cast<CPanelHSV*>(data);
        p->SliderMoved();
        p->range.satLow = static_cast<uint16_t>(low);
        p->range.satHigh = static_cast<uint16_t>(high);
        p->NotifyChange();
    };
    valBar.callback = [](CFgUIRangeBar*, void* data, int32_t low, int32_t high) {
        auto* p = static_cast<CPanelHSV*>(data);
        p->SliderMoved();
        p->range.valLow = static_cast<uint16_t>(low);
        p->range.valHigh = static_cast<uint16_t>(high);
        p->NotifyChange();
    };
    colorSet.data = colorAdd.data = optionButton.data = this;
    colorSet.callback = [](CFgUIChkButton* button, void* data) {
        auto* p = static_cast<CPanelHSV*>(data);
        if (button->checked) {
            p->colorAdd.checked = 0;
            p->pickMode = 0;
            p->Push(p->range);
            p->range = kHsvAcceptAll;
            p->ShowRange();
            p->Repaint();
            p->NotifyChange();
        } else {
            p->FreeHistory();
        }
    };
    colorAdd.callback = [](CFgUIChkButton* button, void* data) {
        auto* p = static_cast<CPanelHSV*>(data);
        if (button->checked) {
            p->colorSet.checked = 0;
            p->pickMode = 1;
            p->Repaint();
        } else {
            p->FreeHistory();
        }
    };
    optionButton.callback = [](CFgUIButton*, void* data) {
        auto* p = static_cast<CPanelHSV*>(data);
        if (p->owner) p->owner->ShowOptions();
    };
    CFgUIObj* controls[] = {&labels[0], &labels[1], &labels[2],  &labels[3], &hueCentreBar, &hueWidthBar,
                            &satBar,    &valBar,    &optionButton, &colorSet, &colorAdd};
    for (CFgUIObj* c : controls) {
        c->visible = 0;
        if (dialog) dialog->AddChild(c);
    }
}

CPanelHSV::~CPanelHSV() { FreeHistory(); }

void CPanelHSV::Layout(int32_t show, int32_t x, int32_t y, int32_t right, int32_t bottom, const wchar_t* language) {
    (void)bottom;
    const bool jp = language && std::wcscmp(language, L"jp") == 0;
    CFgUIObj* all[] = {&labels[0], &labels[1], &labels[2],  &labels[3], &hueCentreBar, &hueWidthBar,
                       &satBar,    &valBar,    &optionButton, &colorSet, &colorAdd};
    if (!show) {
        for (CFgUIObj* c : all) c->SetVisible(0, 0);
        return;
    }
    struct Place {
        int32_t dx, dy, w;
    };
    static const wchar_t* const kEn[] = {L"H center", L"H width", L"S", L"V"};
    static const wchar_t* const kJp[] = {L"色相(中心)", L"色相(幅)", L"彩度", L"輝度"};
    static const Place kLabelEn[] = {{8, 8, 56}, {9, 28, 48}, {9, 48, 8}, {8, 68, 8}};
    static const Place kLabelJp[] = {{8, 8, 72}, {8, 28, 56}, {8, 48, 32}, {8, 68, 32}};
    for (int i = 0; i < 4; ++i) {
        const Place& p = jp ? kLabelJp[i] : kLabelEn[i];
        labels[i].SetText(jp ? kJp[i] : kEn[i]);
        labels[i].SetRect(x + p.dx, y + p.dy, p.w, 20);
        labels[i].SetVisible(1, 0);
    }
    const int32_t sliderX = x + (jp ? 96 : 80);
    const int64_t sliderW = static_cast<int64_t>(right) - x - (jp ? 104 : 88);
    CFgUIObj* sliders[] = {&hueCentreBar, &hueWidthBar, &satBar, &valBar};
    for (int i = 0; i < 4; ++i) {
        if (sliderW >= 1) sliders[i]->SetRect(sliderX, y + 8 + 20 * i, static_cast<int32_t>(sliderW), 20);
        sliders[i]->SetVisible(1, 0);
    }
    optionButton.SetLabel(jp ? L"オプション" : L"OPTION");
    optionButton.SetRect(x + 8, y + 96, jp ? 80 : 64, 20);
    colorSet.SetLabel(jp ? L"色選択" : L"color set");
    colorSet.SetRect(x + (jp ? 96 : 80), y + 96, 96, 20);
    colorAdd.SetLabel(jp ? L"色追加" : L"color add");
    colorAdd.SetRect(x + (jp ? 176 : 174), y + 96, 96, 20);
    for (CFgUIObj* c : {static_cast<CFgUIObj*>(&optionButton), static_cast<CFgUIObj*>(&colorSet),
                        static_cast<CFgUIObj*>(&colorAdd)})
        c->SetVisible(1, 0);
}

CTrack* CPanelHSV::CreateTrack() {
    CTrackHSV* t = new (std::nothrow) CTrackHSV;
    if (!t) return nullptr;
    t->range = range;
    return t;
}

void CPanelHSV::LoadFromTrack(CTrack* track) {
    CTrackHSV* t = dynamic_cast<CTrackHSV*>(track);
    if (!t || t->kind != 1) return;
    range = t->range;
    ShowRange();
    Repaint();
}

void CPanelHSV::StoreToTrack(CTrack* track) {
    CTrackHSV* t = dynamic_cast<CTrackHSV*>(track);
    if (!t || t->kind != 1) return;
    if (owner) {
        CriticalSectionLock hold(owner->lock);
        t->range = range;
    } else {
        t->range = range;
    }
}

void CPanelHSV::ShowRange() {
    if (range.hueCentre <= hueCentreBar.maximum) hueCentreBar.position = range.hueCentre;
    if (range.hueWidth <= hueWidthBar.maximum) hueWidthBar.position = range.hueWidth;
    if (range.satLow <= range.satHigh) {
        satBar.low = range.satLow;
        satBar.high = range.satHigh;
    }
    if (range.valLow <= range.valHigh) {
        valBar.low = range.valLow;
        valBar.high = range.valHigh;
    }
}

void CPanelHSV::Repaint() {
    if (dialog) dialog->Redraw();
}

void CPanelHSV::SliderMoved() {
    if (!PickMode()) return;
    colorSet.checked = 0;
    colorAdd.checked = 0;
    pickPending = 0;
    Repaint();
}

void CPanelHSV::Reset() {
    colorSet.checked = 0;
    colorAdd.checked = 0;
    pickPending = 0;
    FreeHistory();
}

void CPanelHSV::Push(const HsvRange& entry) {
    HsvRange* grown = static_cast<HsvRange*>(std::realloc(history, (historyCount + 1) * sizeof(HsvRange)));
    if (!grown) return;
    history = grown;
    history[historyCount++] = entry;
}

bool CPanelHSV::Pop(HsvRange* entry) {
    if (historyCount == 0) return false;
    *entry = history[--historyCount];
    if (historyCount == 0) FreeHistory();
    return true;
}

void CPanelHSV::FreeHistory() {
    std::free(history);
    history = nullptr;
    historyCount = 0;
}

int32_t CPanelHSV::OnFilter(CImgBuff* image, uint64_t, int64_t x, int64_t y, int64_t width, int64_t height) {
    if (!pickPending) return 1;
    const C_ImgBuff* b = image ? image->buffer : nullptr;
    if (!b || !b->pixels) return 1;
    // The box is clipped to the step's region and to the image.
    const int64_t x0 = pickX < 2 ? 0 : pickX - 2, y0 = pickY < 2 ? 0 : pickY - 2;
    const int64_t x1 = std::min({pickX + 2, x + width - 1, static_cast<int64_t>(b->width) - 1});
    const int64_t y1 = std::min({pickY + 2, y + height - 1, static_cast<int64_t>(b->height) - 1});
    if (x0 > x1 || y0 > y1) return 1;
    HsvRange next = range;
    if (pickMode == 0) {
        uint16_t hh, ss, vv;
        b->GetPixelHsv16(static_cast<int32_t>(x0), static_cast<int32_t>(y0), &hh, &ss, &vv);
        next = {hh, 0, ss, ss, vv, vv};
    }
    for (int64_t yy = y0; yy <= y1; ++yy) {
        for (int64_t xx = x0; xx <= x1; ++xx) {
            uint16_t hh, ss, vv;
            b->GetPixelHsv16(static_cast<int32_t>(xx), static_cast<int32_t>(yy), &hh, &ss, &vv);
            ImgHueRangeAdd(next.hueCentre, next.hueWidth, hh, &next.hueCentre, &next.hueWidth);
            next.satLow = std::min(next.satLow, ss);
            next.satHigh = std::max(next.satHigh, ss);
            next.valLow = std::min(next.valLow, vv);
            next.valHigh = std::max(next.valHigh, vv);
        }
    }
    Push(range);
    range = next;
    ShowRange();
    if (pickMode == 0) {
        colorSet.checked = 0;
        colorAdd.checked = 1;
        pickMode = 1;
    }
    Repaint();
    return 1;
}

int32_t CPanelHSV::OnLButtonDown(int32_t, int32_t) { return PickMode() ? 0 : 1; }

int32_t CPanelHSV::OnLButtonUp(int32_t x, int32_t y) {
    if (!PickMode()) return 1;
    pickX = x;
    pickY = y;
    pickPending = 1;
    NotifyChange();
    pickPending = 0;
    return 0;
}

int32_t CPanelHSV::OnRButtonDown(int32_t, int32_t) {
    if (!PickMode()) return 1;
    HsvRange entry;
    if (!Pop(&entry)) return 0;
    range = entry;
    ShowRange();
    Repaint();
    NotifyChange();
    return 0;
}

int32_t CPanelHSV::OnRButtonUp() {
    if (!PickMode()) return 1;
    HsvRange entry;
    if (!Pop(&entry)) return 0;
    range = entry;
    NotifyChange();
    return 0;
}
