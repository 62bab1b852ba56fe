#include "platform/TcpDial.h"

#include <cerrno>
#include <unistd.h>

namespace plat {

bool TcpDial::start(const std::vector<SocketAddress>& addresses, Attempt& attempt, int* error)
{
    m_waiting.assign(addresses.begin(), addresses.end());
    *error = EADDRNOTAVAIL;
    while (!m_waiting.empty()) {
        const SocketAddress address = m_waiting.front();
        m_waiting.pop_front();
        if (connectTo(address, attempt, error))
            return settled(attempt);
    }
    return false;
}

bool TcpDial::next(Attempt& attempt)
{
    int ignored = 0;
    while (!m_waiting.empty()) {
        const SocketAddress address = m_waiting.front();
        m_waiting.pop_front();
        if (connectTo(address, attempt, &ignored))
            return settled(attempt);
    }
    return false;
}

// A connection made at once leaves nothing to fall back on.
bool TcpDial::settled(const Attempt& attempt)
{
    if (!attempt.inProgress)
        m_waiting.clear();
    return true;
}

bool TcpDial::connectTo(const SocketAddress& address, Attempt& attempt, int* error)
{
    const int s = ::socket(address.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        *error = errno != 0 ? errno : EIO;
        return false;
    }
    int rc;
    do {
        rc = ::connect(s, address.get(), address.length);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno != EINPROGRESS) {
        *error = errno != 0 ? errno : EIO;
        ::close(s);
        return false;
    }
    attempt.fd = s;
    attempt.inProgress = rc != 0;
    attempt.address = address;
    return true;
}

} // namespace plat
