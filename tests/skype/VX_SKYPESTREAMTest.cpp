#include "skype/VX_SKYPESTREAM.h"

#include "app/CPostError.h"
#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "exchange/NodeContext.h"
#include "platform/Bytes.h"
#include "platform/TlsContext.h"
#include "skype/StreamTls.h"
#include "support/FakeSkypeLink.h"
#include "support/HexBytes.h"
#include "support/TempDir.h"
#include "wire/HelloBody.h"
#include "wire/MessageBuilder.h"
#include "wire/MessageHeader.h"

#include <gtest/gtest.h>

#include <memory>

// One stream over a recording link: what it writes on its ticks (decoded back from the write
// commands), and what it does with what the client reads for it.
namespace {

using namespace catalog;

const std::string App = "PAVO000Party1";
const std::string WritePrefix = "ALTER APPLICATION " + App + " WRITE bob:1 ";
const std::string Disconnect = "ALTER APPLICATION " + App + " DISCONNECT bob:1";

class StreamTest : public ::testing::Test
{
protected:
    StreamTest() : settings(dir.path())
    {
        settings.setNodeName("NodeA");
        settings.setPartyName("Party1");
        settings.connections().append({"NodeB", "SKYPE", "bob", {}});
        catalog = std::make_unique<CCatalog>(node, true);
        stream = std::make_unique<VX_SKYPESTREAM>(link, node, "bob", 1, App, "NodeB");
    }
    ~StreamTest() override
    {
        stream.reset();
        catalog.reset();
    }

    // The messages written so far, decoded; the write commands are checked on the way.
    std::vector<std::vector<std::uint8_t>> written() const
    {
        std::vector<std::vector<std::uint8_t>> out;
        for (const std::string& c : link.startingWith("ALTER APPLICATION " + App + " WRITE")) {
            EXPECT_EQ(c.rfind(WritePrefix, 0), 0u) << c;
            const std::string hex = c.substr(WritePrefix.size());
            EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
            out.push_back(bytesOf(hex));
        }
        return out;
    }
    // Ticks with the client acknowledging every write at once.
    void ticks(int count)
    {
        for (int i = 0; i < count; ++i) {
            stream->tick();
            stream->setSendReady();
        }
    }
    // The text of a READ reply carrying msg stamped with sequence.
    static std::string reply(std::vector<std::uint8_t> msg, std::uint32_t sequence)
    {
        MessageHeader(msg.data()).setSequence(sequence);
        return "bob:1 " + hexOf(msg.data(), msg.size());
    }
    static std::vector<std::uint8_t> message(std::size_t (*build)(std::uint8_t*))
    {
        std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
        buf.resize(build(buf.data()));
        return buf;
    }
    static std::vector<std::uint8_t> hello(std::string_view node, std::string_view party)
    {
        std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
        buf.resize(buildHello(buf.data(), node, party, 0, {}));
        return buf;
    }

    TempDir dir;
    NodeSettings settings;
    NodeContext node{settings};
    std::unique_ptr<CCatalog> catalog;
    FakeSkypeLink link;
    std::unique_ptr<VX_SKYPESTREAM> stream;
};

TEST_F(StreamTest, OneWriteInFlightAndAConversationEvery200Ticks)
{
    stream->tick(); // the first tick only queues the hello and the catalog request
    EXPECT_TRUE(link.commands.empty());
    stream->tick();
    stream->tick(); // not acknowledged: nothing moves
    ASSERT_EQ(written().size(), 1u);
    stream->setSendReady();
    stream->tick();

    const auto msgs = written();
    ASSERT_EQ(msgs.size(), 2u);
    const ConstMessageHeader first(msgs[0].data());
    EXPECT_EQ(first.messageClass(), MsgClass::Hello);
    EXPECT_EQ(first.sequence(), 0u);
    EXPECT_EQ(msgs[0].size(), HelloLayout::MessageSize);
    EXPECT_EQ(HelloBody::read(msgs[0].data()).nodeNameCp932, "NodeA");
    EXPECT_EQ(HelloBody::read(msgs[0].data()).partyNameCp932, "Party1");
    const ConstMessageHeader second(msgs[1].data());
    EXPECT_EQ(second.messageClass(), MsgClass::Catalog);
    EXPECT_EQ(second.messageType(), MsgType::CatalogRequest);
    EXPECT_EQ(second.sequence(), 1u);

    // The next conversation: 200 ticks after the one that started the first.
    stream->setSendReady();
    ticks(199);
    EXPECT_EQ(written().size(), 2u);
    ticks(3);
    EXPECT_EQ(written().size(), 4u);
    EXPECT_EQ(stream->sendSequence(), 4u);
}

TEST_F(StreamTest, PendingSyncRequestRidesTheNextHelloOnly)
{
    const plat::SystemTime april{2026, 4, 3, 1, 0, 0, 0, 0};
    stream->setPendingHello(2, april);
    ticks(3);
    stream->setPendingHello(0, {});
    ticks(204);
    const auto msgs = written();
    ASSERT_GE(msgs.size(), 3u);
    const HelloBody h = HelloBody::read(msgs[0].data());
    EXPECT_EQ(h.syncMode, 2u);
    EXPECT_EQ(h.since, april);
    EXPECT_EQ(HelloBody::read(msgs[2].data()).syncMode, 0u);
}

TEST_F(StreamTest, PassiveStreamNeverStartsButAnswers)
{
    stream->setPassive(true);
    ticks(450);
    EXPECT_TRUE(link.commands.empty());
    // The peer's first hello is answered with a hello, which names this node to the peer.
    stream->receive(reply(hello("NodeB", "Party1"), 0));
    stream->receive(reply(message(buildCatalogRequest), 1));
    stream->receive(reply(hello("NodeB", "Party1"), 2));
    ticks(2);
    const auto msgs = written();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(ConstMessageHeader(msgs[0].data()).messageClass(), MsgClass::Hello);
    EXPECT_EQ(ConstMessageHeader(msgs[1].data()).messageType(), MsgType::CatalogBatch);
}

TEST_F(StreamTest, NothingIsAnsweredBeforeAHelloOfThisPartyAndAnotherPartyIsRefused)
{
    stream->receive(reply(message(buildCatalogRequest), 0));
    ticks(2);
    for (const auto& m : written())
        EXPECT_NE(ConstMessageHeader(m.data()).messageType(), MsgType::CatalogBatch)
            << "a catalog request before any hello is not answered";
    EXPECT_FALSE(stream->admitted());

    stream->receive(reply(hello("NodeB", "Party2"), 1));
    EXPECT_TRUE(stream->refused());
    EXPECT_EQ(link.commands.back(), Disconnect);
    // Nothing more is taken or written once refused.
    const std::size_t before = link.commands.size();
    stream->receive(reply(hello("NodeB", "Party1"), 2));
    stream->receive(reply(message(buildCatalogRequest), 3));
    ticks(3);
    EXPECT_FALSE(stream->admitted());
    EXPECT_EQ(link.commands.size(), before);
}

// The peer answered this node's first request before its own hello arrived: the answer is
// dropped, and the conversation starts again as soon as the hello admits the peer.
TEST_F(StreamTest, AnAnswerOvertakingThePeersHelloIsAskedForAgainAtOnce)
{
    ticks(3);
    ASSERT_EQ(written().size(), 2u);
    auto batch = message(buildCatalogRequest);
    MessageHeader(batch.data()).setMessageType(MsgType::CatalogBatch);
    stream->receive(reply(batch, 0));
    stream->receive(reply(hello("NodeB", "Party1"), 1));
    ticks(3);
    const auto msgs = written();
    ASSERT_EQ(msgs.size(), 4u);
    EXPECT_EQ(ConstMessageHeader(msgs[2].data()).messageClass(), MsgClass::Hello);
    EXPECT_EQ(ConstMessageHeader(msgs[3].data()).messageType(), MsgType::CatalogRequest);
}

TEST_F(StreamTest, KeepAliveAfter3000IdleTicks)
{
    stream->setPassive(true);
    ticks(3000);
    EXPECT_TRUE(link.commands.empty());
    ticks(1);
    const auto msgs = written();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].size(), MsgLayout::HeaderSize);
    EXPECT_EQ(hexOf(msgs[0].data(), 12), "300000000200020000000000");
    ticks(2999);
    EXPECT_EQ(written().size(), 1u);
}

TEST_F(StreamTest, ReceivedMessagesAreNumberedAndOutOfStepOnesDisconnect)
{
    stream->receive(reply(message(buildKeepAlive), 0));
    stream->receive(reply(message(buildKeepAlive), 1));
    EXPECT_EQ(stream->receiveSequence(), 2u);
    EXPECT_TRUE(link.commands.empty());

    // A message numbered 5 when 2 is expected is not processed.
    stream->receive(reply(message(buildCatalogRequest), 5));
    EXPECT_EQ(link.commands, std::vector<std::string>{Disconnect});
    EXPECT_EQ(stream->receiveSequence(), 2u);
    ticks(2);
    EXPECT_EQ(written().size(), 1u) << "only the stream's own hello, no batch";
}

TEST_F(StreamTest, BadDataChangesNothing)
{
    const std::string keepAlive = hexOf(message(buildKeepAlive).data(), MsgLayout::HeaderSize);
    auto longer = message(buildKeepAlive);
    longer.push_back(0);
    auto claimsMore = hello("NodeB", "Party1");
    claimsMore.resize(claimsMore.size() - 1);
    // A hello of the right length whose body length says there is less: the header and the
    // decoded bytes disagree.
    auto shortBody = hello("NodeB", "Party1");
    MessageHeader(shortBody.data()).setBodyLength(100);
    auto overstated = message(buildCatalogRequest);
    MessageHeader(overstated.data()).setMessageType(MsgType::CatalogBatch);
    MessageHeader(overstated.data()).setRecordCount(3);
    auto zeroHeader = message(buildKeepAlive);
    zeroHeader[0] = 0;

    const std::vector<std::string> bad = {
        "carol:1 " + keepAlive,
        "bob:12 " + keepAlive,
        "bob:1" + keepAlive,
        "bob:1",
        "bob:1 " + keepAlive + "0",
        "bob:1 " + std::string(200, 'z'),
        "bob:1 not hex at all, but long enough to fill a header if it were decoded as such....",
        "bob:1 " + std::string(2 * VX_SKYPESTREAM::kBufferSize + 2, '0'),
        "bob:1 " + keepAlive.substr(0, 40),
        reply(longer, 0),
        reply(claimsMore, 0),
        reply(shortBody, 0),
        reply(zeroHeader, 0),
        "",
    };
    for (const std::string& text : bad) {
        stream->receive(text);
        EXPECT_EQ(stream->receiveSequence(), 0u) << text.substr(0, 60);
    }
    EXPECT_TRUE(link.commands.empty());
    stream->receive(reply(message(buildKeepAlive), 0));
    EXPECT_EQ(stream->receiveSequence(), 1u);

    // A batch that claims more records than its body holds is bounded by the body, as over TCP:
    // it is taken (here as an empty batch) and the stream stays connected.
    stream->receive(reply(overstated, 1));
    EXPECT_EQ(stream->receiveSequence(), 2u);
    EXPECT_TRUE(link.commands.empty());
}

TEST_F(StreamTest, HelloBindsThePeerToTheNameItCarries)
{
    stream->receive(reply(hello("NodeZ", "Party1"), 0));
    EXPECT_EQ(stream->peerNodeName(), "NodeZ");
    EXPECT_EQ(settings.connections().records()[0].nodeName, "NodeZ");
    // A hello of another party binds nothing (and closes the stream).
    stream->receive(reply(hello("NodeY", "Party2"), 1));
    EXPECT_EQ(stream->peerNodeName(), "NodeZ");
    EXPECT_EQ(settings.connections().records()[0].nodeName, "NodeZ");
}

TEST_F(StreamTest, MessageTooLongForTheClientIsRefusedBeforeItIsNumbered)
{
    std::vector<std::uint8_t> big(33000);
    const std::size_t headerOnly = buildKeepAlive(big.data());
    plat::putU16(big.data() + MsgLayout::BodyLength,
                 static_cast<std::uint16_t>(33000 - headerOnly));
    EXPECT_FALSE(stream->sendMessage(big.data(), big.size()));
    EXPECT_EQ(stream->sendSequence(), 0u);
    EXPECT_TRUE(stream->sendReady());
    EXPECT_TRUE(link.commands.empty());

    // The largest file answer over this transport fits.
    std::vector<std::uint8_t> chunk(MsgLayout::HeaderSize + CatalogRecord::Size +
                                    VX_SKYPESTREAM::kChunkSize);
    EXPECT_TRUE(stream->sendMessage(chunk.data(), chunk.size()));
    EXPECT_EQ(ConstMessageHeader(written().at(0).data()).sequence(), 0u);
}

// Two nodes' streams joined back to back, as the client joins them: alice (node A) and bob
// (node B), each with its own settings, party key, link and notices; what one writes the other
// reads.
struct KeyedEnd
{
    KeyedEnd(const std::string& nodeName, const std::string& party, const std::string& peerNode,
             const std::string& peerId)
        : settings(dir.path())
    {
        settings.setNodeName(nodeName);
        settings.setPartyName(party);
        settings.connections().append({peerNode, "SKYPE", peerId, {}});
        catalog = std::make_unique<CCatalog>(node, true);
        stream = std::make_unique<VX_SKYPESTREAM>(link, node, peerId, 7, App, peerNode);
    }
    ~KeyedEnd()
    {
        stream.reset();
        catalog.reset();
    }

    TempDir dir;
    NodeSettings settings;
    CPostError notices;
    NodeContext node{settings, nullptr, &notices};
    std::unique_ptr<CCatalog> catalog;
    FakeSkypeLink link;
    std::unique_ptr<VX_SKYPESTREAM> stream;
    std::size_t delivered = 0;
};

std::shared_ptr<plat::TlsContext> contextOf(std::uint8_t fill)
{
    plat::TlsContext::Key key;
    key.fill(fill);
    return plat::TlsContext::create(key);
}

// Hands what each end has written to the other and acknowledges it, tick by tick.
void run(KeyedEnd& a, KeyedEnd& b, const std::string& aId, const std::string& bId, int ticks)
{
    const auto deliver = [](KeyedEnd& from, KeyedEnd& to, const std::string& fromId) {
        for (; from.delivered < from.link.commands.size(); ++from.delivered) {
            const std::string& c = from.link.commands[from.delivered];
            const std::string write = "ALTER APPLICATION " + App + " WRITE ";
            if (c.rfind(write, 0) != 0)
                continue;
            const std::size_t blank = c.find(' ', write.size());
            to.stream->receive(fromId + ":7" + c.substr(blank));
            from.stream->setSendReady();
        }
    };
    for (int i = 0; i < ticks; ++i) {
        a.stream->tick();
        b.stream->tick();
        deliver(a, b, aId);
        deliver(b, a, bId);
    }
}

// Every byte alice's stream wrote, decoded.
std::string writtenBytes(const KeyedEnd& end)
{
    std::string all;
    const std::string write = "ALTER APPLICATION " + App + " WRITE ";
    for (const std::string& c : end.link.startingWith(write)) {
        const auto bytes = bytesOf(c.substr(c.find(' ', write.size()) + 1));
        all.append(bytes.begin(), bytes.end());
    }
    return all;
}

TEST(KeyedStreamTest, TheOtherEndIsAdmittedOnlyWithTheSameKeyAndParty)
{
    struct Row
    {
        const char* what;
        std::uint8_t bobKey; // 0: none
        const char* bobParty;
        bool admitted;
        const char* notice;
    };
    const Row rows[] = {
        {"same key", 1, "Party1", true, ""},
        {"same key, another party", 1, "Party2", false, ""},
        {"another key", 2, "Party1", false, "パーティ鍵が一致しません"},
        {"no key (plain messages)", 0, "Party1", false, "パーティ鍵が一致しません"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        KeyedEnd alice("NodeA", "Party1", "NodeB", "bob");
        KeyedEnd bob("NodeB", row.bobParty, "NodeA", "alice");
        alice.stream->setTls(contextOf(1), StreamTls::startsHandshake("alice", "bob"), nullptr);
        if (row.bobKey)
            bob.stream->setTls(contextOf(row.bobKey), StreamTls::startsHandshake("bob", "alice"),
                               nullptr);
        run(alice, bob, "alice", "bob", 20);

        EXPECT_EQ(alice.stream->admitted(), row.admitted);
        EXPECT_EQ(bob.stream->admitted(), row.admitted);
        // The end that finds the mismatch closes the stream and says why.
        EXPECT_EQ(alice.stream->refused() || bob.stream->refused(), !row.admitted);
        const std::string notices = alice.notices.detailText() + bob.notices.detailText();
        EXPECT_NE(notices.find(row.notice), std::string::npos) << notices;
        // The end that did not find it learns it when the client closes the stream.
        alice.notices.postDetail("");
        bob.notices.postDetail("");
        alice.stream->onClosedByPeer();
        bob.stream->onClosedByPeer();
        const std::string closed = alice.notices.detailText() + bob.notices.detailText();
        if (row.admitted || !row.bobKey || std::string(row.notice).empty()) {
            EXPECT_EQ(closed, "") << "an established or plain stream says nothing more";
        } else {
            EXPECT_NE(closed.find("パーティ鍵が一致しません"), std::string::npos) << closed;
        }
        // Whatever alice wrote, neither her party, her node name nor a message header crosses
        // in the clear.
        const std::string sent = writtenBytes(alice);
        EXPECT_FALSE(sent.empty());
        for (const std::string& clear :
             {std::string("Party1"), std::string("NodeA"), std::string("\x02\x00\x02\x00", 4)})
            EXPECT_EQ(sent.find(clear), std::string::npos);
    }
}

} // namespace
