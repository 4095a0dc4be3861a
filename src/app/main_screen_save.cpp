// Saving: the current result as one image, or every scene of the document
// (or of its play range) as a numbered sequence, one multi-page file or a
// movie, through an image module that claims the extension and otherwise
// through the built-in writers. One image, one movie and one multi-page
// file are written under a temporary name beside the target and renamed
// over it when complete, so a failure leaves an existing file as it was.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>
#include <string>

#include "app/main_screen.h"
#include "filters/core/filterctrl.h"
#include "filters/core/textconv.h"
#include "media/codec.h"
#include "media/frame_output.h"
#include "media/image_module.h"
#include "media/open_documents.h"
#include "platform/atomic_save.h"
#include "platform/files.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_msgbox.h"
#include "toolkit/fg_progress_box.h"
#include "toolkit/fg_texture.h"

namespace {

bool HasPixels(const CImgBuff& image) {
    return image.buffer && image.buffer->pixels && image.buffer->format >= 1 && image.buffer->format <= 9;
}

// The lower-cased extension of a path (after its last '.'), or empty.
std::wstring LowerExtension(const wchar_t* path) {
    const wchar_t* slash = path ? std::wcsrchr(path, L'/') : nullptr;
    const wchar_t* dot = path ? FindExtension(slash ? slash + 1 : path) : nullptr;
    std::wstring out;
    if (dot)
        for (const wchar_t* p = dot + 1; *p; ++p) out += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(*p)));
    return out;
}

// `path` with its extension replaced by `extension`; false when it has no
// extension or the result would not fit.
bool ReplaceExtension(wchar_t* path, size_t size, const wchar_t* extension) {
    const wchar_t* slash = std::wcsrchr(path, L'/');
    wchar_t* dot = FindExtension(const_cast<wchar_t*>(slash ? slash + 1 : path));
    if (!dot) return false;
    const size_t at = static_cast<size_t>(dot - path) + 1;
    if (at + std::wcslen(extension) + 1 > size) return false;
    std::wcscpy(path + at, extension);
    return true;
}

// The names a numbered run starting at a path writes: the digits before
// the file name's last full stop count up, zero-padded to their width when
// the first is '0' (the rule both the built-in and the module writers
// follow). Not valid when the name has no number.
struct NumberedRun {
    std::wstring prefix, suffix;
    uint64_t first = 0;
    size_t width = 0;
    bool padded = false;
    bool valid = false;
    explicit NumberedRun(const wchar_t* path) {
        const wchar_t* slash = std::wcsrchr(path, L'/');
        const wchar_t* name = slash ? slash + 1 : path;
        const wchar_t* dot = std::wcsrchr(name, L'.');
        if (!dot) return;
        const wchar_t* begin = dot;
        while (begin > name && begin[-1] >= L'0' && begin[-1] <= L'9') --begin;
        width = static_cast<size_t>(dot - begin);
        if (width == 0 || width > 19) return;
        for (const wchar_t* p = begin; p < dot; ++p) first = first * 10 + static_cast<uint64_t>(*p - L'0');
        padded = *begin == L'0';
        prefix.assign(path, static_cast<size_t>(begin - path));
        suffix = dot;
        valid = true;
    }
    std::wstring Name(uint64_t k) const {
        std::wstring digits = std::to_wstring(first + k);
        if (padded && digits.size() < width) digits.insert(0, width - digits.size(), L'0');
        return prefix + digits + suffix;
    }
};

wchar_t* HeapCopy(const wchar_t* text) {
    const size_t n = std::wcslen(text);
    wchar_t* copy = new (std::nothrow) wchar_t[n + 1];
    if (copy) std::wmemcpy(copy, text, n + 1);
    return copy;
}

// The image converted to `format` in place of itself; false on failure.
bool ConvertInPlace(CImgBuff* image, int32_t format) {
    if (image->buffer->format == format) return true;
    return image->buffer->ConvertFormat(static_cast<uint32_t>(format)) != 0;
}

// The top-left `w` x `h` of the image, in place.
bool CropInPlace(CImgBuff* image, int32_t w, int32_t h) {
    if (image->buffer->width == w && image->buffer->height == h) return true;
    CImgBuff part;
    if (!image->ExtractRect(&part, 0, 0, w - 1, h - 1)) return false;
    return image->CopyFrom(&part) != nullptr;
}

bool ModuleDepthAccepted(uint64_t bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 40 || bits == 48 || bits == 96 ||
           bits >= 192;
}

}  // namespace

// --- the image to save ---

int32_t CMainScreen::RenderWithGuides(CImgBuff* image) {
    if (!image) return 0;
    const int32_t w = picture.ImageWidth(), h = picture.ImageHeight();
    if (w <= 0 || h <= 0 || !window) return 0;
    CFgTexture target;
    if (!target.Create(static_cast<uint64_t>(w), static_cast<uint64_t>(h), 1, 1, 0, nullptr)) return 0;
    if (!target.AttachToScreen(this)) return 0;
    renderingToImage = 1;
    OverlaySetTextureTarget(target.texWidth, target.texHeight);
    if (!target.BeginRenderTo()) {
        OverlaySetTextureTarget(0, 0);
        renderingToImage = 0;
        return 0;
    }
    picture.RenderAtImageSize(this, &font);
    target.EndRenderTo();
    OverlaySetTextureTarget(0, 0);
    renderingToImage = 0;
    return image->CopyFromTexture(&target);
}

int32_t CMainScreen::PrepareSaveImage(CImgBuff* out) {
    if (!out) return 0;
    if (saveSettings.saveWithGuide) {
        if (!RenderWithGuides(out)) return 0;
    } else {
        CriticalSectionLock hold(sidePanel.lock);
        if (!HasPixels(resultImage) || !out->CopyFrom(&resultImage)) return 0;
    }
    if (saveSettings.saveSelectedArea) {
        int32_t x0, y0, x1, y1;
        {
            CriticalSectionLock hold(sidePanel.lock);
            x0 = sidePanel.regionX0, y0 = sidePanel.regionY0, x1 = sidePanel.regionX1, y1 = sidePanel.regionY1;
        }
        CImgBuff area;
        if (!out->ExtractRect(&area, x0, y0, x1, y1) || !out->CopyFrom(&area)) return 0;
    }
    return HasPixels(*out) ? 1 : 0;
}

// --- questions ---

namespace {

// Asks the colour-to-grey or the depth question; false when declined.
bool AskLoss(CMainScreen* self, bool grey, bool reduced) {
    const wchar_t* text = nullptr;
    if (grey)
        text = self->Text(L"指定されたファイル形式はカラー画像に対応してません\nグレースケール画像に変換して保存しますか？",
                          L"The specified file format does not correspond to a color image.\nDo you want to convert "
                          L"to grayscale image and save?");
    else if (reduced)
        text = self->Text(L"ファイルで扱えるbit数が不足しています\n保存時に劣化しますがよろしいですか？",
                          L"The number of bits that can be handled by the file is insufficient.\nIt will deteriorate "
                          L"at the time of storage. Are you sure?");
    if (!text) return true;
    return FgMessageBox(text, self->Text(L"確認", L"confirmation"), 2, self) == 1;
}

}  // namespace

// --- one image ---

int32_t CMainScreen::SaveImageWithModule(const wchar_t* path, const wchar_t*) {
    if (!path || !path[0] || !FindImageModule(LowerExtension(path).c_str())) return 0;
    CImgBuff image;
    if (!PrepareSaveImage(&image)) return 0;
    int32_t reduced = 0, grey = 0;
    const int32_t type = ChooseModulePixelType(&image, path, &reduced, &grey);
    if (!type) return 0;
    if (type != image.buffer->format) {
        if (!AskLoss(this, grey != 0, reduced != 0)) return -1;
        if (!ConvertInPlace(&image, type)) return 0;
    }
    const C_ImgBuff* b = image.buffer;
    const uint64_t bits = b->BytesPerPixel() * 8;
    if (b->width <= 0 || b->height <= 0 || !ModuleDepthAccepted(bits)) return 0;
    AtomicSave save;
    if (!save.Begin(path)) return 0;
    ImageModuleStream* stream =
        CreateModuleStream(save.TemporaryPath().c_str(), kModuleStreamStill, static_cast<uint64_t>(b->width),
                           static_cast<uint64_t>(b->height), static_cast<uint16_t>(bits), 1, 0);
    if (!stream) return 0;
    const bool written = WriteModuleFrame(stream, &image) == 1;
    if (!CloseModuleStream(stream)) {
        DiscardModuleStream(stream);
        return 0;
    }
    return written && save.Commit() ? 1 : 0;
}

int32_t CMainScreen::SaveImageBuiltIn(const wchar_t* path, const wchar_t*) {
    if (!path || !path[0]) return 0;
    CImgBuff image;
    if (!PrepareSaveImage(&image)) return 0;
    int32_t reduced = 0;
    const int32_t type = ChooseBuiltinPixelType(path, &reduced, image.buffer->format);
    if (!type) return 0;
    if (type != image.buffer->format) {
        if (reduced && !AskLoss(this, false, true)) return -1;
        if (!ConvertInPlace(&image, type)) return 0;
    }
    codec_file_info info{};
    if (!image.GetFrameInfo(&info)) return 0;
    codec_write_options options{};
    saveSettings.GetWriteOptions(&options);
    AtomicSave save;
    if (!save.Begin(path)) return 0;
    codec_file* file = codec_file_create(save.TemporaryPath().c_str(), &info, &options);
    if (!file) return 0;
    const bool written = image.WriteFrame(file) != 0;
    const bool closed = codec_file_close(file) != 0;
    return written && closed && save.Commit() ? 1 : 0;
}

void CMainScreen::SaveImage() {
    if (!HasPixels(resultImage)) {
        FgMessageBox(Text(L"画像がありません", L"there is no image"), Text(L"確認", L"confirmation"), 1, this);
        return;
    }
    wchar_t proposed[kMainPathMax + 1] = {};
    if (const wchar_t* folder = SaveStartFolder()) std::wcsncpy(proposed, folder, kMainPathMax - 1);
    const std::wstring extension = LowerExtension(proposed);
    if (extension == L"avi" || extension == L"mp4") {
        wchar_t replaced[kMainPathMax + 1];
        std::wcscpy(replaced, proposed);
        if (ReplaceExtension(replaced, kMainPathMax, saveSettings.extension)) std::wcscpy(proposed, replaced);
    }
    wchar_t name[kFgPathMax + 1] = {};
    FgSelectFileOptions options;
    options.title = Text(L"保存するファイル名を選択", L"select file name to save");
    options.startPath = proposed[0] ? proposed : nullptr;
    options.extensions = saveStillExtensions;
    if (!FgSelectFile(name, kFgPathMax + 1, &options, this) || !name[0]) return;
    if (codec_file_exists(name) &&
        FgMessageBox(Text(L"上書き保存しますか？", L"Do you want to overwrite it?"), Text(L"確認", L"confirmation"), 2,
                     this) != 1)
        return;
    const wchar_t* language = Japanese() ? L"jp" : L"en";
    LockDialogs();
    int32_t r = SaveImageWithModule(name, language);
    if (r == 0) r = SaveImageBuiltIn(name, language);
    if (r == 1) {
        FgMessageBox(Text(L"セーブしました", L"saved"), Text(L"確認", L"confirmation"), 1, this);
        if (sceneBar.sceneCount == 1) {
            if (wchar_t* copy = HeapCopy(name)) {
                delete[] lastSavePath;
                lastSavePath = copy;
            }
        }
    } else if (r == 0) {
        FgMessageBox(Text(L"セーブできませんでした (write)", L"saving failed (write)"), Text(L"エラー", L"error"), 1,
                     this);
    }
    UnlockDialogs();
}

// --- every scene ---

namespace {

// Progress of a run of scenes: the text and the bar; false once cancelled.
struct SceneProgress {
    CFgUIProgressBox* box;
    wchar_t text[64];
};

void ShowProgress(SceneProgress* p, uint64_t done, uint64_t total) {
    if (!p || !p->box) return;
    std::swprintf(p->text, 64, L"%llu/%llu", static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total));
    if (done <= static_cast<uint64_t>(p->box->bar.maximum)) p->box->bar.position = static_cast<int32_t>(done);
    p->box->Redraw();
}

}  // namespace

int32_t CMainScreen::SaveScenesWithModule(const wchar_t* path, const wchar_t*, int32_t sequence,
                                          CFgUIProgressBox* box, uint64_t last, uint64_t msPerScene) {
    if (!path || !path[0] || !FindImageModule(LowerExtension(path).c_str())) return 0;
    CImgBuff image;
    if (!PrepareSaveImage(&image)) return 0;
    int32_t reduced = 0, grey = 0;
    const int32_t type = ChooseModulePixelType(&image, path, &reduced, &grey);
    if (!type) return 0;
    if (type != image.buffer->format) {
        if (!AskLoss(this, grey != 0, reduced != 0)) return -1;
        if (!ConvertInPlace(&image, type)) return 0;
    }
    const int32_t w = image.buffer->width, h = image.buffer->height;
    const uint64_t bits = image.buffer->BytesPerPixel() * 8;
    if (w <= 0 || h <= 0 || !ModuleDepthAccepted(bits)) return 0;
    // Numbered files are written one by one; one file goes under a
    // temporary name and is renamed when complete.
    AtomicSave save;
    if (!sequence && !save.Begin(path)) return 0;
    const uint32_t mode = sequence ? kModuleStreamNumbered : msPerScene ? kModuleStreamMovie : kModuleStreamMultiFrame;
    ImageModuleStream* stream =
        CreateModuleStream(sequence ? path : save.TemporaryPath().c_str(), mode, static_cast<uint64_t>(w),
                           static_cast<uint64_t>(h), static_cast<uint16_t>(bits), last + 1, sequence ? 0 : msPerScene);
    if (!stream) return 0;
    SceneProgress progress{box, {}};
    if (box) box->message = progress.text;
    int32_t r = 1;
    for (uint64_t i = 0; i <= last; ++i) {
        SeekScene(i);
        ShowProgress(&progress, i + 1, last + 1);
        if (!PrepareSaveImage(&image) || !ConvertInPlace(&image, type) || WriteModuleFrame(stream, &image) != 1) {
            r = 0;
            break;
        }
        // A quit (the main window closed meanwhile) cancels like "中断".
        if (!FgPumpMessages() || g_QuitRequested.load() || (box && box->cancel)) {
            r = -1;
            break;
        }
    }
    if (!CloseModuleStream(stream)) {
        DiscardModuleStream(stream);
        return 0;
    }
    // A cancelled run keeps the frames written so far.
    if (!sequence && r != 0 && !save.Commit()) return 0;
    return r;
}

int32_t CMainScreen::SaveScenesBuiltIn(const wchar_t* path, const wchar_t*, int32_t sequence, CFgUIProgressBox* box,
                                       uint64_t last, uint64_t msPerScene) {
    if (!path || !path[0]) return 0;
    CImgBuff image;
    if (!PrepareSaveImage(&image)) return 0;
    int32_t reduced = 0;
    const int32_t type = ChooseBuiltinPixelType(path, &reduced, image.buffer->format);
    if (!type) return 0;
    if (type != image.buffer->format) {
        if (reduced && !AskLoss(this, false, true)) return -1;
        if (!ConvertInPlace(&image, type)) return 0;
    }
    int32_t w = image.buffer->width, h = image.buffer->height;
    // H.264 needs even sizes: an odd side loses its last row or column.
    if (!sequence && LowerExtension(path) == L"mp4") {
        w &= ~1;
        h &= ~1;
        if (w <= 0 || h <= 0 || !CropInPlace(&image, w, h)) return 0;
    }
    codec_file_info info{};
    if (!image.GetFrameInfo(&info)) return 0;
    info.kind = msPerScene && !sequence ? kCodecKindMovie : kCodecKindStill;
    info.frame_count = last + 1;
    info.frame_interval = sequence ? 0 : msPerScene * 1000;
    codec_write_options options{};
    saveSettings.GetWriteOptions(&options);
    AtomicSave save;
    codec_file* file = nullptr;
    if (sequence) {
        file = codec_sequence_create(path, &info, &options);
    } else if (save.Begin(path)) {
        file = codec_file_create(save.TemporaryPath().c_str(), &info, &options);
    }
    if (!file) return 0;
    SceneProgress progress{box, {}};
    if (box) box->message = progress.text;
    int32_t r = 1;
    for (uint64_t i = 0; i <= last; ++i) {
        sceneBar.SetPosition(i);
        ShowProgress(&progress, i + 1, last + 1);
        if (!PrepareSaveImage(&image) || !ConvertInPlace(&image, type) || !CropInPlace(&image, w, h) ||
            !image.WriteFrame(file)) {
            r = 0;
            break;
        }
        // A quit (the main window closed meanwhile) cancels like "中断".
        if (!FgPumpMessages() || g_QuitRequested.load() || (box && box->cancel)) {
            r = -1;
            break;
        }
    }
    if (!codec_file_close(file)) return 0;
    if (!sequence && r != 0 && !save.Commit()) return 0;
    return r;
}

int32_t CMainScreen::SaveScenesRun(int32_t sequence, uint64_t msPerScene, CFgUIProgressBox* box) {
    if (!HasPixels(resultImage)) {
        FgMessageBox(Text(L"画像がありません", L"there is no image"), Text(L"確認", L"confirmation"), 1, this);
        return 0;
    }
    if (sceneBar.sceneCount <= 1) {
        FgMessageBox(Text(L"動画がありません", L"there is no video"), Text(L"確認", L"confirmation"), 1, this);
        return 0;
    }
    const wchar_t* extensions = sequence ? saveStillExtensions : msPerScene ? saveMovieExtensions
                                                                             : saveMultiPageExtensions;
    wchar_t proposed[kMainPathMax + 1] = {};
    if (const wchar_t* folder = SaveStartFolder()) std::wcsncpy(proposed, folder, kMainPathMax - 1);
    const std::wstring extension = LowerExtension(proposed);
    if (sequence) {
        if (extension == L"avi") ReplaceExtension(proposed, kMainPathMax, saveSettings.extension);
    } else if (!extension.empty()) {
        ReplaceExtension(proposed, kMainPathMax, msPerScene ? L"avi" : L"tif");
    }
    wchar_t name[kFgPathMax + 2] = {};
    FgSelectFileOptions options;
    options.title = Text(L"保存するファイル名を選択", L"select file name to save");
    options.startPath = proposed[0] ? proposed : nullptr;
    options.extensions = extensions;
    if (!FgSelectFile(name, kFgPathMax + 1, &options, this) || !name[0]) return 0;
    const uint64_t count = sceneBar.sceneCount;
    // Every file the run would write is checked before the first is: a file
    // of the open document would be replaced before it is read, so the run
    // is refused; other existing files are replaced only when the user says
    // so once for all of them.
    const NumberedRun run(name);
    const bool numbered = sequence && run.valid;
    const uint64_t files = numbered ? std::min<uint64_t>(count, UINT64_MAX - run.first) : 1;
    uint64_t existing = 0;
    for (uint64_t k = 0; k < files; ++k) {
        const std::wstring n = numbered ? run.Name(k) : std::wstring(name);
        if (!codec_file_exists(n.c_str())) continue;
        if (IsOpenDocument(n.c_str()) || ComparePaths(n.c_str(), lastOpenPath) == 0) {
            FgMessageBox(Text(L"動画は自身を上書き保存する事はできません", L"Videos cannot overwrite themselves"),
                         Text(L"確認", L"confirmation"), 1, this);
            return 0;
        }
        ++existing;
    }
    if (existing) {
        wchar_t question[160];
        if (numbered)
            std::swprintf(question, 160,
                          Text(L"%llu個のファイルが既にあります。上書き保存しますか？",
                               L"%llu files already exist. Do you want to overwrite them?"),
                          static_cast<unsigned long long>(existing));
        else
            std::wcscpy(question, Text(L"上書き保存しますか？", L"Do you want to overwrite it?"));
        if (FgMessageBox(question, Text(L"確認", L"confirmation"), 2, this) != 1) return 0;
    }
    box->Open(static_cast<int32_t>(count > INT32_MAX ? INT32_MAX : count), 0, Text(L"保存中", L"saving"), nullptr,
              this);
    const wchar_t* language = Japanese() ? L"jp" : L"en";
    int32_t r = SaveScenesWithModule(name, language, sequence, box, count - 1, msPerScene);
    if (r == 0) r = SaveScenesBuiltIn(name, language, sequence, box, count - 1, msPerScene);
    box->message = nullptr;
    box->Destroy();
    if (r == -1) {
        FgMessageBox(Text(L"中止しました", L"aborted"), Text(L"確認", L"confirmation"), 1, this);
    } else if (r == 1) {
        FgMessageBox(Text(L"セーブしました", L"saved"), Text(L"確認", L"confirmation"), 1, this);
        if (wchar_t* copy = HeapCopy(name)) {
            delete[] lastSavePath;
            lastSavePath = copy;
        }
    } else {
        FgMessageBox(Text(L"セーブできませんでした", L"saving failed"), Text(L"エラー", L"error"), 1, this);
    }
    return r;
}

void CMainScreen::SaveScenes(int32_t sequence, uint64_t msPerScene) {
    // The busy lock and the progress box end on every road out.
    CFgUIProgressBox box;
    LockDialogs();
    SaveScenesRun(sequence, msPerScene, &box);
    box.message = nullptr;
    box.Destroy();
    UnlockDialogs();
}
