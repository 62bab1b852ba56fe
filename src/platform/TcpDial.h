#pragma once

#include "platform/SocketAddress.h"

#include <deque>
#include <vector>

namespace plat {

// Dials the addresses a name resolved to, one after the other: a name may resolve to several
// (localhost: ::1 and 127.0.0.1), and a refusal on one is not yet a failure of the dial. Each
// attempt is a new non-blocking socket that is connected at once or has its connect in progress.
class TcpDial
{
public:
    struct Attempt
    {
        int fd = -1;
        bool inProgress = false;
        SocketAddress address;
    };

    // Starts with the first address that takes a connect; the ones after it wait for next().
    // False with *error (the last attempt's reason) when none did.
    bool start(const std::vector<SocketAddress>& addresses, Attempt& attempt, int* error);
    // Once the attempt in progress has failed: starts the first of the waiting addresses that
    // takes a connect.
    bool next(Attempt& attempt);
    void clear() { m_waiting.clear(); }

private:
    bool settled(const Attempt& attempt);
    static bool connectTo(const SocketAddress& address, Attempt& attempt, int* error);

    std::deque<SocketAddress> m_waiting;
};

} // namespace plat
