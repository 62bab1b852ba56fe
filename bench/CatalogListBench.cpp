// The main window's catalog list under a large catalog: the longest turn of the loop while the
// list is first filled, and while a purge's re-announcement (clear, then every remaining entry)
// is applied to it, both in the window's slices. Offscreen, as a node without a display runs.
#include "ui/CCatalogListCtrl.h"
#include "ui/CatalogListEvent.h"
#include "wire/CatalogRecord.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kCatalogSize = 110000;
constexpr int kKept = 55000;

CatalogRecord makeRecord(int i)
{
    CatalogRecord r;
    r.setRecordLength(CatalogRecord::Size);
    r.setRecordTag(catalog::RecordLayout::TagValue);
    r.setKind(catalog::RecordKind::New);
    r.setOriginNodeCp932("node" + std::to_string(i % 9));
    r.setPartyNameCp932("party");
    r.setRegistrationTime({2024, 5, 3, 15, 15, 12, 0, 0});
    r.setExpiry({2024, 5, 6, 18, 15, 12, 0, 0});
    r.setCompleteFlag(i % 3 == 0 ? 0 : 1);
    plat::FindRecord f;
    f.setNameCp932("file-" + std::to_string(i) + ".dat");
    f.setSize(1000 + static_cast<std::uint64_t>(i));
    r.setFileDescription(f);
    r.setBytesReceived(r.completeFlag() == 1 ? r.fileSize() : 500);
    return r;
}

std::vector<CatalogListEvent> adds(int from, int to, int step)
{
    std::vector<CatalogListEvent> events;
    for (int i = from; i < to; i += step) {
        CatalogListEvent e;
        e.kind = CatalogListEvent::Add;
        e.record = makeRecord(i);
        events.push_back(e);
    }
    return events;
}

struct Turns
{
    double longest = 0; // seconds
    double total = 0;
    int count = 0;
};

// Applies the events as the main window does (in slices) and measures each turn of the loop.
Turns apply(CCatalogListCtrl& list, std::vector<CatalogListEvent> events)
{
    using Clock = std::chrono::steady_clock;
    Turns t;
    const auto start = Clock::now();
    auto turn = start;
    list.applyEventsInSlices(events, "node0");
    for (;;) {
        const auto now = Clock::now();
        t.longest = std::max(t.longest, std::chrono::duration<double>(now - turn).count());
        ++t.count;
        if (!list.busy())
            break;
        turn = Clock::now();
        QCoreApplication::processEvents();
    }
    // What the table does once the batch is in (its deferred layout) is a turn too.
    turn = Clock::now();
    QCoreApplication::processEvents();
    t.longest = std::max(t.longest, std::chrono::duration<double>(Clock::now() - turn).count());
    t.total = std::chrono::duration<double>(Clock::now() - start).count();
    return t;
}

void print(const char* what, std::size_t rows, const Turns& t)
{
    std::printf("%-24s %6zu rows: longest turn %6.1f ms, %4d turns, %.3f s in all\n", what, rows,
                t.longest * 1000, t.count, t.total);
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    CCatalogListCtrl list;
    list.resize(800, 600);
    list.show();

    print("first fill", kCatalogSize, apply(list, adds(0, kCatalogSize, 1)));
    std::vector<CatalogListEvent> refill(1);
    refill[0].kind = CatalogListEvent::Clear;
    const auto kept = adds(0, kCatalogSize, kCatalogSize / kKept);
    refill.insert(refill.end(), kept.begin(), kept.end());
    print("purge re-announcement", kept.size(), apply(list, refill));
    std::printf("rows shown %d\n", list.rowCount());
    return list.rowCount() == static_cast<int>(kept.size()) ? 0 : 1;
}
