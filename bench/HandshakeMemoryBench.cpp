// Connections that are never admitted, at scale: 200 connection attempts against one whole node
// (PavoNode, as the program builds it) in each of three ways (idle, stopping half-way through a
// hello, naming a node that is not configured), with the node's resident memory before, at the peak
// while they stand, and after they have gone. Timers run 20 times faster (PAVO_TIME_SCALE=0.05), so
// the handshake time-out of about 30 s passes in 1.5 s.
//
//   HandshakeMemoryBench
#include "node/PavoNode.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"
#include "tcp/CTcpA2AModel.h"
#include "wire/HelloBody.h"
#include "wire/MessageBuilder.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace bench;

namespace {

constexpr int kAttempts = 200;

double residentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return 0;
}

std::vector<std::uint8_t> hello(const std::string& node)
{
    std::vector<std::uint8_t> msg(catalog::HelloLayout::MessageSize);
    catalog::buildHello(msg.data(), node, "Bench", 0, plat::SystemTime{});
    return msg;
}

enum class Way
{
    Idle,
    HalfHello,
    Stranger,
};

struct Figures
{
    double peak = 0;
    int mostWaiting = 0;
};

// Runs the loop for ms, sampling the resident memory and the connections waiting for a hello.
void watch(const CTcpA2AModel& model, int ms, Figures& f)
{
    for (int t = 0; t < ms; t += 20) {
        plat::runFor(20);
        f.peak = std::max(f.peak, residentMiB());
        f.mostWaiting = std::max(f.mostWaiting, model.pendingCount());
    }
}

Figures attempt(const CTcpA2AModel& model, Way way)
{
    const int port = model.listenPort();
    Figures f;
    std::vector<int> sockets;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < kAttempts; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0 || ::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            if (s >= 0)
                ::close(s);
            continue;
        }
        sockets.push_back(s);
        if (way == Way::HalfHello) {
            const auto msg = hello("peer");
            (void)!::send(s, msg.data(), msg.size() / 2, MSG_NOSIGNAL);
        } else if (way == Way::Stranger) {
            const auto msg = hello("stranger" + std::to_string(i));
            (void)!::send(s, msg.data(), msg.size(), MSG_NOSIGNAL);
        }
        // A few at a time, fewer than the listening backlog holds, so that no connect waits for
        // the node to accept.
        if (i % 4 == 3)
            watch(model, 20, f);
    }
    watch(model, 500, f);
    for (int s : sockets)
        ::close(s);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("PAVO_TIME_SCALE", "0.05", 1);
    QCoreApplication app(argc, argv);
    silence(false);
    std::string folder = "/tmp/pavo-handshake-bench-XXXXXX";
    if (!::mkdtemp(folder.data()))
        return 1;
    // The node only listens (as with "-SERVER"): it must not dial its one configured peer.
    NodeOptions options = nodeOptions();
    options.serverOnly = true;
    auto node = startNode(
        folder,
        [](NodeSettings& s) {
            configure(s, Side{"me", "peer", "Bench"});
        },
        options);
    node->setOnline(true);
    const CTcpA2AModel& model = tcpModel(*node);
    if (model.listenPort() <= 0)
        return 1;
    plat::runFor(200);

    std::fprintf(stderr, "%d connection attempts per row; at most %d may wait for their hello\n",
                 kAttempts, CTcpA2AModel::kMaxUnadmitted);
    std::fprintf(stderr, "%-28s %10s %10s %10s %9s\n", "attempts", "before", "peak", "after",
                 "waiting");
    const struct
    {
        const char* name;
        Way way;
    } rows[] = {{"idle (never a byte)", Way::Idle},
                {"half a hello, then silence", Way::HalfHello},
                {"hello of an unknown node", Way::Stranger}};
    const double start = residentMiB();
    for (const auto& row : rows) {
        const double before = residentMiB();
        const Figures f = attempt(model, row.way);
        // Long enough for every waiting connection's handshake time-out.
        plat::runFor(2500);
        const double after = residentMiB();
        std::fprintf(stderr, "%-28s %7.1f MiB %7.1f MiB %7.1f MiB %9d\n", row.name, before, f.peak,
                     after, f.mostWaiting);
    }
    std::fprintf(stderr,
                 "resident memory: %.1f MiB at the start, %.1f MiB at the end (%+.1f MiB)\n", start,
                 residentMiB(), residentMiB() - start);
    node->shutdown();
    node.reset();
    std::system(("rm -rf " + folder).c_str());
    return 0;
}
