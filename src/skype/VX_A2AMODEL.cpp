#include "skype/VX_A2AMODEL.h"

#include "app/CA2AModelListener.h"
#include "app/CPropatyHotLine.h"
#include "app/ShellUtil.h"
#include "exchange/NodeContext.h"
#include "platform/Diag.h"
#include "skype/SkypeLink.h"
#include "skype/SkypeText.h"
#include "skype/VX_SKYPEAPPLICATION.h"
#include "skype/VX_SKYPECOM.h"
#include "skype/VX_SKYPEMODEL.h"

#include <optional>
#include <string>

namespace {

// Stored commands are compared over at most this many bytes, the size of their buffers.
constexpr std::size_t kCommandBytes = 1024;

bool sameCommand(std::string_view a, std::string_view b)
{
    return !a.empty() && a.substr(0, kCommandBytes) == b.substr(0, kCommandBytes);
}

} // namespace

VX_A2AMODEL* VX_A2AMODEL::instance()
{
    return plat::LiveInstance<VX_A2AMODEL>::get();
}

VX_A2AMODEL::VX_A2AMODEL(SkypeLink& link, VX_SKYPEMODEL& userModel, NodeContext& node)
    : m_link(link), m_node(node), m_userModel(userModel), m_timer([this](int) { tick(); })
{
    for (auto& slot : m_slots) {
        slot = std::make_unique<VX_SKYPEAPPLICATION>(link, &userModel, node);
        slot->addListener(this);
    }
    m_link.addUser(this);
    m_timer.set(1, kTickMs);
}

VX_A2AMODEL::~VX_A2AMODEL()
{
    m_timer.kill(1);
    m_closing = true;
    for (auto& slot : m_slots)
        slot.reset();
    m_link.removeUser(this);
}

void VX_A2AMODEL::addListener(CA2AModelListener* listener)
{
    if (listener)
        m_listeners.push_back(listener);
}

VX_SKYPEAPPLICATION& VX_A2AMODEL::application(int slot)
{
    return *m_slots[static_cast<std::size_t>(slot >= 0 && slot < kSlots ? slot : 0)];
}

void VX_A2AMODEL::setApplicationName(std::string_view name)
{
    m_slots[0]->setName(name, 0);
}

void VX_A2AMODEL::setPassive(bool passive)
{
    for (auto& slot : m_slots)
        slot->setPassive(passive);
}

void VX_A2AMODEL::createApplications()
{
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i] && !m_slots[i]->name().empty())
            m_slots[i]->createApplication();
    }
}

void VX_A2AMODEL::deleteApplications()
{
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i] && !m_slots[i]->name().empty())
            m_slots[i]->deleteApplication();
    }
}

void VX_A2AMODEL::reset()
{
    for (auto& slot : m_slots) {
        if (slot)
            slot->reset();
    }
}

void VX_A2AMODEL::tick()
{
    for (auto& slot : m_slots) {
        if (!slot)
            continue;
        slot->tickStreams();
        if (slot->pollCounter() < kPollTicks) {
            slot->setPollCounter(slot->pollCounter() + 1);
            continue;
        }
        slot->setPollCounter(0);
        if (slot->state() == VX_SKYPEAPPLICATION::APP_NONE)
            continue;
        m_link.sendCommand("GET APPLICATION " + slot->name() + " CONNECTABLE");
        if (slot == m_slots[0] && !m_probe.empty())
            m_link.sendCommand("GET APPLICATION " + m_probe + " CONNECTABLE");
    }
}

void VX_A2AMODEL::onProbeAnswer(std::string_view text)
{
    std::string word;
    std::optional<std::string_view> rest = nextToken(text, word, nullptr);
    if (word != "CONNECTABLE" || !rest)
        return;
    CPropatyHotLine& settings = m_node.settings();
    std::string id;
    while (rest && !rest->empty()) {
        rest = nextToken(*rest, id, " ");
        if (id.empty() || settings.isConnectSkypeId(id) == 0 || m_userModel.isConnectable(id))
            continue;
        plat::diag("VX_A2AMODEL: %s runs %s, not this node's application\n", id.c_str(),
                   m_probe.c_str());
        if (m_mismatches.shouldReport(id))
            m_node.postDetail("SKYPE接続 " +
                              settings.findConnectNodeName(CPropatyHotLine::kMethodSkype, id) +
                              " (" + id + ") のパーティ鍵が一致しません.接続しません.");
    }
}

void VX_A2AMODEL::onAttachState(int state)
{
    if (m_closing)
        return;
    m_linkState = state;
    if (state == VX_SKYPECOM::LINK_ATTACHED)
        createApplications();
}

VX_SKYPEAPPLICATION* VX_A2AMODEL::slotNamed(std::string_view name)
{
    for (auto& slot : m_slots) {
        if (slot && !slot->name().empty() && slot->name() == name.substr(0, skype::kMaxIdBytes))
            return slot.get();
    }
    return nullptr;
}

void VX_A2AMODEL::onApplication(std::string_view text)
{
    if (m_closing)
        return;
    std::string word;
    std::optional<std::string_view> rest = nextToken(text, word, nullptr);
    if (word == "CREATE" || word == "DELETE") {
        const bool create = word == "CREATE";
        for (auto& slot : m_slots) {
            if (!slot)
                continue;
            if (sameCommand(create ? slot->createCommand() : slot->deleteCommand(), text)) {
                if (create)
                    slot->onCreateEcho();
                else
                    slot->onDeleteEcho();
                return;
            }
        }
        return;
    }
    const bool alter = word == "ALTER";
    if (alter) {
        if (!rest)
            return;
        rest = nextToken(*rest, word, nullptr);
        if (word != "APPLICATION")
            return;
    } else if (word != "APPLICATION") {
        return;
    }
    if (!rest)
        return;
    std::string name;
    rest = nextToken(*rest, name, " ");
    if (!alter && rest && !m_probe.empty() && name == m_probe) {
        onProbeAnswer(*rest);
        return;
    }
    VX_SKYPEAPPLICATION* slot = slotNamed(name);
    if (!rest || !slot)
        return;
    if (alter)
        slot->onAlterReply(*rest);
    else
        slot->onNotification(*rest);
}

void VX_A2AMODEL::onStreamsChanged()
{
    for (std::size_t i = 0; i < m_listeners.size(); ++i)
        m_listeners[i]->onConnectionChanged();
}
