// Chain editing and the broadcasts of the chain controller. Those that
// change what the worker reads wait until no chain run is in progress.
#include <algorithm>
#include <cwchar>
#include <new>
#include <utility>

#include "filters/core/filterctrl.h"

namespace {

void HideUi(CImgFilter* filter) {
    if (filter->HasUi() && filter->visible) {
        filter->visible = 0;
        filter->uiParent = nullptr;
        filter->ShowUi(0, nullptr);
    }
}

}  // namespace

void CFilterCtrl::SendLanguage(CImgFilter* filter) {
    filter->language = language;
    filter->OnLang(filter->language.c_str());
}

int32_t CFilterCtrl::AddFilter(CImgFilter* filter, uint64_t* index) {
    if (!filter) return 0;
    ChainGateHold hold(gate_);
    FilterChain& chain = chains[activeChain];
    try {
        chain.filters.push_back(filter);
    } catch (...) {
        return 0;
    }
    if (index) *index = chain.Count() - 1;
    filter->owner = this;
    filter->width = width;
    filter->height = height;
    filter->bytesPerPixel = bytesPerPixel;
    filter->frames = frames;
    filter->OnSize(width, height, bytesPerPixel, frames);
    SendLanguage(filter);
    filter->guideRed = guideRed;
    filter->guideGreen = guideGreen;
    filter->guideBlue = guideBlue;
    filter->OnGuideColor(guideRed, guideGreen, guideBlue);
    filter->SetCalibration(calibScale, calibAxisY, calibUnit);
    filter->enabled = 1;
    filter->OnEnable(1);
    if (filter->HasUi()) {
        filter->visible = 1;
        filter->uiParent = uiParent;
        filter->ShowUi(1, uiParent);
    }
    return 1;
}

void CFilterCtrl::RemoveFromChain(FilterChain& chain, uint64_t index) {
    CImgFilter* filter = chain.filters[index];
    HideUi(filter);
    delete filter;
    chain.filters.erase(chain.filters.begin() + static_cast<ptrdiff_t>(index));
    if (chain.selected == filter) {
        if (index >= chain.Count()) {
            chain.selected = nullptr;
            chain.selectedIndex = 0;
        } else {
            chain.selected = chain.filters[index];
        }
    } else if (chain.selected && chain.selectedIndex > index) {
        --chain.selectedIndex;  // the selection keeps its filter
    }
    if (chain.filters.empty()) std::vector<CImgFilter*>().swap(chain.filters);
}

int32_t CFilterCtrl::RemoveFilter(uint64_t index) {
    ChainGateHold hold(gate_);
    FilterChain& chain = chains[activeChain];
    if (index >= chain.Count()) return 0;
    RemoveFromChain(chain, index);
    return 1;
}

void CFilterCtrl::RemoveAllFilters(int32_t all) {
    ChainGateHold hold(gate_);
    for (int32_t n = 0; n < kFilterChainCount; ++n) {
        if (!all && n != activeChain) continue;
        while (chains[n].Count() > 0) RemoveFromChain(chains[n], 0);
    }
}

int32_t CFilterCtrl::SwapFilters(uint64_t i, uint64_t j) {
    ChainGateHold hold(gate_);
    FilterChain& chain = chains[activeChain];
    if (i >= chain.Count() || j >= chain.Count()) return 0;
    std::swap(chain.filters[i], chain.filters[j]);
    if (chain.selected) {
        if (chain.selectedIndex == i)
            chain.selectedIndex = j;
        else if (chain.selectedIndex == j)
            chain.selectedIndex = i;
    }
    return 1;
}

// The selection is not read by the worker: no need to wait for a run.
int32_t CFilterCtrl::SelectFilter(uint64_t index) {
    FilterChain& chain = chains[activeChain];
    if (index >= chain.Count()) return 0;
    chain.selected = chain.filters[index];
    chain.selectedIndex = index;
    return 1;
}

int32_t CFilterCtrl::SelectChain(int32_t n) {
    if (n < 0 || n >= kFilterChainCount) return 0;
    ChainGateHold hold(gate_);
    activeChain = n;
    FilterChain& chain = chains[n];
    // Broadcasts reach the active chain only: bring this one up to date.
    if (chain.lastWidth != width || chain.lastHeight != height || chain.lastBytesPerPixel != bytesPerPixel ||
        chain.lastFrames != frames) {
        chain.lastWidth = width;
        chain.lastHeight = height;
        chain.lastBytesPerPixel = bytesPerPixel;
        chain.lastFrames = frames;
        for (CImgFilter* f : chain.filters) {
            f->width = width;
            f->height = height;
            f->bytesPerPixel = bytesPerPixel;
            f->frames = frames;
            f->OnSize(width, height, bytesPerPixel, frames);
        }
    }
    const bool newLanguage = chain.lastLanguage != language;
    const bool newGuide =
        chain.lastGuide[0] != guideRed || chain.lastGuide[1] != guideGreen || chain.lastGuide[2] != guideBlue;
    const bool newCalib =
        chain.lastCalibScale != calibScale || chain.lastCalibAxisY != calibAxisY || chain.lastCalibUnit != calibUnit;
    for (CImgFilter* f : chain.filters) {
        if (newLanguage) SendLanguage(f);
        if (newGuide) {
            f->guideRed = guideRed;
            f->guideGreen = guideGreen;
            f->guideBlue = guideBlue;
            f->OnGuideColor(guideRed, guideGreen, guideBlue);
        }
        if (newCalib) f->SetCalibration(calibScale, calibAxisY, calibUnit);
    }
    chain.lastLanguage = language;
    chain.lastGuide[0] = guideRed;
    chain.lastGuide[1] = guideGreen;
    chain.lastGuide[2] = guideBlue;
    chain.lastCalibScale = calibScale;
    chain.lastCalibAxisY = calibAxisY;
    chain.lastCalibUnit = calibUnit;
    return 1;
}

void CFilterCtrl::SetLanguage(const wchar_t* code) {
    if (!code || *code == L'\0') return;
    ChainGateHold hold(gate_);
    try {
        language = code;
    } catch (...) {
        return;
    }
    FilterChain& chain = chains[activeChain];
    chain.lastLanguage = language;
    for (CImgFilter* f : chain.filters) SendLanguage(f);
}

void CFilterCtrl::SetGuideColor(double red, double green, double blue) {
    ChainGateHold hold(gate_);
    guideRed = red;
    guideGreen = green;
    guideBlue = blue;
    FilterChain& chain = chains[activeChain];
    chain.lastGuide[0] = red;
    chain.lastGuide[1] = green;
    chain.lastGuide[2] = blue;
    for (CImgFilter* f : chain.filters) {
        f->guideRed = red;
        f->guideGreen = green;
        f->guideBlue = blue;
        f->OnGuideColor(red, green, blue);
    }
}

void CFilterCtrl::SetCalibration(double scale, int32_t axisY, const wchar_t* unit) {
    ChainGateHold hold(gate_);
    calibScale = scale;
    calibAxisY = axisY;
    if (unit) {
        size_t n = std::min(std::wcslen(unit), static_cast<size_t>(kFilterUnitMax - 1));
        std::wmemcpy(calibUnit, unit, n);
        calibUnit[n] = L'\0';
    }
    FilterChain& chain = chains[activeChain];
    chain.lastCalibScale = scale;
    chain.lastCalibAxisY = axisY;
    chain.lastCalibUnit = calibUnit;
    for (CImgFilter* f : chain.filters) f->SetCalibration(scale, axisY, unit);
}

void CFilterCtrl::SetSourceFormat(uint64_t w, uint64_t h, uint64_t bpp, uint64_t frameCount) {
    ChainGateHold hold(gate_);
    width = w;
    height = h;
    bytesPerPixel = bpp;
    frames = frameCount;
    FilterChain& chain = chains[activeChain];
    chain.lastWidth = w;
    chain.lastHeight = h;
    chain.lastBytesPerPixel = bpp;
    chain.lastFrames = frameCount;
    for (CImgFilter* f : chain.filters) {
        f->width = w;
        f->height = h;
        f->bytesPerPixel = bpp;
        f->frames = frameCount;
        f->OnSize(w, h, bpp, frameCount);
    }
}

void CFilterCtrl::EnableUi(int32_t flag) {
    ChainGateHold hold(gate_);
    for (CImgFilter* f : chains[activeChain].filters) f->EnableUi(flag != 0 ? 1 : 0);
}
