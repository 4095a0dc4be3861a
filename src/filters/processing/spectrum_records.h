// The spectrum stack of the Fourier-domain filters: "FFT" pushes the
// complex coefficients of the region it transformed, the frequency mask pops
// and pushes them back, "IFFT" and "IFFT EX" pop them. Every chain run starts
// with the stack empty; the storage lives while any Fourier filter exists.
#pragma once

#include <cstdint>
#include <mutex>

#include "image/kernels/image_fft.h"

// One spectrum: the transform state (which owns its planes) and the
// inclusive region of the image it came from.
struct SpectrumRecord {
    ImgFftState state;
    int32_t x0, y0, x1, y1;
};

struct SpectrumStack {
    uint64_t users = 0;  // live Fourier-domain filters
    SpectrumRecord* records = nullptr;
    uint64_t count = 0;
    uint64_t capacity = 0;
    // Runs clear the stack on the chain worker while filters are created and
    // deleted on the user-interface thread.
    std::mutex lock;
};

extern SpectrumStack g_SpectrumStack;

// Copies the record to the top (the stack takes over its planes); the
// storage grows by 8 records when full. 0 when memory runs out: the stack
// is unchanged and the caller still owns the planes.
int32_t PushSpectrum(const SpectrumRecord& record);
// Moves the top record into `record` (which then owns its planes); 0 when
// the stack is empty.
int32_t PopSpectrum(SpectrumRecord* record);
// Frees every record's planes; the storage stays for the next run.
void ClearSpectrumRecords();
// A Fourier-domain filter was created / deleted. The first user installs
// the chain's clear; the last one frees the storage with every record.
void AddSpectrumUser();
void ReleaseSpectrumUser();

class CImgBuff;
// The step of "IFFT" (the spectrum picture as a keep mask) and "IFFT EX"
// (as new magnitudes): pops the latest spectrum, reads its region of the
// image as the picture, and pastes the inverse there. Nothing happens with
// an empty stack; a failed inverse discards the record. Always 1.
int32_t InverseSpectrumStep(CImgBuff* image, bool levels);
