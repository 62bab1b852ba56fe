#include "transfer/CTcpColumn.h"

#include "app/CPropatyHotLine.h"
#include "platform/Diag.h"
#include "tcp/CTcpA2AModel.h"

CTcpColumn::~CTcpColumn()
{
    terminate();
}

void CTcpColumn::initialise(plat::WindowHandle mainWindow)
{
    m_model = CTcpA2AModel::instance();
    m_model->addListener(m_listener);
    m_model->setMainWindow(std::move(mainWindow));
}

void CTcpColumn::terminate()
{
    if (!m_model)
        return;
    m_model = nullptr;
    CTcpA2AModel::destroyInstance();
}

int CTcpColumn::isConnected(int index)
{
    CPropatyHotLine* s = CPropatyHotLine::instance();
    if (!m_model || !s)
        return 0;
    return m_model->isConnected(s->getConnectNodeName(index), s->getHostName(index));
}

int CTcpColumn::canConnect(int)
{
    return 1;
}

void CTcpColumn::connectPeer(int index)
{
    CPropatyHotLine* s = CPropatyHotLine::instance();
    if (m_serverOnly || !m_model || !s)
        return;
    plat::diag("CTransfer::connectPeer(TCP:%d)\r\n", index);
    m_model->connectPeer(s->getConnectNodeName(index), s->getHostName(index), s->getPort(index));
}

void CTcpColumn::disconnectPeer(int index)
{
    CPropatyHotLine* s = CPropatyHotLine::instance();
    if (m_model && s)
        m_model->disconnectPeer(s->getConnectNodeName(index), s->getHostName(index));
}

void CTcpColumn::requestHello(int index, int mode, const plat::SystemTime& date)
{
    CPropatyHotLine* s = CPropatyHotLine::instance();
    if (m_model && s)
        m_model->requestHello(s->getConnectNodeName(index), s->getHostName(index), mode, date);
}
