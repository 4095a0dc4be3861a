// Image and video output helpers: extension lists, pixel formats for the
// targets, loading, saving with its questions and runs of output frames.
#include "media/frame_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "image/imgbuff.h"
#include "media/image_module.h"
#include "media/open_documents.h"
#include "platform/atomic_save.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

// The files of a run: each written under its temporary, renamed at the close.
struct FrameOutputFiles {
    std::vector<std::unique_ptr<AtomicSave>> saves;
};

namespace {

constexpr uint64_t kDefaultInterval = 33333;  // microseconds per movie frame
constexpr size_t kMaxFieldDigits = 19;        // a wider zero-padded field overflows 64 bits

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// The text after the last full stop of the path's file name, when that full
// stop is not the name's first character; null otherwise.
const wchar_t* ExtensionOf(const wchar_t* path) {
    if (!path || !path[0]) return nullptr;
    const wchar_t* slash = wcsrchr(path, L'/');
    const wchar_t* name = slash ? slash + 1 : path;
    const wchar_t* dot = wcsrchr(name, L'.');
    return dot && dot != name ? dot + 1 : nullptr;
}

std::wstring Lower(const wchar_t* text) {
    std::wstring s = text ? text : L"";
    for (wchar_t& c : s) c = LowerAscii(c);
    return s;
}

// 1 when the extension is one of the words of the list.
bool InWordList(const std::wstring& extension, const wchar_t* list) {
    if (!list) return false;
    const wchar_t* p = list;
    while (*p) {
        while (*p == L' ') ++p;
        const wchar_t* start = p;
        while (*p && *p != L' ') ++p;
        size_t n = static_cast<size_t>(p - start);
        if (n > 0 && n < 16 && Lower(std::wstring(start, n).c_str()) == extension) return true;
    }
    return false;
}

bool Japanese(const wchar_t* language) { return language && wcscmp(language, L"jp") == 0; }

struct Message {
    const wchar_t* en;
    const wchar_t* enTitle;
    const wchar_t* jp;
    const wchar_t* jpTitle;
};

const Message kLoadFailed = {L"loading failed", L"error", L"ロードできませんでした", L"エラー"};
const Message kSaved = {L"saved", L"confirmation", L"セーブしました", L"確認"};
const Message kSaveFailed = {L"saving failed", L"error", L"セーブできませんでした", L"エラー"};
const Message kNoPath = {L"here is no file path", L"confirmation", L"ファイルパスがありません", L"確認"};
const Message kNoImage = {L"there is no image", L"confirmation", L"画像がありません", L"確認"};
const Message kOverwrite = {L"Do you want to overwrite it?", L"confirmation", L"上書き保存しますか？", L"確認"};
const Message kColourToGrey = {
    L"The specified file format does not correspond to a color image.\nDo you want to convert to grayscale image "
    L"and save?",
    L"confirmation", L"指定されたファイル形式はカラー画像に対応してません\nグレースケール画像に変換して保存しますか？",
    L"確認"};
const Message kDepthLost = {
    L"The number of bits that can be handled by the file is insufficient.\nIt will deteriorate at the time of "
    L"storage. Are you sure?",
    L"confirmation", L"ファイルで扱えるbit数が不足しています\n保存時に劣化しますがよろしいですか？", L"確認"};
const Message kUnsupported = {L"Unsupported format", L"confirmation", L"対応していない形式です", L"確認"};
const Message kOwnDocument = {L"Videos cannot overwrite themselves", L"confirmation",
                              L"動画は自身を上書き保存する事はできません", L"確認"};

// A notice (one button).
void Notice(const Message& m, const wchar_t* language, CFgScreen* parent) {
    bool jp = Japanese(language);
    FgMessageBox(jp ? m.jp : m.en, jp ? m.jpTitle : m.enTitle, 1, parent);
}

// A question (two buttons): 1 when the user agreed.
bool Ask(const Message& m, const wchar_t* language, CFgScreen* parent) {
    bool jp = Japanese(language);
    return FgMessageBox(jp ? m.jp : m.en, jp ? m.jpTitle : m.enTitle, 0, parent) == 1;
}

int32_t FormatOf(const CImgBuff* image) { return image && image->buffer ? image->buffer->format : 0; }

// Preferences of ChooseModulePixelType: format, reduced, grey.
struct Choice {
    int8_t format;
    int8_t reduced;
    int8_t grey;
};
const Choice kModuleRows[10][7] = {
    {},
    {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {6, 0, 0}, {7, 0, 0}},
    {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}, {6, 0, 0}, {7, 0, 0}, {1, 1, 0}},
    {{3, 0, 0}, {6, 0, 0}, {7, 0, 0}, {2, 1, 0}, {5, 1, 0}, {1, 1, 0}, {4, 1, 0}},
    {{4, 0, 0}, {5, 0, 0}, {6, 0, 0}, {7, 0, 0}, {1, 0, 1}, {2, 0, 1}, {3, 0, 1}},
    {{5, 0, 0}, {6, 0, 0}, {7, 0, 0}, {4, 1, 0}, {1, 1, 1}, {2, 0, 1}, {3, 0, 1}},
    {{6, 0, 0}, {7, 0, 0}, {5, 1, 0}, {4, 1, 0}, {3, 0, 1}, {2, 1, 1}, {1, 1, 1}},
    {{7, 0, 0}, {6, 1, 0}, {5, 1, 0}, {4, 1, 0}, {3, 1, 1}, {2, 1, 1}, {1, 1, 1}},
    {{5, 0, 0}, {6, 0, 0}, {7, 0, 0}, {4, 1, 0}, {2, 0, 1}, {3, 0, 1}, {1, 1, 1}},
    {{4, 0, 0}, {5, 0, 0}, {6, 0, 0}, {7, 0, 0}, {1, 0, 1}, {2, 0, 1}, {3, 0, 1}},
};

// Saves through the module claiming the path's extension; false on any
// failure.
bool SaveThroughModule(const CImgBuff* image, const wchar_t* path) {
    int32_t reduced = 0, grey = 0;
    int32_t format = ChooseModulePixelType(image, path, &reduced, &grey);
    if (!format) return false;
    const CImgBuff* source = image;
    CImgBuff converted;
    if (format != image->buffer->format) {
        if (!converted.buffer || !converted.buffer->CopyFrom(image->buffer)->pixels ||
            !converted.buffer->ConvertFormat(static_cast<uint32_t>(format)))
            return false;
        source = &converted;
    }
    const C_ImgBuff* b = source->buffer;
    ImageModuleStream* stream = CreateModuleStream(path, kModuleStreamStill, static_cast<uint64_t>(b->width),
                                                   static_cast<uint64_t>(b->height),
                                                   static_cast<uint16_t>(b->BytesPerPixel() * 8), 1, 0);
    if (!stream) return false;
    bool written = WriteModuleFrame(stream, source) == 1;
    if (!CloseModuleStream(stream)) {
        DiscardModuleStream(stream);
        return false;
    }
    return written;
}

bool SaveBuiltin(const CImgBuff* image, const wchar_t* path) {
    int32_t reduced = 0;
    int32_t format = ChooseBuiltinPixelType(path, &reduced, image->buffer->format);
    if (!format) return false;
    const CImgBuff* source = image;
    CImgBuff converted;
    if (format != image->buffer->format) {
        if (!converted.buffer || !converted.buffer->CopyFrom(image->buffer)->pixels ||
            !converted.buffer->ConvertFormat(static_cast<uint32_t>(format)))
            return false;
        source = &converted;
    }
    codec_file_info info;
    if (!source->GetFrameInfo(&info)) return false;
    codec_file* file = codec_file_create(path, &info, nullptr);
    if (!file) return false;
    int32_t written = source->WriteFrame(file);
    int32_t closed = codec_file_close(file);
    return written && closed;
}

// Writes the image to the temporary of `save`, begun beside `path`: through
// the module claiming the extension, else the built-in format. The caller
// commits the temporary, or drops it with `save`.
bool SaveToTemporary(const CImgBuff* image, const wchar_t* path, AtomicSave* save) {
    const bool module = GetImageModuleCaps(path) != 0;
    if ((!module && !ExtensionOf(path)) || !save->Begin(path)) return false;
    // The temporary keeps the target's extension: the same writer serves it.
    const wchar_t* temporary = save->TemporaryPath().c_str();
    if (module && SaveThroughModule(image, temporary)) return true;
    return ExtensionOf(path) && SaveBuiltin(image, temporary);
}

// Appends text to a wide printf format, doubling every '%'.
void AppendLiteral(std::wstring* format, const wchar_t* text, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (text[i] == L'%') format->push_back(L'%');
        format->push_back(text[i]);
    }
}

FrameOutput* NewOutput(const CImgBuff* image, uint64_t frames, uint64_t interval) {
    const C_ImgBuff* b = image && image->buffer ? image->buffer : nullptr;
    if (!b || !b->BytesPerPixel() || b->width < 1 || b->height < 1) return nullptr;
    FrameOutput* out = static_cast<FrameOutput*>(calloc(1, sizeof(FrameOutput)));
    if (!out) return nullptr;
    out->files = new (std::nothrow) FrameOutputFiles;
    if (!out->files) {
        free(out);
        return nullptr;
    }
    out->info.kind = interval ? kCodecKindMovie : kCodecKindStill;
    out->info.image_count = 1;
    out->info.frame_count = frames;
    out->info.bytes_per_pixel = static_cast<uint64_t>(b->BytesPerPixel());
    out->info.width = static_cast<uint64_t>(b->width);
    out->info.height = static_cast<uint64_t>(b->height);
    out->info.frame_interval = interval;
    return out;
}

// Closes the run's stream and file; false when either was not completed.
bool CloseOutputHandles(FrameOutput* output) {
    bool ok = true;
    if (output->stream && !CloseModuleStream(output->stream)) {
        DiscardModuleStream(output->stream);  // its module handle is gone already
        ok = false;
    }
    if (output->file && !codec_file_close(output->file)) ok = false;
    output->stream = nullptr;
    output->file = nullptr;
    return ok;
}

// Frees the record; temporaries not committed are removed with it.
void FreeOutput(FrameOutput* output) {
    delete output->files;
    free(output);
}

}  // namespace

const wchar_t* GetImageExtensionList() {
    static std::wstring list;
    list = L"jpg jpeg tif tiff png bmp";
    if (g_ImageModuleStillExts) list += std::wstring(L" ") + g_ImageModuleStillExts;
    return list.c_str();
}

const wchar_t* GetWritableExtensionList() {
    static std::wstring list;
    list = L"avi mp4 tif tiff jpg jpeg png bmp";
    for (const wchar_t* more : {g_ImageModuleMovieExts, g_ImageModuleMultiFrameExts, g_ImageModuleStillExts})
        if (more) list += std::wstring(L" ") + more;
    return list.c_str();
}

int32_t IsMovieExtension(const wchar_t* extension) {
    if (!extension || wcslen(extension) > 15) return 0;
    std::wstring e = Lower(extension);
    return e == L"avi" || e == L"mp4" || InWordList(e, g_ImageModuleMovieExts) ? 1 : 0;
}

int32_t IsMultiFrameExtension(const wchar_t* extension) {
    if (!extension || wcslen(extension) > 15) return 0;
    std::wstring e = Lower(extension);
    return e == L"tif" || e == L"tiff" || InWordList(e, g_ImageModuleMultiFrameExts) ? 1 : 0;
}

int32_t ChooseModulePixelType(const CImgBuff* image, const wchar_t* path, int32_t* reduced, int32_t* grey) {
    if (reduced) *reduced = 0;
    if (grey) *grey = 0;
    int32_t format = FormatOf(image);
    if (!ImgFormatValid(format)) return 0;
    uint32_t caps = GetImageModuleCaps(path);
    for (const Choice& c : kModuleRows[format]) {
        if ((caps >> (c.format - 1)) & 1u) {
            if (reduced) *reduced = c.reduced;
            if (grey) *grey = c.grey;
            return c.format;
        }
    }
    return 0;
}

int32_t ChooseBuiltinPixelType(const wchar_t* path, int32_t* reduced, int32_t format) {
    if (reduced) *reduced = 0;
    const wchar_t* ext = ExtensionOf(path);
    if (!ext || wcslen(ext) > 4) return 0;
    std::wstring e = Lower(ext);
    bool tiff = e == L"tif" || e == L"tiff";
    bool deep = tiff || e == L"png";  // 16-bit channels
    int32_t chosen;
    bool lost = false;
    switch (format) {
        case kImgGray8: chosen = kImgGray8; break;
        case kImgGray16: chosen = deep ? kImgGray16 : kImgGray8, lost = !deep; break;
        case kImgGray32: chosen = tiff ? kImgGray32 : deep ? kImgGray16 : kImgGray8, lost = !tiff; break;
        case kImgRgb8:
        case kImgCmyk8: chosen = kImgRgb8; break;
        case kImgRgb16:
        case kImgHsv16: chosen = deep ? kImgRgb16 : kImgRgb8, lost = !deep; break;
        case kImgRgb32:
        case kImgXyz: chosen = tiff ? kImgRgb32 : deep ? kImgRgb16 : kImgRgb8, lost = !tiff; break;
        default: return 0;
    }
    if (reduced) *reduced = lost ? 1 : 0;
    return chosen;
}

int32_t LoadImageFile(CImgBuff* image, const wchar_t* path, const wchar_t* language, CFgScreen* parent) {
    if (!image || !path || !path[0]) {
        if (language) Notice(kLoadFailed, language, parent);
        return 0;
    }
    int32_t ok = 0;
    const wchar_t* ext = ExtensionOf(path);
    ImageModule* module = ext ? FindImageModule(ext) : nullptr;
    if (module) {
        ImageModuleStream* s = static_cast<ImageModuleStream*>(calloc(1, sizeof(ImageModuleStream)));
        if (s) {
            s->module = module;
            if (OpenModuleStream(s, path)) {
                ok = ReadModuleFrame(s, image, 0);
                if (!CloseModuleStream(s)) DiscardModuleStream(s);
            } else {
                DiscardModuleStream(s);  // the half-made stream; the codecs are tried next
            }
        }
    }
    if (!ok) {
        codec_file* file = codec_file_open(path, nullptr, nullptr);
        if (file) {
            ok = image->ReadFrame(file, 0);
            codec_file_close(file);
        }
    }
    if (!ok && language) Notice(kLoadFailed, language, parent);
    return ok ? 1 : 0;
}

int32_t SaveImageFile(const CImgBuff* image, const wchar_t* path, const wchar_t* language, CFgScreen* parent) {
    if (!path || !path[0] || !image || !image->buffer || !image->buffer->BytesPerPixel() || !image->buffer->pixels)
        return 0;
    AtomicSave save;
    const bool ok = !IsOpenDocument(path) && SaveToTemporary(image, path, &save) && save.Commit();
    if (language) Notice(ok ? kSaved : kSaveFailed, language, parent);
    return ok ? 1 : 0;
}

int32_t ConfirmSaveImage(const CImgBuff* image, const wchar_t* path, const wchar_t* language, CFgScreen* parent) {
    if (!path || !path[0]) {
        Notice(kNoPath, language, parent);
        return 0;
    }
    int32_t format = FormatOf(image);
    if (format == 0) {
        Notice(kNoImage, language, parent);
        return 0;
    }
    if (!ImgFormatValid(format)) return 0;
    if (codec_file_exists(path) && !Ask(kOverwrite, language, parent)) return -1;
    if (GetImageModuleCaps(path)) {
        int32_t reduced = 0, grey = 0;
        int32_t chosen = ChooseModulePixelType(image, path, &reduced, &grey);
        if (chosen == format) return 1;
        if (grey) return Ask(kColourToGrey, language, parent) ? 1 : -1;
        if (reduced) return Ask(kDepthLost, language, parent) ? 1 : -1;
        return 1;
    }
    if (ExtensionOf(path)) {
        int32_t reduced = 0;
        int32_t chosen = ChooseBuiltinPixelType(path, &reduced, format);
        if (chosen == format || !reduced) return 1;
        return Ask(kDepthLost, language, parent) ? 1 : -1;
    }
    Notice(kUnsupported, language, parent);
    return 0;
}

FrameOutput* SaveFramesAs(const CImgBuff* image, uint64_t frames, const wchar_t* language, const wchar_t* /*ignored*/,
                          const wchar_t* title, const codec_write_options* options, CFgScreen* parent,
                          int32_t* cancelled) {
    if (cancelled) *cancelled = 0;
    wchar_t path[kFgPathMax + 1] = {};
    FgSelectFileOptions select;
    select.title = title;
    select.extensions = GetWritableExtensionList();
    if (!FgSelectFile(path, kFgPathMax + 1, &select, parent)) {
        if (cancelled) *cancelled = 1;
        return nullptr;
    }
    if (IsOpenDocument(path)) {
        Notice(kOwnDocument, language, parent);
        return nullptr;
    }
    if (codec_file_exists(path) && !Ask(kOverwrite, language, parent)) {
        if (cancelled) *cancelled = 1;
        return nullptr;
    }
    const wchar_t* ext = ExtensionOf(path);
    if (ext && IsMovieExtension(ext)) return OpenFrameOutput(image, frames, path, kDefaultInterval, options);
    if (ext && IsMultiFrameExtension(ext)) return OpenFrameOutput(image, frames, path, 0, options);
    wchar_t format[1024];
    uint64_t first = 0;
    if (!BuildOutputNameFormat(path, format, 0, &first)) return nullptr;
    return OpenNumberedOutput(image, frames, format, first);
}

FrameOutput* OpenFrameOutput(const CImgBuff* image, uint64_t frames, const wchar_t* path, uint64_t interval,
                             const codec_write_options* options) {
    const wchar_t* ext = ExtensionOf(path);
    if (ext && IsMovieExtension(ext)) {
        if (interval == 0) interval = kDefaultInterval;
    } else {
        interval = 0;
    }
    if (!path || IsOpenDocument(path)) return nullptr;
    FrameOutput* out = NewOutput(image, frames, interval);
    if (!out) return nullptr;
    std::unique_ptr<AtomicSave> save(new (std::nothrow) AtomicSave);
    if (save && save->Begin(path)) {
        // The temporary keeps the target's extension: the same writer serves it.
        const wchar_t* temporary = save->TemporaryPath().c_str();
        out->stream = CreateModuleStream(temporary, interval ? kModuleStreamMovie : kModuleStreamMultiFrame,
                                         out->info.width, out->info.height,
                                         static_cast<uint16_t>(out->info.bytes_per_pixel * 8), 0, interval / 1000);
        if (!out->stream) out->file = codec_file_create(temporary, &out->info, options);
    }
    if (!out->stream && !out->file) {
        FreeOutput(out);
        return nullptr;
    }
    out->files->saves.push_back(std::move(save));
    return out;
}

FrameOutput* OpenNumberedOutput(const CImgBuff* image, uint64_t frames, const wchar_t* nameFormat,
                                uint64_t firstNumber) {
    if (!nameFormat || wcslen(nameFormat) > 1023) return nullptr;
    FrameOutput* out = NewOutput(image, frames, 0);
    if (!out) return nullptr;
    wcscpy(out->nameFormat, nameFormat);
    out->firstNumber = out->nextNumber = firstNumber;
    return out;
}

int32_t BuildOutputNameFormat(const wchar_t* path, wchar_t* nameFormat, uint64_t /*ignored*/, uint64_t* firstNumber) {
    if (firstNumber) *firstNumber = 0;
    if (!path || !nameFormat) return 0;
    nameFormat[0] = 0;
    size_t length = wcslen(path);
    // The folder: up to the last '/', which must not be the first character.
    size_t slash = 0;
    for (size_t i = length; i > 1; --i) {
        if (path[i - 1] == L'/') {
            slash = i - 1;
            break;
        }
    }
    // A folder that cannot be kept would send the files elsewhere.
    if (slash == 0 || slash + 1 >= 1023) return 0;
    const wchar_t* name = path + slash + 1;
    const wchar_t* dot = wcsrchr(name, L'.');
    if (!dot || !dot[1]) return 0;
    size_t stemLength = static_cast<size_t>(dot - name);
    if (stemLength >= 1023) return 0;
    size_t digitsBegin = stemLength;
    while (digitsBegin > 0 && IsDigit(name[digitsBegin - 1])) --digitsBegin;
    size_t digits = stemLength - digitsBegin;
    bool padded = digits > 0 && name[digitsBegin] == L'0';
    if (padded && digits > kMaxFieldDigits) return 0;
    uint64_t number = 0;
    for (size_t i = digitsBegin; i < stemLength; ++i) {
        if (__builtin_mul_overflow(number, 10u, &number) ||
            __builtin_add_overflow(number, static_cast<uint64_t>(name[i] - L'0'), &number))
            return 0;
    }
    std::wstring format;
    AppendLiteral(&format, path, slash + 1);
    AppendLiteral(&format, name, digitsBegin);
    format += padded ? L"%0" + std::to_wstring(digits) + L"llu" : std::wstring(L"%llu");
    AppendLiteral(&format, dot, wcslen(dot));
    if (format.size() > 1023) return 0;
    wcscpy(nameFormat, format.c_str());
    if (firstNumber) *firstNumber = number;
    return 1;
}

int32_t WriteOutputFrame(FrameOutput* output, const CImgBuff* image) {
    if (!output || !image || !image->buffer || !image->buffer->pixels) return 0;
    const C_ImgBuff* b = image->buffer;
    if (static_cast<uint64_t>(b->width) != output->info.width ||
        static_cast<uint64_t>(b->height) != output->info.height ||
        static_cast<uint64_t>(b->BytesPerPixel()) != output->info.bytes_per_pixel)
        return 0;
    bool written;
    if (output->stream) {
        written = WriteModuleFrame(output->stream, image) == 1;
    } else if (output->file) {
        written = codec_file_write_frame(output->file, 0, 0, b->pixels) == 1;
    } else {
        if (!output->nameFormat[0]) return 0;
        wchar_t name[1024];
        int n = swprintf(name, 1024, output->nameFormat, static_cast<unsigned long long>(output->nextNumber));
        ++output->nextNumber;
        std::unique_ptr<AtomicSave> save(new (std::nothrow) AtomicSave);
        written = n >= 0 && save && !IsOpenDocument(name) && SaveToTemporary(image, name, save.get());
        if (written) output->files->saves.push_back(std::move(save));
    }
    if (!written) output->failed = 1;
    return written ? 1 : 0;
}

int32_t CloseFrameOutput(FrameOutput* output) {
    if (!output) return 0;
    bool ok = CloseOutputHandles(output) && !output->failed;
    // Every file complete: each takes its target's place. Otherwise the
    // temporaries go with the record.
    for (std::unique_ptr<AtomicSave>& save : output->files->saves)
        if (ok) ok = save->Commit() != 0;
    FreeOutput(output);
    return ok ? 1 : 0;
}

void AbortFrameOutput(FrameOutput* output) {
    if (!output) return;
    CloseOutputHandles(output);
    FreeOutput(output);
}
