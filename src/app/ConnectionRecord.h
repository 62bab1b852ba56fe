#pragma once

#include <string>

// One configured peer as the settings file and the settings interface see it. The address is
// a Skype ID for "SKYPE" connections and "host" or "host/port" for every other method.
struct ConnectionRecord
{
    std::string nodeName;
    std::string connectMethod; // "SKYPE" or "TCP"
    std::string address;
    std::string comment;

    bool operator==(const ConnectionRecord&) const = default;
};
