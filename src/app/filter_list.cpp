// Filter-list files (".ifl"): a "korvane" header section with the chain's
// connectivity, background and calibration, then one section per filter of
// the active chain, named by the filter's identifier.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "app/filter_registry.h"
#include "app/main_screen.h"
#include "filters/core/cfgfile.h"
#include "filters/core/textconv.h"
#include "toolkit/fg_msgbox.h"

namespace {

constexpr uint64_t kFilterListVersion = 1;

}  // namespace

int32_t CMainScreen::ReadFilterListFile(const wchar_t* path) {
    CCfgFile file;
    if (!path || !file.Load(path)) return 0;
    while (sidePanel.RemoveFilter(0)) {
    }
    sidePanel.ClearRange();

    // Ends a read that left the chain empty: the picture goes back to the
    // unfiltered frame.
    auto fail = [this](bool hidePanel) {
        if (hidePanel) {
            while (sidePanel.RemoveFilter(0)) {
            }
            if (sidePanelShown) HideSidePanel();
        }
        sidePanel.UpdateList();
        RunFilterChain(0);
        return 0;
    };

    const CCfgPack* header = file.firstPack;
    if (!header || std::wcscmp(header->name, L"korvane") != 0) return fail(true);
    const wchar_t* version = CfgFindValue(header, L"ifl_ver");
    if (!version) return fail(false);
    // Decimal, as strtoul reads it: a number beyond 64 bits is newer than
    // any version.
    errno = 0;
    const unsigned long long number = std::wcstoull(version, nullptr, 10);
    if (errno == ERANGE || number > kFilterListVersion) {
        FgMessageBox(Text(L"より新しいバージョンで作成されたファイルなので読めません",
                          L"It is a file created with a newer version and can not be read"),
                     Text(L"エラー", L"error"), 0, this);
        return fail(false);
    }

    if (const wchar_t* v = CfgFindValue(header, L"connect")) SetConnect(static_cast<uint32_t>(TextToInt(v)));
    if (const wchar_t* v = CfgFindValue(header, L"bg")) {
        if (std::wcscmp(v, L"0") == 0 || std::wcscmp(v, L"1") == 0) {
            const uint32_t value = v[0] == L'1' ? 1 : 0;
            if (sidePanel.bg.load() != value) {
                sidePanel.bg.store(value);
                sidePanel.Refilter(0);
            }
        }
    }
    double scale = sidePanel.calibScale;
    int32_t axisY = sidePanel.calibAxisY;
    wchar_t unit[kFilterUnitMax];
    std::wcsncpy(unit, sidePanel.calibUnit, kFilterUnitMax);
    unit[kFilterUnitMax - 1] = L'\0';
    if (const wchar_t* v = CfgFindValue(header, L"axis_y")) {
        if (std::wcscmp(v, L"1") == 0) axisY = 1;
        if (std::wcscmp(v, L"-1") == 0) axisY = -1;
    }
    if (const wchar_t* v = CfgFindValue(header, L"scale")) {
        const double s = TextToDouble(v, 0);
        if (s > 0) scale = s;
    }
    if (const wchar_t* v = CfgFindValue(header, L"unit")) {
        std::wcsncpy(unit, v, kFilterUnitMax - 1);
        unit[kFilterUnitMax - 1] = L'\0';
    }

    uint64_t read = 0;
    for (CCfgPack* section = header->next; section; section = section->next) {
        CImgFilter* filter = CreateFilterByName(section->name);
        if (!filter) return fail(true);
        if (!sidePanel.AddFilter(filter)) {
            // The chain cannot hold it: the list is not read.
            delete filter;
            return fail(true);
        }
        if (!sidePanelShown) ShowSidePanel();
        filter->LoadConfig(section);
        ++read;
    }

    calibration.SetCalibration(scale, axisY, unit);
    sidePanel.SetCalibration(scale, axisY, unit);
    sidePanel.Refilter(0);
    if (read && !sidePanelShown) ShowSidePanel();
    if (!read && sidePanelShown) HideSidePanel();
    sidePanel.UpdateList();
    RunFilterChain(0);
    return 1;
}

int32_t CMainScreen::WriteFilterListFile(const wchar_t* path) {
    if (!path || !path[0]) return 0;
    CCfgFile file;
    CCfgPack* header = file.AddPack(L"korvane");
    if (!header) return 0;
    wchar_t number[400];
    std::swprintf(number, 32, L"%lu", static_cast<unsigned long>(kFilterListVersion));
    bool ok = header->AddItem(L"ifl_ver", number) != nullptr;
    std::swprintf(number, 32, L"%d", static_cast<int>(sidePanel.connect.load()));
    ok = ok && header->AddItem(L"connect", number);
    std::swprintf(number, 32, L"%d", static_cast<int>(sidePanel.bg.load()));
    ok = ok && header->AddItem(L"bg", number);
    std::swprintf(number, 32, L"%d", static_cast<int>(sidePanel.calibAxisY));
    ok = ok && header->AddItem(L"axis_y", number);
    // Plain decimal with 15 significant digits: a tiny scale keeps its value.
    ok = ok && header->AddItem(L"scale", DoubleToPlainText(number, 400, sidePanel.calibScale));
    ok = ok && header->AddItem(L"unit", sidePanel.calibUnit);
    if (!ok) return 0;
    const FilterChain& chain = sidePanel.chains[sidePanel.activeChain];
    for (CImgFilter* filter : chain.filters) {
        if (!filter) return 0;
        CCfgPack* section = file.AddPack(filter->GetId());
        if (!section) return 0;
        filter->SaveConfig(section);
    }

    return file.Save(path);
}
