#pragma once

#include "app/NodeOptions.h"
#include "skype/MODELLISTENER.h"
#include "skype/VX_SKYPECOMUSER.h"
#include "transfer/TransferColumn.h"

#include <memory>

class CPropatyHotLine;
class CTransfer;
class NodeContext;
class VX_A2AMODEL;
class VX_SKYPECOM;
class VX_SKYPEMODEL;

// The "SKYPE" connections of the transfer coordinator, served through the messaging client: it
// owns the link, the user model and the peer model with the node's application ("PAVO000" +
// party name). With a party key every stream is TLS with the key, and the application bears one
// name shared by every keyed node of any party, so that the servers learn neither the party's
// name nor which contacts share a key, and a contact with another key meets this node and is
// refused with the reason; a key that was set but cannot be read leaves the application unmade
// (never plain instead).
// A connection's address is its Skype ID. It is the coordinator's user of the link and listener
// of the user model: link and contact changes go on to the coordinator's listeners, and a lost
// link drops every Skype stream and forgets every contact at once.
class CSkypeColumn : public TransferColumn, public VX_SKYPECOMUSER, public MODELLISTENER
{
public:
    static constexpr const char* kApplicationPrefix = "PAVO000";
    static constexpr const char* kKeyedApplication = "PAVOTLS1";

    // The node's settings name the connections; its parts go to the peer model. The options say
    // whether the link looks for the client and whether streams are passive.
    CSkypeColumn(CTransfer& transfer, NodeContext& node, const NodeOptions& options = {});
    ~CSkypeColumn() override;

    // Builds the link, the user model and the peer model (each registered with), names the
    // application, then starts the link's discovery.
    void initialise(plat::WindowHandle mainWindow) override;
    // Destroys the peer model, the user model and the link, in that order.
    void terminate() override;

    int isConnected(int index) override;
    int canConnect(int index) override;
    void connectPeer(int index) override;
    void disconnectPeer(int index) override;
    void requestHello(int index, int mode, const plat::SystemTime& date) override;
    Rates rates(int index) override;
    void changePartyName(const std::string& partyName) override;

    // VX_SKYPECOMUSER
    void onAttachState(int state) override;
    // MODELLISTENER
    void onModelChanged() override;

    // Between initialise and terminate, otherwise nullptr.
    VX_SKYPECOM* link() { return m_link.get(); }
    VX_SKYPEMODEL* userModel() { return m_model.get(); }
    VX_A2AMODEL* peers() { return m_peers.get(); }

private:
    std::string skypeIdOf(int index) const;
    // The application's name, its TLS and the name of the other kind (keyed or not), by the
    // party key.
    void nameApplication(const std::string& partyName);

    CTransfer& m_transfer;
    NodeContext& m_node;
    CPropatyHotLine& m_settings;
    NodeOptions m_options;
    std::unique_ptr<VX_SKYPECOM> m_link;
    std::unique_ptr<VX_SKYPEMODEL> m_model;
    std::unique_ptr<VX_A2AMODEL> m_peers;
};
