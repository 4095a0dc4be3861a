#include "filters/analysis/table_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>

int32_t LoadedConfigInt(const wchar_t* text) {
    const wchar_t* p = text;
    bool negative = false;
    if (*p == L'-') {
        negative = true;
        ++p;
    }
    if (!*p) return 0;
    int64_t v = 0;
    for (; *p; ++p) {
        if (*p < L'0' || *p > L'9') return 0;
        v = v * 10 + (*p - L'0');
        if (v > int64_t{INT32_MAX} + 1) return 0;
    }
    v = negative ? -v : v;
    return v >= INT32_MIN && v <= INT32_MAX ? static_cast<int32_t>(v) : 0;
}

void SetupHorizontalSlider(CFgUIScrollBar& bar, int32_t minimum, int32_t maximum, int32_t value, void* data,
                           CFgUIScrollBar::Callback callback) {
    bar.orientation = kFgBarHorizontal;
    bar.minimum = minimum;
    bar.maximum = maximum;
    bar.page = 1;
    bar.position = value;
    bar.data = data;
    bar.callback = callback;
}

bool CCalibCopy::Refresh(double scale, int32_t axis, const wchar_t* unit, size_t maxUnit) {
    const std::wstring text(unit, std::min(std::wcslen(unit), maxUnit));
    std::lock_guard<std::mutex> hold(lock_);
    if (scale == values_.scale && axis == values_.axis && text == values_.unit) return false;
    values_.scale = scale;
    values_.axis = axis;
    values_.unit = text;
    return true;
}

CCalibCopy::Values CCalibCopy::Get() {
    std::lock_guard<std::mutex> hold(lock_);
    return values_;
}

const wchar_t* FlowTableCellText(const CFlowData& flow, const FlowTableView& view, uint64_t j, uint64_t i,
                                 int32_t* flags, wchar_t* out) {
    out[0] = 0;
    if (!flow.vectors || flow.columns < 1) return out;
    const uint64_t C = static_cast<uint64_t>(flow.columns);
    const uint64_t N = C * static_cast<uint64_t>(flow.rows);
    if (j == 0) {
        if (i == 0) {
            std::swprintf(out, 65, view.frameTime ? L"%ls/s" : L"%ls/frame", view.unit.empty() ? L"pixel" : view.unit.c_str());
        } else if (i == 1) {
            std::swprintf(out, 65, L"rad");
        } else {
            std::swprintf(out, 65, L"%lu", static_cast<unsigned long>(i - 1));
            if (flags) *flags = 1;
        }
        return out;
    }
    const uint64_t k = (j - 1) / 2;
    if (k >= N) return out;
    const bool odd = (j % 2) == 1;
    if (i == 0) {
        if (odd)
            std::swprintf(out, 65, L"%lu,%lu", static_cast<unsigned long>(k % C + 1),
                          static_cast<unsigned long>(k / C + 1));
        return out;
    }
    if (i == 1) {
        std::swprintf(out, 65, L"%ls",
                      odd ? (view.japanese ? L"速度" : L"speed") : (view.japanese ? L"方位" : L"direction"));
        return out;
    }
    const uint64_t frame = i - 2;
    if (view.frameLimit >= 0 && frame >= static_cast<uint64_t>(view.frameLimit)) return out;
    const FlowVector* v = flow.VectorAt(static_cast<int32_t>(k % C), static_cast<int32_t>(k / C),
                                        static_cast<int32_t>(std::min<uint64_t>(frame, INT32_MAX)));
    if (!v) return out;
    if (odd) {
        std::swprintf(out, 65, L"%.1lf", view.speed(*v, view.scale, view.frameTime));
    } else {
        const double dy = (view.axis < 1 ? -v->dy : v->dy) + 0.0;  // no "-0.00" for a zero vector
        std::swprintf(out, 65, L"%.2lf", std::atan2(dy, v->dx));
    }
    return out;
}
