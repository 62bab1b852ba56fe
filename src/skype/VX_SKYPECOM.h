#pragma once

#include "platform/EventLoop.h"
#include "platform/LiveInstance.h"
#include "platform/LocalSocket.h"
#include "skype/ClientWire.h"
#include "skype/SkypeLink.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class VX_SKYPECOMUSER;

// The one link between the node and the desktop messaging client. The client listens on a
// Unix-domain socket in the user's runtime folder; discovery is a connect to it followed by a
// discover frame, repeated every 5 s (timer 1) while no client has attached and the link looks for
// one. The link keeps the attach state, sends text commands and waits for their answers, and hands
// every reply and notification of the attached client to its users.
//
// Commands are synchronous: sendCommand returns only when the client has answered. Replies that
// the client sends while it handles a command are dispatched to the users before the answer is
// returned, as nested messages; a user may send further commands from there. Results come in the
// order the commands were sent, so each waiting command takes the oldest result that arrives.
//
// A lost client (the socket closed, a bad frame, a command refused or unanswered) becomes
// LINK_DETACHED at once, every user is told, and discovery resumes on the next timer tick.
class VX_SKYPECOM : public SkypeLink
{
public:
    static constexpr int LINK_DETACHED = 0;
    static constexpr int LINK_ATTACHED = 1;
    static constexpr int LINK_PENDING = 2;
    static constexpr int LINK_REFUSED = 3;
    static constexpr int LINK_NOT_AVAILABLE = 4;
    static constexpr int LINK_AVAILABLE = 0x8001;

    static constexpr int kDiscoverTimer = 1;
    static constexpr int kDiscoverMs = 5000;
    // Real time, not scaled: a client that has not answered a command by then is taken as lost.
    static constexpr int kCommandTimeoutMs = 10000;
    // Replies nested deeper than this wait until the outermost handler has returned.
    static constexpr int kMaxNesting = 8;

    // The node's link while it lives (the last one built), or nullptr; never creates one.
    static VX_SKYPECOM* instance();
    // <runtime folder>/pavo-skype/client.sock.
    static std::string defaultEndpoint();

    // The text the main window shows for a link state; nullptr when the text is to stay as it
    // was (LINK_NOT_AVAILABLE, LINK_AVAILABLE, anything unknown).
    static const char* stateText(int state);

    explicit VX_SKYPECOM(std::string endpointPath = defaultEndpoint());
    ~VX_SKYPECOM() override;
    VX_SKYPECOM(const VX_SKYPECOM&) = delete;
    VX_SKYPECOM& operator=(const VX_SKYPECOM&) = delete;

    // SkypeLink
    void addUser(VX_SKYPECOMUSER* user) override;
    void removeUser(VX_SKYPECOMUSER* user) override;
    int sendCommand(std::string_view text) override;
    int linkState() const override { return m_linkState; }

    // Off ("-NOSKYPE"): the link never looks for the client, so it stays detached.
    void setLookForClient(bool on) { m_lookForClient = on; }
    // Starts the discovery timer and, when it looks for the client, looks at once.
    void openWindow(plat::WindowHandle owner);
    bool attached() const { return m_attached; }
    const std::string& endpointPath() const { return m_endpoint; }

private:
    struct Pending
    {
        bool done = false;
        std::uint32_t result = 0;
    };
    struct Incoming
    {
        ClientWire::Kind kind = ClientWire::Kind::Discover;
        std::uint32_t status = 0;
        std::string text;
    };

    void onTimer();
    void discover();
    void onReadable();
    // Reads what the socket holds; false when the connection ended.
    bool readSome();
    // Takes the next whole frame off the buffer; false when none is complete (or the stream
    // went bad, which loses the client).
    bool takeFrame(Incoming& out);
    // Handles the whole frames left in the buffer from the event loop (after a command).
    void postBufferedFrames();
    void handleFrame(Incoming& frame);
    void onAttach(std::uint32_t status);
    void deliver(std::string text);
    void drainBacklog();
    void dispatchText(std::string_view text);
    // The connection ended or cannot be trusted.
    void connectionLost(const char* why);
    // Forget the client: state LINK_DETACHED, every waiting command answered 0, users told.
    void loseClient();
    // State LINK_DETACHED, users told.
    void forgetState();
    void tellUsers();

    std::string m_endpoint;
    plat::WindowHandle m_owner;
    std::vector<VX_SKYPECOMUSER*> m_users;
    int m_linkState = LINK_DETACHED;
    bool m_attached = false;
    bool m_lookForClient = true;
    bool m_windowOpen = false;

    plat::LocalSocket m_socket;
    std::vector<std::uint8_t> m_in;
    std::size_t m_inCount = 0;
    // Commands waiting for their results, oldest first (each lives on its sender's stack).
    std::deque<Pending*> m_pending;
    int m_depth = 0;
    std::deque<std::string> m_backlog;
    std::size_t m_backlogBytes = 0;
    bool m_drainPosted = false;
    bool m_framesPosted = false;
    // Posted work checks this, so a link destroyed in between is not touched.
    std::shared_ptr<int> m_life = std::make_shared<int>(0);
    plat::TimerSet m_timer;
    plat::LiveInstance<VX_SKYPECOM> m_live{this};
};
