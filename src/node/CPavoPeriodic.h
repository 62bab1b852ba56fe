#pragma once

#include "platform/EventLoop.h"

// The node's periodic work. Timer 101 (500 ms) is the node's heartbeat: five countdown
// counters pick the work of each tick (a counter at 0 runs its work and is reloaded, otherwise
// it is decremented, so a reload of N runs the work every N + 1 ticks). Timer 102 (5 s) keeps the
// tray tool-tip current; timer 107 (5 s) purges the catalog and never overlaps itself.
class CPavoPeriodic
{
public:
    static constexpr int kHeartbeat = 101;
    static constexpr int kTray = 102;
    static constexpr int kPurge = 107;
    static constexpr int kHeartbeatMs = 500;
    static constexpr int kTrayMs = 5000;
    static constexpr int kPurgeMs = 5000;

    static constexpr int kConnectReload = 20;
    static constexpr int kRefreshReload = 2;
    static constexpr int kWatchReload = 10;
    static constexpr int kMaintenanceStart = 600;
    static constexpr int kMaintenanceReload = 7200;

    // The work the timers drive, done by the node (which hands the lists and the tray to its
    // window).
    class Host
    {
    public:
        virtual ~Host() = default;
        virtual bool isOnlineSelected() = 0;
        virtual int connectionCount() = 0;
        virtual int isPeerConnected(int index) = 0;
        virtual int canConnectPeer(int index) = 0;
        virtual void connectPeer(int index) = 0;
        virtual void disconnectPeer(int index) = 0;
        // Connection states, then the pending catalog list events.
        virtual void refreshLists() = 0;
        virtual void scanSendFolder() = 0;
        virtual void maintainCatalog() = 0;
        virtual void refreshTray() = 0;
        virtual void purgeCatalog() = 0;
    };

    explicit CPavoPeriodic(Host& host);

    void start();
    // Stops the three timers.
    void stop();
    bool running(int timerId) const { return m_timers.active(timerId); }

    // One tick of each timer (the timers call these; tests may too).
    void heartbeat();
    void trayTick();
    void purgeTick();

private:
    void onTimer(int id);

    Host& m_host;
    int m_connect = 0;
    int m_disconnect = 0;
    int m_refresh = 0;
    int m_watch = 0;
    int m_maintenance = kMaintenanceStart;
    plat::TimerSet m_timers;
};
