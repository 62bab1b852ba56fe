#include "platform/TcpDial.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

using plat::SocketAddress;
using plat::TcpDial;

namespace {

// A loopback IPv4 socket bound to a free port; listening when asked, else nothing accepts there.
struct LoopbackPort
{
    explicit LoopbackPort(bool listening)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        if (listening)
            ::listen(fd, 4);
        address.length = sizeof address.storage;
        ::getsockname(fd, address.get(), &address.length);
    }
    ~LoopbackPort() { ::close(fd); }
    LoopbackPort(const LoopbackPort&) = delete;
    LoopbackPort& operator=(const LoopbackPort&) = delete;

    int fd = -1;
    SocketAddress address;
};

// The outcome of an attempt: 0 once connected, else the connect's error.
int outcome(const TcpDial::Attempt& attempt)
{
    if (!attempt.inProgress)
        return 0;
    pollfd p{attempt.fd, POLLOUT, 0};
    if (::poll(&p, 1, 5000) != 1)
        return ETIMEDOUT;
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(attempt.fd, SOL_SOCKET, SO_ERROR, &err, &len);
    return err;
}

} // namespace

TEST(TcpDial, ARefusedAddressFallsBackToTheNextOne)
{
    LoopbackPort refusing(false);
    LoopbackPort accepting(true);
    TcpDial dial;
    TcpDial::Attempt attempt;
    int err = 0;
    ASSERT_TRUE(dial.start({refusing.address, accepting.address}, attempt, &err));
    // Loopback may refuse at once (the dial moves on by itself) or report it later.
    if (attempt.address.port() == refusing.address.port()) {
        EXPECT_EQ(outcome(attempt), ECONNREFUSED);
        ::close(attempt.fd);
        ASSERT_TRUE(dial.next(attempt));
    }
    EXPECT_EQ(attempt.address.port(), accepting.address.port());
    EXPECT_EQ(outcome(attempt), 0);
    ::close(attempt.fd);
    EXPECT_FALSE(dial.next(attempt)); // nothing left to try
}

TEST(TcpDial, NoAddressThatTakesAConnectFailsWithTheLastReason)
{
    TcpDial dial;
    TcpDial::Attempt attempt;
    int err = 0;
    EXPECT_FALSE(dial.start({}, attempt, &err));
    EXPECT_EQ(err, EADDRNOTAVAIL);

    SocketAddress unusable; // a family no socket can be made for
    unusable.storage.ss_family = AF_MAX;
    unusable.length = sizeof(sockaddr_in);
    EXPECT_FALSE(dial.start({unusable}, attempt, &err));
    EXPECT_EQ(err, EAFNOSUPPORT);
    EXPECT_EQ(attempt.fd, -1);
}
