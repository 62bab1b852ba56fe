#include "HubMessage.h"

#include <charconv>

int hubStreamNumber(const std::string& text)
{
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || v < 1)
        return 0;
    return v;
}
