// Dynamic libraries (image modules and filter plug-ins).
#pragma once

// Loads the library at an absolute path, resolving all its symbols now and
// keeping them local to it; null when the path is not absolute or the load
// fails.
void* PlatLoadLibrary(const char* path);
// Loads a system library by its bare file name (no '/'), searched for along
// the system's library path; null when the name holds a '/' or the load fails.
void* PlatLoadSystemLibrary(const char* name);
// The address of an exported symbol, or null.
void* PlatGetProcAddress(void* library, const char* name);
// The loader's text for the last failed load or look-up on this thread
// ("unknown error" when it gave none).
const char* PlatLibraryError();
// Releases a library from PlatLoadLibrary; 1 done, 0 for null or failure.
int PlatFreeLibrary(void* library);
