#pragma once

#include "app/ConnectionRecord.h"

#include <QTableWidget>

#include <optional>
#include <string>
#include <vector>

// The connection list: the store of the configured connections, one row per connection, in
// index order. Columns: node name, connect method, address, connection state, comment.
// A connected row is drawn on a light-blue background.
class CConnectListCtrl : public QTableWidget
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

    int count() const { return rowCount(); }
    // The cell's text, or empty for a cell or row the list does not have.
    std::string cell(int row, int column) const;
    // Writes the cell; nothing for a row the list does not have.
    void setCell(int row, int column, const std::string& text);
    // A new row at index (clamped to the list) with the node name set and every other cell empty.
    void insertConnection(int index, const std::string& nodeName);
    void removeConnection(int index);
    ConnectionRecord record(int row) const;

    // Writes the state column of every row from connected[row] (rows beyond it: not connected),
    // touching only cells whose text changes, with redrawing off.
    void showStates(const std::vector<bool>& connected);

    std::optional<int> selectedRow() const;

    // The address read as a TCP address: before its first "/", and the port after it.
    std::string hostName(int row) const;
    int port(int row) const;
    // The node name of the first row with this method text whose host name is host; empty when
    // there is none.
    std::string findNodeName(const std::string& method, const std::string& host) const;
    // Every row with this method, host and node name gets the new node name.
    void renameNode(const std::string& method, const std::string& host, const std::string& oldName,
                    const std::string& newName);
    // True when a "SKYPE" row has exactly this address.
    bool hasSkypeId(const std::string& skypeId) const;

    // The settings interface hands out at most kMaxSettingBytes of a connection's texts, cut at
    // a character boundary.
    static constexpr std::size_t kMaxSettingBytes = 127;
    static std::string settingText(std::string text);
    // "SKYPE" or "TCP" for a settings connect method; nullptr for any other value.
    static const char* methodText(int method);

    static const char* const kConnectedText;
    static const char* const kNotConnectedText;

private:
    void colourRow(int row);
};
