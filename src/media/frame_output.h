// Image and video output helpers: loading one image from any readable file,
// saving one image in a pixel format its target can hold, the questions
// asked before saving, and runs of frames written to a movie, a multi-frame
// file or numbered image files. Messages are shown in a toolkit message box,
// in Japanese for the language text "jp" and in English otherwise. All of it
// runs on the user-interface thread.
#pragma once

#include <cstdint>

#include "media/codec.h"

class CImgBuff;
class CFgScreen;
struct ImageModuleStream;

struct FrameOutputFiles;

// One run of frames being written (calloc), ended by CloseFrameOutput or
// AbortFrameOutput. Every file is written under a temporary name beside its
// target and renamed over it only when the whole run closes well, so a
// failed or abandoned run leaves the old files as they were.
struct FrameOutput {
    codec_file* file;             // built-in format, else null
    codec_file_info info;         // image count 1, frames, bytes per pixel, size, interval (us)
    ImageModuleStream* stream;    // image module, else null
    wchar_t nameFormat[1024];     // numbered files: folder, stem, one %llu field, '.', extension
    uint64_t firstNumber;
    uint64_t nextNumber;
    FrameOutputFiles* files;      // the temporaries and their targets
    int32_t failed;               // a frame failed to be written: the close keeps the old files
};

// File selection filters: readable images, and everything frames can be
// saved as (built-in formats, then the modules' movie, multi-frame and
// still extensions). Valid until the modules are loaded or unloaded again.
const wchar_t* GetImageExtensionList();
const wchar_t* GetWritableExtensionList();
// 1 for a movie ("avi", "mp4", the modules' movie extensions) or a
// multi-frame extension ("tif", "tiff", the modules' multi-frame ones);
// the extension has no full stop and is compared without ASCII case.
int32_t IsMovieExtension(const wchar_t* extension);
int32_t IsMultiFrameExtension(const wchar_t* extension);

// Pixel format (1-7) to save the image in through the module claiming the
// path, or 0; `reduced` marks a loss of depth, `grey` a colour image made grey.
int32_t ChooseModulePixelType(const CImgBuff* image, const wchar_t* path, int32_t* reduced, int32_t* grey);
// Pixel format for a built-in still format by the path's extension, or 0.
int32_t ChooseBuiltinPixelType(const wchar_t* path, int32_t* reduced, int32_t format);

// Frame 0 of the file (module first, else the built-in codecs); with a
// language, failure shows "loading failed".
int32_t LoadImageFile(CImgBuff* image, const wchar_t* path, const wchar_t* language, CFgScreen* parent);
// Saves in the format the target holds (module first, else built-in),
// replacing the target only once the new file is complete; a file of an
// open document is refused. With a language, shows "saved" or "saving failed".
int32_t SaveImageFile(const CImgBuff* image, const wchar_t* path, const wchar_t* language, CFgScreen* parent);
// The questions before saving: 1 go on, -1 the user declined, 0 refused.
int32_t ConfirmSaveImage(const CImgBuff* image, const wchar_t* path, const wchar_t* language, CFgScreen* parent);

// Asks for a file and opens the output for `frames` frames like `image`:
// a movie, a multi-frame file or numbered files by the extension. Null with
// *cancelled set when the user cancelled, null without it on failure; a
// file of an open document is refused with a notice.
// `ignored` is not used; `title` is the file selection screen's title.
FrameOutput* SaveFramesAs(const CImgBuff* image, uint64_t frames, const wchar_t* language, const wchar_t* ignored,
                          const wchar_t* title, const codec_write_options* options, CFgScreen* parent,
                          int32_t* cancelled);
// A movie (interval in microseconds, 0 for 33333) or multi-frame output;
// null for a file of an open document.
FrameOutput* OpenFrameOutput(const CImgBuff* image, uint64_t frames, const wchar_t* path, uint64_t interval,
                             const codec_write_options* options);
FrameOutput* OpenNumberedOutput(const CImgBuff* image, uint64_t frames, const wchar_t* nameFormat,
                                uint64_t firstNumber);
// The numbered-files name format of a path ("/out/shot0007.png" gives
// "/out/shot%04llu.png" and 7); 0 for a path without a folder, an empty
// extension, a field wider than 19 digits or a number beyond 64 bits. A stem
// of digits only is all number. `ignored` is not used.
int32_t BuildOutputNameFormat(const wchar_t* path, wchar_t* nameFormat, uint64_t ignored, uint64_t* firstNumber);
// Writes an image of the output's size and pixel size as the next frame
// (an image of another size is refused and nothing is written). Numbered
// files of an open document are refused.
int32_t WriteOutputFrame(FrameOutput* output, const CImgBuff* image);
// Closes the module stream and the media file, puts every file of the run
// in place of its target and frees the record; 0, with every target left
// as it was, when a frame failed or the files could not be completed.
int32_t CloseFrameOutput(FrameOutput* output);
// Ends a run that is given up (cancelled): its files are removed, the
// targets left as they were, and the record freed.
void AbortFrameOutput(FrameOutput* output);
