#include "platform/TcpSocket.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace plat;

namespace {

constexpr int WaitMs = 10000;

// One end of a connection that records what its socket reports and, by default, reads
// everything that arrives. A hook runs first and may end the socket.
struct Endpoint : TcpSocketListener
{
    std::unique_ptr<TcpSocket> sock = std::make_unique<TcpSocket>(this);
    std::vector<std::string> events;
    std::string received;
    int connectError = -1;
    int closeError = -1;
    bool readOnReceive = true;
    std::function<void(const std::string&)> hook;

    void note(const std::string& e)
    {
        events.push_back(e);
        if (hook)
            hook(e);
    }
    int count(const std::string& e) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), e));
    }

    void onAccept(int) override { note("accept"); }
    void onConnect(int error) override
    {
        connectError = error;
        note("connect");
    }
    void onClose(int error) override
    {
        closeError = error;
        note("close");
    }
    void onSend(int) override { note("send"); }
    void onReceive(int) override
    {
        note("receive");
        if (!sock || !readOnReceive)
            return;
        drain();
    }
    void drain()
    {
        char buf[65536];
        for (;;) {
            int err = 0;
            const long n = sock->receive(buf, sizeof buf, &err);
            if (n <= 0)
                break;
            received.append(buf, static_cast<std::size_t>(n));
        }
    }
};

class TcpSocketTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        int err = 0;
        ASSERT_TRUE(server.sock->createListening(0, &err)) << err;
        ASSERT_TRUE(server.sock->setReuseAddress(&err)) << err;
        ASSERT_TRUE(server.sock->listen(5, &err)) << err;
        port = server.sock->localPort();
        ASSERT_GT(port, 0);
    }

    // Dials the listener and accepts the connection into a new endpoint.
    void connectPair(Endpoint& client, Endpoint& accepted, const std::string& host = "127.0.0.1")
    {
        const int accepts = server.count("accept");
        int err = 0;
        const ConnectResult r = client.sock->connect(host, port, &err);
        ASSERT_NE(r, ConnectResult::Failed) << err;
        if (r == ConnectResult::InProgress) {
            ASSERT_TRUE(runUntil([&] { return client.count("connect") == 1; }, WaitMs));
        }
        EXPECT_EQ(client.connectError, r == ConnectResult::InProgress ? 0 : -1);
        ASSERT_TRUE(runUntil([&] { return server.count("accept") > accepts; }, WaitMs));
        ASSERT_TRUE(server.sock->accept(*accepted.sock));
        client.events.clear();
    }

    void sendAll(Endpoint& from, const std::string& data)
    {
        int err = 0;
        ASSERT_EQ(from.sock->send(data.data(), data.size(), &err), static_cast<long>(data.size()))
            << err;
    }

    Endpoint server;
    int port = 0;
};

TEST_F(TcpSocketTest, ConnectAcceptAndExchangeBothWays)
{
    Endpoint client, accepted;
    int err = 0;
    EXPECT_EQ(client.sock->connect("127.0.0.1", port, &err), ConnectResult::InProgress);
    ASSERT_TRUE(runUntil([&] { return client.count("connect") == 1; }, WaitMs));
    EXPECT_EQ(client.connectError, 0);
    ASSERT_TRUE(runUntil([&] { return server.count("accept") == 1; }, WaitMs));
    ASSERT_TRUE(server.sock->accept(*accepted.sock));
    EXPECT_FALSE(server.sock->accept(*accepted.sock)) << "the target must be closed";

    std::string address;
    int peerPort = 0;
    ASSERT_TRUE(accepted.sock->peerAddress(address, peerPort));
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(peerPort, client.sock->localPort());
    ASSERT_TRUE(client.sock->peerAddress(address, peerPort));
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(peerPort, port);

    client.sock->setNoDelay(true);
    sendAll(client, "hello");
    sendAll(accepted, "world");
    ASSERT_TRUE(runUntil([&] { return accepted.received == "hello" && client.received == "world"; },
                         WaitMs));
}

TEST_F(TcpSocketTest, NothingWaitingMeansNoAccept)
{
    Endpoint into;
    EXPECT_FALSE(server.sock->accept(*into.sock));
    EXPECT_FALSE(into.sock->isOpen());
}

TEST_F(TcpSocketTest, LargeTransferWithWriteBackpressure)
{
    Endpoint client, accepted;
    connectPair(client, accepted);

    constexpr std::size_t Total = 8u << 20;
    std::string data(Total, '\0');
    std::uint32_t x = 12345;
    for (auto& c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    std::size_t sent = 0;
    int blocked = 0;
    auto pump = [&] {
        while (sent < Total) {
            int err = 0;
            const long n = client.sock->send(data.data() + sent, Total - sent, &err);
            if (n < 0) {
                ASSERT_TRUE(err == EAGAIN || err == EWOULDBLOCK) << err;
                ++blocked;
                client.sock->watchWrite(true);
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
        client.sock->watchWrite(false);
    };
    client.hook = [&](const std::string& e) {
        if (e == "send")
            pump();
    };
    pump();
    ASSERT_TRUE(runUntil([&] { return accepted.received.size() == Total; }, 60000));
    EXPECT_GT(blocked, 0) << "the transfer never filled the socket buffers";
    EXPECT_TRUE(accepted.received == data);
    // Once nothing is pending and write watching is off, writability is not reported.
    const int sends = client.count("send");
    runFor(30);
    EXPECT_EQ(client.count("send"), sends);
}

TEST_F(TcpSocketTest, PeerCloseIsReportedOnceAfterTheLastBytes)
{
    Endpoint client, accepted;
    connectPair(client, accepted);
    sendAll(accepted, "bye");
    accepted.sock->shutdownBoth();
    accepted.sock->close();
    ASSERT_TRUE(runUntil([&] { return client.count("close") == 1; }, WaitMs));
    EXPECT_EQ(client.received, "bye");
    EXPECT_EQ(client.closeError, 0);
    runFor(30);
    EXPECT_EQ(client.count("close"), 1);
}

TEST_F(TcpSocketTest, PeerResetIsReportedAsCloseWithTheError)
{
    // A plain client whose zero linger makes its close send a reset instead of an orderly end.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    const linger l{1, 0};
    ASSERT_EQ(::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_TRUE(runUntil([&] { return server.count("accept") == 1; }, WaitMs));
    Endpoint accepted;
    ASSERT_TRUE(server.sock->accept(*accepted.sock));
    ::close(s);
    ASSERT_TRUE(runUntil([&] { return accepted.count("close") == 1; }, WaitMs));
    EXPECT_EQ(accepted.closeError, ECONNRESET);
    EXPECT_EQ(accepted.count("receive"), 0);
    runFor(20);
    EXPECT_EQ(accepted.count("close"), 1);
}

TEST_F(TcpSocketTest, ReceiveIsReportedAgainOnlyAfterReading)
{
    Endpoint client, accepted;
    connectPair(client, accepted);
    client.readOnReceive = false;
    sendAll(accepted, "abc");
    ASSERT_TRUE(runUntil([&] { return client.count("receive") == 1; }, WaitMs));
    runFor(30);
    EXPECT_EQ(client.count("receive"), 1) << "unread bytes must not be reported over and over";
    client.drain();
    EXPECT_EQ(client.received, "abc");
    sendAll(accepted, "def");
    ASSERT_TRUE(runUntil([&] { return client.count("receive") == 2; }, WaitMs));
}

TEST_F(TcpSocketTest, ConnectToClosedPortReportsRefusal)
{
    // A port that was bound and released without listening: nothing accepts on it.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
    const int closedPort = ntohs(a.sin_port);
    ::close(s);

    Endpoint client;
    int err = 0;
    const ConnectResult r = client.sock->connect("127.0.0.1", closedPort, &err);
    if (r == ConnectResult::Failed) {
        EXPECT_EQ(err, ECONNREFUSED);
    } else {
        ASSERT_EQ(r, ConnectResult::InProgress);
        ASSERT_TRUE(runUntil([&] { return client.count("connect") == 1; }, WaitMs));
        EXPECT_EQ(client.connectError, ECONNREFUSED);
    }
    runFor(20);
    EXPECT_LE(client.count("connect"), 1);
    EXPECT_EQ(client.count("receive") + client.count("close"), 0);
}

TEST_F(TcpSocketTest, BadDestinationsFailAtOnce)
{
    struct Case
    {
        const char* host;
        int port;
        bool resolution; // the failure is a name lookup's (negative code)
    };
    const std::vector<Case> cases = {
        {"no-such-host.invalid", 42000, true},
        {"", 42000, true},
        {"127.0.0.1", 0, false},
        {"127.0.0.1", 70000, false},
    };
    for (const auto& c : cases) {
        Endpoint client;
        int err = 0;
        EXPECT_EQ(client.sock->connect(c.host, c.port, &err), ConnectResult::Failed) << c.host;
        if (c.resolution) {
            EXPECT_LT(err, 0) << c.host;
        } else {
            EXPECT_GT(err, 0) << c.host;
        }
        EXPECT_FALSE(client.sock->isOpen());
    }
}

TEST_F(TcpSocketTest, OneListenerAcceptsIpv4AndIpv6)
{
    {
        const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
        if (probe < 0)
            GTEST_SKIP() << "no IPv6 on this machine";
        ::close(probe);
    }
    struct Case
    {
        const char* host;
        const char* peer;
    };
    for (const Case& c : {Case{"127.0.0.1", "127.0.0.1"}, Case{"::1", "::1"}}) {
        Endpoint client, accepted;
        connectPair(client, accepted, c.host);
        std::string address;
        int peerPort = 0;
        ASSERT_TRUE(accepted.sock->peerAddress(address, peerPort)) << c.host;
        EXPECT_EQ(address, c.peer);
        EXPECT_EQ(peerPort, client.sock->localPort());
        sendAll(client, c.host);
        ASSERT_TRUE(runUntil([&] { return accepted.received == c.host; }, WaitMs));
    }
}

TEST_F(TcpSocketTest, HostNameResolvesToALoopbackAddress)
{
    Endpoint client, accepted;
    connectPair(client, accepted, "localhost");
    sendAll(accepted, "x");
    ASSERT_TRUE(runUntil([&] { return client.received == "x"; }, WaitMs));
}

// The connection layer ends a connection from inside its socket's notifications.
TEST_F(TcpSocketTest, SocketMayBeDestroyedInsideItsOwnNotifications)
{
    for (const std::string event : {"receive", "close", "send"}) {
        Endpoint client, accepted;
        connectPair(client, accepted);
        client.hook = [&](const std::string& e) {
            if (e == event)
                client.sock.reset();
        };
        if (event == "receive") {
            sendAll(accepted, "data");
        } else if (event == "close") {
            accepted.sock->close();
        } else {
            client.sock->watchWrite(true);
        }
        ASSERT_TRUE(runUntil([&] { return !client.sock; }, WaitMs)) << event;
        runFor(20);
        EXPECT_EQ(client.events, std::vector<std::string>{event});
    }
}

TEST_F(TcpSocketTest, SocketMayBeDestroyedInsideConnectAndAccept)
{
    Endpoint client;
    client.hook = [&](const std::string& e) {
        if (e == "connect")
            client.sock.reset();
    };
    server.hook = [&](const std::string& e) {
        if (e == "accept") {
            Endpoint sink;
            server.sock->accept(*sink.sock);
            server.sock.reset();
        }
    };
    int err = 0;
    ASSERT_EQ(client.sock->connect("127.0.0.1", port, &err), ConnectResult::InProgress);
    ASSERT_TRUE(runUntil([&] { return !client.sock && !server.sock; }, WaitMs));
    runFor(20);
    EXPECT_EQ(client.events, std::vector<std::string>{"connect"});
    EXPECT_EQ(server.events, std::vector<std::string>{"accept"});
}

TEST_F(TcpSocketTest, NoNotificationsAfterClose)
{
    Endpoint client, accepted;
    connectPair(client, accepted);
    client.sock->watchWrite(true);
    sendAll(accepted, "late");
    accepted.sock->close();
    client.sock->close();
    EXPECT_FALSE(client.sock->isOpen());
    std::string address;
    int peerPort = 0;
    EXPECT_FALSE(client.sock->peerAddress(address, peerPort));
    runFor(30);
    EXPECT_TRUE(client.events.empty());
}

TEST_F(TcpSocketTest, SecondListenerOnABusyPortFails)
{
    // Address reuse does not allow two listeners on one port.
    TcpSocket other;
    int err = 0;
    EXPECT_FALSE(other.createListening(port, &err));
    EXPECT_EQ(err, EADDRINUSE);
    EXPECT_FALSE(other.listen(5, &err));
}

} // namespace
