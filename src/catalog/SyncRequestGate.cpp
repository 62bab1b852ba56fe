#include "catalog/SyncRequestGate.h"

#include "platform/EventLoop.h"
#include "wire/HelloBody.h"

SyncRequestGate::SyncRequestGate(Clock clock)
    : m_clock(clock ? std::move(clock) : Clock(&std::chrono::steady_clock::now))
{
}

bool SyncRequestGate::admit(const std::string& peer, std::uint32_t syncMode,
                            const plat::SystemTime& since)
{
    const auto now = m_clock();
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        kPeriod * plat::timeScale());
    // Only the date of "since" selects records, so only the date tells two requests apart.
    Last request{syncMode, since.year, since.month, since.day, now};
    if (syncMode != catalog::SyncMode::Since)
        request.year = request.month = request.day = 0;
    const auto it = m_last.find(peer);
    if (it != m_last.end()) {
        const Last& last = it->second;
        const bool same = last.mode == request.mode && last.year == request.year &&
                          last.month == request.month && last.day == request.day;
        if (same && now - last.at < period)
            return false;
    }
    if (m_last.size() >= kMaxPeers && it == m_last.end())
        m_last.clear();
    m_last[peer] = request;
    return true;
}
