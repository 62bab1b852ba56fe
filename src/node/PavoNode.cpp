#include "node/PavoNode.h"

#include "app/WindowMessages.h"
#include "catalog/CCatalog.h"
#include "control/ControlService.h"
#include "platform/Diag.h"
#include "platform/Files.h"
#include "watch/CFolderWatch.h"
#include "watch/SealingCatalog.h"
#include "watch/SendFolderTrigger.h"

#include <cstdio>

PavoNode::PavoNode(const std::string& workingFolder, const NodeOptions& options)
    : m_options(options), m_window([this](const plat::WindowMessage& m) { onWindowMessage(m); }),
      // The channels and the notice poster first: every later part may use them while it is
      // built and taken down.
      m_notices(std::make_unique<CPostError>()), m_logEvents(std::make_unique<VX_EVENTLOG>()),
      m_catalogEvents(std::make_unique<VX_EVENTCATALOG>()),
      // The settings object (creates SEND, RECV and CATALOG); off-line until setOnline.
      m_settings(workingFolder), m_context(m_settings, m_catalogEvents.get(), m_notices.get()),
      m_transfer(m_context, *m_logEvents, *m_catalogEvents, options),
      // Routes of the party's files are looked up in this node's catalog.
      m_nodeInfo(m_settings,
                 [this](const std::string& origin, const std::string& file) {
                     CatalogRecord entry;
                     if (m_catalog && m_catalog->hasEntry(origin, file, &entry))
                         return std::optional<CatalogRecord>(entry);
                     return std::optional<CatalogRecord>();
                 }),
      m_publishTimer([this](int) { publishNodeInfo(); }), m_periodic(*this)
{
    m_notices->setWindow(m_window.handle());
    m_catalogEvents->addListener(&m_rates);
    m_settings.setOnline(false);
    m_settings.load();
    loadIdentity(workingFolder);

    // Transports: the Skype link, user model and peer model with the party's application, then
    // the TCP peer model with its 50 ms poll. Nothing listens before setOnline.
    m_transfer.initialise(m_window.handle());
    if (options.control) {
        m_control = std::make_unique<ControlService>(*this, m_rates);
        m_transfer.addListener(&m_control->events());
    }

    // The catalog: its cache file is loaded and every entry announced on the catalog channel;
    // from then on the connections find it in the context. "-CATALOGCASH" writes the file only
    // when the catalog is destroyed.
    m_catalog = std::make_unique<CCatalog>(m_context, !options.catalogCacheAtShutdown);
    m_catalog->setContentCheck(m_served.get());
    m_trust->setEntryLookup([this](const CatalogRecord& r) {
        CatalogRecord entry;
        if (m_catalog && m_catalog->hasEntry(r.originNodeUtf8(), r.fileNameUtf8(), &entry))
            return std::optional<CatalogRecord>(entry);
        return std::optional<CatalogRecord>();
    });
    m_catalog->setDeletionSealer(
        [this](const CatalogRecord& deletion, const CatalogRecord& registration) {
            m_trust->sealDeletion(deletion, registration);
        });

    // The folder watch over SEND: its remembered list, a pass at every 11th heartbeat and half a
    // second after the folder changes.
    m_watchCatalog = std::make_unique<SealingCatalog>(*m_catalog, *m_trust, m_hasher, *m_served);
    m_folderWatch = std::make_unique<CFolderWatch>(*m_watchCatalog, m_settings);
    m_folderWatch->setNotice([this](const std::string& text) { notice(text); });
    m_folderWatch->setFolder(m_settings.getSendFolder());
    m_folderWatch->load();
    m_sendTrigger = std::make_unique<SendFolderTrigger>(m_settings.getSendFolder(), [this] {
        if (m_folderWatch)
            m_folderWatch->scan();
    });

    // The node information: the own contact keys, the own file published (the folder watch
    // registers it like any file) and the party's list read; again every 30 s.
    m_nodeInfo.loadOwnInfo();
    m_nodeList = m_nodeInfo.refresh();
    checkNodeKeys();
    m_publishTimer.set(kPublishTimer, kPublishPeriodMs);

    // Timers 101, 102 and 107.
    m_periodic.start();
    startControl();
}

// Last: a command arriving from now on finds every part built.
void PavoNode::startControl()
{
    if (!m_control)
        return;
    std::string why;
    if (m_control->start(&why)) {
        plat::diag("control socket: %s\n", m_control->path().c_str());
        return;
    }
    // The service stays (its events have nobody to go to) as the coordinator's listener.
    std::fprintf(stderr, "pavo: no command line for this node: %s\n", why.c_str());
}

std::string PavoNode::controlPath() const
{
    return m_control && m_control->listening() ? m_control->path() : std::string();
}

void PavoNode::notifyStateChanged()
{
    if (m_display)
        m_display->stateChanged();
}

PavoNode::~PavoNode()
{
    shutdown();
}

const char* PavoNode::refusalText(OnlineRefusal refusal)
{
    switch (refusal) {
    case OnlineRefusal::NoNodeName:
        return "ノード名が未設定です。ノード名を設定してください。";
    case OnlineRefusal::NoPartyName:
        return "パーティ名が未設定です。パーティ名を設定してください。";
    case OnlineRefusal::NoConnection:
        return "接続先の設定がありません。接続先を1つ以上設定してください。";
    case OnlineRefusal::None:
        break;
    }
    return nullptr;
}

PavoNode::OnlineRefusal PavoNode::setOnline(bool online)
{
    OnlineRefusal refusal = OnlineRefusal::None;
    if (online) {
        if (m_settings.nodeName().empty())
            refusal = OnlineRefusal::NoNodeName;
        else if (m_settings.partyName().empty())
            refusal = OnlineRefusal::NoPartyName;
        else if (m_settings.getConnectCount() == 0)
            refusal = OnlineRefusal::NoConnection;
    }
    // A node that is refused, or shut down, stays off-line and must not listen.
    m_online = online && refusal == OnlineRefusal::None && !m_shutDown;
    m_settings.setOnline(m_online);
    if (m_online && !m_listening) {
        m_listening = true;
        if (!m_options.clientOnly)
            m_transfer.setListening(true);
    } else if (!m_online && m_listening) {
        m_listening = false;
        m_transfer.setListening(false);
    }
    return refusal;
}

void PavoNode::disconnectAll(bool onlyConnected)
{
    const int count = m_settings.getConnectCount();
    for (int i = 0; i < count; ++i)
        if (!onlyConnected || m_transfer.isConnected(i) == 1)
            m_transfer.disconnectPeer(i);
}

void PavoNode::suspend()
{
    if (m_suspended)
        return;
    m_suspended = true;
    m_onlineBeforeSuspend = m_online;
    m_online = false;
    m_settings.setOnline(false);
    disconnectAll(true);
}

void PavoNode::resume()
{
    if (!m_suspended)
        return;
    m_suspended = false;
    m_online = m_onlineBeforeSuspend && !m_shutDown;
    m_settings.setOnline(m_online);
}

void PavoNode::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    // Nobody drives a node that is going.
    if (m_control)
        m_control->stop();
    // Off-line for the settings only: the listener goes with the transports below.
    m_online = false;
    m_settings.setOnline(false);
    m_publishTimer.kill(kPublishTimer);
    m_periodic.stop();
    disconnectAll(false);
    m_transfer.terminate();
    m_control.reset(); // the coordinator no longer calls its listeners
    m_listening = false;
    m_settings.save();
    m_sendTrigger.reset();
    m_folderWatch.reset();
    // Files still being hashed are registered before the catalog goes: the folder watch has
    // remembered them and would not report them again.
    if (m_watchCatalog)
        m_watchCatalog->finishPending();
    m_watchCatalog.reset();
    m_catalog.reset();
    m_context.setTrust(nullptr);
    m_context.setCatalogEvents(nullptr);
    m_context.setNotices(nullptr);
    m_catalogEvents.reset();
    m_logEvents.reset();
    m_notices.reset();
}

void PavoNode::publishNodeInfo()
{
    if (m_shutDown)
        return;
    m_nodeList = m_nodeInfo.refresh();
    checkNodeKeys();
    if (m_display)
        m_display->nodeListChanged(m_nodeList);
}

void PavoNode::loadIdentity(const std::string& workingFolder)
{
    m_identity = NodeKeyStore(m_settings.iniFileName(), workingFolder).loadOrCreate();
    if (!m_identity.key)
        std::fprintf(stderr, "pavo: %s; this node signs nothing it registers\n",
                     m_identity.problem.c_str());
    else
        m_nodeInfo.own().publicKey = m_identity.key->publicKey();
    m_nodeInfo.own().keyState = m_identity.key ? CNodeInfo::KEY_PINNED : CNodeInfo::KEY_NONE;
    const std::string catalogFolder = plat::joinPath(workingFolder, "CATALOG");
    m_pins = std::make_unique<NodeKeyPins>(plat::joinPath(catalogFolder, NodeKeyPins::kFileName));
    m_seals = std::make_unique<SealStore>(plat::joinPath(catalogFolder, SealStore::kFileName));
    m_trust = std::make_unique<RecordTrust>(
        *m_seals, [this] { return m_settings.getNodeName(); }, identity(), m_pins.get());
    m_context.setTrust(m_trust.get());
    m_served = std::make_unique<ServedContent>(*m_trust, m_hasher);
    m_served->setNotice([this](const std::string& text) { notice(text); });
}

// Every other node's published key is pinned when it is the first seen for that name, and a
// different one is refused and said until the user accepts it.
void PavoNode::checkNodeKeys()
{
    for (std::size_t i = 1; i < m_nodeList.size(); ++i) {
        CNodeInfo& info = m_nodeList[i];
        if (!info.publicKey)
            continue;
        const NodeKeyPins::Verdict verdict = m_pins->check(info.nodeName, *info.publicKey);
        info.keyState = verdict == NodeKeyPins::Verdict::Changed    ? CNodeInfo::KEY_CHANGED
                        : verdict == NodeKeyPins::Verdict::Unusable ? CNodeInfo::KEY_NONE
                                                                    : CNodeInfo::KEY_PINNED;
    }
    const std::vector<std::string> changed = m_pins->changed();
    for (const std::string& name : changed)
        plat::diag("PavoNode: node %s publishes another identity key than the pinned one\n",
                   name.c_str());
    if (!changed.empty() && m_display)
        m_display->nodeKeysChanged(changed);
}

bool PavoNode::acceptNodeKey(const std::string& node)
{
    if (!m_pins->accept(node))
        return false;
    for (CNodeInfo& info : m_nodeList)
        if (info.nodeName == node && info.keyState == CNodeInfo::KEY_CHANGED)
            info.keyState = CNodeInfo::KEY_PINNED;
    return true;
}

void PavoNode::onWindowMessage(const plat::WindowMessage& message)
{
    if (message.msg == WM_POSTERROR && m_display)
        m_display->postError(message.wparam, message.lparam);
}

void PavoNode::notice(const std::string& text)
{
    if (m_display)
        m_display->notice(text);
}

void PavoNode::refreshLists()
{
    if (m_display)
        m_display->refreshLists();
}

void PavoNode::refreshTray()
{
    if (m_display)
        m_display->refreshTray();
}

void PavoNode::scanSendFolder()
{
    if (m_folderWatch)
        m_folderWatch->scan();
}

void PavoNode::renamePendingFile(const std::string& oldName, const std::string& newName)
{
    if (m_catalog)
        m_catalog->renamePendingFile(oldName, newName);
}

void PavoNode::maintainCatalog()
{
    if (m_catalog)
        m_catalog->maintainHourly();
}

void PavoNode::purgeCatalog()
{
    if (m_catalog)
        m_catalog->purge();
}
