// "Auto measurement": every island (connected object) of the processing
// rectangle measured on each filter step, shown as a table of 24 measures
// per island in the filter's table window, marked on the picture with a
// numbered cross, and saved as CSV. The image is not changed.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "filters/analysis/csv_viewer.h"
#include "filters/core/imgfilter.h"
#include "filters/processing/filter_settings.h"
#include "image/objects.h"

class CLfAmeasure;

// The filter's window: the table window with an "Option" menu, closed by
// hiding, and the grid brought to the latest result whenever it is drawn.
class CAmeasureTable : public CCsvViewer {
public:
    CLfAmeasure* filter = nullptr;
    void DrawBackground() override;
    int32_t QueryClose() override;
};

class CLfAmeasure : public CImgFilter {
public:
    enum : int32_t { kIslandCommand = 201 };
    static constexpr int32_t kMeasures = 24;
    // Room for the first step's records, before any island count is known.
    static constexpr uint64_t kFirstRoom = 64;

    // The island records of one step.
    struct Result {
        std::unique_ptr<IslandRecord[]> records;
        uint64_t count = 0;
    };
    // Allocates room for n records (null when it cannot); the default uses
    // the heap. Tests replace it to run out of memory on purpose.
    using RecordAllocator = IslandRecord* (*)(uint64_t n);
    static RecordAllocator allocateRecords;

    CLfAmeasure();
    ~CLfAmeasure() override;

    CFilterSettingList settings;
    CSettingFlag island{settings, L"island", 1};
    CAmeasureTable table;
    uint32_t tableEnglish = 0;  // 1 English, 0 Japanese
    int32_t lastMenu = -1;       // index of the last menu added
    // Where the window was last hidden, and its client size then.
    uint32_t placeKnown = 0, sizeKnown = 0;
    int32_t placeX = 0, placeY = 0;
    uint64_t sizeW = 0, sizeH = 0;

    const wchar_t* GetName(const wchar_t* languageCode) override;
    int32_t HasUi() override { return 1; }
    void EnableUi(int32_t enable) override;
    void OnEnable(int32_t on) override;
    void ShowUi(int32_t show, CFgScreen* parent) override;
    void OnLang(const wchar_t* languageCode) override;
    void OnOverlayView(OverlayToGlFn toGlX, OverlayToGlFn toGlY, CFgScreen* screen, CFgFont* font, int32_t dx0,
                       int32_t dy0, int32_t dx1, int32_t dy1, int32_t ix0, int32_t iy0, int32_t ix1, int32_t iy1,
                       int32_t zoom) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;
    void SaveConfig(CCfgPack* pack) override;
    void LoadConfig(CCfgPack* pack) override;

    // The latest result (null: none).
    std::shared_ptr<const Result> Results() const;
    // The text of a table cell of the latest result, and its alignment (-1
    // titles, 0 island numbers, 1 measures).
    std::wstring CellText(uint64_t column, uint64_t row, int32_t* alignment) const;
    // Measure j (1-24) in its language.
    static const wchar_t* Title(int32_t j, bool english);
    // Brings the grid to the latest result; user-interface thread only.
    void SyncGrid();
    // Menu command of either menu.
    void OnCommand(int32_t id);
    // Column 0's width in half-width cells for a language.
    static uint64_t TitleColumnWidth(bool english);

private:
    static const wchar_t* CellCallback(uint64_t column, uint64_t row, int32_t* alignment, double* red, double* green,
                                       double* blue, void* data);
    static const wchar_t* OptionMenuText(void* data, int32_t item);
    static void OnMenu(CFgUIMenuBar* bar, void* data, int32_t item, int32_t id);
    void BuildMenus();
    void EmptyGrid();
    void Publish(std::shared_ptr<const Result> result);
    std::wstring CellTextOf(const Result* r, uint64_t column, uint64_t row, int32_t* alignment) const;

    mutable std::mutex lock_;
    std::shared_ptr<const Result> result_;
    uint64_t generation_ = 0;  // raised with every new result
    // Islands found by the last step: the room the next step tries first,
    // so that a steady scene is measured in one pass.
    std::atomic<uint64_t> lastIslands_{0};
    uint64_t shownGeneration_ = 0;
    // The result the grid was sized for: its drawing, fitting and saving
    // read this one, so a table never mixes two steps' islands while the
    // filter step replaces the latest (user-interface thread only).
    std::shared_ptr<const Result> shown_;
    wchar_t cell_[257] = {};
    wchar_t optionText_[64] = {};
};

class CImgFilter;

// A new "Auto measurement" filter, or null when out of memory.
CImgFilter* CreateLfAmeasure();
