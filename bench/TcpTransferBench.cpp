// One 256 MiB file from a serving node to a downloading node over loopback TCP. Each node is a
// separate process with its own working folder, catalog and TCP peer model, exactly as two Pavo
// instances would run; the conversation is the real one (handshake, catalog batch, then one
// chunk in flight at a time). Prints the transfer rate and each side's CPU time and peak memory,
// first over plain TCP, then with a party key (TLS 1.3 on the connection), and the ratio of the
// two rates. The key is derived once, before the nodes start, as a node reads its stored key at
// start; the handshake itself derives nothing.
#include "catalog/CCatalog.h"
#include "catalog/CatalogRecord.h"
#include "platform/EventLoop.h"
#include "platform/KeyDerivation.h"
#include "support/BenchNode.h"
#include "tcp/CTcpA2AModel.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <unistd.h>

using namespace bench;

namespace {

constexpr std::uint64_t kFileSize = 256ull << 20;
constexpr const char* kFileName = "big.bin";
constexpr const char* kParty = "Bench";
constexpr int kTimeoutMs = 10 * 60 * 1000;

// The party key of both nodes in the keyed run; none in the plain run.
std::optional<plat::TlsContext::Key> g_key;

void useKey(CPropatyHotLine& settings)
{
    PartyKeyStore::Loaded key;
    if (g_key) {
        key.state = PartyKeyStore::State::Ready;
        key.key = g_key;
    }
    settings.setPartyKey(key);
}

int runServer(const std::string& folder, int portFd, int reportFd)
{
    int argc = 1;
    char name[] = "server";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    BenchSettings settings(folder, {"Server", "Fetcher", kParty});
    useKey(settings);
    CCatalog::instance()->addLocal(
        ownRecord(settings.getSendFolder() + "/" + kFileName, "Server", kParty));
    int port = 0;
    {
        CTcpA2AModel model;
        model.goOnline();
        port = model.listenPort();
        report(portFd, std::to_string(port) + "\n");
        bool seen = false;
        plat::runUntil(
            [&] {
                seen = seen || model.establishedCount() > 0;
                return seen && model.establishedCount() == 0;
            },
            kTimeoutMs);
    }
    CCatalog::destroyInstance();
    report(reportFd, usage("serving"));
    return port > 0 ? 0 : 1;
}

int runFetcher(const std::string& folder, int port, int reportFd)
{
    int argc = 1;
    char name[] = "fetcher";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    BenchSettings settings(folder, {"Fetcher", "Server", kParty, "TCP", "", port});
    useKey(settings);
    CCatalog* catalog = CCatalog::instance();
    bool complete = false;
    double transfer = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        CTcpA2AModel model;
        model.connectPeer("Server", "127.0.0.1", port);
        CatalogRecord entry;
        plat::runUntil([&] { return catalog->hasEntry("Server", kFileName, nullptr); }, kTimeoutMs);
        const auto announced = std::chrono::steady_clock::now();
        complete = plat::runUntil(
            [&] { return catalog->hasEntry("Server", kFileName, &entry) && entry.completeFlag(); },
            kTimeoutMs);
        transfer = seconds(announced);
        model.disconnectPeer("Server", "127.0.0.1");
        plat::runFor(10);
    }
    const double total = seconds(start);
    CCatalog::destroyInstance();
    char line[200];
    std::snprintf(line, sizeof line,
                  "transfer     %7.1f MB/s  (%.0f MiB in %.3f s; %.3f s from dialling)%s\n",
                  kFileSize / 1e6 / transfer, kFileSize / 1048576.0, transfer, total,
                  complete ? "" : "  INCOMPLETE");
    report(reportFd, line + usage("downloading"));
    return complete ? 0 : 1;
}

// One transfer between two fresh node processes; the rate in MB/s, 0 when it failed.
double runOnce(const std::string& root, const char* title)
{
    namespace fs = std::filesystem;
    const std::string serving = root + "/serving";
    const std::string fetching = root + "/fetching";
    fs::remove_all(fetching);
    for (const std::string& dir : {serving, fetching})
        fs::create_directories(dir + "/SEND");
    fs::remove_all(serving + "/CATALOG");

    const NodePair nodes = runNodePair(
        [&](int portFd, int reportFd) { return runServer(serving, portFd, reportFd); },
        [&](int port, int reportFd) { return runFetcher(fetching, port, reportFd); }, false);
    int failures = 0;
    for (pid_t pid : {nodes.fetcher, nodes.server}) {
        if (pid > 0 && reap(pid) < 0)
            ++failures;
    }
    const std::string& figures = nodes.figures;
    std::printf("%s\n%s", title, figures.c_str());
    const bool same =
        sameFiles(serving + "/SEND/" + kFileName, fetching + "/RECV/Server/" + kFileName);
    std::printf("received file %s\n\n", same ? "identical" : "DIFFERS");
    double rate = 0;
    const std::size_t at = figures.find("transfer");
    if (at != std::string::npos && std::sscanf(figures.c_str() + at, "transfer %lf", &rate) != 1)
        rate = 0;
    return failures == 0 && same && nodes.port > 0 ? rate : 0;
}

} // namespace

int main()
{
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/pavo-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    fs::create_directories(root + "/serving/SEND");
    if (!writeTestFile(root + "/serving/SEND/" + kFileName, kFileSize)) {
        std::fprintf(stderr, "cannot write the test file under %s\n", root.c_str());
        return 1;
    }
    std::printf("TCP transfer of one %llu MiB file over loopback, two node processes\n\n",
                static_cast<unsigned long long>(kFileSize >> 20));
    const double plain = runOnce(root, "plain TCP");

    const auto derivation = std::chrono::steady_clock::now();
    g_key = plat::derivePartyKey("bench passphrase", kParty);
    std::printf("party key derivation (scrypt N=%llu r=%u p=%u): %.3f s, once per start\n",
                static_cast<unsigned long long>(plat::kPartyKeyCost.n), plat::kPartyKeyCost.r,
                plat::kPartyKeyCost.p, seconds(derivation));
    const double keyed = g_key ? runOnce(root, "with a party key (TLS 1.3, PSK with ECDHE)") : 0;

    if (plain > 0 && keyed > 0)
        std::printf("keyed / plain rate: %.2f\n", keyed / plain);
    fs::remove_all(root);
    return plain > 0 && keyed > 0 ? 0 : 1;
}
