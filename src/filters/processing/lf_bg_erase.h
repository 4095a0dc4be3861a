// "Background removal": compares each frame with a background image loaded
// from a file; subtracts it, or extracts the objects that differ from it
// tile by tile at a chosen level, or previews it.
#pragma once

#include <atomic>
#include <mutex>

#include "filters/processing/dialog_filter.h"
#include "image/imgbuff.h"
#include "toolkit/fg_scrollbar.h"

class CLfBgErase : public CDialogFilter<CLfBgErase> {
public:
    CLfBgErase();

    // Declared in the order of their keys in a saved section.
    CSetting<uint32_t> eraseType{settings, L"erase_type", 0, 0, 1};  // 0 subtraction, 1 object extraction
    CSetting<int32_t> extractLevel{settings, L"extract_level", 2, 2, 20};
    CSetting<int32_t> tileSize{settings, L"tile_size", 0, 0, 6};  // index of the tile sides 1 .. 64
    CSettingFlag outsideMasked{settings, L"default_mask", 0};
    std::atomic<uint32_t> preview{0};  // not saved

    CFgUILabel pathLabel, levelLabel, tileLabel;
    CFgUIEdit pathEdit;
    CFgUIButton selectButton;
    CFgUIChkButton subtraction, extraction, previewBox, outsideBox;
    CFgUIScrollBar levelBar, tileBar;

    PanelSpec Panel() override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // Reads the file into a scratch image and swaps it in under the lock the
    // step holds; on failure the old background stays and, with `tell`, the
    // message is shown (after the lock is released).
    bool LoadBackground(const wchar_t* path, bool tell);
    bool HasBackground() const;

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    static void OnRadio(CFgUIChkButton* button, void* data);
    static void OnBox(CFgUIChkButton* box, void* data);
    static void OnBar(CFgUIScrollBar* bar, void* data, int32_t position);
    static void OnPathCommit(CFgUIEdit* edit, void* data);
    static void OnSelect(CFgUIButton* button, void* data);

    mutable std::mutex backgroundLock_;
    CImgBuff background_;
};

class CImgFilter;

// A new "Background removal" filter, or null when out of memory.
CImgFilter* CreateLfBgErase();
