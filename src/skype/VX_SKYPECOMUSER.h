#pragma once

#include <string_view>

// A user of the link to the messaging client: told of every attach state and handed the
// client's replies and notifications, sorted by their first word. Every operation has an empty
// default, so a user overrides only what it needs. The texts point into the link's buffers and
// live only for the call.
class VX_SKYPECOMUSER
{
public:
    virtual ~VX_SKYPECOMUSER() = default;

    // The link's state after an attach answer, or LINK_DETACHED when the client was lost.
    virtual void onAttachState(int /*state*/) {}
    // The text after "CURRENTUSERHANDLE" and one blank.
    virtual void onCurrentUserHandle(std::string_view /*text*/) {}
    // The text after "USERSTATUS" and one blank.
    virtual void onUserStatus(std::string_view /*text*/) {}
    // The text after "USERS" and one blank.
    virtual void onUsers(std::string_view /*text*/) {}
    // The text after "USER" and one blank.
    virtual void onUser(std::string_view /*text*/) {}
    // The whole text of a "CREATE", "DELETE", "ALTER" or "APPLICATION" line.
    virtual void onApplication(std::string_view /*text*/) {}
};
