// How good the time-left estimate of a download is: DownloadRate is fed as the node feeds it (one
// catalog update per stored chunk of 51,200 bytes) on a simulated clock, and at each tenth of the
// file its estimate is set against the time the rest really takes.
//
// Cases: a steady rate with chunks arriving at even intervals; the same rate with each interval
// varying by up to ±50 % (the peer's and the disk's hiccups); a rate that halves at 40 %, which no
// estimate can foresee and shows how fast it follows. Then the real thing: two whole nodes
// (PavoNode, as the program builds them) in processes of their own, the fetching node's own
// DownloadRate asked, through a proxy that delays each direction by 20 ms.
//
//   EtaBench
#include "control/DownloadRate.h"

#include "catalog/CCatalog.h"
#include "node/PavoNode.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"
#include "support/DelayProxy.h"
#include "tcp/CTcpA2AModel.h"
#include "wire/CatalogRecord.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

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

constexpr const char* kFileName = "eta.bin";
constexpr const char* kParty = "Eta";
constexpr std::uint64_t kRealSize = 256ull << 20;
constexpr int kTimeoutMs = 10 * 60 * 1000;

// The serving node only listens (as with "-SERVER") and goes on-line once its folder watch has
// registered the file.
int serve(const std::string& folder, int portFd, int)
{
    std::filesystem::create_directories(folder + "/SEND");
    if (!bench::writeTestFile(folder + "/SEND/" + kFileName, kRealSize))
        return 1;
    return bench::withApplication("server", [&] {
        NodeOptions options = bench::nodeOptions();
        options.serverOnly = true;
        auto node = bench::startNode(
            folder,
            [](NodeSettings& s) {
                bench::configure(s, bench::Side{"Server", "Fetcher", kParty});
            },
            options);
        plat::runUntil([&] { return node->catalog()->hasEntry("Server", kFileName, nullptr); },
                       kTimeoutMs);
        node->setOnline(true);
        bench::serveOnePeer(*node, portFd, kTimeoutMs);
        node->shutdown();
        return 0;
    });
}

// The estimate of the node's own DownloadRate at each tenth of the file, set against the time the
// rest took. The node never listens (as with "-CLIENT") and dials at once.
int fetch(const std::string& folder, int port, int reportFd)
{
    return bench::withApplication("fetcher", [&] {
        NodeOptions options = bench::nodeOptions();
        options.clientOnly = true;
        auto node = bench::startNode(
            folder,
            [&](NodeSettings& s) {
                bench::configure(s, bench::Side{"Fetcher", "Server", kParty, "TCP", "", port});
            },
            options);
        std::vector<std::pair<std::chrono::steady_clock::time_point, double>> estimates;
        const auto start = std::chrono::steady_clock::now();
        node->setOnline(true);
        node->transfer().connectPeer(0);
        const bool complete = plat::runUntil(
            [&] {
                CatalogRecord entry;
                if (!node->catalog()->hasEntry("Server", kFileName, &entry))
                    return false;
                const std::size_t tenth = estimates.size() + 1;
                if (tenth < 10 && entry.bytesReceived() >= kRealSize / 10 * tenth) {
                    const auto e = node->downloadRates().estimate(entry);
                    estimates.emplace_back(std::chrono::steady_clock::now(),
                                           e && e->secondsLeft ? *e->secondsLeft : NAN);
                }
                return entry.completeFlag() == 1;
            },
            kTimeoutMs);
        const auto end = std::chrono::steady_clock::now();
        node->setOnline(false);
        node->disconnectAll(false);
        plat::runFor(10);
        node->shutdown();
        std::string line = "two nodes, proxy d=20 ms    ";
        double worst = 0;
        for (std::size_t i = 0; i < estimates.size(); ++i) {
            const double truth = std::chrono::duration<double>(end - estimates[i].first).count();
            const double error = (estimates[i].second - truth) / truth;
            char cell[32];
            std::snprintf(cell, sizeof cell, " %3zu%%:%+6.1f%%", (i + 1) * 10, error * 100);
            line += cell;
            if (std::isfinite(error))
                worst = std::max(worst, std::fabs(error));
        }
        char tail[96];
        std::snprintf(tail, sizeof tail, "   worst %.1f %% (%.1f s)%s\n", worst * 100,
                      std::chrono::duration<double>(end - start).count(),
                      complete ? "" : "  INCOMPLETE");
        bench::report(reportFd, line + tail);
        return complete ? 0 : 1;
    });
}

bool runReal()
{
    char pattern[] = "/tmp/pavo-eta-XXXXXX";
    if (!::mkdtemp(pattern))
        return false;
    const std::string root = pattern;
    const bench::NodePair nodes = bench::runNodePair(
        [&](int portFd, int reportFd) { return serve(root + "/serving", portFd, reportFd); },
        [&](int port, int reportFd) {
            bench::DelayProxy proxy = bench::startDelayProxy(port, 20);
            const int result = fetch(root + "/fetching", proxy.port, reportFd);
            bench::stopDelayProxy(proxy);
            return result;
        },
        false);
    bool ok = nodes.port > 0;
    for (pid_t pid : {nodes.fetcher, nodes.server})
        ok = pid > 0 && bench::reap(pid) >= 0 && ok;
    std::printf("%s", nodes.figures.c_str());
    std::filesystem::remove_all(root);
    return ok;
}

int main()
{
    std::printf("time-left estimate against the truth at each tenth of a %u MiB download "
                "(error of the estimate)\n",
                kSize / 1024 / 1024);
    run("steady 2.5 MB/s", steady);
    run("steady, intervals +-50 %", jittery);
    run("rate halves at 40 %", halving);
    return runReal() ? 0 : 1;
}
