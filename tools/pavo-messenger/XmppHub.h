#pragma once

#include "AccountConfig.h"
#include "IbbStream.h"
#include "Site.h"
#include "XmppConnection.h"
#include "XmppContacts.h"
#include "XmppStanza.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

// The hub of the account mode: the site's requests become XMPP traffic on the account's server
// and what the server delivers becomes the site's directory, contact list, streams and data.
//
// Presence: the programs' applications are advertised as service-discovery features; a mutual
// contact's resource is asked for them whenever it announces presence. Streams: In-Band
// Bytestreams over IQ stanzas toward a resource that advertises the application, the open
// element naming the application. Nothing is taken from anyone but a mutual contact, nor for
// an application no program of this client has created; a bad block closes its stream only.
class XmppHub final : public HubLink, private XmppConnection::Listener
{
public:
    // Block size this client asks for; it accepts up to MaxBlock from a peer.
    static constexpr std::size_t BlockSize = 4096;
    static constexpr std::size_t MaxBlock = 65535;

    XmppHub(Site& site, const AccountConfig& account, XmppConnection::PasswordFetch password);
    ~XmppHub() override;

    void start();
    void send(const HubMsg& msg) override;

private:
    struct Pending
    {
        enum class Kind
        {
            Roster,
            Disco,
            Open,
            Data,
            Close,
        };
        Kind kind;
        std::string to;
        int number = 0;
        std::uint16_t seq = 0;
    };

    void connectionUp(const std::string& boundJid) override;
    void connectionDown() override;
    void stanzaIn(xmpp_stanza_t* stanza) override;

    void onPresence(xmpp_stanza_t* stanza);
    void onRequest(xmpp_stanza_t* iq);
    void onAnswer(xmpp_stanza_t* iq);
    void onRoster(xmpp_stanza_t* query, bool full);
    void answerDisco(xmpp_stanza_t* iq, const std::string& fromBare);
    void onDiscoAnswer(const std::string& from, xmpp_stanza_t* iq);
    void onOpen(xmpp_stanza_t* iq, xmpp_stanza_t* open, const std::string& from);
    void onData(xmpp_stanza_t* iq, xmpp_stanza_t* data, const std::string& from);
    void onClose(xmpp_stanza_t* iq, xmpp_stanza_t* close, const std::string& from);
    void onStreamAnswer(const Pending& p, bool ok, xmpp_stanza_t* iq);

    void connect(const std::string& app, const std::string& peer);
    void write(int number, const std::string& data);
    void closeStream(int number, bool tellPeer, const std::string& why);
    void closeStreamsOf(const std::string& peer, const std::string& why);
    void flush(IbbStream& s);
    IbbStream* findStream(const std::string& peer, const std::string& sid);

    void refuse(const std::string& app, const std::string& why);
    void sendStreams(const std::string& app);
    void sendEntry(const std::string& bare);
    void sendContacts();
    void ensureSubscription(const std::string& bare);
    void presenceTo(const std::string& to, const char* type);
    void queuePresence();
    void announcePresence();
    void request(xs::Stanza iq, Pending pending);
    void reply(xs::Stanza stanza);
    // Hands work to the site on a later turn of the loop, in order: no effect of a request
    // reaches a program before the result of its command.
    void toSite(std::function<void()> work);
    void toSite(HubMsg msg);

    Site& site_;
    AccountConfig account_;
    XmppConnection conn_;
    XmppContacts contacts_;
    std::string bound_;
    std::string own_;
    std::string presence_;
    std::set<std::string> apps_;
    std::map<int, IbbStream> streams_;
    int nextNumber_ = 1;
    std::map<std::string, Pending> pending_;
    std::vector<std::string> sentContacts_;
    bool online_ = false;
    bool presenceQueued_ = false;
    QObject context_;
};
