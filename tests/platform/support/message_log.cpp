#include "platform/support/message_log.h"

namespace kvtest {

namespace {

void Record(void*, const PlatMessage& message) { MessageLog().push_back(message); }

}  // namespace

void InstallMessageLog() { PlatSetWindowProc(Record); }

std::vector<PlatMessage>& MessageLog() {
    static std::vector<PlatMessage> log;
    return log;
}

std::vector<PlatMessage> PumpAndTake() {
    PlatMessage message;
    while (PlatPeekMessage(&message))
        if (message.kind != kPlatMsgQuit) PlatDispatchMessage(message);
    std::vector<PlatMessage> out;
    out.swap(MessageLog());
    return out;
}

std::string Describe(const PlatMessage& m) {
    static const char* const kNames[] = {"none", "move", "ldown", "lup", "rdown", "rup", "mdown", "mup",
                                         "wheel", "keydown", "keyup", "char", "show", "size", "moved", "close",
                                         "destroy", "redraw", "imestart", "quit"};
    std::string name = m.kind < sizeof(kNames) / sizeof(kNames[0]) ? kNames[m.kind] : "?";
    return name + " " + std::to_string(m.a) + " " + std::to_string(m.b) + " " + std::to_string(m.c);
}

std::string DescribeAll(const std::vector<PlatMessage>& messages) {
    std::string out;
    for (const PlatMessage& m : messages) out += (out.empty() ? "" : ", ") + Describe(m);
    return out;
}

}  // namespace kvtest
