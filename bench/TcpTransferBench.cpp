// One 256 MiB file from a serving node to a downloading node over loopback TCP. Each node is a
// separate process with its own working folder, catalog and TCP peer model, exactly as two Pavo
// instances would run; the conversation is the real one (handshake, catalog batch, then one
// chunk in flight at a time). Prints the transfer rate and each side's CPU time and peak memory.
#include "catalog/CCatalog.h"
#include "catalog/CatalogRecord.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"
#include "tcp/CTcpA2AModel.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

using namespace bench;

namespace {

constexpr std::uint64_t kFileSize = 256ull << 20;
constexpr const char* kFileName = "big.bin";
constexpr const char* kParty = "Bench";
constexpr int kTimeoutMs = 10 * 60 * 1000;

int runServer(const std::string& folder, int portFd, int reportFd)
{
    int argc = 1;
    char name[] = "server";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    BenchSettings settings(folder, {"Server", "Fetcher", kParty});
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

} // namespace

int main()
{
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/pavo-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    const std::string serving = root + "/serving";
    const std::string fetching = root + "/fetching";
    for (const std::string& dir : {serving, fetching})
        fs::create_directories(dir + "/SEND");
    if (!writeTestFile(serving + "/SEND/" + kFileName, kFileSize)) {
        std::fprintf(stderr, "cannot write the test file under %s\n", root.c_str());
        return 1;
    }

    const NodePair nodes = runNodePair(
        [&](int portFd, int reportFd) { return runServer(serving, portFd, reportFd); },
        [&](int port, int reportFd) { return runFetcher(fetching, port, reportFd); }, false);
    int failures = 0;
    for (pid_t pid : {nodes.fetcher, nodes.server}) {
        if (pid > 0 && reap(pid) < 0)
            ++failures;
    }
    const std::string& figures = nodes.figures;
    const int port = nodes.port;
    std::printf("TCP transfer of one %llu MiB file over loopback, two node processes\n%s",
                static_cast<unsigned long long>(kFileSize >> 20), figures.c_str());
    const bool same =
        sameFiles(serving + "/SEND/" + kFileName, fetching + "/RECV/Server/" + kFileName);
    std::printf("received file %s\n", same ? "identical" : "DIFFERS");
    fs::remove_all(root);
    return failures == 0 && same && port > 0 ? 0 : 1;
}
