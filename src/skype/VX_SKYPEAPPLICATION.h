#pragma once

#include "platform/LocalTime.h"
#include "tcp/HandshakeFailureLog.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CExchange;

class CPropatyHotLine;
namespace plat {
class TlsContext;
}
class NodeContext;
class SkypeLink;
class VX_SKYPEAPPLICATIONLISTENER;
class VX_SKYPEMODEL;
class VX_SKYPESTREAM;

// One application registered with the messaging client under a name shared by every node of the
// party ("PAVO000" + party name), with one stream object per stream the client reports open. It
// follows the client's stream lists: a new stream from a configured Skype peer gets a stream
// object in the first free slot, one from anybody else is disconnected at once, and a stream
// the list no longer names is destroyed, leaving its slot free.
//
// Any call into the link may dispatch notifications that change the stream list, so a stream
// that goes is not freed at once: it is moved aside and destroyed on the next turn of the event
// loop, and code that walks the list re-reads it after every call out.
class VX_SKYPEAPPLICATION
{
public:
    static constexpr int APP_NONE = 0;
    static constexpr int APP_CREATED = 1;
    static constexpr int APP_CONNECTED = 2;
    // Each stream holds a send queue of over a megabyte; a client listing more streams than this
    // is not followed further (the extra ones are disconnected).
    static constexpr std::size_t kMaxStreams = 32;

    // The node's settings say which Skype IDs are configured peers, and their node names; the
    // streams work with the node's parts. node outlives the application.
    VX_SKYPEAPPLICATION(SkypeLink& link, VX_SKYPEMODEL* userModel, NodeContext& node);
    // Deletes the application at the client unless it is APP_NONE; destroys every stream, also
    // those retired and waiting for the next turn of the loop.
    ~VX_SKYPEAPPLICATION();
    VX_SKYPEAPPLICATION(const VX_SKYPEAPPLICATION&) = delete;
    VX_SKYPEAPPLICATION& operator=(const VX_SKYPEAPPLICATION&) = delete;

    // At most 99 bytes of name are kept; an empty name leaves the slot silent.
    void setName(std::string_view name, int index);
    const std::string& name() const { return m_name; }
    // Streams connected from now on are passive (VX_SKYPESTREAM::setPassive).
    void setPassive(bool passive) { m_passive = passive; }
    // Streams connected from now on speak TLS with the party key's context (nullptr: plain).
    // The end whose user ID sorts first starts each handshake, so the own ID must be known.
    void setTls(std::shared_ptr<const plat::TlsContext> context) { m_tls = std::move(context); }
    bool keyed() const { return m_tls != nullptr; }
    int index() const { return m_index; }
    int state() const { return m_state; }
    int pollCounter() const { return m_pollCounter; }
    void setPollCounter(int value) { m_pollCounter = value; }
    const std::string& createCommand() const { return m_createCommand; }
    const std::string& deleteCommand() const { return m_deleteCommand; }
    const std::string& connectTarget() const { return m_connectTarget; }

    void addListener(VX_SKYPEAPPLICATIONLISTENER* listener);

    void createApplication();
    void deleteApplication();
    void connect(std::string_view skypeId);
    int hasStream(std::string_view skypeId) const;
    void disconnectPeer(std::string_view skypeId);
    void requestHello(std::string_view skypeId, int mode, const plat::SystemTime& date);
    // The conversations of the streams with this peer.
    std::vector<const CExchange*> exchangesOf(std::string_view skypeId) const;

    // From the peer model.
    void onCreateEcho();
    void onDeleteEcho();
    void onAlterReply(std::string_view text);
    void onNotification(std::string_view text);
    // The link was lost: APP_NONE, every stream gone, listeners told.
    void reset();
    // Every stream's tick.
    void tickStreams();

    // The stream slots, an empty one holding nullptr.
    std::size_t slotCount() const { return m_streams.size(); }
    VX_SKYPESTREAM* stream(std::size_t slot) const;
    std::size_t streamCount() const;

private:
    void onStreams(std::string_view list);
    void onReceived(std::string_view list);
    // The client's word that its server limits its sending: said on the status line.
    void onSendLimit(std::string_view text);
    void addStream(const std::string& skypeId, int number);
    void disconnectItem(const std::string& skypeId, int number);
    // Moves the stream out of its slot; freed on the next turn of the loop.
    void retire(std::size_t slot);
    // Every stream retired; true when there was one.
    bool retireAll();
    void notifyListeners();

    struct Graveyard
    {
        std::vector<std::unique_ptr<VX_SKYPESTREAM>> dead;
        bool posted = false;
    };

    SkypeLink& m_link;
    NodeContext& m_node;
    CPropatyHotLine& m_settings;
    VX_SKYPEMODEL* m_userModel;
    int m_index = 0;
    std::string m_name;
    bool m_passive = false;
    std::shared_ptr<const plat::TlsContext> m_tls;
    // A contact retrying with another key is reported once a minute, not at every stream.
    tcp::HandshakeFailureLog m_handshakeFailures;
    std::string m_createCommand;
    std::string m_deleteCommand;
    std::string m_connectTarget;
    std::string m_command;
    int m_state = APP_NONE;
    int m_pollCounter = 0;
    std::vector<std::unique_ptr<VX_SKYPESTREAM>> m_streams;
    std::vector<VX_SKYPEAPPLICATIONLISTENER*> m_listeners;
    // Shared with the posted clean-up, so destroying the application first leaves it nothing
    // dangling.
    std::shared_ptr<Graveyard> m_graveyard;
    // Grows with every change of the stream list; a list walk that sees it change after a call
    // out stops, because a newer list has been applied meanwhile.
    unsigned m_generation = 0;
};
