#include "XmppConnection.h"

#include "MessengerLog.h"
#include "platform/EventLoop.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>

namespace {

constexpr int FirstRetryMs = 1000;
constexpr int LastRetryMs = 60000;
// libstrophe reads at most 4 KiB per turn and TLS may hold decrypted data the socket no longer
// shows: the loop is turned until the socket is empty and a TLS record's worth more, and a short
// tick catches anything else.
constexpr int TurnsPerPump = 256;
constexpr int QuietTurns = 6;
constexpr int TickMs = 20;

// libstrophe's certificate-failure callback carries no user pointer; one connection per process.
XmppConnection* g_current = nullptr;
std::string g_certificateError;

std::string mechanismOf(std::string_view sentAuth)
{
    const std::string_view key = "mechanism=\"";
    const std::size_t at = sentAuth.find(key);
    if (at == std::string_view::npos)
        return {};
    const std::string_view rest = sentAuth.substr(at + key.size());
    return std::string(rest.substr(0, rest.find('"')));
}

} // namespace

XmppConnection::XmppConnection(Options options, PasswordFetch password, Listener& listener)
    : options_(std::move(options)), password_(std::move(password)), listener_(listener)
{
    g_current = this;
    xmpp_initialize();
    log_.handler = &XmppConnection::onLog;
    log_.userdata = this;
    ctx_ = xmpp_ctx_new(nullptr, &log_);
    tick_.setInterval(TickMs);
    QObject::connect(&tick_, &QTimer::timeout, &context_, [this] { pump(); });
    retry_.setSingleShot(true);
    QObject::connect(&retry_, &QTimer::timeout, &context_, [this] { attempt(); });
}

XmppConnection::~XmppConnection()
{
    closing_ = true;
    retry_.stop();
    if (conn_ && !xmpp_conn_is_disconnected(conn_)) {
        xmpp_disconnect(conn_);
        for (int i = 0; i < 50 && !xmpp_conn_is_disconnected(conn_); ++i)
            xmpp_run_once(ctx_, 10);
    }
    releaseConnection();
    xmpp_ctx_free(ctx_);
    xmpp_shutdown();
    g_current = nullptr;
}

void XmppConnection::start()
{
    attempt();
}

void XmppConnection::attempt()
{
    if (closing_ || conn_)
        return;
    authFailed_ = false;
    weakMechanism_ = false;
    weakMechanismSent_.clear();
    g_certificateError.clear();
    lastError_.clear();
    std::weak_ptr<int> alive = alive_;
    password_([this, alive](bool ok, const std::string& password, const std::string& error) {
        if (alive.expired() || closing_)
            return;
        if (!ok) {
            std::fprintf(stderr, "pavo-messenger: %s\n", error.c_str());
            scheduleRetry();
            return;
        }
        connectWith(password);
    });
}

void XmppConnection::connectWith(const std::string& password)
{
    conn_ = xmpp_conn_new(ctx_);
    long flags = XMPP_CONN_FLAG_MANDATORY_TLS | XMPP_CONN_FLAG_DISABLE_SM;
    if (options_.directTls)
        flags |= XMPP_CONN_FLAG_LEGACY_SSL;
    xmpp_conn_set_flags(conn_, flags);
    xmpp_conn_set_jid(conn_, options_.jid.c_str());
    xmpp_conn_set_pass(conn_, password.c_str());
    if (!options_.caFile.empty())
        xmpp_conn_set_cafile(conn_, options_.caFile.c_str());
    xmpp_conn_set_certfail_handler(conn_, &XmppConnection::onCertificateFailure);
    xmpp_conn_set_sockopt_callback(conn_, &XmppConnection::onSocket);
    xmpp_handler_add(conn_, &XmppConnection::onStanza, nullptr, nullptr, nullptr, this);
    const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
    if (xmpp_connect_client(conn_, server, static_cast<unsigned short>(options_.port),
                            &XmppConnection::onConnection, this) != XMPP_EOK) {
        failed("cannot connect to " + (options_.server.empty() ? options_.jid : options_.server) +
               (lastError_.empty() ? "" : " (" + lastError_ + ")"));
        return;
    }
    tick_.start();
    schedulePump();
}

void XmppConnection::failed(const std::string& why)
{
    const int next = std::min(backoffMs_ ? backoffMs_ * 2 : FirstRetryMs, LastRetryMs);
    std::fprintf(stderr, "pavo-messenger: %s; trying again in %d s\n", why.c_str(), next / 1000);
    std::fflush(stderr);
    QTimer::singleShot(0, &context_, [this] {
        releaseConnection();
        scheduleRetry();
    });
}

void XmppConnection::scheduleRetry()
{
    if (closing_)
        return;
    backoffMs_ = std::min(backoffMs_ ? backoffMs_ * 2 : FirstRetryMs, LastRetryMs);
    retry_.start(plat::scaledMs(backoffMs_));
}

void XmppConnection::releaseConnection()
{
    tick_.stop();
    readable_.reset();
    writable_.reset();
    fd_ = -1;
    if (conn_) {
        xmpp_conn_release(conn_);
        conn_ = nullptr;
    }
}

void XmppConnection::send(xmpp_stanza_t* stanza)
{
    if (!up_ || !conn_)
        return;
    xmpp_send(conn_, stanza);
    schedulePump();
}

std::string XmppConnection::nextId(const char* prefix)
{
    return std::string(prefix) + std::to_string(++ids_);
}

void XmppConnection::pump()
{
    if (!ctx_ || pumping_)
        return;
    pumping_ = true;
    // Each turn reads at most 4 KiB. Once the socket holds nothing more, what TLS may still
    // hold decrypted (a record is at most 16 KiB) takes a few more turns.
    int quiet = 0;
    for (int i = 0; i < TurnsPerPump && quiet < QuietTurns; ++i) {
        xmpp_run_once(ctx_, 0);
        pollfd p{fd_, POLLIN, 0};
        quiet = fd_ >= 0 && ::poll(&p, 1, 0) > 0 ? 0 : quiet + 1;
    }
    pumping_ = false;
    refreshNotifiers();
}

void XmppConnection::schedulePump()
{
    if (pumpQueued_)
        return;
    pumpQueued_ = true;
    QTimer::singleShot(0, &context_, [this] {
        pumpQueued_ = false;
        pump();
    });
}

void XmppConnection::watchSocket(int fd)
{
    readable_.reset();
    writable_.reset();
    fd_ = fd;
    readable_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    writable_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(readable_.get(), &QSocketNotifier::activated, &context_, [this] { pump(); });
    QObject::connect(writable_.get(), &QSocketNotifier::activated, &context_, [this] { pump(); });
}

void XmppConnection::refreshNotifiers()
{
    if (!conn_ || !writable_)
        return;
    writable_->setEnabled(xmpp_conn_is_connecting(conn_) || xmpp_conn_send_queue_len(conn_) > 0);
}

void XmppConnection::onLog(void* self, xmpp_log_level_t level, const char* area, const char* msg)
{
    auto* c = static_cast<XmppConnection*>(self);
    const std::string_view text(msg ? msg : "");
    const bool secret = text.starts_with("SENT: <auth") || text.starts_with("SENT: <response");
    // libstrophe logs what it received before it acts on it: a mechanism list (over TLS)
    // without SCRAM, or a refused sign-in, ends the socket before the library could answer
    // with a weaker mechanism and the password.
    const bool features =
        text.starts_with("RECV: <features") || text.starts_with("RECV: <stream:features");
    if (features && c->conn_ && xmpp_conn_is_secured(c->conn_) &&
        text.find("<mechanisms") != std::string_view::npos &&
        text.find("<mechanism>SCRAM-") == std::string_view::npos) {
        c->weakMechanism_ = true;
        if (c->fd_ >= 0)
            ::shutdown(c->fd_, SHUT_RDWR);
    } else if (text.starts_with("RECV: <failure") &&
               text.find("xmpp-sasl") != std::string_view::npos) {
        c->authFailed_ = true;
        if (c->fd_ >= 0)
            ::shutdown(c->fd_, SHUT_RDWR);
    } else if (text.starts_with("SENT: <auth") && !mechanismOf(text).starts_with("SCRAM-")) {
        c->weakMechanismSent_ = mechanismOf(text);
        if (c->fd_ >= 0)
            ::shutdown(c->fd_, SHUT_RDWR);
    } else if (level == XMPP_LEVEL_DEBUG && text.find("auth failed") != std::string_view::npos) {
        c->authFailed_ = true;
    } else if (level >= XMPP_LEVEL_WARN) {
        c->lastError_ = std::string(area ? area : "") + ": " + std::string(text);
    }
    if (MessengerLog::enabled() && !secret)
        MessengerLog::line("xmpp", area ? area : "", text);
}

void XmppConnection::onConnection(xmpp_conn_t* conn, xmpp_conn_event_t event, int error,
                                  xmpp_stream_error_t* streamError, void* self)
{
    auto* c = static_cast<XmppConnection*>(self);
    if (event == XMPP_CONN_RAW_CONNECT)
        return;
    if (event == XMPP_CONN_CONNECT) {
        c->up_ = true;
        c->backoffMs_ = 0;
        const char* bound = xmpp_conn_get_bound_jid(conn);
        const std::string jid = bound ? bound : c->options_.jid;
        std::printf("pavo-messenger: logged in as %s\n", jid.c_str());
        std::fflush(stdout);
        if (!c->closing_)
            c->listener_.connectionUp(jid);
        return;
    }
    const bool wasUp = c->up_;
    c->up_ = false;
    // libstrophe has closed the socket already.
    if (c->readable_)
        c->readable_->setEnabled(false);
    if (c->writable_)
        c->writable_->setEnabled(false);
    if (c->closing_)
        return;
    if (wasUp)
        c->listener_.connectionDown();
    std::string why;
    const std::string& who = c->options_.jid;
    if (!c->weakMechanismSent_.empty())
        why = "the connection of " + who + " signed in with " + c->weakMechanismSent_ +
              " instead of SCRAM (connection closed)";
    else if (c->weakMechanism_)
        why = "the server of " + who +
              " offers no SCRAM sign-in; the password was not sent (connection closed)";
    else if (c->authFailed_)
        why = "authentication failed for " + who + ": the server refused the password";
    else if (!g_certificateError.empty())
        why = "the server certificate for " + who + " is not trusted (" + g_certificateError +
              "); name its CA in ca-file if the server is your own";
    else if (wasUp)
        why = "lost the server connection of " + who +
              (streamError ? std::string(" (the server closed the stream: ") +
                                 (streamError->text ? streamError->text : "stream error") + ")"
                           : std::string());
    else if (streamError)
        why = "the server closed the stream of " + who + " (" +
              (streamError->text ? streamError->text : "stream error") + ")";
    else if (c->lastError_.find("known methods") != std::string::npos)
        why = "the server of " + who + " accepts no sign-in this client uses (SCRAM)";
    else
        why = "cannot log in " + who +
              (error ? std::string(": ") + std::strerror(error)
                     : (c->lastError_.empty() ? std::string(": the server does not answer")
                                              : " (" + c->lastError_ + ")"));
    c->failed(why);
}

int XmppConnection::onStanza(xmpp_conn_t*, xmpp_stanza_t* stanza, void* self)
{
    auto* c = static_cast<XmppConnection*>(self);
    if (!c->closing_ && c->up_)
        c->listener_.stanzaIn(stanza);
    return 1;
}

int XmppConnection::onSocket(xmpp_conn_t* conn, void* sock)
{
    const int fd = *static_cast<int*>(sock);
    if (g_current)
        g_current->watchSocket(fd);
    // Acknowledgements are small and pace the streams: they must not wait for more to send.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return xmpp_sockopt_cb_keepalive(conn, sock);
}

int XmppConnection::onCertificateFailure(const xmpp_tlscert_t*, const char* const error)
{
    g_certificateError = error ? error : "verification failed";
    return 0;
}
