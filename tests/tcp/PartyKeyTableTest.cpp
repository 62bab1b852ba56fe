#include "support/CertificatePeer.h"
#include "support/TestNode.h"

#include "app/PartyKeyStore.h"
#include "platform/EventLoop.h"
#include "tcp/CTcpA2AModel.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

// A keyed node against every kind of other end, in both directions: only the same key ever gets
// a connection admitted; otherwise the node says on its status line which connection failed and
// why, and nothing it sends is readable by the other end.
namespace {

enum class OtherEnd
{
    SameKey,
    OtherKey,
    NoKey,
    CertificateServer,
    CertificateRelay, // a certificate server relaying to a node without a key
};

struct Row
{
    OtherEnd end;
    bool weDial;
    const char* notice; // what A's status line says; nullptr: admitted
};

void useKey(TestNode& node, std::optional<std::uint8_t> fill)
{
    PartyKeyStore::Loaded key;
    key.state = PartyKeyStore::State::Ready;
    if (fill) {
        key.key.emplace();
        key.key->fill(*fill);
    }
    node.settings.setPartyKey(key);
    node.model().goOnline();
}

class PartyKeyTable : public ::testing::TestWithParam<Row>
{
};

TEST_P(PartyKeyTable, OnlyTheSameKeyIsAdmitted)
{
    const Row row = GetParam();
    TestNode a("NodeA");
    useKey(a, 7);
    // The node at the other end: keyed like A, keyed otherwise, or plain (also behind a relay).
    std::unique_ptr<TestNode> b;
    if (row.end != OtherEnd::CertificateServer) {
        b = std::make_unique<TestNode>("NodeB");
        const bool plain = row.end == OtherEnd::NoKey || row.end == OtherEnd::CertificateRelay;
        useKey(*b, plain ? std::nullopt
                         : std::optional<std::uint8_t>(row.end == OtherEnd::SameKey ? 7 : 8));
    }
    std::unique_ptr<CertificatePeer> mitm;
    const bool certificate =
        row.end == OtherEnd::CertificateServer || row.end == OtherEnd::CertificateRelay;
    if (certificate && row.weDial)
        mitm = CertificatePeer::server(b ? b->port() : 0);
    else if (certificate)
        mitm = CertificatePeer::client(a.port(), b != nullptr);
    if (b)
        b->settings.connections().append({"NodeA", "TCP", "127.0.0.1", {}});

    const int bPort = mitm && row.weDial ? mitm->port() : (b ? b->port() : 0);
    a.settings.connections().append({"NodeB", "TCP", "127.0.0.1/" + std::to_string(bPort), {}});
    if (row.weDial)
        a.model().connectPeer("NodeB", "127.0.0.1", bPort);
    else if (b)
        b->model().connectPeer("NodeA", "127.0.0.1", mitm ? mitm->port() : a.port());

    if (!row.notice) {
        EXPECT_TRUE(a.waitConnected("NodeB"));
        EXPECT_TRUE(b->waitConnected("NodeA"));
        return;
    }
    ASSERT_TRUE(plat::runUntil([&] { return !a.detailText().empty(); }, 5000))
        << "A says nothing about the failed connection";
    EXPECT_NE(a.detailText().find(row.notice), std::string::npos) << a.detailText();
    // Which connection: the configured node it dialled, or the address that dialled it.
    EXPECT_NE(a.detailText().find(row.weDial ? "NodeB (127.0.0.1)" : "127.0.0.1:"),
              std::string::npos)
        << a.detailText();
    plat::runFor(300);
    EXPECT_EQ(a.model().establishedCount(), 0);
    if (b) {
        EXPECT_EQ(b->model().establishedCount(), 0);
    }
    if (mitm) {
        EXPECT_EQ(mitm->handshakes(), 0);
        EXPECT_EQ(mitm->plaintext(), "") << "the certificate end read what A sent";
    }
}

std::string rowName(const ::testing::TestParamInfo<Row>& info)
{
    static const char* const names[] = {"SameKey", "OtherKey", "NoKey", "CertificateServer",
                                        "CertificateRelay"};
    return std::string(names[static_cast<int>(info.param.end)]) +
           (info.param.weDial ? "_WeDial" : "_TheyDial");
}

const char* const kOtherKey = "パーティ鍵が一致しません";
const char* const kCut = "鍵の確認中に相手が切断しました";
const char* const kPlain = "暗号化していません";
const char* const kCertificate = "証明書で応答しました";
const char* const kUnkeyed = "パーティ鍵を使いませんでした";

INSTANTIATE_TEST_SUITE_P(OtherEnds, PartyKeyTable,
                         ::testing::Values(Row{OtherEnd::SameKey, true, nullptr},
                                           Row{OtherEnd::SameKey, false, nullptr},
                                           Row{OtherEnd::OtherKey, true, kCut},
                                           Row{OtherEnd::OtherKey, false, kOtherKey},
                                           Row{OtherEnd::NoKey, true, kPlain},
                                           Row{OtherEnd::NoKey, false, kPlain},
                                           Row{OtherEnd::CertificateServer, true, kCertificate},
                                           Row{OtherEnd::CertificateServer, false, kUnkeyed},
                                           Row{OtherEnd::CertificateRelay, true, kCertificate},
                                           Row{OtherEnd::CertificateRelay, false, kUnkeyed}),
                         rowName);

} // namespace
