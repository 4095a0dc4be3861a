// Opening documents: a still, a multi-frame file or movie, a numbered
// sequence, or an image handed over by a filter; the scene bar's showing and
// hiding, the remembered folders, the MP4 frame check's progress box and the
// image information message.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "app/main_screen.h"
#include "filters/core/textconv.h"
#include "media/codec.h"
#include "media/frame_glue.h"
#include "media/image_module.h"
#include "platform/files.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_msgbox.h"
#include "toolkit/fg_progress_box.h"

namespace {

wchar_t* HeapCopy(const wchar_t* text) {
    const size_t n = std::wcslen(text);
    wchar_t* copy = new (std::nothrow) wchar_t[n + 1];
    if (copy) std::wmemcpy(copy, text, n + 1);
    return copy;
}

void CopyPath(wchar_t* to, const wchar_t* from) {
    std::wcsncpy(to, from ? from : L"", kMainPathMax - 1);
    to[kMainPathMax - 1] = 0;
}

// Tells which file did not open and why, so that a failed open is never
// taken for an empty picture. reason: kCodecOpenUnreadable, Unsupported or
// Damaged (anything else reads as damaged).
void ShowOpenFailure(CMainScreen* screen, const wchar_t* path, uint32_t reason) {
    const wchar_t* why;
    if (reason == kCodecOpenUnreadable)
        why = screen->Text(L"ファイルを読み込めません", L"The file cannot be read");
    else if (reason == kCodecOpenUnsupported)
        why = screen->Text(L"対応していない種類のファイルです", L"This kind of file is not supported");
    else
        why = screen->Text(L"ファイルが壊れています", L"The file is damaged");
    std::wstring text = why;
    text += L"\n";
    text += path ? path : L"";
    FgMessageBox(text.c_str(), screen->Text(L"エラー", L"error"), 1, screen);
}

// The reason a file that an image module claims did not open.
uint32_t ModuleFailureReason(const wchar_t* path) {
    return codec_file_exists(path) ? kCodecOpenDamaged : kCodecOpenUnreadable;
}

// True when the path's extension is one an image module claims.
bool ModuleClaims(const wchar_t* path) {
    const wchar_t* extension = g_ImageModules && path ? FindExtension(path) : nullptr;
    return extension && FindImageModule(extension + 1);
}

uint64_t FrameBytesPerPixel(const codec_file* file) {
    if (!file || file->info.bytes_per_pixel > 12) return 0;
    return SourceBytesPerPixel(g_FramePixelFormat[file->info.bytes_per_pixel]);
}

}  // namespace

const wchar_t* CMainScreen::OpenStartFolder() const {
    switch (saveSettings.pathPolicy) {
        case 0: return lastOpenPath;
        case 1: return lastOpenPath ? lastOpenPath : lastSavePath;
        default: return lastSavePath ? lastSavePath : lastOpenPath;
    }
}

const wchar_t* CMainScreen::SaveStartFolder() const {
    switch (saveSettings.pathPolicy) {
        case 0: return lastSavePath;
        case 1: return lastOpenPath ? lastOpenPath : lastSavePath;
        default: return lastSavePath ? lastSavePath : lastOpenPath;
    }
}

void CMainScreen::OpenFile(const wchar_t* path) {
    wchar_t name[kFgPathMax + 1] = {};
    if (!path) {
        FgSelectFileOptions options;
        options.title = Text(L"ファイルを選択", L"select file");
        options.startPath = OpenStartFolder();
        options.extensions = openExtensions;
        if (!FgSelectFile(name, kFgPathMax + 1, &options, this)) return;
    } else {
        std::wcsncpy(name, path, kFgPathMax);
    }
    if (!name[0]) return;

    CloseDocument();
    {
        CriticalSectionLock hold(sidePanel.lock);
        sourceImage.FreePixels();
    }
    currentFrame = 0;
    movieMsPerFrame = 0;
    LockDialogs();

    uint64_t width = 0, height = 0, frames = 0;
    bool opened = false;
    uint32_t failure = kCodecOpenOk;
    if (mp4Progress_) mp4Progress_->cancel = 0;
    if (OpenWithModule(name, &width, &height, &frames)) {
        RememberOpenPath(name);
        opened = true;
    } else if (codec_file* file = codec_file_open(name, &CMainScreen::OnMp4FrameCheck, this)) {
        width = file->info.width;
        height = file->info.height;
        if (file->info.frame_count > 1) {
            movieFile = file;
            playEdit.ResetRange(file->info.frame_count);
            ShowSceneBar(file->info.frame_count);
            const uint64_t ms = file->info.frame_interval / 1000;
            // A rate beyond any settable interval is the file's damage, not a rate.
            if (ms != 0 && ms <= kMaxMsPerFrame) {
                movieMsPerFrame = ms;
                if (useMovieRate) {
                    msPerFrame = ms;
                    sceneBar.msPerScene = ms;
                    sceneBar.frameSkip = frameSkip != 0;
                }
            }
            RememberOpenPath(name);
            opened = true;
        } else {
            CImgBuff frame;
            const bool read = frame.ReadFrame(file, 0) != 0;
            codec_file_close(file);
            HideSceneBar(1);
            if (read) {
                CriticalSectionLock hold(sidePanel.lock);
                sourceImage.buffer->TakePixels(frame.buffer);
            }
            if (read) {
                RememberOpenPath(name);
                opened = true;
            } else {
                failure = kCodecOpenDamaged;
            }
        }
    } else {
        // A frame scan stopped with the progress box's cancel is no failure
        // to report.
        failure = codec_last_open_error();
        // A file of an extension the facade does not know is the module's.
        if (failure == kCodecOpenUnsupported && ModuleClaims(name)) failure = ModuleFailureReason(name);
        if (failure == kCodecOpenOk) failure = kCodecOpenDamaged;
        if (mp4Progress_ && mp4Progress_->cancel) failure = kCodecOpenOk;
    }
    wchar_t failedName[kFgPathMax + 1] = {};
    if (!opened) {
        std::wcscpy(failedName, name);
        HideSceneBar(1);
        delete[] lastOpenPath;
        delete[] lastSavePath;
        lastOpenPath = lastSavePath = nullptr;
        name[0] = 0;
        width = height = 0;
    }
    CopyPath(documentPath, name);
    if (movieFile) {
        CImgBuff frame;
        const bool read = frame.ReadFrame(movieFile, 0) != 0;
        CriticalSectionLock hold(sidePanel.lock);
        if (read)
            sourceImage.buffer->TakePixels(frame.buffer);
        else
            sourceImage.FreePixels();
    }
    if (!movieFile && !moduleStream)
        stillImage.CopyFrom(&sourceImage);
    else
        stillImage.FreePixels();
    restoreStill = 0;
    roll = 0;
    SetSourceFormat(width, height, SourceBytesPerPixel(sourceImage.buffer ? sourceImage.buffer->format : 0),
                    sceneBar.sceneCount);
    sidePanel.Layout();
    LoadFrame(1);
    UnlockDialogs();
    UpdateTitle();
    if (!opened && failure != kCodecOpenOk) ShowOpenFailure(this, failedName, failure);
}

void CMainScreen::OpenSequence() {
    wchar_t first[kFgPathMax + 1] = {};
    wchar_t last[kFgPathMax + 1] = {};
    FgSelectFileOptions options;
    options.title = Text(L"最初の連番ファイルを選択", L"select the first sequential number file");
    options.startPath = OpenStartFolder();
    options.extensions = stillExtensions;
    if (!FgSelectFile(first, kFgPathMax + 1, &options, this) || !first[0]) return;
    options.title = Text(L"最後の連番ファイルを選択", L"Select the last sequential number file");
    options.startPath = first;
    if (!FgSelectFile(last, kFgPathMax + 1, &options, this)) return;
    OpenSequenceFiles(first, last);
}

void CMainScreen::OpenSequenceFiles(const wchar_t* first, const wchar_t* last) {
    if (!first || !first[0]) return;
    CloseDocument();
    {
        CriticalSectionLock hold(sidePanel.lock);
        sourceImage.FreePixels();
    }
    currentFrame = 0;
    uint64_t width = 0, height = 0, frames = 0, bytesPerPixel = 0;
    uint32_t failure = kCodecOpenOk;
    const wchar_t* extension = FindExtension(first);
    ImageModule* module = g_ImageModules && extension ? FindImageModule(extension + 1) : nullptr;
    if (module) {
        auto* stream = static_cast<ImageModuleStream*>(std::calloc(1, sizeof(ImageModuleStream)));
        if (stream) {
            stream->module = module;
            const int32_t opened =
                last && last[0] ? OpenModuleSequence(stream, first, last) : OpenModuleStream(stream, first);
            if (!opened) {
                DiscardModuleStream(stream);
                stream = nullptr;
            } else if (stream->frames < 2) {
                if (!CloseModuleStream(stream)) DiscardModuleStream(stream);
                OpenFile(first);
                return;
            }
        }
        if (stream) {
            moduleStream = stream;
            UseModuleRate(stream);
            width = stream->width;
            height = stream->height;
            frames = stream->frames;
            bytesPerPixel = SourceBytesPerPixel(ImageModuleFormatOfBits(stream->bits));
        } else {
            HideSceneBar(1);
            failure = ModuleFailureReason(first);
        }
    } else if (codec_file* file = codec_sequence_open(first, last ? last : L"")) {
        if (file->info.frame_count < 2) {
            codec_file_close(file);
            OpenFile(first);
            return;
        }
        movieFile = file;
        playEdit.ResetRange(file->info.frame_count);
        width = file->info.width;
        height = file->info.height;
        frames = file->info.frame_count;
        // The chain is told the frames' real depth (the source is still empty here).
        bytesPerPixel = FrameBytesPerPixel(file);
    } else {
        HideSceneBar(1);
        failure = codec_last_open_error();
        if (failure == kCodecOpenOk) failure = kCodecOpenDamaged;
    }
    stillImage.FreePixels();
    restoreStill = 0;
    roll = 0;
    if (!moduleStream) movieMsPerFrame = 0;
    // The title names only a document that is open.
    CopyPath(documentPath, failure == kCodecOpenOk ? first : L"");
    ShowSceneBar(frames);
    RememberOpenPath(first);
    SetSourceFormat(width, height, bytesPerPixel, sceneBar.sceneCount);
    sidePanel.Layout();
    LoadFrame(1);
    UpdateTitle();
    if (failure != kCodecOpenOk) ShowOpenFailure(this, first, failure);
}

void CMainScreen::UseModuleRate(const ImageModuleStream* stream) {
    // A module may report any 64-bit time; one beyond any settable interval
    // would stall playing and overflow the movie writer's microseconds.
    if (!stream->time || stream->time > kMaxMsPerFrame) return;
    movieMsPerFrame = stream->time;
    if (useMovieRate) {
        msPerFrame = stream->time;
        sceneBar.msPerScene = stream->time;
        sceneBar.frameSkip = frameSkip != 0;
    }
}

int32_t CMainScreen::OpenWithModule(const wchar_t* path, uint64_t* width, uint64_t* height, uint64_t* frames) {
    if (!g_ImageModules || !path || !path[0] || !width || !height || !frames) return 0;
    const wchar_t* extension = FindExtension(path);
    ImageModule* module = extension ? FindImageModule(extension + 1) : nullptr;
    if (!module) return 0;
    auto* stream = static_cast<ImageModuleStream*>(std::calloc(1, sizeof(ImageModuleStream)));
    if (!stream) return 0;
    stream->module = module;
    if (!OpenModuleStream(stream, path)) {
        DiscardModuleStream(stream);
        return 0;
    }
    *width = stream->width;
    *height = stream->height;
    *frames = stream->frames;
    if (stream->frames < 2) {
        CImgBuff frame;
        const int32_t read = ReadModuleFrame(stream, &frame, 0);
        if (!CloseModuleStream(stream)) DiscardModuleStream(stream);
        HideSceneBar(1);
        if (read) {
            CriticalSectionLock hold(sidePanel.lock);
            sourceImage.buffer->TakePixels(frame.buffer);
        }
        return read;
    }
    moduleStream = stream;
    UseModuleRate(stream);
    ShowSceneBar(stream->frames);
    return 1;
}

void CMainScreen::SetDocumentImage(CImgBuff* image) {
    CloseDocument();
    currentFrame = 0;
    movieMsPerFrame = 0;
    {
        CriticalSectionLock hold(sidePanel.lock);
        sourceImage.FreePixels();
        if (image) sourceImage.CopyFrom(image);
    }
    stillImage.CopyFrom(&sourceImage);
    restoreStill = 0;
    roll = 0;
    if (sceneBarShown) HideSceneBar(0);
    sceneBar.sceneCount = 1;
    sceneBar.position = 0;
    sceneBar.UpdateThumb();
    const C_ImgBuff* b = sourceImage.buffer;
    SetSourceFormat(b ? static_cast<uint64_t>(b->width) : 0, b ? static_cast<uint64_t>(b->height) : 0,
                    SourceBytesPerPixel(b ? b->format : 0), 1);
    sidePanel.Layout();
    documentPath[0] = 0;
    LoadFrame(1);
    UpdateTitle();
}

int32_t CMainScreen::ReplaceDocumentImage(CImgBuff* image, int32_t* done) {
    if (done) *done = 1;
    const C_ImgBuff* b = sourceImage.buffer;
    const uint64_t oldW = b ? static_cast<uint64_t>(b->width) : 0, oldH = b ? static_cast<uint64_t>(b->height) : 0;
    const uint64_t oldBpp = SourceBytesPerPixel(b ? b->format : 0);
    {
        CriticalSectionLock hold(sidePanel.lock);
        if (image) sourceImage.CopyFrom(image);
    }
    stillImage.CopyFrom(&sourceImage);
    restoreStill = 0;
    roll = 0;
    b = sourceImage.buffer;
    const uint64_t w = b ? static_cast<uint64_t>(b->width) : 0, h = b ? static_cast<uint64_t>(b->height) : 0;
    const uint64_t bpp = SourceBytesPerPixel(b ? b->format : 0);
    if (w != oldW || h != oldH || bpp != oldBpp) SetSourceFormat(w, h, bpp, 1);
    LoadFrame(1);
    return 1;
}

void CMainScreen::ShowSceneBar(uint64_t count) {
    if (count != 0) {
        sceneBar.sceneCount = count;
        sceneBar.position = 0;
        sceneBar.UpdateThumb();
    } else if (!movieFile && !moduleStream) {
        return;
    }
    if (!sceneBarShown) {
        sceneBarShown = 1;
        Layout();
        sceneBar.SetVisible(1, 0);
        sceneBar.listener = this;
    }
}

void CMainScreen::HideSceneBar(int32_t resetCount) {
    if (sceneBarShown) {
        sceneBar.SetVisible(0, 0);
        sceneBarShown = 0;
        Layout();
    }
    if (resetCount) {
        sceneBar.sceneCount = 1;
        sceneBar.position = 0;
        sceneBar.UpdateThumb();
    }
}

void CMainScreen::RememberOpenPath(const wchar_t* path) {
    if (!path || !path[0]) {
        delete[] lastOpenPath;
        lastOpenPath = nullptr;
        return;
    }
    if (wchar_t* copy = HeapCopy(path)) {
        delete[] lastOpenPath;
        lastOpenPath = copy;
    }
    if (saveSettings.pathPolicy != 0) {
        if (wchar_t* copy = HeapCopy(path)) {
            delete[] lastSavePath;
            lastSavePath = copy;
        }
    }
}

void CMainScreen::ShowInfo() {
    if (!sourceImage.buffer || !sourceImage.buffer->pixels) {
        FgMessageBox(Text(L"画像を開いていません", L"image is not open"), Text(L"確認", L"confirmation"), 1, this);
        return;
    }
    long width, height;
    int32_t format;
    {
        CriticalSectionLock hold(sidePanel.lock);
        width = resultImage.buffer ? resultImage.buffer->width : 0;
        height = resultImage.buffer ? resultImage.buffer->height : 0;
        format = resultImage.buffer ? resultImage.buffer->format : 0;
    }
    static const wchar_t* const kEnglish[10] = {L"null",        L"8bit grayscale", L"16bit grayscale",
                                                L"32bit grayscale", L"24bit color", L"48bit color",
                                                L"96bit color", L"XYZ color",      L"48bit color (HSV)",
                                                L"32bit color (CMYK)"};
    static const wchar_t* const kJapanese[10] = {L"空",           L"8bitグレースケール", L"16bitグレースケール",
                                                 L"32bitグレースケール", L"24bitカラー",   L"48bitカラー",
                                                 L"96bitカラー",  L"XYZカラー",          L"48bitカラー(HSV)",
                                                 L"32bitカラー(CMYK)"};
    const bool jp = Japanese();
    const wchar_t* formatName =
        format >= 0 && format <= 9 ? (jp ? kJapanese : kEnglish)[format] : (jp ? L"不明な形式" : L"unknown");
    wchar_t text[256];
    if (movieMsPerFrame != 0)
        std::swprintf(text, 256, jp ? L"幅:%ld 高:%ld %ls %llufps" : L"W:%ld H:%ld %ls %llufps", width, height,
                      formatName, static_cast<unsigned long long>(1000 / movieMsPerFrame));
    else
        std::swprintf(text, 256, jp ? L"幅:%ld 高:%ld %ls" : L"W:%ld H:%ld %ls", width, height, formatName);
    FgMessageBox(text, Text(L"画像情報", L"info"), 1, this);
}

int32_t CMainScreen::OnMp4FrameCheck(uint64_t done, uint64_t total, int32_t phase, void* context) {
    CMainScreen* self = static_cast<CMainScreen*>(context);
    if (!self) return 1;
    if (!self->mp4Progress_) self->mp4Progress_ = new (std::nothrow) CFgUIProgressBox;
    CFgUIProgressBox* box = self->mp4Progress_;
    if (!box) return 1;
    if (phase == 1) {
        self->mp4ProgressText_[0] = 0;
        box->cancel = 0;
        box->Open(static_cast<int32_t>(total > INT32_MAX ? INT32_MAX : total), 0, L"check mp4 frames",
                  self->mp4ProgressText_, self);
    } else if (phase == 2) {
        box->Destroy();
    } else if (phase == 0) {
        FgPumpMessages();
        FgPumpMessages();
        if (box->cancel) return 0;
        std::swprintf(self->mp4ProgressText_, 64, L"pass %llu/%llu", static_cast<unsigned long long>(done),
                      static_cast<unsigned long long>(total));
        if (done <= static_cast<uint64_t>(box->bar.maximum)) box->bar.position = static_cast<int32_t>(done);
        box->Redraw();
    }
    return 1;
}
