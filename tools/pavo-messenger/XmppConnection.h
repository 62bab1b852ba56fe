#pragma once

#include <strophe.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

// The client's connection to its XMPP server through libstrophe, driven from the Qt event
// loop: always TLS (STARTTLS or direct) with the server certificate checked against the
// system's CAs plus an optional CA file, and SASL SCRAM only (an attempt to send the password
// any other way drops the connection before it leaves). A lost or failed connection is tried
// again with growing pauses; every failure is told on standard error in plain words.
class XmppConnection
{
public:
    struct Options
    {
        std::string jid;
        std::string server; // empty: the JID's domain
        int port = 0;       // 0: the default for the TLS mode
        bool directTls = false;
        std::string caFile;
    };
    // Fetches the password for each attempt: calls back with it, or with ok false and why.
    using PasswordFetch = std::function<void(
        std::function<void(bool ok, const std::string& password, const std::string& error)>)>;

    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void connectionUp(const std::string& boundJid) = 0;
        virtual void connectionDown() = 0;
        virtual void stanzaIn(xmpp_stanza_t* stanza) = 0;
    };

    XmppConnection(Options options, PasswordFetch password, Listener& listener);
    ~XmppConnection();
    XmppConnection(const XmppConnection&) = delete;
    XmppConnection& operator=(const XmppConnection&) = delete;

    void start();
    bool up() const { return up_; }
    xmpp_ctx_t* ctx() const { return ctx_; }
    // Queues the stanza; it is written on the next turn of the loop. Dropped when not up.
    void send(xmpp_stanza_t* stanza);
    std::string nextId(const char* prefix);

private:
    static void onLog(void* self, xmpp_log_level_t level, const char* area, const char* msg);
    static void onConnection(xmpp_conn_t* conn, xmpp_conn_event_t event, int error,
                             xmpp_stream_error_t* streamError, void* self);
    static int onStanza(xmpp_conn_t* conn, xmpp_stanza_t* stanza, void* self);
    static int onSocket(xmpp_conn_t* conn, void* sock);
    static int onCertificateFailure(const xmpp_tlscert_t* cert, const char* const error);

    void attempt();
    void connectWith(const std::string& password);
    void failed(const std::string& why);
    void scheduleRetry();
    void releaseConnection();
    void pump();
    void schedulePump();
    void watchSocket(int fd);
    void refreshNotifiers();

    Options options_;
    PasswordFetch password_;
    Listener& listener_;
    xmpp_log_t log_{};
    xmpp_ctx_t* ctx_ = nullptr;
    xmpp_conn_t* conn_ = nullptr;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> writable_;
    QObject context_;
    QTimer tick_;
    QTimer retry_;
    int backoffMs_ = 0;
    unsigned long ids_ = 0;
    bool up_ = false;
    bool pumping_ = false;
    bool pumpQueued_ = false;
    bool closing_ = false;
    // What went wrong during the current attempt, for the message.
    bool authFailed_ = false;
    bool weakMechanism_ = false;
    std::string weakMechanismSent_;
    std::string lastError_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
