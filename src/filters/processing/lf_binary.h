// "Binary image process": one morphological operation on a binary image
// inside the region (exclusive expansion, expansion, degeneracy, thinning
// with whisker removal, border extraction, hole fill), applied with the
// "set" button.
#pragma once

#include <atomic>

#include "filters/processing/dialog_filter.h"

// An unsigned 64-bit count saved with "%lu"; a load reads it as an unsigned
// decimal number (saturating) and always takes it.
class CSettingCount64 : public CFilterSetting {
public:
    CSettingCount64(CFilterSettingList& list, const wchar_t* settingKey, uint64_t initial)
        : CFilterSetting(list, settingKey), applied_(initial), pending_(initial) {}
    uint64_t Get() const { return applied_.load(std::memory_order_relaxed); }
    uint64_t Pending() const { return pending_; }
    void Set(uint64_t v) {
        pending_ = v;
        applied_.store(v, std::memory_order_relaxed);
    }
    void SetPending(uint64_t v) { pending_ = v; }
    void Format(wchar_t* text, size_t size) const override;
    bool Parse(const wchar_t* text) override;
    void Apply() override { applied_.store(pending_, std::memory_order_relaxed); }
    void Revert() override { pending_ = Get(); }

private:
    std::atomic<uint64_t> applied_;
    uint64_t pending_;
};

class CLfBinary : public CDialogFilter<CLfBinary> {
public:
    CLfBinary();

    enum Type : int32_t { ExclusiveExpansion, Expansion, Degeneracy, Thinning, ExtractBorder, HoleFill };
    // A repeated operation stops early once a pass changes nothing, so any
    // count gives the result of the passes up to that point.
    CSetting<int32_t> type{settings, L"type", HoleFill, 0, 5};
    CSettingCount64 repeat{settings, L"repeat", 1};
    CSettingCount64 shave{settings, L"shave", 0};

    CFgUIChkButton typeButtons[6];
    CFgUIEdit repeatEdit, shaveEdit;
    CFgUILabel repeatLabel, shaveLabel;
    CFgUIButton setButton;

    PanelSpec Panel() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // Loads as every dialog filter does; the count boxes then show the
    // stored text itself ("007" stays "007").
    void LoadConfig(CCfgPack* pack) override;

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    static void OnTypeRadio(CFgUIChkButton* button, void* data);
    static void OnCountTyped(CFgUIEdit* edit, void* data);
    static void OnCountCommit(CFgUIEdit* edit, void* data);
    void ShowCount(CFgUIEdit* edit);
};

class CImgFilter;

// A new "Binary image process" filter, or null when out of memory.
CImgFilter* CreateLfBinary();
