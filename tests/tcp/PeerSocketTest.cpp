#include "tcp/PeerSocket.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

using namespace tcp;

namespace {

constexpr int WaitMs = 10000;

plat::TlsContext::Key keyOf(std::uint8_t fill)
{
    plat::TlsContext::Key k;
    k.fill(fill);
    return k;
}

// One end that reads at most readChunk bytes per receive notification (so decrypted bytes are
// left over) and writes what it is given whenever the socket takes more.
struct End : PeerSocketListener
{
    PeerSocket sock{this};
    std::string received;
    std::string toSend;
    std::size_t sent = 0;
    std::size_t readChunk = 65536;
    int handshakeFailures = 0;
    int sendError = 0; // the first error a send reported
    int connects = 0;
    int accepts = 0;
    bool closed = false;

    void onAccept(int) override { ++accepts; }
    void onConnect(int error) override
    {
        EXPECT_EQ(error, 0);
        ++connects;
        pump();
    }
    void onReceive(int error) override
    {
        if (error != 0) {
            closed = true;
            return;
        }
        std::string buf(readChunk, '\0');
        int e = 0;
        const long n = sock.receive(buf.data(), buf.size(), &e);
        if (n > 0)
            received.append(buf.data(), static_cast<std::size_t>(n));
        else if (n == 0 || (e != EAGAIN && e != EWOULDBLOCK))
            closed = true;
    }
    void onSend(int) override { pump(); }
    void onClose(int) override { closed = true; }
    void onHandshakeFailed(const std::string&) override
    {
        ++handshakeFailures;
        sock.close();
    }
    void pump()
    {
        while (sent < toSend.size()) {
            int e = 0;
            const long n = sock.send(toSend.data() + sent, toSend.size() - sent, &e);
            if (n <= 0 && e != EAGAIN && e != EWOULDBLOCK) {
                sendError = e;
                sock.watchWrite(false);
                return;
            }
            if (n <= 0) {
                sock.watchWrite(true);
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
        sock.watchWrite(false);
    }
};

struct Pair
{
    End server;
    End client;
    End accepted;

    Pair(std::shared_ptr<const plat::TlsContext> clientTls,
         std::shared_ptr<const plat::TlsContext> serverTls)
    {
        int err = 0;
        EXPECT_TRUE(server.sock.createListening(0, &err));
        EXPECT_TRUE(server.sock.listen(5, &err));
        server.sock.setTls(std::move(serverTls));
        client.sock.setTls(std::move(clientTls));
        EXPECT_NE(client.sock.connect("127.0.0.1", server.sock.localPort(), &err),
                  plat::ConnectResult::Failed);
        EXPECT_TRUE(plat::runUntil([&] { return server.accepts > 0; }, WaitMs));
        EXPECT_TRUE(server.sock.accept(accepted.sock));
    }
};

std::string pattern(std::size_t size, char seed)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(seed + i * 7 + i / 251);
    return s;
}

TEST(PeerSocketTest, TheSameKeyCarriesLargeStreamsBothWaysIntact)
{
    auto tls = plat::TlsContext::create(keyOf(5));
    Pair p(tls, tls);
    // Nothing goes before the handshake: the write waits and is resumed by a send notification.
    int e = 0;
    EXPECT_EQ(p.accepted.sock.send("x", 1, &e), -1);
    EXPECT_EQ(e, EAGAIN);

    p.client.toSend = pattern(3 << 20, 'a');
    p.accepted.toSend = pattern(1 << 20, 'q');
    p.accepted.readChunk = 1000; // most records are read in several pieces
    p.client.pump();
    p.accepted.pump();
    ASSERT_TRUE(plat::runUntil(
        [&] {
            EXPECT_EQ(p.client.sendError, 0);
            EXPECT_EQ(p.accepted.sendError, 0);
            return p.accepted.received.size() == p.client.toSend.size() &&
                   p.client.received.size() == p.accepted.toSend.size();
        },
        WaitMs * 3));
    EXPECT_TRUE(p.client.sock.secured());
    EXPECT_TRUE(p.accepted.sock.secured());
    EXPECT_TRUE(p.accepted.received == p.client.toSend);
    EXPECT_TRUE(p.client.received == p.accepted.toSend);

    // An orderly close of one side reaches the other after everything sent before it.
    p.client.toSend += "tail";
    p.client.pump();
    ASSERT_TRUE(plat::runUntil([&] { return p.client.sent == p.client.toSend.size(); }, WaitMs));
    p.client.sock.close();
    ASSERT_TRUE(plat::runUntil([&] { return p.accepted.closed; }, WaitMs));
    EXPECT_TRUE(p.accepted.received == p.client.toSend);
}

TEST(PeerSocketTest, WithoutAMatchingKeyNoByteIsPassedOn)
{
    auto a = plat::TlsContext::create(keyOf(1));
    auto b = plat::TlsContext::create(keyOf(2));
    struct Case
    {
        const char* name;
        std::shared_ptr<const plat::TlsContext> client;
        std::shared_ptr<const plat::TlsContext> server;
    };
    for (const Case& c :
         {Case{"different keys", a, b}, Case{"plain client, keyed server", nullptr, a},
          Case{"keyed client, plain server", a, nullptr}}) {
        SCOPED_TRACE(c.name);
        Pair p(c.client, c.server);
        // Both speak first, as nodes do: the plain side its hello frame.
        p.client.toSend = pattern(120, 'h');
        p.accepted.toSend = pattern(120, 'H');
        p.client.pump();
        p.accepted.pump();
        ASSERT_TRUE(plat::runUntil(
            [&] {
                return p.client.closed || p.accepted.closed || p.client.handshakeFailures ||
                       p.accepted.handshakeFailures;
            },
            WaitMs));
        ASSERT_TRUE(plat::runUntil(
            [&] {
                return (!c.client || p.client.handshakeFailures == 1) &&
                       (!c.server || p.accepted.handshakeFailures == 1);
            },
            WaitMs));
        // The keyed sides read nothing; a plain side that dialled a keyed node gets nothing but
        // the close.
        if (c.client) {
            EXPECT_EQ(p.client.received, "");
        }
        if (c.server) {
            EXPECT_EQ(p.accepted.received, "");
        }
        if (!c.client) {
            ASSERT_TRUE(plat::runUntil([&] { return p.client.closed; }, WaitMs));
            EXPECT_EQ(p.client.received, "");
        }
        EXPECT_FALSE(p.client.sock.secured());
        EXPECT_FALSE(p.accepted.sock.secured());
    }
}

// Records go to the socket as they are made; one the socket refuses because the peer is gone
// must come back to the writer as an error, not as bytes taken for ever.
TEST(PeerSocketTest, AWriterWhosePeerIsGoneGetsAnError)
{
    auto tls = plat::TlsContext::create(keyOf(7));
    Pair p(tls, tls);
    ASSERT_TRUE(plat::runUntil([&] { return p.client.sock.secured() && p.accepted.sock.secured(); },
                               WaitMs));
    p.accepted.sock.close();
    // More than the socket buffers hold, so the writer meets the peer's reset.
    p.client.toSend = pattern(16 << 20, 'z');
    p.client.pump();
    ASSERT_TRUE(plat::runUntil([&] { return p.client.sendError != 0; }, WaitMs));
    EXPECT_TRUE(p.client.sendError == EPIPE || p.client.sendError == ECONNRESET)
        << p.client.sendError;
    EXPECT_LT(p.client.sent, p.client.toSend.size());
}

} // namespace
