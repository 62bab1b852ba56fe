#pragma once

#include <chrono>
#include <map>
#include <string>

namespace tcp {

// Remembers when a failed TLS handshake from an address was last reported, so that a peer
// retrying with the wrong key (or a scanner) is reported at most once per period, not at every
// attempt. The period runs on the scaled clock of the timers (PAVO_TIME_SCALE). The TCP peer
// model keeps one for its connections.
class HandshakeFailureLog
{
public:
    static constexpr std::chrono::milliseconds kPeriod{60000};

    // True when a failure from this address is to be reported now (and records it).
    bool shouldReport(const std::string& address);

private:
    using Clock = std::chrono::steady_clock;
    // Bounded: old entries go once this many addresses are remembered.
    static constexpr std::size_t kMaxAddresses = 256;

    std::map<std::string, Clock::time_point> last_;
};

} // namespace tcp
