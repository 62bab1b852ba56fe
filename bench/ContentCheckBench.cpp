// What checking content against its origin's hash costs. First the hashing a node does when a
// file is registered: a file hashed in slices on the event loop, as the folder watch has it
// hashed, with the rate and the longest time one slice held the loop (the file is 1 GiB, or the
// GiB given as the first argument; 4 shows a 4 GiB registration). Then one file of 256 MiB from
// a serving node to a downloading node over loopback TCP, each a whole node (PavoNode, as the
// program builds it) in a process of its own, with the content check off and on in alternating
// rounds: the serving node's folder watch hashes the file when it registers it, the downloading
// node hashes every chunk and the whole file before it completes it.
//
//   ContentCheckBench [GiB hashed=1]
#include "catalog/CCatalog.h"
#include "catalog/ContentHasher.h"
#include "node/PavoNode.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"
#include "tcp/CTcpA2AModel.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace bench;

namespace {

constexpr const char* kFileName = "big.bin";
constexpr const char* kParty = "Bench";
constexpr int kTimeoutMs = 10 * 60 * 1000;
constexpr std::uint64_t kTransferSize = 256ull << 20;

// A node checks content as the program builds it; an unchecked round takes the check out of both
// nodes: no content check on the catalog's deliveries and no record trust on the connections.
void uncheck(PavoNode& node)
{
    node.catalog()->setContentCheck(nullptr);
    node.context().setTrust(nullptr);
}

bool hashingRate(const std::string& root, std::uint64_t gib)
{
    const std::string path = root + "/hashed.bin";
    if (!writeTestFile(path, gib << 30))
        return false;
    int argc = 1;
    char name[] = "hash";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ContentHasher hasher;
    bool done = false;
    const auto start = std::chrono::steady_clock::now();
    hasher.start(path, [&](const auto& digest) { done = digest.has_value(); });
    plat::runUntil([&] { return !hasher.busy(); }, kTimeoutMs);
    const double took = seconds(start);
    std::printf("registration hashing: %llu GiB in %.2f s, %.0f MB/s on the event loop; longest "
                "slice %.1f ms%s\n",
                static_cast<unsigned long long>(gib), took, (gib << 30) / 1e6 / took,
                hasher.longestSliceUs() / 1e3, done ? "" : "  FAILED");
    std::filesystem::remove(path);
    return done;
}

// The serving node only listens (as with "-SERVER") and goes on-line once its folder watch has
// hashed and registered the file.
int serve(const std::string& folder, bool check, int portFd)
{
    return withApplication("server", [&] {
        NodeOptions options = nodeOptions();
        options.serverOnly = true;
        auto node = startNode(
            folder,
            [](NodeSettings& s) {
                configure(s, Side{"Server", "Fetcher", kParty});
            },
            options);
        plat::runUntil([&] { return node->catalog()->hasEntry("Server", kFileName, nullptr); },
                       kTimeoutMs);
        if (!check)
            uncheck(*node);
        node->setOnline(true);
        serveOnePeer(*node, portFd, kTimeoutMs);
        node->shutdown();
        return 0;
    });
}

// The downloading node never listens (as with "-CLIENT") and dials at once.
int fetch(const std::string& folder, bool check, int port, int reportFd)
{
    return withApplication("fetcher", [&] {
        NodeOptions options = nodeOptions();
        options.clientOnly = true;
        auto node = startNode(
            folder,
            [&](NodeSettings& s) {
                configure(s, Side{"Fetcher", "Server", kParty, "TCP", "", port});
            },
            options);
        if (!check)
            uncheck(*node);
        node->setOnline(true);
        node->transfer().connectPeer(0);
        const auto [complete, took] = awaitDownload(*node, "Server", kFileName, kTimeoutMs);
        node->setOnline(false);
        node->disconnectAll(false);
        plat::runFor(10);
        node->shutdown();
        report(reportFd, std::to_string(complete ? kTransferSize / 1e6 / took : 0.0) + "\n");
        return complete ? 0 : 1;
    });
}

double transferRate(const std::string& root, bool check, int round)
{
    namespace fs = std::filesystem;
    const std::string base = root + "/round" + std::to_string(round) + (check ? "on" : "off");
    const std::string server = base + "/server";
    const std::string fetcher = base + "/fetcher";
    fs::create_directories(server + "/SEND");
    fs::create_directories(fetcher);
    if (!writeTestFile(server + "/SEND/" + kFileName, kTransferSize))
        return 0;
    NodePair pair = runNodePair(
        [&](int portFd, int) { return serve(server, check, portFd); },
        [&](int port, int reportFd) { return fetch(fetcher, check, port, reportFd); }, true);
    reap(pair.server);
    reap(pair.fetcher);
    const bool same = sameFiles(server + "/SEND/" + kFileName, fetcher + "/RECV/Server/big.bin");
    fs::remove_all(base);
    return same ? std::atof(pair.figures.c_str()) : 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/pavo-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    const std::uint64_t gib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    bool ok = hashingRate(root, gib > 0 ? gib : 1);
    std::vector<double> off, on;
    constexpr int kRounds = 5;
    for (int round = 0; round < kRounds; ++round) {
        off.push_back(transferRate(root, false, round));
        on.push_back(transferRate(root, true, round));
        std::printf("  round %d: %.1f MB/s unchecked, %.1f MB/s checked\n", round + 1, off.back(),
                    on.back());
        std::fflush(stdout);
    }
    const double a = median(off);
    const double b = median(on);
    ok = ok && a > 0 && b > 0;
    std::printf("loopback 256 MiB, median of %d: %.1f MB/s unchecked, %.1f MB/s with content "
                "checks (%.2fx)\n",
                kRounds, a, b, a > 0 ? b / a : 0.0);
    std::filesystem::remove_all(root);
    return ok ? 0 : 1;
}
