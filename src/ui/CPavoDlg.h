#pragma once

#include "app/NodeSettings.h"
#include "node/PavoNode.h"
#include "transfer/CTransfer.h"
#include "transfer/CTransferListener.h"
#include "ui/CConnectListCtrl.h"
#include "ui/CatalogFileOps.h"
#include "ui/CatalogListEvent.h"
#include "ui/MainWindowLayout.h"
#include "ui/TrayDialog.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CNodeInfoDlg;
class ConnectionCommands;

// The node's main window: it shows a node that start-up built (PavoNode), listens to it (as
// the node's display and its transfer coordinator's listener) and sends the user's commands to
// it. The configured connections are the rows of its connection list.
// Closing it only hides it (TrayDialog); the program ends through the tray menu, the end of the
// session or a terminating signal, all of which emit ended().
class CPavoDlg : public TrayDialog, public CTransferListener, private PavoNode::Display
{
    Q_OBJECT
public:
    static constexpr int kOnline = MainWindowLayout::kOnline;
    static constexpr int kOffline = MainWindowLayout::kOffline;

    // headless: no dialog ever waits for a click (the method and save-as dialogs cancel). The
    // node outlives the window.
    explicit CPavoDlg(PavoNode& node, bool headless = false);
    ~CPavoDlg() override;

    // Shows the node: its catalog rows, the on-line switch applied (on-line when connections
    // are configured), the tray icon, the window and the node-information window.
    void initialise();
    // Shows the node off-line and shuts it down (PavoNode::shutdown), then removes the tray
    // icon. Runs once; the destructor runs it when nobody did.
    void shutdown();

    // The session asks whether it may end: the settings are saved, and the node goes on until
    // the session really ends (the log-off may still be cancelled).
    void queryEndSession();
    // The program ends as when the session ends (emits ended() once); shutdown() then stops the
    // timers and drops every connection.
    void endSession();
    void suspend();
    void resume();
    // Tray menu: end the program.
    void exitFromTray();
    // WM_POSTERROR: a notice for the status line.
    void postError(std::uintptr_t code, std::intptr_t selector) override;

    // A first start (no party or node name): the system properties open with a line saying so
    // and then point to adding a connection. Headless, a message says where to set them.
    void firstStartGuide();
    // A line in the status line.
    void notice(const std::string& text) override;
    void nodeKeysChanged(const std::vector<std::string>& nodes) override;

    // Received files that became complete in one refresh of the lists; by default a desktop
    // notification whose action opens the received folder.
    using ArrivalHandler = std::function<void(const std::vector<CatalogRecord>&)>;
    void setArrivalHandler(ArrivalHandler handler) { m_onArrival = std::move(handler); }
    // Opens a folder in the file manager ("受信フォルダを開く"); tests hand in their own.
    using FolderOpener = std::function<void(const std::string&)>;
    void setFolderOpener(FolderOpener opener) { m_openFolder = std::move(opener); }
    // The received folder of a catalog row's origin node, or the receive folder itself for no
    // row, an own row or an origin that names no safe folder.
    std::string receivedFolderOf(std::optional<int> row);
    // The work of a refresh tick on the lists (timer 101).
    void applyPendingEvents() { refreshLists(); }

    // The on-line switch was clicked: validate and listen, or stop listening.
    void applySelection();
    // Bound values → controls, and the window title.
    void refreshControls();

    int selection() const { return m_node.online() ? kOnline : kOffline; }
    bool isListening() const { return m_node.isListening(); }
    bool peersConnected() const { return m_anyConnected; }
    std::string titleText() const;
    std::string toolTipText() const;
    const MainWindowLayout& controls() const { return m_ui; }
    PavoNode& node() { return m_node; }
    CTransfer& transfer() { return m_node.transfer(); }
    CPavoPeriodic& periodic() { return m_node.periodic(); }
    CatalogFileOps& fileOps() { return *m_fileOps; }
    const std::vector<CatalogListEvent>& pendingEvents() const { return m_pending; }

    // The settings the window shows and edits; its connection list shows their connections.
    NodeSettings& settings() { return m_node.settings(); }
    const NodeSettings& settings() const { return m_node.settings(); }
    CConnectListCtrl& rows() const { return *m_ui.connections; }

    // CTransferListener: catalog changes wait for the next refresh, and after a reset also for
    // the whole list to be announced again (the list is never shown half refilled).
    void entryAdded(const CatalogRecord& record) override;
    void entryChanged(int index, const CatalogRecord& record) override;
    void listReset() override;
    void listRefilled() override;
    void onSkypeLinkChanged() override;
    void onAnyConnected(int anyConnected) override;

Q_SIGNALS:
    void ended();

private:
    // The settings dialog (SystemPropertiesFlow), the connection dialogs over the window's list
    // (ConnectionCommands) and the synchronisation dialog (CatalogSyncFlow).
    void onSystemProperties();
    void onAddConnection();
    void onChangeConnection();
    void onDeleteConnection();
    void onCatalogSync();
    void onNodeInformation();
    // The connection commands over this window's list, settings and node; a new connection
    // starts as TCP while no messaging client is linked.
    ConnectionCommands connectionCommands();

    void buildWindow();
    void notifyArrivals(const std::vector<CatalogRecord>& records);
    void connectControls();
    void readBoundValues();
    void setConnectionButtons(bool enabled);
    // The node goes on-line or off-line; a refusal is said in a message and the switch shows
    // off-line.
    void applySelectionOf(int selection);
    // The catalog as it stands, as the list's first events (the node loaded it before the window
    // listened).
    void showWholeCatalog();

    // PavoNode::Display
    void refreshLists() override;
    void refreshTray() override;
    void nodeListChanged(const std::vector<CNodeInfo>& nodes) override;
    void stateChanged() override;
    std::string progressTip(const CatalogRecord& record) const;
    // (postError and notice are public above.)

    PavoNode& m_node;
    MainWindowLayout m_ui;
    std::string m_skypeStatus;
    bool m_anyConnected = false;
    std::vector<CatalogListEvent> m_pending;
    bool m_refilling = false;
    std::unique_ptr<CatalogFileOps::Ui> m_opsUi;
    std::unique_ptr<CatalogFileOps::Catalog> m_fileCatalog;
    std::unique_ptr<CatalogFileOps> m_fileOps;
    // Created hidden at initialisation; publishes the own node information every 30 s.
    std::unique_ptr<CNodeInfoDlg> m_nodeInfo;
    class ArrivalNotifier* m_notifier = nullptr;
    ArrivalHandler m_onArrival;
    FolderOpener m_openFolder;
    bool m_initialised = false;
    bool m_shutDown = false;
    bool m_ended = false;
};
