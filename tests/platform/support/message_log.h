// Records the messages the platform layer dispatches to its windows.
#pragma once

#include <string>
#include <vector>

#include "platform/plat_messages.h"

namespace kvtest {

// Installs the recording handler; Take() returns and clears what arrived,
// one "window kind a b c" text per message.
void InstallMessageLog();
std::vector<PlatMessage>& MessageLog();
// Pumps the queue without waiting and returns the messages dispatched.
std::vector<PlatMessage> PumpAndTake();
std::string Describe(const PlatMessage& message);
std::string DescribeAll(const std::vector<PlatMessage>& messages);

}  // namespace kvtest
