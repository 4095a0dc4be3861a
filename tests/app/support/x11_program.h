// The program run as a user runs it, under X: its path, waiting for and
// closing its main window, and its end.
#pragma once

#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "support/testsupport.h"

namespace kvx11 {

inline std::string Program() { return std::string(KV_BINARY_DIR) + "/bin/korvane"; }

inline std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// The id of a shown window of process `pid` whose name starts with `title`
// (UTF-8), waiting up to `seconds`; empty when none appears. Names are
// compared here: xdotool's own search sees non-Latin titles garbled.
inline std::string FindWindow(pid_t pid, const std::string& title, int seconds = 30) {
    const std::string script = "for w in $(xdotool search --onlyvisible --pid " + std::to_string(pid) +
                               " 2>/dev/null); do case \"$(xdotool getwindowname $w)\" in '" + title +
                               "'*) echo $w; break;; esac; done";
    for (int i = 0; i < seconds * 5; ++i) {
        std::string id;
        kvtest::RunCommand(script, &id);
        id = Trim(id);
        if (!id.empty()) return id;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return std::string();
}

// Closes a window as a window manager's close box does: WM_DELETE_WINDOW.
inline bool SendDeleteWindow(unsigned long window) {
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!x11) return false;
    using OpenFn = void* (*)(const char*);
    using AtomFn = unsigned long (*)(void*, const char*, int);
    using SendFn = int (*)(void*, unsigned long, int, long, void*);
    using FlushFn = int (*)(void*);
    auto open = reinterpret_cast<OpenFn>(dlsym(x11, "XOpenDisplay"));
    auto atom = reinterpret_cast<AtomFn>(dlsym(x11, "XInternAtom"));
    auto send = reinterpret_cast<SendFn>(dlsym(x11, "XSendEvent"));
    auto flush = reinterpret_cast<FlushFn>(dlsym(x11, "XFlush"));
    auto close = reinterpret_cast<FlushFn>(dlsym(x11, "XCloseDisplay"));
    void* display = open && atom && send && flush && close ? open(nullptr) : nullptr;
    if (!display) {
        dlclose(x11);
        return false;
    }
    // XClientMessageEvent, laid out as Xlib declares it.
    struct {
        int type;
        unsigned long serial;
        int send_event;
        void* display;
        unsigned long window;
        unsigned long message_type;
        int format;
        long data[5];
    } event{};
    event.type = 33;  // ClientMessage
    event.display = display;
    event.window = window;
    event.message_type = atom(display, "WM_PROTOCOLS", 0);
    event.format = 32;
    event.data[0] = static_cast<long>(atom(display, "WM_DELETE_WINDOW", 0));
    event.data[1] = 0;  // CurrentTime
    char buffer[192] = {};
    std::memcpy(buffer, &event, sizeof event);
    const int ok = send(display, window, 0, 0, buffer);
    flush(display);
    close(display);
    dlclose(x11);
    return ok != 0;
}

// The exit status once the process has ended within `seconds`, else -1
// (the process is then killed).
inline int WaitForExit(pid_t pid, int seconds) {
    int status = 0;
    for (int i = 0; i < seconds * 10; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

}  // namespace kvx11
