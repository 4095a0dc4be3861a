// The filter registry: the 43 built-in filters by command number (10000 to
// 10042) with their display names, and the factory that creates them. A row
// whose filter class is not part of the program yet has no factory: its menu
// entry is greyed and the factory refuses it.
#pragma once

#include <cstdint>

class CImgFilter;

using FilterFactoryFn = CImgFilter* (*)();

constexpr uint32_t kFilterRegistryFirst = 10000;
constexpr uint32_t kFilterRegistryCount = 43;

// One row of the registry: a filter's settings-section identifier and its
// command number.
struct FilterRegistryEntry {
    wchar_t identifier[34];
    uint32_t id;
};
extern FilterRegistryEntry* g_FilterRegistry;
extern uint32_t g_FilterRegistryCount;

// Fills the registry from the table, each identifier as the row's filter
// names itself (`GetId`), from its English name while the row has no
// factory. 0 (an empty registry) when memory or a construction fails.
int32_t BuildFilterRegistry();
void FreeFilterRegistry();
// A new filter from a settings-section identifier: the registry's row whose
// identifier matches exactly (case-sensitive), else the loaded filter
// plug-in whose module path it names; null otherwise. The caller owns it.
CImgFilter* CreateFilterByName(const wchar_t* identifier);
// A new filter of that command number, or null (unknown number, no factory,
// allocation failure). The caller owns it.
CImgFilter* CreateFilterById(uint32_t id);
// The display name: Japanese for the language code exactly "jp", else
// English; null for an unknown number.
const wchar_t* FilterMenuName(uint32_t id, const wchar_t* language);
// True when the row has a factory.
bool FilterBuilt(uint32_t id);
// Installs (or with null removes) the factory of a row; false for an unknown number.
bool SetFilterFactory(uint32_t id, FilterFactoryFn factory);
// Installed through SetFilterFactory, makes the row behave as one whose class
// is not built (no factory, menu entry without a command). Never called.
CImgFilter* UnbuiltFilterFactory();
