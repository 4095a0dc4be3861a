// File selection screen: a modal screen with a folder list, a file list, a
// name field and "OK" / "キャンセル", used by every open and save command. It
// remembers the folder of the last chosen file for the next call.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/fg_button.h"
#include "toolkit/fg_dialog.h"
#include "toolkit/fg_edit.h"
#include "toolkit/fg_list.h"

// Longest path the screen hands out or keeps, in characters.
constexpr size_t kFgPathMax = 1023;

struct FgSelectFileOptions {
    const wchar_t* title = nullptr;      // null: "ファイル選択"
    const wchar_t* startPath = nullptr;  // a folder, or a file (which need not exist)
    const wchar_t* extensions = nullptr; // blank-separated, without dots; null: every file
};

// The folder of the last chosen file.
extern wchar_t g_LastFileDir[kFgPathMax + 1];

// 1 when a path was chosen: the buffer then holds it (folder, '/', name).
// A path that does not fit the buffer cannot be chosen. 0 for a size below 1,
// a cancelled screen or one that could not be created.
int32_t FgSelectFile(wchar_t* buffer, uint64_t size, const FgSelectFileOptions* options, CFgScreen* parent);
// Keeps at most 1023 characters, normalised, without a trailing '/' except
// for the root.
void FgSetLastFileDir(const wchar_t* path);

class CFgFileSelectScreen : public CFgUIDialog {
public:
    CFgFileSelectScreen();
    ~CFgFileSelectScreen() override;

    std::wstring selectedPath;
    std::wstring currentFolder;
    CFgUIEdit nameField;
    CFgUIList folderList;
    CFgUIList fileList;
    CFgUIButton okButton;
    CFgUIButton cancelButton;
    wchar_t* filter = nullptr;  // normalised extension list, or null
    volatile int32_t done = 0;
    uint32_t result = 0;
    // Longest selected path "OK" accepts: what the caller's buffer holds.
    uint64_t limit = kFgPathMax;

    // Lays out, creates the screen centred on the parent and lists the start
    // folder; 0 when the screen cannot be created.
    int32_t Open(const FgSelectFileOptions* options, uint64_t bufferSize, CFgScreen* parent);
    // Runs the modal loop until a button or the close box ends it, then
    // destroys the screen; 1 when a path was chosen.
    int32_t RunModal();

    // Lists the folder into both lists and makes it current; 0, with nothing
    // changed, when it cannot be listed.
    int32_t FillLists(const std::wstring& folder);
    // The current folder joined with the name field's text.
    void UpdateSelectedPath();
    // Whether a file name passes the extension filter.
    bool Accepts(const wchar_t* name) const;

    void ChooseFolder(int32_t item);
    void ChooseFile(int32_t item);
    // After every change of the name field's text.
    void NameChanged();
    void Ok();

    int32_t QueryClose() override;

private:
    void ShowAccessError();
};
