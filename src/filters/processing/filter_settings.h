// Filter settings declared once: each setting is a member that names its
// key, default, range and load rule, and registers itself with its filter's
// list. Defaults, saving, loading and the controls' initial values all come
// from that one declaration.
//
// Every setting keeps two copies: the applied value, which the filter step
// reads on the chain worker (an atomic), and the pending value that the
// panel edits. Filters that apply a change at once set both; filters with a
// "set" button edit the pending copy and apply it when the button is
// pressed. Loading writes both.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <vector>

class CCfgPack;
class CFilterSetting;

// The settings of one filter in declaration order (which is also the order
// of their keys in a saved section).
class CFilterSettingList {
public:
    void Add(CFilterSetting* setting) { settings_.push_back(setting); }
    // Every setting's key and value text, in declaration order.
    void Save(CCfgPack* pack) const;
    // Each setting from the first item with its key; a missing key or a
    // refused text leaves the setting as it was.
    void Load(const CCfgPack* pack);
    // Pending copies into the applied ones.
    void Apply();
    // Applied copies back into the pending ones.
    void Revert();
    const std::vector<CFilterSetting*>& All() const { return settings_; }

private:
    std::vector<CFilterSetting*> settings_;
};

class CFilterSetting {
public:
    CFilterSetting(CFilterSettingList& list, const wchar_t* settingKey) : key(settingKey) { list.Add(this); }
    virtual ~CFilterSetting() = default;
    CFilterSetting(const CFilterSetting&) = delete;
    CFilterSetting& operator=(const CFilterSetting&) = delete;

    const wchar_t* key;
    // The applied value as saved ("%d", "%lu" or a decimal without trailing zeros).
    virtual void Format(wchar_t* text, size_t size) const = 0;
    // True when the text is accepted; both copies then take its value.
    virtual bool Parse(const wchar_t* text) = 0;
    virtual void Apply() = 0;
    virtual void Revert() = 0;
};

// How a saved text is read into a number setting.
enum class SettingRule {
    // Read as a 32-bit wcstol/wcstoul reads it (blanks and a sign accepted,
    // stops at the first non-digit, no digits gives 0, saturating); a value
    // outside the range is ignored.
    Range,
    // Read as Range, but a value outside the range is clamped into it.
    Clamp,
    // Only the exact written form of one of the allowed values ("0"/"1" for
    // a flag, "4"/"8" for a connectivity).
    Exact,
};

template <typename T>
class CSetting : public CFilterSetting {
public:
    // A number in [minimum, maximum]; with `allowed` only those values.
    CSetting(CFilterSettingList& list, const wchar_t* settingKey, T initial, T minimum, T maximum,
             SettingRule loadRule = SettingRule::Range, std::initializer_list<T> allowedValues = {})
        : CFilterSetting(list, settingKey),
          applied_(initial),
          pending_(initial),
          minimum_(minimum),
          maximum_(maximum),
          rule_(loadRule),
          allowed_(allowedValues) {}

    // The applied value (any thread).
    T Get() const { return applied_.load(std::memory_order_relaxed); }
    operator T() const { return Get(); }
    // The value the panel shows.
    T Pending() const { return pending_; }
    // Both copies (a change that applies at once, or a load).
    void Set(T value) {
        pending_ = value;
        applied_.store(value, std::memory_order_relaxed);
    }
    void SetPending(T value) { pending_ = value; }
    bool Accepts(T value) const;

    void Format(wchar_t* text, size_t size) const override;
    bool Parse(const wchar_t* text) override;
    void Apply() override { applied_.store(pending_, std::memory_order_relaxed); }
    void Revert() override { pending_ = Get(); }

private:
    std::atomic<T> applied_;
    T pending_;
    T minimum_, maximum_;
    SettingRule rule_;
    std::vector<T> allowed_;
};

// A switch saved as "1" or "0" and loaded only from exactly those texts.
class CSettingFlag : public CSetting<uint32_t> {
public:
    CSettingFlag(CFilterSettingList& list, const wchar_t* settingKey, uint32_t initial)
        : CSetting<uint32_t>(list, settingKey, initial ? 1 : 0, 0, 1, SettingRule::Exact) {}
};

extern template class CSetting<int32_t>;
extern template class CSetting<uint32_t>;
extern template class CSetting<double>;

// Reads text as a 32-bit wcstol / wcstoul does: leading blanks and a sign,
// digits up to the first other character, saturating at the type's limits
// ("-1" read unsigned gives 4294967295, as the C library does).
int32_t SettingTextToInt32(const wchar_t* text);
uint32_t SettingTextToUInt32(const wchar_t* text);
