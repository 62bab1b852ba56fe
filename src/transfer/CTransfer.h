#pragma once

#include "app/CA2AModelListener.h"
#include "app/NodeOptions.h"
#include "app/VX_EVENTCATALOGLISTENER.h"
#include "app/VX_EVENTLOGLISTENER.h"
#include "platform/EventLoop.h"
#include "platform/LocalTime.h"
#include "transfer/TransferColumn.h"

#include <memory>
#include <string>
#include <vector>

class CPropatyHotLine;
class CSkypeColumn;
class CTcpColumn;
class CTransferListener;
class NodeContext;
class TransferColumn;
class VX_EVENTCATALOG;
class VX_EVENTLOG;

// The hub between the transports, the catalog's change events and the node's listeners. Every
// configured connection is addressed by its index in the settings; each operation goes to the
// transport column that the connection's method names ("TCP" or "SKYPE"). A connection with any
// other method is neither connected nor connectable, and every operation on it does nothing.
//
// Events from the catalog channel, the log channel and the peer models are passed on to the
// listeners (the main window, the control socket's events) in registration order. Messages between
// nodes never pass through here: each connection hands them to its own catalog exchange.
class CTransfer : public CA2AModelListener,
                  public VX_EVENTLOGLISTENER,
                  public VX_EVENTCATALOGLISTENER
{
public:
    // Reads the connections from the node's settings and registers with the node's two
    // channels, which outlive it. The node's parts and the options go to the transport columns.
    CTransfer(NodeContext& node, VX_EVENTLOG& log, VX_EVENTCATALOG& catalogEvents,
              const NodeOptions& options = {});
    // Runs terminate(), which does nothing when the node has run it already.
    ~CTransfer() override;
    CTransfer(const CTransfer&) = delete;
    CTransfer& operator=(const CTransfer&) = delete;

    void addListener(CTransferListener* listener);

    // Has the columns build the transport objects (the Skype side first, then the TCP peer model
    // with its 50 ms timer) and registers this object with each of them.
    void initialise(plat::WindowHandle mainWindow);
    // Renames the node's Skype application; TCP connections are not touched.
    void changePartyName(const std::string& partyName);

    int isConnected(int index);
    int canConnect(int index);
    void connectPeer(int index);
    void disconnectPeer(int index);
    // Mode 1 asks for every record, mode 2 for those registered on or after date.
    void requestHello(int index, int mode, const plat::SystemTime& date);
    // File bytes per second moving to and from connection index's peer just now.
    TransferColumn::Rates rates(int index);

    // Empties the listener list, destroys the TCP peer model and the Skype objects. A second call
    // does nothing.
    void terminate();

    // CA2AModelListener (both peer models).
    void onConnectionChanged() override;
    // VX_EVENTLOGLISTENER.
    void onEventLog(int a, int b) override;
    // VX_EVENTCATALOGLISTENER.
    void entryAdded(const catalog::CatalogRecord& record) override;
    void entryChanged(int index, const catalog::CatalogRecord& record) override;
    void listReset() override;
    void listRefilled() override;

    // Called by the Skype column when the Skype link's attach state or the contact list changed.
    void notifySkypeLinkChanged();
    void notifyModelChanged();

    // The TCP peer model listens for peers (a node that is on-line and not client-only), or stops.
    void setListening(bool on);
    // The messaging client's link state (VX_SKYPECOM::LINK_*; detached while there is no link),
    // and whether it is attached.
    int messagingLinkState();
    bool messagingClientLinked();
    // This node's own account and its contacts as the messaging client reports them; empty while
    // its user model does not exist.
    std::string ownSkypeId();
    std::vector<std::string> skypeContacts();

    // The transport columns, for tests that check how the node wired them.
    CTcpColumn& tcp() { return *m_tcp; }
    CSkypeColumn& skype() { return *m_skype; }

private:
    // The column serving connection index, or nullptr for an unknown method or index.
    TransferColumn* columnFor(int index);

    CPropatyHotLine& m_settings;
    std::vector<CTransferListener*> m_listeners;
    std::unique_ptr<CSkypeColumn> m_skype;
    std::unique_ptr<CTcpColumn> m_tcp;
    bool m_terminated = false;
};
