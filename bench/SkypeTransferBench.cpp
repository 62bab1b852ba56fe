// One 16 MiB file from a serving node to a downloading node, over loopback TCP and through the
// messaging-client stand-in. Each node is a separate process with its own working folder,
// runtime folder, catalog and transfer coordinator, as two Pavo instances would run; the
// conversation is the real one. Through the client, one chunk of 20480 bytes is in flight per
// stream and a stream writes on its 100 ms tick, so the transport is paced by design: it is
// measured at the real pace and with every timer period scaled down (PAVO_TIME_SCALE), which
// shows what the encoding and the client relay themselves cost.
#include "catalog/CCatalog.h"
#include "catalog/CatalogRecord.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"
#include "tcp/CTcpA2AModel.h"
#include "transfer/CTransfer.h"

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

using namespace bench;

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kFileSize = 16ull << 20;
constexpr const char* kFileName = "bench.bin";
constexpr const char* kParty = "Bench";
constexpr int kTimeoutMs = 30 * 60 * 1000;

// A node process: its environment, then the Qt application and the coordinator.
struct NodeRun
{
    std::string folder;
    std::string runtime;
    std::string scale;
    Side side;
};

void prepareEnvironment(const NodeRun& run)
{
    ::setenv("XDG_RUNTIME_DIR", run.runtime.c_str(), 1);
    ::setenv("PAVO_TIME_SCALE", run.scale.c_str(), 1);
}

int runServer(const NodeRun& run, int portFd)
{
    prepareEnvironment(run);
    int argc = 1;
    char name[] = "server";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    BenchSettings settings(run.folder, run.side);
    CCatalog::instance()->addLocal(
        ownRecord(settings.getSendFolder() + "/" + kFileName, "Server", kParty));
    {
        CTransfer transfer;
        transfer.initialise({});
        CTcpA2AModel* tcp = CTcpA2AModel::instance();
        if (run.side.method == "TCP")
            tcp->goOnline();
        report(portFd, std::to_string(run.side.method == "TCP" ? tcp->listenPort() : 1) + "\n");
        ::close(portFd);
        bool seen = false;
        plat::runUntil(
            [&] {
                const bool connected = transfer.isConnected(0) == 1;
                seen = seen || connected;
                return seen && !connected;
            },
            kTimeoutMs);
        transfer.terminate();
    }
    CCatalog::destroyInstance();
    return 0;
}

int runFetcher(const NodeRun& run, int reportFd)
{
    prepareEnvironment(run);
    int argc = 1;
    char name[] = "fetcher";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    BenchSettings settings(run.folder, run.side);
    CCatalog* catalog = CCatalog::instance();
    bool complete = false;
    double transfer = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        CTransfer coordinator;
        coordinator.initialise({});
        // What the main window's on-line tick does, checked more often.
        plat::TimerSet dial([&](int) {
            if (coordinator.isConnected(0) == 0 && coordinator.canConnect(0) == 1)
                coordinator.connectPeer(0);
        });
        dial.set(1, 100);
        plat::runUntil([&] { return catalog->hasEntry("Server", kFileName, nullptr); }, kTimeoutMs);
        const auto announced = std::chrono::steady_clock::now();
        CatalogRecord entry;
        complete = plat::runUntil(
            [&] { return catalog->hasEntry("Server", kFileName, &entry) && entry.completeFlag(); },
            kTimeoutMs);
        transfer = seconds(announced);
        dial.kill(1);
        coordinator.disconnectPeer(0);
        plat::runFor(200);
        coordinator.terminate();
    }
    CCatalog::destroyInstance();
    char line[200];
    std::snprintf(line, sizeof line, "%7.2f MB/s  (%.0f MiB in %.2f s; %.2f s from start)%s",
                  kFileSize / 1e6 / transfer, kFileSize / 1048576.0, transfer, seconds(start),
                  complete ? "" : "  INCOMPLETE");
    report(reportFd, line);
    return complete ? 0 : 1;
}

// The stand-in as its own process, serving alice at the server's runtime folder and bob at the
// fetcher's; its pid once it is ready, or -1.
pid_t startStandin(const std::string& root, const std::string& serverRun,
                   const std::string& fetcherRun)
{
    const std::string config = root + "/users.ini";
    std::ofstream(config) << "[alice]\nruntime = " << serverRun << "\ncontacts = bob\n"
                          << "[bob]\nruntime = " << fetcherRun << "\ncontacts = alice\n";
    int out[2];
    if (::pipe(out) != 0)
        return -1;
    const std::string binary = fs::read_symlink("/proc/self/exe").parent_path() / "pavo-messenger";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execl(binary.c_str(), binary.c_str(), "--local", config.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while (text.find("pavo-messenger: ready") == std::string::npos &&
           (n = ::read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    return text.find("pavo-messenger: ready") != std::string::npos ? pid : -1;
}

// One transfer; prints its line. False when it failed.
bool measure(const std::string& root, const std::string& folder, const std::string& label,
             const std::string& method, const std::string& scale)
{
    const std::string base = root + "/" + folder;
    NodeRun server{base + "/serving",
                   base + "/serving/run",
                   scale,
                   {"Server", "Fetcher", kParty, method, "bob", 0}};
    NodeRun fetcher{base + "/fetching",
                    base + "/fetching/run",
                    scale,
                    {"Fetcher", "Server", kParty, method, "alice", 0}};
    for (const NodeRun* r : {&server, &fetcher}) {
        fs::create_directories(r->folder + "/SEND");
        fs::create_directories(r->runtime);
        fs::permissions(r->runtime, fs::perms::owner_all);
    }
    fs::copy_file(root + "/" + kFileName, server.folder + "/SEND/" + kFileName);

    pid_t standin = -1;
    if (method == "SKYPE" && (standin = startStandin(base, server.runtime, fetcher.runtime)) < 0) {
        std::printf("%-26s the stand-in did not start\n", label.c_str());
        return false;
    }
    const NodePair nodes = runNodePair([&](int portFd, int) { return runServer(server, portFd); },
                                       [&](int port, int reportFd) {
                                           fetcher.side.peerPort = port;
                                           return runFetcher(fetcher, reportFd);
                                       },
                                       true);
    const std::string& figures = nodes.figures;
    const double fetcherCpu = reap(nodes.fetcher);
    const double serverCpu = reap(nodes.server);
    double standinCpu = 0;
    if (standin > 0) {
        ::kill(standin, SIGTERM);
        standinCpu = reap(standin);
    }
    const bool same = sameFiles(server.folder + "/SEND/" + kFileName,
                                fetcher.folder + "/RECV/Server/" + kFileName);
    std::printf("%-26s %s\n%-26s cpu: serving %.2f s, downloading %.2f s", label.c_str(),
                figures.c_str(), "", serverCpu, fetcherCpu);
    if (method == "SKYPE")
        std::printf(", client stand-in %.2f s", standinCpu);
    std::printf("; received file %s\n", same ? "identical" : "DIFFERS");
    std::fflush(stdout);
    return same && fetcherCpu >= 0 && serverCpu >= 0;
}

} // namespace

int main()
{
    char pattern[] = "/tmp/pavo-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    if (!writeTestFile(root + "/" + kFileName, kFileSize)) {
        std::fprintf(stderr, "cannot write the test file under %s\n", root.c_str());
        return 1;
    }
    std::printf("One %llu MiB file between two node processes on this machine\n",
                static_cast<unsigned long long>(kFileSize >> 20));
    int failures = 0;
    failures += !measure(root, "tcp", "TCP loopback", "TCP", "1");
    failures += !measure(root, "fast", "Skype, timers x0.01", "SKYPE", "0.01");
    failures += !measure(root, "real", "Skype, real pace", "SKYPE", "1");
    fs::remove_all(root);
    return failures == 0 ? 0 : 1;
}
