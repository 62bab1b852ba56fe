#include "support/SettingsFixture.h"

SettingsFixture::SettingsFixture(std::string workingFolder)
    : CPropatyHotLine(std::move(workingFolder))
{
}

int SettingsFixture::addPeer(const std::string& node, const std::string& method,
                             const std::string& address, const std::string& comment)
{
    connections.push_back({node, method, address, comment});
    return static_cast<int>(connections.size()) - 1;
}

ConnectionRecord* SettingsFixture::at(int index)
{
    if (index < 0 || index >= static_cast<int>(connections.size()))
        return nullptr;
    return &connections[static_cast<std::size_t>(index)];
}

const char* SettingsFixture::methodText(int method)
{
    if (method == kMethodSkype)
        return "SKYPE";
    if (method == kMethodTcp)
        return "TCP";
    return nullptr;
}

std::string SettingsFixture::getComment(int index)
{
    const auto* c = at(index);
    return c ? c->comment : std::string();
}

std::string SettingsFixture::getAddress(int index)
{
    const auto* c = at(index);
    return c ? c->address : std::string();
}

std::string SettingsFixture::getHostName(int index)
{
    return addressHost(getAddress(index));
}

int SettingsFixture::getPort(int index)
{
    return addressPort(getAddress(index));
}

std::string SettingsFixture::getSkypeId(int index)
{
    return getAddress(index);
}

std::string SettingsFixture::getConnectMethod(int index)
{
    const auto* c = at(index);
    return c ? c->connectMethod : std::string();
}

int SettingsFixture::getConnectCount()
{
    return static_cast<int>(connections.size());
}

std::string SettingsFixture::getNodeName()
{
    return nodeName;
}

std::string SettingsFixture::getConnectNodeName(int index)
{
    const auto* c = at(index);
    return c ? c->nodeName : std::string();
}

int SettingsFixture::isConnectSkypeId(const std::string& skypeId)
{
    if (!online)
        return 0;
    for (const auto& c : connections)
        if (c.connectMethod == "SKYPE" && c.address == skypeId)
            return 1;
    return 0;
}

std::string SettingsFixture::getPartyName()
{
    return party;
}

int SettingsFixture::getLimitDay()
{
    return limitDay;
}

int SettingsFixture::getWindow()
{
    return window;
}

void SettingsFixture::setWindow(int value)
{
    window = value;
}

void SettingsFixture::setListenPort(int port)
{
    listenPort = port;
}

int SettingsFixture::getListenPort()
{
    return listenPort;
}

std::string SettingsFixture::findConnectNodeName(int method, const std::string& host)
{
    const char* text = methodText(method);
    if (!text)
        return {};
    for (int i = 0; i < getConnectCount(); ++i)
        if (getConnectMethod(i) == text && getHostName(i) == host)
            return getConnectNodeName(i);
    return {};
}

void SettingsFixture::renameConnectNode(int method, const std::string& host,
                                        const std::string& oldName, const std::string& newName)
{
    const char* text = methodText(method);
    if (!text)
        return;
    for (int i = 0; i < getConnectCount(); ++i) {
        auto& c = connections[static_cast<std::size_t>(i)];
        if (c.connectMethod == text && getHostName(i) == host && c.nodeName == oldName)
            c.nodeName = newName;
    }
}

void SettingsFixture::setComment(int index, const std::string& comment)
{
    if (auto* c = at(index))
        c->comment = comment;
}

void SettingsFixture::setHostName(int index, const std::string& address)
{
    if (auto* c = at(index))
        c->address = address;
}

void SettingsFixture::setSkypeId(int index, const std::string& skypeId)
{
    if (auto* c = at(index))
        c->address = skypeId;
}

void SettingsFixture::setConnectMethod(int index, const std::string& method)
{
    if (auto* c = at(index))
        c->connectMethod = method;
}

void SettingsFixture::addConnect(int index, const std::string& node)
{
    if (index < 0 || index > getConnectCount())
        index = getConnectCount();
    connections.insert(connections.begin() + index, ConnectionRecord{node, {}, {}, {}});
}

void SettingsFixture::setNodeName(const std::string& name)
{
    nodeName = name;
}

void SettingsFixture::setPartyName(const std::string& name)
{
    party = name;
}

void SettingsFixture::setLimitDay(int days)
{
    limitDay = days;
}
