// Paths of media files: narrow conversion, existence and the extension table.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include <sys/stat.h>

#include "media/codec.h"
#include "platform/utf8.h"

char* codec_path_to_ansi(const wchar_t* path) {
    if (!path) return nullptr;
    std::string narrow;
    try {
        for (const wchar_t* p = path; *p; ++p)
            if (!PlatAppendUtf8(&narrow, static_cast<char32_t>(*p))) return nullptr;
    } catch (...) {
        return nullptr;
    }
    char* text = static_cast<char*>(malloc(narrow.size() + 1));
    if (!text) return nullptr;
    memcpy(text, narrow.c_str(), narrow.size() + 1);
    return text;
}

int32_t codec_file_exists(const wchar_t* path) {
    char* narrow = codec_path_to_ansi(path);
    if (!narrow) return 0;
    // A folder opens for reading here, and a pipe would block the open:
    // only a regular file counts.
    struct stat info;
    FILE* f = stat(narrow, &info) == 0 && S_ISREG(info.st_mode) ? fopen(narrow, "rb") : nullptr;
    free(narrow);
    if (!f) return 0;
    fclose(f);
    return 1;
}

namespace {

struct ExtensionEntry {
    const wchar_t* extension;
    uint64_t kind;
    uint64_t format;
};

constexpr ExtensionEntry kExtensions[] = {
    {L".png", kCodecKindStill, kCodecPng},   {L".jpg", kCodecKindStill, kCodecJpeg},
    {L".jpeg", kCodecKindStill, kCodecJpeg}, {L".tif", kCodecKindStill, kCodecTiff},
    {L".tiff", kCodecKindStill, kCodecTiff}, {L".bmp", kCodecKindStill, kCodecBmp},
    {L".dcm", kCodecKindStill, kCodecDicom}, {L".avi", kCodecKindMovie, kCodecAvi},
    {L".mp4", kCodecKindMovie, kCodecMp4},
};

}  // namespace

uint64_t codec_extension_lookup(const wchar_t* path, uint64_t length, uint64_t* format) {
    if (format) *format = 0;
    if (!path || length < 4) return kCodecKindNone;
    const wchar_t* ext;
    if (path[length - 4] == L'.') {
        ext = path + length - 4;
    } else if (length >= 5 && path[length - 5] == L'.') {
        ext = path + length - 5;
    } else {
        return kCodecKindNone;
    }
    wchar_t lower[6] = {};
    for (size_t i = 0; ext + i < path + length; ++i) {
        wchar_t c = ext[i];
        lower[i] = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    }
    for (const ExtensionEntry& e : kExtensions) {
        if (wcscmp(lower, e.extension) == 0) {
            if (format) *format = e.format;
            return e.kind;
        }
    }
    return kCodecKindNone;
}
