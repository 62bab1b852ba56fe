#include "skype/VX_A2AMODEL.h"

#include "app/CA2AModelListener.h"
#include "app/CPostError.h"
#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "exchange/NodeContext.h"
#include "platform/EventLoop.h"
#include "skype/VX_SKYPEAPPLICATION.h"
#include "skype/VX_SKYPECOM.h"
#include "skype/VX_SKYPEMODEL.h"
#include "skype/VX_SKYPESTREAM.h"
#include "support/FakeSkypeLink.h"
#include "support/StandinProcess.h"
#include "support/TempDir.h"
#include "support/TestNode.h"
#include "wire/HelloBody.h"
#include "wire/MessageBuilder.h"
#include "wire/MessageHeader.h"

#include <gtest/gtest.h>

#include <fstream>

// The Skype peer model: routing and timing over a recording link, then a node core (link, user
// model, peer model, catalog) against the stand-in, with raw client programs as its peers.
namespace {

using namespace catalog;

const std::string App = "PAVO000Party1";

struct Changes : CA2AModelListener
{
    int count = 0;
    void onConnectionChanged() override { ++count; }
};

class PeerModelTest : public ::testing::Test
{
protected:
    PeerModelTest() : settings((TestNode::useFastTimers(), dir.path()))
    {
        settings.setNodeName("NodeA");
        settings.setPartyName("Party1");
        settings.connections().append({"NodeB", "SKYPE", "bob", {}});
        peers.addListener(&changes);
        peers.setApplicationName(App);
    }
    ~PeerModelTest() override { plat::runFor(1); }

    TempDir dir;
    NodeSettings settings;
    NodeContext node{settings};
    FakeSkypeLink link;
    VX_SKYPEMODEL users{link};
    VX_A2AMODEL peers{link, users, node};
    Changes changes;
};

TEST_F(PeerModelTest, AttachCreatesTheNamedApplicationOnly)
{
    peers.onAttachState(VX_SKYPECOM::LINK_PENDING);
    EXPECT_TRUE(link.commands.empty());
    peers.onAttachState(VX_SKYPECOM::LINK_ATTACHED);
    EXPECT_EQ(link.commands, std::vector<std::string>{"CREATE APPLICATION " + App});
}

TEST_F(PeerModelTest, RepliesReachTheSlotTheyName)
{
    peers.createApplications();
    peers.onApplication("CREATE APPLICATION PAVO000Other");
    peers.onApplication("DELETE APPLICATION " + App); // never sent
    EXPECT_EQ(peers.application().state(), VX_SKYPEAPPLICATION::APP_NONE);
    peers.onApplication("CREATE APPLICATION " + App);
    EXPECT_EQ(peers.application().state(), VX_SKYPEAPPLICATION::APP_CREATED);

    const std::vector<std::string> ignored = {"APPLICATION PAVO000Other STREAMS bob:1",
                                              "APPLICATION " + App,
                                              "ALTER APPLICATIONS " + App + " STREAMS bob:1",
                                              "ALTER " + App + " STREAMS bob:1",
                                              "APPLICATIONS " + App + " STREAMS bob:1",
                                              "ALTER",
                                              "CREATE"};
    for (const std::string& text : ignored)
        peers.onApplication(text);
    EXPECT_EQ(peers.application().streamCount(), 0u);

    peers.onApplication("APPLICATION " + App + " STREAMS bob:1");
    ASSERT_EQ(peers.application().streamCount(), 1u);
    EXPECT_EQ(changes.count, 1);
    std::vector<std::uint8_t> msg(MsgLayout::MaxMessage);
    msg.resize(buildKeepAlive(msg.data()));
    std::string hex;
    for (std::uint8_t b : msg) {
        static const char d[] = "0123456789abcdef";
        hex += d[b >> 4];
        hex += d[b & 15];
    }
    peers.onApplication("ALTER APPLICATION " + App + " READ bob:1 " + hex);
    EXPECT_EQ(peers.application().stream(0)->receiveSequence(), 1u);
}

TEST_F(PeerModelTest, ConnectableQueryEvery300TicksWhileTheApplicationExists)
{
    for (int i = 0; i < 700; ++i)
        peers.tick();
    EXPECT_EQ(link.count("GET APPLICATION"), 0) << "no query while APP_NONE";

    peers.createApplications();
    peers.onApplication("CREATE APPLICATION " + App);
    link.commands.clear();
    peers.application().setPollCounter(0);
    for (int i = 0; i < 300; ++i)
        peers.tick();
    EXPECT_TRUE(link.commands.empty());
    peers.tick();
    EXPECT_EQ(link.commands, std::vector<std::string>{"GET APPLICATION " + App + " CONNECTABLE"});
}

// The application of the other kind (keyed or not) is asked for with the connectable contacts; a
// configured contact found only there has a party key that does not match, which is said (once
// a minute), and the client's word on its server's limit is said too.
TEST_F(PeerModelTest, AConfiguredContactOnTheOtherKindsApplicationIsReported)
{
    CPostError notices;
    node.setNotices(&notices);
    settings.connections().append({"NodeC", "SKYPE", "carol", {}});
    peers.setMismatchProbe("PAVOTLS1");
    peers.createApplications();
    peers.onApplication("CREATE APPLICATION " + App);
    link.commands.clear();
    peers.application().setPollCounter(300);
    peers.tick();
    EXPECT_EQ(link.commands, (std::vector<std::string>{"GET APPLICATION " + App + " CONNECTABLE",
                                                       "GET APPLICATION PAVOTLS1 CONNECTABLE"}));

    users.onUsers("bob, carol, dave");
    peers.onApplication("APPLICATION " + App + " CONNECTABLE bob");
    // bob runs both (connectable here: no mismatch), dave is no configured peer.
    peers.onApplication("APPLICATION PAVOTLS1 CONNECTABLE bob dave");
    EXPECT_EQ(notices.detailText(), "");
    peers.onApplication("APPLICATION PAVOTLS1 CONNECTABLE bob carol dave");
    EXPECT_EQ(notices.detailText(),
              "SKYPE接続 NodeC (carol) のパーティ鍵が一致しません.接続しません.");

    peers.onApplication("APPLICATION " + App + " SENDLIMIT 10240");
    EXPECT_EQ(notices.detailText(), "メッセージサーバーがこの接続を約10 kB/sに制限しています.");
    node.setNotices(nullptr);
}

TEST_F(PeerModelTest, DetachThenAttachStartsAfresh)
{
    peers.onAttachState(VX_SKYPECOM::LINK_ATTACHED);
    peers.onApplication("CREATE APPLICATION " + App);
    peers.onApplication("APPLICATION " + App + " STREAMS bob:1");
    ASSERT_EQ(peers.application().streamCount(), 1u);

    link.commands.clear();
    peers.reset();
    EXPECT_EQ(peers.application().streamCount(), 0u);
    EXPECT_EQ(peers.application().state(), VX_SKYPEAPPLICATION::APP_NONE);
    peers.onAttachState(VX_SKYPECOM::LINK_ATTACHED);
    EXPECT_EQ(link.commands, std::vector<std::string>{"CREATE APPLICATION " + App});
    EXPECT_EQ(peers.application().streamCount(), 0u);
}

// --- against the stand-in -------------------------------------------------------------------

std::string hexOf(const std::vector<std::uint8_t>& msg)
{
    static const char d[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : msg) {
        out += d[b >> 4];
        out += d[b & 15];
    }
    return out;
}

std::vector<std::uint8_t> bytesOf(std::string_view hex)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

// The real link, with the commands the node sends and the application texts it receives kept
// in one log, in the order they happened. Registered before the models, so a notification is
// logged before the commands it causes.
class LinkTap : public SkypeLink, public VX_SKYPECOMUSER
{
public:
    explicit LinkTap(VX_SKYPECOM& link) : m_link(link) { m_link.addUser(this); }
    ~LinkTap() override { m_link.removeUser(this); }

    void addUser(VX_SKYPECOMUSER* user) override { m_link.addUser(user); }
    void removeUser(VX_SKYPECOMUSER* user) override { m_link.removeUser(user); }
    int sendCommand(std::string_view text) override
    {
        log.push_back("> " + std::string(text.substr(0, 200)));
        return m_link.sendCommand(text);
    }
    int linkState() const override { return m_link.linkState(); }
    void onApplication(std::string_view text) override
    {
        log.push_back("< " + std::string(text.substr(0, 200)));
    }

    std::vector<std::string> log;

private:
    VX_SKYPECOM& m_link;
};

// A node core of user alice: settings, catalog, link, user model and peer model.
class StandinPeersTest : public ::testing::Test
{
protected:
    StandinPeersTest() : settings((TestNode::useFastTimers(), dir.path()))
    {
        settings.setNodeName("NodeA");
        settings.setPartyName("Party1");
        settings.connections().append({"NodeB", "SKYPE", "bob", {}});
        settings.connections().append({"NodeD", "SKYPE", "dave", {}});
        std::ofstream(dir.file("users.ini"))
            << "[alice]\nruntime = alice\ncontacts = bob, carol, dave\n"
               "[bob]\nruntime = bob\ncontacts = alice\n"
               "[carol]\nruntime = carol\ncontacts = alice\n"
               "[dave]\nruntime = dave\ncontacts = alice\n";
        catalog = std::make_unique<CCatalog>(node, true);
    }
    ~StandinPeersTest() override
    {
        peers.reset();
        users.reset();
        plat::runFor(5);
        peers.reset();
        catalog.reset();
    }

    bool startNode()
    {
        if (!standin.start())
            return false;
        peers.setApplicationName(App);
        link.openWindow({});
        return plat::runUntil(
            [&] { return peers.application().state() == VX_SKYPEAPPLICATION::APP_CREATED; }, 5000);
    }
    // A peer program that runs the node's application.
    std::unique_ptr<StandinClient> peer(const std::string& user)
    {
        auto p = std::make_unique<StandinClient>(dir.file(user));
        EXPECT_TRUE(p->attach());
        EXPECT_EQ(p->command("CREATE APPLICATION " + App).result, 1u);
        return p;
    }
    // The stream number the peer's stream list names for alice.
    static int streamTo(StandinClient& p)
    {
        const auto list = p.waitFor("APPLICATION " + App + " STREAMS alice:");
        return list ? std::stoi(list->substr(list->rfind(':') + 1)) : -1;
    }
    // The next message alice wrote to the peer, read and decoded.
    static std::vector<std::uint8_t> readFromAlice(StandinClient& p, int number)
    {
        const std::string item = "alice:" + std::to_string(number);
        if (!p.waitFor("APPLICATION " + App + " RECEIVED " + item))
            return {};
        const auto r = p.command("ALTER APPLICATION " + App + " READ " + item);
        const std::string prefix = "ALTER APPLICATION " + App + " READ " + item + " ";
        for (const auto& n : r.notes) {
            if (n.rfind(prefix, 0) == 0)
                return bytesOf(n.substr(prefix.size()));
        }
        return {};
    }
    static void writeToAlice(StandinClient& p, int number, std::vector<std::uint8_t> msg,
                             std::uint32_t sequence)
    {
        MessageHeader(msg.data()).setSequence(sequence);
        p.command("ALTER APPLICATION " + App + " WRITE alice:" + std::to_string(number) + " " +
                  hexOf(msg));
    }
    static std::vector<std::uint8_t> keepAlive()
    {
        std::vector<std::uint8_t> m(MsgLayout::MaxMessage);
        m.resize(buildKeepAlive(m.data()));
        return m;
    }
    int aliceSequence(const std::string& id)
    {
        for (std::size_t i = 0; i < peers.application().slotCount(); ++i) {
            if (auto* s = peers.application().stream(i); s && s->peerSkypeId() == id)
                return static_cast<int>(s->receiveSequence());
        }
        return -1;
    }

    TempDir dir;
    NodeSettings settings;
    NodeContext node{settings};
    // Outlives the models, which tell their listeners until they go.
    Changes changes;
    std::unique_ptr<CCatalog> catalog;
    StandinProcess standin{dir.file("users.ini")};
    VX_SKYPECOM link{ClientWire::endpointPath(dir.file("alice"))};
    LinkTap tap{link};
    VX_SKYPEMODEL users{tap};
    VX_A2AMODEL peers{tap, users, node};
};

TEST_F(StandinPeersTest, ConnectableContactsConnectAndTalk)
{
    ASSERT_TRUE(startNode());
    auto bob = peer("bob");
    // Learnt at the next connectable query, at most 300 ticks away.
    ASSERT_TRUE(plat::runUntil([&] { return users.isConnectable("bob") == 1; }, 5000));
    EXPECT_EQ(users.isConnectable("carol"), 0) << "carol runs no node";

    peers.application().connect("bob");
    const int number = streamTo(*bob);
    ASSERT_GT(number, 0);
    ASSERT_TRUE(plat::runUntil([&] { return peers.application().hasStream("bob") == 1; }, 5000));
    EXPECT_EQ(peers.application().state(), VX_SKYPEAPPLICATION::APP_CONNECTED);

    // alice opens the conversation: a hello naming her node, then a catalog request.
    const auto hello = readFromAlice(*bob, number);
    ASSERT_EQ(hello.size(), HelloLayout::MessageSize);
    EXPECT_EQ(HelloBody::read(hello.data()).nodeNameCp932, "NodeA");
    EXPECT_EQ(ConstMessageHeader(hello.data()).sequence(), 0u);
    const auto request = readFromAlice(*bob, number);
    ASSERT_EQ(request.size(), MsgLayout::HeaderSize);
    EXPECT_EQ(ConstMessageHeader(request.data()).messageClass(), MsgClass::Catalog);
    EXPECT_EQ(ConstMessageHeader(request.data()).sequence(), 1u);

    // bob's messages are read and numbered; one out of step ends the stream.
    writeToAlice(*bob, number, keepAlive(), 0);
    writeToAlice(*bob, number, keepAlive(), 1);
    ASSERT_TRUE(plat::runUntil([&] { return aliceSequence("bob") == 2; }, 5000));
    writeToAlice(*bob, number, keepAlive(), 7);
    ASSERT_TRUE(plat::runUntil([&] { return peers.application().hasStream("bob") == 0; }, 5000));
    EXPECT_TRUE(bob->waitFor("APPLICATION " + App + " STREAMS"));
}

TEST_F(StandinPeersTest, UnconfiguredPeerIsDisconnectedAtOnce)
{
    ASSERT_TRUE(startNode());
    auto carol = peer("carol");
    EXPECT_EQ(carol->command("ALTER APPLICATION " + App + " CONNECT alice").result, 1u);
    ASSERT_GT(streamTo(*carol), 0);
    // alice refuses it as soon as she sees it; carol's list becomes empty.
    ASSERT_TRUE(carol->waitFor("APPLICATION " + App + " STREAMS", 5000));
    plat::runFor(50);
    EXPECT_EQ(peers.application().streamCount(), 0u);
    EXPECT_EQ(peers.application().state(), VX_SKYPEAPPLICATION::APP_CREATED);
}

TEST_F(StandinPeersTest, DataWaitingOnTwoStreamsIsReadInTurn)
{
    ASSERT_TRUE(startNode());
    auto bob = peer("bob");
    auto dave = peer("dave");
    EXPECT_EQ(bob->command("ALTER APPLICATION " + App + " CONNECT alice").result, 1u);
    EXPECT_EQ(dave->command("ALTER APPLICATION " + App + " CONNECT alice").result, 1u);
    const int b = streamTo(*bob);
    const int d = streamTo(*dave);
    ASSERT_TRUE(plat::runUntil([&] { return peers.application().streamCount() == 2; }, 5000));

    // Both write before alice's loop runs again: her client lists two streams with data, and
    // she reads one per notification until both are done.
    writeToAlice(*bob, b, keepAlive(), 0);
    writeToAlice(*dave, d, keepAlive(), 0);
    writeToAlice(*bob, b, keepAlive(), 1);
    writeToAlice(*dave, d, keepAlive(), 1);
    ASSERT_TRUE(plat::runUntil(
        [&] { return aliceSequence("bob") == 2 && aliceSequence("dave") == 2; }, 5000));
    EXPECT_EQ(peers.application().streamCount(), 2u);

    // Each data notification gets one read, for its first item, even when it lists both.
    const std::string received = "< APPLICATION " + App + " RECEIVED ";
    const std::string read = "> ALTER APPLICATION " + App + " READ ";
    bool listedBoth = false;
    std::string expected;
    int reads = -1;
    for (const std::string& line : tap.log) {
        if (line.rfind(received, 0) == 0) {
            EXPECT_TRUE(reads == -1 || reads == 1) << "before " << line;
            const std::string items = line.substr(received.size());
            listedBoth = listedBoth || items.find(' ') != std::string::npos;
            expected = read + items.substr(0, items.find('='));
            reads = 0;
        } else if (line.rfind(read, 0) == 0) {
            EXPECT_EQ(line, expected);
            ++reads;
        }
    }
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(listedBoth) << "the client never had data waiting on two streams";
}

TEST_F(StandinPeersTest, ClosedStreamLeavesItsSlotToTheNextOne)
{
    ASSERT_TRUE(startNode());
    peers.addListener(&changes);
    auto bob = peer("bob");
    auto dave = peer("dave");
    EXPECT_EQ(bob->command("ALTER APPLICATION " + App + " CONNECT alice").result, 1u);
    const int b = streamTo(*bob);
    ASSERT_TRUE(plat::runUntil([&] { return peers.application().hasStream("bob") == 1; }, 5000));
    EXPECT_EQ(dave->command("ALTER APPLICATION " + App + " CONNECT alice").result, 1u);
    ASSERT_TRUE(plat::runUntil([&] { return peers.application().streamCount() == 2; }, 5000));
    ASSERT_EQ(peers.application().slotCount(), 2u);
    VX_SKYPESTREAM* daveStream = peers.application().stream(1);
    ASSERT_TRUE(daveStream && daveStream->peerSkypeId() == "dave");

    // bob's end closes: his slot empties, dave's stream stays where it was.
    EXPECT_EQ(
        bob->command("ALTER APPLICATION " + App + " DISCONNECT alice:" + std::to_string(b)).result,
        1u);
    ASSERT_TRUE(plat::runUntil([&] { return peers.application().hasStream("bob") == 0; }, 5000));
    EXPECT_EQ(peers.application().stream(0), nullptr);
    EXPECT_EQ(peers.application().stream(1), daveStream);

    // A new stream takes the free slot; the listeners hear of it once.
    const int before = changes.count;
    EXPECT_EQ(bob->command("ALTER APPLICATION " + App + " CONNECT alice").result, 1u);
    ASSERT_TRUE(plat::runUntil([&] { return peers.application().hasStream("bob") == 1; }, 5000));
    plat::runFor(20);
    ASSERT_EQ(peers.application().slotCount(), 2u);
    ASSERT_NE(peers.application().stream(0), nullptr);
    EXPECT_EQ(peers.application().stream(0)->peerSkypeId(), "bob");
    EXPECT_NE(peers.application().stream(0)->number(), b);
    EXPECT_EQ(peers.application().stream(1), daveStream);
    EXPECT_EQ(changes.count, before + 1);
}

TEST_F(StandinPeersTest, LostClientDropsEveryStreamAndReattaches)
{
    ASSERT_TRUE(startNode());
    auto bob = peer("bob");
    EXPECT_EQ(bob->command("ALTER APPLICATION " + App + " CONNECT alice").result, 1u);
    ASSERT_TRUE(plat::runUntil([&] { return peers.application().hasStream("bob") == 1; }, 5000));

    // What the transfer coordinator does on a detach, here by hand.
    struct Resetter : VX_SKYPECOMUSER
    {
        VX_A2AMODEL* peers;
        VX_SKYPEMODEL* users;
        void onAttachState(int state) override
        {
            if (state == 0) {
                peers->reset();
                users->reset();
            }
        }
    } resetter;
    resetter.peers = &peers;
    resetter.users = &users;
    link.addUser(&resetter);

    bob.reset();
    standin.stop();
    ASSERT_TRUE(plat::runUntil([&] { return link.linkState() == 0; }, 5000));
    EXPECT_EQ(peers.application().streamCount(), 0u);
    EXPECT_TRUE(users.contacts().empty());

    ASSERT_TRUE(standin.start());
    ASSERT_TRUE(plat::runUntil(
        [&] { return peers.application().state() == VX_SKYPEAPPLICATION::APP_CREATED; }, 5000));
    EXPECT_EQ(users.contacts().size(), 3u);
    link.removeUser(&resetter);
}

} // namespace
