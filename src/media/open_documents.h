// The files and numbered sequences open for reading through the media
// facade or an image module, kept while their handles live, so that an
// output never replaces a document that is being read. Thread-safe: frames
// are also read off the user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>

// A file opened for reading by `owner` (a handle), until OpenDocumentRemove.
void OpenDocumentAdd(const void* owner, const wchar_t* path);
// A numbered sequence: the files prefix + number + suffix for every number
// from first to last, the number zero-padded to `digits` (0: plain).
void OpenDocumentAddSequence(const void* owner, const wchar_t* prefix, size_t prefixLength, const wchar_t* suffix,
                             size_t digits, uint64_t first, uint64_t last);
// Forgets everything `owner` added; nothing happens for an unknown owner.
void OpenDocumentRemove(const void* owner);
// 1 when the path names (by ComparePaths) a file of an open document.
int32_t IsOpenDocument(const wchar_t* path);
