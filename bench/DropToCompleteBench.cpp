// From dropping a file into a node's SEND folder until it is complete at its neighbour, and at
// the neighbour's neighbour: three node processes A - B - C on loopback with real timers. Each
// node runs what the main window runs for this (the folder watch with its periodic pass every
// 11 half-second ticks and the pass shortly after the SEND folder changes, the TCP peer model,
// redialling); the file is written into A's SEND folder as a user's copy would. Prints the time
// to complete at B and at C for a small file and a 64 MiB one.
#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "exchange/NodeContext.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"
#include "tcp/CTcpA2AModel.h"
#include "watch/CFolderWatch.h"
#include "watch/SendFolderTrigger.h"
#include "wire/CatalogRecord.h"

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

using namespace bench;

namespace {

constexpr const char* kParty = "Bench";
constexpr int kTimeoutMs = 5 * 60 * 1000;

struct FileCase
{
    const char* name;
    std::uint64_t size;
};
constexpr FileCase kFiles[] = {{"small.bin", 100u << 10}, {"big.bin", 64ull << 20}};

volatile std::sig_atomic_t g_stop = 0;

struct Peer
{
    std::string name;
    int port = 0;
};

// index 0 = A, 1 = B, 2 = C; neighbours in the chain.
int runNode(int index, const std::string& folder, int inFd, int outFd)
{
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    int argc = 1;
    char name[] = "node";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const char* names[] = {"A", "B", "C"};
    std::vector<int> neighbours;
    if (index > 0)
        neighbours.push_back(index - 1);
    if (index < 2)
        neighbours.push_back(index + 1);
    std::vector<Peer> peers;
    for (int j : neighbours)
        peers.push_back({names[j], 0});
    NodeSettings settings(folder);
    configure(settings, names[index], kParty);
    for (const Peer& peer : peers)
        settings.connections().append(loopbackPeer(peer.name));
    NodeContext node(settings);
    CCatalog store(node, true);
    CCatalog* catalog = &store;
    CFolderWatch::NodeCatalog registrations(store);
    CFolderWatch watch(registrations, settings);
    watch.setFolder(settings.getSendFolder());
    watch.load();
    SendFolderTrigger trigger(settings.getSendFolder(), [&] { watch.scan(); });
    {
        CTcpA2AModel model(node);
        model.goOnline();
        report(outFd, "PORT " + std::to_string(model.listenPort()) + "\n");
        std::istringstream table(readLine(inFd));
        std::vector<int> ports;
        for (int p; table >> p;)
            ports.push_back(p);
        for (std::size_t k = 0; k < peers.size(); ++k)
            peers[k].port = ports[static_cast<std::size_t>(neighbours[k])];
        int tick = 0;
        // The main window's half-second timer: redial every 21 ticks, scan every 11.
        plat::TimerSet timers([&](int id) {
            if (id != 1)
                return;
            ++tick;
            if (tick % 21 == 1)
                for (std::size_t k = 0; k < peers.size(); ++k)
                    if (neighbours[k] > index && !model.isConnected(peers[k].name, {}))
                        model.connectPeer(peers[k].name, "127.0.0.1", peers[k].port);
            if (tick % 11 == 0)
                watch.scan();
        });
        timers.set(1, 500);
        plat::TimerSet look([](int) {}); // wakes the loop, so completion is seen within 5 ms
        look.set(1, 5);
        plat::runUntil([&] { return g_stop || model.establishedCount() == int(peers.size()); },
                       kTimeoutMs);
        report(outFd, "LINKED\n");
        // A, where the files are dropped, has nothing to report.
        for (const FileCase& f : kFiles) {
            if (index == 0)
                break;
            CatalogRecord entry;
            plat::runUntil(
                [&] {
                    return g_stop ||
                           (catalog->hasEntry("A", f.name, &entry) && entry.completeFlag());
                },
                kTimeoutMs);
            report(outFd, std::string("DONE ") + f.name + "\n");
        }
        plat::runUntil([] { return g_stop != 0; }, kTimeoutMs);
    }
    return 0;
}

} // namespace

int main()
{
    namespace fs = std::filesystem;
    ::unsetenv("PAVO_TIME_SCALE");
    char pattern[] = "/tmp/pavo-drop-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    const char* names[] = {"A", "B", "C"};
    std::vector<std::string> folders;
    for (const char* n : names) {
        folders.push_back(root + "/" + n);
        fs::create_directories(folders.back() + "/SEND");
    }
    for (const FileCase& f : kFiles)
        if (!writeTestFile(root + "/" + f.name, f.size))
            return 1;

    std::vector<pid_t> pids;
    std::vector<int> toChild, fromChild;
    for (int i = 0; i < 3; ++i) {
        int down[2], up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0)
            return 1;
        std::fflush(stdout);
        const pid_t pid = ::fork();
        if (pid == 0) {
            silence(false);
            ::close(down[1]);
            ::close(up[0]);
            ::_exit(runNode(i, folders[static_cast<std::size_t>(i)], down[0], up[1]));
        }
        ::close(down[0]);
        ::close(up[1]);
        pids.push_back(pid);
        toChild.push_back(down[1]);
        fromChild.push_back(up[0]);
    }
    std::string table;
    for (int fd : fromChild) {
        const std::string line = readLine(fd);
        table += line.substr(line.find(' ') + 1) + " ";
    }
    table += "\n";
    for (int fd : toChild)
        report(fd, table);
    for (int fd : fromChild)
        readLine(fd); // LINKED
    // Let the first conversations of the new connections finish.
    std::this_thread::sleep_for(std::chrono::seconds(2));

    std::printf("Drop into A's SEND until complete at B (neighbour) and C (through B), real "
                "timers\n");
    bool ok = true;
    for (const FileCase& f : kFiles) {
        // A user's copy into the folder: written, then closed.
        const auto start = std::chrono::steady_clock::now();
        fs::copy_file(root + "/" + f.name, folders[0] + "/SEND/" + f.name);
        readLine(fromChild[1]);
        const double b = seconds(start);
        readLine(fromChild[2]);
        const double c = seconds(start);
        const bool same = sameFiles(root + "/" + f.name, folders[1] + "/RECV/A/" + f.name) &&
                          sameFiles(root + "/" + f.name, folders[2] + "/RECV/A/" + f.name);
        ok = ok && same;
        std::printf("  %-9s %8.1f MiB   at B %6.2f s   at C %6.2f s   %s\n", f.name,
                    f.size / 1048576.0, b, c, same ? "identical" : "DIFFERS");
    }
    for (pid_t pid : pids)
        ::kill(pid, SIGTERM);
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    fs::remove_all(root);
    return ok ? 0 : 1;
}
