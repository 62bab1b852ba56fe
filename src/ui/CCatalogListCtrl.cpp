#include "ui/CCatalogListCtrl.h"

#include "catalog/RecordKey.h"
#include "ui/CatalogRowText.h"
#include "ui/ListStyle.h"
#include "ui/Translations.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>

#include <algorithm>
#include <set>

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

// A purge clears the list and adds every entry again. The user's selection follows its entry
// to its new row (or goes with it), and the view stays where it was unless a new entry came.
void CCatalogListCtrl::applyEvents(const std::vector<CatalogListEvent>& events,
                                   const std::string& ownNode)
{
    if (events.empty())
        return;
    std::optional<std::string> selected;
    if (const auto row = selectedRow())
        if (const auto shown = rowRecord(*row))
            selected = catalog::registrationKey(*shown);
    const int scroll = verticalScrollBar()->value();
    // Rows that a clear in this batch removes and an add brings back are not new.
    std::set<std::string> before;
    const bool clears = std::any_of(events.begin(), events.end(), [](const CatalogListEvent& e) {
        return e.kind == CatalogListEvent::Clear;
    });
    if (clears)
        for (int row = 0; row < rowCount(); ++row)
            if (const auto shown = rowRecord(row))
                before.insert(catalog::registrationKey(*shown));
    bool showedNew = false;

    setUpdatesEnabled(false);
    for (std::size_t i = 0; i < events.size(); ++i) {
        const CatalogListEvent& e = events[i];
        switch (e.kind) {
        case CatalogListEvent::Clear:
            setRowCount(0);
            m_rowCount = 0;
            break;
        case CatalogListEvent::Add:
            insertRow(m_rowCount);
            writeRow(m_rowCount, e.record, ownNode);
            ++m_rowCount;
            if (before.count(catalog::registrationKey(e.record)) == 0) {
                scrollToItem(item(m_rowCount - 1, 0));
                showedNew = true;
            }
            break;
        case CatalogListEvent::Update:
            // A row the list does not have (an event from before a reset) is not invented.
            if (e.row >= 0 && e.row < rowCount() && !supersededUpdate(events, i))
                writeRow(e.row, e.record, ownNode);
            break;
        default:
            break;
        }
    }
    int widths[ui::kCatalogColumns];
    for (int c = 0; c < ui::kCatalogColumns; ++c)
        widths[c] = kColumns[c].width;
    ui::fitColumns(*this, widths, ui::kCatalogColumns);
    if (clears) {
        const int row = selected ? rowOf(*selected) : -1;
        if (row >= 0)
            selectRow(row);
        else
            clearSelection();
    }
    if (!showedNew)
        verticalScrollBar()->setValue(scroll);
    setUpdatesEnabled(true);
}

int CCatalogListCtrl::rowOf(const std::string& key) const
{
    for (int row = 0; row < rowCount(); ++row)
        if (const auto shown = rowRecord(row); shown && catalog::registrationKey(*shown) == key)
            return row;
    return -1;
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
