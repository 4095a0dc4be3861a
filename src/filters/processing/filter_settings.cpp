#include "filters/processing/filter_settings.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <limits>

#include "filters/core/cfgfile.h"
#include "filters/core/textconv.h"

void CFilterSettingList::Save(CCfgPack* pack) const {
    if (!pack) return;
    for (const CFilterSetting* s : settings_) {
        wchar_t text[400];
        s->Format(text, 400);
        pack->AddItem(s->key, text);
    }
}

void CFilterSettingList::Load(const CCfgPack* pack) {
    if (!pack) return;
    for (CFilterSetting* s : settings_)
        if (const wchar_t* text = CfgFindValue(pack, s->key)) s->Parse(text);
}

void CFilterSettingList::Apply() {
    for (CFilterSetting* s : settings_) s->Apply();
}

void CFilterSettingList::Revert() {
    for (CFilterSetting* s : settings_) s->Revert();
}

namespace {

// Sign and digits as strtol reads them, with the magnitude saturated at
// 2^64 - 1; false when no digit follows.
bool ReadDecimal(const wchar_t* text, bool* negative, uint64_t* magnitude) {
    if (!text) return false;
    while (std::iswspace(static_cast<wint_t>(*text))) ++text;
    *negative = false;
    if (*text == L'+' || *text == L'-') *negative = *text++ == L'-';
    if (*text < L'0' || *text > L'9') return false;
    uint64_t value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        const uint64_t digit = static_cast<uint64_t>(*text - L'0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    }
    *magnitude = value;
    return true;
}

}  // namespace

int32_t SettingTextToInt32(const wchar_t* text) {
    bool negative;
    uint64_t m;
    if (!ReadDecimal(text, &negative, &m)) return 0;
    if (negative) return m >= uint64_t{1} << 31 ? INT32_MIN : -static_cast<int32_t>(m);
    return m > INT32_MAX ? INT32_MAX : static_cast<int32_t>(m);
}

uint32_t SettingTextToUInt32(const wchar_t* text) {
    bool negative;
    uint64_t m;
    if (!ReadDecimal(text, &negative, &m)) return 0;
    if (m > UINT32_MAX) return UINT32_MAX;
    // A negated magnitude wraps, as the C library's conversion does.
    return negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(m)) : static_cast<uint32_t>(m);
}

template <typename T>
bool CSetting<T>::Accepts(T value) const {
    if (!allowed_.empty()) return std::find(allowed_.begin(), allowed_.end(), value) != allowed_.end();
    return value >= minimum_ && value <= maximum_;
}

template <typename T>
void CSetting<T>::Format(wchar_t* text, size_t size) const {
    const T v = Get();
    if constexpr (std::is_same_v<T, double>)
        DoubleToText(text, size, v);
    else if constexpr (std::is_signed_v<T>)
        std::swprintf(text, size, L"%d", static_cast<int>(v));
    else
        std::swprintf(text, size, L"%lu", static_cast<unsigned long>(v));
}

template <typename T>
bool CSetting<T>::Parse(const wchar_t* text) {
    if (!text) return false;
    T value;
    if (rule_ == SettingRule::Exact) {
        // Only the written form of an allowed value (of 0 and 1 for a flag).
        const std::vector<T> choices = allowed_.empty() ? std::vector<T>{minimum_, maximum_} : allowed_;
        for (T choice : choices) {
            wchar_t written[64];
            if constexpr (std::is_same_v<T, double>)
                DoubleToText(written, 64, choice);
            else if constexpr (std::is_signed_v<T>)
                std::swprintf(written, 64, L"%d", static_cast<int>(choice));
            else
                std::swprintf(written, 64, L"%lu", static_cast<unsigned long>(choice));
            if (std::wcscmp(text, written) == 0) {
                Set(choice);
                return true;
            }
        }
        return false;
    }
    if constexpr (std::is_same_v<T, double>)
        value = TextToDouble(text, minimum_ < 0 ? 1 : 0);
    else if constexpr (std::is_signed_v<T>)
        value = static_cast<T>(SettingTextToInt32(text));
    else
        value = static_cast<T>(SettingTextToUInt32(text));
    if (rule_ == SettingRule::Clamp && allowed_.empty()) value = std::clamp(value, minimum_, maximum_);
    if (!Accepts(value)) return false;
    Set(value);
    return true;
}

template class CSetting<int32_t>;
template class CSetting<uint32_t>;
template class CSetting<double>;
