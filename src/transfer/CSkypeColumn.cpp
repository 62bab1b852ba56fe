#include "transfer/CSkypeColumn.h"

#include "app/CPropatyHotLine.h"
#include "exchange/NodeContext.h"
#include "platform/Diag.h"
#include "platform/TlsContext.h"
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

CSkypeColumn::CSkypeColumn(CTransfer& transfer, NodeContext& node, const NodeOptions& options)
    : m_transfer(transfer), m_node(node), m_settings(node.settings()), m_options(options)
{
}

CSkypeColumn::~CSkypeColumn()
{
    terminate();
}

void CSkypeColumn::initialise(plat::WindowHandle mainWindow)
{
    if (m_link)
        return;
    m_link = std::make_unique<VX_SKYPECOM>();
    m_link->setLookForClient(m_options.messagingClient);
    m_link->addUser(this);
    m_model = std::make_unique<VX_SKYPEMODEL>(*m_link);
    m_model->addListener(this);
    m_peers = std::make_unique<VX_A2AMODEL>(*m_link, *m_model, m_node);
    m_peers->addListener(&m_transfer);
    m_peers->setPassive(m_options.passive);
    nameApplication(m_settings.getPartyName());
    m_link->openWindow(std::move(mainWindow));
}

void CSkypeColumn::terminate()
{
    if (!m_link)
        return;
    // Taken out of the members first: deleting the application at the client may report a lost
    // link, which must not reach objects that are going.
    std::unique_ptr<VX_A2AMODEL> peers = std::move(m_peers);
    std::unique_ptr<VX_SKYPEMODEL> model = std::move(m_model);
    peers.reset();
    model.reset();
    m_link->removeUser(this);
    m_link.reset();
}

std::string CSkypeColumn::skypeIdOf(int index) const
{
    return m_settings.getSkypeId(index);
}

int CSkypeColumn::isConnected(int index)
{
    return m_peers ? m_peers->application().hasStream(skypeIdOf(index)) : 0;
}

TransferColumn::Rates CSkypeColumn::rates(int index)
{
    return m_peers ? sumOf(m_peers->application().exchangesOf(skypeIdOf(index))) : Rates{};
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
    nameApplication(partyName);
    m_peers->createApplications();
}

void CSkypeColumn::nameApplication(const std::string& partyName)
{
    const PartyKeyStore::Loaded& key = m_settings.partyKey();
    std::shared_ptr<plat::TlsContext> tls;
    std::string error = key.problem;
    if (key.key)
        tls = plat::TlsContext::create(*key.key, &error);
    if (key.state == PartyKeyStore::State::Missing || (key.key && !tls)) {
        plat::diag("CSkypeColumn: party key unusable (%s); no SKYPE connections\n", error.c_str());
        m_node.postDetail("パーティ鍵を読み出せません.システム設定で合言葉を入れ直すまでSKYPE接続は"
                          "しません.");
        m_peers->setApplicationName("");
        m_peers->application().setTls(nullptr);
        m_peers->setMismatchProbe("");
        return;
    }
    m_peers->application().setTls(tls);
    m_peers->setApplicationName(tls ? std::string(kKeyedApplication) : applicationName(partyName));
    m_peers->setMismatchProbe(tls ? applicationName(partyName) : std::string(kKeyedApplication));
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
