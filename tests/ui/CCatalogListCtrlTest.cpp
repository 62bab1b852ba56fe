#include "ui/CCatalogListCtrl.h"

#include "ui/CatalogRowText.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>

#include <gtest/gtest.h>

namespace {
CatalogRecord record(const char* name, const char* origin, std::uint32_t received,
                     std::uint32_t complete = 0)
{
    CatalogRecord r;
    r.setKind(catalog::RecordKind::New);
    EXPECT_TRUE(r.setOriginNodeUtf8(origin));
    plat::FindRecord f;
    f.setSize(1000);
    f.setNameCp932(name);
    r.setFileDescription(f);
    r.setBytesReceived(received);
    r.setCompleteFlag(complete);
    return r;
}

CatalogListEvent add(const CatalogRecord& r)
{
    return {CatalogListEvent::Add, 0, r};
}

CatalogListEvent update(int row, const CatalogRecord& r)
{
    return {CatalogListEvent::Update, row, r};
}

const CatalogListEvent kClear{CatalogListEvent::Clear, 0, CatalogRecord{}};

// A shown list of 60 complete received files f0.txt … f59.txt, tall enough to scroll.
std::vector<CatalogRecord> showSixtyFiles(CCatalogListCtrl& list)
{
    list.resize(400, 200);
    list.show();
    std::vector<CatalogRecord> entries;
    std::vector<CatalogListEvent> events;
    for (int i = 0; i < 60; ++i) {
        entries.push_back(record(("f" + std::to_string(i) + ".txt").c_str(), "peer", 1000, 1));
        events.push_back(add(entries.back()));
    }
    list.applyEvents(events, "me");
    QApplication::processEvents();
    return entries;
}
} // namespace

TEST(CCatalogListCtrl, ConsecutiveUpdatesOfAnIncompleteRowCollapseIntoTheLast)
{
    CCatalogListCtrl list;
    std::vector<CatalogListEvent> rows;
    for (int i = 0; i < 6; ++i)
        rows.push_back(add(record("f.bin", "peer", 0)));
    list.applyEvents(rows, "self");
    const int base = list.rowWrites();

    list.applyEvents({update(5, record("f.bin", "peer", 100)),
                      update(5, record("f.bin", "peer", 200)),
                      update(5, record("f.bin", "peer", 300))},
                     "self");
    EXPECT_EQ(list.rowWrites() - base, 1);
    EXPECT_EQ(list.cellText(5, ui::CatalogColumn::Status), "30.00%");

    // Complete records are always drawn; updates of different rows do not collapse.
    list.applyEvents(
        {update(5, record("f.bin", "peer", 1000, 1)), update(5, record("f.bin", "peer", 1000, 1)),
         update(4, record("f.bin", "peer", 10)), update(5, record("f.bin", "peer", 20)),
         update(4, record("f.bin", "peer", 30))},
        "self");
    EXPECT_EQ(list.rowWrites() - base, 6);
    EXPECT_EQ(list.cellText(4, ui::CatalogColumn::Status), "3.00%");
}

TEST(CCatalogListCtrl, ClearAddAndUpdatesOutsideTheList)
{
    CCatalogListCtrl list;
    list.applyEvents({add(record("a", "p", 0)), add(record("b", "p", 0)), kClear,
                      add(record("c", "p", 0)), update(3, record("x", "p", 0)),
                      update(-1, record("y", "p", 0))},
                     "self");
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.catalogRowCount(), 1);
    EXPECT_EQ(list.cellText(0, ui::CatalogColumn::FileName), "c");
}

TEST(CCatalogListCtrl, RowColoursTellOwnReceivedIncompleteAndManagementFilesApart)
{
    CCatalogListCtrl list;
    list.applyEvents({add(record("own.txt", "self", 1000, 1)),
                      add(record("got.txt", "peer", 1000, 1)), add(record("half.txt", "peer", 500)),
                      add(record("info.nod", "peer", 1000, 1)),
                      add(record("own.nod", "self", 1000, 1))},
                     "self");
    const QColor base = list.palette().color(QPalette::Base);
    const QColor text = list.palette().color(QPalette::Text);
    struct Expect
    {
        QColor back;
        QColor fore;
    };
    const Expect expected[] = {{base, text},
                               {CCatalogListCtrl::kObtained, text},
                               {CCatalogListCtrl::kInProgress, text},
                               {CCatalogListCtrl::kObtained, CCatalogListCtrl::kGrey},
                               {base, CCatalogListCtrl::kGrey}};
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < ui::kCatalogColumns; ++column) {
            const QTableWidgetItem* cell = list.item(row, column);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->background().color(), expected[row].back) << row << "," << column;
            EXPECT_EQ(cell->foreground().color(), expected[row].fore) << row << "," << column;
        }
    EXPECT_EQ(list.item(0, ui::CatalogColumn::Size)->textAlignment() & Qt::AlignRight,
              Qt::AlignRight);
}

// The status cell's tool-tip follows the row as it is written again: the window shows a
// download's rate and time left there.
TEST(CCatalogListCtrl, StatusTipFollowsEachRowWrite)
{
    CCatalogListCtrl list;
    list.setProgressTip([](const CatalogRecord& r) {
        return r.completeFlag() == 1 ? std::string() : std::to_string(r.bytesReceived());
    });
    list.applyEvents({add(record("a.bin", "peer", 100)), add(record("b.bin", "peer", 1000, 1))},
                     "self");
    list.applyEvents({update(0, record("a.bin", "peer", 400))}, "self");
    EXPECT_EQ(list.item(0, ui::CatalogColumn::Status)->toolTip(), QStringLiteral("400"));
    EXPECT_TRUE(list.item(1, ui::CatalogColumn::Status)->toolTip().isEmpty());
}

// Whatever the drag source proposes, a drop on the list is carried out as a copy or a link,
// never a move (which a file manager would honour by removing the original).
TEST(CCatalogListCtrl, DropsAreTakenAsCopyOrLinkOnly)
{
    struct Case
    {
        const char* what;
        Qt::DropActions possible;
        Qt::KeyboardModifiers keys; // what the source proposes follows the modifiers
        Qt::DropAction proposed;
        Qt::DropAction taken; // IgnoreAction: refused
    };
    const Case cases[] = {
        {"move proposed, copy possible", Qt::CopyAction | Qt::MoveAction | Qt::LinkAction,
         Qt::ShiftModifier, Qt::MoveAction, Qt::CopyAction},
        {"move proposed, link possible", Qt::MoveAction | Qt::LinkAction, Qt::ShiftModifier,
         Qt::MoveAction, Qt::LinkAction},
        {"move only", Qt::MoveAction, Qt::ShiftModifier, Qt::MoveAction, Qt::IgnoreAction},
        {"link proposed", Qt::CopyAction | Qt::MoveAction | Qt::LinkAction,
         Qt::ControlModifier | Qt::ShiftModifier, Qt::LinkAction, Qt::LinkAction},
        {"copy proposed", Qt::CopyAction | Qt::MoveAction, Qt::ControlModifier, Qt::CopyAction,
         Qt::CopyAction},
    };
    CCatalogListCtrl list;
    list.acceptFileDrops();
    QStringList dropped;
    QObject::connect(&list, &CCatalogListCtrl::filesDropped,
                     [&dropped](const QStringList& paths) { dropped += paths; });
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/report.pdf"))});
    for (const Case& c : cases) {
        dropped.clear();
        for (QEvent::Type type : {QEvent::DragEnter, QEvent::DragMove, QEvent::Drop}) {
            QDragEnterEvent enter({5, 5}, c.possible, &files, Qt::LeftButton, c.keys);
            QDragMoveEvent move({5, 5}, c.possible, &files, Qt::LeftButton, c.keys);
            QDropEvent drop(QPointF(5, 5), c.possible, &files, Qt::LeftButton, c.keys);
            QDropEvent* event = type == QEvent::DragEnter  ? &enter
                                : type == QEvent::DragMove ? &move
                                                           : &drop;
            ASSERT_EQ(event->proposedAction(), c.proposed) << c.what;
            QApplication::sendEvent(list.viewport(), event);
            EXPECT_EQ(event->isAccepted(), c.taken != Qt::IgnoreAction) << c.what << " " << type;
            if (c.taken != Qt::IgnoreAction) {
                EXPECT_EQ(event->dropAction(), c.taken) << c.what << " " << type;
            }
        }
        EXPECT_EQ(dropped.size(), c.taken != Qt::IgnoreAction ? 1 : 0) << c.what;
    }
}

// A purge clears the list and adds every entry again: the selection follows its entry to its
// new row (or goes with it), and the view stays where the user had scrolled unless a new entry
// came in.
TEST(CCatalogListCtrl, SelectionAndScrollPositionSurviveARefresh)
{
    CCatalogListCtrl list;
    std::vector<CatalogRecord> entries = showSixtyFiles(list);
    const auto reannounce = [&] {
        std::vector<CatalogListEvent> batch{kClear};
        for (const CatalogRecord& r : entries)
            batch.push_back(add(r));
        list.applyEvents(batch, "me");
    };
    const auto selectedName = [&]() -> std::string {
        const auto row = list.selectedRow();
        return row ? list.rowRecord(*row)->fileNameUtf8() : std::string("(none)");
    };

    list.selectRow(30);
    list.verticalScrollBar()->setValue(20);
    entries.erase(entries.begin() + 5); // purged
    reannounce();
    EXPECT_EQ(selectedName(), "f30.txt");
    EXPECT_EQ(list.selectedRow(), 29);
    EXPECT_EQ(list.verticalScrollBar()->value(), 20);

    entries.erase(entries.begin() + 29); // the selected entry itself
    reannounce();
    EXPECT_EQ(selectedName(), "(none)") << "never another entry at the same row";
    EXPECT_EQ(list.verticalScrollBar()->value(), 20);

    list.applyEvents({add(record("new.txt", "peer", 1000, 1))}, "me");
    EXPECT_EQ(list.verticalScrollBar()->value(), list.verticalScrollBar()->maximum())
        << "a new entry is still scrolled into view";
}

// A large batch (a purge's re-announcement) is applied over several turns of the loop: the list
// is busy meanwhile, and at the end it is exactly what one step would have made, with the
// selection following its entry, the view where it was and the left-over rows gone. Another
// batch started meanwhile finishes the first before its own.
TEST(CCatalogListCtrl, ABatchAppliedInSlicesEndsAsOneStepWould)
{
    CCatalogListCtrl list;
    std::vector<CatalogRecord> entries = showSixtyFiles(list);
    list.selectRow(30);
    list.verticalScrollBar()->setValue(20);
    list.setSliceLimit(7);

    entries.erase(entries.begin(), entries.begin() + 10); // purged
    std::vector<CatalogListEvent> batch{kClear};
    for (const CatalogRecord& r : entries)
        batch.push_back(add(r));
    batch.push_back(update(3, record("f13.txt", "peer", 500)));
    int applied = 0;
    QObject::connect(&list, &CCatalogListCtrl::eventsApplied, [&] { ++applied; });
    list.applyEventsInSlices(batch, "me");
    EXPECT_TRUE(batch.empty()) << "the events are taken";
    int turns = 0;
    while (list.busy() && turns < 100) {
        QApplication::processEvents();
        ++turns;
    }
    EXPECT_GT(turns, 5);
    EXPECT_EQ(applied, 1);
    ASSERT_EQ(list.rowCount(), 50);
    EXPECT_EQ(list.catalogRowCount(), 50);
    EXPECT_EQ(list.cellText(0, ui::CatalogColumn::FileName), "f10.txt");
    EXPECT_EQ(list.cellText(3, ui::CatalogColumn::Status), "50.00%");
    EXPECT_EQ(list.rowRecord(20)->fileNameUtf8(), "f30.txt");
    EXPECT_EQ(list.selectedRow(), 20);
    EXPECT_EQ(list.verticalScrollBar()->value(), 20);

    std::vector<CatalogListEvent> again{kClear, add(entries[0])};
    list.applyEventsInSlices(again, "me");
    list.applyEvents({add(record("new.txt", "peer", 1000, 1))}, "me");
    EXPECT_FALSE(list.busy());
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.cellText(1, ui::CatalogColumn::FileName), "new.txt");
}
