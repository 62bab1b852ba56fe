#include "skype/VX_SKYPEAPPLICATION.h"

#include "app/CPostError.h"
#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "exchange/NodeContext.h"
#include "platform/EventLoop.h"
#include "platform/TlsContext.h"
#include "skype/VX_SKYPEAPPLICATIONLISTENER.h"
#include "skype/VX_SKYPEMODEL.h"
#include "skype/VX_SKYPESTREAM.h"
#include "support/FakeSkypeLink.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

// One application slot over a recording link: the stream lists it follows, the data it reads,
// its echoes and its commands.
namespace {

const std::string App = "PAVO000Party1";

struct Listener : VX_SKYPEAPPLICATIONLISTENER
{
    int changes = 0;
    void onStreamsChanged() override { ++changes; }
};

class ApplicationTest : public ::testing::Test
{
protected:
    ApplicationTest() : settings(dir.path())
    {
        settings.setNodeName("NodeA");
        settings.setPartyName("Party1");
        settings.connections().append({"NodeB", "SKYPE", "bob", {}});
        settings.connections().append({"NodeC", "SKYPE", "carol", {}});
        settings.connections().append({"NodeT", "TCP", "mallory", {}});
        app.setName(App, 0);
        app.addListener(&listener);
    }
    ~ApplicationTest() override { plat::runFor(1); } // retired streams are freed

    // "peer:number" of every slot, "-" for an empty one.
    std::vector<std::string> slots() const
    {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < app.slotCount(); ++i) {
            const VX_SKYPESTREAM* s = app.stream(i);
            out.push_back(s ? s->peerSkypeId() + ":" + std::to_string(s->number()) : "-");
        }
        return out;
    }

    TempDir dir;
    NodeSettings settings;
    NodeContext node{settings};
    FakeSkypeLink link;
    VX_SKYPEMODEL users{link};
    VX_SKYPEAPPLICATION app{link, &users, node};
    Listener listener;
};

TEST_F(ApplicationTest, StreamListsAreFollowedAndFreeSlotsReused)
{
    app.onNotification("STREAMS bob:1");
    EXPECT_EQ(slots(), std::vector<std::string>{"bob:1"});
    EXPECT_EQ(app.state(), VX_SKYPEAPPLICATION::APP_CONNECTED);
    EXPECT_EQ(listener.changes, 1);
    VX_SKYPESTREAM* bob = app.stream(0);
    EXPECT_EQ(bob->peerNodeName(), "NodeB");

    // The existing stream is kept (same object), one is added, the listeners hear once.
    app.onNotification("STREAMS bob:1 carol:2");
    EXPECT_EQ(slots(), (std::vector<std::string>{"bob:1", "carol:2"}));
    EXPECT_EQ(app.stream(0), bob);
    EXPECT_EQ(listener.changes, 2);

    // A list without bob leaves his slot empty; the next new stream takes it.
    app.onNotification("STREAMS carol:2");
    EXPECT_EQ(slots(), (std::vector<std::string>{"-", "carol:2"}));
    EXPECT_EQ(listener.changes, 3);
    EXPECT_EQ(app.hasStream("bob"), 0);
    app.onNotification("STREAMS carol:2,bob:7");
    EXPECT_EQ(slots(), (std::vector<std::string>{"bob:7", "carol:2"}));

    // The same list again changes nothing and tells nobody.
    const int changes = listener.changes;
    app.onNotification("STREAMS carol:2 bob:7");
    EXPECT_EQ(listener.changes, changes);
    EXPECT_TRUE(link.commands.empty());

    app.onNotification("STREAMS   ");
    EXPECT_EQ(app.streamCount(), 0u);
    EXPECT_EQ(app.state(), VX_SKYPEAPPLICATION::APP_CREATED);
    EXPECT_EQ(listener.changes, changes + 1);
}

TEST_F(ApplicationTest, StreamsFromUnconfiguredPeersAreDisconnectedAtOnce)
{
    app.onNotification("STREAMS mallory:3 bob:1 eve:4");
    EXPECT_EQ(slots(), std::vector<std::string>{"bob:1"});
    EXPECT_EQ(link.commands,
              (std::vector<std::string>{"ALTER APPLICATION " + App + " DISCONNECT mallory:3",
                                        "ALTER APPLICATION " + App + " DISCONNECT eve:4"}));
    // Off line, even configured peers are refused.
    link.commands.clear();
    settings.setOnline(false);
    app.onNotification("STREAMS bob:1 carol:2");
    EXPECT_EQ(slots(), std::vector<std::string>{"bob:1"});
    EXPECT_EQ(link.commands,
              std::vector<std::string>{"ALTER APPLICATION " + App + " DISCONNECT carol:2"});
}

TEST_F(ApplicationTest, MalformedStreamListsAreIgnoredWhole)
{
    app.onNotification("STREAMS bob:1");
    link.commands.clear();
    const std::vector<std::string> bad = {
        "STREAMS carol",       "STREAMS carol:",      "STREAMS carol:x",
        "STREAMS :2",          "STREAMS carol:2 bob", "STREAMS carol:1234567890",
        "STREAMS carol:-1",    "STREAMS carol:2=5",   "STREAMS " + std::string(120, 'c') + ":1",
        "STREAMS ca\x01rol:2",
    };
    for (const std::string& text : bad) {
        app.onNotification(text);
        EXPECT_EQ(slots(), std::vector<std::string>{"bob:1"}) << text;
    }
    std::string many = "STREAMS";
    for (int i = 0; i < 1025; ++i)
        many += " carol:" + std::to_string(i + 1);
    app.onNotification(many);
    EXPECT_EQ(slots(), std::vector<std::string>{"bob:1"});
    EXPECT_TRUE(link.commands.empty());
}

TEST_F(ApplicationTest, StreamCountIsBounded)
{
    std::string list = "STREAMS";
    const int count = static_cast<int>(VX_SKYPEAPPLICATION::kMaxStreams) + 3;
    for (int i = 1; i <= count; ++i)
        list += " bob:" + std::to_string(i);
    app.onNotification(list);
    EXPECT_EQ(app.streamCount(), VX_SKYPEAPPLICATION::kMaxStreams);
    EXPECT_EQ(link.count("ALTER APPLICATION " + App + " DISCONNECT bob:"), 3);
}

TEST_F(ApplicationTest, ReceivedReadsOnlyTheFirstItem)
{
    app.onNotification("RECEIVED bob:1=1080 carol:2=96");
    EXPECT_EQ(link.commands, std::vector<std::string>{"ALTER APPLICATION " + App + " READ bob:1"});

    link.commands.clear();
    for (const char* text : {"RECEIVED", "RECEIVED ", "RECEIVED bob:1", "RECEIVED bob:1=10 carol:2",
                             "RECEIVED bob=10", "RECEIVED bob:1=x", "RECEIVED b ob:1=10"}) {
        app.onNotification(text);
    }
    EXPECT_TRUE(link.commands.empty());
}

TEST_F(ApplicationTest, SendingReadyOnlyWhenNothingIsLeft)
{
    app.onNotification("STREAMS bob:1 carol:2");
    VX_SKYPESTREAM* bob = app.stream(0);
    std::uint8_t message[48] = {48, 0, 0, 0, 2, 0, 2, 0};
    ASSERT_TRUE(bob->sendMessage(message, sizeof message));
    EXPECT_FALSE(bob->sendReady());
    app.onNotification("SENDING bob:1=96");
    EXPECT_FALSE(bob->sendReady());
    app.onNotification("SENDING ");
    EXPECT_TRUE(bob->sendReady());
}

TEST_F(ApplicationTest, EchoesAndCommands)
{
    app.createApplication();
    EXPECT_EQ(app.createCommand(), "CREATE APPLICATION " + App);
    app.onCreateEcho();
    EXPECT_EQ(app.state(), VX_SKYPEAPPLICATION::APP_CREATED);
    EXPECT_EQ(link.commands, (std::vector<std::string>{"CREATE APPLICATION " + App,
                                                       "GET APPLICATION " + App + " CONNECTABLE"}));

    users.onUsers("bob, carol");
    app.onNotification("CONNECTABLE carol bob");
    EXPECT_EQ(users.isConnectable("bob"), 1);
    app.onNotification("CONNECTABLE ");
    EXPECT_EQ(users.isConnectable("bob"), 0);

    link.commands.clear();
    app.connect("bob");
    app.connect("");
    app.connect("two words");
    EXPECT_EQ(link.commands, std::vector<std::string>{"ALTER APPLICATION " + App + " CONNECT bob"});
    EXPECT_EQ(app.connectTarget(), "bob");

    app.onNotification("STREAMS bob:1 bob:2 carol:3");
    link.commands.clear();
    app.disconnectPeer("bob");
    EXPECT_EQ(link.commands,
              (std::vector<std::string>{"ALTER APPLICATION " + App + " DISCONNECT bob:1",
                                        "ALTER APPLICATION " + App + " DISCONNECT bob:2"}));

    // Deleting the application closes its streams at the client, which lists them no more
    // under this name: they go with the echo.
    link.commands.clear();
    app.deleteApplication();
    EXPECT_EQ(link.commands, std::vector<std::string>{"DELETE APPLICATION " + App});
    const int changes = listener.changes;
    app.onDeleteEcho();
    EXPECT_EQ(app.state(), VX_SKYPEAPPLICATION::APP_NONE);
    EXPECT_EQ(app.streamCount(), 0u);
    EXPECT_EQ(listener.changes, changes + 1);
}

TEST_F(ApplicationTest, ResetAndDestruction)
{
    app.createApplication();
    app.onCreateEcho();
    app.onNotification("STREAMS bob:1");
    app.setPollCounter(120);
    app.reset();
    EXPECT_EQ(app.state(), VX_SKYPEAPPLICATION::APP_NONE);
    EXPECT_EQ(app.pollCounter(), 0);
    EXPECT_EQ(app.streamCount(), 0u);

    // Only an application the client knows is deleted when the slot goes.
    link.commands.clear();
    {
        VX_SKYPEAPPLICATION unused(link, &users, node);
        unused.setName(App, 0);
    }
    EXPECT_TRUE(link.commands.empty());
    {
        VX_SKYPEAPPLICATION created(link, &users, node);
        created.setName(App, 0);
        created.createApplication();
        created.onCreateEcho();
    }
    EXPECT_EQ(link.commands.back(), "DELETE APPLICATION " + App);
}

TEST_F(ApplicationTest, ANewerListAppliedFromInsideACommandWins)
{
    // While the refusal of eve is being sent, the client reports that bob's stream closed; the
    // older list must not bring it back.
    link.onCommand = [&](const std::string& c) {
        if (c.find("DISCONNECT eve:4") != std::string::npos)
            app.onNotification("STREAMS carol:2");
    };
    app.onNotification("STREAMS bob:1");
    app.onNotification("STREAMS eve:4 bob:1 carol:2");
    EXPECT_EQ(slots(), (std::vector<std::string>{"-", "carol:2"}));
}

TEST_F(ApplicationTest, LongNamesAreCut)
{
    const std::string party(24, 'p');
    app.setName("PAVO000" + party, 0);
    EXPECT_EQ(app.name(), "PAVO000" + party);
    app.setName(std::string(150, 'n'), 0);
    EXPECT_EQ(app.name(), std::string(99, 'n'));
}

} // namespace

TEST_F(ApplicationTest, APassiveApplicationsStreamsStartNoExchange)
{
    CCatalog catalog(node, true); // the hello describes the catalog
    for (bool passive : {false, true}) {
        app.setPassive(passive);
        app.onNotification("STREAMS bob:1");
        VX_SKYPESTREAM* bob = app.stream(0);
        ASSERT_NE(bob, nullptr);
        link.commands.clear();
        for (int i = 0; i < 450; ++i) {
            bob->tick();
            bob->setSendReady();
        }
        EXPECT_EQ(link.commands.empty(), passive) << passive;
        app.onNotification("STREAMS   ");
    }
}

// A keyed stream the peer closes during its handshake was refused for its key, and the notice
// says so whether other streams stay listed or the list is left empty.
TEST(KeyedApplication, AStreamClosedDuringItsHandshakeSaysTheKeysDiffer)
{
    const std::pair<const char*, const char*> lists[] = {
        {"STREAMS bob:1 carol:2", "STREAMS carol:2"},
        {"STREAMS bob:1", "STREAMS "},
    };
    for (const auto& [before, after] : lists) {
        SCOPED_TRACE(after);
        TempDir dir;
        NodeSettings settings(dir.path());
        settings.setNodeName("NodeA");
        settings.setPartyName("Party1");
        settings.connections().append({"NodeB", "SKYPE", "bob", {}});
        settings.connections().append({"NodeC", "SKYPE", "carol", {}});
        CPostError notices;
        NodeContext node{settings, nullptr, &notices};
        FakeSkypeLink link;
        VX_SKYPEMODEL users{link};
        users.onCurrentUserHandle("alice");
        plat::TlsContext::Key key;
        key.fill(3);
        {
            VX_SKYPEAPPLICATION app(link, &users, node);
            app.setName(App, 0);
            app.setTls(plat::TlsContext::create(key));
            app.onNotification(before);
            ASSERT_NE(app.streamCount(), 0u);
            app.onNotification(after);
            EXPECT_NE(notices.detailText().find("NodeB (bob) のパーティ鍵が一致しません"),
                      std::string::npos)
                << notices.detailText();
        }
        plat::runFor(1);
    }
}

// A stream the client stopped listing waits for the next turn of the loop. When the application
// goes first (the node shutting down its transports), such a stream goes with it, while the
// node's parts its exchange works with are still there; nothing is left for the loop to free
// after the node has gone.
TEST(ApplicationLifetime, RetiredStreamsGoWithTheApplication)
{
    TempDir dir;
    NodeSettings settings(dir.path());
    settings.setNodeName("NodeA");
    settings.setPartyName("Party1");
    settings.connections().append({"NodeB", "SKYPE", "bob", {}});
    auto node = std::make_unique<NodeContext>(settings);
    FakeSkypeLink link;
    VX_SKYPEMODEL users{link};
    {
        VX_SKYPEAPPLICATION app(link, &users, *node);
        app.setName(App, 0);
        app.onNotification("STREAMS bob:1");
        ASSERT_EQ(app.streamCount(), 1u);
        app.onNotification("STREAMS ");
        ASSERT_EQ(app.streamCount(), 0u);
    }
    node.reset();
    plat::runFor(5);
}
