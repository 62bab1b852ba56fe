// Catalog store at scale: loads a catalog of 100,000 entries, merges 10,000 new records, queues
// everything for one peer (a sync request for all records) and drains the peer's pending file in
// catalog batches. Prints the time of each phase and the peak memory.
#include "catalog/CCatalog.h"
#include "catalog/RecordIo.h"
#include "platform/Files.h"
#include "support/BenchNode.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
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
        std::unique_ptr<CCatalog> store;
        {
            Phase p("load 100000 entries");
            store = std::make_unique<CCatalog>(settings, true, [] { return kNow; });
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
            const auto start = std::chrono::steady_clock::now();
            double first = 0, longest = 0;
            {
                Phase p("purge(): list, file and events");
                store->purge();
                first = seconds(start);
            }
            // The files go in slices, one per turn of the event loop; a timer that fires on every
            // turn measures the longest time the loop was held.
            int turns = 0;
            auto last = std::chrono::steady_clock::now();
            QTimer everyTurn;
            QObject::connect(&everyTurn, &QTimer::timeout, &everyTurn, [&] {
                longest = std::max(longest, seconds(last));
                last = std::chrono::steady_clock::now();
                ++turns;
            });
            everyTurn.start(0);
            while (store->purgeBacklog() > 0)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            everyTurn.stop();
            std::printf("  purge of %zu deleted entries (and files) among %zu: first turn %.1f ms, "
                        "then the loop held at most %.1f ms at a time (%d turns), %.2f s in all\n",
                        doomed, doomed * 2, first * 1e3, longest * 1e3, turns, seconds(start));
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
