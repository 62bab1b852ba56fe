#include "app/NodeSettings.h"
#include "app/VX_EVENTCATALOG.h"
#include "app/VX_EVENTLOG.h"
#include "exchange/NodeContext.h"
#include "support/HexBytes.h"
#include "support/StandinProcess.h"
#include "support/TempDir.h"
#include "support/TestNode.h"

#include "app/NodeOptions.h"
#include "catalog/CCatalog.h"
#include "platform/EventLoop.h"
#include "skype/VX_A2AMODEL.h"
#include "skype/VX_SKYPEAPPLICATION.h"
#include "skype/VX_SKYPECOM.h"
#include "skype/VX_SKYPEMODEL.h"
#include "transfer/CTransfer.h"
#include "transfer/CTransferListener.h"
#include "wire/HelloBody.h"
#include "wire/MessageHeader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

// The "SKYPE" connections of the transfer coordinator, with the process-wide Skype objects
// finding the stand-in in the runtime folder, as a node does.
namespace {

struct Recorder : CTransferListener
{
    int linkChanges = 0;
    int modelChanges = 0;
    int connectionChanges = 0;
    std::vector<int> any;
    void onSkypeLinkChanged() override { ++linkChanges; }
    void onModelChanged() override { ++modelChanges; }
    void onConnectionChanged() override { ++connectionChanges; }
    void onAnyConnected(int a) override { any.push_back(a); }
};

class SkypeColumnTest : public ::testing::Test
{
protected:
    SkypeColumnTest() : settings((TestNode::useFastTimers(), dir.path()))
    {
        m_oldRuntime = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
        ::setenv("XDG_RUNTIME_DIR", dir.file("alice").c_str(), 1);
        settings.setNodeName("NodeA");
        settings.setPartyName("Party1");
        settings.setListenPort(0);
        bobIndex = settings.connections().append({"NodeB", "SKYPE", "bob", {}});
        carolIndex = settings.connections().append({"NodeC", "SKYPE", "carol", {}});
        std::ofstream(dir.file("users.ini")) << "[alice]\nruntime = alice\ncontacts = bob, carol\n"
                                                "[bob]\nruntime = bob\ncontacts = alice\n"
                                                "[carol]\nruntime = carol\ncontacts = alice\n";
        transfer.addListener(&recorder);
    }
    ~SkypeColumnTest() override
    {
        transfer.terminate();
        plat::runFor(5);
        if (m_oldRuntime.empty())
            ::unsetenv("XDG_RUNTIME_DIR");
        else
            ::setenv("XDG_RUNTIME_DIR", m_oldRuntime.c_str(), 1);
    }

    VX_SKYPEAPPLICATION& app() { return VX_A2AMODEL::instance()->application(); }
    // bob's program, attached, running the node's application.
    std::unique_ptr<StandinClient> bob(const std::string& application = "PAVO000Party1")
    {
        auto p = std::make_unique<StandinClient>(dir.file("bob"));
        EXPECT_TRUE(p->attach());
        EXPECT_EQ(p->command("CREATE APPLICATION " + application).result, 1u);
        return p;
    }
    bool waitConnectable(int index)
    {
        return plat::runUntil([&] { return transfer.canConnect(index) == 1; }, 5000);
    }

    TempDir dir;
    NodeSettings settings;
    VX_EVENTLOG log;
    VX_EVENTCATALOG events;
    NodeContext node{settings, &events};
    CCatalog catalog{node, true};
    StandinProcess standin{dir.file("users.ini")};
    CTransfer transfer{node, log, events};
    Recorder recorder;
    int bobIndex = 0;
    int carolIndex = 0;

private:
    std::string m_oldRuntime;
};

TEST_F(SkypeColumnTest, ConnectsConfiguredContactsThatRunTheApplication)
{
    ASSERT_TRUE(standin.start());
    transfer.initialise({});
    ASSERT_TRUE(plat::runUntil(
        [&] { return VX_SKYPECOM::instance()->linkState() == VX_SKYPECOM::LINK_ATTACHED; }, 5000));
    EXPECT_GE(recorder.linkChanges, 2) << "pending, then attached";
    EXPECT_GE(recorder.modelChanges, 1);
    EXPECT_EQ(app().name(), "PAVO000Party1");

    auto b = bob();
    ASSERT_TRUE(waitConnectable(bobIndex));
    EXPECT_EQ(transfer.canConnect(carolIndex), 0) << "carol runs no node";
    EXPECT_EQ(transfer.isConnected(bobIndex), 0);

    transfer.connectPeer(bobIndex);
    ASSERT_TRUE(plat::runUntil([&] { return transfer.isConnected(bobIndex) == 1; }, 5000));
    EXPECT_EQ(recorder.any.back(), 1);
    ASSERT_TRUE(b->waitFor("APPLICATION PAVO000Party1 STREAMS alice:"));

    // A second connect while the stream stands asks the client for nothing.
    transfer.connectPeer(bobIndex);
    plat::runFor(100);
    b->pump();
    EXPECT_FALSE(b->take("APPLICATION PAVO000Party1 STREAMS"));
    EXPECT_EQ(app().streamCount(), 1u);

    transfer.disconnectPeer(bobIndex);
    ASSERT_TRUE(plat::runUntil([&] { return transfer.isConnected(bobIndex) == 0; }, 5000));
    EXPECT_EQ(recorder.any.back(), 0);
}

TEST_F(SkypeColumnTest, SyncRequestRidesTheStreamsNextHello)
{
    ASSERT_TRUE(standin.start());
    transfer.initialise({});
    auto b = bob();
    ASSERT_TRUE(waitConnectable(bobIndex));
    transfer.connectPeer(bobIndex);
    ASSERT_TRUE(plat::runUntil([&] { return transfer.isConnected(bobIndex) == 1; }, 5000));
    const plat::SystemTime april{2026, 4, 3, 1, 0, 0, 0, 0};
    transfer.requestHello(bobIndex, 2, april);

    // Read what alice writes until a hello with the request comes (the first conversation may
    // have left before the request was set).
    const auto list = b->waitFor("APPLICATION PAVO000Party1 STREAMS alice:");
    ASSERT_TRUE(list);
    const std::string item = list->substr(list->rfind("alice:"));
    bool found = false;
    for (int i = 0; i < 6 && !found; ++i) {
        ASSERT_TRUE(b->waitFor("APPLICATION PAVO000Party1 RECEIVED " + item));
        const auto r = b->command("ALTER APPLICATION PAVO000Party1 READ " + item);
        const std::string prefix = "ALTER APPLICATION PAVO000Party1 READ " + item + " ";
        for (const auto& n : r.notes) {
            if (n.rfind(prefix, 0) != 0)
                continue;
            const auto msg = bytesOf(n.substr(prefix.size()));
            if (msg.size() == catalog::HelloLayout::MessageSize &&
                catalog::HelloBody::read(msg.data()).syncMode == 2) {
                found = true;
                EXPECT_EQ(catalog::HelloBody::read(msg.data()).since, april);
            }
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(SkypeColumnTest, LostLinkDropsEverySkypeConnection)
{
    ASSERT_TRUE(standin.start());
    transfer.initialise({});
    auto b = bob();
    ASSERT_TRUE(waitConnectable(bobIndex));
    transfer.connectPeer(bobIndex);
    ASSERT_TRUE(plat::runUntil([&] { return transfer.isConnected(bobIndex) == 1; }, 5000));

    const int linkChanges = recorder.linkChanges;
    b.reset();
    standin.stop();
    ASSERT_TRUE(plat::runUntil(
        [&] { return VX_SKYPECOM::instance()->linkState() == VX_SKYPECOM::LINK_DETACHED; }, 5000));
    EXPECT_GT(recorder.linkChanges, linkChanges);
    EXPECT_EQ(transfer.isConnected(bobIndex), 0);
    EXPECT_EQ(transfer.canConnect(bobIndex), 0);
    EXPECT_TRUE(VX_SKYPEMODEL::instance()->contacts().empty());
    EXPECT_EQ(VX_SKYPECOM::stateText(VX_SKYPECOM::instance()->linkState()),
              std::string("SKYPEと未接続"));

    // The client comes back: the node finds it, creates its application again and may connect.
    ASSERT_TRUE(standin.start());
    auto again = bob();
    ASSERT_TRUE(waitConnectable(bobIndex));
    EXPECT_EQ(VX_SKYPECOM::stateText(VX_SKYPECOM::instance()->linkState()),
              std::string("SKYPEと接続"));
}

TEST_F(SkypeColumnTest, WithoutSkypeNothingIsConnectable)
{
    ASSERT_TRUE(standin.start());
    NodeOptions options;
    options.messagingClient = false;
    CTransfer noClient(node, log, events, options);
    noClient.addListener(&recorder);
    noClient.initialise({});
    auto b = bob();
    plat::runFor(400);
    EXPECT_EQ(VX_SKYPECOM::instance()->linkState(), VX_SKYPECOM::LINK_DETACHED);
    EXPECT_EQ(noClient.canConnect(bobIndex), 0);
    EXPECT_EQ(noClient.isConnected(bobIndex), 0);
    EXPECT_EQ(recorder.linkChanges, 0);
}

TEST_F(SkypeColumnTest, PartyNameChangeRenamesTheApplication)
{
    const std::string party(24, 'q');
    settings.setPartyName(party);
    ASSERT_TRUE(standin.start());
    transfer.initialise({});
    EXPECT_EQ(app().name(), "PAVO000" + party);
    ASSERT_TRUE(
        plat::runUntil([&] { return app().state() == VX_SKYPEAPPLICATION::APP_CREATED; }, 5000));

    auto b = bob("PAVO000" + party);
    ASSERT_TRUE(waitConnectable(bobIndex));
    transfer.connectPeer(bobIndex);
    ASSERT_TRUE(plat::runUntil([&] { return transfer.isConnected(bobIndex) == 1; }, 5000));

    settings.setPartyName("Party2");
    transfer.changePartyName("Party2");
    EXPECT_EQ(app().name(), "PAVO000Party2");
    EXPECT_EQ(app().state(), VX_SKYPEAPPLICATION::APP_CREATED);
    EXPECT_EQ(transfer.isConnected(bobIndex), 0) << "the old application's streams are gone";
    // bob still runs the old party's application only.
    plat::runFor(700);
    EXPECT_EQ(transfer.canConnect(bobIndex), 0);
}

} // namespace
