#pragma once

#include "platform/EventLoop.h"
#include "platform/LiveInstance.h"
#include "skype/VX_SKYPEAPPLICATIONLISTENER.h"
#include "skype/VX_SKYPECOMUSER.h"
#include "tcp/HandshakeFailureLog.h"

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CA2AModelListener;
class NodeContext;
class SkypeLink;
class VX_SKYPEAPPLICATION;
class VX_SKYPEMODEL;

// The node's peers through the messaging client: five application slots (slot 0 is the one in
// use, named after the party; the others stay unnamed and silent), the routing of the client's
// application replies and notifications to them, and one 100 ms timer that ticks every stream
// and every 30 s asks the client which contacts can connect. Its listeners hear of every change
// of the stream set.
class VX_A2AMODEL : public VX_SKYPECOMUSER, public VX_SKYPEAPPLICATIONLISTENER
{
public:
    static constexpr int kSlots = 5;
    static constexpr int kTickMs = 100;
    static constexpr int kPollTicks = 300;

    // The node's peer model while it lives (the last one built), or nullptr; never creates one.
    static VX_A2AMODEL* instance();

    // Registers itself with link and with every slot, and starts the 100 ms timer. The slots'
    // applications admit the Skype IDs that the node's settings configure, and their streams work
    // with the node's parts. node outlives the model.
    VX_A2AMODEL(SkypeLink& link, VX_SKYPEMODEL& userModel, NodeContext& node);
    // Stops the timer and destroys the slots, each deleting its application at the client.
    ~VX_A2AMODEL() override;
    VX_A2AMODEL(const VX_A2AMODEL&) = delete;
    VX_A2AMODEL& operator=(const VX_A2AMODEL&) = delete;

    void addListener(CA2AModelListener* listener);
    VX_SKYPEAPPLICATION& application(int slot = 0);

    // Slot 0's application name (at most 99 bytes kept), index 0.
    void setApplicationName(std::string_view name);
    // The application a configured contact runs when its node has no party key while this one
    // has one, or the other way round. It is asked for along with the connectable contacts
    // (a question the client answers from what it knows, without the server), and a configured
    // contact found there and not on the own application is reported: its key does not match.
    // Empty: nothing is asked.
    void setMismatchProbe(std::string name) { m_probe = std::move(name); }
    // Passive ("-PASV"): the streams of every slot start no exchange of their own.
    void setPassive(bool passive);
    void createApplications();
    void deleteApplications();
    // The link was lost: every slot back to APP_NONE without streams.
    void reset();
    // Every 100 ms.
    void tick();

    // VX_SKYPECOMUSER
    void onAttachState(int state) override;
    void onApplication(std::string_view text) override;
    // VX_SKYPEAPPLICATIONLISTENER
    void onStreamsChanged() override;

private:
    VX_SKYPEAPPLICATION* slotNamed(std::string_view name);
    void onProbeAnswer(std::string_view text);

    SkypeLink& m_link;
    NodeContext& m_node;
    VX_SKYPEMODEL& m_userModel;
    std::string m_probe;
    tcp::HandshakeFailureLog m_mismatches;
    int m_linkState = 0;
    std::array<std::unique_ptr<VX_SKYPEAPPLICATION>, kSlots> m_slots;
    std::vector<CA2AModelListener*> m_listeners;
    // Set while the destructor deletes the applications: echoes that arrive then are not
    // followed.
    bool m_closing = false;
    plat::TimerSet m_timer;
    plat::LiveInstance<VX_A2AMODEL> m_live{this};
};
