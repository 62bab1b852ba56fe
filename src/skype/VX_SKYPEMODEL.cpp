#include "skype/VX_SKYPEMODEL.h"

#include "app/ShellUtil.h"
#include "platform/Diag.h"
#include "skype/MODELLISTENER.h"
#include "skype/SkypeText.h"
#include "skype/VX_SKYPECOM.h"

#include <optional>

namespace {

bool offlineWord(std::string_view word)
{
    return skype::startsWith(word, "OFFLINE") || skype::startsWith(word, "UNKNOWN");
}

} // namespace

VX_SKYPEMODEL* VX_SKYPEMODEL::instance()
{
    return plat::LiveInstance<VX_SKYPEMODEL>::get();
}

VX_SKYPEMODEL::VX_SKYPEMODEL(SkypeLink& link) : m_link(link)
{
    m_link.addUser(this);
}

VX_SKYPEMODEL::~VX_SKYPEMODEL()
{
    m_link.removeUser(this);
}

void VX_SKYPEMODEL::addListener(MODELLISTENER* listener)
{
    if (listener)
        m_listeners.push_back(listener);
}

void VX_SKYPEMODEL::notifyListeners()
{
    for (std::size_t i = 0; i < m_listeners.size(); ++i)
        m_listeners[i]->onModelChanged();
}

SkypeContact* VX_SKYPEMODEL::find(std::string_view name)
{
    for (SkypeContact& c : m_contacts) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

bool VX_SKYPEMODEL::add(std::string_view name)
{
    // A name that could not stand in a command would make the client refuse the presence query,
    // and a refused command counts as a lost client.
    if (!skype::validSkypeId(name) || name.size() > kMaxName || m_contacts.size() >= kMaxContacts) {
        plat::diag("VX_SKYPEMODEL: contact of %zu bytes not taken\n", name.size());
        return false;
    }
    SkypeContact c;
    c.name = std::string(name);
    m_contacts.push_back(std::move(c));
    return true;
}

void VX_SKYPEMODEL::setConnectable(int index, std::string_view text)
{
    if (index < 0 || index >= kSlots)
        return;
    const auto slot = static_cast<std::size_t>(index);
    for (SkypeContact& c : m_contacts)
        c.connectable[slot] = 0;
    std::string id;
    std::optional<std::string_view> rest = text;
    while (rest) {
        rest = nextToken(*rest, id, "");
        if (id.empty())
            continue;
        for (SkypeContact& c : m_contacts) {
            if (c.name == id)
                c.connectable[slot] = 1;
        }
    }
}

int VX_SKYPEMODEL::isConnectable(std::string_view skypeId) const
{
    for (const SkypeContact& c : m_contacts) {
        if (c.name == skypeId && c.connectable[0] == 1)
            return 1;
    }
    return 0;
}

void VX_SKYPEMODEL::reset()
{
    m_linkState = 0;
    m_ownPresence = SKYPE_OFFLINE;
    m_ownSkypeId.clear();
    m_contacts.clear();
    notifyListeners();
}

void VX_SKYPEMODEL::onAttachState(int state)
{
    m_linkState = state;
    if (state == VX_SKYPECOM::LINK_ATTACHED)
        m_link.sendCommand("SEARCH FRIENDS");
}

void VX_SKYPEMODEL::onCurrentUserHandle(std::string_view text)
{
    std::string id;
    nextToken(text, id, "");
    m_ownSkypeId = id.substr(0, kMaxName);
}

void VX_SKYPEMODEL::onUserStatus(std::string_view text)
{
    std::string word;
    nextToken(text, word, nullptr);
    const bool offline = offlineWord(word) || skype::startsWith(word, "LOGEDOUT");
    m_ownPresence = offline ? SKYPE_OFFLINE : SKYPE_ONLINE;
}

void VX_SKYPEMODEL::onUsers(std::string_view text)
{
    m_contacts.clear();
    std::string name;
    std::optional<std::string_view> rest = text;
    while (rest) {
        rest = nextToken(*rest, name, ",");
        // An empty item (an empty list, or ",,") names nobody: no contact and no query for it.
        if (!name.empty())
            add(name);
    }
    notifyListeners();
    // By index, and each name copied: a lost link empties the list from inside a command.
    for (std::size_t i = 0; i < m_contacts.size(); ++i) {
        const std::string command = "GET USER " + m_contacts[i].name + " ONLINESTATUS";
        m_link.sendCommand(command);
    }
    m_link.sendCommand("GET CURRENTUSERHANDLE");
}

void VX_SKYPEMODEL::onUser(std::string_view text)
{
    std::string name;
    std::string property;
    std::string value;
    std::optional<std::string_view> rest = nextToken(text, name, " ");
    if (!rest)
        return;
    rest = nextToken(*rest, property, nullptr);
    if (!rest)
        return;
    nextToken(*rest, value, nullptr);
    if (skype::startsWith(property, "ONLINESTATUS")) {
        if (name == m_ownSkypeId)
            return;
        if (SkypeContact* c = find(name))
            c->presence = offlineWord(value) ? SKYPE_OFFLINE : SKYPE_ONLINE;
        return;
    }
    if (skype::startsWith(property, "BUDDYSTATUS") && skype::startsWith(value, "3") && !find(name))
        add(name);
}
