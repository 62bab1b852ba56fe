// Catalog store at scale: loads a catalog of 100,000 entries, merges 10,000 new records, queues
// everything for one peer (a sync request for all records) and drains the peer's pending file in
// catalog batches, then purges half of the entries. Prints the time of each phase, the longest
// turn of the event loop during the purge, and the peak memory.
#include "app/VX_EVENTCATALOG.h"
#include "app/VX_EVENTCATALOGLISTENER.h"
#include "catalog/CCatalog.h"
#include "catalog/RecordIo.h"
#include "exchange/NodeContext.h"
#include "platform/Files.h"
#include "support/BenchNode.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace bench;

namespace {

constexpr int kCatalogSize = 100000;
constexpr int kMerged = 10000;
const plat::SystemTime kNow{2024, 5, 3, 15, 15, 12, 0, 0};

CatalogRecord makeRecord(int i)
{
    CatalogRecord r;
    r.setRecordLength(CatalogRecord::Size);
    r.setRecordTag(catalog::RecordLayout::TagValue);
    r.setPendingFlag(1);
    r.setKind(catalog::RecordKind::New);
    r.setOriginNodeCp932("node" + std::to_string(i % 9));
    r.setPartyNameCp932("party");
    r.setRegistrationTime(kNow);
    r.setExpiry({2024, 5, 6, 18, 15, 12, 0, 0});
    r.setCompleteFlag(1);
    plat::FindRecord f;
    f.setNameCp932("file-" + std::to_string(i) + ".dat");
    f.setSize(1000 + static_cast<std::uint64_t>(i));
    r.setFileDescription(f);
    r.setBytesReceived(r.fileSize());
    catalog::stampChecksum(r);
    return r;
}

// CPU time of this thread: what a turn of the loop cost, whatever else ran on the machine.
double threadCpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double cpuSeconds()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return cpuOf(ru);
}

// Wall time and CPU time (user + system) of one phase: on a shared machine the wall time also
// counts the time spent waiting for a core.
class Phase
{
public:
    explicit Phase(const char* name)
        : m_name(name), m_start(std::chrono::steady_clock::now()), m_cpu(cpuSeconds())
    {
    }
    ~Phase()
    {
        const std::chrono::duration<double> d = std::chrono::steady_clock::now() - m_start;
        std::printf("%-34s wall %7.3f s   cpu %7.3f s\n", m_name, d.count(), cpuSeconds() - m_cpu);
    }

private:
    const char* m_name;
    std::chrono::steady_clock::time_point m_start;
    double m_cpu;
};

// Listens as the main window does: every event is queued until the next refresh (here every turn
// of the loop), which applies them to its rows. The rows are kept as digests of the records, so
// that the end can tell whether they show the catalog.
class WindowLikeListener : public VX_EVENTCATALOGLISTENER
{
public:
    void entryAdded(const CatalogRecord& r) override
    {
        m_queue.push_back({Kind::Add, 0, r});
        if (m_direct)
            refresh();
    }
    // Applies events as they come (filling the rows before the purge without queueing them all).
    void setDirect(bool direct) { m_direct = direct; }
    void entryChanged(int index, const CatalogRecord& r) override
    {
        m_queue.push_back({Kind::Change, index, r});
    }
    void listReset() override { m_queue.push_back({Kind::Reset, 0, {}}); }
    void refresh()
    {
        for (const Event& e : m_queue) {
            switch (e.kind) {
            case Kind::Reset:
                m_rows.clear();
                break;
            case Kind::Add:
                m_rows.push_back(digest(e.record));
                break;
            case Kind::Change:
                if (e.index >= 0 && static_cast<std::size_t>(e.index) < m_rows.size())
                    m_rows[static_cast<std::size_t>(e.index)] = digest(e.record);
                break;
            }
        }
        m_events += m_queue.size();
        m_queue.clear();
    }
    bool shows(const CCatalog& store) const
    {
        if (m_rows.size() != static_cast<std::size_t>(store.count()))
            return false;
        for (int i = 0; i < store.count(); ++i)
            if (m_rows[static_cast<std::size_t>(i)] != digest(store.getRecord(i)))
                return false;
        return true;
    }
    std::size_t events() const { return m_events; }

private:
    enum class Kind
    {
        Reset,
        Add,
        Change
    };
    struct Event
    {
        Kind kind;
        int index;
        CatalogRecord record;
    };
    static std::size_t digest(const CatalogRecord& r)
    {
        return std::hash<std::string_view>{}(
            std::string_view(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size()));
    }
    std::deque<Event> m_queue;
    bool m_direct = false;
    std::vector<std::size_t> m_rows;
    std::size_t m_events = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::string folder = "/tmp/pavo-catalog-bench-XXXXXX";
    if (!::mkdtemp(folder.data()))
        return 1;
    NodeSettings settings(folder);
    configure(settings, Side{"me", "peer", "party"});
    // Written record by record so that the setup does not inflate the peak memory measured.
    {
        const std::string cache = plat::joinPath(folder, "CATALOG/catalog.dat");
        const int fd = catalog::recordio::openRw(cache);
        for (int i = 0; i < kCatalogSize && fd >= 0; ++i)
            if (!catalog::recordio::writeRecord(fd, makeRecord(i), static_cast<std::size_t>(i)))
                return 1;
        if (fd < 0 || ::close(fd) != 0)
            return 1;
    }

    std::size_t batches = 0, taken = 0;
    {
        // The node's catalog channel, which the window listens to.
        VX_EVENTCATALOG channel;
        NodeContext node(settings, &channel);
        std::unique_ptr<CCatalog> store;
        {
            Phase p("load 100000 entries");
            store = std::make_unique<CCatalog>(node, true, [] { return kNow; });
        }
        {
            Phase p("merge 10000 new records");
            for (int i = 0; i < kMerged; ++i) {
                CatalogRecord r = makeRecord(kCatalogSize + i);
                r.setCompleteFlag(0);
                store->mergeRecord(r);
            }
        }
        {
            Phase p("queueSince mode 1 for one peer");
            store->queueSince("peer", 1, {});
        }
        {
            Phase p("takePending until empty");
            for (;;) {
                const auto batch = store->takePending("peer");
                if (batch.empty())
                    break;
                ++batches;
                taken += batch.size();
            }
        }
        {
            Phase p("firstToFetch / nextToFetch walk");
            std::size_t n = 0;
            for (auto r = store->firstToFetch(); r; r = store->nextToFetch(*r))
                ++n;
            std::printf("  (%zu incomplete entries walked)\n", n);
        }
        {
            Phase p("maintainHourly");
            store->maintainHourly();
        }
        {
            // Every second entry is deleted, each with a received file on disk.
            for (int i = 0; i < store->count(); i += 2) {
                const CatalogRecord r = store->getRecord(i);
                const std::string dir =
                    plat::joinPath(settings.getRecvFolder(), std::string(r.originNodeCp932()));
                plat::makeFolders(dir);
                const int fd = ::open(plat::joinPath(dir, std::string(r.fileNameCp932())).c_str(),
                                      O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                if (fd >= 0)
                    ::close(fd);
                store->deleteHere(r);
            }
            const std::size_t doomed = static_cast<std::size_t>(store->count() + 1) / 2;
            const std::size_t before = static_cast<std::size_t>(store->count());
            // The window's rows as they are before the purge.
            WindowLikeListener window;
            channel.addListener(&window);
            window.setDirect(true);
            store->announceAll();
            window.setDirect(false);
            // The purge starts from a turn of the loop, as the window's timer starts it; a timer
            // that fires on every turn measures how long each turn held the loop, the purge's
            // own first turn included.
            const double cpu = cpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            double longest = 0, longestCpu = 0, first = -1;
            int turns = 0;
            bool started = false;
            auto last = start;
            double lastCpu = threadCpuSeconds();
            QTimer everyTurn;
            QObject::connect(&everyTurn, &QTimer::timeout, &everyTurn, [&] {
                window.refresh();
                const double cpuNow = threadCpuSeconds();
                if (!started) {
                    last = std::chrono::steady_clock::now();
                    lastCpu = cpuNow;
                    return;
                }
                const double turn = seconds(last);
                if (first < 0)
                    first = turn;
                longest = std::max(longest, turn);
                longestCpu = std::max(longestCpu, cpuNow - lastCpu);
                last = std::chrono::steady_clock::now();
                lastCpu = cpuNow;
                ++turns;
            });
            QTimer::singleShot(0, [&] {
                started = true;
                last = std::chrono::steady_clock::now();
                lastCpu = threadCpuSeconds();
                store->purge();
            });
            everyTurn.start(0);
            do
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            while (first < 0 || store->purging());
            everyTurn.stop();
            window.refresh();
            std::printf("purge of %zu deleted entries (and files) among %zu:\n"
                        "  longest turn of the loop: wall %.1f ms, cpu %.1f ms (the purge's "
                        "first turn: %.1f ms)\n"
                        "  %d turns, %.2f s in all (cpu %.2f s)\n"
                        "  the window's rows show the catalog after %zu events: %s\n",
                        doomed, before, longest * 1e3, longestCpu * 1e3, first * 1e3, turns,
                        seconds(start), cpuSeconds() - cpu, window.events(),
                        window.shows(*store) ? "yes" : "NO");
        }
        Phase p("shutdown rewrite");
        store.reset();
    }
    std::printf("entries %d, batches %zu, records taken %zu\n", kCatalogSize + kMerged, batches,
                taken);

    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    std::printf("peak memory %.1f MiB\n", static_cast<double>(ru.ru_maxrss) / 1024.0);

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
