// How good the time-left estimate of a download is: DownloadRate is fed as the node feeds it (one
// catalog update per stored chunk of 51,200 bytes) on a simulated clock, and at each tenth of the
// file its estimate is set against the time the rest really takes.
//
// Cases: a steady rate with chunks arriving at even intervals; the same rate with each interval
// varying by up to ±50 % (the peer's and the disk's hiccups); a rate that halves at 40 %, which no
// estimate can foresee and shows how fast it follows.
#include "control/DownloadRate.h"

#include "catalog/CatalogRecord.h"

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {
constexpr std::uint32_t kChunk = 51200;
constexpr std::uint32_t kSize = 200u * 1024 * 1024;

CatalogRecord entry(std::uint32_t received)
{
    CatalogRecord r;
    (void)r.setOriginNodeUtf8("A");
    plat::FindRecord description;
    description.setNameCp932("big.bin");
    description.setSize(kSize);
    r.setFileDescription(description);
    r.setBytesReceived(received);
    return r;
}

// Seconds each chunk takes.
using Pace = double (*)(std::uint32_t offset, std::mt19937& random);

double steady(std::uint32_t, std::mt19937&)
{
    return 0.02; // 2.5 MB/s
}

double jittery(std::uint32_t, std::mt19937& random)
{
    return 0.02 * std::uniform_real_distribution<double>(0.5, 1.5)(random);
}

double halving(std::uint32_t offset, std::mt19937&)
{
    return offset < kSize / 10 * 4 ? 0.02 : 0.04;
}

void run(const char* label, Pace pace)
{
    std::mt19937 random(31);
    std::vector<double> times;
    std::vector<std::uint32_t> offsets;
    double t = 0;
    for (std::uint32_t offset = 0; offset < kSize; offset += kChunk) {
        times.push_back(t);
        offsets.push_back(offset);
        t += pace(offset, random);
    }
    const double end = t;
    double now = 0;
    DownloadRate rates([&now] { return now; });
    std::printf("%-28s", label);
    double worst = 0;
    std::size_t next = 1;
    for (std::size_t i = 0; i < times.size(); ++i) {
        now = times[i];
        rates.observe(entry(offsets[i]));
        if (offsets[i] < kSize / 10 * next)
            continue;
        const auto e = rates.estimate(entry(offsets[i]));
        const double truth = end - now;
        const double error = e && e->secondsLeft ? (*e->secondsLeft - truth) / truth : NAN;
        std::printf(" %3zu%%:%+6.1f%%", next * 10, error * 100);
        if (next >= 1 && std::isfinite(error))
            worst = std::max(worst, std::fabs(error));
        if (++next == 10)
            break;
    }
    std::printf("   worst %.1f %%\n", worst * 100);
}
} // namespace

int main()
{
    std::printf("time-left estimate against the truth at each tenth of a %u MiB download "
                "(error of the estimate)\n",
                kSize / 1024 / 1024);
    run("steady 2.5 MB/s", steady);
    run("steady, intervals +-50 %", jittery);
    run("rate halves at 40 %", halving);
    return 0;
}
