#pragma once

#include "transfer/TransferColumn.h"

class CTransfer;

// The "SKYPE" connections of the transfer coordinator. Until the Skype transport is in place a
// Skype connection is neither connected nor connectable, and every operation on it does nothing.
class CSkypeColumn : public TransferColumn
{
public:
    explicit CSkypeColumn(CTransfer& transfer) : m_transfer(transfer) {}

    void initialise(plat::WindowHandle mainWindow) override;
    void terminate() override;

    int isConnected(int index) override;
    int canConnect(int index) override;
    void connectPeer(int index) override;
    void disconnectPeer(int index) override;
    void requestHello(int index, int mode, const plat::SystemTime& date) override;
    void changePartyName(const std::string& partyName) override;

private:
    [[maybe_unused]] CTransfer& m_transfer;
};
