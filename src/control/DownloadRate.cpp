#include "control/DownloadRate.h"

#include "wire/RecordKey.h"

#include <chrono>

namespace {
double steadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

DownloadRate::DownloadRate(Clock clock) : m_clock(clock ? std::move(clock) : steadySeconds) {}

void DownloadRate::observe(const CatalogRecord& record)
{
    const std::string key = catalog::registrationKey(record);
    if (record.completeFlag() == 1 || record.kind() == catalog::RecordKind::Deleted ||
        record.fileSize() == 0) {
        m_tracks.erase(key);
        return;
    }
    const double now = m_clock();
    auto it = m_tracks.find(key);
    if (it == m_tracks.end()) {
        if (m_tracks.size() >= kMaxTracked)
            forgetOldest();
        it = m_tracks.emplace(key, Track{}).first;
    }
    Track& track = it->second;
    const std::uint32_t bytes = record.bytesReceived();
    // A download that starts over (another version, a damaged file fetched again) is new.
    if (!track.samples.empty() && bytes < track.samples.back().bytes)
        track.samples.clear();
    track.size = record.fileSize();
    track.lastSeen = now;
    if (!track.samples.empty() && bytes == track.samples.back().bytes)
        return;
    // The entry is announced before its first chunk is asked for; measuring from then would
    // count the wait for the first conversation as download time.
    if (track.samples.size() == 1 && track.samples.front().bytes == 0)
        track.samples.clear();
    track.samples.push_back({now, bytes});
    while (track.samples.size() > 2 && track.samples[1].at <= now - kWindowSeconds)
        track.samples.pop_front();
}

std::optional<DownloadRate::Estimate> DownloadRate::estimateOf(const Track& track) const
{
    if (track.samples.size() < 2)
        return std::nullopt;
    const Sample& first = track.samples.front();
    const Sample& last = track.samples.back();
    const double span = last.at - first.at;
    if (span < kMinSpanSeconds)
        return std::nullopt;
    const double now = m_clock();
    Estimate e;
    if (now - last.at > kStallSeconds)
        return e; // stalled: no rate, no time left
    e.bytesPerSecond = (last.bytes - first.bytes) / span;
    if (e.bytesPerSecond > 0) {
        const double left =
            (track.size > last.bytes ? track.size - last.bytes : 0) / e.bytesPerSecond -
            (now - last.at);
        e.secondsLeft = left > 0 ? left : 0;
    }
    return e;
}

std::optional<DownloadRate::Estimate> DownloadRate::estimate(const CatalogRecord& record) const
{
    const auto it = m_tracks.find(catalog::registrationKey(record));
    if (it == m_tracks.end() || record.completeFlag() == 1)
        return std::nullopt;
    return estimateOf(it->second);
}

double DownloadRate::totalRate() const
{
    double total = 0;
    for (const auto& [key, track] : m_tracks)
        if (const auto e = estimateOf(track))
            total += e->bytesPerSecond;
    return total;
}

void DownloadRate::forgetOldest()
{
    auto oldest = m_tracks.begin();
    for (auto it = m_tracks.begin(); it != m_tracks.end(); ++it)
        if (it->second.lastSeen < oldest->second.lastSeen)
            oldest = it;
    if (oldest != m_tracks.end())
        m_tracks.erase(oldest);
}
