#pragma once

#include "ui/CatalogListEvent.h"

#include <QTableWidget>

class QMenu;

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

    // Applies the pending events in arrival order with redrawing off. Consecutive updates of one
    // incomplete row collapse into the last; ownNode decides the status texts and colours.
    void applyEvents(const std::vector<CatalogListEvent>& events, const std::string& ownNode);

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

    int m_rowCount = 0;
    int m_rowWrites = 0;
    bool m_acceptDrops = false;
};
