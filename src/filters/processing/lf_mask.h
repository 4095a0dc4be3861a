// "Mask": subtracts a mask image loaded from a file from the image (white
// mask pixels blacken it, black ones leave it), or previews the mask. The
// mask's path is saved with the settings and loaded again with them.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "filters/processing/dialog_filter.h"
#include "image/imgbuff.h"

class CLfMask : public CDialogFilter<CLfMask> {
public:
    CLfMask();

    CSettingFlag preview{settings, L"preview", 1};
    // The mask value outside the mask image: 65535 while set, else 0.
    CSettingFlag outsideFull{settings, L"default_mask", 1};

    CFgUIChkButton previewBox, outsideBox;
    CFgUIButton loadButton;

    PanelSpec Panel() override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // Reads the first frame of the file into a scratch image and, only when
    // that succeeded, puts it in place of the mask with its path (under the
    // lock the step holds). The old mask stays on failure.
    bool LoadMask(const wchar_t* path);
    bool HasMask() const;
    std::wstring MaskPath() const;

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    void ShowLoadFailed();
    static void OnPreviewBox(CFgUIChkButton* box, void* data);
    static void OnOutsideBox(CFgUIChkButton* box, void* data);
    static void OnLoadButton(CFgUIButton* button, void* data);

    // The mask as the 16-bit RGB accessors render it, made once at load so
    // the step reads plain samples; `eight` when every sample is an 8-bit
    // value widened (v * 257), kept then as bytes in `p8`, else in `p16`.
    struct Plane {
        int32_t width = 0, height = 0;
        bool eight = false;
        std::vector<uint8_t> p8;
        std::vector<uint16_t> p16;
    };
    static bool MakePlane(const C_ImgBuff& mask, Plane* plane);

    mutable std::mutex maskLock_;  // the mask, its plane and its path
    CImgBuff mask_;
    Plane plane_;
    std::wstring path_;
};

class CImgFilter;

// A new "Mask" filter, or null when out of memory.
CImgFilter* CreateLfMask();
