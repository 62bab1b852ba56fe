#include "transfer/CTcpColumn.h"

#include "app/CPropatyHotLine.h"
#include "exchange/NodeContext.h"
#include "platform/Diag.h"
#include "tcp/CTcpA2AModel.h"

CTcpColumn::CTcpColumn(NodeContext& node, CA2AModelListener& listener, bool serverOnly)
    : m_node(node), m_settings(node.settings()), m_listener(listener), m_serverOnly(serverOnly)
{
}

CTcpColumn::~CTcpColumn()
{
    terminate();
}

void CTcpColumn::initialise(plat::WindowHandle mainWindow)
{
    if (m_model)
        return;
    m_model = std::make_unique<CTcpA2AModel>(m_node);
    m_model->addListener(&m_listener);
    m_model->setMainWindow(std::move(mainWindow));
}

void CTcpColumn::terminate()
{
    m_model.reset();
}

int CTcpColumn::isConnected(int index)
{
    if (!m_model)
        return 0;
    return m_model->isConnected(m_settings.getConnectNodeName(index),
                                m_settings.getHostName(index));
}

TransferColumn::Rates CTcpColumn::rates(int index)
{
    if (!m_model)
        return {};
    return sumOf(m_model->exchangesOf(m_settings.getConnectNodeName(index)));
}

int CTcpColumn::canConnect(int)
{
    return 1;
}

void CTcpColumn::connectPeer(int index)
{
    if (m_serverOnly || !m_model)
        return;
    plat::diag("CTransfer::connectPeer(TCP:%d)\r\n", index);
    m_model->connectPeer(m_settings.getConnectNodeName(index), m_settings.getHostName(index),
                         m_settings.getPort(index));
}

void CTcpColumn::disconnectPeer(int index)
{
    if (m_model)
        m_model->disconnectPeer(m_settings.getConnectNodeName(index),
                                m_settings.getHostName(index));
}

void CTcpColumn::requestHello(int index, int mode, const plat::SystemTime& date)
{
    if (m_model)
        m_model->requestHello(m_settings.getConnectNodeName(index), m_settings.getHostName(index),
                              mode, date);
}
