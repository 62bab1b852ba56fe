#include "BenchNode.h"

#include "app/PartyKeyStore.h"
#include "catalog/CCatalog.h"
#include "node/PavoNode.h"
#include "tcp/CTcpA2AModel.h"
#include "transfer/CTcpColumn.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

void usePartyKey(CPropatyHotLine& settings, const std::optional<plat::TlsContext::Key>& key)
{
    PartyKeyStore::Loaded loaded;
    if (key) {
        loaded.state = PartyKeyStore::State::Ready;
        loaded.key = key;
    }
    settings.setPartyKey(loaded);
}

ConnectionRecord loopbackPeer(const std::string& name, int port)
{
    std::string address = "127.0.0.1";
    if (port != 0)
        address += "/" + std::to_string(port);
    return ConnectionRecord{name, "TCP", address, {}};
}

std::vector<int> freePorts(int n)
{
    std::vector<int> fds, ports;
    for (int i = 0; i < n; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ports.push_back(ntohs(a.sin_port));
        fds.push_back(fd);
    }
    for (int fd : fds)
        ::close(fd);
    return ports;
}

void configure(NodeSettings& settings, const std::string& node, const std::string& party)
{
    settings.setNodeName(node);
    settings.setPartyName(party);
    settings.setListenPort(0);
}

void configure(NodeSettings& settings, const Side& side)
{
    configure(settings, side.node, side.party);
    if (side.method == "SKYPE")
        settings.connections().append({side.peer, "SKYPE", side.peerSkypeId, {}});
    else
        settings.connections().append(loopbackPeer(side.peer, side.peerPort));
}

NodeOptions nodeOptions()
{
    NodeOptions options;
    options.messagingClient = false;
    return options;
}

std::unique_ptr<PavoNode> startNode(const std::string& folder,
                                    const std::function<void(NodeSettings&)>& write,
                                    const NodeOptions& options)
{
    {
        NodeSettings settings(folder);
        write(settings);
        settings.save();
    }
    return std::make_unique<PavoNode>(folder, options);
}

CTcpA2AModel& tcpModel(PavoNode& node)
{
    return *node.transfer().tcp().model();
}

bool completeAt(PavoNode& node, const std::string& origin, const std::string& file)
{
    CatalogRecord entry;
    return node.catalog() && node.catalog()->hasEntry(origin, file, &entry) &&
           entry.completeFlag() == 1;
}

void serveOnePeer(PavoNode& node, int portFd, int timeoutMs)
{
    CTcpA2AModel& model = tcpModel(node);
    report(portFd, std::to_string(model.listenPort()) + "\n");
    bool seen = false;
    plat::runUntil(
        [&] {
            seen = seen || model.establishedCount() > 0;
            return seen && model.establishedCount() == 0;
        },
        timeoutMs);
}

Download awaitDownload(PavoNode& node, const std::string& origin, const std::string& file,
                       int timeoutMs)
{
    plat::runUntil([&] { return node.catalog()->hasEntry(origin, file, nullptr); }, timeoutMs);
    const auto announced = std::chrono::steady_clock::now();
    Download d;
    d.complete = plat::runUntil([&] { return completeAt(node, origin, file); }, timeoutMs);
    d.seconds = seconds(announced);
    return d;
}

int withApplication(const char* name, const std::function<int()>& body)
{
    int argc = 1;
    std::string arg0 = name;
    char* argv[] = {arg0.data(), nullptr};
    QCoreApplication app(argc, argv);
    return body();
}

double seconds(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

double cpuOf(const rusage& ru)
{
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
           ru.ru_stime.tv_usec / 1e6;
}

std::string usage(const char* side)
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    char line[160];
    std::snprintf(line, sizeof line, "%-12s cpu %7.2f s   peak memory %7.1f MiB\n", side, cpuOf(ru),
                  ru.ru_maxrss / 1024.0);
    return line;
}

void report(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string readAll(int fd)
{
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

std::string readLine(int fd)
{
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line.push_back(c);
    return line;
}

void silence(bool errorsToo)
{
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0)
        return;
    ::dup2(null, STDOUT_FILENO);
    if (errorsToo)
        ::dup2(null, STDERR_FILENO);
}

bool writeTestFile(const std::string& path, std::uint64_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::vector<unsigned char> block(1 << 20);
    for (std::uint64_t done = 0; done < size; done += block.size()) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
        for (std::size_t i = 0; i < n; ++i)
            block[i] = static_cast<unsigned char>((done + i) * 31 + (done >> 20));
        if (std::fwrite(block.data(), 1, n, f) != n) {
            std::fclose(f);
            return false;
        }
    }
    return std::fclose(f) == 0;
}

bool sameFiles(const std::string& a, const std::string& b)
{
    FILE* fa = std::fopen(a.c_str(), "rb");
    FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (same) {
        const std::size_t na = std::fread(ba.data(), 1, ba.size(), fa);
        const std::size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0)
            break;
    }
    if (fa)
        std::fclose(fa);
    if (fb)
        std::fclose(fb);
    return same;
}

namespace {
// The server's first line; it keeps its end open while it serves.
int readPort(int fd)
{
    std::string text;
    char c;
    while (text.size() < 32 && ::read(fd, &c, 1) == 1 && c != '\n')
        text += c;
    return std::atoi(text.c_str());
}
} // namespace

NodePair runNodePair(const std::function<int(int portFd, int reportFd)>& serve,
                     const std::function<int(int port, int reportFd)>& fetch, bool silenceErrors)
{
    NodePair pair;
    int portPipe[2];
    int reportPipe[2];
    if (::pipe(portPipe) != 0 || ::pipe(reportPipe) != 0)
        return pair;
    std::fflush(stdout);
    pair.server = ::fork();
    if (pair.server == 0) {
        silence(silenceErrors);
        ::close(portPipe[0]);
        ::close(reportPipe[0]);
        ::_exit(serve(portPipe[1], reportPipe[1]));
    }
    ::close(portPipe[1]);
    pair.port = readPort(portPipe[0]);
    ::close(portPipe[0]);
    pair.fetcher = pair.port > 0 ? ::fork() : -1;
    if (pair.fetcher == 0) {
        silence(silenceErrors);
        ::close(reportPipe[0]);
        ::_exit(fetch(pair.port, reportPipe[1]));
    }
    ::close(reportPipe[1]);
    pair.figures = readAll(reportPipe[0]);
    ::close(reportPipe[0]);
    return pair;
}

double reap(pid_t pid)
{
    int status = 0;
    rusage ru{};
    if (pid <= 0 || ::wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return cpuOf(ru);
}

} // namespace bench
