#pragma once

#include "app/NodeOptions.h"
#include "skype/MODELLISTENER.h"
#include "skype/VX_SKYPECOMUSER.h"
#include "transfer/TransferColumn.h"

class CTransfer;
class VX_A2AMODEL;
class VX_SKYPECOM;
class VX_SKYPEMODEL;

// The "SKYPE" connections of the transfer coordinator, served through the messaging client: the
// link, the user model and the peer model with the node's application ("PAVO000" + party name).
// A connection's address is its Skype ID. It is the coordinator's user of the link and listener
// of the user model: link and contact changes go on to the coordinator's listeners, and a lost
// link drops every Skype stream and forgets every contact at once.
class CSkypeColumn : public TransferColumn, public VX_SKYPECOMUSER, public MODELLISTENER
{
public:
    static constexpr const char* kApplicationPrefix = "PAVO000";

    // The options say whether the link looks for the client and whether streams are passive.
    explicit CSkypeColumn(CTransfer& transfer, const NodeOptions& options = {})
        : m_transfer(transfer), m_options(options)
    {
    }
    ~CSkypeColumn() override;

    // Link, user model, peer model (each registered with), the application named, then the
    // link's discovery started.
    void initialise(plat::WindowHandle mainWindow) override;
    // Destroys the peer model, the user model and the link, in that order.
    void terminate() override;

    int isConnected(int index) override;
    int canConnect(int index) override;
    void connectPeer(int index) override;
    void disconnectPeer(int index) override;
    void requestHello(int index, int mode, const plat::SystemTime& date) override;
    void changePartyName(const std::string& partyName) override;

    // VX_SKYPECOMUSER
    void onAttachState(int state) override;
    // MODELLISTENER
    void onModelChanged() override;

private:
    std::string skypeIdOf(int index) const;

    CTransfer& m_transfer;
    NodeOptions m_options;
    // Not owned: the process-wide instances, destroyed by terminate().
    VX_SKYPECOM* m_link = nullptr;
    VX_SKYPEMODEL* m_model = nullptr;
    VX_A2AMODEL* m_peers = nullptr;
};
