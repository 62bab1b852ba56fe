#include "app/NodeSettings.h"

#include "platform/Files.h"

NodeSettings::NodeSettings() : NodeSettings(plat::currentFolder()) {}

NodeSettings::NodeSettings(std::string workingFolder) : CPropatyHotLine(std::move(workingFolder)) {}

const char* NodeSettings::methodText(int method)
{
    switch (method) {
    case kMethodSkype:
        return "SKYPE";
    case kMethodTcp:
        return "TCP";
    default:
        return nullptr;
    }
}

std::string NodeSettings::getComment(int index)
{
    return cut(m_connections.at(index).comment);
}

std::string NodeSettings::getAddress(int index)
{
    return cut(m_connections.at(index).address);
}

std::string NodeSettings::getHostName(int index)
{
    return cut(m_connections.hostName(index));
}

int NodeSettings::getPort(int index)
{
    return m_connections.port(index);
}

std::string NodeSettings::getSkypeId(int index)
{
    return getAddress(index);
}

std::string NodeSettings::getConnectMethod(int index)
{
    return cut(m_connections.at(index).connectMethod);
}

int NodeSettings::getConnectCount()
{
    return m_connections.count();
}

std::string NodeSettings::getNodeName()
{
    return m_nodeName;
}

std::string NodeSettings::getConnectNodeName(int index)
{
    return cut(m_connections.at(index).nodeName);
}

int NodeSettings::isConnectSkypeId(const std::string& skypeId)
{
    return m_online && m_connections.hasSkypeId(skypeId) ? 1 : 0;
}

std::string NodeSettings::getPartyName()
{
    return m_partyName;
}

int NodeSettings::getLimitDay()
{
    return m_limitDay;
}

int NodeSettings::getWindow()
{
    return m_window;
}

void NodeSettings::setWindow(int window)
{
    m_window = window;
}

void NodeSettings::setListenPort(int port)
{
    m_listenPort = port;
}

int NodeSettings::getListenPort()
{
    return m_listenPort;
}

std::string NodeSettings::findConnectNodeName(int method, const std::string& host)
{
    const char* text = methodText(method);
    return text ? cut(m_connections.findNodeName(text, host)) : std::string();
}

void NodeSettings::renameConnectNode(int method, const std::string& host,
                                     const std::string& oldName, const std::string& newName)
{
    if (const char* text = methodText(method))
        m_connections.rename(text, host, oldName, newName);
}

void NodeSettings::setComment(int index, const std::string& comment)
{
    ConnectionRecord c = m_connections.at(index);
    c.comment = comment;
    m_connections.replace(index, std::move(c));
}

void NodeSettings::setAddress(int index, const std::string& address)
{
    ConnectionRecord c = m_connections.at(index);
    c.address = address;
    m_connections.replace(index, std::move(c));
}

void NodeSettings::setHostName(int index, const std::string& address)
{
    setAddress(index, address);
}

void NodeSettings::setSkypeId(int index, const std::string& skypeId)
{
    setAddress(index, skypeId);
}

void NodeSettings::setConnectMethod(int index, const std::string& method)
{
    ConnectionRecord c = m_connections.at(index);
    c.connectMethod = method;
    m_connections.replace(index, std::move(c));
}

void NodeSettings::addConnect(int index, const std::string& nodeName)
{
    m_connections.insert(index, ConnectionRecord{nodeName, {}, {}, {}});
}

void NodeSettings::setNodeName(const std::string& name)
{
    m_nodeName = name;
}

void NodeSettings::setPartyName(const std::string& name)
{
    m_partyName = name;
}

void NodeSettings::setLimitDay(int days)
{
    m_limitDay = days;
}
