// Image-module host: loads the *.wim libraries of the plugin folder, finds
// the module that claims a file's extension and moves frames between a
// module and the program's images. C-style: results 1 (or a pointer) for
// success, 0 (or null) for failure; nothing here shows a message. All calls
// run on the user-interface thread.
#pragma once

#include <cstdint>

#include "korvane/image_module.h"

class CImgBuff;

// One loaded library, in a doubly linked list in load order.
struct ImageModule {
    void* library;
    uint32_t caps;
    const char* const* extensions;  // owned by the module
    em_info_fn em_info;
    em_open_fn em_open;
    em_read_fn em_read;
    em_create_fn em_create;
    em_write_fn em_write;
    em_close_fn em_close;
    ImageModule* next;
    ImageModule* previous;
};

struct ImageModuleList {
    ImageModule* first;
    ImageModule* last;
};

// The list head (null before loading and after unloading) and the
// blank-separated extension lists of still (0x100 or 0x200), multi-frame
// (0x200) and movie (0x400) modules; a list is null when no module adds to it.
extern ImageModuleList* g_ImageModules;
extern wchar_t* g_ImageModuleStillExts;
extern wchar_t* g_ImageModuleMultiFrameExts;
extern wchar_t* g_ImageModuleMovieExts;

// Stream modes.
enum : uint32_t {
    kModuleStreamStill = 0,
    kModuleStreamNumbered = 1,
    kModuleStreamMultiFrame = 2,
    kModuleStreamMovie = 3,
};

// One open file or numbered sequence, allocated zero-filled (calloc).
struct ImageModuleStream {
    ImageModule* module;
    void* handle;        // none for numbered files
    uint32_t direction;  // 0 reading, 1 writing
    uint32_t mode;
    char* path;  // UTF-8 (malloc); numbered files: the name format with one %llu field
    uint64_t firstNumber;
    uint64_t currentNumber;  // writing: next file number (numbered) or frames written
    uint64_t lastNumber;     // numbered writing: the highest number the field holds
    uint16_t bits;
    uint64_t width;
    uint64_t height;
    uint64_t frames;  // reading: frames; writing: the limit, 0 for none
    uint64_t time;    // milliseconds per frame, movies only
};

// Loads every *.wim library of the folder; 1 when the list head exists.
// A library that is refused is reported by one line on stderr.
int32_t LoadImageModules(const wchar_t* folder);
void UnloadImageModules();
// The first module in load order listing the extension (no full stop),
// compared without regard to ASCII case; null for none.
ImageModule* FindImageModule(const wchar_t* extension);
// Flags of the module claiming the path's extension, 0 for none.
uint32_t GetImageModuleCaps(const wchar_t* path);

// Reading. The stream must hold its module and direction 0. On failure the
// stream keeps its path and any handle: release it with DiscardModuleStream.
int32_t OpenModuleStream(ImageModuleStream* stream, const wchar_t* path);
int32_t OpenModuleSequence(ImageModuleStream* stream, const wchar_t* firstPath, const wchar_t* lastPath);
// Reads frame `index` into the image, re-created when its size or format
// differs from the stream's.
int32_t ReadModuleFrame(ImageModuleStream* stream, CImgBuff* image, uint64_t index);

// Writing: a new stream (modes above) or null.
ImageModuleStream* CreateModuleStream(const wchar_t* path, uint32_t mode, uint64_t width, uint64_t height,
                                      uint16_t bits, uint64_t frames, uint64_t time);
// Writes an image of the stream's size as the next frame, through a
// converted copy when its format is not the stream's.
int32_t WriteModuleFrame(ImageModuleStream* stream, const CImgBuff* image);
// Writes pixels already in the stream's layout as the next frame.
int32_t WriteModulePixels(ImageModuleStream* stream, const void* pixels);
// 1 and the stream freed, or 0 with the stream left to its owner (its
// module handle is gone either way; DiscardModuleStream then frees it).
int32_t CloseModuleStream(ImageModuleStream* stream);
// Frees a stream without completing it: closes a handle it still holds,
// frees its path and the record. Null does nothing.
void DiscardModuleStream(ImageModuleStream* stream);

// Pixel format of a module's bits per pixel (8 1, 16 2, 24 4, 32 3, 48 5,
// 96 6, 192 7); 0 for any other value.
int32_t ImageModuleFormatOfBits(uint32_t bits);
// Built-in still format for the save-settings dialog by extension: bmp 0,
// jpg/jpeg 1, png 2, tif/tiff 3, else -1 (first four characters, case-free).
int32_t GetSaveFormatIndex(const wchar_t* extension);
