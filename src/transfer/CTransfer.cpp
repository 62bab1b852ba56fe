#include "transfer/CTransfer.h"

#include "app/CPropatyHotLine.h"
#include "app/VX_EVENTCATALOG.h"
#include "app/VX_EVENTLOG.h"
#include "exchange/NodeContext.h"
#include "skype/VX_SKYPECOM.h"
#include "skype/VX_SKYPEMODEL.h"
#include "tcp/CTcpA2AModel.h"
#include "transfer/CSkypeColumn.h"
#include "transfer/CTcpColumn.h"
#include "transfer/CTransferListener.h"

namespace {

// Listeners may register further listeners from inside a call; they are called from the next
// event on.
template <class Call> void forEach(const std::vector<CTransferListener*>& listeners, Call call)
{
    const std::vector<CTransferListener*> snapshot = listeners;
    for (CTransferListener* l : snapshot)
        call(l);
}

} // namespace

CTransfer::CTransfer(NodeContext& node, VX_EVENTLOG& log, VX_EVENTCATALOG& catalogEvents,
                     const NodeOptions& options)
    : m_settings(node.settings()), m_skype(std::make_unique<CSkypeColumn>(*this, node, options)),
      m_tcp(std::make_unique<CTcpColumn>(node, *this, options.serverOnly))
{
    log.addListener(this);
    catalogEvents.addListener(this);
}

CTransfer::~CTransfer()
{
    terminate();
}

void CTransfer::addListener(CTransferListener* listener)
{
    m_listeners.push_back(listener);
}

void CTransfer::initialise(plat::WindowHandle mainWindow)
{
    m_terminated = false;
    m_skype->initialise(mainWindow);
    m_tcp->initialise(mainWindow);
}

void CTransfer::changePartyName(const std::string& partyName)
{
    m_skype->changePartyName(partyName);
    m_tcp->changePartyName(partyName);
}

TransferColumn* CTransfer::columnFor(int index)
{
    if (index < 0 || index >= m_settings.getConnectCount())
        return nullptr;
    const std::string method = m_settings.getConnectMethod(index);
    if (method == "TCP")
        return m_tcp.get();
    if (method == "SKYPE")
        return m_skype.get();
    return nullptr;
}

int CTransfer::isConnected(int index)
{
    TransferColumn* c = columnFor(index);
    return c ? c->isConnected(index) : 0;
}

int CTransfer::canConnect(int index)
{
    TransferColumn* c = columnFor(index);
    return c ? c->canConnect(index) : 0;
}

void CTransfer::connectPeer(int index)
{
    if (TransferColumn* c = columnFor(index))
        c->connectPeer(index);
}

void CTransfer::disconnectPeer(int index)
{
    if (TransferColumn* c = columnFor(index))
        c->disconnectPeer(index);
}

void CTransfer::requestHello(int index, int mode, const plat::SystemTime& date)
{
    if (TransferColumn* c = columnFor(index))
        c->requestHello(index, mode, date);
}

TransferColumn::Rates CTransfer::rates(int index)
{
    TransferColumn* c = columnFor(index);
    return c ? c->rates(index) : TransferColumn::Rates{};
}

void CTransfer::terminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    m_listeners.clear();
    m_tcp->terminate();
    m_skype->terminate();
}

void CTransfer::onConnectionChanged()
{
    forEach(m_listeners, [](CTransferListener* l) { l->onConnectionChanged(); });
    int connected = 0;
    const int count = m_settings.getConnectCount();
    for (int i = 0; i < count; ++i)
        if (isConnected(i) != 0)
            ++connected;
    const int any = connected > 0 ? 1 : 0;
    forEach(m_listeners, [any](CTransferListener* l) { l->onAnyConnected(any); });
}

void CTransfer::onEventLog(int a, int b)
{
    forEach(m_listeners, [=](CTransferListener* l) { l->onEventLog(a, b); });
}

void CTransfer::entryAdded(const catalog::CatalogRecord& record)
{
    forEach(m_listeners, [&](CTransferListener* l) { l->entryAdded(record); });
}

void CTransfer::entryChanged(int index, const catalog::CatalogRecord& record)
{
    forEach(m_listeners, [&](CTransferListener* l) { l->entryChanged(index, record); });
}

void CTransfer::listReset()
{
    forEach(m_listeners, [](CTransferListener* l) { l->listReset(); });
}

void CTransfer::listRefilled()
{
    forEach(m_listeners, [](CTransferListener* l) { l->listRefilled(); });
}

void CTransfer::notifySkypeLinkChanged()
{
    forEach(m_listeners, [](CTransferListener* l) { l->onSkypeLinkChanged(); });
}

void CTransfer::notifyModelChanged()
{
    forEach(m_listeners, [](CTransferListener* l) { l->onModelChanged(); });
}

void CTransfer::setListening(bool on)
{
    CTcpA2AModel* model = m_tcp->model();
    if (!model)
        return;
    if (on)
        model->goOnline();
    else
        model->goOffline();
}

int CTransfer::messagingLinkState()
{
    const VX_SKYPECOM* link = m_skype->link();
    return link ? link->linkState() : VX_SKYPECOM::LINK_DETACHED;
}

bool CTransfer::messagingClientLinked()
{
    return messagingLinkState() == VX_SKYPECOM::LINK_ATTACHED;
}

std::string CTransfer::ownSkypeId()
{
    const VX_SKYPEMODEL* model = m_skype->userModel();
    return model ? model->ownSkypeId() : std::string();
}

std::vector<std::string> CTransfer::skypeContacts()
{
    std::vector<std::string> ids;
    if (const VX_SKYPEMODEL* model = m_skype->userModel())
        for (const SkypeContact& contact : model->contacts())
            ids.push_back(contact.name);
    return ids;
}
