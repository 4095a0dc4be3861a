// The chain run empties the spectrum stack of the Fourier-domain filters at
// the start of every run. The stack belongs to those filters: they install
// the routine that empties it; without one, clearing does nothing.
#pragma once

using SpectrumStackClearFn = void (*)();

void SetSpectrumStackClear(SpectrumStackClearFn fn);
void ClearSpectrumStack();
