#pragma once

#include "app/CPropatyHotLine.h"
#include "app/ConnectionList.h"

#include <string>

// The node's settings held in memory: the system values and the configured connections, read
// from and written to "Pavo.ini" by the base. The main window shows it and edits it; tests,
// tools and benchmarks build it the same way. Constructing it creates SEND, RECV and CATALOG in
// the working folder and makes it the process-wide instance.
class NodeSettings : public CPropatyHotLine
{
public:
    NodeSettings();
    explicit NodeSettings(std::string workingFolder);

    ConnectionList& connections() { return m_connections; }
    const ConnectionList& connections() const { return m_connections; }

    const std::string& nodeName() const { return m_nodeName; }
    const std::string& partyName() const { return m_partyName; }

    // While off-line, isConnectSkypeId answers 0: no Skype peer is admitted then.
    void setOnline(bool online) { m_online = online; }
    bool online() const { return m_online; }

    std::string getComment(int index) override;
    std::string getAddress(int index) override;
    std::string getHostName(int index) override;
    int getPort(int index) override;
    std::string getSkypeId(int index) override;
    std::string getConnectMethod(int index) override;
    int getConnectCount() override;
    std::string getNodeName() override;
    std::string getConnectNodeName(int index) override;
    int isConnectSkypeId(const std::string& skypeId) override;
    std::string getPartyName() override;
    int getLimitDay() override;
    int getWindow() override;
    void setWindow(int window) override;
    void setListenPort(int port) override;
    int getListenPort() override;
    std::string findConnectNodeName(int method, const std::string& host) override;
    void renameConnectNode(int method, const std::string& host, const std::string& oldName,
                           const std::string& newName) override;
    void setComment(int index, const std::string& comment) override;
    void setHostName(int index, const std::string& address) override;
    void setSkypeId(int index, const std::string& skypeId) override;
    void setConnectMethod(int index, const std::string& method) override;
    void addConnect(int index, const std::string& nodeName) override;
    void setNodeName(const std::string& name) override;
    void setPartyName(const std::string& name) override;
    void setLimitDay(int days) override;

    // "SKYPE" or "TCP" for a connect method of the settings interface; nullptr for any other.
    static const char* methodText(int method);

private:
    void setAddress(int index, const std::string& address);
    static std::string cut(std::string text)
    {
        return ConnectionList::settingText(std::move(text));
    }

    ConnectionList m_connections;
    std::string m_nodeName;
    std::string m_partyName;
    int m_limitDay = 3;
    int m_window = 0;
    int m_listenPort = kDefaultTcpPort;
    bool m_online = true;
};
