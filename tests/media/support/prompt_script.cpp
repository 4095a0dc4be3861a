#include "prompt_script.h"

#include <gtest/gtest.h>

#include "platform/plat_messages.h"
#include "platform/utf8.h"
#include "toolkit/fg_file_select.h"
#include "toolkit/fg_msgbox.h"

namespace kvmedia {

namespace {
void ClickButton(const CFgScreen* screen, const CFgUIButton& button) {
    PlatPostTestClick(screen->window, button.x + button.width / 2, button.y + button.height / 2);
}
std::string Narrow(const std::wstring& s) { return PlatWideToUtf8(s.c_str()); }
}  // namespace

PromptScript::PromptScript(std::vector<Prompt> prompts) : prompts_(std::move(prompts)) {
    previous_ = FgSetModalStartHook(&PromptScript::Hook, this);
}

PromptScript::~PromptScript() {
    FgSetModalStartHook(previous_, nullptr);
    for (size_t i = next_; i < prompts_.size(); ++i)
        ADD_FAILURE() << "prompt never shown: " << Narrow(prompts_[i].text);
}

void PromptScript::Hook(CFgScreen* screen, void* user) {
    auto* self = static_cast<PromptScript*>(user);
    const Prompt* expected = self->next_ < self->prompts_.size() ? &self->prompts_[self->next_] : nullptr;
    if (auto* files = dynamic_cast<CFgFileSelectScreen*>(screen)) {
        if (!expected || !expected->fileSelection) {
            ADD_FAILURE() << "unexpected file selection screen";
            ClickButton(files, files->cancelButton);
            return;
        }
        ++self->next_;
        if (expected->text.empty()) {
            ClickButton(files, files->cancelButton);
            return;
        }
        files->nameField.SetLineText(0, expected->text.c_str());
        ClickButton(files, files->okButton);
    } else if (auto* box = dynamic_cast<CMsgboxScreen*>(screen)) {
        std::wstring text;
        for (const FgTextLine& line : box->layout.lines) text += (text.empty() ? L"" : L"\n") + line.text;
        if (!expected || expected->fileSelection) {
            ADD_FAILURE() << "unexpected message box: " << Narrow(text);
            ClickButton(box, box->buttons[0]);
            return;
        }
        ++self->next_;
        EXPECT_EQ(Narrow(text), Narrow(expected->text));
        EXPECT_EQ(Narrow(box->title), Narrow(expected->title));
        EXPECT_EQ(box->type, expected->type) << Narrow(text);
        ClickButton(box, box->buttons[expected->button < box->ButtonCount() ? expected->button : 0]);
    }
}

}  // namespace kvmedia
