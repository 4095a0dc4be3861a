// Filter-list files: reading and writing are not part of the program yet;
// both report failure, so the commands show their failure messages.
#include "app/main_screen.h"

int32_t CMainScreen::ReadFilterListFile(const wchar_t*) { return 0; }
int32_t CMainScreen::WriteFilterListFile(const wchar_t*) { return 0; }
