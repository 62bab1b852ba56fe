#pragma once

#include <cstdint>
#include <string>

// An IQ request of the account mode waiting for its answer: what it asked, of whom, and for
// stream requests the stream and block.
struct XmppPending
{
    enum class Kind
    {
        Roster,
        Disco,
        Open,
        Data,
        Close,
    };
    Kind kind;
    std::string to;
    int number = 0;
    std::uint16_t seq = 0;
};
