// What checking content against its origin's hash costs. First the hashing a node does when a
// file is registered: a file hashed in slices on the event loop, as the folder watch has it
// hashed, with the rate and the longest time one slice held the loop (the file is 1 GiB, or the
// GiB given as the first argument; 4 shows a 4 GiB registration). Then one file of 256 MiB from
// a serving node to a downloading node over loopback TCP, each a process of its own, with the
// content check off and on in alternating rounds: the serving side checks its file before it
// serves it, the downloading side hashes every chunk and the whole file before it completes it.
#include "catalog/CCatalog.h"
#include "catalog/ContentHasher.h"
#include "catalog/RecordTrust.h"
#include "catalog/SealStore.h"
#include "catalog/ServedContent.h"
#include "exchange/NodeContext.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"
#include "tcp/CTcpA2AModel.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace bench;

namespace {

constexpr const char* kFileName = "big.bin";
constexpr const char* kParty = "Bench";
constexpr int kTimeoutMs = 10 * 60 * 1000;
constexpr std::uint64_t kTransferSize = 256ull << 20;

// What a node needs to check content: its seals, its trust, a hasher and the serving check.
struct Checking
{
    SealStore seals;
    RecordTrust trust;
    ContentHasher hasher;
    ServedContent served;

    Checking(const std::string& catalogFolder, const std::string& node)
        : seals(catalogFolder + "/" + SealStore::kFileName),
          trust(
              seals, [node] { return node; }, nullptr, nullptr),
          served(trust, hasher)
    {
    }
};

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

int serve(const std::string& folder, bool check, int portFd)
{
    int argc = 1;
    char name[] = "server";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    NodeSettings settings(folder);
    configure(settings, Side{"Server", "Fetcher", kParty});
    NodeContext node(settings);
    auto catalog = std::make_unique<CCatalog>(node, true);
    std::unique_ptr<Checking> checking;
    const std::string path = settings.getSendFolder() + "/" + kFileName;
    const CatalogRecord record = ownRecord(path, "Server", kParty);
    if (check) {
        checking = std::make_unique<Checking>(catalog->catalogFolder(), "Server");
        const auto hash = ContentHasher::hashFile(path);
        checking->trust.sealRegistration(record, *hash);
        checking->served.markMatching(record, path, *hash);
        node.setTrust(&checking->trust);
        catalog->setContentCheck(&checking->served);
    }
    catalog->addLocal(record);
    CTcpA2AModel model(node);
    model.goOnline();
    report(portFd, std::to_string(model.listenPort()) + "\n");
    bool seen = false;
    plat::runUntil(
        [&] {
            seen = seen || model.establishedCount() > 0;
            return seen && model.establishedCount() == 0;
        },
        kTimeoutMs);
    return 0;
}

int fetch(const std::string& folder, bool check, int port, int reportFd)
{
    int argc = 1;
    char name[] = "fetcher";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    NodeSettings settings(folder);
    configure(settings, Side{"Fetcher", "Server", kParty, "TCP", "", port});
    NodeContext node(settings);
    auto catalog = std::make_unique<CCatalog>(node, true);
    std::unique_ptr<Checking> checking;
    if (check) {
        checking = std::make_unique<Checking>(catalog->catalogFolder(), "Fetcher");
        node.setTrust(&checking->trust);
        catalog->setContentCheck(&checking->served);
    }
    CTcpA2AModel model(node);
    model.connectPeer("Server", "127.0.0.1", port);
    plat::runUntil([&] { return catalog->hasEntry("Server", kFileName, nullptr); }, kTimeoutMs);
    const auto announced = std::chrono::steady_clock::now();
    CatalogRecord entry;
    const bool complete = plat::runUntil(
        [&] { return catalog->hasEntry("Server", kFileName, &entry) && entry.completeFlag(); },
        kTimeoutMs);
    const double took = seconds(announced);
    model.disconnectPeer("Server", "127.0.0.1");
    plat::runFor(10);
    report(reportFd, std::to_string(complete ? kTransferSize / 1e6 / took : 0.0) + "\n");
    return complete ? 0 : 1;
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
