#pragma once

#include "transfer/TransferColumn.h"

#include <memory>

class CA2AModelListener;
class CPropatyHotLine;
class CTcpA2AModel;
class NodeContext;

// The "TCP" connections of the transfer coordinator, served by the TCP peer model it owns. A
// connection's address gives the host and port to dial; the peer is known by its node name.
class CTcpColumn : public TransferColumn
{
public:
    // The node's settings name the connections; its parts go to the peer model. serverOnly:
    // connections are never dialled, only accepted.
    CTcpColumn(NodeContext& node, CA2AModelListener& listener, bool serverOnly = false);
    ~CTcpColumn() override;

    // Builds the peer model (its 50 ms timer starts) with the listener registered.
    void initialise(plat::WindowHandle mainWindow) override;
    // Destroys the peer model with every connection.
    void terminate() override;

    int isConnected(int index) override;
    int canConnect(int index) override;
    void connectPeer(int index) override;
    void disconnectPeer(int index) override;
    void requestHello(int index, int mode, const plat::SystemTime& date) override;
    Rates rates(int index) override;

    // The peer model between initialise and terminate, otherwise nullptr.
    CTcpA2AModel* model() { return m_model.get(); }

private:
    NodeContext& m_node;
    CPropatyHotLine& m_settings;
    CA2AModelListener& m_listener;
    bool m_serverOnly;
    std::unique_ptr<CTcpA2AModel> m_model;
};
