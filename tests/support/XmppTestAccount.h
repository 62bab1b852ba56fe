#pragma once

#include <strophe.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// An XMPP account driven by a test through libstrophe, to play a contact that sends whatever
// the test scripts, well-formed XML that the server passes on but that need not make sense.
// Its loop turns only while the test waits on it.
class XmppTestAccount
{
public:
    XmppTestAccount(std::string jid, std::string password, int port, std::string caFile);
    ~XmppTestAccount();
    XmppTestAccount(const XmppTestAccount&) = delete;
    XmppTestAccount& operator=(const XmppTestAccount&) = delete;

    bool login(int timeoutMs = 10000);
    const std::string& boundJid() const { return bound_; }
    // Sends the XML text as it is.
    void send(const std::string& xml);
    // Turns the loop until a received stanza's text contains every one of parts (then takes
    // it out of what was received) or timeoutMs passes.
    std::optional<std::string> waitFor(const std::vector<std::string>& parts,
                                       int timeoutMs = 10000);
    void pump(int ms);
    std::vector<std::string> received;

    static std::string base64(const std::string& bytes);

private:
    static void onConnection(xmpp_conn_t* conn, xmpp_conn_event_t event, int error,
                             xmpp_stream_error_t* streamError, void* self);
    static int onStanza(xmpp_conn_t* conn, xmpp_stanza_t* stanza, void* self);

    xmpp_ctx_t* ctx_ = nullptr;
    xmpp_conn_t* conn_ = nullptr;
    std::string bound_;
    bool up_ = false;
    bool failed_ = false;
};
