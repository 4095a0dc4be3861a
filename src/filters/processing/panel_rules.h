// Small helpers shared by the colour filters' panels.
#pragma once

#include <cstdint>

#include <cstddef>

#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"

// Enables or disables one control of a panel; a control that loses its
// enabled state while holding the focus passes the focus on.
inline void SetControlEnabled(CFgUICtrl* panel, CFgUIObj* control, bool on) {
    control->enabled = on ? 1 : 0;
    if (!on && panel->focused == control) panel->FocusNext();
}

// Runs a filter's own reaction after the frame's handler of a bound radio
// group (which stores the selection and reruns).
struct RadioFollowUp {
    CFgUIChkButton::Callback frameCallback = nullptr;
    void* frameData = nullptr;
    void (*after)(void* owner) = nullptr;
    void* owner = nullptr;

    void Attach(CFgUIChkButton* const* buttons, size_t count, void (*afterFn)(void*), void* ownerPtr) {
        if (!count) return;
        frameCallback = buttons[0]->callback;
        frameData = buttons[0]->data;
        after = afterFn;
        owner = ownerPtr;
        for (size_t i = 0; i < count; ++i) {
            buttons[i]->callback = Run;
            buttons[i]->data = this;
        }
    }
    static void Run(CFgUIChkButton* button, void* data) {
        auto* f = static_cast<RadioFollowUp*>(data);
        if (f->frameCallback) f->frameCallback(button, f->frameData);
        f->after(f->owner);
    }
};
