#include "node/CPavoPeriodic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
// Records which work each tick did.
class FakeHost : public CPavoPeriodic::Host
{
public:
    bool online = true;
    std::vector<int> connected{0, 1, 0};
    std::vector<int> connectable{1, 1, 0};
    std::vector<std::string> log;

    bool isOnlineSelected() override { return online; }
    int connectionCount() override { return static_cast<int>(connected.size()); }
    int isPeerConnected(int i) override { return connected[i]; }
    int canConnectPeer(int i) override { return connectable[i]; }
    void connectPeer(int i) override { log.push_back("connect" + std::to_string(i)); }
    void disconnectPeer(int i) override { log.push_back("disconnect" + std::to_string(i)); }
    void refreshLists() override { log.push_back("refresh"); }
    void scanSendFolder() override { log.push_back("scan"); }
    void maintainCatalog() override { log.push_back("maintain"); }
    void refreshTray() override { log.push_back("tray"); }
    void purgeCatalog() override { log.push_back("purge"); }

    // Ticks (1-based) on which an entry appeared.
    std::vector<int> ticksOf(CPavoPeriodic& p, const std::string& what, int ticks)
    {
        std::vector<int> at;
        for (int t = 1; t <= ticks; ++t) {
            log.clear();
            p.heartbeat();
            for (const std::string& e : log)
                if (e == what)
                    at.push_back(t);
        }
        return at;
    }
};
} // namespace

TEST(CPavoPeriodic, EachCounterRunsItsWorkEveryReloadPlusOneTicks)
{
    struct Case
    {
        const char* work;
        std::vector<int> ticks;
    };
    const Case cases[] = {
        {"connect0", {1, 22, 43}},
        {"refresh",
         {1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 34, 37, 40, 43, 46, 49, 52, 55, 58, 61}},
        {"scan", {1, 12, 23, 34, 45, 56}},
    };
    for (const Case& c : cases) {
        FakeHost host;
        CPavoPeriodic periodic(host);
        EXPECT_EQ(host.ticksOf(periodic, c.work, 61), c.ticks) << c.work;
    }
    // Only unconnected peers that can be connected are dialled.
    FakeHost host;
    CPavoPeriodic periodic(host);
    periodic.heartbeat();
    EXPECT_EQ(host.log, (std::vector<std::string>{"connect0", "refresh", "scan"}));
}

TEST(CPavoPeriodic, MaintenanceFirstOnTick601ThenEvery7201)
{
    FakeHost host;
    CPavoPeriodic periodic(host);
    EXPECT_EQ(host.ticksOf(periodic, "maintain", 601 + 7201), (std::vector<int>{601, 601 + 7201}));
}

TEST(CPavoPeriodic, SwitchingOfflineDropsConnectedPeersOnTheNextTick)
{
    FakeHost host;
    CPavoPeriodic periodic(host);
    host.ticksOf(periodic, "", 5); // the connect counter is now mid-way
    host.online = false;
    EXPECT_EQ(host.ticksOf(periodic, "disconnect1", 22), (std::vector<int>{1, 22}));
    // Back on-line, the connect counter goes on from where it stood.
    host.online = true;
    EXPECT_EQ(host.ticksOf(periodic, "connect0", 21), (std::vector<int>{17}));
}
