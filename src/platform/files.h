// Folders, paths, directory listings and the conversion of wide text to the
// program's "ANSI" text (UTF-8). Paths use '/' and the root is "/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One entry of a directory listing.
struct FgDirEntry {
    wchar_t name[1024];
    int32_t isFolder;  // 0/1
};

// The folder of the program file (the directory of /proc/self/exe), without a
// trailing '/' except for the root. Set once; shared by all threads.
const wchar_t* FgGetExeDir();

// The user's Documents folder: XDG_DOCUMENTS_DIR from the environment or from
// $XDG_CONFIG_HOME/user-dirs.dirs (~/.config/user-dirs.dirs), else
// $HOME/Documents when it exists, else $HOME. The buffer belongs to the
// calling thread and holds the result until its next call.
const wchar_t* FgGetDocumentsDir();

// Appends '/' (unless the path is empty or already ends in one) and the name.
// `capacity` is the size of the path buffer in characters, terminator
// included. Returns path; null, with path unchanged, when the result would not
// fit. A null or empty name leaves the path as it is.
wchar_t* FgPathAppend(wchar_t* path, size_t capacity, const wchar_t* name);

// Cuts the path at its last '/', keeping the '/' of the root; unchanged
// without a '/'. Returns path.
wchar_t* FgPathRemoveFileSpec(wchar_t* path);

// The character after the last '/', the whole path without one, null for a
// null or empty path.
const wchar_t* FgPathFindFileName(const wchar_t* path);

// In place: drops "." components and empty ones (repeated '/'); a ".."
// removes itself and the component before it. A ".." with nothing before it
// is dropped at the root of an absolute path ("/.." is "/") and kept at the
// start of a relative one ("../a" stays). Returns path.
wchar_t* FgPathNormalize(wchar_t* path);

// < 0, 0 or > 0: the two paths after normalisation, compared case by case;
// two names of one existing file (links, a relative and an absolute name)
// compare equal. A null b gives -1, a null a (with b) 1.
int32_t ComparePaths(const wchar_t* a, const wchar_t* b);

// The entries of a folder: "." first, ".." second, then the others ordered by
// their UTF-16 code units (case-sensitive, folders and files mixed). Names
// that are not valid UTF-8 are left out. Null and count 0 when the folder
// cannot be read. When memory runs out the entries read so
// far are returned. The caller frees the array with free().
FgDirEntry* FgListDirectory(const wchar_t* folder, uint64_t* count);

// The same listing as names, for callers that keep no 4 KiB records: false,
// with no names, when the folder cannot be read.
struct FgDirName {
    std::wstring name;
    int32_t isFolder;  // 0/1
};
bool FgListDirectoryNames(const wchar_t* folder, std::vector<FgDirName>* names);

// 1 when the folder can be enumerated, else 0.
int32_t FgDirectoryExists(const wchar_t* folder);

// The text in UTF-8 on the heap (free with free()); null for null text or
// when memory runs out; a single zero byte for an empty text. Characters that
// are not Unicode scalar values become U+FFFD.
char* FgWideToAnsi(const wchar_t* text);
