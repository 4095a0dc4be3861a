// "Frequency mask": between "FFT" and an inverse, removes one band of radial
// frequency rings (0 at the centre of the plane, 179 at its corners) from
// the latest spectrum, or everything outside it ("revers"), and paints the
// removed coefficients black in the spectrum picture.
#pragma once

#include <mutex>

#include "filters/processing/dialog_filter.h"
#include "toolkit/fg_rangebar.h"

struct SpectrumRecord;

class CLfFreqMask : public CDialogFilter<CLfFreqMask> {
public:
    // The applied band, read by the worker as one consistent copy.
    struct Band {
        uint32_t revers = 0;
        int32_t low = 179, high = 179;
    };

    CLfFreqMask();
    ~CLfFreqMask() override;

    CFgUIChkButton reversBox;
    CFgUIRangeBar range;

    Band Get() const;
    void Set(const Band& band);

    PanelSpec Panel() override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // Removes the band from the record's planes and blackens the matching
    // pixels of the picture (w x h, the centred part of the plane).
    static int32_t MaskSpectrum(SpectrumRecord* record, CImgBuff* picture, const Band& band);

private:
    static void OnBox(CFgUIChkButton* box, void* data);
    static void OnRange(CFgUIRangeBar* bar, void* data, int32_t low, int32_t high);
    void ControlsChanged();
    mutable std::mutex lock_;
    Band band_;
};

// A new "Frequency mask" filter, or null when out of memory.
CImgFilter* CreateLfFreqMask();
