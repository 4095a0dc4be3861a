// The base of the filters without a panel or settings of their own: only
// their names differ, and the step they run.
#pragma once

#include <cwchar>

#include "filters/core/imgfilter.h"

class CSmallFilter : public CImgFilter {
public:
    CSmallFilter(const wchar_t* english, const wchar_t* japanese) : english_(english), japanese_(japanese) {}
    // Japanese for exactly "jp", English otherwise (also for null).
    const wchar_t* GetName(const wchar_t* code) override {
        return code && std::wcscmp(code, L"jp") == 0 ? japanese_ : english_;
    }

private:
    const wchar_t* english_;
    const wchar_t* japanese_;
};

struct ImgRect;
// The run's region as the inclusive rectangle the kernels take, saturated
// to their 32-bit corners.
ImgRect RegionRect(int64_t x, int64_t y, int64_t w, int64_t h);
