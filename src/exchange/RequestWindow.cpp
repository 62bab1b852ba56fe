#include "exchange/RequestWindow.h"

#include <algorithm>

namespace {

bool matches(const RequestWindow::Request& r, const CatalogRecord& record, std::uint32_t offset)
{
    return r.offset == offset && catalog::sameVersion(*r.record, record);
}

} // namespace

void RequestWindow::setCeiling(int ceiling)
{
    m_ceiling = std::max(1, ceiling);
}

int RequestWindow::window() const
{
    return std::clamp(static_cast<int>(m_cwnd), 1, m_ceiling);
}

void RequestWindow::sent(std::shared_ptr<const CatalogRecord> record, std::uint32_t offset,
                         bool again, Time now)
{
    // The quiet time of a connection that had nothing out starts with its first request.
    if (m_out.empty())
        m_lastAnswer = std::max(m_lastAnswer, now);
    m_out.push_back(Request{std::move(record), offset, now, again});
}

bool RequestWindow::outstanding(const CatalogRecord& record, std::uint32_t offset) const
{
    return std::any_of(m_out.begin(), m_out.end(),
                       [&](const Request& r) { return matches(r, record, offset); });
}

std::optional<RequestWindow::Request> RequestWindow::answered(const CatalogRecord& record,
                                                              std::uint32_t offset, Time now,
                                                              std::vector<Request>& lost)
{
    if (!m_out.empty() && m_lastAnswer != Time{}) {
        const Duration gap = now - m_lastAnswer;
        m_gap = m_gap == Duration{} ? gap : (m_gap * 7 + gap) / 8;
    }
    m_lastAnswer = now;
    const auto it = std::find_if(m_out.begin(), m_out.end(),
                                 [&](const Request& r) { return matches(r, record, offset); });
    if (it == m_out.end())
        return std::nullopt;
    lost.insert(lost.end(), m_out.begin(), it);
    const Request request = *it;
    m_suspects -= static_cast<int>(
        std::count_if(m_out.begin(), it + 1, [](const Request& r) { return r.suspect; }));
    m_out.erase(m_out.begin(), it + 1);
    m_backoff = 1;
    if (request.again || request.suspect)
        grow();
    else
        sample(now - request.sent, now);
    return request;
}

void RequestWindow::noteBase(Duration rtt, Time now)
{
    if (m_baseSince == Time{} || now - m_baseSince > kBasePeriod) {
        m_basePrev = m_baseNow;
        m_baseNow = Duration::max();
        m_baseSince = now;
    }
    m_baseNow = std::min(m_baseNow, rtt);
}

RequestWindow::Duration RequestWindow::baseRoundTrip() const
{
    return std::min(m_baseNow, m_basePrev);
}

void RequestWindow::sample(Duration rtt, Time now)
{
    noteBase(rtt, now);
    m_srtt = m_measured ? (m_srtt * 7 + rtt) / 8 : rtt;
    m_measured = true;
    const Duration base = baseRoundTrip();
    const Duration allowed = std::max<Duration>(kQueueTarget, base / 4);
    if (m_srtt > base + allowed) {
        // Queueing: the requests wait somewhere on the way. Less in flight, once per round trip.
        if (now - m_lastShrink > m_srtt) {
            m_cwnd = std::max(std::min(m_cwnd, kShrinkFloor), m_cwnd * 0.75);
            m_lastShrink = now;
            m_slowStartLimit = 0;
        }
        return;
    }
    if (rtt <= base + allowed)
        grow();
}

void RequestWindow::grow()
{
    const bool doubling = m_cwnd < m_slowStartLimit;
    m_cwnd += doubling ? 1.0 : 1.0 / m_cwnd;
    m_cwnd = std::min(m_cwnd, static_cast<double>(m_ceiling));
}

RequestWindow::Duration RequestWindow::stallTime() const
{
    Duration t = kFirstStall;
    if (m_measured) {
        const Duration drain = m_srtt + m_gap * static_cast<int>(m_out.size());
        t = std::max<Duration>({kStallFloor, m_srtt * 4, drain * 2});
    }
    return t * m_backoff;
}

bool RequestWindow::stalled(Time now) const
{
    return !m_out.empty() && now - m_lastAnswer > stallTime();
}

std::optional<RequestWindow::Request> RequestWindow::giveUp(Time now)
{
    if (m_out.empty())
        return std::nullopt;
    for (Request& r : m_out)
        r.suspect = true;
    m_suspects = static_cast<int>(m_out.size());
    // Back to one request; doubling again up to half of what it was.
    m_slowStartLimit = std::max(2.0, m_cwnd / 2);
    m_cwnd = 1;
    m_backoff = std::min(m_backoff * 2, 64);
    m_lastAnswer = now;
    return m_out.front();
}
