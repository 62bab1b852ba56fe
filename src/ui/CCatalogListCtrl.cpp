#include "ui/CCatalogListCtrl.h"

#include "ui/CatalogRowText.h"
#include "ui/ListStyle.h"
#include "ui/Translations.h"
#include "wire/RecordKey.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cstdint>
#include <functional>

namespace {
struct ColumnSpec
{
    const char* header;
    int width;
    Qt::Alignment alignment;
};

const ColumnSpec kColumns[ui::kCatalogColumns] = {
    {"ファイル名", 150, Qt::AlignLeft}, {"送信元", 100, Qt::AlignLeft},
    {"登録日時", 150, Qt::AlignLeft},   {"有効期限", 80, Qt::AlignLeft},
    {"状況", 60, Qt::AlignLeft},        {"サイズ", 80, Qt::AlignRight},
    {"", 40, Qt::AlignRight},
};

const char* const kOpenReceivedFolder = "受信フォルダを開く";
// Where a row keeps the record it shows (on its first cell).
constexpr int kRecordRole = Qt::UserRole + 1;

QStringList localFiles(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    return paths;
}

// Only the last of consecutive updates of one incomplete row is drawn; a complete record is
// always drawn, so a row never misses the moment its file became complete.
bool supersededUpdate(const std::vector<CatalogListEvent>& events, std::size_t i)
{
    const CatalogListEvent& e = events[i];
    if (e.kind != CatalogListEvent::Update || e.record.completeFlag() == 1)
        return false;
    if (i + 1 >= events.size())
        return false;
    const CatalogListEvent& next = events[i + 1];
    return next.kind == CatalogListEvent::Update && next.row == e.row;
}
// The number of additions in a row from events[i] on.
int addsFrom(const std::vector<CatalogListEvent>& events, std::size_t i)
{
    std::size_t end = i;
    while (end < events.size() && events[end].kind == CatalogListEvent::Add)
        ++end;
    return static_cast<int>(end - i);
}
} // namespace

const QColor CCatalogListCtrl::kGrey(150, 150, 150);
const QColor CCatalogListCtrl::kInProgress(255, 255, 180);
const QColor CCatalogListCtrl::kObtained(180, 255, 180);

CCatalogListCtrl::CCatalogListCtrl(QWidget* parent) : QTableWidget(0, ui::kCatalogColumns, parent)
{
    ui::styleReportList(*this);
    for (int c = 0; c < ui::kCatalogColumns; ++c) {
        auto* header = new QTableWidgetItem(QString::fromUtf8(kColumns[c].header));
        header->setTextAlignment(kColumns[c].alignment | Qt::AlignVCenter);
        setHorizontalHeaderItem(c, header);
        setColumnWidth(c, ui::fontScaledWidth(*this, kColumns[c].width));
    }
    setDragDropMode(QAbstractItemView::DropOnly);
}

void CCatalogListCtrl::acceptFileDrops()
{
    m_acceptDrops = true;
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
}

// What a batch of events carries from its first slice to its last.
struct CCatalogListCtrl::Batch
{
    std::vector<CatalogListEvent> events;
    std::string ownNode;
    std::size_t next = 0;
    std::optional<std::string> selected;
    int scroll = 0;
    bool clears = false;
    // Rows that a clear in this batch removes and an add brings back are not new: the hashes of
    // the registrations shown before, sorted once all are in (one block, quick to build and to
    // free, unlike a set of tens of thousands of strings).
    std::vector<std::size_t> before;
    std::size_t beforeNext = 0; // rows looked at for before, up to beforeEnd
    std::size_t beforeEnd = 0;  // the rows shown when the batch started, if it clears
    bool beforeSorted = false;
    int newRow = -1;

    bool wasShown(const std::string& key) const
    {
        return std::binary_search(before.begin(), before.end(), std::hash<std::string>{}(key));
    }
};

CCatalogListCtrl::~CCatalogListCtrl() = default;

void CCatalogListCtrl::applyEvents(const std::vector<CatalogListEvent>& events,
                                   const std::string& ownNode)
{
    finishNow();
    if (events.empty())
        return;
    startBatch(events, ownNode);
    finishNow();
}

void CCatalogListCtrl::applyEventsInSlices(std::vector<CatalogListEvent>& events,
                                           const std::string& ownNode)
{
    finishNow();
    if (events.empty())
        return;
    // The caller gets back the room of the last batch's events: a purge's re-announcement
    // fills tens of megabytes, and giving them back to the system costs more than a slice.
    std::vector<CatalogListEvent> taken;
    taken.swap(events);
    events.swap(m_spareEvents);
    startBatch(std::move(taken), ownNode);
    continueSlices();
}

void CCatalogListCtrl::finishNow()
{
    while (m_batch)
        applySlice(std::chrono::steady_clock::time_point::max());
}

void CCatalogListCtrl::continueSlices()
{
    if (!m_batch)
        return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSliceMs);
    if (applySlice(until))
        Q_EMIT eventsApplied();
    else
        QTimer::singleShot(0, this, &CCatalogListCtrl::continueSlices);
}

// A purge clears the list and adds every entry again. The user's selection follows its entry
// to its new row (or goes with it), and the view stays where it was unless a new entry came.
void CCatalogListCtrl::startBatch(std::vector<CatalogListEvent> events, std::string ownNode)
{
    m_batch = std::make_unique<Batch>();
    Batch& b = *m_batch;
    b.events = std::move(events);
    b.ownNode = std::move(ownNode);
    if (const auto row = selectedRow(); row && *row < static_cast<int>(m_rowKeys.size()))
        b.selected = m_rowKeys[static_cast<std::size_t>(*row)];
    b.scroll = verticalScrollBar()->value();
    b.clears = std::any_of(b.events.begin(), b.events.end(), [](const CatalogListEvent& e) {
        return e.kind == CatalogListEvent::Clear;
    });
    if (b.clears)
        b.beforeEnd = m_rowKeys.size();
    // The list keeps its last picture until the whole batch is in.
    setUpdatesEnabled(false);
}

// A batch runs in slices: noting the rows shown before a clear, the events, then removing the
// rows a clear left over; only its end (columns, selection, view) is one step.
bool CCatalogListCtrl::applySlice(std::chrono::steady_clock::time_point until)
{
    Batch& b = *m_batch;
    std::size_t budget = m_sliceLimit > 0 ? m_sliceLimit : SIZE_MAX;
    int n = 0;
    bool stopped = false;
    // A small batch always ends in its first slice: the clock is looked at only after a few
    // hundred steps.
    const auto more = [&] {
        ++n;
        if (budget == 0 ||
            (n > kMinSteps && n % 64 == 0 && std::chrono::steady_clock::now() >= until))
            stopped = true;
        if (stopped)
            return false;
        --budget;
        return true;
    };
    while (b.beforeNext < b.beforeEnd && more())
        b.before.push_back(std::hash<std::string>{}(m_rowKeys[b.beforeNext++]));
    if (b.beforeNext >= b.beforeEnd && !b.beforeSorted) {
        std::sort(b.before.begin(), b.before.end());
        b.beforeSorted = true;
    }
    while (b.beforeSorted && b.next < b.events.size() && more())
        applyEvent(b.next++);
    // Each removal is heavy (thousands of cells), so the clock is looked at after every one.
    for (bool first = true; b.next >= b.events.size() && rowCount() > m_rowCount && !stopped;
         first = false) {
        if (!first && std::chrono::steady_clock::now() >= until)
            stopped = true;
        else
            removeRowsStep();
    }
    if (b.next < b.events.size() || !b.beforeSorted || rowCount() > m_rowCount)
        return false;
    finishBatch();
    return true;
}

void CCatalogListCtrl::applyEvent(std::size_t i)
{
    Batch& b = *m_batch;
    const CatalogListEvent& e = b.events[i];
    switch (e.kind) {
    case CatalogListEvent::Clear:
        // The rows stay and are written over by the additions that follow; what is left over
        // goes when the batch ends. A purge's re-announcement then costs a write per remaining
        // row instead of deleting and making every cell again.
        m_rowCount = 0;
        break;
    case CatalogListEvent::Add:
        // A run of additions makes its rows in one step: row by row, the table would work out
        // every row's position again for each one.
        if (m_rowCount >= rowCount())
            setRows(m_rowCount + addsFrom(b.events, i));
        writeRow(m_rowCount, e.record, b.ownNode);
        if (!b.wasShown(m_rowKeys[static_cast<std::size_t>(m_rowCount)]))
            b.newRow = m_rowCount;
        ++m_rowCount;
        break;
    case CatalogListEvent::Update:
        // A row the list does not have (an event from before a reset) is not invented.
        if (e.row >= 0 && e.row < m_rowCount && !supersededUpdate(b.events, i))
            writeRow(e.row, e.record, b.ownNode);
        break;
    default:
        break;
    }
}

void CCatalogListCtrl::finishBatch()
{
    const std::unique_ptr<Batch> b = std::move(m_batch);
    m_spareEvents.swap(b->events);
    m_spareEvents.clear();
    // Columns widen to new texts; a purge that only brings back rows shown before keeps them.
    if (!b->clears || b->newRow >= 0) {
        int widths[ui::kCatalogColumns];
        for (int c = 0; c < ui::kCatalogColumns; ++c)
            widths[c] = kColumns[c].width;
        ui::fitColumns(*this, widths, ui::kCatalogColumns);
    }
    if (b->clears) {
        const int row = b->selected ? rowOf(*b->selected) : -1;
        if (row >= 0)
            selectRow(row);
        else
            clearSelection();
    }
    if (b->newRow >= 0)
        scrollToItem(item(b->newRow, 0));
    else
        verticalScrollBar()->setValue(b->scroll);
    setUpdatesEnabled(true);
}

// Thousands of cells go at once. glibc keeps freed small blocks aside and sorts them all out at
// the next large release, wherever in the program that falls: a purge's left-over rows would
// make that one step of about 200 ms. They are sorted out here, a step at a time, instead.
void CCatalogListCtrl::removeRowsStep()
{
    setRows(std::max(m_rowCount, rowCount() - kRowsRemovedAtOnce));
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

void CCatalogListCtrl::setRows(int count)
{
    setRowCount(count);
    m_rowKeys.resize(static_cast<std::size_t>(count));
}

int CCatalogListCtrl::rowOf(const std::string& key) const
{
    const auto it = std::find(m_rowKeys.begin(), m_rowKeys.end(), key);
    return it == m_rowKeys.end() ? -1 : static_cast<int>(it - m_rowKeys.begin());
}

std::optional<CatalogRecord> CCatalogListCtrl::rowRecord(int row) const
{
    const QTableWidgetItem* cell = item(row, 0);
    if (!cell)
        return std::nullopt;
    const QByteArray bytes = cell->data(kRecordRole).toByteArray();
    CatalogRecord record;
    if (bytes.size() != static_cast<qsizetype>(record.bytes.size()))
        return std::nullopt;
    std::copy(bytes.begin(), bytes.end(), record.bytes.begin());
    return record;
}

void CCatalogListCtrl::writeRow(int row, const CatalogRecord& record, const std::string& ownNode)
{
    ++m_rowWrites;
    const auto texts = ui::rowTexts(record, ownNode);
    for (int c = 0; c < ui::kCatalogColumns; ++c) {
        QTableWidgetItem* cell = item(row, c);
        if (!cell) {
            cell = new QTableWidgetItem;
            cell->setTextAlignment(kColumns[c].alignment | Qt::AlignVCenter);
            setItem(row, c, cell);
        }
        cell->setText(QString::fromStdString(texts[c]));
    }
    if (m_progressTip)
        item(row, ui::CatalogColumn::Status)
            ->setToolTip(QString::fromStdString(m_progressTip(record)));
    m_rowKeys[static_cast<std::size_t>(row)] = catalog::registrationKey(record);
    item(row, 0)->setData(kRecordRole,
                          QByteArray(reinterpret_cast<const char*>(record.bytes.data()),
                                     static_cast<qsizetype>(record.bytes.size())));
    colourRow(row, ownNode);
}

QColor CCatalogListCtrl::rowTextColour(int row) const
{
    if (ui::isManagementFileName(cellText(row, ui::CatalogColumn::FileName)))
        return kGrey;
    return palette().color(QPalette::Text);
}

QColor CCatalogListCtrl::rowBackground(int row, const std::string& ownNode) const
{
    if (cellText(row, ui::CatalogColumn::Sender) == ownNode)
        return palette().color(QPalette::Base);
    if (cellText(row, ui::CatalogColumn::Status).find('%') != std::string::npos)
        return kInProgress;
    return kObtained;
}

void CCatalogListCtrl::colourRow(int row, const std::string& ownNode)
{
    const QColor text = rowTextColour(row);
    const QColor back = rowBackground(row, ownNode);
    for (int c = 0; c < ui::kCatalogColumns; ++c)
        if (QTableWidgetItem* cell = item(row, c)) {
            cell->setForeground(text);
            cell->setBackground(back);
        }
}

std::optional<int> CCatalogListCtrl::selectedRow() const
{
    const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
    if (ranges.isEmpty())
        return std::nullopt;
    return ranges.first().topRow();
}

std::string CCatalogListCtrl::cellText(int row, int column) const
{
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text().toStdString() : std::string();
}

std::unique_ptr<QMenu> CCatalogListCtrl::contextMenu(std::optional<int> row)
{
    auto menu = std::make_unique<QMenu>(this);
    QAction* open = menu->addAction(ui::tr(kOpenReceivedFolder));
    // Queued: the menu is gone before the file manager is asked.
    connect(
        open, &QAction::triggered, this, [this, row] { Q_EMIT openReceivedFolder(row); },
        Qt::QueuedConnection);
    return menu;
}

void CCatalogListCtrl::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    std::optional<int> row;
    if (index.isValid()) {
        row = index.row();
        selectRow(index.row());
    }
    contextMenu(row)->exec(event->globalPos());
    event->accept(); // not the window's own menu as well
}

// A drop only ever copies or links: a source that honoured a move would remove the original,
// and a shortcut registered for it would point at nothing. The proposed action is kept when it
// is one of these; otherwise copy, or link, when the source allows it.
bool CCatalogListCtrl::takeDrop(QDropEvent* event) const
{
    if (!m_acceptDrops || localFiles(event->mimeData()).isEmpty()) {
        event->ignore();
        return false;
    }
    const Qt::DropActions possible = event->possibleActions();
    Qt::DropAction action = event->proposedAction();
    if (action != Qt::CopyAction && action != Qt::LinkAction)
        action = possible.testFlag(Qt::CopyAction) ? Qt::CopyAction : Qt::LinkAction;
    if (!possible.testFlag(action)) {
        event->ignore();
        return false;
    }
    event->setDropAction(action);
    event->accept();
    return true;
}

void CCatalogListCtrl::dragEnterEvent(QDragEnterEvent* event)
{
    takeDrop(event);
}

void CCatalogListCtrl::dragMoveEvent(QDragMoveEvent* event)
{
    takeDrop(event);
}

void CCatalogListCtrl::dropEvent(QDropEvent* event)
{
    if (takeDrop(event))
        Q_EMIT filesDropped(localFiles(event->mimeData()));
}
