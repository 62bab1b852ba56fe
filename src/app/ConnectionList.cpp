#include "app/ConnectionList.h"

#include "app/TcpAddress.h"

#include <algorithm>

std::string ConnectionList::settingText(std::string text)
{
    if (text.size() > kMaxSettingBytes) {
        std::size_t end = kMaxSettingBytes;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        text.resize(end);
    }
    return text;
}

ConnectionRecord ConnectionList::at(int index) const
{
    return contains(index) ? m_records[static_cast<std::size_t>(index)] : ConnectionRecord{};
}

int ConnectionList::insert(int index, ConnectionRecord record)
{
    index = std::clamp(index, 0, count());
    m_records.insert(m_records.begin() + index, std::move(record));
    if (m_listener)
        m_listener->connectionInserted(index);
    return index;
}

void ConnectionList::remove(int index)
{
    if (!contains(index))
        return;
    m_records.erase(m_records.begin() + index);
    if (m_listener)
        m_listener->connectionRemoved(index);
}

void ConnectionList::replace(int index, ConnectionRecord record)
{
    if (!contains(index) || m_records[static_cast<std::size_t>(index)] == record)
        return;
    m_records[static_cast<std::size_t>(index)] = std::move(record);
    if (m_listener)
        m_listener->connectionChanged(index);
}

std::string ConnectionList::hostName(int index) const
{
    return addressHost(at(index).address);
}

int ConnectionList::port(int index) const
{
    return addressPort(at(index).address);
}

std::string ConnectionList::findNodeName(std::string_view method, std::string_view host) const
{
    for (const ConnectionRecord& c : m_records)
        if (c.connectMethod == method && addressHost(c.address) == host)
            return c.nodeName;
    return {};
}

void ConnectionList::rename(std::string_view method, std::string_view host,
                            std::string_view oldName, const std::string& newName)
{
    for (int i = 0; i < count(); ++i) {
        ConnectionRecord c = m_records[static_cast<std::size_t>(i)];
        if (c.connectMethod == method && addressHost(c.address) == host && c.nodeName == oldName) {
            c.nodeName = newName;
            replace(i, std::move(c));
        }
    }
}

bool ConnectionList::hasSkypeId(std::string_view skypeId) const
{
    return std::any_of(m_records.begin(), m_records.end(), [&](const ConnectionRecord& c) {
        return c.connectMethod == "SKYPE" && c.address == skypeId;
    });
}

bool ConnectionList::hasNodeName(std::string_view nodeName) const
{
    return std::any_of(m_records.begin(), m_records.end(),
                       [&](const ConnectionRecord& c) { return c.nodeName == nodeName; });
}
