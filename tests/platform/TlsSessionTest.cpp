#include "platform/TlsSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace plat;

namespace {

using Bytes = std::vector<std::uint8_t>;

TlsContext::Key keyOf(std::uint8_t fill)
{
    TlsContext::Key k;
    k.fill(fill);
    return k;
}

Bytes takeAll(TlsSession& s)
{
    Bytes out(s.outgoingPending());
    out.resize(s.takeOutgoing(out.data(), out.size()));
    return out;
}

bool contains(const Bytes& hay, const std::string& needle)
{
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

std::string readAll(TlsSession& s, TlsSession::Result* last = nullptr)
{
    std::string text;
    std::uint8_t buf[5000];
    for (;;) {
        std::size_t n = 0;
        const TlsSession::Result r = s.read(buf, sizeof buf, &n);
        if (r != TlsSession::Result::Ok) {
            if (last)
                *last = r;
            return text;
        }
        text.append(reinterpret_cast<const char*>(buf), n);
    }
}

// Carries bytes between a client and a server until neither has anything more to say. Every
// byte the client sends is also kept in *wire.
void shuttle(TlsSession& client, TlsSession& server, Bytes* wire = nullptr)
{
    for (int round = 0; round < 20; ++round) {
        client.handshake();
        Bytes c = takeAll(client);
        server.putIncoming(c.data(), c.size());
        server.handshake();
        Bytes s = takeAll(server);
        client.putIncoming(s.data(), s.size());
        if (wire) {
            wire->insert(wire->end(), c.begin(), c.end());
            wire->insert(wire->end(), s.begin(), s.end());
        }
        if (c.empty() && s.empty())
            return;
    }
}

TEST(TlsSessionTest, TheSameKeyConnectsAndCarriesBytesBothWaysEncrypted)
{
    auto ctx = TlsContext::create(keyOf(7));
    ASSERT_TRUE(ctx);
    TlsSession client(ctx, TlsSession::Role::Client);
    TlsSession server(TlsContext::create(keyOf(7)), TlsSession::Role::Server);

    // The client offers the key only for the exchange with (EC)DHE: psk_key_exchange_modes
    // (extension 45) holding psk_dhe_ke (1) alone.
    client.handshake();
    const Bytes hello = takeAll(client);
    const Bytes dheOnly = {0x00, 0x2d, 0x00, 0x02, 0x01, 0x01};
    EXPECT_NE(std::search(hello.begin(), hello.end(), dheOnly.begin(), dheOnly.end()), hello.end());
    server.putIncoming(hello.data(), hello.size());

    Bytes wire;
    shuttle(client, server, &wire);
    ASSERT_TRUE(client.established());
    ASSERT_TRUE(server.established());

    // More than one record in each direction, and a read smaller than a record.
    std::string big(100000, 'x');
    big.replace(50000, 12, "SECRETMARKER");
    ASSERT_TRUE(client.write(reinterpret_cast<const std::uint8_t*>(big.data()), big.size()));
    ASSERT_TRUE(server.write(reinterpret_cast<const std::uint8_t*>("pong"), 4));
    const Bytes c = takeAll(client);
    const Bytes s = takeAll(server);
    EXPECT_FALSE(contains(c, "SECRETMARKER"));
    EXPECT_FALSE(contains(c, "xxxxxxxx"));
    server.putIncoming(c.data(), c.size());
    client.putIncoming(s.data(), s.size());
    std::uint8_t small[100];
    std::size_t n = 0;
    ASSERT_EQ(server.read(small, sizeof small, &n), TlsSession::Result::Ok);
    EXPECT_EQ(n, sizeof small);
    EXPECT_TRUE(server.readable());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(small), n) + readAll(server), big);
    EXPECT_EQ(readAll(client), "pong");
}

TEST(TlsSessionTest, NoKeyMatchNeverYieldsPlaintext)
{
    struct Case
    {
        const char* name;
        std::uint8_t clientKey;
        std::uint8_t serverKey;
    };
    for (const Case& c : {Case{"another key", 1, 2}, Case{"keys differing in one byte", 3, 3}}) {
        SCOPED_TRACE(c.name);
        TlsContext::Key ck = keyOf(c.clientKey);
        TlsContext::Key sk = keyOf(c.serverKey);
        if (c.clientKey == c.serverKey)
            sk[31] ^= 1;
        TlsSession client(TlsContext::create(ck), TlsSession::Role::Client);
        TlsSession server(TlsContext::create(sk), TlsSession::Role::Server);
        shuttle(client, server);
        EXPECT_FALSE(server.established());
        EXPECT_FALSE(client.established());
        EXPECT_EQ(server.handshake(), TlsSession::Result::Failed);
        EXPECT_FALSE(server.failure().empty());
        std::uint8_t buf[64];
        std::size_t n = 1;
        EXPECT_EQ(server.read(buf, sizeof buf, &n), TlsSession::Result::Failed);
        EXPECT_EQ(n, 0u);
    }
}

TEST(TlsSessionTest, PlainProtocolBytesFailTheHandshakeOnEitherSide)
{
    // The first bytes a plain node sends: a 48-byte header whose lengths make a 120-byte hello.
    Bytes plain(120, 0);
    plain[0] = 48;
    plain[2] = 72;
    plain[8] = 2;
    plain[10] = 8;
    for (auto role : {TlsSession::Role::Server, TlsSession::Role::Client}) {
        TlsSession s(TlsContext::create(keyOf(9)), role);
        s.handshake();
        s.putIncoming(plain.data(), plain.size());
        EXPECT_EQ(s.handshake(), TlsSession::Result::Failed);
        EXPECT_FALSE(s.established());
    }
}

TEST(TlsSessionTest, AnAlteredRecordEndsTheSession)
{
    TlsSession client(TlsContext::create(keyOf(4)), TlsSession::Role::Client);
    TlsSession server(TlsContext::create(keyOf(4)), TlsSession::Role::Server);
    shuttle(client, server);
    ASSERT_TRUE(server.established());
    ASSERT_TRUE(client.write(reinterpret_cast<const std::uint8_t*>("abcdef"), 6));
    Bytes rec = takeAll(client);
    rec[rec.size() - 3] ^= 0x40;
    server.putIncoming(rec.data(), rec.size());
    TlsSession::Result last = TlsSession::Result::Ok;
    EXPECT_EQ(readAll(server, &last), "");
    EXPECT_EQ(last, TlsSession::Result::Failed);
}

TEST(TlsSessionTest, RecordsOfEverySizeCrossBothWays)
{
    // Up to the largest record and one byte beyond, in both roles at once.
    TlsSession client(TlsContext::create(keyOf(5)), TlsSession::Role::Client);
    TlsSession server(TlsContext::create(keyOf(5)), TlsSession::Role::Server);
    shuttle(client, server);
    ASSERT_TRUE(client.established());
    ASSERT_TRUE(server.established());
    std::string up, down;
    for (std::size_t i = 0; i < 70000; ++i) {
        up.push_back(static_cast<char>(i * 131 % 251));
        down.push_back(static_cast<char>(i * 17 % 253));
    }
    ASSERT_TRUE(client.write(reinterpret_cast<const std::uint8_t*>(up.data()), up.size()));
    ASSERT_TRUE(client.write(reinterpret_cast<const std::uint8_t*>("z"), 1));
    ASSERT_TRUE(server.write(reinterpret_cast<const std::uint8_t*>(down.data()), down.size()));
    const Bytes c = takeAll(client);
    const Bytes s = takeAll(server);
    server.putIncoming(c.data(), c.size());
    client.putIncoming(s.data(), s.size());
    EXPECT_EQ(readAll(server), up + "z");
    EXPECT_EQ(readAll(client), down);
}

} // namespace
