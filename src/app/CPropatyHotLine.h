#pragma once

#include "app/ConnectionList.h"
#include "app/PartyKeyStore.h"
#include "app/TcpAddress.h"

#include <string>
#include <string_view>

// The settings file path formed from the process's current folder: start-up needs it before any
// settings object exists.
std::string getIniFileName();

// The single door to the node's settings. This base owns the file and folder paths and reads
// and writes "Pavo.ini"; the object that holds the live settings (NodeSettings) derives from it
// and implements the virtual operations. The node hands it to its parts; instance() is for the
// one-node program's start-up and windows.
class CPropatyHotLine
{
public:
    // Connect methods as findConnectNodeName and renameConnectNode number them.
    static constexpr int kMethodSkype = 0;
    static constexpr int kMethodTcp = 1;
    // At most this many connection sections are read, whatever CONNECTNUM says.
    static constexpr int kMaxConnections = ConnectionList::kMaxConnections;

    // Captures the process's current folder as the working folder.
    CPropatyHotLine();
    // Uses workingFolder instead of the current folder (tests, tools).
    explicit CPropatyHotLine(std::string workingFolder);
    CPropatyHotLine(const CPropatyHotLine&) = delete;
    CPropatyHotLine& operator=(const CPropatyHotLine&) = delete;

    // The live settings object, or nullptr when none exists.
    static CPropatyHotLine* instance();

    const std::string& getCurrentFolder() const { return m_workingFolder; }
    const std::string& iniFileName() const { return m_iniFile; }

    // Reads the settings file into the setters. A missing file reads as all defaults.
    void load();
    // Writes the getters' values key by key; other sections and keys of the file are kept.
    void save();

    // The party key as load found it (or as the system properties last set it): TCP connections
    // use TLS with it when Ready, and are not made at all when Missing.
    const PartyKeyStore::Loaded& partyKey() const { return m_partyKey; }
    void setPartyKey(PartyKeyStore::Loaded key) { m_partyKey = std::move(key); }
    // Reads the party key for the current party name again.
    void loadPartyKey();

    // The operations below keep the order of the settings interface's slots.
    virtual std::string getRecvFolder();
    virtual std::string getSendFolder();
    virtual std::string getComment(int index);
    virtual std::string getAddress(int index);
    virtual std::string getHostName(int index) = 0;
    virtual int getPort(int index) = 0;
    virtual std::string getSkypeId(int index);
    virtual std::string getConnectMethod(int index);
    virtual int getConnectCount();
    virtual std::string getNodeName();
    virtual std::string getConnectNodeName(int index);
    virtual int isConnectSkypeId(const std::string& skypeId);
    virtual std::string getPartyName();
    virtual int getLimitDay();
    virtual int getWindow() = 0;
    virtual void setWindow(int window) = 0;
    virtual void setListenPort(int port) = 0;
    virtual int getListenPort() = 0;
    virtual std::string findConnectNodeName(int method, const std::string& host) = 0;
    virtual void renameConnectNode(int method, const std::string& host, const std::string& oldName,
                                   const std::string& newName) = 0;
    virtual ~CPropatyHotLine();
    virtual void setComment(int index, const std::string& comment);
    virtual void setRecvFolder(const std::string& folder);
    virtual void setSendFolder(const std::string& folder);
    virtual void setHostName(int index, const std::string& address);
    virtual void setSkypeId(int index, const std::string& skypeId);
    virtual void setConnectMethod(int index, const std::string& method);
    virtual void addConnect(int index, const std::string& nodeName);
    virtual void setNodeName(const std::string& name);
    virtual void setPartyName(const std::string& name);
    virtual void setLimitDay(int days);

private:
    void loadConnections();

    std::string m_workingFolder;
    std::string m_iniFile;
    std::string m_recvFolder;
    std::string m_sendFolder;
    PartyKeyStore::Loaded m_partyKey;
};
