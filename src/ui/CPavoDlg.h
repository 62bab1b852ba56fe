#pragma once

#include "app/NodeOptions.h"
#include "app/NodeSettings.h"
#include "platform/EventLoop.h"
#include "transfer/CTransfer.h"
#include "transfer/CTransferListener.h"
#include "ui/CConnectListCtrl.h"
#include "ui/CPavoPeriodic.h"
#include "ui/CatalogFileOps.h"
#include "ui/CatalogListEvent.h"
#include "ui/MainWindowLayout.h"
#include "ui/TrayDialog.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CFolderWatch;
class SendFolderTrigger;
class CNodeInfoDlg;

// The node's main window and the owner of everything that lives while the program runs. It owns
// the live settings and shows them (the configured connections are the rows of its connection
// list), owns the transfer coordinator and is its listener, owns the folder watch, and drives the
// periodic work.
// Closing it only hides it (TrayDialog); the program ends through the tray menu, the end of the
// session or a terminating signal, all of which emit ended().
class CPavoDlg : public TrayDialog, public CTransferListener, private CPavoPeriodic::Host
{
    Q_OBJECT
public:
    static constexpr int kOnline = MainWindowLayout::kOnline;
    static constexpr int kOffline = MainWindowLayout::kOffline;

    // headless: no dialog ever waits for a click (the method and save-as dialogs cancel).
    explicit CPavoDlg(bool headless = false, const NodeOptions& options = {});
    // A window whose settings and folders live in workingFolder (tests).
    CPavoDlg(const std::string& workingFolder, bool headless, const NodeOptions& options = {});
    ~CPavoDlg() override;

    // Loads the settings, starts the transports, the catalog, the folder watch and the timers.
    void initialise();
    // Goes off-line, stops the timers, drops every connection, ends the transports, saves the
    // settings and the catalog. Runs once; the destructor runs it when nobody did.
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
    void postError(std::uintptr_t code, std::intptr_t selector);

    // A first start (no party or node name): the system properties open with a line saying so
    // and then point to adding a connection. Headless, a message says where to set them.
    void firstStartGuide();
    // A line in the status line.
    void notice(const std::string& text);

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

    int selection() const { return m_selection; }
    bool isListening() const { return m_listening; }
    bool peersConnected() const { return m_anyConnected; }
    std::string titleText() const;
    std::string toolTipText() const;
    const MainWindowLayout& controls() const { return m_ui; }
    CTransfer& transfer() { return m_transfer; }
    CPavoPeriodic& periodic() { return m_periodic; }
    CatalogFileOps& fileOps() { return *m_fileOps; }
    const std::vector<CatalogListEvent>& pendingEvents() const { return m_pending; }

    // The settings the window shows and edits; its connection list shows their connections.
    NodeSettings& settings() { return m_settings; }
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
    // The settings, connection and synchronisation dialogs (PavoDialogs).
    void onSystemProperties();
    void onAddConnection();
    void onChangeConnection();
    void onDeleteConnection();
    void onCatalogSync();
    void onNodeInformation();

    void buildWindow();
    void notifyArrivals(const std::vector<CatalogRecord>& records);
    void connectControls();
    void readBoundValues();
    void disconnectAll(bool onlyConnected);
    void setConnectionButtons(bool enabled);

    // CPavoPeriodic::Host
    bool isOnlineSelected() override { return m_selection == kOnline; }
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
    // Sets the on-line switch's value; the settings admit Skype peers only while on-line.
    void select(int selection);

    const NodeOptions m_options;
    // Before the parts, so that it is the settings instance while they are built and taken down.
    NodeSettings m_settings;
    CTransfer m_transfer;
    MainWindowLayout m_ui;
    std::string m_skypeStatus;
    int m_selection = kOffline;
    bool m_listening = false;
    std::unique_ptr<CFolderWatch> m_folderWatch;
    std::unique_ptr<SendFolderTrigger> m_sendTrigger;
    bool m_anyConnected = false;
    int m_savedSelection = kOffline;
    std::vector<CatalogListEvent> m_pending;
    bool m_refilling = false;
    bool m_suspended = false;
    CPavoPeriodic m_periodic;
    std::unique_ptr<CatalogFileOps::Ui> m_opsUi;
    std::unique_ptr<CatalogFileOps> m_fileOps;
    plat::MessageWindow m_messages;
    // Created hidden at initialisation; publishes the own node information every 30 s.
    std::unique_ptr<CNodeInfoDlg> m_nodeInfo;
    class ArrivalNotifier* m_notifier = nullptr;
    ArrivalHandler m_onArrival;
    FolderOpener m_openFolder;
    bool m_initialised = false;
    bool m_shutDown = false;
    bool m_ended = false;
};
