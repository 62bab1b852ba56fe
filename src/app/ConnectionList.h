#pragma once

#include "app/ConnectionRecord.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The configured connections in index order: what the settings interface hands out as
// connection 0, 1, … and what the main window's connection list shows row by row. Plain data
// with the look-ups the node needs; one listener (the window's list) hears of every change.
class ConnectionList
{
public:
    class Listener
    {
    public:
        virtual void connectionInserted(int index) = 0;
        virtual void connectionRemoved(int index) = 0;
        virtual void connectionChanged(int index) = 0;

    protected:
        ~Listener() = default;
    };

    // The settings file reads no more connections than this.
    static constexpr int kMaxConnections = 10;
    // The settings interface hands out at most kMaxSettingBytes of a connection's texts, cut at
    // a character boundary.
    static constexpr std::size_t kMaxSettingBytes = 127;
    static std::string settingText(std::string text);

    // nullptr: nobody is told.
    void setListener(Listener* listener) { m_listener = listener; }

    int count() const { return static_cast<int>(m_records.size()); }
    // The connection at index; an empty record for an index the list does not have.
    ConnectionRecord at(int index) const;
    const std::vector<ConnectionRecord>& records() const { return m_records; }

    // Inserts at index, clamped to the list; returns the index it got.
    int insert(int index, ConnectionRecord record);
    int append(ConnectionRecord record) { return insert(count(), std::move(record)); }
    // Nothing for an index the list does not have.
    void remove(int index);
    void replace(int index, ConnectionRecord record);

    // The address read as a TCP address: before its first "/", and the port after it.
    std::string hostName(int index) const;
    int port(int index) const;
    // The node name of the first connection with this method text whose host name is host;
    // empty when there is none.
    std::string findNodeName(std::string_view method, std::string_view host) const;
    // Every connection with this method, host and node name gets the new node name.
    void rename(std::string_view method, std::string_view host, std::string_view oldName,
                const std::string& newName);
    // True when a "SKYPE" connection has exactly this address.
    bool hasSkypeId(std::string_view skypeId) const;
    bool hasNodeName(std::string_view nodeName) const;

private:
    bool contains(int index) const { return index >= 0 && index < count(); }

    std::vector<ConnectionRecord> m_records;
    Listener* m_listener = nullptr;
};
