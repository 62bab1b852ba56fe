#include "support/ScriptedPeer.h"
#include "support/SquatterPool.h"
#include "support/TestNode.h"

#include "app/CPostError.h"
#include "catalog/CCatalog.h"
#include "platform/Bytes.h"
#include "platform/EventLoop.h"
#include "tcp/CTcpA2AModel.h"
#include "tcp/CTcpSockStream.h"
#include "wire/MessageHeader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

using namespace catalog;
namespace fs = std::filesystem;

// Attacks on a node's TCP side, one per row, each against a fresh node core on a real loopback
// socket. Every row states what the node must do about the attack; after every row an honest
// configured peer must still be admitted and download the node's small file byte for byte.
namespace {

constexpr const char* kSmallFile = "small.txt";

std::vector<std::uint8_t> smallContent()
{
    std::vector<std::uint8_t> bytes(70000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + (i >> 8));
    return bytes;
}

class HostileTable : public ::testing::Test
{
public:
    void SetUp() override
    {
        node.settings.connections().append({"NodeB", "TCP", "127.0.0.1", {}});
        node.settings.connections().append({"NodeC", "TCP", "127.0.0.1", {}});
        const auto bytes = smallContent();
        std::ofstream(node.settings.getSendFolder() + "/" + kSmallFile, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        own =
            makeTestRecord("NodeA", "Party1", kSmallFile, static_cast<std::uint32_t>(bytes.size()));
        node.catalog().addLocal(own);
    }

    // A peer that dials and says hello (as name, of party).
    std::unique_ptr<ScriptedPeer> greet(const std::string& name,
                                        const std::string& party = "Party1")
    {
        auto p = std::make_unique<ScriptedPeer>(name, "Party1");
        EXPECT_TRUE(p->dial(node.port()));
        p->send(p->hello(0, {}, party));
        return p;
    }

    std::unique_ptr<ScriptedPeer> admitted(const std::string& name)
    {
        auto p = greet(name);
        EXPECT_TRUE(node.waitConnected(name));
        return p;
    }

    // Sends a catalog batch and then a catalog request; the node answers the request only after
    // it has merged the batch, which came first.
    void sendBatch(ScriptedPeer& p, const std::vector<CatalogRecord>& records)
    {
        p.send(ScriptedPeer::catalogBatch(records));
        p.send(ScriptedPeer::catalogRequest());
        EXPECT_TRUE(p.nextOf(MsgClass::Catalog, MsgType::CatalogBatch));
    }

    bool ownFileStillListed()
    {
        CatalogRecord r;
        return node.catalog().hasEntry("NodeA", kSmallFile, &r) && r.kind() != RecordKind::Deleted;
    }

    // Every file and folder under the working folder lies in SEND, RECV or CATALOG, or is a
    // file the node keeps at the top.
    std::vector<std::string> strayPaths() const
    {
        std::vector<std::string> stray;
        for (const auto& e : fs::recursive_directory_iterator(node.dir.path())) {
            const std::string rel = fs::relative(e.path(), node.dir.path()).string();
            const std::string top = rel.substr(0, rel.find('/'));
            if (top != "SEND" && top != "RECV" && top != "CATALOG" && top != "Pavo.ini")
                stray.push_back(rel);
        }
        return stray;
    }

    // The honest NodeB: dials until it is admitted (as the coordinator re-dials), asks for the
    // catalog and fetches the small file chunk by chunk.
    std::vector<std::uint8_t> honestDownload()
    {
        std::unique_ptr<ScriptedPeer> p;
        std::optional<ScriptedPeer::Message> batch;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!batch && std::chrono::steady_clock::now() < deadline) {
            p = std::make_unique<ScriptedPeer>("NodeB", "Party1");
            if (!p->dial(node.port(), 1000))
                continue;
            p->sendHello();
            p->send(ScriptedPeer::catalogRequest());
            batch = p->nextOf(MsgClass::Catalog, MsgType::CatalogBatch, 1000);
        }
        if (!batch)
            return {};
        std::optional<CatalogRecord> record;
        for (const CatalogRecord& r : batch->records())
            if (r.fileNameUtf8() == kSmallFile)
                record = r;
        if (!record)
            return {};
        std::vector<std::uint8_t> got;
        while (got.size() < record->fileSize()) {
            CatalogRecord ask = *record;
            ask.setBytesReceived(static_cast<std::uint32_t>(got.size()));
            p->send(ScriptedPeer::fileRequest(ask));
            auto data = p->nextOf(MsgClass::File, MsgType::FileData);
            if (!data || data->chunk().empty())
                break;
            got.insert(got.end(), data->chunk().begin(), data->chunk().end());
        }
        return got;
    }

    TestNode node;
    CatalogRecord own;
    // Held while the honest peer downloads, when a row starts them.
    std::unique_ptr<SquatterPool> squatters;
};

// Polls of the node's 50 ms timer, in real milliseconds under the tests' time scale, with room
// for a loaded machine.
int pollsMs(std::uint32_t polls)
{
    return static_cast<int>(polls * CTcpA2AModel::kPollMs * 0.02) + 3000;
}

struct Row
{
    const char* name;
    std::function<void(HostileTable&)> attack;
};

class HostilePeerRow : public HostileTable, public ::testing::WithParamInterface<Row>
{
};

TEST_P(HostilePeerRow, IsFendedOffAndAnHonestPeerStillDownloads)
{
    GetParam().attack(*this);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(honestDownload(), smallContent());
    EXPECT_TRUE(ownFileStillListed());
    EXPECT_EQ(strayPaths(), std::vector<std::string>{});
}

const Row kRows[] = {
    {"ConfiguredNameWithAnotherParty",
     [](HostileTable& t) {
         // Names a configured node but another party: refused with the party notice before
         // anything is answered.
         auto p = t.greet("NodeB", "Party2");
         p->send(ScriptedPeer::catalogRequest());
         p->send(ScriptedPeer::fileRequest(t.own));
         EXPECT_TRUE(p->waitClosed());
         EXPECT_TRUE(t.node.waitNotice(CPostError::kPartyMismatch));
         EXPECT_FALSE(p->nextOf(MsgClass::Catalog, MsgType::CatalogBatch, 0));
         EXPECT_FALSE(p->nextOf(MsgClass::File, MsgType::FileData, 0));
     }},
    {"SilentSquatterOnAConfiguredName",
     [](HostileTable& t) {
         // Admitted as NodeB, then silent: it is closed after three hello periods, and the real
         // NodeB (tried meanwhile, refused as a duplicate) gets in afterwards.
         auto squatter = t.admitted("NodeB");
         ScriptedPeer early("NodeB", "Party1");
         ASSERT_TRUE(early.dial(t.node.port()));
         early.sendHello();
         EXPECT_TRUE(early.waitClosed());
         EXPECT_TRUE(squatter->waitClosed(pollsMs(CTcpSockStream::kSilentTicks)));
     }},
    {"SquatterTricklingAFrameNeverCompleted",
     [](HostileTable& t) {
         // Bytes that never make a whole message are not a sign of life.
         auto squatter = t.admitted("NodeB");
         std::vector<std::uint8_t> part = ScriptedPeer::catalogRequest();
         plat::putU16(part.data() + 2, 9000);
         squatter->sendRaw(std::span(part).first(40));
         plat::runFor(200);
         squatter->sendRaw(std::span(part).subspan(40, 8));
         EXPECT_TRUE(squatter->waitClosed(pollsMs(CTcpSockStream::kSilentTicks)));
     }},
    {"ManyConnectionsThatNeverSayHello",
     [](HostileTable& t) {
         // At most kMaxWaitingPerAddress from one address wait at once (each new one closes the
         // oldest), and every one of them is closed once its handshake time is up.
         std::vector<std::unique_ptr<ScriptedPeer>> idle;
         for (int i = 0; i < 40; ++i) {
             idle.push_back(std::make_unique<ScriptedPeer>("Idle", "Party1"));
             idle.back()->dial(t.node.port(), 1000);
         }
         plat::runFor(100);
         EXPECT_LE(t.node.model().pendingCount(), CTcpA2AModel::kMaxWaitingPerAddress);
         const auto closedCount = [&] {
             return std::count_if(idle.begin(), idle.end(),
                                  [](const auto& p) { return p->closed(); });
         };
         EXPECT_TRUE(plat::runUntil(
             [&] { return closedCount() >= 40 - CTcpA2AModel::kMaxWaitingPerAddress; }, 3000));
         EXPECT_TRUE(plat::runUntil([&] { return closedCount() == 40; },
                                    pollsMs(CTcpSockStream::kHandshakeTicks)));
         EXPECT_EQ(t.node.model().pendingCount(), 0);
     }},
    {"IdleConnectionsHeldFromManyOtherAddresses",
     [](HostileTable& t) {
         // 200 sockets from 50 other addresses, none ever saying a word, each dialled again as
         // soon as the node closes it. The waiting room never holds more than its places, and
         // since every newcomer closes the oldest waiting connection, the honest peer (from yet
         // another address) gets in and downloads while they keep pressing.
         t.squatters = std::make_unique<SquatterPool>(t.node.port(), 200, 4);
         // Until the room has been full (the node then says why it closes connections).
         ASSERT_TRUE(plat::runUntil(
             [&] {
                 EXPECT_LE(t.node.model().pendingCount(), CTcpA2AModel::kMaxUnadmitted);
                 return t.node.detailText().find("挨拶待ちのTCP接続が多すぎる") !=
                        std::string::npos;
             },
             20000))
             << t.node.detailText();
         EXPECT_GT(t.squatters->open(), CTcpA2AModel::kMaxUnadmitted);
     }},
    {"HalfAHelloAndThenNothing",
     [](HostileTable& t) {
         ScriptedPeer p("NodeB", "Party1");
         ASSERT_TRUE(p.dial(t.node.port()));
         const auto hello = p.hello();
         p.sendRaw(std::span(hello).first(600));
         EXPECT_TRUE(p.waitClosed(pollsMs(CTcpSockStream::kHandshakeTicks)));
     }},
    {"HugeFrameBeforeAdmission",
     [](HostileTable& t) {
         // Before its hello a peer gets no room for long messages: the frame error comes at
         // once, not after 64 KiB have been buffered.
         ScriptedPeer p("NodeB", "Party1");
         ASSERT_TRUE(p.dial(t.node.port()));
         std::vector<std::uint8_t> big(48, 0);
         MessageHeader h(big.data());
         h.init(MsgClass::Catalog, MsgType::CatalogBatch);
         h.setBodyLength(60000);
         p.sendRaw(big);
         EXPECT_TRUE(p.waitClosed(1000));
         EXPECT_TRUE(t.node.waitNotice(CPostError::kFrameError));
     }},
    {"FloodOfSmallMessagesBeforeTheHello",
     [](HostileTable& t) {
         // Read a few at a time and ignored; counted, so the hello after them is in sequence.
         ScriptedPeer p("NodeC", "Party1");
         ASSERT_TRUE(p.dial(t.node.port()));
         for (int i = 0; i < 500; ++i)
             p.send(ScriptedPeer::catalogRequest());
         p.sendHello();
         EXPECT_TRUE(t.node.waitConnected("NodeC"));
         EXPECT_FALSE(p.nextOf(MsgClass::Catalog, MsgType::CatalogBatch, 0));
         EXPECT_FALSE(p.closed());
     }},
    {"HelloOutOfSequence",
     [](HostileTable& t) {
         ScriptedPeer p("NodeB", "Party1");
         ASSERT_TRUE(p.dial(t.node.port()));
         p.sendSequence() = 7;
         p.sendHello();
         EXPECT_TRUE(p.waitClosed());
         EXPECT_EQ(t.node.model().isConnected("NodeB", {}), 0);
     }},
    {"RecordsClaimingThisNodeAsOrigin",
     [](HostileTable& t) {
         // A withdrawal and a "newer version" of the node's own file: both ignored, so the
         // purge leaves the file in SEND and it is still served.
         auto p = t.admitted("NodeC");
         CatalogRecord deletion = t.own;
         deletion.setKind(RecordKind::Deleted);
         stampChecksum(deletion);
         CatalogRecord changed = t.own;
         changed.setKind(RecordKind::Changed);
         plat::SystemTime later = changed.registrationTime();
         later.year += 1;
         changed.setRegistrationTime(later);
         stampChecksum(changed);
         t.sendBatch(*p, {changed, deletion});
         t.node.catalog().purge();
         EXPECT_EQ(t.node.catalog().count(), 1);
     }},
    {"RecordsWithPathTricksAndDoubleSpellings",
     [](HostileTable& t) {
         // None of these may name a file: climbing out, a folder separator, and the second
         // CP932 spelling of a character whose first spelling is another entry's name.
         auto p = t.admitted("NodeC");
         std::vector<CatalogRecord> records;
         for (const char* name : {"..", "../../Pavo.ini", "a/b", "\x87\x90.txt"})
             records.push_back(makeTestRecord("NodeC", "Party1", name, 10));
         records.push_back(makeTestRecord("..", "Party1", "x.txt", 10));
         records.push_back(makeTestRecord("NodeC", "Party1", "\x81\xE0.txt", 10));
         t.sendBatch(*p, records);
         // Only the first spelling of "≒" is a name.
         EXPECT_EQ(t.node.catalog().count(), 2);
         for (const CatalogRecord& r : records)
             p->send(ScriptedPeer::fileData(r, 0, std::vector<std::uint8_t>(10, 'x')));
         p->send(ScriptedPeer::catalogRequest());
         EXPECT_TRUE(p->nextOf(MsgClass::Catalog, MsgType::CatalogBatch));
     }},
    {"FileRequestsOutsideTheCatalog",
     [](HostileTable& t) {
         // Asking for the settings file through a crafted record, or past the end of the
         // real one, yields no bytes.
         auto p = t.admitted("NodeC");
         CatalogRecord trick = makeTestRecord("NodeA", "Party1", "../Pavo.ini", 100);
         p->send(ScriptedPeer::fileRequest(trick));
         auto data = p->nextOf(MsgClass::File, MsgType::FileData);
         ASSERT_TRUE(data);
         EXPECT_TRUE(data->chunk().empty());
         CatalogRecord past = t.own;
         past.setBytesReceived(0xFFFFFF00u);
         p->send(ScriptedPeer::fileRequest(past));
         data = p->nextOf(MsgClass::File, MsgType::FileData);
         ASSERT_TRUE(data);
         EXPECT_TRUE(data->chunk().empty());
     }},
};

INSTANTIATE_TEST_SUITE_P(Attacks, HostilePeerRow, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
