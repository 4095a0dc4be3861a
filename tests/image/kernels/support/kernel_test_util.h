// Helpers of the kernel tests: test images, raw pixel blocks, numpy oracles
// and runs with a chosen number of pool threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/imgbuff.h"

namespace ktest {

// All nine pixel formats.
extern const int32_t kAllFormats[9];

// Creates a w x h image of the format filled with deterministic noise
// (XYZ channels within 0 .. 1.1). False when it cannot be created.
bool MakeNoise(CImgBuff& image, int32_t w, int32_t h, int32_t format, uint32_t seed);
// Creates an image from raw channel values in block order.
template <class T>
bool MakeFrom(CImgBuff& image, int32_t w, int32_t h, int32_t format, const std::vector<T>& values);
// The pixel block as bytes (empty for an empty image).
std::string Block(const CImgBuff& image);
// The block read as values of type T.
template <class T>
std::vector<T> Values(const CImgBuff& image);

// A w x h grey8 image of random discs, rings and noise: object pixels 255
// (or `object`), the rest 0.
bool MakeBlobs(CImgBuff& image, int32_t w, int32_t h, uint32_t seed, double noise, uint8_t object = 255);

// Runs a numpy script with Debian's python3. The script gets the file
// names of the inputs (written from `inputs`) and then the name of the file
// it must write; returns that file's bytes, or fails the test.
std::string RunNumpy(const std::string& script, const std::vector<std::string>& inputs);

// Compares each result with its part of `expected`, the results' bytes
// one after another (as the numpy scripts write them).
void ExpectConcatenated(const std::vector<std::string>& results, const std::string& expected);

// Runs f once with one pool thread and once with every processor.
void WithOneAndAllThreads(const std::function<void()>& one, const std::function<void()>& all);

}  // namespace ktest
