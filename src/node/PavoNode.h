#pragma once

#include "app/CPostError.h"
#include "app/NodeKeyPins.h"
#include "app/NodeKeyStore.h"
#include "app/NodeOptions.h"
#include "app/NodeSettings.h"
#include "app/VX_EVENTCATALOG.h"
#include "app/VX_EVENTLOG.h"
#include "catalog/ContentHasher.h"
#include "catalog/RecordTrust.h"
#include "catalog/SealStore.h"
#include "catalog/ServedContent.h"
#include "control/DownloadRate.h"
#include "exchange/NodeContext.h"
#include "node/CPavoPeriodic.h"
#include "node/NodeInfoStore.h"
#include "platform/EventLoop.h"
#include "transfer/CTransfer.h"
#include "watch/CFolderWatch.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CCatalog;
class SealingCatalog;
class ControlService;
class SendFolderTrigger;

// One node: everything that lives while the program runs, built in one place. Its constructor
// is the whole assembly (settings, channels, transports, catalog, folder watch, node
// information, periodic work),
// in the order the parts need each other; shutdown() takes them down in the reverse order. No
// widget: the main window shows the node through Display, listens to its transfer coordinator
// and sends the user's commands here. Tests and benchmarks build the same node in a scratch
// folder.
//
// The parts reach each other only through what this constructor hands them (the NodeContext
// above all), never through the design classes' instance() accessors, so several nodes can live
// in one process. The accessors are for the one-node program's start-up and windows: while the
// node lives (the last one built), each hands out this node's object; after shutdown() none hands
// out anything (the settings stay readable until the node is destroyed).
class PavoNode : private CPavoPeriodic::Host
{
public:
    static constexpr int kPublishTimer = 201;
    static constexpr int kPublishPeriodMs = 30000;

    // What the node asks of whoever shows it (the main window). Every call has a default that
    // does nothing, which is what a node without a window gets.
    class Display
    {
    public:
        virtual ~Display() = default;
        // Timer 101, every third tick: connection states and catalog rows.
        virtual void refreshLists() {}
        // Timer 102: the tray tool-tip.
        virtual void refreshTray() {}
        // WM_POSTERROR: a notice for the status line (CMsg knows its text).
        virtual void postError(std::uintptr_t /*code*/, std::intptr_t /*selector*/) {}
        // A text for the status line (the folder watch refused a file).
        virtual void notice(const std::string& /*text*/) {}
        // Timer 201: the own node information was published and the party's list read again.
        virtual void nodeListChanged(const std::vector<CNodeInfo>& /*nodes*/) {}
        // Nodes whose published identity key differs from the pinned one (said again at every
        // publishing step until the user accepts the new key with acceptNodeKey).
        virtual void nodeKeysChanged(const std::vector<std::string>& /*nodes*/) {}
        // The on-line state or the settings were changed from the command line.
        virtual void stateChanged() {}
    };

    // Why the node stayed off-line when asked to go on-line.
    enum class OnlineRefusal
    {
        None,
        NoNodeName,
        NoPartyName,
        NoConnection,
    };

    // The window's message for a refusal; nullptr for None.
    static const char* refusalText(OnlineRefusal refusal);

    // Builds and starts every part over workingFolder: the settings are loaded from its
    // Pavo.ini, the catalog from its CATALOG folder. The node starts off-line.
    PavoNode(const std::string& workingFolder, const NodeOptions& options);
    // Runs shutdown() when nobody did.
    ~PavoNode() override;
    PavoNode(const PavoNode&) = delete;
    PavoNode& operator=(const PavoNode&) = delete;

    void setDisplay(Display* display) { m_display = display; }

    // The on-line switch. On-line: the node listens for TCP connections (not with "-CLIENT"),
    // admits Skype peers and connects its peers; refused (and off-line) while the node name, the
    // party name or every connection is missing. Off-line: it stops listening, and the periodic
    // work drops the connections.
    OnlineRefusal setOnline(bool online);
    bool online() const { return m_online; }
    bool isListening() const { return m_listening; }

    // Drops every connection, or only the connected ones.
    void disconnectAll(bool onlyConnected);

    // The machine sleeps: the node is off-line (the listener stays) and drops its connections;
    // resume() brings back the on-line state it had. Each runs once per sleep.
    void suspend();
    void resume();

    // Off-line, periodic work stopped, every connection dropped, transports ended, settings
    // saved, folder watch ended, catalog destroyed (its cache file rewritten). Runs once.
    void shutdown();
    bool isShutDown() const { return m_shutDown; }

    const NodeOptions& options() const { return m_options; }
    NodeSettings& settings() { return m_settings; }
    const NodeSettings& settings() const { return m_settings; }
    CTransfer& transfer() { return m_transfer; }
    CPavoPeriodic& periodic() { return m_periodic; }
    // nullptr after shutdown().
    CCatalog* catalog() { return m_catalog.get(); }
    // A peer's connection was renamed: records still pending for it stay queued under its new
    // name.
    void renamePendingFile(const std::string& oldName, const std::string& newName);
    CFolderWatch* folderWatch() { return m_folderWatch.get(); }
    NodeInfoStore& nodeInfo() { return m_nodeInfo; }
    NodeContext& context() { return m_context; }
    // The poster of the status line's notices (the detail text of the last one); nullptr after
    // shutdown().
    const CPostError* notices() const { return m_notices.get(); }
    // The party's nodes as the last publishing step read them, the own node first.
    const std::vector<CNodeInfo>& nodeList() const { return m_nodeList; }
    // Timer 201: builds and writes the own node-information file, reads the party's list and
    // checks every published identity key against the pinned one.
    void publishNodeInfo();
    // How fast each download goes and how long it still needs.
    const DownloadRate& downloadRates() const { return m_rates; }
    // The control socket's path; empty when the node has none (not asked for, or refused).
    std::string controlPath() const;
    // Tells the display that the on-line state or the settings changed outside it.
    void notifyStateChanged();

    // This node's identity key; nullptr when it could not be read or made (the node then signs
    // nothing and says why on standard error).
    const plat::NodeKey* identity() const { return m_identity.key ? &*m_identity.key : nullptr; }
    // The identity keys this node trusts, one per node name.
    NodeKeyPins& keyPins() { return *m_pins; }
    RecordTrust& trust() { return *m_trust; }
    ContentHasher& hasher() { return m_hasher; }
    // The user accepts the changed key of node: it replaces the pinned one. False when none
    // waits.
    bool acceptNodeKey(const std::string& node);

private:
    // CPavoPeriodic::Host
    bool isOnlineSelected() override { return m_online; }
    int connectionCount() override { return m_settings.getConnectCount(); }
    int isPeerConnected(int index) override { return m_transfer.isConnected(index); }
    int canConnectPeer(int index) override { return m_transfer.canConnect(index); }
    void connectPeer(int index) override { m_transfer.connectPeer(index); }
    void disconnectPeer(int index) override { m_transfer.disconnectPeer(index); }
    void refreshLists() override;
    void scanSendFolder() override;
    void maintainCatalog() override;
    void refreshTray() override;
    void purgeCatalog() override;

    void onWindowMessage(const plat::WindowMessage& message);
    void notice(const std::string& text);
    void loadIdentity(const std::string& workingFolder);
    void checkNodeKeys();
    void startControl();

    const NodeOptions m_options;
    Display* m_display = nullptr;
    // The node's hidden window: the transports' notices arrive here as WM_POSTERROR.
    plat::MessageWindow m_window;
    std::unique_ptr<CPostError> m_notices;
    std::unique_ptr<VX_EVENTLOG> m_logEvents;
    std::unique_ptr<VX_EVENTCATALOG> m_catalogEvents;
    // Measured from the catalog's announcements, from the cache's load on.
    DownloadRate m_rates;
    NodeSettings m_settings;
    NodeKeyStore::Loaded m_identity;
    std::unique_ptr<NodeKeyPins> m_pins;
    // The seals of the records this node knows, and who may say what about a file.
    std::unique_ptr<SealStore> m_seals;
    std::unique_ptr<RecordTrust> m_trust;
    // Hashes the files of the send folder before they are registered, and files to be served
    // whose content is not known to match.
    ContentHasher m_hasher;
    std::unique_ptr<ServedContent> m_served;
    // What the catalog, the transports and every connection's exchange share: the settings, the
    // catalog channel, the notice poster, the download claims, the change news and the catalog.
    NodeContext m_context;
    CTransfer m_transfer;
    // The command line's socket (NodeOptions::control); its events hear the coordinator from
    // before the catalog loads, so the cached entries are known and not told as news.
    std::unique_ptr<ControlService> m_control;
    std::unique_ptr<CCatalog> m_catalog;
    std::unique_ptr<SealingCatalog> m_watchCatalog;
    std::unique_ptr<CFolderWatch> m_folderWatch;
    std::unique_ptr<SendFolderTrigger> m_sendTrigger;
    NodeInfoStore m_nodeInfo;
    std::vector<CNodeInfo> m_nodeList;
    plat::TimerSet m_publishTimer;
    CPavoPeriodic m_periodic;
    bool m_online = false;
    bool m_listening = false;
    bool m_suspended = false;
    bool m_onlineBeforeSuspend = false;
    bool m_shutDown = false;
};
