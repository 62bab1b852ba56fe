// One 16 MiB file from a serving node to a downloading node, over loopback TCP and through the
// messaging client: each node's own pavo-messenger logged in to its own account on a Prosody
// XMPP server on loopback. Each node is a whole node (PavoNode, as the program builds it) in a
// process of its own with its own working folder and runtime folder, as two Pavo instances would
// run; the serving node's folder watch registers the file, and the conversation is the real one.
// Through the client, one chunk of 20480 bytes is in flight per stream and a stream writes on its
// 100 ms tick, so the transport is paced by design: it is measured at the real pace and with every
// timer period scaled down (PAVO_TIME_SCALE), which shows what the encoding, the clients and the
// server cost with the node's own periodic work at the same pace (at x0.01 the node-information
// file, published every 30 s, is published again and fetched beside the file every 0.3 s). Each way
// is measured without a party key and with one (the stream's TLS session end to end through the
// server).
//
//     SkypeTransferBench [text]    only the cases whose label contains text
#include "catalog/CCatalog.h"
#include "node/PavoNode.h"
#include "platform/EventLoop.h"
#include "platform/KeyDerivation.h"
#include "support/BenchNode.h"
#include "tcp/CTcpA2AModel.h"
#include "transfer/CTransfer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

// The party key of both nodes in a keyed case; none otherwise. Derived once, before the nodes
// are forked.
std::optional<plat::TlsContext::Key> g_key;

void prepareEnvironment(const NodeRun& run)
{
    ::setenv("XDG_RUNTIME_DIR", run.runtime.c_str(), 1);
    ::setenv("PAVO_TIME_SCALE", run.scale.c_str(), 1);
}

// The options of a node of run: it looks for its messaging client only when it uses one.
NodeOptions optionsOf(const NodeRun& run)
{
    NodeOptions options = nodeOptions();
    options.messagingClient = run.side.method == "SKYPE";
    return options;
}

// The serving node never dials over TCP (as with "-SERVER") and goes on-line once its folder
// watch has registered the file.
int runServer(const NodeRun& run, int portFd)
{
    prepareEnvironment(run);
    return withApplication("server", [&] {
        NodeOptions options = optionsOf(run);
        options.serverOnly = true;
        auto node = startNode(
            run.folder, [&](NodeSettings& s) { configure(s, run.side); }, options);
        usePartyKey(node->settings(), g_key);
        plat::runUntil([&] { return node->catalog()->hasEntry("Server", kFileName, nullptr); },
                       kTimeoutMs);
        node->setOnline(true);
        const int port = run.side.method == "TCP" ? tcpModel(*node).listenPort() : 1;
        report(portFd, std::to_string(port) + "\n");
        ::close(portFd);
        bool seen = false;
        plat::runUntil(
            [&] {
                const bool connected = node->transfer().isConnected(0) == 1;
                seen = seen || connected;
                return seen && !connected;
            },
            kTimeoutMs);
        node->shutdown();
        return 0;
    });
}

// The downloading node never listens (as with "-CLIENT"); it dials as soon as its transport can,
// as its heartbeat would, and the heartbeat dials again should that fail.
int runFetcher(const NodeRun& run, int reportFd)
{
    prepareEnvironment(run);
    return withApplication("fetcher", [&] {
        NodeOptions options = optionsOf(run);
        options.clientOnly = true;
        auto node = startNode(
            run.folder, [&](NodeSettings& s) { configure(s, run.side); }, options);
        usePartyKey(node->settings(), g_key);
        const auto start = std::chrono::steady_clock::now();
        node->setOnline(true);
        CTransfer& coordinator = node->transfer();
        plat::runUntil([&] { return coordinator.canConnect(0) == 1; }, kTimeoutMs);
        if (coordinator.isConnected(0) == 0)
            coordinator.connectPeer(0);
        const auto [complete, transfer] = awaitDownload(*node, "Server", kFileName, kTimeoutMs);
        node->setOnline(false);
        node->disconnectAll(false);
        plat::runFor(200);
        node->shutdown();
        char line[200];
        std::snprintf(line, sizeof line, "%7.2f MB/s  (%.0f MiB in %.2f s; %.2f s from start)%s",
                      kFileSize / 1e6 / transfer, kFileSize / 1048576.0, transfer, seconds(start),
                      complete ? "" : "  INCOMPLETE");
        report(reportFd, line);
        return complete ? 0 : 1;
    });
}

// A child process whose standard output (and error, when merge) is read until it has printed
// marker; its pid then, or -1.
pid_t startAndWait(const std::vector<std::string>& argv, const std::string& marker, bool merge)
{
    int out[2];
    if (::pipe(out) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        if (merge) {
            ::dup2(out[1], STDERR_FILENO);
        } else {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
        }
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while (text.find(marker) == std::string::npos &&
           (n = ::read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    // The rest of its output goes nowhere; the pipe stays open so it never writes into a void.
    if (text.find(marker) == std::string::npos) {
        ::close(out[0]);
        std::fprintf(stderr, "%s did not print \"%s\":\n%s\n", argv[0].c_str(), marker.c_str(),
                     text.c_str());
        return -1;
    }
    return pid;
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// The messaging side of one measurement: a Prosody server on loopback with the accounts alice
// and bob, and one client per node logged in to its account.
struct Messaging
{
    pid_t server = -1;
    pid_t alice = -1;
    pid_t bob = -1;
};

bool startMessaging(const std::string& root, const std::string& serverRun,
                    const std::string& fetcherRun, Messaging& m)
{
    const std::string config = root + "/prosody.cfg.lua";
    const int port = freePort();
    fs::create_directories(root + "/data");
    std::ofstream(config) << "pidfile = \"" << root << "/prosody.pid\"\n"
                          << "data_path = \"" << root << "/data\"\ncertificates = \"" << root
                          << "\"\nrun_as_root = true\nlog = { warn = \"" << root
                          << "/prosody.log\" }\nmodules_enabled = { \"roster\", \"saslauth\", "
                             "\"tls\", \"disco\", \"ping\", \"posix\" }\n"
                          << "modules_disabled = { \"s2s\" }\ninterfaces = { \"127.0.0.1\" }\n"
                          << "c2s_ports = { " << port << " }\ns2s_ports = { }\n"
                          << "c2s_direct_tls_ports = { }\nc2s_require_encryption = true\n"
                          << "authentication = \"internal_hashed\"\n"
                          << "ssl = { certificate = \"" << root << "/localhost.crt\", key = \""
                          << root << "/localhost.key\" }\nVirtualHost \"localhost\"\n";
    const std::string quiet = " >/dev/null 2>&1";
    if (std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
                     "-addext subjectAltName=DNS:localhost -keyout " +
                     root + "/localhost.key -out " + root + "/localhost.crt" + quiet)
                        .c_str()) != 0)
        return false;
    for (const char* user : {"alice", "bob"}) {
        if (std::system(("prosodyctl --config " + config + " register " + user + " localhost " +
                         user + "-secret" + quiet)
                            .c_str()) != 0)
            return false;
        const std::string pw = root + "/" + user + ".pw";
        std::ofstream(pw) << user << "-secret\n";
        fs::permissions(pw, fs::perms::owner_read | fs::perms::owner_write);
        std::ofstream(root + "/" + user + ".conf")
            << "jid = " << user << "@localhost\npassword-file = " << pw
            << "\nserver = 127.0.0.1\nport = " << port << "\nca-file = " << root
            << "/localhost.crt\ncontacts = " << (user[0] == 'a' ? "bob" : "alice")
            << "@localhost\nruntime = " << (user[0] == 'a' ? serverRun : fetcherRun) << "\n";
    }
    m.server = startAndWait({"prosody", "-F", "--config", config}, "", false);
    // Prosody prints nothing when it is up: the port is asked until it answers.
    for (int i = 0; i < 400; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        if (up)
            break;
        ::usleep(50000);
    }
    const std::string binary = fs::read_symlink("/proc/self/exe").parent_path() / "pavo-messenger";
    m.alice = startAndWait({binary, "--config", root + "/alice.conf"}, "logged in as", true);
    m.bob = startAndWait({binary, "--config", root + "/bob.conf"}, "logged in as", true);
    return m.server > 0 && m.alice > 0 && m.bob > 0;
}

// One transfer; prints its line. False when it failed.
bool measure(const std::string& root, const std::string& folder, const std::string& label,
             const std::string& method, const std::string& scale, bool keyed = false)
{
    static const std::optional<plat::TlsContext::Key> key =
        plat::derivePartyKey("bench passphrase", kParty);
    g_key.reset();
    if (keyed)
        g_key = key;
    const std::string base = root + "/" + folder;
    NodeRun server{base + "/serving",
                   base + "/serving/run",
                   scale,
                   {"Server", "Fetcher", kParty, method, "bob@localhost", 0}};
    NodeRun fetcher{base + "/fetching",
                    base + "/fetching/run",
                    scale,
                    {"Fetcher", "Server", kParty, method, "alice@localhost", 0}};
    for (const NodeRun* r : {&server, &fetcher}) {
        fs::create_directories(r->folder + "/SEND");
        fs::create_directories(r->runtime);
        fs::permissions(r->runtime, fs::perms::owner_all);
    }
    fs::copy_file(root + "/" + kFileName, server.folder + "/SEND/" + kFileName);

    Messaging messaging;
    if (method == "SKYPE" && !startMessaging(base, server.runtime, fetcher.runtime, messaging)) {
        std::printf("%-26s the XMPP server or a client did not start\n", label.c_str());
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
    double aliceCpu = 0;
    double bobCpu = 0;
    double prosodyCpu = 0;
    if (method == "SKYPE") {
        ::kill(messaging.alice, SIGTERM);
        ::kill(messaging.bob, SIGTERM);
        aliceCpu = reap(messaging.alice);
        bobCpu = reap(messaging.bob);
        ::kill(messaging.server, SIGTERM);
        prosodyCpu = reap(messaging.server);
    }
    const bool same = sameFiles(server.folder + "/SEND/" + kFileName,
                                fetcher.folder + "/RECV/Server/" + kFileName);
    std::printf("%-26s %s\n%-26s cpu: serving %.2f s, downloading %.2f s", label.c_str(),
                figures.c_str(), "", serverCpu, fetcherCpu);
    if (method == "SKYPE")
        std::printf(";\n%-26s      serving's client %.2f s, downloading's client %.2f s, "
                    "XMPP server %.2f s",
                    "", aliceCpu, bobCpu, prosodyCpu);
    std::printf("; received file %s\n", same ? "identical" : "DIFFERS");
    std::fflush(stdout);
    return same && fetcherCpu >= 0 && serverCpu >= 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string only = argc > 1 ? argv[1] : "";
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
    struct Case
    {
        const char* folder;
        const char* label;
        const char* method;
        const char* scale;
        bool keyed;
    };
    const Case cases[] = {
        {"tcp", "TCP loopback", "TCP", "1", false},
        {"fast", "XMPP, timers x0.01", "SKYPE", "0.01", false},
        {"fastkey", "XMPP keyed, timers x0.01", "SKYPE", "0.01", true},
        {"real", "XMPP, real pace", "SKYPE", "1", false},
        {"realkey", "XMPP keyed, real pace", "SKYPE", "1", true},
    };
    int failures = 0;
    for (const Case& c : cases) {
        if (std::string(c.label).find(only) != std::string::npos)
            failures += !measure(root, c.folder, c.label, c.method, c.scale, c.keyed);
    }
    fs::remove_all(root);
    return failures == 0 ? 0 : 1;
}
