// Helpers shared by the fuzz targets: the input handed to a reader as a real
// file, and a codec opened and read through the media facade.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/codec.h"

namespace kvfuzz {

// The path of a file holding exactly `data` (a memfd, reopened through
// /proc/self/fd, so each open starts at offset 0). The same file is reused
// by every input of the process.
const char* InputPath(const uint8_t* data, size_t size);

// The same path as wide text, for readers that take wide paths.
const wchar_t* InputWidePath(const uint8_t* data, size_t size);

// An opener of one format: fills the handle's info from the file at path.
using Opener = int32_t (*)(codec_file* file, const char* path);

// Hands the input to `open` as a file of the given kind and format, then
// reads every frame through the facade (frames above 256 MiB are skipped,
// and reading stops after 1 GiB in all) and closes the handle.
void OpenAndReadFrames(const uint8_t* data, size_t size, uint64_t kind, uint64_t format, Opener open);

}  // namespace kvfuzz
