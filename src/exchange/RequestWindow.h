#pragma once

#include "wire/CatalogRecord.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

// The file data requests one connection has in flight, and how many it may have.
//
// Every request is kept, in the order it was sent, with its file version, offset and time until
// an answer names the same version and offset. A peer answers one connection's requests in the
// order they came, so an answer that matches a request also shows that every request sent before
// it is lost: those are handed back to be asked again. An answer that matches nothing (a second
// answer to one request, or the late answer to a request given up) changes nothing here.
//
// The window follows the link: it grows by one with every answer while request-to-answer times
// stay near the connection's base round trip (the least seen lately), and shrinks by a quarter, at
// most once per round trip, when the smoothed time grows past it by more than the queueing
// allowed (a quarter of the base, at least kQueueTarget), so a slow or shared uplink does not hold
// seconds of requests while a long fat path still fills. A shrink stops at kShrinkFloor requests
// (a busy machine's scheduling delays look like queueing too); the ceiling (what the peer and the
// transport take) bounds it.
//
// The connection has stalled only when requests are out and nothing at all has come back for
// a time derived from its own measurements: its smoothed round trip and the spacing of its
// answers times the requests out, with a floor, doubled after every stall until answers come.
// Before the first answer a conservative start value applies. A stall does not forget what is
// out: those requests become suspect (no longer counted, still matched) and only the oldest is
// asked again, so late answers are still used in order and cost one duplicate at most; if they
// were lost instead, the first answer to a request sent after them shows it.
class RequestWindow
{
public:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;
    using Duration = Clock::duration;

    struct Request
    {
        std::shared_ptr<const CatalogRecord> record;
        std::uint32_t offset = 0;
        Time sent{};
        // Asked again after a loss: its answer tells nothing about the round trip.
        bool again = false;
        // Out when the connection stalled: it may still come (late) or be lost; it no longer
        // counts as in flight and its answer tells nothing about the round trip.
        bool suspect = false;
    };

    static constexpr auto kQueueTarget = std::chrono::milliseconds(100);
    static constexpr double kShrinkFloor = 4;
    static constexpr auto kStallFloor = std::chrono::seconds(1);
    static constexpr auto kFirstStall = std::chrono::seconds(2);
    // The base round trip is the least of the current and the previous period of this length.
    static constexpr auto kBasePeriod = std::chrono::seconds(10);

    // 1 keeps one request in flight; the window never exceeds it.
    void setCeiling(int ceiling);
    int ceiling() const { return m_ceiling; }
    int window() const;
    int inFlight() const { return static_cast<int>(m_out.size()) - m_suspects; }
    bool hasRoom() const { return inFlight() < window(); }

    void sent(std::shared_ptr<const CatalogRecord> record, std::uint32_t offset, bool again,
              Time now);
    // True when offset is asked for record and not answered yet.
    bool outstanding(const CatalogRecord& record, std::uint32_t offset) const;
    // An answer for record at offset arrived. The request it answers, if any; the requests sent
    // before that one are appended to lost.
    std::optional<Request> answered(const CatalogRecord& record, std::uint32_t offset, Time now,
                                    std::vector<Request>& lost);
    // Requests are out and nothing has come back for stallTime().
    bool stalled(Time now) const;
    // After a stall: every request out becomes suspect, the window starts again from one
    // request and the next stall takes twice as long. The oldest request out, to be asked again.
    std::optional<Request> giveUp(Time now);
    Duration stallTime() const;

    // Measurements, for diagnostics and benchmarks.
    Duration baseRoundTrip() const;
    Duration smoothedRoundTrip() const { return m_srtt; }

private:
    void sample(Duration rtt, Time now);
    void grow();
    void noteBase(Duration rtt, Time now);

    std::deque<Request> m_out;
    int m_suspects = 0;
    int m_ceiling = 1;
    double m_cwnd = 1;
    // Below this the window grows by one per answer (doubling per round trip), above it by one
    // per window's worth of answers.
    double m_slowStartLimit = 1e9;
    bool m_measured = false;
    Duration m_srtt{};
    Duration m_gap{};
    Duration m_baseNow = Duration::max();
    Duration m_basePrev = Duration::max();
    Time m_baseSince{};
    Time m_lastAnswer{};
    Time m_lastShrink{};
    int m_backoff = 1;
};
