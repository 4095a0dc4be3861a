#include "toolkit/fg_file_select.h"

#include <cstdlib>
#include <cwchar>

#include "platform/files.h"
#include "toolkit/fg_loop.h"
#include "toolkit/fg_msgbox.h"

wchar_t g_LastFileDir[kFgPathMax + 1] = {};

namespace {

const wchar_t kTitle[] = L"ファイル選択";
const wchar_t kAccessError[] = L"アクセスできません";

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    if (name.empty()) return folder;
    if (folder.empty()) return name;
    return folder.back() == L'/' ? folder + name : folder + L'/' + name;
}

std::wstring Normalized(std::wstring path) {
    FgPathNormalize(path.data());
    path.resize(std::wcslen(path.c_str()));
    return path;
}

// The folder part of a path: up to its last '/', the root keeping its '/'.
std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.rfind(L'/');
    if (slash == std::wstring::npos) return std::wstring();
    return slash == 0 ? std::wstring(L"/") : path.substr(0, slash);
}

void OnFolderChosen(CFgUIList*, void* data, int32_t item) { static_cast<CFgFileSelectScreen*>(data)->ChooseFolder(item); }
void OnFileChosen(CFgUIList*, void* data, int32_t item) { static_cast<CFgFileSelectScreen*>(data)->ChooseFile(item); }
void OnNameChanged(CFgUIEdit*, void* data) { static_cast<CFgFileSelectScreen*>(data)->NameChanged(); }
void OnOk(CFgUIButton*, void* data) { static_cast<CFgFileSelectScreen*>(data)->Ok(); }
void OnCancel(CFgUIButton*, void* data) { static_cast<CFgFileSelectScreen*>(data)->done = 1; }

}  // namespace

void FgSetLastFileDir(const wchar_t* path) {
    std::wstring value = path ? path : L"";
    if (value.size() > kFgPathMax) value.resize(kFgPathMax);
    value = Normalized(value);  // also drops a trailing '/' other than the root
    std::wmemcpy(g_LastFileDir, value.c_str(), value.size() + 1);
}

CFgFileSelectScreen::CFgFileSelectScreen() {
    folderList.SetRect(16, 16, 226, 130);
    fileList.SetRect(250, 16, 226, 130);
    nameField.SetRect(16, 154, 460, 20);
    okButton.SetRect(16, 182, 226, 32);
    cancelButton.SetRect(250, 182, 226, 32);
    okButton.SetLabel(L"OK");
    cancelButton.SetLabel(L"キャンセル");
    folderList.callback = OnFolderChosen;
    fileList.callback = OnFileChosen;
    okButton.callback = OnOk;
    cancelButton.callback = OnCancel;
    folderList.data = fileList.data = nameField.data = okButton.data = cancelButton.data = this;
    AddChild(&folderList);
    AddChild(&fileList);
    AddChild(&nameField);
    AddChild(&okButton);
    AddChild(&cancelButton);
}

CFgFileSelectScreen::~CFgFileSelectScreen() { std::free(filter); }

bool CFgFileSelectScreen::Accepts(const wchar_t* name) const {
    if (!filter) return true;
    const wchar_t* dot = std::wcsrchr(name, L'.');
    return dot && WordListContains(filter, dot + 1);
}

int32_t CFgFileSelectScreen::FillLists(const std::wstring& folder) {
    if (folder.empty() || folder.size() > kFgPathMax) return 0;
    std::vector<FgDirName> names;
    if (!FgListDirectoryNames(folder.c_str(), &names) || names.empty()) return 0;
    // The lists are filled without a repaint per item and drawn once.
    folderList.RemoveAllItems(0, 0);
    fileList.RemoveAllItems(0, 0);
    for (size_t i = 0; i < names.size(); ++i) {
        const FgDirName& entry = names[i];
        if (entry.isFolder)
            folderList.InsertItem(-1, entry.name.c_str(), static_cast<uint32_t>(i), 0);
        else if (Accepts(entry.name.c_str()))
            fileList.InsertItem(-1, entry.name.c_str(), static_cast<uint32_t>(i), 0);
    }
    currentFolder = folder;
    UpdateSelectedPath();
    Redraw();
    return 1;
}

void CFgFileSelectScreen::UpdateSelectedPath() {
    const wchar_t* name = nameField.GetText();
    selectedPath = Join(currentFolder, name ? name : L"");
}

int32_t CFgFileSelectScreen::Open(const FgSelectFileOptions* options, uint64_t bufferSize, CFgScreen* parentScreen) {
    const wchar_t* title = options && options->title ? options->title : kTitle;
    std::free(filter);
    filter = options ? NormalizeWordList(options->extensions) : nullptr;
    limit = std::min<uint64_t>(kFgPathMax, bufferSize - 1);
    std::wstring start;
    if (options && options->startPath && options->startPath[0])
        start = options->startPath;
    else
        start = g_LastFileDir;
    if (start.size() > kFgPathMax) start.resize(kFgPathMax);
    const std::wstring documents = FgGetDocumentsDir();
    std::wstring folder = documents;
    if (!start.empty()) {
        if (FgDirectoryExists(start.c_str())) {
            folder = Normalized(start);
        } else {
            // A file, which need not exist: its folder opens with its name in the field.
            selectedPath = start;
            const wchar_t* name = FgPathFindFileName(start.c_str());
            nameField.SetLineText(0, name ? name : L"");
            const std::wstring parentFolder = FolderOf(start);
            if (!parentFolder.empty()) folder = Normalized(parentFolder);
        }
    }
    nameField.changed = OnNameChanged;
    // Lists and focus are set up before the window exists, so that creating
    // it draws the first frame once, complete. A start folder that cannot be
    // listed falls back on Documents, then the root.
    if (!FillLists(folder) && !FillLists(documents)) FillLists(L"/");
    SetFocus(&nameField);
    if (!Create(-1, -1, 492, 230, title, kFgStyleFixed, parentScreen)) return 0;
    // The new window's composition point goes to the field's caret.
    nameField.OnSetFocus();
    return 1;
}

int32_t CFgFileSelectScreen::RunModal() {
    FgRunModalLoop(&done, this);
    Destroy();
    return done && result ? 1 : 0;
}

void CFgFileSelectScreen::ShowAccessError() { FgMessageBox(kAccessError, kTitle, 1, this); }

void CFgFileSelectScreen::ChooseFolder(int32_t item) {
    if (item < 0 || item >= folderList.Count()) return;
    const std::wstring folder = Normalized(Join(currentFolder, folderList.items[static_cast<size_t>(item)].text));
    // On failure the lists and the current folder stay as they were.
    if (!FillLists(folder.empty() ? std::wstring(L"/") : folder)) ShowAccessError();
}

void CFgFileSelectScreen::ChooseFile(int32_t item) {
    if (item < 0 || item >= fileList.Count()) return;
    const std::wstring name = fileList.items[static_cast<size_t>(item)].text;
    nameField.Clear();
    nameField.SetLineText(0, name.c_str());
    UpdateSelectedPath();
    // The list repainted before it told us of the click: the field's new
    // name must be shown, as it is the one OK takes.
    Redraw();
}

void CFgFileSelectScreen::NameChanged() {
    const wchar_t* value = nameField.GetText();
    const std::wstring text = value ? value : L"";
    const size_t slash = text.rfind(L'/');
    if (slash == std::wstring::npos) {
        UpdateSelectedPath();
        return;
    }
    // A path: absolute, or relative to the current folder.
    auto resolve = [&](const std::wstring& part) {
        const std::wstring path = part.empty() || part[0] != L'/' ? Join(currentFolder, part) : part;
        const std::wstring normal = Normalized(path);
        return normal.empty() ? std::wstring(L"/") : normal;
    };
    const std::wstring previousSelected = selectedPath;
    // A folder becomes current and the field keeps what follows the last
    // '/': nothing.
    const std::wstring whole = resolve(text);
    if (FgDirectoryExists(whole.c_str()) && FillLists(whole)) {
        nameField.SetLineText(0, L"");
        UpdateSelectedPath();
        return;
    }
    const std::wstring folder = slash == 0 ? std::wstring(L"/") : resolve(text.substr(0, slash));
    if (FillLists(folder)) {
        nameField.SetLineText(0, text.c_str() + slash + 1);
        UpdateSelectedPath();
        return;
    }
    selectedPath = previousSelected;
    ShowAccessError();
}

void CFgFileSelectScreen::Ok() {
    const wchar_t* name = nameField.GetText();
    // Nothing happens without a name or when the path would not fit.
    if (!name || !name[0] || selectedPath.size() > limit) return;
    result = 1;
    done = 1;
}

int32_t CFgFileSelectScreen::QueryClose() {
    result = 0;
    done = 1;
    return 1;
}

int32_t FgSelectFile(wchar_t* buffer, uint64_t size, const FgSelectFileOptions* options, CFgScreen* parent) {
    if (!buffer || size < 1) return 0;
    CFgFileSelectScreen screen;
    if (!screen.Open(options, size, parent)) return 0;
    if (!screen.RunModal()) return 0;
    const std::wstring& path = screen.selectedPath;
    std::wmemcpy(buffer, path.c_str(), path.size() + 1);
    FgSetLastFileDir(FolderOf(path).c_str());
    return 1;
}
