#include "support/PacingProxy.h"
#include "support/ProxySocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadSize = 16u << 10;

volatile std::sig_atomic_t g_stop = 0;

// One connection: the client's socket and the target's.
struct Link
{
    int client = -1;
    int target = -1;
    bool dead = false;
};

// Bytes from a target waiting for the uplink, in arrival order.
struct Piece
{
    Link* link = nullptr;
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
};

struct State
{
    int listenFd = -1;
    int targetPort = 0;
    double rate = 0;
    std::size_t limit = 0;
    std::vector<std::unique_ptr<Link>> links;
    std::deque<Piece> uplink;
    std::size_t queued = 0;
    double tokens = 0;
    Clock::time_point lastFill = Clock::now();
    std::size_t turn = 0;
};

void acceptOne(State& s)
{
    const int a = ::accept4(s.listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (a < 0)
        return;
    const int b = connectLoopback(s.targetPort);
    if (b < 0) {
        ::close(a);
        return;
    }
    makeProxyEnd(a);
    makeProxyEnd(b);
    auto link = std::make_unique<Link>();
    link->client = a;
    link->target = b;
    s.links.push_back(std::move(link));
}

// Client to target: at once (requests are small; a blocked write drops nothing as the client
// is not read meanwhile beyond what fits).
void forwardUp(Link& l, std::vector<std::uint8_t>& buffer)
{
    const ssize_t n = ::read(l.client, buffer.data(), buffer.size());
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        l.dead = true;
        return;
    }
    for (ssize_t done = 0; n > 0 && done < n;) {
        const ssize_t w =
            ::send(l.target, buffer.data() + done, std::size_t(n - done), MSG_NOSIGNAL);
        if (w > 0)
            done += w;
        else if (w < 0 && errno != EAGAIN && errno != EINTR)
            return void(l.dead = true);
        else
            ::usleep(200);
    }
}

void readDown(State& s, Link& l, std::vector<std::uint8_t>& buffer)
{
    const std::size_t room = std::min(buffer.size(), s.limit - s.queued);
    const ssize_t n = ::read(l.target, buffer.data(), room);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        l.dead = true;
        return;
    }
    if (n < 0)
        return;
    s.uplink.push_back({&l, std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + n), 0});
    s.queued += static_cast<std::size_t>(n);
}

// The uplink sends what its rate allows, oldest first.
void drainUplink(State& s)
{
    const auto now = Clock::now();
    s.tokens = std::min(s.tokens + s.rate * std::chrono::duration<double>(now - s.lastFill).count(),
                        double(kReadSize));
    s.lastFill = now;
    while (!s.uplink.empty() && s.tokens >= 1) {
        Piece& p = s.uplink.front();
        const std::size_t want =
            std::min(p.bytes.size() - p.sent, static_cast<std::size_t>(s.tokens));
        const ssize_t n = p.link->dead
                              ? ssize_t(want)
                              : ::send(p.link->client, p.bytes.data() + p.sent, want, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        p.sent += static_cast<std::size_t>(n);
        s.queued -= static_cast<std::size_t>(n);
        s.tokens -= static_cast<double>(n);
        if (p.sent == p.bytes.size())
            s.uplink.pop_front();
    }
}

void removeDead(State& s)
{
    for (auto it = s.links.begin(); it != s.links.end();) {
        Link* l = it->get();
        const bool waiting = std::any_of(s.uplink.begin(), s.uplink.end(),
                                         [l](const Piece& p) { return p.link == l; });
        if (l->dead && !waiting) {
            ::close(l->client);
            ::close(l->target);
            it = s.links.erase(it);
        } else {
            ++it;
        }
    }
}

[[noreturn]] void serve(State s)
{
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::uint8_t> buffer(kReadSize);
    while (!g_stop) {
        std::vector<pollfd> fds{{s.listenFd, POLLIN, 0}};
        for (auto& l : s.links) {
            fds.push_back({l->client, POLLIN, 0});
            fds.push_back({l->target, short(s.queued < s.limit && !l->dead ? POLLIN : 0), 0});
        }
        // A millisecond's tick paces the uplink.
        timespec ts{0, 1'000'000};
        if (::ppoll(fds.data(), fds.size(), &ts, nullptr) < 0)
            continue;
        // The targets take turns at the uplink's queue, each starting a round in turn.
        const std::size_t count = s.links.size();
        ++s.turn;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t i = (k + s.turn) % count;
            Link& l = *s.links[i];
            if (fds[1 + 2 * i].revents & (POLLIN | POLLHUP | POLLERR))
                forwardUp(l, buffer);
            if (s.queued < s.limit && (fds[2 + 2 * i].revents & (POLLIN | POLLHUP | POLLERR)))
                readDown(s, l, buffer);
        }
        if (fds[0].revents & POLLIN)
            acceptOne(s);
        drainUplink(s);
        removeDead(s);
    }
    ::_exit(0);
}

} // namespace

PacingProxy startPacingProxy(int targetPort, double bytesPerSecond, std::size_t queueBytes)
{
    PacingProxy proxy;
    int port = 0;
    const int fd = listenLoopback(port);
    if (fd < 0)
        return proxy;
    std::fflush(nullptr);
    proxy.pid = ::fork();
    if (proxy.pid == 0) {
        State s;
        s.listenFd = fd;
        s.targetPort = targetPort;
        s.rate = bytesPerSecond;
        s.limit = std::max<std::size_t>(queueBytes, kReadSize);
        serve(std::move(s));
    }
    ::close(fd);
    proxy.port = proxy.pid > 0 ? port : 0;
    return proxy;
}

void stopPacingProxy(PacingProxy& proxy)
{
    endProxyProcess(proxy.pid);
    proxy = {};
}

} // namespace bench
