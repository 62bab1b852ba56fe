#pragma once

#include "skype/SkypeLink.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A link to the messaging client that records every command instead of sending it. Each
// command is answered with `result`; onCommand runs before the answer, as the client's replies
// would (a test may call the users from there, as nested messages).
class FakeSkypeLink : public SkypeLink
{
public:
    std::vector<VX_SKYPECOMUSER*> users;
    std::vector<std::string> commands;
    int result = 1;
    int state = 1;
    std::function<void(const std::string&)> onCommand;

    void addUser(VX_SKYPECOMUSER* user) override { users.push_back(user); }
    void removeUser(VX_SKYPECOMUSER* user) override;
    int sendCommand(std::string_view text) override;
    int linkState() const override { return state; }

    // The commands recorded so far that begin with prefix.
    std::vector<std::string> startingWith(std::string_view prefix) const;
    int count(std::string_view prefix) const
    {
        return static_cast<int>(startingWith(prefix).size());
    }
};
