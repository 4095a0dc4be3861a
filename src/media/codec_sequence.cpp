// Numbered sequences of still files: "img0008.png" to "img0012.png" read or
// written as the frames of one handle.
#include <cstdlib>
#include <cwchar>
#include <string>

#include "media/codec_formats.h"
#include "media/open_documents.h"

namespace {

// Digit fields are at most 19 digits wide, so every number parses into u64.
constexpr size_t kMaxDigits = 19;

// The decimal run right before the last full stop of a name.
struct NumberedName {
    size_t length;        // characters of the whole name
    size_t digits_begin;  // first digit
    size_t digits_end;    // the full stop
    uint64_t number;
};

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool SplitNumberedName(const wchar_t* name, NumberedName* out) {
    if (!name) return false;
    size_t length = wcslen(name);
    const wchar_t* dot = wcsrchr(name, L'.');
    if (!dot || dot == name) return false;
    size_t end = static_cast<size_t>(dot - name);
    size_t begin = end;
    while (begin > 0 && IsDigit(name[begin - 1])) --begin;
    if (begin == end || end - begin > kMaxDigits) return false;
    uint64_t number = 0;
    for (size_t i = begin; i < end; ++i) number = number * 10 + static_cast<uint64_t>(name[i] - L'0');
    *out = {length, begin, end, number};
    return true;
}

uint64_t DecimalDigits(uint64_t n) {
    uint64_t digits = 1;
    while (n >= 10) {
        n /= 10;
        ++digits;
    }
    return digits;
}

// Appends literal text to a printf-style format, doubling every '%'.
void AppendLiteral(std::wstring* format, const wchar_t* text, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (text[i] == L'%') format->push_back(L'%');
        format->push_back(text[i]);
    }
}

// Prefix, the number field (zero-padded to `width` digits, or plain for 0)
// and suffix of `name`; null when memory runs out.
wchar_t* BuildNameFormat(const wchar_t* name, const NumberedName& split, size_t width) {
    std::wstring format;
    AppendLiteral(&format, name, split.digits_begin);
    format += width ? L"%0" + std::to_wstring(width) + L"llu" : std::wstring(L"%llu");
    AppendLiteral(&format, name + split.digits_end, split.length - split.digits_end);
    return wcsdup(format.c_str());
}

// Gives the handle its name format and a name buffer for names of at most
// `name_length` characters.
bool SetNames(codec_file* file, wchar_t* name_format, uint64_t name_length) {
    file->name_format = name_format;
    file->name_length = name_length;
    file->name_buffer = static_cast<wchar_t*>(calloc(name_length + 1, sizeof(wchar_t)));
    return name_format && file->name_buffer;
}

// Formats the name of file `number` into the handle's name buffer.
bool FormatName(codec_file* file, uint64_t number) {
    int n = swprintf(file->name_buffer, file->name_length + 1, file->name_format,
                     static_cast<unsigned long long>(number));
    return n >= 0;
}

}  // namespace

namespace {

// Two names that do not make a numbered run: the first file's own reason
// when it cannot be opened, else not a kind the reader takes.
codec_file* RefuseNames(const wchar_t* first_path) {
    if (codec_file* probe = codec_file_open(first_path, nullptr, nullptr)) {
        codec_file_close(probe);
        codec_set_open_error(kCodecOpenUnsupported);
    }
    return nullptr;
}

}  // namespace

codec_file* codec_sequence_open(const wchar_t* first_path, const wchar_t* last_path) {
    NumberedName first;
    NumberedName last;
    if (!SplitNumberedName(first_path, &first) || !SplitNumberedName(last_path, &last))
        return RefuseNames(first_path);
    size_t suffix_length = first.length - first.digits_end;
    if (first.digits_begin != last.digits_begin || last.length - last.digits_end != suffix_length)
        return RefuseNames(first_path);
    if (wmemcmp(first_path, last_path, first.digits_begin) != 0 ||
        wmemcmp(first_path + first.digits_end, last_path + last.digits_end, suffix_length) != 0)
        return RefuseNames(first_path);
    size_t first_digits = first.digits_end - first.digits_begin;
    size_t last_digits = last.digits_end - last.digits_begin;
    bool same_width = first_digits == last_digits;
    if (!same_width && (first_path[first.digits_begin] == L'0' || last_path[last.digits_begin] == L'0'))
        return RefuseNames(first_path);

    codec_file* file = static_cast<codec_file*>(calloc(1, sizeof(codec_file)));
    if (!file) {
        codec_set_open_error(kCodecOpenDamaged);
        return nullptr;
    }
    file->first_number = first.number > last.number ? last.number : first.number;
    file->last_number = last.number;
    uint64_t name_length = first_digits > last_digits ? first.length : last.length;
    if (!SetNames(file, BuildNameFormat(first_path, first, same_width ? first_digits : 0), name_length) ||
        !FormatName(file, file->first_number)) {
        codec_file_free(file);
        return nullptr;
    }

    codec_file* probe = codec_file_open(file->name_buffer, nullptr, nullptr);
    if (!probe || probe->info.kind != kCodecKindStill || probe->info.frame_count >= 2) {
        if (probe) codec_set_open_error(kCodecOpenUnsupported);
        codec_file_close(probe);
        codec_file_free(file);
        return nullptr;
    }
    file->info = probe->info;
    file->format = probe->format;
    codec_file_close(probe);
    file->mode = kCodecModeSequenceRead;
    file->info.frame_count = file->last_number - file->first_number + 1;
    OpenDocumentAddSequence(file, first_path, first.digits_begin, first_path + first.digits_end,
                            same_width ? first_digits : 0, file->first_number, file->last_number);
    return file;
}

int32_t codec_sequence_read(codec_file* file, uint64_t frame, void* buffer) {
    uint64_t number = file->first_number + frame;
    if (frame > file->last_number - file->first_number || !FormatName(file, number)) return 0;
    // A PNG of the sequence's layout is decoded straight into the frame.
    if (file->format == kCodecPng) {
        char* narrow = codec_path_to_ansi(file->name_buffer);
        const int32_t direct = narrow ? codec_png_read_into(narrow, &file->info, buffer) : -1;
        free(narrow);
        if (direct >= 0) return direct;
    }
    codec_file* still = codec_file_open(file->name_buffer, nullptr, nullptr);
    if (!still) return 0;
    const codec_file_info& info = still->info;
    int32_t ok = info.width == file->info.width && info.height == file->info.height &&
                 info.bytes_per_pixel == file->info.bytes_per_pixel && info.frame_count <= 1 &&
                 codec_file_read_frame(still, 0, 0, 0, buffer);
    codec_file_close(still);
    return ok;
}

codec_file* codec_sequence_create(const wchar_t* path, const codec_file_info* info,
                                  const codec_write_options* options) {
    if (!path || !info || info->frame_count == 0) return nullptr;
    uint64_t format;
    if (codec_extension_lookup(path, wcslen(path), &format) != kCodecKindStill) return nullptr;
    NumberedName name;
    if (!SplitNumberedName(path, &name)) return nullptr;
    if (name.number > UINT64_MAX - (info->frame_count - 1)) return nullptr;
    uint64_t last = name.number + info->frame_count - 1;
    size_t width = name.digits_end - name.digits_begin;
    bool padded = path[name.digits_begin] == L'0';
    uint64_t last_digits = DecimalDigits(last);
    if (padded && last_digits > width) return nullptr;

    codec_file* file = static_cast<codec_file*>(calloc(1, sizeof(codec_file)));
    if (!file) return nullptr;
    file->info = *info;
    file->info.kind = kCodecKindStill;
    file->format = format;
    file->mode = kCodecModeSequenceWrite;
    file->first_number = name.number;
    file->last_number = last;
    if (options) file->options = *options;
    if (file->options.jpeg_quality == 0) file->options.jpeg_quality = 75;
    uint64_t longest = name.length - width + (last_digits > width ? last_digits : width);
    if (!SetNames(file, BuildNameFormat(path, name, padded ? width : 0), longest)) {
        codec_file_free(file);
        return nullptr;
    }
    return file;
}

int32_t codec_sequence_write(codec_file* file, const void* buffer) {
    if (file->next_file > file->last_number - file->first_number) return 0;
    if (!FormatName(file, file->first_number + file->next_file)) return 0;
    codec_file_info info = file->info;
    info.frame_count = 1;
    codec_file* still = codec_file_create(file->name_buffer, &info, &file->options);
    if (!still) return 0;
    int32_t written = codec_file_write_frame(still, 0, 0, buffer);
    int32_t closed = codec_file_close(still);
    if (!written || !closed) return 0;
    ++file->next_file;
    return 1;
}
