#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

class ClientSession;

// One application a node program created, with the streams the network reports for it, the
// data waiting to be read (one write = one read unit) and the writes not yet acknowledged.
struct SiteApp
{
    using Streams = std::vector<std::pair<std::string, int>>; // peer, stream number

    struct Inbox
    {
        std::deque<std::pair<std::uint64_t, std::string>> messages; // arrival number, data
        std::size_t bytes = 0;
    };
    struct Outgoing
    {
        std::deque<std::size_t> sizes;
        std::size_t bytes = 0;
    };

    ClientSession* owner = nullptr;
    Streams streams;
    std::map<int, Inbox> inbox;
    std::map<int, Outgoing> sending;

    const std::string* peerOf(int number) const;

    // Takes the network's list of streams; what waits on streams no longer listed goes. True
    // when that left no write waiting for its acknowledgement where some did before.
    bool setStreams(Streams now);
    // Keeps data that arrived on a stream; the bytes now unread on it.
    std::size_t arrived(int number, std::uint64_t arrival, std::string data);
    // The oldest unread data of a stream; false when none waits.
    bool takeUnread(int number, std::string& data);
    void written(int number, std::size_t size);
    // The network took the oldest write of a stream; false when none was waiting.
    bool acknowledged(int number);

    // The lines a program is told (and asks for) about the application named app.
    std::string streamsText(const std::string& app) const;
    std::string receivedText(const std::string& app) const;
    std::string sendingText(const std::string& app) const;
};
