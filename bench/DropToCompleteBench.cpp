// From dropping a file into a node's SEND folder until it is complete at its neighbour, and at
// the neighbour's neighbour: three node processes A - B - C on loopback with real timers. Each
// is a whole node (PavoNode, as the program builds it): its folder watch makes a pass every 11
// half-second ticks and shortly after the SEND folder changes, and both ends of a link dial. The
// file is written into A's SEND folder as a user's copy would. Prints the time to complete at B
// and at C for a small file and a 64 MiB one.
//
//   DropToCompleteBench
#include "app/NodeSettings.h"
#include "node/PavoNode.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// index 0 = A, 1 = B, 2 = C; neighbours in the chain, each dialling the other.
int runNode(int index, const std::string& folder, const std::vector<int>& ports, int outFd)
{
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    return withApplication("node", [&] {
        const char* names[] = {"A", "B", "C"};
        std::vector<int> neighbours;
        if (index > 0)
            neighbours.push_back(index - 1);
        if (index < 2)
            neighbours.push_back(index + 1);
        auto node = startNode(folder, [&](NodeSettings& s) {
            configure(s, names[index], kParty);
            s.setListenPort(ports[static_cast<std::size_t>(index)]);
            for (int j : neighbours)
                s.connections().append(loopbackPeer(names[j], ports[static_cast<std::size_t>(j)]));
        });
        node->setOnline(true);
        plat::TimerSet look([](int) {}); // wakes the loop, so completion is seen within 5 ms
        look.set(1, 5);
        plat::runUntil(
            [&] {
                if (g_stop)
                    return true;
                for (std::size_t k = 0; k < neighbours.size(); ++k)
                    if (node->transfer().isConnected(static_cast<int>(k)) != 1)
                        return false;
                return true;
            },
            kTimeoutMs);
        report(outFd, "LINKED\n");
        // A, where the files are dropped, has nothing to report.
        for (const FileCase& f : kFiles) {
            if (index == 0)
                break;
            plat::runUntil([&] { return g_stop || completeAt(*node, "A", f.name); }, kTimeoutMs);
            report(outFd, std::string("DONE ") + f.name + "\n");
        }
        plat::runUntil([] { return g_stop != 0; }, kTimeoutMs);
        node->shutdown();
        return 0;
    });
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

    const std::vector<int> ports = freePorts(3);
    std::vector<pid_t> pids;
    std::vector<int> fromChild;
    for (int i = 0; i < 3; ++i) {
        int up[2];
        if (::pipe(up) != 0)
            return 1;
        std::fflush(stdout);
        const pid_t pid = ::fork();
        if (pid == 0) {
            silence(false);
            ::close(up[0]);
            ::_exit(runNode(i, folders[static_cast<std::size_t>(i)], ports, up[1]));
        }
        ::close(up[1]);
        pids.push_back(pid);
        fromChild.push_back(up[0]);
    }
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
