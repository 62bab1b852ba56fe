#pragma once

#include "transfer/TransferColumn.h"

class CA2AModelListener;
class CTcpA2AModel;

// The "TCP" connections of the transfer coordinator, served by the process-wide TCP peer model.
// A connection's address gives the host and port to dial; the peer is known by its node name.
class CTcpColumn : public TransferColumn
{
public:
    // serverOnly: connections are never dialled, only accepted.
    explicit CTcpColumn(CA2AModelListener* listener, bool serverOnly = false)
        : m_listener(listener), m_serverOnly(serverOnly)
    {
    }
    ~CTcpColumn() override;

    void initialise(plat::WindowHandle mainWindow) override;
    void terminate() override;

    int isConnected(int index) override;
    int canConnect(int index) override;
    void connectPeer(int index) override;
    void disconnectPeer(int index) override;
    void requestHello(int index, int mode, const plat::SystemTime& date) override;

private:
    CA2AModelListener* m_listener;
    bool m_serverOnly;
    // Not owned: the process-wide instance, destroyed by terminate().
    CTcpA2AModel* m_model = nullptr;
};
