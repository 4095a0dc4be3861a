// Program entry: korvane [FILE | FIRST LAST]. One file opens as File > Open
// image does; two open the numbered sequence from FIRST to LAST.
#include <cstdio>
#include <cwchar>
#include <new>

#include "app/main_screen.h"
#include "image/pool.h"
#include "platform/utf8.h"
#include "toolkit/fg_loop.h"

int main(int argc, char** argv) {
    PoolStart();
    CMainScreen* screen = new (std::nothrow) CMainScreen;
    if (!screen) {
        PoolStop();
        return 0;
    }
    std::swprintf(screen->baseTitle, 64, L"korvane 1.11.0");
    if (!screen->Create(-1, -1, 640, 500, screen->baseTitle, kFgStyleResizable, nullptr)) {
        std::fputs("korvane: the main window cannot be created (no display?)\n", stderr);
        delete screen;
        PoolStop();
        return 1;
    }
    screen->Layout();
    screen->UpdateTitle();
    // The window is the main screen from now on: a close while the document
    // of the command line opens (its error box waiting for a click) ends
    // the program, instead of destroying the window and leaving it running.
    g_MainScreen = screen;
    if (argc == 2) {
        screen->OpenFile(PlatUtf8ToWide(argv[1]).c_str());
    } else if (argc >= 3) {
        screen->OpenSequenceFiles(PlatUtf8ToWide(argv[1]).c_str(), PlatUtf8ToWide(argv[2]).c_str());
    }
    FgRunMessageLoop(screen);
    delete screen;
    PoolStop();
    return 0;
}
