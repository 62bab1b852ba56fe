#pragma once

#include "app/VX_EVENTCATALOGLISTENER.h"
#include "wire/CatalogRecord.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>

// How fast each download of one node goes, and how long it still needs: fed with the catalog's
// own announcements (every stored chunk changes the entry's received count), so the exchange is
// not touched. The rate is the progress over the last kWindowSeconds; at a steady rate the time
// left is then the remaining bytes over it. A download that has not moved for kStallSeconds has
// no estimate (it waits for a peer), and one that is done, deleted or restarted is forgotten.
class DownloadRate : public VX_EVENTCATALOGLISTENER
{
public:
    // Seconds on a steady clock; tests and the benchmark hand in their own.
    using Clock = std::function<double()>;

    static constexpr double kWindowSeconds = 30.0;
    static constexpr double kStallSeconds = 20.0;
    // Below this much measured time the rate is not yet told.
    static constexpr double kMinSpanSeconds = 0.5;
    // Downloads followed at most (the oldest is forgotten first).
    static constexpr std::size_t kMaxTracked = 4096;

    struct Estimate
    {
        double bytesPerSecond = 0;
        std::optional<double> secondsLeft;
    };

    explicit DownloadRate(Clock clock = {});

    // One announcement of an entry: its received count at this moment.
    void observe(const CatalogRecord& record);
    // The estimate for the download of record's registration; none while too little is known.
    std::optional<Estimate> estimate(const CatalogRecord& record) const;
    // The sum of the rates of every download that moves now, in bytes per second.
    double totalRate() const;

    // VX_EVENTCATALOGLISTENER
    void entryAdded(const CatalogRecord& record) override { observe(record); }
    void entryChanged(int /*index*/, const CatalogRecord& record) override { observe(record); }

private:
    struct Sample
    {
        double at;
        std::uint32_t bytes;
    };
    struct Track
    {
        std::deque<Sample> samples;
        std::uint32_t size = 0;
        double lastSeen = 0;
    };
    std::optional<Estimate> estimateOf(const Track& track) const;
    void forgetOldest();

    Clock m_clock;
    std::map<std::string, Track> m_tracks;
};
