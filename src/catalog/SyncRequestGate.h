#pragma once

#include "platform/LocalTime.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

// Lets a peer's sync request (a hello asking for all records, or those since a date) through
// only when the same peer has not made the same request within the period. Answering one costs a
// pass over the whole catalog and a write per record queued, so a peer repeating it in a stream
// of hellos (or across reconnections) would otherwise keep the node busy for the price of a few
// bytes. A user asks again by hand far less often than that; a different range always passes.
class SyncRequestGate
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The period on the timers' scaled clock (PAVO_TIME_SCALE).
    static constexpr std::chrono::milliseconds kPeriod{60000};

    explicit SyncRequestGate(Clock clock = {});

    // True when the request is to be answered now (and remembers it).
    bool admit(const std::string& peer, std::uint32_t syncMode, const plat::SystemTime& since);

private:
    struct Last
    {
        std::uint32_t mode = 0;
        int year = 0, month = 0, day = 0;
        std::chrono::steady_clock::time_point at;
    };
    // Bounded: at most one entry per peer name, and names are configured connections; the map is
    // cleared should it ever hold more than this many.
    static constexpr std::size_t kMaxPeers = 1024;

    Clock m_clock;
    std::map<std::string, Last> m_last;
};
