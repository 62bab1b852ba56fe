#include "node/CPavoPeriodic.h"

namespace {
// True on the ticks where the counter runs its work.
bool due(int& counter, int reload)
{
    if (counter == 0) {
        counter = reload;
        return true;
    }
    --counter;
    return false;
}
} // namespace

CPavoPeriodic::CPavoPeriodic(Host& host) : m_host(host), m_timers([this](int id) { onTimer(id); })
{
}

void CPavoPeriodic::start()
{
    m_timers.set(kHeartbeat, kHeartbeatMs);
    m_timers.set(kTray, kTrayMs);
    m_timers.set(kPurge, kPurgeMs);
}

void CPavoPeriodic::stop()
{
    m_timers.kill(kHeartbeat);
    m_timers.kill(kTray);
    m_timers.kill(kPurge);
}

void CPavoPeriodic::onTimer(int id)
{
    switch (id) {
    case kHeartbeat:
        heartbeat();
        break;
    case kTray:
        trayTick();
        break;
    case kPurge:
        purgeTick();
        break;
    default:
        break;
    }
}

void CPavoPeriodic::heartbeat()
{
    // Only the counter of the current selection moves, so after a switch the other one runs at
    // its next examined tick.
    if (m_host.isOnlineSelected()) {
        if (due(m_connect, kConnectReload)) {
            const int count = m_host.connectionCount();
            for (int i = 0; i < count; ++i)
                if (m_host.isPeerConnected(i) == 0 && m_host.canConnectPeer(i) == 1)
                    m_host.connectPeer(i);
        }
    } else if (due(m_disconnect, kConnectReload)) {
        const int count = m_host.connectionCount();
        for (int i = 0; i < count; ++i)
            if (m_host.isPeerConnected(i) == 1)
                m_host.disconnectPeer(i);
    }
    if (due(m_refresh, kRefreshReload))
        m_host.refreshLists();
    if (due(m_watch, kWatchReload))
        m_host.scanSendFolder();
    if (due(m_maintenance, kMaintenanceReload))
        m_host.maintainCatalog();
}

void CPavoPeriodic::trayTick()
{
    m_host.refreshTray();
}

void CPavoPeriodic::purgeTick()
{
    // Stopped while the purge runs, so the next run is a full period after this one ends.
    const bool wasRunning = m_timers.active(kPurge);
    m_timers.kill(kPurge);
    m_host.purgeCatalog();
    if (wasRunning)
        m_timers.set(kPurge, kPurgeMs);
}
