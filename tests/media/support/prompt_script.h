// Answers the prompts a test expects, through the toolkit's modal-start
// hook: each message box must match the next expected one (text, title and
// box type) and is answered by clicking the given button; each file
// selection screen must be expected and gets a path typed and confirmed
// (an empty path cancels). An unexpected prompt fails the test (and is
// answered with its first button); an unused one fails it when the script
// is destroyed.
#pragma once

#include <string>
#include <vector>

#include "toolkit/fg_loop.h"

namespace kvmedia {

struct Prompt {
    bool fileSelection;
    std::wstring text;   // message box text, or the path to choose
    std::wstring title;  // message box title
    int type;            // message box type
    int button;          // index of the button clicked
};

inline Prompt Box(const std::wstring& text, const std::wstring& title, int type, int button = 0) {
    return {false, text, title, type, button};
}
inline Prompt Choose(const std::wstring& path) { return {true, path, L"", 0, 0}; }

class PromptScript {
public:
    explicit PromptScript(std::vector<Prompt> prompts);
    ~PromptScript();
    PromptScript(const PromptScript&) = delete;
    PromptScript& operator=(const PromptScript&) = delete;

private:
    static void Hook(CFgScreen* screen, void* user);
    std::vector<Prompt> prompts_;
    size_t next_ = 0;
    FgModalStartHook previous_ = nullptr;
};

}  // namespace kvmedia
