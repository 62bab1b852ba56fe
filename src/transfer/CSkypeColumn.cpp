#include "transfer/CSkypeColumn.h"

#include "app/CPropatyHotLine.h"
#include "platform/Diag.h"
#include "skype/VX_A2AMODEL.h"
#include "skype/VX_SKYPEAPPLICATION.h"
#include "skype/VX_SKYPECOM.h"
#include "skype/VX_SKYPEMODEL.h"
#include "transfer/CTransfer.h"

namespace {

std::string applicationName(const std::string& partyName)
{
    return std::string(CSkypeColumn::kApplicationPrefix) + partyName;
}

} // namespace

CSkypeColumn::~CSkypeColumn()
{
    terminate();
}

void CSkypeColumn::initialise(plat::WindowHandle mainWindow)
{
    m_link = VX_SKYPECOM::instance();
    m_link->setLookForClient(m_options.messagingClient);
    m_link->addUser(this);
    m_model = VX_SKYPEMODEL::instance();
    m_model->addListener(this);
    m_peers = VX_A2AMODEL::instance();
    m_peers->addListener(&m_transfer);
    m_peers->setPassive(m_options.passive);
    CPropatyHotLine* s = CPropatyHotLine::instance();
    m_peers->setApplicationName(applicationName(s ? s->getPartyName() : std::string()));
    m_link->openWindow(std::move(mainWindow));
}

void CSkypeColumn::terminate()
{
    if (!m_link)
        return;
    // Cleared first: deleting the application at the client may report a lost link, which must
    // not reach objects that are going.
    m_peers = nullptr;
    m_model = nullptr;
    VX_A2AMODEL::destroyInstance();
    VX_SKYPEMODEL::destroyInstance();
    m_link->removeUser(this);
    m_link = nullptr;
    VX_SKYPECOM::destroyInstance();
}

std::string CSkypeColumn::skypeIdOf(int index) const
{
    CPropatyHotLine* s = CPropatyHotLine::instance();
    return s ? s->getSkypeId(index) : std::string();
}

int CSkypeColumn::isConnected(int index)
{
    return m_peers ? m_peers->application().hasStream(skypeIdOf(index)) : 0;
}

int CSkypeColumn::canConnect(int index)
{
    return m_model ? m_model->isConnectable(skypeIdOf(index)) : 0;
}

void CSkypeColumn::connectPeer(int index)
{
    plat::diag("CTransfer::connectPeer(SkYPE:%d)\r\n", index);
    const std::string id = skypeIdOf(index);
    if (m_peers && !m_peers->application().hasStream(id))
        m_peers->application().connect(id);
}

void CSkypeColumn::disconnectPeer(int index)
{
    const std::string id = skypeIdOf(index);
    if (m_peers && m_peers->application().hasStream(id))
        m_peers->application().disconnectPeer(id);
}

void CSkypeColumn::requestHello(int index, int mode, const plat::SystemTime& date)
{
    const std::string id = skypeIdOf(index);
    if (m_peers && m_peers->application().hasStream(id))
        m_peers->application().requestHello(id, mode, date);
}

void CSkypeColumn::changePartyName(const std::string& partyName)
{
    if (!m_peers)
        return;
    m_peers->deleteApplications();
    m_peers->setApplicationName(applicationName(partyName));
    m_peers->createApplications();
}

void CSkypeColumn::onAttachState(int state)
{
    m_transfer.notifySkypeLinkChanged();
    if (state != VX_SKYPECOM::LINK_DETACHED)
        return;
    if (m_peers)
        m_peers->reset();
    if (m_model)
        m_model->reset();
}

void CSkypeColumn::onModelChanged()
{
    m_transfer.notifyModelChanged();
}
