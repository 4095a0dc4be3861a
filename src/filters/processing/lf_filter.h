// "Filter": an odd square integer kernel (3, 5, 7 or 9 taps a side) with a
// divisor, or the median over the same window, applied to the processing
// rectangle. The kernel is edited in a 9 x 9 grid; changes take effect on
// "set". Kernels are saved to and opened from ".fmx" files, and five
// presets are offered.
#pragma once

#include <cstdint>
#include <mutex>

#include "filters/processing/dialog_filter.h"
#include "filters/processing/fedit.h"
#include "toolkit/fg_menubar.h"

class CLfFilter : public CDialogFilter<CLfFilter>, public CFEditClient {
public:
    // What the worker reads, as one consistent copy.
    struct Applied {
        uint64_t size = 3;
        int32_t grid[9][9] = {};  // every cell as last applied
        int32_t kernel[81] = {};  // the active window, row by row
        uint32_t autoDiv = 1;
        uint32_t type = 0;  // 0 convolution, 1 median
        int32_t div = 1;
    };

    CLfFilter();
    ~CLfFilter() override;

    // Panel values, applied by "set".
    uint64_t panelSize = 3;
    int32_t panelDiv = 1;
    uint32_t panelType = 0;
    uint32_t panelAutoDiv = 1;

    CFgUIMenuBar menuBar;
    CFgUILabel divLabel;
    CFgUIChkButton sizeButtons[4];
    CFEdit grid;
    CFgUIEdit divEdit;
    CFgUIChkButton medianBox, autoDivBox;
    CFgUIButton setButton;

    Applied Get() const;

    PanelSpec Panel() override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void OnEditChanged() override;

    // "set": the panel values and the grid become the applied settings.
    void ApplyEdits();
    // Menu commands: 1 open, 2 save, 101-105 presets.
    void OnMenu(int32_t id);
    // Dialog font height, the menu bar's strip.
    int32_t MenuHeight() const;

protected:
    void ApplyRules() override;

private:
    static void OnMenuSelect(CFgUIMenuBar* bar, void* data, int32_t item, int32_t id);
    static void OnSizeRadio(CFgUIChkButton* button, void* data);
    static void OnDivTyped(CFgUIEdit* edit, void* data);
    static void OnDivCommit(CFgUIEdit* edit, void* data);
    static void OnCheck(CFgUIChkButton* box, void* data);
    static void OnSet(CFgUIButton* button, void* data);
    void MarkEdited();
    void ShowDiv();
    void BuildMenu();
    void Preset(int32_t id);

    static int32_t filterMenuIndex_;
    mutable std::mutex lock_;
    Applied applied_;
};

// A new "Filter" filter, or null when out of memory.
CImgFilter* CreateLfFilter();
