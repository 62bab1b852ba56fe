#include "MessengerLog.h"

#include <cstdio>
#include <string>

namespace MessengerLog {

namespace {
bool g_enabled = false;
constexpr std::size_t MaxShown = 300;
} // namespace

void enable(bool on)
{
    g_enabled = on;
}

bool enabled()
{
    return g_enabled;
}

void line(std::string_view who, std::string_view direction, std::string_view what)
{
    if (!g_enabled)
        return;
    std::string text(what.substr(0, MaxShown));
    if (what.size() > MaxShown)
        text += "... (" + std::to_string(what.size()) + " bytes)";
    std::fprintf(stderr, "[%.*s] %.*s %s\n", int(who.size()), who.data(), int(direction.size()),
                 direction.data(), text.c_str());
    std::fflush(stderr);
}

} // namespace MessengerLog
