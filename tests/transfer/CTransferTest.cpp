#include "app/NodeSettings.h"
#include "exchange/NodeContext.h"
#include "support/ScriptedPeer.h"
#include "support/TempDir.h"
#include "support/TestNode.h"

#include "app/NodeOptions.h"
#include "app/VX_EVENTCATALOG.h"
#include "app/VX_EVENTLOG.h"
#include "catalog/CCatalog.h"
#include "tcp/CTcpA2AModel.h"
#include "transfer/CTcpColumn.h"
#include "transfer/CTransfer.h"
#include "transfer/CTransferListener.h"
#include "wire/MessageHeader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Writes down every call, tagged with the listener's name.
class RecordingListener : public CTransferListener
{
public:
    RecordingListener(std::vector<std::string>& log, std::string tag)
        : m_log(log), m_tag(std::move(tag))
    {
    }

    void onEventLog(int a, int b) override
    {
        add("log " + std::to_string(a) + "," + std::to_string(b));
    }
    void entryAdded(const CatalogRecord& r) override { add("added " + r.fileNameUtf8()); }
    void entryChanged(int index, const CatalogRecord& r) override
    {
        add("changed " + std::to_string(index) + " " + r.fileNameUtf8());
    }
    void listReset() override { add("reset"); }
    void onConnectionChanged() override { add("connections"); }
    void onAnyConnected(int any) override { add("any " + std::to_string(any)); }

private:
    void add(const std::string& what) { m_log.push_back(m_tag + ": " + what); }

    std::vector<std::string>& m_log;
    std::string m_tag;
};

class CTransferTest : public ::testing::Test
{
protected:
    CTransferTest() : settings((TestNode::useFastTimers(), dir.path()))
    {
        settings.setNodeName("NodeA");
        settings.setPartyName("Party1");
        settings.setListenPort(0);
        transfer.addListener(&first);
        transfer.addListener(&second);
    }

    ~CTransferTest() override
    {
        transfer.terminate();
        plat::runFor(5);
    }

    TempDir dir;
    NodeSettings settings;
    std::vector<std::string> log;
    RecordingListener first{log, "1"};
    RecordingListener second{log, "2"};
    VX_EVENTLOG logEvents;
    VX_EVENTCATALOG catalogEvents;
    NodeContext node{settings, &catalogEvents};
    CCatalog catalog{node, true};
    CTransfer transfer{node, logEvents, catalogEvents};
};

TEST_F(CTransferTest, PassesCatalogAndLogEventsOnInRegistrationOrder)
{
    CatalogRecord r = makeTestRecord("NodeB", "Party1", "a.txt", 1);
    catalogEvents.notifyAdd(r);
    catalogEvents.notifyUpdate(r, 4);
    catalogEvents.notifyReset();
    logEvents.notify(7, 8);
    EXPECT_EQ(log, (std::vector<std::string>{"1: added a.txt", "2: added a.txt",
                                             "1: changed 4 a.txt", "2: changed 4 a.txt", "1: reset",
                                             "2: reset", "1: log 7,8", "2: log 7,8"}));
}

TEST_F(CTransferTest, RoutesEachConnectionByItsMethod)
{
    transfer.initialise({});
    settings.connections().append({"NodeT", "TCP", "127.0.0.1/1", {}});
    settings.connections().append({"NodeS", "SKYPE", "skype.user", {}});
    settings.connections().append({"NodeX", "UDP", "127.0.0.1", {}});
    const struct
    {
        int index;
        int canConnect;
    } cases[] = {{0, 1}, {1, 0}, {2, 0}, {3, 0}, {-1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(transfer.canConnect(c.index), c.canConnect);
        EXPECT_EQ(transfer.isConnected(c.index), 0);
        // Operations on anything but TCP do nothing and must not fail.
        transfer.requestHello(c.index, 1, {});
        transfer.disconnectPeer(c.index);
    }
}

TEST_F(CTransferTest, TellsAfterEveryConnectionChangeWhetherAnyPeerIsConnected)
{
    transfer.onConnectionChanged();
    transfer.onConnectionChanged();
    EXPECT_EQ(log, (std::vector<std::string>{"1: connections", "2: connections", "1: any 0",
                                             "2: any 0", "1: connections", "2: connections",
                                             "1: any 0", "2: any 0"}));
}

TEST_F(CTransferTest, DialsTcpPeersAndReportsThemConnectedOnceAdmitted)
{
    transfer.initialise({});
    ScriptedPeer peer("NodeB", "Party1");
    const int port = peer.listen();
    const int index =
        settings.connections().append({"NodeB", "TCP", "127.0.0.1/" + std::to_string(port), {}});

    transfer.connectPeer(index);
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(peer.nextOf(catalog::MsgClass::Hello, catalog::MsgType::Hello));
    log.clear();
    peer.sendHello();
    ASSERT_TRUE(plat::runUntil([&] { return transfer.isConnected(index) == 1; }, 3000));
    EXPECT_EQ(log, (std::vector<std::string>{"1: connections", "2: connections", "1: any 1",
                                             "2: any 1"}));

    log.clear();
    transfer.disconnectPeer(index);
    EXPECT_TRUE(peer.waitClosed());
    EXPECT_EQ(transfer.isConnected(index), 0);
    EXPECT_EQ(log.back(), "2: any 0");
}

TEST_F(CTransferTest, InServerOnlyModeDialsNothingButAdmitsCallers)
{
    NodeOptions options;
    options.serverOnly = true;
    CTransfer serverOnly(node, logEvents, catalogEvents, options);
    serverOnly.initialise({});
    CTcpA2AModel& model = *serverOnly.tcp().model();
    model.goOnline();
    ScriptedPeer listening("NodeB", "Party1");
    const int port = listening.listen();
    const int index =
        settings.connections().append({"NodeB", "TCP", "127.0.0.1/" + std::to_string(port), {}});

    serverOnly.connectPeer(index);
    EXPECT_FALSE(listening.accept(200));
    EXPECT_EQ(model.pendingCount(), 0);

    ScriptedPeer caller("NodeB", "Party1");
    ASSERT_TRUE(caller.dial(model.listenPort()));
    caller.sendHello();
    EXPECT_TRUE(plat::runUntil([&] { return serverOnly.isConnected(index) == 1; }, 3000));
}

TEST_F(CTransferTest, TerminateTwiceIsHarmlessAndSilencesTheListeners)
{
    transfer.initialise({});
    transfer.terminate();
    transfer.terminate();
    logEvents.notify(1, 2);
    transfer.onConnectionChanged();
    EXPECT_TRUE(log.empty());
}

} // namespace
