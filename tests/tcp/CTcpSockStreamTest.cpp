#include "support/ScriptedPeer.h"
#include "support/TestNode.h"

#include "catalog/CCatalog.h"
#include "exchange/CExchange.h"
#include "platform/Bytes.h"
#include "platform/EventLoop.h"
#include "tcp/CTcpA2AModel.h"
#include "tcp/CTcpSockStream.h"
#include "wire/HelloBody.h"
#include "wire/MessageBuilder.h"
#include "wire/MessageHeader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>

using namespace catalog;

namespace {

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 9));
    return bytes;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A node with two configured TCP peers; NodeB is admitted at the start of every test.
class CTcpSockStreamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        node.settings.connections().append({"NodeB", "TCP", "127.0.0.1", {}});
        node.settings.connections().append({"NodeC", "TCP", "127.0.0.1", {}});
        peer = admit("NodeB");
    }

    std::unique_ptr<ScriptedPeer> admit(const std::string& name)
    {
        auto p = std::make_unique<ScriptedPeer>(name, "Party1");
        EXPECT_TRUE(p->dial(node.port()));
        p->sendHello();
        EXPECT_TRUE(node.waitConnected(name));
        // The node's first conversation on the new connection, out of the way of the tests'
        // own requests and answers.
        EXPECT_TRUE(p->nextOf(MsgClass::Catalog, MsgType::CatalogRequest));
        return p;
    }

    // Asks the node for a batch and returns its records.
    std::vector<CatalogRecord> askBatch(ScriptedPeer& p)
    {
        p.send(ScriptedPeer::catalogRequest());
        auto batch = p.nextOf(MsgClass::Catalog, MsgType::CatalogBatch);
        EXPECT_TRUE(batch);
        return batch ? batch->records() : std::vector<CatalogRecord>{};
    }

    // The node's own plain file, registered in its catalog.
    CatalogRecord ownFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        writeFile(node.settings.getSendFolder() + "/" + name, bytes);
        CatalogRecord r =
            makeTestRecord("NodeA", "Party1", name, static_cast<std::uint32_t>(bytes.size()));
        node.catalog().addLocal(r);
        return r;
    }

    TestNode node;
    std::unique_ptr<ScriptedPeer> peer;
};

// Naming a configured node in a hello of another party admits nobody: the connection ends with
// the party notice before anything is answered. Later, an admitted peer's hello of another party
// ends it the same way.
TEST_F(CTcpSockStreamTest, AHelloOfAnotherPartyIsRefusedBeforeAndAfterAdmission)
{
    ScriptedPeer other("NodeC", "Party1");
    ASSERT_TRUE(other.dial(node.port()));
    other.send(other.hello(0, {}, "Party2"));
    other.send(ScriptedPeer::catalogRequest());
    EXPECT_TRUE(other.waitClosed());
    EXPECT_TRUE(node.waitNotice(1));
    EXPECT_EQ(node.model().isConnected("NodeC", {}), 0);
    EXPECT_FALSE(other.nextOf(MsgClass::Catalog, MsgType::CatalogBatch, 0));

    auto admitted = admit("NodeC");
    node.notices.clear();
    admitted->send(admitted->hello(0, {}, "Party2"));
    EXPECT_TRUE(admitted->waitClosed());
    EXPECT_TRUE(node.waitNotice(1));
    EXPECT_EQ(std::count(node.notices.begin(), node.notices.end(), std::make_pair(1, 0)), 1);
    EXPECT_EQ(node.model().isConnected("NodeC", {}), 0);
}

struct HostileCase
{
    const char* name;
    // Mangles a catalog request that NodeC sends once admitted (or raw bytes if the request
    // is left empty).
    void (*mangle)(std::vector<std::uint8_t>& msg, std::uint32_t& sequence);
};

class HostilePeerTest : public CTcpSockStreamTest, public ::testing::WithParamInterface<HostileCase>
{
};

TEST_P(HostilePeerTest, EndsThatConnectionWithAFrameErrorAndNothingElse)
{
    auto hostile = admit("NodeC");
    std::vector<std::uint8_t> msg = ScriptedPeer::catalogRequest();
    std::uint32_t sequence = hostile->sendSequence();
    GetParam().mangle(msg, sequence);
    plat::putU32(msg.data() + MsgLayout::Sequence, sequence);
    hostile->sendRaw(msg);

    EXPECT_TRUE(hostile->waitClosed());
    EXPECT_TRUE(node.waitNotice(3));
    EXPECT_EQ(node.model().isConnected("NodeC", {}), 0);

    // The other connection does not notice.
    EXPECT_EQ(node.model().isConnected("NodeB", {}), 1);
    EXPECT_TRUE(peer->sequenceInOrder());
    askBatch(*peer);
    EXPECT_FALSE(peer->closed());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, HostilePeerTest,
    ::testing::Values(HostileCase{"SequenceOneAhead", [](auto&, std::uint32_t& seq) { ++seq; }},
                      HostileCase{"SequenceRepeated", [](auto&, std::uint32_t& seq) { --seq; }},
                      HostileCase{"HeaderLengthZero",
                                  [](auto& m, std::uint32_t&) {
                                      plat::putU16(m.data(), 0);
                                      plat::putU16(m.data() + 2, 48);
                                  }},
                      HostileCase{"LengthsBelowAHeader",
                                  [](auto& m, std::uint32_t&) { plat::putU16(m.data(), 20); }},
                      HostileCase{"LengthsAboveTheLargestMessage",
                                  [](auto& m, std::uint32_t&) {
                                      plat::putU16(m.data(), 1000);
                                      plat::putU16(m.data() + 2, 65000);
                                      m.resize(66000);
                                  }},
                      HostileCase{"HelloTooShortToHoldItsNames",
                                  [](auto& m, std::uint32_t&) {
                                      MessageHeader h(m.data());
                                      h.init(MsgClass::Hello, MsgType::Hello);
                                      h.setBodyLength(20);
                                      m.resize(68);
                                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// The count is the peer's word; the body that arrived bounds it and the connection goes on.
TEST_F(CTcpSockStreamTest, ARecordCountBeyondTheBodyIsBoundedByIt)
{
    const CatalogRecord one = makeTestRecord("NodeB", "Party1", "only.txt", 10);
    std::vector<std::uint8_t> batch = ScriptedPeer::catalogBatch(std::span(&one, 1));
    MessageHeader(batch.data()).setRecordCount(3);
    peer->send(batch);

    // The first request may be the periodic one that left before the batch was read, so the
    // merge is waited for rather than taken from the request.
    ASSERT_TRUE(peer->nextOf(MsgClass::Catalog, MsgType::CatalogRequest));
    EXPECT_TRUE(plat::runUntil([&] { return node.catalog().count() == 1; }, 3000));
    EXPECT_TRUE(node.catalog().hasEntry("NodeB", "only.txt", nullptr));
    EXPECT_FALSE(peer->closed());
    EXPECT_EQ(node.model().isConnected("NodeB", {}), 1);
}

TEST_F(CTcpSockStreamTest, TheFirstMessageMustCarrySequenceZero)
{
    ScriptedPeer late("NodeC", "Party1");
    ASSERT_TRUE(late.dial(node.port()));
    late.sendSequence() = 1;
    late.sendHello();
    EXPECT_TRUE(late.waitClosed());
    EXPECT_TRUE(node.waitNotice(3));
    EXPECT_EQ(node.model().isConnected("NodeC", {}), 0);
}

TEST_F(CTcpSockStreamTest, FramesAreCutFromTheStreamWhereverTheReadsEnd)
{
    // Two requests in one write: two batches.
    std::vector<std::uint8_t> two = ScriptedPeer::catalogRequest();
    plat::putU32(two.data() + MsgLayout::Sequence, peer->sendSequence()++);
    std::vector<std::uint8_t> second = ScriptedPeer::catalogRequest();
    plat::putU32(second.data() + MsgLayout::Sequence, peer->sendSequence()++);
    two.insert(two.end(), second.begin(), second.end());
    peer->sendRaw(two);
    EXPECT_TRUE(peer->nextOf(MsgClass::Catalog, MsgType::CatalogBatch));
    EXPECT_TRUE(peer->nextOf(MsgClass::Catalog, MsgType::CatalogBatch));

    // One hello over several reads: nothing happens before its last byte.
    std::vector<std::uint8_t> hello = peer->hello();
    plat::putU32(hello.data() + MsgLayout::Sequence, peer->sendSequence()++);
    std::vector<std::uint8_t> request = ScriptedPeer::catalogRequest();
    plat::putU32(request.data() + MsgLayout::Sequence, peer->sendSequence()++);
    hello.insert(hello.end(), request.begin(), request.end());
    const std::size_t cuts[] = {0, 1, 47, 48, 700, 1079, 1080, 1100};
    for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
        peer->sendRaw(std::span(hello).subspan(cuts[i], cuts[i + 1] - cuts[i]));
        plat::runFor(20);
        EXPECT_FALSE(peer->nextOf(MsgClass::Catalog, MsgType::CatalogBatch, 0)) << cuts[i + 1];
    }
    peer->sendRaw(std::span(hello).subspan(1100));
    EXPECT_TRUE(peer->nextOf(MsgClass::Catalog, MsgType::CatalogBatch));
    EXPECT_FALSE(peer->closed());
}

TEST_F(CTcpSockStreamTest, ABatchOfTwelveWithABadChecksumMergesTheRestAndAsksAgain)
{
    std::vector<CatalogRecord> records;
    for (int i = 0; i < 12; ++i)
        records.push_back(makeTestRecord("NodeB", "Party1", "file" + std::to_string(i), 100));
    records[5].bytes[RecordLayout::FileDescription + 60] ^= 0x40;
    peer->send(ScriptedPeer::catalogBatch(records));

    auto request = peer->nextOf(MsgClass::Catalog, MsgType::CatalogRequest);
    ASSERT_TRUE(request);
    // The request may be the one that follows the admission, sent before the batch arrived.
    EXPECT_TRUE(plat::runUntil([&] { return node.catalog().count() == 11; }, 3000));
    EXPECT_FALSE(node.catalog().hasEntry("NodeB", records[5].fileNameUtf8(), nullptr));
    EXPECT_TRUE(node.catalog().hasEntry("NodeB", "file11", nullptr));
}

TEST_F(CTcpSockStreamTest, AnEmptyBatchStartsTheFirstFileRequest)
{
    const CatalogRecord announced = makeTestRecord("NodeB", "Party1", "report.txt", 5000);
    peer->send(ScriptedPeer::catalogBatch(std::span(&announced, 1)));
    ASSERT_TRUE(peer->nextOf(MsgClass::Catalog, MsgType::CatalogRequest));
    peer->send(ScriptedPeer::catalogBatch({}));

    auto request = peer->nextOf(MsgClass::File, MsgType::FileRequest);
    ASSERT_TRUE(request);
    ASSERT_EQ(request->records().size(), 1u);
    EXPECT_EQ(request->records()[0].fileNameUtf8(), "report.txt");
    EXPECT_EQ(request->header().fileOffset(), 0u);
}

TEST_F(CTcpSockStreamTest, ChunkSizeFollowsTheRequestersProtocolVersion)
{
    const std::vector<std::uint8_t> bytes = pattern(128000, 3);
    const CatalogRecord own = ownFile("big.bin", bytes);
    const struct
    {
        std::uint16_t version;
        std::size_t chunk;
    } cases[] = {{2, 51200}, {3, 51200}, {1, 10240}, {0, 10240}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        CatalogRecord from = own;
        from.setBytesReceived(100000);
        peer->send(ScriptedPeer::fileRequest(from, c.version));
        auto data = peer->nextOf(MsgClass::File, MsgType::FileData);
        ASSERT_TRUE(data);
        const std::size_t expected = std::min<std::size_t>(c.chunk, bytes.size() - 100000);
        ASSERT_EQ(data->chunk().size(), expected);
        EXPECT_TRUE(std::equal(data->chunk().begin(), data->chunk().end(), bytes.begin() + 100000));
        EXPECT_EQ(data->header().chunkLength(), expected);
    }
}

TEST_F(CTcpSockStreamTest, ADownloadResumesWhereItBrokeOff)
{
    const std::vector<std::uint8_t> bytes = pattern(128000, 11);
    const CatalogRecord announced =
        makeTestRecord("NodeB", "Party1", "movie.bin", static_cast<std::uint32_t>(bytes.size()));
    peer->send(ScriptedPeer::catalogBatch(std::span(&announced, 1)));
    ASSERT_TRUE(peer->nextOf(MsgClass::Catalog, MsgType::CatalogRequest));
    peer->send(ScriptedPeer::catalogBatch({}));
    auto request = peer->nextOf(MsgClass::File, MsgType::FileRequest);
    ASSERT_TRUE(request);
    const CatalogRecord asked = request->records()[0];
    peer->send(ScriptedPeer::fileData(asked, 0, std::span(bytes).first(51200)));
    request = peer->nextOf(MsgClass::File, MsgType::FileRequest);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header().fileOffset(), 51200u);

    // The connection breaks; the next one asks from where the file stands.
    peer.reset();
    ASSERT_TRUE(plat::runUntil([&] { return node.model().isConnected("NodeB", {}) == 0; }, 3000));
    peer = admit("NodeB");
    peer->send(ScriptedPeer::catalogBatch({}));
    request = peer->nextOf(MsgClass::File, MsgType::FileRequest);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header().fileOffset(), 51200u);

    for (std::uint32_t offset = 51200; offset < bytes.size(); offset += 51200) {
        const std::size_t n = std::min<std::size_t>(51200, bytes.size() - offset);
        peer->send(ScriptedPeer::fileData(request->records()[0], offset,
                                          std::span(bytes).subspan(offset, n)));
        if (offset + n < bytes.size()) {
            request = peer->nextOf(MsgClass::File, MsgType::FileRequest);
            ASSERT_TRUE(request);
        }
    }
    CatalogRecord stored;
    ASSERT_TRUE(plat::runUntil(
        [&] {
            return node.catalog().hasEntry("NodeB", "movie.bin", &stored) && stored.completeFlag();
        },
        3000));
    EXPECT_EQ(readFile(node.settings.getRecvFolder() + "/NodeB/movie.bin"), bytes);
}

// Two peers hold the same files: the node fetches a.bin from one and b.bin from the other, never
// the same entry over both; a 0-byte answer (the peer cannot serve b.bin) moves that connection
// on to c.bin. When the first connection goes, the next conversation of the other one continues
// a.bin where it stands.
TEST_F(CTcpSockStreamTest, TwoPeersFetchDifferentEntriesAndAZeroByteAnswerMovesOn)
{
    const std::vector<std::uint8_t> bytes = pattern(120000, 5);
    const CatalogRecord files[] = {makeTestRecord("NodeB", "Party1", "a.bin", 120000),
                                   makeTestRecord("NodeB", "Party1", "b.bin", 300),
                                   makeTestRecord("NodeB", "Party1", "c.bin", 300)};
    auto other = admit("NodeC");
    std::optional<ScriptedPeer::Message> asked[2];
    ScriptedPeer* peers[] = {peer.get(), other.get()};
    const char* expected[] = {"a.bin", "b.bin"};
    for (int i = 0; i < 2; ++i) {
        peers[i]->send(ScriptedPeer::catalogBatch(files));
        ASSERT_TRUE(peers[i]->nextOf(MsgClass::Catalog, MsgType::CatalogRequest));
        peers[i]->send(ScriptedPeer::catalogBatch({}));
        asked[i] = peers[i]->nextOf(MsgClass::File, MsgType::FileRequest);
        ASSERT_TRUE(asked[i]);
        ASSERT_EQ(asked[i]->records()[0].fileNameUtf8(), expected[i]);
        ASSERT_EQ(asked[i]->header().fileOffset(), 0u);
    }
    ASSERT_EQ(node.catalog().count(), 3);

    const auto first = std::span(bytes).first(51200);
    peer->send(ScriptedPeer::fileData(asked[0]->records()[0], 0, first));
    auto onward = peer->nextOf(MsgClass::File, MsgType::FileRequest);
    ASSERT_TRUE(onward);
    EXPECT_EQ(onward->records()[0].fileNameUtf8(), "a.bin");
    EXPECT_EQ(onward->header().fileOffset(), 51200u);

    other->send(ScriptedPeer::fileData(asked[1]->records()[0], 0, {}));
    auto moved = other->nextOf(MsgClass::File, MsgType::FileRequest);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->records()[0].fileNameUtf8(), "c.bin");
    CatalogRecord b;
    ASSERT_TRUE(node.catalog().hasEntry("NodeB", "b.bin", &b));
    EXPECT_EQ(b.bytesReceived(), 0u);
    EXPECT_EQ(b.completeFlag(), 0u);
    other->send(ScriptedPeer::fileData(moved->records()[0], 0, std::span(bytes).first(300)));
    ASSERT_TRUE(plat::runUntil(
        [&] { return node.catalog().hasEntry("NodeB", "c.bin", &b) && b.completeFlag(); }, 3000));

    peer.reset();
    ASSERT_TRUE(plat::runUntil([&] { return node.model().isConnected("NodeB", {}) == 0; }, 3000));
    other->send(ScriptedPeer::catalogBatch({}));
    auto resumed = other->nextOf(MsgClass::File, MsgType::FileRequest);
    ASSERT_TRUE(resumed);
    EXPECT_EQ(resumed->records()[0].fileNameUtf8(), "a.bin");
    EXPECT_EQ(resumed->header().fileOffset(), 51200u);
    EXPECT_FALSE(other->closed());
}

// A peer that floods requests and does not read the answers: the node keeps the connection,
// stops reading when it has no room (the peer's writes then block in the kernel), and once the
// peer reads again every request is answered, in order, with no sequence gap.
TEST_F(CTcpSockStreamTest, AFloodingPeerIsHeldBackAndLosesNothing)
{
    const std::vector<std::uint8_t> bytes = pattern(10240, 3);
    const CatalogRecord own = ownFile("flood.bin", bytes);
    CatalogRecord asked = own;
    ASSERT_TRUE(node.catalog().hasEntry("NodeA", "flood.bin", &asked));
    asked.setBytesReceived(0);
    peer->setReading(false);
    int sent = 0;
    // Version 1 requests are answered with 10240 bytes: the whole file each time.
    while (peer->unsent() == 0 && sent < 40000) {
        for (int i = 0; i < 200; ++i, ++sent)
            peer->send(ScriptedPeer::fileRequest(asked, 1));
        plat::runUntil([] { return false; }, 5);
    }
    ASSERT_GT(peer->unsent(), 0u) << "the node never stopped reading";
    peer->setReading(true);
    int answered = 0;
    while (answered < sent) {
        auto data = peer->nextOf(MsgClass::File, MsgType::FileData, 10000);
        ASSERT_TRUE(data) << answered << " of " << sent;
        ASSERT_EQ(data->header().chunkLength(), 10240u);
        ++answered;
    }
    EXPECT_TRUE(peer->sequenceInOrder());
    EXPECT_FALSE(peer->closed());
    EXPECT_EQ(node.model().isConnected("NodeB", {}), 1);
}

// A change moves at once: a registration makes the node start a conversation at its next poll,
// its hello telling the peer there is news; a peer's hello with that news makes the node ask for
// it at once. Both well before the periodic conversation (every 401 polls, about 400 ms here).
TEST_F(CTcpSockStreamTest, NewsStartsAConversationAtTheNextPoll)
{
    const int halfPeriodMs = plat::scaledMs(static_cast<int>(CTcpSockStream::kHelloTicks / 2) * 50);

    const auto registered = std::chrono::steady_clock::now();
    ownFile("news.bin", pattern(100, 1));
    auto hello = peer->nextOf(MsgClass::Hello, MsgType::Hello);
    ASSERT_TRUE(hello);
    EXPECT_LT(std::chrono::steady_clock::now() - registered,
              std::chrono::milliseconds(halfPeriodMs));
    const HelloBody body = HelloBody::read(hello->bytes.data());
    EXPECT_TRUE(body.hasFlow);
    EXPECT_EQ(body.flowWindow, CExchange::kMaxWindow);
    EXPECT_TRUE(body.flowFlags & FlowNews);
    ASSERT_TRUE(peer->nextOf(MsgClass::Catalog, MsgType::CatalogRequest));
    // The peer fetches the news.
    const auto batch = askBatch(*peer);
    ASSERT_EQ(batch.size(), 1u);
    EXPECT_EQ(batch[0].fileNameUtf8(), "news.bin");

    auto news = peer->hello();
    writeHelloFlow(news.data(), 64, FlowNews);
    const auto told = std::chrono::steady_clock::now();
    peer->send(news);
    ASSERT_TRUE(peer->nextOf(MsgClass::Catalog, MsgType::CatalogRequest));
    EXPECT_LT(std::chrono::steady_clock::now() - told, std::chrono::milliseconds(halfPeriodMs));
    EXPECT_FALSE(peer->closed());
}

TEST_F(CTcpSockStreamTest, AHelloWithASyncModeQueuesTheEntriesAskedFor)
{
    // Entries registered before NodeD was configured are not pending for it.
    const plat::SystemTime march{2026, 3, 0, 15, 10, 0, 0, 0};
    const plat::SystemTime april{2026, 4, 0, 2, 10, 0, 0, 0};
    for (const auto& [name, when] : {std::pair{"old.txt", march}, std::pair{"new.txt", april}}) {
        writeFile(node.settings.getSendFolder() + "/" + name, pattern(10, 1));
        CatalogRecord r = makeTestRecord("NodeA", "Party1", name, 10);
        r.setRegistrationTime(when);
        stampChecksum(r);
        node.catalog().addLocal(r);
    }
    node.settings.connections().append({"NodeD", "TCP", "127.0.0.1", {}});
    auto d = admit("NodeD");
    EXPECT_TRUE(askBatch(*d).empty());

    const plat::SystemTime since{2026, 4, 0, 1, 0, 0, 0, 0};
    d->sendHello(2, since);
    std::vector<CatalogRecord> got = askBatch(*d);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].fileNameUtf8(), "new.txt");

    d->sendHello(1, {});
    EXPECT_EQ(askBatch(*d).size(), 2u);
}

TEST_F(CTcpSockStreamTest, APeerNotYetAdmittedGetsNoCatalogAndNoFile)
{
    CatalogRecord own = ownFile("secret.txt", pattern(3000, 5));
    own.setBytesReceived(0);
    ScriptedPeer stranger("NodeC", "Party1");
    ASSERT_TRUE(stranger.dial(node.port()));
    stranger.send(ScriptedPeer::fileRequest(own));
    stranger.send(ScriptedPeer::catalogRequest());
    EXPECT_FALSE(stranger.nextOf(MsgClass::File, MsgType::FileData, 200));
    EXPECT_FALSE(stranger.nextOf(MsgClass::Catalog, MsgType::CatalogBatch, 0));

    // The messages counted: the hello that follows is in sequence and admits the peer.
    stranger.sendHello();
    EXPECT_TRUE(node.waitConnected("NodeC"));
    stranger.send(ScriptedPeer::fileRequest(own));
    auto data = stranger.nextOf(MsgClass::File, MsgType::FileData);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->chunk().size(), 3000u);
}

} // namespace
