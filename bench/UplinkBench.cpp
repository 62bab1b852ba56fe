// One serving node behind a slow uplink (a pacing proxy: one first-in first-out queue of 64 KiB
// emptied at 2 MB/s by default) and four downloading nodes fetching the same file from it at
// once, with real timers. Each node is a whole node (PavoNode, as the program builds it) in a
// process of its own with its own folder; the server's folder watch registers the file. Prints, per
// downloader, its rate, the file bytes it received against the file size, the requests it asked
// again, the answers it dropped, and the time from request to answer (mean and longest) as it saw
// it: the whole wait at the server and on the uplink.
//
//   UplinkBench [MiB=8] [downloaders=4] [uplink MB/s=2]
#include "catalog/CCatalog.h"
#include "node/PavoNode.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"
#include "support/PacingProxy.h"
#include "tcp/CTcpA2AModel.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

using namespace bench;

namespace {

constexpr const char* kParty = "Bench";
constexpr const char* kFileName = "big.bin";
constexpr int kTimeoutMs = 10 * 60 * 1000;

volatile std::sig_atomic_t g_stop = 0;

std::string downloaderName(int i)
{
    return "D" + std::to_string(i + 1);
}

// The server only listens (as with "-SERVER") and goes on-line once its folder watch has
// registered the file.
int runServer(const std::string& folder, int downloaders, int portFd)
{
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    return withApplication("server", [&] {
        NodeOptions options = nodeOptions();
        options.serverOnly = true;
        auto node = startNode(
            folder,
            [&](NodeSettings& s) {
                configure(s, "Server", kParty);
                for (int i = 0; i < downloaders; ++i)
                    s.connections().append(loopbackPeer(downloaderName(i)));
            },
            options);
        plat::runUntil([&] { return node->catalog()->hasEntry("Server", kFileName, nullptr); },
                       kTimeoutMs);
        node->setOnline(true);
        report(portFd, std::to_string(tcpModel(*node).listenPort()) + "\n");
        plat::runUntil([] { return g_stop != 0; }, kTimeoutMs);
        node->shutdown();
        return 0;
    });
}

// A downloader never listens (as with "-CLIENT") and dials the server as soon as it goes on-line.
int runDownloader(const std::string& folder, int index, int port, std::uint64_t size, int reportFd)
{
    return withApplication("downloader", [&] {
        NodeOptions options = nodeOptions();
        options.clientOnly = true;
        auto node = startNode(
            folder,
            [&](NodeSettings& s) {
                configure(s, Side{downloaderName(index), "Server", kParty, "TCP", "", port});
            },
            options);
        // The node's own information file travels too; only the benchmark's file is counted.
        node->context().switches().countedFile = kFileName;
        node->setOnline(true);
        node->transfer().connectPeer(0);
        const auto [complete, s] = bench::awaitDownload(*node, "Server", kFileName, kTimeoutMs);
        const auto& counters = node->context().counters();
        char line[300];
        std::snprintf(
            line, sizeof line, "%-3s %8.3f MB/s  %6.1f s  %7.3f  %8llu  %8llu  %8.0f  %8.0f%s\n",
            downloaderName(index).c_str(), complete ? size / 1e6 / s : 0.0, s,
            static_cast<double>(counters.countedFileBytes) / static_cast<double>(size),
            static_cast<unsigned long long>(counters.requestsAskedAgain),
            static_cast<unsigned long long>(counters.answersDropped), counters.meanAnswerMs(),
            counters.longestAnswerMs, complete ? "" : "  INCOMPLETE");
        report(reportFd, line);
        node->setOnline(false);
        node->disconnectAll(false);
        plat::runFor(10);
        node->shutdown();
        return complete ? 0 : 1;
    });
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const std::uint64_t size = (argc > 1 ? std::max(1, std::atoi(argv[1])) : 8) * (1ull << 20);
    const int downloaders = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 16) : 4;
    const double rate = (argc > 3 ? std::atof(argv[3]) : 2.0) * 1e6;
    char pattern[] = "/tmp/pavo-uplink-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    for (int i = 0; i <= downloaders; ++i)
        fs::create_directories(root + "/n" + std::to_string(i) + "/SEND");
    if (!writeTestFile(root + "/n0/SEND/" + kFileName, size))
        return 1;

    int portPipe[2];
    if (::pipe(portPipe) != 0)
        return 1;
    std::fflush(stdout);
    const pid_t server = ::fork();
    if (server == 0) {
        silence(true);
        ::_exit(runServer(root + "/n0", downloaders, portPipe[1]));
    }
    const int serverPort = std::atoi(readLine(portPipe[0]).c_str());
    PacingProxy proxy = startPacingProxy(serverPort, rate, 64u << 10);
    // Made after the server and the proxy, which must not hold its write end open.
    int reportPipe[2];
    if (::pipe(reportPipe) != 0)
        return 1;
    std::vector<pid_t> pids;
    for (int i = 0; i < downloaders; ++i) {
        std::fflush(stdout);
        const pid_t pid = ::fork();
        if (pid == 0) {
            silence(true);
            ::close(reportPipe[0]);
            ::_exit(runDownloader(root + "/n" + std::to_string(i + 1), i, proxy.port, size,
                                  reportPipe[1]));
        }
        pids.push_back(pid);
    }
    ::close(reportPipe[1]);
    std::printf("One server behind a %.1f MB/s uplink (64 KiB queue), %d downloaders at once, "
                "real timers; %llu MiB file\n",
                rate / 1e6, downloaders, static_cast<unsigned long long>(size >> 20));
    std::printf("node      rate      time  rcvd/size  asked again  dropped  answer ms: mean  "
                "longest\n");
    std::printf("%s", readAll(reportPipe[0]).c_str());
    bool ok = true;
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    stopPacingProxy(proxy);
    ::kill(server, SIGTERM);
    int status = 0;
    ::waitpid(server, &status, 0);
    for (int i = 1; i <= downloaders; ++i)
        ok = ok && sameFiles(root + "/n0/SEND/" + kFileName,
                             root + "/n" + std::to_string(i) + "/RECV/Server/" + kFileName);
    std::printf("%s\n", ok ? "every downloader has the file intact" : "SOME DOWNLOAD FAILED");
    fs::remove_all(root);
    return ok ? 0 : 1;
}
