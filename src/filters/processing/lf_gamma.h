// "Gamma": raises every sample of the region to a power, either one gamma
// (or its inverse) or the ratio of two display gammas, to correct an image
// made for one display for another or to show how it looks there.
#pragma once

#include <mutex>

#include "filters/processing/dialog_filter.h"
#include "image/kernels/gamma.h"

class CLfGamma : public CDialogFilter<CLfGamma> {
public:
    CLfGamma();
    ~CLfGamma() override;

    CSetting<uint32_t> type{settings, L"type", 0, 0, 2};
    // Not finite values are refused by the range.
    CSetting<double> gamma{settings, L"gamma", 2.2, -1.7976931348623157e308, 1.7976931348623157e308};
    CSettingFlag rev{settings, L"rev", 1};
    CSetting<double> from{settings, L"from", 2.2, -1.7976931348623157e308, 1.7976931348623157e308};
    CSetting<double> to{settings, L"to", 1.8, -1.7976931348623157e308, 1.7976931348623157e308};

    CFgUIChkButton gammaMode, correctionMode, viewMode;
    CFgUILabel gammaLabel, fromLabel, toLabel;
    CFgUIEdit gammaEdit, fromEdit, toEdit;
    CFgUIChkButton revCheck;

    PanelSpec Panel() override;
    void LoadConfig(CCfgPack* pack) override;
    int32_t OnEnableAll(int32_t enable) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // The kernels' pair (g0, g1) for the current settings; the exponent is g1 / g0.
    void Pair(double* g0, double* g1) const;
    // A new table for the current settings, swapped in under the step's lock.
    void Rebuild();
    bool HasTable();

protected:
    void ApplyRules() override;

private:
    static void OnEdit(CFgUIEdit* edit, void* data);
    void ShowValue(CFgUIEdit* edit, double value);

    std::mutex tableLock_;  // held by the step while it applies the table
    GammaTable* table_ = nullptr;
    double g0_ = 1.0, g1_ = 1.0;
};

CImgFilter* CreateLfGamma();
