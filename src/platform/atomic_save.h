// Files replaced whole: the new content is written to a temporary file in
// the target's folder, whose name keeps the target's extension (so writers
// that choose by extension choose the same), and renamed over the target
// only once every write, the flush and the close succeeded. A failure
// removes the temporary and leaves an existing target as it was.
//
// A target that is a symbolic link is replaced through the link: the file
// it names gets the new content and the link stays. A target that exists and
// is no regular file (a device, a pipe) has no bytes to keep and must never
// be replaced by a file: it is written directly. A replaced file keeps its
// permission bits.
#pragma once

#include <cstdint>
#include <string>

class AtomicSave {
public:
    AtomicSave() = default;
    // Removes a temporary that was not committed.
    ~AtomicSave();
    AtomicSave(const AtomicSave&) = delete;
    AtomicSave& operator=(const AtomicSave&) = delete;

    // Makes the (empty) temporary beside `target`; 0 when it cannot be made.
    int32_t Begin(const wchar_t* target);
    // The same for a UTF-8 path.
    int32_t BeginUtf8(const std::string& target);
    // The temporary's path, to write to.
    const std::wstring& TemporaryPath() const { return temporaryWide_; }
    const std::string& TemporaryPathUtf8() const { return temporary_; }
    // Renames the temporary over the target; 0 (temporary removed) when that
    // fails or the test hook refuses.
    int32_t Commit();
    // Removes the temporary.
    void Abort();

private:
    std::string target_;
    std::string temporary_;
    std::wstring temporaryWide_;
    bool direct_ = false;  // the target itself is written (no regular file)
};

// Test seam: called with the temporary's path just before the rename; a 0
// answer fails the save (the hook may damage the temporary first). Null in
// the program; the previous hook is returned.
using AtomicSaveHook = int32_t (*)(const char* temporaryPath, void* user);
AtomicSaveHook AtomicSaveSetTestHook(AtomicSaveHook hook, void* user);
