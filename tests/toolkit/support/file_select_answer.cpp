#include "toolkit/support/file_select_answer.h"

#include "platform/plat_messages.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

namespace kvtest {

namespace {
void ClickButton(const CFgScreen* screen, const CFgUIButton& button) {
    PlatPostTestClick(screen->window, button.x + button.width / 2, button.y + button.height / 2);
}
}  // namespace

ModalAnswers::ModalAnswers(std::vector<std::wstring> paths) : paths_(std::move(paths)) {
    previous_ = FgSetModalStartHook(&ModalAnswers::Hook, this);
}

ModalAnswers::~ModalAnswers() { FgSetModalStartHook(previous_, nullptr); }

void ModalAnswers::Hook(CFgScreen* screen, void* user) {
    auto* self = static_cast<ModalAnswers*>(user);
    if (auto* files = dynamic_cast<CFgFileSelectScreen*>(screen)) {
        self->startFolders.push_back(files->currentFolder);
        const wchar_t* name = files->nameField.GetText();
        self->startNames.push_back(name ? name : L"");
        const std::wstring path = self->next_ < self->paths_.size() ? self->paths_[self->next_++] : std::wstring();
        if (path.empty()) {
            ClickButton(files, files->cancelButton);
            return;
        }
        // A path with '/' moves the screen to its folder and leaves the name.
        files->nameField.SetLineText(0, path.c_str());
        ClickButton(files, files->okButton);
    } else if (auto* box = dynamic_cast<CMsgboxScreen*>(screen)) {
        std::wstring text;
        for (const FgTextLine& line : box->layout.lines) text += (text.empty() ? L"" : L"\n") + line.text;
        const size_t n = self->messages.size();
        self->messages.push_back(text);
        const int which = n < self->buttons.size() && box->type != 1 ? self->buttons[n] : 0;
        ClickButton(box, box->buttons[which == 1 ? 1 : 0]);
    }
}

}  // namespace kvtest
