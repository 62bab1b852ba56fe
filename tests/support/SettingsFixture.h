#pragma once

#include "app/CPropatyHotLine.h"
#include "app/ConnectionRecord.h"

#include <string>
#include <vector>

// Settings held in memory, for tests of everything that reads settings through
// CPropatyHotLine::instance(). Fill the public fields directly; load() and save() work on
// "Pavo.ini" in the working folder as they do for the main window. Constructing it creates
// SEND, RECV and CATALOG in the working folder and makes it the process-wide instance.
class SettingsFixture : public CPropatyHotLine
{
public:
    explicit SettingsFixture(std::string workingFolder);

    std::string party;
    std::string nodeName;
    int limitDay = 3;
    int window = 0;
    int listenPort = kDefaultTcpPort;
    // isConnectSkypeId answers 0 while this is false, as the main window does off-line.
    bool online = true;
    std::vector<ConnectionRecord> connections;

    // Appends a connection; returns its index.
    int addPeer(const std::string& node, const std::string& method, const std::string& address,
                const std::string& comment = {});

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
    void setWindow(int value) override;
    void setListenPort(int port) override;
    int getListenPort() override;
    std::string findConnectNodeName(int method, const std::string& host) override;
    void renameConnectNode(int method, const std::string& host, const std::string& oldName,
                           const std::string& newName) override;
    void setComment(int index, const std::string& comment) override;
    void setHostName(int index, const std::string& address) override;
    void setSkypeId(int index, const std::string& skypeId) override;
    void setConnectMethod(int index, const std::string& method) override;
    void addConnect(int index, const std::string& node) override;
    void setNodeName(const std::string& name) override;
    void setPartyName(const std::string& name) override;
    void setLimitDay(int days) override;

private:
    // nullptr for an index outside the list.
    ConnectionRecord* at(int index);
    static const char* methodText(int method);
};
