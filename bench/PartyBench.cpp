// A party of node processes on loopback in a random mesh (each node 3 or 4 TCP connections), with
// timers running ten times faster than real and one node deliberately slowed (it sleeps most of
// its time). One node registers a 16 MiB file; every other node fetches it hop by hop. Prints,
// per node, the file bytes it received on the wire against the file size, the connections it
// closed for frame or sequence errors, and its peak memory; then the totals.
//
//   PartyBench [nodes=16] [MiB=16]
#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "exchange/CExchange.h"
#include "exchange/NodeContext.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"
#include "tcp/CTcpA2AModel.h"
#include "tcp/CTcpSockStream.h"
#include "wire/CatalogRecord.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bench;

namespace {

constexpr const char* kParty = "Bench";
constexpr const char* kFileName = "party.bin";
constexpr int kSlowNode = 5;
constexpr int kTimeoutMs = 10 * 60 * 1000;

volatile std::sig_atomic_t g_stop = 0;

std::string nodeName(int i)
{
    char name[8];
    std::snprintf(name, sizeof name, "N%02d", i);
    return name;
}

struct Peer
{
    std::string name;
    int port = 0;
};

int runNode(int index, const std::string& folder, const std::vector<int>& neighbours, int inFd,
            int outFd)
{
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    int argc = 1;
    char name[] = "node";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::vector<Peer> peers;
    for (int j : neighbours)
        peers.push_back({nodeName(j), 0});
    NodeSettings settings(folder);
    configure(settings, nodeName(index), kParty);
    for (const Peer& peer : peers)
        settings.connections().append(loopbackPeer(peer.name));
    NodeContext node(settings);
    CCatalog store(node, true);
    CCatalog* catalog = &store;
    if (index == 0)
        catalog->addLocal(
            ownRecord(settings.getSendFolder() + "/" + kFileName, nodeName(0), kParty));
    {
        CTcpA2AModel model(node);
        model.goOnline();
        report(outFd, "PORT " + std::to_string(model.listenPort()) + "\n");
        // The parent answers with every node's port, in node order.
        std::istringstream table(readLine(inFd));
        std::vector<int> ports;
        for (int p; table >> p;)
            ports.push_back(p);
        for (std::size_t k = 0; k < peers.size(); ++k)
            peers[k].port = ports[static_cast<std::size_t>(neighbours[k])];
        // Only the lower-numbered node of a link dials, again while it is down.
        plat::TimerSet timers([&](int id) {
            if (id == 1) {
                for (std::size_t k = 0; k < peers.size(); ++k)
                    if (neighbours[k] > index && !model.isConnected(peers[k].name, {}))
                        model.connectPeer(peers[k].name, "127.0.0.1", peers[k].port);
            } else if (id == 2) {
                // The slowed node: asleep three quarters of its time.
                std::this_thread::sleep_for(std::chrono::milliseconds(plat::scaledMs(60)));
            }
        });
        timers.set(1, 1000);
        if (index == kSlowNode)
            timers.set(2, 20);
        const auto start = std::chrono::steady_clock::now();
        CatalogRecord entry;
        plat::runUntil(
            [&] {
                return g_stop ||
                       (catalog->hasEntry(nodeName(0), kFileName, &entry) && entry.completeFlag());
            },
            kTimeoutMs);
        report(outFd, "DONE " + std::to_string(seconds(start)) + "\n");
        plat::runUntil([] { return g_stop != 0; }, kTimeoutMs);
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        char line[200];
        std::snprintf(line, sizeof line, "FIG %llu %llu %.1f %d\n",
                      static_cast<unsigned long long>(CExchange::fileBytesReceived()),
                      static_cast<unsigned long long>(CTcpSockStream::frameErrorCloses()),
                      ru.ru_maxrss / 1024.0, model.establishedCount());
        report(outFd, line);
    }
    return 0;
}

// A ring with random chords: every node ends with 3 or 4 links.
std::vector<std::set<int>> mesh(int n, unsigned seed)
{
    std::vector<std::set<int>> links(static_cast<std::size_t>(n));
    auto link = [&](int a, int b) {
        links[static_cast<std::size_t>(a)].insert(b);
        links[static_cast<std::size_t>(b)].insert(a);
    };
    for (int i = 0; i < n; ++i)
        link(i, (i + 1) % n);
    std::mt19937 rng(seed);
    for (int round = 0; round < 1000; ++round) {
        const int a = static_cast<int>(rng() % static_cast<unsigned>(n));
        const int b = static_cast<int>(rng() % static_cast<unsigned>(n));
        const auto& la = links[static_cast<std::size_t>(a)];
        const auto& lb = links[static_cast<std::size_t>(b)];
        if (a == b || la.count(b) || la.size() >= 4 || lb.size() >= 4)
            continue;
        if (la.size() < 3 || lb.size() < 3)
            link(a, b);
    }
    return links;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const int n = argc > 1 ? std::max(3, std::atoi(argv[1])) : 16;
    const std::uint64_t size = (argc > 2 ? std::max(1, std::atoi(argv[2])) : 16) * (1ull << 20);
    ::setenv("PAVO_TIME_SCALE", "0.1", 1);
    char pattern[] = "/tmp/pavo-party-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    const auto links = mesh(n, 7);
    std::vector<std::string> folders;
    for (int i = 0; i < n; ++i) {
        folders.push_back(root + "/" + nodeName(i));
        fs::create_directories(folders.back() + "/SEND");
    }
    if (!writeTestFile(folders[0] + "/SEND/" + kFileName, size))
        return 1;

    std::vector<pid_t> pids;
    std::vector<int> toChild, fromChild;
    for (int i = 0; i < n; ++i) {
        int down[2], up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0)
            return 1;
        std::fflush(stdout);
        const pid_t pid = ::fork();
        if (pid == 0) {
            silence(false);
            ::close(down[1]);
            ::close(up[0]);
            const auto& l = links[static_cast<std::size_t>(i)];
            ::_exit(runNode(i, folders[static_cast<std::size_t>(i)],
                            std::vector<int>(l.begin(), l.end()), down[0], up[1]));
        }
        ::close(down[0]);
        ::close(up[1]);
        pids.push_back(pid);
        toChild.push_back(down[1]);
        fromChild.push_back(up[0]);
    }
    std::string table;
    for (int i = 0; i < n; ++i) {
        const std::string line = readLine(fromChild[static_cast<std::size_t>(i)]);
        table += line.substr(line.find(' ') + 1) + " ";
    }
    table += "\n";
    const auto start = std::chrono::steady_clock::now();
    for (int fd : toChild)
        report(fd, table);
    std::vector<double> done(static_cast<std::size_t>(n), -1);
    for (int i = 0; i < n; ++i) {
        const std::string line = readLine(fromChild[static_cast<std::size_t>(i)]);
        if (line.rfind("DONE ", 0) == 0)
            done[static_cast<std::size_t>(i)] = std::atof(line.c_str() + 5);
    }
    // Every node has reported (readLine blocks until each has the file or timed out).
    const double all = seconds(start);
    for (pid_t pid : pids)
        ::kill(pid, SIGTERM);

    std::printf("Party of %d node processes, random mesh (3-4 links each), timers x10, node %s "
                "slowed; one %llu MiB file from %s\n",
                n, nodeName(kSlowNode).c_str(), static_cast<unsigned long long>(size >> 20),
                nodeName(0).c_str());
    std::printf("node links  complete after s  received/size  frame-error closes  peak MiB  "
                "identical\n");
    double worst = 0;
    unsigned long long closes = 0;
    bool ok = true;
    for (int i = 0; i < n; ++i) {
        const std::string line = readLine(fromChild[static_cast<std::size_t>(i)]);
        unsigned long long bytes = 0, c = 0;
        double rss = 0;
        int established = 0;
        std::sscanf(line.c_str(), "FIG %llu %llu %lf %d", &bytes, &c, &rss, &established);
        const double ratio = static_cast<double>(bytes) / static_cast<double>(size);
        const bool same = i == 0 || sameFiles(folders[0] + "/SEND/" + kFileName,
                                              folders[static_cast<std::size_t>(i)] + "/RECV/" +
                                                  nodeName(0) + "/" + kFileName);
        ok = ok && same;
        if (i > 0)
            worst = std::max(worst, ratio);
        closes += c;
        std::printf("%-4s %5zu  %16.1f  %13.3f  %18llu  %8.1f  %s\n", nodeName(i).c_str(),
                    links[static_cast<std::size_t>(i)].size(), done[static_cast<std::size_t>(i)],
                    ratio, c, rss, same ? "yes" : "NO");
    }
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    std::printf("all complete after %.1f s; worst received/size %.3f; frame-error closes %llu\n",
                all, worst, closes);
    fs::remove_all(root);
    return ok ? 0 : 1;
}
