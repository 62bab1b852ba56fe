#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Messages between a site (the client's users with their programs' applications) and the hub
// that carries the users' presence and application streams: the messaging server's connection,
// or the in-process network of the local test mode. Both sides are this program's own code;
// nothing received from outside is put into one before it is checked.
struct HubMsg
{
    enum class Type : std::uint8_t
    {
        // site -> hub
        UserUp = 'U',     // user, presence: the site serves this user
        UserDown = 'X',   // user
        Presence = 'P',   // user, presence
        AppCreated = 'c', // user, application
        AppDeleted = 'd', // user, application: its streams close
        Connect = 'K',    // user, application, peer
        Write = 'W',      // user, application, stream, data
        Disconnect = 'Q', // user, application, stream
                          // hub -> site
        Entry = 'Y',      // user, presence, applications...: a directory entry, new or changed
        EntryGone = 'Z',  // user
        Streams = 'S',    // user, application, (peer, stream)...: the user's full stream list
        Deliver = 'V',    // user, application, peer, stream, data
        Sent = 'A',       // user, application, stream: a write has left the writer's site
        Error = 'E',      // user, application, text
        Contacts = 'F',   // user, contacts...: the user's full contact list
        Online = 'O',     // user, "1" or "0": the user's account is logged in to the server
        Limited = 'L',    // user, application, bytes per second: the server holds the user's
                          // sending far below the pace the program asks for
    };

    Type type = Type::UserUp;
    std::vector<std::string> fields;
};

// Stream numbers travel as decimal text; 0 when the text is not a number from 1 to 2^31-1.
int hubStreamNumber(const std::string& text);
