#pragma once

#include "app/ConnectionList.h"

#include <QTableWidget>

#include <optional>
#include <string>
#include <vector>

// The connection list: shows the configured connections, one row per connection in index order,
// and follows every change to them. Columns: node name, connect method, address, connection
// state, comment. A connected row is drawn on a light-blue background.
class CConnectListCtrl : public QTableWidget, private ConnectionList::Listener
{
    Q_OBJECT
public:
    enum Column
    {
        NodeName = 0,
        Method = 1,
        Address = 2,
        State = 3,
        Comment = 4,
        ColumnCount = 5,
    };

    static const QColor kConnected;

    explicit CConnectListCtrl(QWidget* parent = nullptr);
    ~CConnectListCtrl() override;

    // Shows list and follows it from now on; nullptr stops following (the list may then go).
    void display(ConnectionList* list);

    int count() const { return rowCount(); }
    // The cell's text, or empty for a cell or row the list does not have.
    std::string cell(int row, int column) const;

    // Writes the state column of every row from connected[row] (rows beyond it: not connected),
    // touching only cells whose text changes, with redrawing off.
    void showStates(const std::vector<bool>& connected);

    std::optional<int> selectedRow() const;

    static const char* const kConnectedText;
    static const char* const kNotConnectedText;

private:
    void connectionInserted(int index) override;
    void connectionRemoved(int index) override;
    void connectionChanged(int index) override;

    // Writes the cell; nothing for a row the list does not have.
    void setCell(int row, int column, const std::string& text);
    void colourRow(int row);

    ConnectionList* m_list = nullptr;
};
