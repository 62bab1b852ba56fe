#include "support/FakeSkypeLink.h"

#include <algorithm>

void FakeSkypeLink::removeUser(VX_SKYPECOMUSER* user)
{
    users.erase(std::remove(users.begin(), users.end(), user), users.end());
}

int FakeSkypeLink::sendCommand(std::string_view text)
{
    commands.emplace_back(text);
    // A copy: the callback may send further commands, which grows the list.
    const std::string command(text);
    if (onCommand)
        onCommand(command);
    return result;
}

std::vector<std::string> FakeSkypeLink::startingWith(std::string_view prefix) const
{
    std::vector<std::string> out;
    for (const std::string& c : commands) {
        if (std::string_view(c).substr(0, prefix.size()) == prefix)
            out.push_back(c);
    }
    return out;
}
