#pragma once

#include <string_view>

// The --log trace: every command, notification and network message, one line each on
// standard error. Off unless enabled.
namespace MessengerLog {

void enable(bool on);
bool enabled();
// who: the user or link the line is about; what: the text, cut when very long.
void line(std::string_view who, std::string_view direction, std::string_view what);

} // namespace MessengerLog
