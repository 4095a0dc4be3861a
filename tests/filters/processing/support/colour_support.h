// Helpers of the colour filters' tests: test frames, a chain with a
// processing rectangle in front of a filter, saved sections as text, and
// clicks and typing on a panel.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "filters/core/cfgfile.h"
#include "filters/processing/dialog_filter.h"
#include "filters/processing/lf_rect.h"
#include "filters/processing/support/fake_host.h"
#include "image/imgbuff.h"
#include "platform/plat_messages.h"
#include "toolkit/support/ui_input.h"

namespace kvcolour {

// A frame of pseudo-random bytes (fixed seed).
inline void Noise(CImgBuff& image, int32_t w, int32_t h, int32_t format, uint32_t seed = 7) {
    ASSERT_TRUE(image.buffer->Create(w, h, format));
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(image.buffer->BytesPerPixel());
    auto* p = static_cast<uint8_t*>(image.buffer->pixels);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        p[i] = static_cast<uint8_t>(seed >> 16);
    }
}

inline size_t Bytes(const CImgBuff& image) {
    return static_cast<size_t>(image.buffer->width) * static_cast<size_t>(image.buffer->height) *
           static_cast<size_t>(image.buffer->BytesPerPixel());
}

inline bool SameImage(const CImgBuff& a, const CImgBuff& b) {
    return a.buffer->format == b.buffer->format && a.buffer->width == b.buffer->width &&
           a.buffer->height == b.buffer->height && std::memcmp(a.buffer->pixels, b.buffer->pixels, Bytes(a)) == 0;
}

inline void Copy(CImgBuff& to, const CImgBuff& from) {
    ASSERT_TRUE(to.buffer->Create(from.buffer->width, from.buffer->height, from.buffer->format));
    std::memcpy(to.buffer->pixels, from.buffer->pixels, Bytes(from));
}

// A processing rectangle in front of the filters added after it (w 0: none).
inline CLfRect* AddRect(FakeHost& host, uint64_t x, uint64_t y, uint64_t w, uint64_t h) {
    auto* r = static_cast<CLfRect*>(host.Add(CreateLfRect()));
    if (w) r->Set({1, x, y, w, h});
    return r;
}

// The filter's saved keys after the frame's, as "key=value;".
inline std::wstring Saved(CImgFilter* f) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    f->SaveConfig(pack);
    std::wstring text;
    for (const CCfgItem* i = pack->firstItem; i; i = i->next) text += std::wstring(i->key) + L"=" + i->value + L";";
    return text;
}

inline void Load(CImgFilter* f, const wchar_t* key, const wchar_t* value) {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"t");
    pack->AddItem(key, value);
    f->LoadConfig(pack);
}

inline void Click(CFgUIDialog& dialog, const CFgUIObj& control) {
    PlatPostTestClick(dialog.window, control.x + control.width / 2, control.y + control.height / 2);
    kvtest::Pump();
}

// Types into an edit box (after clearing it) and moves the focus on.
inline void Type(CFgUIDialog& dialog, CFgUIEdit& edit, const std::wstring& text) {
    edit.SetLineText(0, L"");
    PlatPostTestClick(dialog.window, edit.x + edit.width - 2, edit.y + edit.height / 2);
    kvtest::PostText(dialog.window, text);
    kvtest::Pump();
    if (edit.focusLost) edit.focusLost(&edit, edit.data);
}

}  // namespace kvcolour
