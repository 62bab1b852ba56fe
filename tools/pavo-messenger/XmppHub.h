#pragma once

#include "AccountConfig.h"
#include "Site.h"
#include "XmppConnection.h"
#include "XmppContacts.h"
#include "XmppPending.h"
#include "XmppRoster.h"
#include "XmppStanza.h"
#include "XmppStreams.h"

#include <QObject>

#include <functional>
#include <map>
#include <set>
#include <string>

// The hub of the account mode: the site's requests become XMPP traffic on the account's server
// and what the server delivers becomes the site's directory, contact list, streams and data.
// It is the glue between the site and the server connection: it routes the site's requests and
// the server's stanzas to the roster side (XmppRoster) and the stream side (XmppStreams), matches
// answers to the requests they answer, and hands the results to the site in order.
class XmppHub final : public HubLink, private XmppConnection::Listener
{
public:
    XmppHub(Site& site, const AccountConfig& account, XmppConnection::PasswordFetch password);
    ~XmppHub() override;

    void start();
    void send(const HubMsg& msg) override;

    // For the roster and stream sides.
    const std::string& own() const { return own_; }
    const std::string& bound() const { return bound_; }
    bool online() const { return online_; }
    const std::string& presence() const { return presence_; }
    const std::set<std::string>& apps() const { return apps_; }
    XmppStreams& streams() { return streams_; }
    void request(xs::Stanza iq, XmppPending pending);
    void reply(xs::Stanza stanza);
    // Forgets the requests whose answers no longer matter.
    void dropPending(const std::function<bool(const XmppPending&)>& which);
    // The roster's first answer after log-in: the client is on line.
    void wentOnline();
    // Hands work to the site on a later turn of the loop, in order: no effect of a request
    // reaches a program before the result of its command.
    void toSite(std::function<void()> work);
    void toSite(HubMsg msg);
    // A request of a program that cannot be carried out: an error notification to it.
    void refuse(const std::string& app, const std::string& why);

private:
    void connectionUp(const std::string& boundJid) override;
    void connectionDown() override;
    void stanzaIn(xmpp_stanza_t* stanza) override;

    void onRequest(xmpp_stanza_t* iq);
    void onAnswer(xmpp_stanza_t* iq);

    Site& site_;
    AccountConfig account_;
    XmppConnection conn_;
    XmppContacts contacts_;
    std::string bound_;
    std::string own_;
    std::string presence_;
    std::set<std::string> apps_;
    std::map<std::string, XmppPending> pending_;
    bool online_ = false;
    QObject context_;
    XmppRoster roster_;
    XmppStreams streams_;
};
