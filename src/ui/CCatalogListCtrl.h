#pragma once

#include "ui/CatalogListEvent.h"

#include <QTableWidget>

class QMenu;

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The catalog list: one row per catalog entry, in catalog order. Rows are changed only by
// applyEvents(); each cell's colours tell own, received and incomplete files apart. Local files
// dropped on the list are handed on through filesDropped.
class CCatalogListCtrl : public QTableWidget
{
    Q_OBJECT
public:
    explicit CCatalogListCtrl(QWidget* parent = nullptr);

    ~CCatalogListCtrl() override;

    // Applies the pending events in arrival order with redrawing off. Consecutive updates of one
    // incomplete row collapse into the last; ownNode decides the status texts and colours.
    void applyEvents(const std::vector<CatalogListEvent>& events, const std::string& ownNode);
    // The same in slices of at most kSliceMs per turn of the loop, so that tens of thousands of
    // rows (a purge's re-announcement, the first fill) do not hold the loop; the first slice runs
    // now. Until eventsApplied, busy() is true and the list shows its last picture. A batch still
    // running when another starts is finished first.
    // The events are taken; events is left empty (with room for the next ones).
    void applyEventsInSlices(std::vector<CatalogListEvent>& events, const std::string& ownNode);
    bool busy() const { return m_batch != nullptr; }
    static constexpr int kSliceMs = 20;
    static constexpr int kMinSteps = 512;
    // Rows a clear left over are removed this many at a time.
    static constexpr int kRowsRemovedAtOnce = 4096;
    // The status cell's tool-tip of a row as it is written (a download's rate and time left);
    // none: no tool-tips.
    using ProgressTip = std::function<std::string(const CatalogRecord&)>;
    void setProgressTip(ProgressTip tip) { m_progressTip = std::move(tip); }

    // Tests: at most this many events per slice (0: no limit).
    void setSliceLimit(std::size_t events) { m_sliceLimit = events; }

    // Rows inserted since the list was last cleared.
    int catalogRowCount() const { return m_rowCount; }
    std::optional<int> selectedRow() const;
    // The catalog entry that row shows, as it was when the row was last written; none for a
    // row outside the list.
    std::optional<CatalogRecord> rowRecord(int row) const;
    // Rows written since construction (added or updated): what a refresh costs.
    int rowWrites() const { return m_rowWrites; }
    std::string cellText(int row, int column) const;

    // Starts accepting dropped files (the end of the main window's initialisation).
    void acceptFileDrops();

    // The colours of every cell of a row, from the row's texts.
    QColor rowTextColour(int row) const;
    QColor rowBackground(int row, const std::string& ownNode) const;

    static const QColor kGrey;       // management files
    static const QColor kInProgress; // received file still arriving
    static const QColor kObtained;   // received file complete

    // The list's context menu for a row (none: no row under the cursor): "受信フォルダを開く".
    std::unique_ptr<QMenu> contextMenu(std::optional<int> row);

Q_SIGNALS:
    // A batch applied in slices is in.
    void eventsApplied();
    void filesDropped(const QStringList& paths);
    // The received folder of the row's origin node (or the receive folder) is to be opened.
    void openReceivedFolder(std::optional<int> row);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Accepts the drag or drop as a copy or a link of local files; false when it is ignored.
    bool takeDrop(QDropEvent* event) const;
    void writeRow(int row, const CatalogRecord& record, const std::string& ownNode);
    // The row showing that registration (catalog::registrationKey), or -1.
    int rowOf(const std::string& key) const;
    void colourRow(int row, const std::string& ownNode);

    struct Batch;
    void startBatch(std::vector<CatalogListEvent> events, std::string ownNode);
    // Applies events until the batch ends (true) or until has passed (false).
    bool applySlice(std::chrono::steady_clock::time_point until);
    void applyEvent(std::size_t i);
    void finishBatch();
    void finishNow();
    void continueSlices();
    void setRows(int count);
    void removeRowsStep();

    std::unique_ptr<Batch> m_batch;
    std::vector<CatalogListEvent> m_spareEvents;
    std::size_t m_sliceLimit = 0;
    // The registration each row shows (catalog::registrationKey), row by row.
    std::vector<std::string> m_rowKeys;
    int m_rowCount = 0;
    int m_rowWrites = 0;
    bool m_acceptDrops = false;
    ProgressTip m_progressTip;
};
