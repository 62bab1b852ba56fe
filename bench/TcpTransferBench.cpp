// One file from a serving node to a downloading node over loopback TCP, directly and through a
// proxy that delays each direction by d (bandwidth unlimited). Each node is a whole node
// (PavoNode, as the program builds it) in a process of its own with its own working folder,
// exactly as two Pavo instances would run: the serving node's folder watch registers the file in
// its send folder, and the conversation is the real one (handshake, catalog batch, then the window
// of file data requests). Where rsync is installed, an rsync daemon serves the same file through
// the same proxy in the same run, as the reference. Prints MB/s, the ratio to rsync, and each
// side's CPU time and peak memory. Then the cost of a party key (TLS 1.3 on the connection): the
// derivation (once per passphrase set), the handshake (once per connection, measured in memory so
// only the work of both sides counts), and the rate with a key against without one, in rounds, on
// loopback and at a 40 ms round trip, with the CPU time the key adds per byte.
// The key is derived once, before the nodes start, as a node reads its stored key at start.
//
//   TcpTransferBench [part of a case's label, e.g. "direct", "d=20", "files", "party key"]
#include "catalog/CCatalog.h"
#include "node/PavoNode.h"
#include "platform/EventLoop.h"
#include "platform/KeyDerivation.h"
#include "platform/TlsSession.h"
#include "support/BenchNode.h"
#include "support/DelayProxy.h"
#include "tcp/CTcpA2AModel.h"
#include "wire/CatalogRecord.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bench;

namespace {

constexpr const char* kFileName = "big.bin";
constexpr const char* kParty = "Bench";
constexpr int kTimeoutMs = 10 * 60 * 1000;

struct Case
{
    const char* label;
    std::uint64_t size;
    int delayMs;     // each direction; -1: no proxy at all
    bool designPeer; // the serving node plays one built to the original design
    bool keyed = false;
    int files = 1; // the size is split evenly among this many files
};

// The names of a case's files in the serving node's send folder.
std::vector<std::string> fileNames(int files)
{
    if (files <= 1)
        return {kFileName};
    std::vector<std::string> names;
    for (int i = 0; i < files; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%04d.bin", i);
        names.emplace_back(name);
    }
    return names;
}

bool allComplete(CCatalog& catalog, const std::vector<std::string>& names)
{
    CatalogRecord entry;
    return std::all_of(names.begin(), names.end(), [&](const std::string& n) {
        return catalog.hasEntry("Server", n, &entry) && entry.completeFlag();
    });
}

// This process's CPU time so far, user and system.
double processCpu()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return cpuOf(ru);
}

// The party key of both nodes in a keyed case; none otherwise.
std::optional<plat::TlsContext::Key> g_key;

// Both sides' time for one handshake, carried in memory; -1 when one failed.
double handshakeSeconds(const std::shared_ptr<const plat::TlsContext>& tls)
{
    const auto start = std::chrono::steady_clock::now();
    plat::TlsSession client(tls, plat::TlsSession::Role::Client);
    plat::TlsSession server(tls, plat::TlsSession::Role::Server);
    std::vector<std::uint8_t> bytes;
    auto carry = [&](plat::TlsSession& from, plat::TlsSession& to) {
        bytes.resize(from.outgoingPending());
        bytes.resize(from.takeOutgoing(bytes.data(), bytes.size()));
        to.putIncoming(bytes.data(), bytes.size());
    };
    for (int round = 0; round < 10 && !(client.established() && server.established()); ++round) {
        client.handshake();
        carry(client, server);
        server.handshake();
        carry(server, client);
    }
    return client.established() && server.established() ? seconds(start) : -1;
}

// The party key of the keyed cases, derived once; the first call prints what a key costs.
std::optional<plat::TlsContext::Key> partyKey()
{
    static std::optional<plat::TlsContext::Key> key;
    if (key)
        return key;
    const auto start = std::chrono::steady_clock::now();
    key = plat::derivePartyKey("bench passphrase", kParty);
    const double derivation = seconds(start);
    const auto tls = key ? plat::TlsContext::create(*key) : nullptr;
    constexpr int kRounds = 200;
    std::vector<double> times;
    for (int i = 0; tls && i < kRounds; ++i)
        times.push_back(handshakeSeconds(tls));
    std::sort(times.begin(), times.end());
    if (times.empty() || times.front() < 0) {
        std::printf("party key: derivation %.3f s; TLS handshake FAILED\n", derivation);
        return key;
    }
    std::printf("party key: derivation %.3f s (once, when the key is set; a node reads the stored "
                "key)\n  TLS handshake %.2f ms per connection (both sides, median of %d; %.2f-%.2f "
                "ms), %.0f handshakes per derivation\n",
                derivation, times[times.size() / 2] * 1e3, kRounds, times.front() * 1e3,
                times.back() * 1e3, derivation / times[times.size() / 2]);
    std::fflush(stdout);
    return key;
}

// The serving node only listens (as with "-SERVER"): the downloading node dials it. It goes
// on-line once its folder watch has registered the files of its send folder.
int runServer(const std::string& folder, bool designPeer, int files, int portFd, int reportFd)
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
        usePartyKey(node->settings(), g_key);
        node->context().switches().sendsFlowBlock = !designPeer;
        const auto names = fileNames(files);
        plat::runUntil(
            [&] {
                return std::all_of(names.begin(), names.end(), [&](const std::string& n) {
                    return node->catalog()->hasEntry("Server", n, nullptr);
                });
            },
            kTimeoutMs);
        node->setOnline(true);
        CTcpA2AModel& model = tcpModel(*node);
        const int port = model.listenPort();
        report(portFd, std::to_string(port) + "\n");
        double cpuAtConnection = 0;
        bool seen = false;
        plat::runUntil(
            [&] {
                if (!seen && model.establishedCount() > 0)
                    cpuAtConnection = processCpu();
                seen = seen || model.establishedCount() > 0;
                return seen && model.establishedCount() == 0;
            },
            kTimeoutMs);
        const double connected = processCpu() - cpuAtConnection;
        node->shutdown();
        char line[120];
        std::snprintf(line, sizeof line, "serving      cpu %7.2f s while connected\n", connected);
        report(reportFd, line + usage("serving"));
        return port > 0 ? 0 : 1;
    });
}

// The downloading node never listens (as with "-CLIENT"); it dials the serving node as soon as it
// goes on-line, as its first heartbeat would.
int runFetcher(const std::string& folder, std::uint64_t size, int files, int port, int reportFd)
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
        usePartyKey(node->settings(), g_key);
        const auto start = std::chrono::steady_clock::now();
        node->setOnline(true);
        node->transfer().connectPeer(0);
        const auto names = fileNames(files);
        plat::runUntil([&] { return node->catalog()->hasEntry("Server", names[0], nullptr); },
                       kTimeoutMs);
        const auto announced = std::chrono::steady_clock::now();
        const double cpuBefore = processCpu();
        const bool complete =
            plat::runUntil([&] { return allComplete(*node->catalog(), names); }, kTimeoutMs);
        const double transfer = seconds(announced);
        const double transferCpu = processCpu() - cpuBefore;
        node->setOnline(false);
        node->disconnectAll(false);
        plat::runFor(10);
        const double total = seconds(start);
        node->shutdown();
        char line[320];
        std::snprintf(line, sizeof line,
                      "RATE %f\n  pavo   %8.1f MB/s  (%.0f MiB in %.3f s from the announcement; "
                      "%.3f s from dialling)%s\n  downloading  cpu %7.2f s during the transfer\n",
                      complete ? size / 1e6 / transfer : 0.0, size / 1e6 / transfer,
                      size / 1048576.0, transfer, total, complete ? "" : "  INCOMPLETE",
                      transferCpu);
        report(reportFd, line + ("  " + usage("downloading")));
        return complete ? 0 : 1;
    });
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool canConnect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

pid_t spawn(const std::vector<std::string>& args, bool quiet)
{
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (quiet)
            silence(true);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

bool haveRsync()
{
    const pid_t pid = spawn({"rsync", "--version"}, true);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// The rsync daemon's rate for the file in folder, through a proxy delaying by delayMs (none for
// -1); 0 when it failed.
double rsyncRate(const std::string& root, const std::string& folder, std::uint64_t size,
                 int delayMs, int files)
{
    namespace fs = std::filesystem;
    const std::string conf = root + "/rsyncd.conf";
    std::ofstream(conf) << "use chroot = no\npid file = " << root
                        << "/rsyncd.pid\n[bench]\npath = " << folder << "\nread only = yes\n";
    const int port = freePort();
    const pid_t daemon = spawn({"rsync", "--daemon", "--no-detach", "--address=127.0.0.1",
                                "--port=" + std::to_string(port), "--config=" + conf},
                               true);
    for (int i = 0; i < 200 && !canConnect(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    DelayProxy proxy;
    int target = port;
    if (delayMs >= 0) {
        proxy = startDelayProxy(port, delayMs);
        target = proxy.port;
    }
    const std::string dest = root + "/rsync-dest";
    fs::create_directories(dest);
    const auto start = std::chrono::steady_clock::now();
    const std::string source = "rsync://127.0.0.1:" + std::to_string(target) + "/bench/";
    const pid_t client =
        files <= 1 ? spawn({"rsync", "-q", "--whole-file", source + kFileName, dest + "/"}, true)
                   : spawn({"rsync", "-q", "-r", "--whole-file", source, dest + "/"}, true);
    int status = 0;
    const bool ok = client > 0 && ::waitpid(client, &status, 0) == client && WIFEXITED(status) &&
                    WEXITSTATUS(status) == 0;
    const double s = seconds(start);
    if (delayMs >= 0)
        stopDelayProxy(proxy);
    ::kill(daemon, SIGTERM);
    ::waitpid(daemon, &status, 0);
    bool same = ok;
    for (const std::string& file : fileNames(files))
        same = same && sameFiles(folder + "/" + file, dest + "/" + file);
    fs::remove_all(dest);
    return same ? size / 1e6 / s : 0;
}

struct Outcome
{
    bool ok = false;
    double rate = 0; // MB/s; 0 when it failed
    std::string figures;
    bool same = false;
};

// One transfer of the case's file between two fresh node processes.
Outcome transfer(const std::string& root, const Case& c)
{
    namespace fs = std::filesystem;
    const std::string serving = root + "/serving";
    const std::string fetching = root + "/fetching";
    fs::remove_all(serving);
    fs::remove_all(fetching);
    for (const std::string& dir : {serving, fetching})
        fs::create_directories(dir + "/SEND");
    Outcome out;
    bool written = true;
    for (const std::string& file : fileNames(c.files))
        written =
            written && writeTestFile(serving + "/SEND/" + file, c.size / std::uint64_t(c.files));
    if (!written) {
        std::fprintf(stderr, "cannot write the test file under %s\n", root.c_str());
        return out;
    }
    g_key.reset();
    if (c.keyed)
        g_key = partyKey();
    const NodePair nodes = runNodePair(
        [&](int portFd, int reportFd) {
            return runServer(serving, c.designPeer, c.files, portFd, reportFd);
        },
        [&](int port, int reportFd) {
            if (c.delayMs < 0)
                return runFetcher(fetching, c.size, c.files, port, reportFd);
            DelayProxy proxy = startDelayProxy(port, c.delayMs);
            const int result = runFetcher(fetching, c.size, c.files, proxy.port, reportFd);
            stopDelayProxy(proxy);
            return result;
        },
        false);
    int failures = 0;
    for (pid_t pid : {nodes.fetcher, nodes.server}) {
        if (pid > 0 && reap(pid) < 0)
            ++failures;
    }
    out.figures = nodes.figures;
    if (const auto at = out.figures.find("RATE "); at != std::string::npos) {
        out.rate = std::atof(out.figures.c_str() + at + 5);
        out.figures.erase(at, out.figures.find('\n', at) - at + 1);
    }
    out.same = true;
    for (const std::string& file : fileNames(c.files))
        out.same =
            out.same && sameFiles(serving + "/SEND/" + file, fetching + "/RECV/Server/" + file);
    out.ok = failures == 0 && out.same && nodes.port > 0;
    return out;
}

bool runCase(const std::string& root, const Case& c, bool rsync)
{
    const Outcome o = transfer(root, c);
    std::printf("%s: %llu MiB\n%s  received file %s\n", c.label,
                static_cast<unsigned long long>(c.size >> 20), o.figures.c_str(),
                o.same ? "identical" : "DIFFERS");
    if (rsync && !c.keyed) {
        const double reference =
            rsyncRate(root, root + "/serving/SEND", c.size, c.delayMs, c.files);
        if (reference > 0)
            std::printf("  rsync  %8.1f MB/s  (daemon, same path)   pavo/rsync %.2f\n", reference,
                        o.rate / reference);
        else
            std::printf("  rsync  failed\n");
    }
    std::fflush(stdout);
    return o.ok;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The CPU seconds both nodes spent in one outcome (serving while connected, downloading during the
// transfer), read from the figures they reported.
double cpuSeconds(const std::string& figures)
{
    double total = 0;
    for (const char* label : {"serving      cpu", "downloading  cpu"})
        if (const auto at = figures.find(label); at != std::string::npos)
            total += std::atof(figures.c_str() + at + std::strlen(label));
    return total;
}

// What a party key costs: rounds of the same transfer without a key and with one, in turn, so a
// slow spell of the machine falls on both alike. Prints each run, the medians, their ratio and
// what the key adds to both nodes' CPU time per byte moved.
bool runKeyCost(const std::string& root, const char* label, std::uint64_t size, int delayMs,
                int rounds)
{
    const Case cases[] = {
        {"without a key", size, delayMs, false, false},
        {"with a key", size, delayMs, false, true},
    };
    std::vector<double> rates[std::size(cases)];
    std::vector<double> cpu[std::size(cases)];
    bool ok = true;
    for (int r = 0; r < rounds; ++r)
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            const Outcome o = transfer(root, cases[i]);
            ok = o.ok && ok;
            rates[i].push_back(o.ok ? o.rate : 0);
            cpu[i].push_back(cpuSeconds(o.figures));
        }
    std::printf("party key cost, %s, %llu MiB, %d rounds in turn (MB/s):\n", label,
                static_cast<unsigned long long>(size >> 20), rounds);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::printf("  %-16s median %7.1f   runs", cases[i].label, median(rates[i]));
        for (double v : rates[i])
            std::printf(" %.0f", v);
        std::printf("   both nodes' cpu median %.2f s\n", median(cpu[i]));
    }
    const double plain = median(rates[0]);
    if (plain > 0)
        std::printf("  keyed/unkeyed %.3f; the key costs %.2f ns of cpu per byte (both nodes)\n",
                    median(rates[1]) / plain, (median(cpu[1]) - median(cpu[0])) / size * 1e9);
    std::fflush(stdout);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/pavo-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    const bool rsync = haveRsync();
    const Case all[] = {
        {"loopback, direct", 256ull << 20, -1, false},
        {"proxy d=0 ms", 64ull << 20, 0, false},
        {"proxy d=5 ms (round trip 10 ms)", 64ull << 20, 5, false},
        {"proxy d=20 ms (round trip 40 ms)", 64ull << 20, 20, false},
        {"proxy d=20 ms, serving node built to the original design", 64ull << 20, 20, true},
        {"proxy d=50 ms (round trip 100 ms)", 64ull << 20, 50, false},
        {"1000 files of 64 KiB, loopback", 1000ull << 16, -1, false, false, 1000},
    };
    // An argument picks the cases whose label contains it.
    const std::string only = argc > 1 ? argv[1] : "";
    std::printf("TCP transfer between two node processes%s\n",
                rsync ? ", next to an rsync daemon" : " (rsync not installed)");
    bool ok = true;
    for (const Case& c : all)
        if (only.empty() || std::string(c.label).find(only) != std::string::npos)
            ok = runCase(root, c, rsync) && ok;
    if (only.empty() || std::string("party key, loopback").find(only) != std::string::npos)
        ok = runKeyCost(root, "loopback", 256ull << 20, -1, 7) && ok;
    if (only.empty() || std::string("party key, round trip 40 ms").find(only) != std::string::npos)
        ok = runKeyCost(root, "proxy d=20 ms (round trip 40 ms)", 64ull << 20, 20, 3) && ok;
    fs::remove_all(root);
    return ok ? 0 : 1;
}
