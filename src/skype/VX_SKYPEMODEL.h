#pragma once

#include "platform/LiveInstance.h"
#include "skype/VX_SKYPECOMUSER.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class MODELLISTENER;
class SkypeLink;

// One contact of the messaging client's user.
struct SkypeContact
{
    std::string name;
    int presence = 1; // SKYPE_OFFLINE or SKYPE_ONLINE
    // Per application slot of the Skype peer model: 1 when the client listed the contact as able
    // to connect to that slot's application.
    std::array<int, 5> connectable{};
};

// What the node knows of the messaging client's user and that user's contacts: the own Skype
// ID and presence, the contacts in the client's order with their presence, and which of them run
// the node's application (connectable). Built purely from the client's replies: every attach
// rebuilds it ("SEARCH FRIENDS", then a presence query per contact, then the own ID) and a
// detach empties it.
class VX_SKYPEMODEL : public VX_SKYPECOMUSER
{
public:
    static constexpr int SKYPE_OFFLINE = 1;
    static constexpr int SKYPE_ONLINE = 2;
    // Names are kept in 32-byte fields; a longer name is not taken.
    static constexpr std::size_t kMaxName = 32;
    // A contact list longer than this is cut: each contact costs a query to the client.
    static constexpr std::size_t kMaxContacts = 1024;
    static constexpr int kSlots = 5;

    // The node's user model while it lives (the last one built), or nullptr; never creates one.
    static VX_SKYPEMODEL* instance();

    // Registers itself as a user of link.
    explicit VX_SKYPEMODEL(SkypeLink& link);
    ~VX_SKYPEMODEL() override;
    VX_SKYPEMODEL(const VX_SKYPEMODEL&) = delete;
    VX_SKYPEMODEL& operator=(const VX_SKYPEMODEL&) = delete;

    void addListener(MODELLISTENER* listener);

    const std::vector<SkypeContact>& contacts() const { return m_contacts; }
    const std::string& ownSkypeId() const { return m_ownSkypeId; }
    int ownPresence() const { return m_ownPresence; }
    int linkState() const { return m_linkState; }

    // The flag of slot index for every contact, from a blank-separated list of Skype IDs.
    void setConnectable(int index, std::string_view text);
    // 1 when a contact of exactly that name may connect to the application of slot 0.
    int isConnectable(std::string_view skypeId) const;
    // The link was lost: everything forgotten, listeners told.
    void reset();

    // VX_SKYPECOMUSER
    void onAttachState(int state) override;
    void onCurrentUserHandle(std::string_view text) override;
    void onUserStatus(std::string_view text) override;
    void onUsers(std::string_view text) override;
    void onUser(std::string_view text) override;

private:
    SkypeContact* find(std::string_view name);
    bool add(std::string_view name);
    void notifyListeners();

    SkypeLink& m_link;
    int m_linkState = 0;
    int m_ownPresence = SKYPE_OFFLINE;
    std::string m_ownSkypeId;
    std::vector<SkypeContact> m_contacts;
    std::vector<MODELLISTENER*> m_listeners;
    plat::LiveInstance<VX_SKYPEMODEL> m_live{this};
};
