// Image-module host: loading the *.wim libraries, the extension lists and
// the streams through which frames go to and from a module.
#include "media/image_module.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "image/imgbuff.h"
#include "media/codec.h"
#include "media/open_documents.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/utf8.h"

ImageModuleList* g_ImageModules = nullptr;
wchar_t* g_ImageModuleStillExts = nullptr;
wchar_t* g_ImageModuleMultiFrameExts = nullptr;
wchar_t* g_ImageModuleMovieExts = nullptr;

namespace {

// A zero-padded field of more digits would hold numbers beyond 64 bits.
constexpr size_t kMaxFieldDigits = 19;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

void Refuse(const wchar_t* path, const char* reason, const char* detail = nullptr) {
    std::string narrow = PlatWideToUtf8(path);
    fprintf(stderr, "korvane: image module %s refused: %s%s%s\n", narrow.c_str(), reason, detail ? ": " : "",
            detail ? detail : "");
}

// The last full stop of the file name part of a path when it is not the
// name's first character; null otherwise.
const wchar_t* ExtensionDot(const wchar_t* path) {
    if (!path || !path[0]) return nullptr;
    const wchar_t* slash = wcsrchr(path, L'/');
    const wchar_t* name = slash ? slash + 1 : path;
    const wchar_t* dot = wcsrchr(name, L'.');
    return dot && dot != name ? dot : nullptr;
}

// Strict UTF-8 to wide text (malloc); null for invalid text.
wchar_t* Utf8ToWideStrict(const std::string& text) {
    std::wstring wide;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.c_str());
    while (*p) {
        char32_t c;
        bool valid;
        p += PlatDecodeUtf8(p, &c, &valid);
        if (!valid) return nullptr;
        wide.push_back(static_cast<wchar_t>(c));
    }
    wchar_t* out = static_cast<wchar_t*>(malloc((wide.size() + 1) * sizeof(wchar_t)));
    if (out) wmemcpy(out, wide.c_str(), wide.size() + 1);
    return out;
}

wchar_t* BuildExtensionList(uint32_t mask) {
    std::string list;
    try {
        for (ImageModule* m = g_ImageModules ? g_ImageModules->first : nullptr; m; m = m->next) {
            if (!(m->caps & mask)) continue;
            for (const char* const* e = m->extensions; *e; ++e) {
                if (!list.empty()) list.push_back(' ');
                list += *e;
            }
        }
    } catch (...) {
        return nullptr;
    }
    return list.empty() ? nullptr : Utf8ToWideStrict(list);
}

// 1 when the file name ends in an extension starting with "wim" in any case.
bool IsModuleFileName(const wchar_t* name) {
    if (!name[0]) return false;
    const wchar_t* dot = wcsrchr(name, L'.');
    if (!dot || dot == name) return false;
    static const wchar_t kWim[] = L"wim";
    for (int i = 0; i < 3; ++i)
        if (LowerAscii(dot[1 + i]) != kWim[i]) return false;  // stops at the terminator too
    return true;
}

void* Bind(void* library, const char* name) { return PlatGetProcAddress(library, name); }

// Checks a format reported by a module before anything is allocated for
// it: bits of the table, sides the image handle can hold and a byte size
// that does not overflow.
bool ValidFrameFormat(uint16_t bits, uint64_t width, uint64_t height) {
    if (!ImageModuleFormatOfBits(bits)) return false;
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return false;
    uint64_t bytes;
    if (__builtin_mul_overflow(width * height, static_cast<uint64_t>(bits / 8), &bytes)) return false;
    return bytes <= static_cast<uint64_t>(PTRDIFF_MAX);
}

// Appends text to a printf format, doubling every '%'.
void AppendLiteral(std::string* format, const char* text, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (text[i] == '%') format->push_back('%');
        format->push_back(text[i]);
    }
}

// A name split round the digits before its last full stop.
struct NumberedName {
    size_t digitsBegin;
    size_t digitsEnd;  // the full stop
    uint64_t number;
    bool overflow;
};

bool SplitNumberedName(const std::string& name, NumberedName* out) {
    size_t slash = name.rfind('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) return false;
    size_t begin = dot;
    while (begin > nameStart && IsDigit(name[begin - 1])) --begin;
    uint64_t number = 0;
    bool overflow = false;
    for (size_t i = begin; i < dot; ++i) {
        if (__builtin_mul_overflow(number, 10u, &number) ||
            __builtin_add_overflow(number, static_cast<uint64_t>(name[i] - '0'), &number))
            overflow = true;
    }
    *out = {begin, dot, number, overflow};
    return true;
}

// The name format of `name` with its digits replaced by a field, zero-padded
// to `width` digits or plain for 0.
char* BuildNameFormat(const std::string& name, const NumberedName& split, size_t width) {
    std::string format;
    try {
        AppendLiteral(&format, name.c_str(), split.digitsBegin);
        format += width ? "%0" + std::to_string(width) + "llu" : std::string("%llu");
        AppendLiteral(&format, name.c_str() + split.digitsEnd, name.size() - split.digitsEnd);
    } catch (...) {
        return nullptr;
    }
    return strdup(format.c_str());
}

bool FormatName(const char* format, uint64_t number, std::string* name) {
    int n = snprintf(nullptr, 0, format, static_cast<unsigned long long>(number));
    if (n < 0) return false;
    name->resize(static_cast<size_t>(n) + 1);
    snprintf(name->data(), name->size(), format, static_cast<unsigned long long>(number));
    name->resize(static_cast<size_t>(n));
    return true;
}

}  // namespace

int32_t ImageModuleFormatOfBits(uint32_t bits) {
    switch (bits) {
        case 8: return kImgGray8;
        case 16: return kImgGray16;
        case 24: return kImgRgb8;
        case 32: return kImgGray32;
        case 48: return kImgRgb16;
        case 96: return kImgRgb32;
        case 192: return kImgXyz;
        default: return 0;
    }
}

int32_t LoadImageModules(const wchar_t* folder) {
    if (!folder || !folder[0]) return 0;
    UnloadImageModules();
    g_ImageModules = static_cast<ImageModuleList*>(calloc(1, sizeof(ImageModuleList)));
    if (!g_ImageModules) return 0;
    std::vector<FgDirName> entries;
    if (!FgListDirectoryNames(folder, &entries)) entries.clear();
    for (const FgDirName& entry : entries) {
        if (entry.isFolder || !IsModuleFileName(entry.name.c_str())) continue;
        wchar_t path[1024];
        wcsncpy(path, folder, 1023);
        path[1023] = 0;
        if (wcslen(folder) > 1023 || !FgPathAppend(path, 1024, entry.name.c_str())) {
            // A cut path could name another file.
            std::wstring whole = std::wstring(folder) + L"/" + entry.name;
            Refuse(whole.c_str(), "path longer than 1023 characters");
            continue;
        }
        char* narrow = codec_path_to_ansi(path);
        void* library = narrow ? PlatLoadLibrary(narrow) : nullptr;
        free(narrow);
        if (!library) {
            Refuse(path, "cannot be loaded", PlatLibraryError());
            continue;
        }
        ImageModule record = {};
        record.library = library;
        record.em_info = reinterpret_cast<em_info_fn>(Bind(library, "em_info"));
        record.em_open = reinterpret_cast<em_open_fn>(Bind(library, "em_open"));
        record.em_read = reinterpret_cast<em_read_fn>(Bind(library, "em_read"));
        record.em_create = reinterpret_cast<em_create_fn>(Bind(library, "em_create"));
        record.em_write = reinterpret_cast<em_write_fn>(Bind(library, "em_write"));
        record.em_close = reinterpret_cast<em_close_fn>(Bind(library, "em_close"));
        const char* missing = !record.em_info     ? "em_info"
                              : !record.em_open   ? "em_open"
                              : !record.em_read   ? "em_read"
                              : !record.em_create ? "em_create"
                              : !record.em_write  ? "em_write"
                              : !record.em_close  ? "em_close"
                                                  : nullptr;
        if (missing) {
            Refuse(path, "missing entry point", missing);
            PlatFreeLibrary(library);
            continue;
        }
        record.em_info(&record.extensions, &record.caps);
        if (!record.extensions) {
            Refuse(path, "em_info gave no extension list");
            PlatFreeLibrary(library);
            continue;
        }
        ImageModule* m = static_cast<ImageModule*>(malloc(sizeof(ImageModule)));
        if (!m) {
            PlatFreeLibrary(library);
            break;
        }
        *m = record;
        m->previous = g_ImageModules->last;
        if (g_ImageModules->last)
            g_ImageModules->last->next = m;
        else
            g_ImageModules->first = m;
        g_ImageModules->last = m;
    }
    g_ImageModuleStillExts = BuildExtensionList(EM_CAP_STILL | EM_CAP_MULTIFRAME);
    g_ImageModuleMultiFrameExts = BuildExtensionList(EM_CAP_MULTIFRAME);
    g_ImageModuleMovieExts = BuildExtensionList(EM_CAP_MOVIE);
    return 1;
}

void UnloadImageModules() {
    if (g_ImageModules) {
        ImageModule* m = g_ImageModules->first;
        while (m) {
            ImageModule* next = m->next;
            PlatFreeLibrary(m->library);
            free(m);
            m = next;
        }
        free(g_ImageModules);
        g_ImageModules = nullptr;
    }
    free(g_ImageModuleStillExts);
    free(g_ImageModuleMultiFrameExts);
    free(g_ImageModuleMovieExts);
    g_ImageModuleStillExts = g_ImageModuleMultiFrameExts = g_ImageModuleMovieExts = nullptr;
}

ImageModule* FindImageModule(const wchar_t* extension) {
    if (!g_ImageModules || !extension) return nullptr;
    char* narrow = codec_path_to_ansi(extension);
    if (!narrow) return nullptr;
    ImageModule* found = nullptr;
    for (ImageModule* m = g_ImageModules->first; m && !found; m = m->next) {
        for (const char* const* e = m->extensions; *e; ++e) {
            const char* a = *e;
            const char* b = narrow;
            while (*a && LowerAscii(*a) == LowerAscii(*b)) ++a, ++b;
            if (!*a && !*b) {
                found = m;
                break;
            }
        }
    }
    free(narrow);
    return found;
}

uint32_t GetImageModuleCaps(const wchar_t* path) {
    const wchar_t* dot = ExtensionDot(path);
    ImageModule* m = dot ? FindImageModule(dot + 1) : nullptr;
    return m ? m->caps : 0;
}

int32_t OpenModuleStream(ImageModuleStream* stream, const wchar_t* path) {
    if (!stream || !stream->module || stream->direction != 0 || !path) return 0;
    free(stream->path);
    stream->path = codec_path_to_ansi(path);
    if (!stream->path) return 0;
    ImageModule* m = stream->module;
    stream->handle = m->em_open(stream->path, &stream->bits, &stream->width, &stream->height, &stream->frames,
                                &stream->time);
    if (!stream->handle || stream->frames == 0 || !ValidFrameFormat(stream->bits, stream->width, stream->height))
        return 0;
    if ((m->caps & EM_CAP_MOVIE) && stream->time != 0)
        stream->mode = kModuleStreamMovie;
    else
        stream->mode = stream->frames > 1 ? kModuleStreamMultiFrame : kModuleStreamStill;
    OpenDocumentAdd(stream, path);
    return 1;
}

int32_t OpenModuleSequence(ImageModuleStream* stream, const wchar_t* firstPath, const wchar_t* lastPath) {
    if (!stream || !stream->module || stream->direction != 0) return 0;
    if (!firstPath || !firstPath[0] || !lastPath || !lastPath[0]) return 0;
    char* firstNarrow = codec_path_to_ansi(firstPath);
    char* lastNarrow = codec_path_to_ansi(lastPath);
    std::string first = firstNarrow ? firstNarrow : "";
    std::string last = lastNarrow ? lastNarrow : "";
    free(firstNarrow);
    free(lastNarrow);
    NumberedName a;
    NumberedName b;
    if (first.empty() || last.empty() || !SplitNumberedName(first, &a) || !SplitNumberedName(last, &b)) return 0;
    size_t digitsA = a.digitsEnd - a.digitsBegin;
    size_t digitsB = b.digitsEnd - b.digitsBegin;
    // Names without a number make no sequence.
    if (digitsA == 0 || digitsB == 0 || a.overflow || b.overflow) return 0;
    if (first.compare(a.digitsEnd, std::string::npos, last, b.digitsEnd, std::string::npos) != 0) return 0;
    if (a.digitsBegin != b.digitsBegin || first.compare(0, a.digitsBegin, last, 0, b.digitsBegin) != 0) return 0;
    bool padded = first[a.digitsBegin] == '0' || last[b.digitsBegin] == '0';
    if (padded && (digitsA != digitsB || digitsA > kMaxFieldDigits)) return 0;
    if (b.number < a.number || (a.number == 0 && b.number == UINT64_MAX)) return 0;

    char* format = BuildNameFormat(first, a, padded ? digitsA : 0);
    std::string name;
    if (!format || !FormatName(format, a.number, &name)) {
        free(format);
        return 0;
    }
    ImageModule* m = stream->module;
    uint16_t bits = 0;
    uint64_t width = 0, height = 0, frames = 0, time = 0;
    void* probe = m->em_open(name.c_str(), &bits, &width, &height, &frames, &time);
    if (!probe) {
        free(format);
        return 0;
    }
    m->em_close(probe);
    if (frames == 0 || !ValidFrameFormat(bits, width, height)) {
        free(format);
        return 0;
    }
    free(stream->path);
    stream->path = format;
    stream->bits = bits;
    stream->width = width;
    stream->height = height;
    stream->frames = b.number - a.number + 1;
    stream->firstNumber = a.number;
    stream->time = 0;
    stream->mode = kModuleStreamNumbered;
    const std::wstring prefix = PlatUtf8ToWide(first.substr(0, a.digitsBegin).c_str());
    OpenDocumentAddSequence(stream, prefix.c_str(), prefix.size(), PlatUtf8ToWide(first.substr(a.digitsEnd).c_str()).c_str(),
                            padded ? digitsA : 0, a.number, b.number);
    return 1;
}

int32_t ReadModuleFrame(ImageModuleStream* stream, CImgBuff* image, uint64_t index) {
    if (!g_ImageModules || !g_ImageModules->first || !stream || !stream->module || !image || !image->buffer)
        return 0;
    int32_t format = ImageModuleFormatOfBits(stream->bits);
    if (!format || stream->width > INT32_MAX || stream->height > INT32_MAX) return 0;
    C_ImgBuff* b = image->buffer;
    // The same size and format keep the image: sequential reads allocate nothing.
    if (b->format != format || static_cast<uint64_t>(b->width) != stream->width ||
        static_cast<uint64_t>(b->height) != stream->height || !b->pixels) {
        if (!b->Create(static_cast<int32_t>(stream->width), static_cast<int32_t>(stream->height), format)) return 0;
    }
    if (stream->direction != 0 || !b->pixels || index >= stream->frames) return 0;
    ImageModule* m = stream->module;
    if (stream->mode != kModuleStreamNumbered) return m->em_read(stream->handle, b->pixels, index) ? 1 : 0;

    std::string name;
    if (!FormatName(stream->path, stream->firstNumber + index, &name)) return 0;
    uint16_t bits = 0;
    uint64_t width = 0, height = 0, frames = 0, time = 0;
    void* handle = m->em_open(name.c_str(), &bits, &width, &height, &frames, &time);
    if (!handle) return 0;
    int32_t ok = bits == stream->bits && width == stream->width && height == stream->height && frames >= 1 &&
                 m->em_read(handle, b->pixels, 0);
    m->em_close(handle);
    return ok ? 1 : 0;
}

ImageModuleStream* CreateModuleStream(const wchar_t* path, uint32_t mode, uint64_t width, uint64_t height,
                                      uint16_t bits, uint64_t frames, uint64_t time) {
    if (!g_ImageModules || !g_ImageModules->first || !path || !path[0] || width == 0 || height == 0) return nullptr;
    if (width > INT32_MAX || height > INT32_MAX) return nullptr;
    switch (bits) {
        case 8: case 16: case 24: case 32: case 40: case 48: case 96: case 192: break;
        default: return nullptr;
    }
    if (mode > kModuleStreamMovie || (mode == kModuleStreamMovie) != (time != 0)) return nullptr;
    if (mode == kModuleStreamStill && frames != 1) return nullptr;
    const wchar_t* dot = ExtensionDot(path);
    ImageModule* m = dot ? FindImageModule(dot + 1) : nullptr;
    if (!m) return nullptr;

    ImageModuleStream* s = static_cast<ImageModuleStream*>(calloc(1, sizeof(ImageModuleStream)));
    if (!s) return nullptr;
    s->module = m;
    s->direction = 1;
    s->bits = bits;
    s->width = width;
    s->height = height;
    s->frames = frames;
    s->time = time;
    char* narrow = codec_path_to_ansi(path);
    if (!narrow) {
        DiscardModuleStream(s);
        return nullptr;
    }
    if (mode == kModuleStreamNumbered) {
        std::string name = narrow;
        free(narrow);
        NumberedName split;
        bool ok = SplitNumberedName(name, &split) && split.digitsEnd > split.digitsBegin && !split.overflow;
        size_t digits = ok ? split.digitsEnd - split.digitsBegin : 0;
        bool padded = ok && name[split.digitsBegin] == '0';
        if (!ok || (padded && digits > kMaxFieldDigits)) {
            DiscardModuleStream(s);
            return nullptr;
        }
        uint64_t lastNumber = UINT64_MAX;
        if (padded) {
            lastNumber = 0;
            for (size_t i = 0; i < digits; ++i) lastNumber = lastNumber * 10 + 9;
        }
        s->path = BuildNameFormat(name, split, padded ? digits : 0);
        if (!s->path) {
            DiscardModuleStream(s);
            return nullptr;
        }
        s->mode = kModuleStreamNumbered;
        s->firstNumber = s->currentNumber = split.number;
        s->lastNumber = lastNumber;
        return s;
    }
    s->path = narrow;
    s->handle = m->em_create(s->path, bits, width, height, frames, time);
    if (!s->handle) {
        DiscardModuleStream(s);
        return nullptr;
    }
    s->mode = time ? kModuleStreamMovie : frames == 1 ? kModuleStreamStill : kModuleStreamMultiFrame;
    return s;
}

int32_t WriteModuleFrame(ImageModuleStream* stream, const CImgBuff* image) {
    if (!g_ImageModules || !g_ImageModules->first || !stream || !image || !image->buffer) return 0;
    const C_ImgBuff* b = image->buffer;
    if (!b->pixels || static_cast<uint64_t>(b->width) != stream->width ||
        static_cast<uint64_t>(b->height) != stream->height)
        return 0;
    int32_t format = ImageModuleFormatOfBits(stream->bits);
    if (b->format == format) return WriteModulePixels(stream, b->pixels);
    if (!format) return 0;  // 40 bits: no image format to convert to
    C_ImgBuff copy;
    copy.CopyFrom(b);
    if (!copy.pixels || !copy.ConvertFormat(static_cast<uint32_t>(format))) return 0;
    return WriteModulePixels(stream, copy.pixels);
}

int32_t WriteModulePixels(ImageModuleStream* stream, const void* pixels) {
    if (!stream || stream->direction != 1 || !pixels || !stream->module) return 0;
    if (stream->frames != 0 && stream->currentNumber - stream->firstNumber >= stream->frames) return 0;
    ImageModule* m = stream->module;
    int32_t ok;
    if (stream->mode == kModuleStreamNumbered) {
        std::string name;
        if (stream->currentNumber > stream->lastNumber || !FormatName(stream->path, stream->currentNumber, &name))
            return 0;
        void* handle = m->em_create(name.c_str(), stream->bits, stream->width, stream->height, 1, 0);
        if (!handle) return 0;
        ok = m->em_write(handle, pixels);
        // A file whose completion failed is not a written frame.
        if (!m->em_close(handle)) ok = 0;
    } else {
        ok = m->em_write(stream->handle, pixels);
    }
    if (!ok) return 0;
    ++stream->currentNumber;
    return 1;
}

int32_t CloseModuleStream(ImageModuleStream* stream) {
    if (!stream) return 0;
    OpenDocumentRemove(stream);
    if (stream->mode != kModuleStreamNumbered) {
        // The module frees its handle whatever the result: never close it twice.
        void* handle = stream->handle;
        stream->handle = nullptr;
        if (!handle || !stream->module || !stream->module->em_close(handle)) return 0;
    }
    free(stream->path);
    free(stream);
    return 1;
}

void DiscardModuleStream(ImageModuleStream* stream) {
    if (!stream) return;
    OpenDocumentRemove(stream);
    if (stream->handle && stream->module) stream->module->em_close(stream->handle);
    free(stream->path);
    free(stream);
}

int32_t GetSaveFormatIndex(const wchar_t* extension) {
    if (!extension) return -1;
    wchar_t lower[5] = {};
    for (int i = 0; i < 4 && extension[i]; ++i) lower[i] = LowerAscii(extension[i]);
    struct Entry {
        const wchar_t* name;
        int32_t index;
    };
    static const Entry kEntries[] = {{L"bmp", 0}, {L"jpg", 1}, {L"jpeg", 1}, {L"png", 2}, {L"tif", 3}, {L"tiff", 3}};
    for (const Entry& e : kEntries)
        if (wcscmp(lower, e.name) == 0) return e.index;
    return -1;
}
