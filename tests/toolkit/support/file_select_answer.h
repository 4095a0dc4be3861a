// Answers the modal screens a test opens, through the toolkit's modal-start
// hook: each file selection screen gets the next path of a list, typed into
// its name field and confirmed with a click on "OK" (an empty path clicks
// "キャンセル"); each message box is recorded and answered with its first
// button. The previous hook is restored when the object dies.
#pragma once

#include <string>
#include <vector>

#include "toolkit/fg_loop.h"

class CFgScreen;

namespace kvtest {

class ModalAnswers {
public:
    explicit ModalAnswers(std::vector<std::wstring> paths = {});
    ~ModalAnswers();
    ModalAnswers(const ModalAnswers&) = delete;
    ModalAnswers& operator=(const ModalAnswers&) = delete;

    // What was seen: the current folder of each file selection screen as it
    // opened, and the text of each message box.
    std::vector<std::wstring> startFolders;
    std::vector<std::wstring> startNames;
    std::vector<std::wstring> messages;
    // The button each message box in turn is answered with (0 the first,
    // 1 the second); boxes beyond the list get the first.
    std::vector<int> buttons;

private:
    static void Hook(CFgScreen* screen, void* user);
    std::vector<std::wstring> paths_;
    size_t next_ = 0;
    FgModalStartHook previous_ = nullptr;
};

}  // namespace kvtest
