// One 256 MiB file from a serving node to a downloading node over loopback TCP. Each node is a
// separate process with its own working folder, catalog and TCP peer model, exactly as two Pavo
// instances would run; the conversation is the real one (handshake, catalog batch, then one
// chunk in flight at a time). Prints the transfer rate and each side's CPU time and peak memory.
#include "app/CPropatyHotLine.h"
#include "catalog/CCatalog.h"
#include "catalog/CatalogRecord.h"
#include "platform/EventLoop.h"
#include "platform/FindRecord.h"
#include "tcp/CTcpA2AModel.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint64_t kFileSize = 256ull << 20;
constexpr const char* kFileName = "big.bin";
constexpr const char* kParty = "Bench";
constexpr int kTimeoutMs = 10 * 60 * 1000;

class BenchSettings : public CPropatyHotLine
{
public:
    BenchSettings(std::string folder, std::string node, std::string peer, int peerPort)
        : CPropatyHotLine(std::move(folder)), m_node(std::move(node)), m_peer(std::move(peer)),
          m_peerPort(peerPort)
    {
    }
    std::string getHostName(int) override { return "127.0.0.1"; }
    int getPort(int) override { return m_peerPort; }
    int getConnectCount() override { return 1; }
    std::string getConnectNodeName(int) override { return m_peer; }
    std::string getConnectMethod(int) override { return "TCP"; }
    std::string getNodeName() override { return m_node; }
    std::string getPartyName() override { return kParty; }
    int getLimitDay() override { return 3; }
    int getWindow() override { return 0; }
    void setWindow(int) override {}
    void setListenPort(int) override {}
    // Port 0: the serving node takes any free port and tells the parent.
    int getListenPort() override { return 0; }
    std::string findConnectNodeName(int, const std::string&) override { return {}; }
    void renameConnectNode(int, const std::string&, const std::string&, const std::string&) override
    {
    }

private:
    std::string m_node;
    std::string m_peer;
    int m_peerPort;
};

double seconds(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

std::string usage(const char* side)
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const double cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
                       ru.ru_stime.tv_usec / 1e6;
    char line[160];
    std::snprintf(line, sizeof line, "%-12s cpu %7.2f s   peak memory %7.1f MiB\n", side, cpu,
                  ru.ru_maxrss / 1024.0);
    return line;
}

void report(int fd, const std::string& text)
{
    [[maybe_unused]] ssize_t n = ::write(fd, text.data(), text.size());
}

// The diagnostic lines of the nodes would drown the figures.
void silence()
{
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0)
        ::dup2(null, STDOUT_FILENO);
}

bool writeTestFile(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::vector<unsigned char> block(1 << 20);
    for (std::uint64_t done = 0; done < kFileSize; done += block.size()) {
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<unsigned char>((done + i) * 31 + (done >> 20));
        if (std::fwrite(block.data(), 1, block.size(), f) != block.size()) {
            std::fclose(f);
            return false;
        }
    }
    return std::fclose(f) == 0;
}

CatalogRecord ownRecord(const std::string& path)
{
    CatalogRecord r;
    plat::FindRecord f;
    plat::statFindRecord(path, f);
    r.setRecordLength(CatalogRecord::Size);
    r.setRecordTag(catalog::RecordLayout::TagValue);
    r.setPendingFlag(1);
    r.setOriginNodeCp932("Server");
    r.setPartyNameCp932(kParty);
    r.setKind(catalog::RecordKind::New);
    r.setRegistrationTime(plat::localNow());
    if (auto expiry = plat::localFromUnix(std::time(nullptr) + 3 * 86400))
        r.setExpiry(*expiry);
    r.setFileDescription(f);
    r.setCompleteFlag(1);
    r.setBytesReceived(r.fileSize());
    catalog::stampChecksum(r);
    return r;
}

int runServer(const std::string& folder, int portFd, int reportFd)
{
    int argc = 1;
    char name[] = "server";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    BenchSettings settings(folder, "Server", "Fetcher", 0);
    CCatalog::instance()->addLocal(ownRecord(settings.getSendFolder() + "/" + kFileName));
    int port = 0;
    {
        CTcpA2AModel model;
        model.goOnline();
        port = model.listenPort();
        report(portFd, std::to_string(port) + "\n");
        bool seen = false;
        plat::runUntil(
            [&] {
                seen = seen || model.establishedCount() > 0;
                return seen && model.establishedCount() == 0;
            },
            kTimeoutMs);
    }
    CCatalog::destroyInstance();
    report(reportFd, usage("serving"));
    return port > 0 ? 0 : 1;
}

int runFetcher(const std::string& folder, int port, int reportFd)
{
    int argc = 1;
    char name[] = "fetcher";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    BenchSettings settings(folder, "Fetcher", "Server", port);
    CCatalog* catalog = CCatalog::instance();
    bool complete = false;
    double transfer = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        CTcpA2AModel model;
        model.connectPeer("Server", "127.0.0.1", port);
        CatalogRecord entry;
        plat::runUntil([&] { return catalog->hasEntry("Server", kFileName, nullptr); }, kTimeoutMs);
        const auto announced = std::chrono::steady_clock::now();
        complete = plat::runUntil(
            [&] { return catalog->hasEntry("Server", kFileName, &entry) && entry.completeFlag(); },
            kTimeoutMs);
        transfer = seconds(announced);
        model.disconnectPeer("Server", "127.0.0.1");
        plat::runFor(10);
    }
    const double total = seconds(start);
    CCatalog::destroyInstance();
    char line[200];
    std::snprintf(line, sizeof line,
                  "transfer     %7.1f MB/s  (%.0f MiB in %.3f s; %.3f s from dialling)%s\n",
                  kFileSize / 1e6 / transfer, kFileSize / 1048576.0, transfer, total,
                  complete ? "" : "  INCOMPLETE");
    report(reportFd, line + usage("downloading"));
    return complete ? 0 : 1;
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

std::string readAll(int fd)
{
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

} // namespace

int main()
{
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/pavo-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    const std::string serving = root + "/serving";
    const std::string fetching = root + "/fetching";
    for (const std::string& dir : {serving, fetching})
        fs::create_directories(dir + "/SEND");
    if (!writeTestFile(serving + "/SEND/" + kFileName)) {
        std::fprintf(stderr, "cannot write the test file under %s\n", root.c_str());
        return 1;
    }

    int portPipe[2];
    int reportPipe[2];
    if (::pipe(portPipe) != 0 || ::pipe(reportPipe) != 0)
        return 1;
    std::fflush(stdout);
    const pid_t server = ::fork();
    if (server == 0) {
        silence();
        ::close(portPipe[0]);
        ::close(reportPipe[0]);
        ::_exit(runServer(serving, portPipe[1], reportPipe[1]));
    }
    ::close(portPipe[1]);
    char portText[32] = {};
    [[maybe_unused]] ssize_t got = ::read(portPipe[0], portText, sizeof portText - 1);
    const int port = std::atoi(portText);
    const pid_t fetcher = port > 0 ? ::fork() : -1;
    if (fetcher == 0) {
        silence();
        ::close(reportPipe[0]);
        ::_exit(runFetcher(fetching, port, reportPipe[1]));
    }
    ::close(reportPipe[1]);
    const std::string figures = readAll(reportPipe[0]);
    int status = 0;
    int failures = 0;
    for (pid_t pid : {fetcher, server}) {
        if (pid > 0 &&
            (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0))
            ++failures;
    }
    std::printf("TCP transfer of one %llu MiB file over loopback, two node processes\n%s",
                static_cast<unsigned long long>(kFileSize >> 20), figures.c_str());
    const bool same =
        sameFiles(serving + "/SEND/" + kFileName, fetching + "/RECV/Server/" + kFileName);
    std::printf("received file %s\n", same ? "identical" : "DIFFERS");
    fs::remove_all(root);
    return failures == 0 && same && port > 0 ? 0 : 1;
}
