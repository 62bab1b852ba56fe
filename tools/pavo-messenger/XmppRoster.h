#pragma once

#include "XmppStanza.h"

#include <QObject>

#include <set>
#include <string>
#include <vector>

class XmppConnection;
class XmppContacts;
class XmppHub;

// The roster and presence side of the account mode: subscriptions both ways with the listed
// contacts (nobody else), the contacts' resources and the applications they advertise as
// service-discovery features, and the own presence with the own applications. What changes
// goes to the site as directory entries and contact lists.
class XmppRoster
{
public:
    XmppRoster(XmppHub& hub, XmppConnection& conn, XmppContacts& contacts);

    // The full roster (after log-in) or a roster push.
    void onRoster(xmpp_stanza_t* query, bool full);
    void onPresence(xmpp_stanza_t* stanza);
    void answerDisco(xmpp_stanza_t* iq, const std::string& fromBare);
    void onDiscoAnswer(const std::string& from, xmpp_stanza_t* iq);

    // The own presence word and applications changed: announced on a later turn of the loop.
    void queuePresence();

private:
    void announcePresence();
    void ensureSubscription(const std::string& bare);
    void presenceTo(const std::string& to, const char* type);
    void sendEntry(const std::string& bare);
    void sendContacts();

    XmppHub& hub_;
    XmppConnection& conn_;
    XmppContacts& contacts_;
    std::vector<std::string> sentContacts_;
    bool presenceQueued_ = false;
    QObject context_;
};
