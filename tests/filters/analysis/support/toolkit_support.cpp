// The toolkit tests' input helpers and modal answers, shared with the
// filters' panel tests.
#include "../../../toolkit/support/file_select_answer.cpp"
#include "../../../toolkit/support/ui_input.cpp"
#include "../../../toolkit/support/screen_recorder.cpp"
