// Hand-off of the spectrum-stack clearing to the filters that own the stack.
#include <atomic>

#include "filters/core/spectrum_stack.h"

namespace {
std::atomic<SpectrumStackClearFn> g_SpectrumStackClear{nullptr};
}

void SetSpectrumStackClear(SpectrumStackClearFn fn) { g_SpectrumStackClear.store(fn); }

void ClearSpectrumStack() {
    if (SpectrumStackClearFn fn = g_SpectrumStackClear.load()) fn();
}
