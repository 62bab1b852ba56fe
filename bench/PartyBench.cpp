// A party of whole node processes (PavoNode, as the program runs it) on loopback, in a random mesh
// of at most four connections per node where both ends of every link dial, with the timers
// sped up. One node finds a file in its send folder; every other node fetches it hop by hop, and
// every node's node-information file travels to every other node the same way. Prints, per run
// and per node, when the file was complete, the file bytes received on the wire against the file
// size, the requests asked again and the duplicate or late answers dropped, and whether every
// other node's information arrived; then one line per run and the worst of all runs.
//
//   PartyBench [nodes=32] [MiB=16] [time scale=0.05] [runs=1] [timeout s=240]
#include "app/NodeOptions.h"
#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "exchange/NodeContext.h"
#include "node/NodeInfoStore.h"
#include "node/PavoNode.h"
#include "platform/EventLoop.h"
#include "support/BenchNode.h"
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
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bench;

namespace {

constexpr const char* kParty = "Bench";
constexpr const char* kFileName = "party.bin";

volatile std::sig_atomic_t g_stop = 0;

std::string nodeName(int i)
{
    char name[16];
    std::snprintf(name, sizeof name, "N%02d", i);
    return name;
}

struct Options
{
    int nodes = 32;
    std::uint64_t size = 16ull << 20;
    const char* scale = "0.05";
    int runs = 1;
    int timeoutS = 240;
};

// Whether the entry of origin's file is complete here.
bool complete(CCatalog& catalog, const std::string& origin, const std::string& file)
{
    CatalogRecord entry;
    return catalog.hasEntry(origin, file, &entry) && entry.completeFlag() == 1;
}

// One node: settings written as the program's Pavo.ini, then the whole node; on-line when the
// parent says go. Reports when it has the file and every other node's information, then its
// figures once stopped.
int runNode(int index, const std::string& folder, const std::vector<int>& ports,
            const std::vector<int>& neighbours, const Options& o, int inFd, int outFd)
{
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    int argc = 1;
    char name[] = "node";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    {
        NodeSettings settings(folder);
        configure(settings, nodeName(index), kParty);
        settings.setListenPort(ports[static_cast<std::size_t>(index)]);
        for (int j : neighbours)
            settings.connections().append(
                loopbackPeer(nodeName(j), ports[static_cast<std::size_t>(j)]));
        settings.save();
    }
    NodeOptions options;
    options.messagingClient = false;
    PavoNode node(folder, options);
    node.context().switches().countedFile = kFileName;
    report(outFd, "READY\n");
    readLine(inFd);
    node.setOnline(true);
    const auto start = std::chrono::steady_clock::now();
    double fileAt = index == 0 ? 0 : -1;
    double infoAt = -1;
    // Node information files are published anew every period: each origin counts once one of
    // its files has been complete here.
    std::set<int> reached;
    const auto noteInfos = [&](CCatalog& c) {
        for (int j = 0; j < o.nodes; ++j)
            if (j != index && !reached.count(j) &&
                complete(c, nodeName(j), NodeInfoStore::kFileName))
                reached.insert(j);
    };
    plat::runUntil(
        [&] {
            CCatalog* c = node.catalog();
            if (g_stop || !c)
                return true;
            if (fileAt < 0 && complete(*c, nodeName(0), kFileName))
                fileAt = seconds(start);
            noteInfos(*c);
            if (infoAt < 0 && static_cast<int>(reached.size()) == o.nodes - 1)
                infoAt = seconds(start);
            return fileAt >= 0 && infoAt >= 0;
        },
        o.timeoutS * 1000);
    char line[200];
    std::snprintf(line, sizeof line, "DONE %.2f %.2f\n", fileAt, infoAt);
    report(outFd, line);
    plat::runUntil(
        [&] {
            if (node.catalog())
                noteInfos(*node.catalog());
            return g_stop != 0;
        },
        o.timeoutS * 1000);
    const int infos = static_cast<int>(reached.size());
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::snprintf(line, sizeof line, "FIG %llu %llu %llu %llu %d %.1f\n",
                  static_cast<unsigned long long>(node.context().counters().countedFileBytes),
                  static_cast<unsigned long long>(node.context().counters().requestsAskedAgain),
                  static_cast<unsigned long long>(node.context().counters().answersDropped),
                  static_cast<unsigned long long>(node.context().counters().frameErrorCloses),
                  infos, ru.ru_maxrss / 1024.0);
    report(outFd, line);
    node.shutdown();
    return 0;
}

// A ring with random chords: every node ends with 2 to 4 links, most with 3 or 4.
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

struct RunResult
{
    int complete = 0;
    double slowest = 0;
    double worstRatio = 0;
    int infoMissing = 0;
    unsigned long long askedAgain = 0;
    unsigned long long dropped = 0;
    unsigned long long closes = 0;
    bool identical = true;
};

struct Child
{
    pid_t pid = -1;
    int to = -1;
    int from = -1;
};

Child spawn(int i, const std::string& folder, const std::vector<int>& ports,
            const std::set<int>& links, const Options& o)
{
    int down[2], up[2];
    if (::pipe(down) != 0 || ::pipe(up) != 0)
        std::exit(1);
    std::fflush(stdout);
    Child c;
    c.pid = ::fork();
    if (c.pid == 0) {
        silence(true);
        ::close(down[1]);
        ::close(up[0]);
        ::_exit(runNode(i, folder, ports, std::vector<int>(links.begin(), links.end()), o, down[0],
                        up[1]));
    }
    ::close(down[0]);
    ::close(up[1]);
    c.to = down[1];
    c.from = up[0];
    return c;
}

RunResult runParty(const Options& o, unsigned seed)
{
    namespace fs = std::filesystem;
    RunResult result;
    const int n = o.nodes;
    char pattern[] = "/tmp/pavo-party-XXXXXX";
    if (!::mkdtemp(pattern))
        std::exit(1);
    const std::string root = pattern;
    const auto links = mesh(n, seed);
    const auto ports = freePorts(n);
    std::vector<std::string> folders;
    for (int i = 0; i < n; ++i) {
        folders.push_back(root + "/" + nodeName(i));
        fs::create_directories(folders.back() + "/SEND");
    }
    if (!writeTestFile(folders[0] + "/SEND/" + kFileName, o.size))
        std::exit(1);
    std::vector<Child> children;
    for (int i = 0; i < n; ++i)
        children.push_back(spawn(i, folders[static_cast<std::size_t>(i)], ports,
                                 links[static_cast<std::size_t>(i)], o));
    for (const Child& c : children)
        readLine(c.from);
    for (const Child& c : children)
        report(c.to, "GO\n");
    std::vector<std::string> done;
    for (const Child& c : children)
        done.push_back(readLine(c.from));
    for (const Child& c : children)
        ::kill(c.pid, SIGTERM);

    std::printf("node links  file complete s  all info s  received/size  asked again  "
                "dropped  infos  peak MiB\n");
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        double fileAt = -1, infoAt = -1;
        std::sscanf(done[k].c_str(), "DONE %lf %lf", &fileAt, &infoAt);
        unsigned long long bytes = 0, again = 0, dropped = 0, closes = 0;
        int infos = 0;
        double rss = 0;
        std::sscanf(readLine(children[k].from).c_str(), "FIG %llu %llu %llu %llu %d %lf", &bytes,
                    &again, &dropped, &closes, &infos, &rss);
        const double ratio = static_cast<double>(bytes) / static_cast<double>(o.size);
        const bool same =
            i == 0 || sameFiles(folders[0] + "/SEND/" + kFileName,
                                folders[k] + "/RECV/" + nodeName(0) + "/" + kFileName);
        result.identical = result.identical && (same || fileAt < 0);
        if (fileAt >= 0) {
            ++result.complete;
            result.slowest = std::max(result.slowest, fileAt);
        }
        if (i > 0)
            result.worstRatio = std::max(result.worstRatio, ratio);
        result.infoMissing += n - 1 - infos;
        result.askedAgain += again;
        result.dropped += dropped;
        result.closes += closes;
        std::printf("%-4s %5zu  %15.2f  %10.2f  %13.3f  %11llu  %7llu  %5d  %8.1f\n",
                    nodeName(i).c_str(), links[k].size(), fileAt, infoAt, ratio, again, dropped,
                    infos, rss);
    }
    for (const Child& c : children) {
        int status = 0;
        ::waitpid(c.pid, &status, 0);
        ::close(c.to);
        ::close(c.from);
    }
    fs::remove_all(root);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (argc > 1)
        o.nodes = std::max(3, std::atoi(argv[1]));
    if (argc > 2)
        o.size = static_cast<std::uint64_t>(std::max(1, std::atoi(argv[2]))) << 20;
    if (argc > 3)
        o.scale = argv[3];
    if (argc > 4)
        o.runs = std::max(1, std::atoi(argv[4]));
    if (argc > 5)
        o.timeoutS = std::max(10, std::atoi(argv[5]));
    ::setenv("PAVO_TIME_SCALE", o.scale, 1);
    std::printf("Party of %d node processes, random mesh (at most 4 links each, both ends dial), "
                "timers x%s; one %llu MiB file from %s; %d run(s), %d s each at most\n",
                o.nodes, o.scale, static_cast<unsigned long long>(o.size >> 20),
                nodeName(0).c_str(), o.runs, o.timeoutS);
    bool allHeld = true;
    for (int run = 0; run < o.runs; ++run) {
        std::printf("-- run %d (mesh seed %d)\n", run + 1, 7 + run);
        const RunResult r = runParty(o, static_cast<unsigned>(7 + run));
        const bool held =
            r.complete == o.nodes && r.worstRatio <= 1.02 && r.infoMissing == 0 && r.identical;
        allHeld = allHeld && held;
        std::printf("run %d: %d/%d complete, slowest %.2f s; worst received/size %.3f; node "
                    "information missing %d of %d pairs; asked again %llu; dropped answers %llu; "
                    "frame-error closes %llu; %s\n",
                    run + 1, r.complete, o.nodes, r.slowest, r.worstRatio, r.infoMissing,
                    o.nodes * (o.nodes - 1), r.askedAgain, r.dropped, r.closes,
                    held ? "holds" : "FAILS");
        std::fflush(stdout);
    }
    std::printf("%s\n", allHeld ? "every run holds" : "at least one run fails");
    return allHeld ? 0 : 1;
}
