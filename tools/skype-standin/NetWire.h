#pragma once

#include "skype/ClientWire.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Messages between stand-ins: a site (a stand-in with its local users) and the network that
// keeps the directory of users and the streams between them. Framed like the client endpoint
// (kind byte, u32 length), the payload a sequence of fields, each u32 length + bytes.
struct NetMsg
{
    enum class Type : std::uint8_t
    {
        // site -> network
        UserUp = 'U',     // user, presence: the site serves this user
        UserDown = 'X',   // user
        Presence = 'P',   // user, presence
        AppCreated = 'c', // user, application
        AppDeleted = 'd', // user, application: its streams close
        Connect = 'K',    // user, application, peer
        Write = 'W',      // user, application, stream, data
        Disconnect = 'Q', // user, application, stream
                          // network -> site
        Entry = 'Y',      // user, presence, applications...: a directory entry, new or changed
        EntryGone = 'Z',  // user
        Streams = 'S',    // user, application, (peer, stream)...: the user's full stream list
        Deliver = 'V',    // user, application, peer, stream, data
        Sent = 'A',       // user, application, stream: a write has left the writer's site
        Error = 'E',      // user, application, text
    };

    Type type = Type::UserUp;
    std::vector<std::string> fields;
};

namespace NetWire {

// A write carries at most one client command (1 MiB) plus names.
inline constexpr std::uint32_t MaxPayload = 2u << 20;

std::vector<std::uint8_t> encode(const NetMsg& msg);

struct ParseResult
{
    ClientWire::Parse status = ClientWire::Parse::NeedMore;
    std::size_t size = 0;
    NetMsg msg;
};

// Bad for an oversize length, an unknown type, a field running past the payload, or a field
// count that the type does not allow.
ParseResult parse(std::span<const std::uint8_t> bytes);

// Stream numbers travel as decimal text; 0 when the text is not a number from 1 to 2^31-1.
int streamNumber(const std::string& text);

} // namespace NetWire
