#pragma once

#include <string_view>

class VX_SKYPECOMUSER;

// What the user model, the application slots and their streams need of the link to the
// messaging client: registration, synchronous commands and the attach state. VX_SKYPECOM is the
// real link; tests hand in their own.
class SkypeLink
{
public:
    virtual ~SkypeLink() = default;

    // Users are called in registration order.
    virtual void addUser(VX_SKYPECOMUSER* user) = 0;
    // Only for a user that is being destroyed: the link must not call it again.
    virtual void removeUser(VX_SKYPECOMUSER* user) = 0;
    // Non-zero when the client took the command, 0 when not (the client is then taken as lost).
    // Replies that come before the answer are dispatched to the users while this waits, so any
    // user may be called from inside it.
    virtual int sendCommand(std::string_view text) = 0;
    virtual int linkState() const = 0;
};
