// The toolkit tests' input helpers and modal answers, shared with the main
// screen's tests.
#include "../../toolkit/support/file_select_answer.cpp"
#include "../../toolkit/support/ui_input.cpp"
#include "../../toolkit/support/screen_recorder.cpp"
#include "../../media/support/prompt_script.cpp"
