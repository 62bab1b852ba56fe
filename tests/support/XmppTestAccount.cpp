#include "support/XmppTestAccount.h"

#include <chrono>

namespace {
using Clock = std::chrono::steady_clock;
}

XmppTestAccount::XmppTestAccount(std::string jid, std::string password, int port,
                                 std::string caFile)
{
    xmpp_initialize();
    ctx_ = xmpp_ctx_new(nullptr, nullptr);
    conn_ = xmpp_conn_new(ctx_);
    xmpp_conn_set_flags(conn_, XMPP_CONN_FLAG_MANDATORY_TLS | XMPP_CONN_FLAG_DISABLE_SM);
    xmpp_conn_set_jid(conn_, jid.c_str());
    xmpp_conn_set_pass(conn_, password.c_str());
    xmpp_conn_set_cafile(conn_, caFile.c_str());
    xmpp_handler_add(conn_, &XmppTestAccount::onStanza, nullptr, nullptr, nullptr, this);
    if (xmpp_connect_client(conn_, "127.0.0.1", static_cast<unsigned short>(port),
                            &XmppTestAccount::onConnection, this) != XMPP_EOK)
        failed_ = true;
}

XmppTestAccount::~XmppTestAccount()
{
    if (up_) {
        xmpp_disconnect(conn_);
        for (int i = 0; i < 50 && up_; ++i)
            xmpp_run_once(ctx_, 10);
    }
    xmpp_conn_release(conn_);
    xmpp_ctx_free(ctx_);
    xmpp_shutdown();
}

bool XmppTestAccount::login(int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!up_ && !failed_ && Clock::now() < until)
        xmpp_run_once(ctx_, 20);
    return up_;
}

void XmppTestAccount::send(const std::string& xml)
{
    xmpp_send_raw(conn_, xml.data(), xml.size());
    pump(20);
}

void XmppTestAccount::pump(int ms)
{
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    do
        xmpp_run_once(ctx_, 10);
    while (Clock::now() < until);
}

std::optional<std::string> XmppTestAccount::waitFor(const std::vector<std::string>& parts,
                                                    int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (auto it = received.begin(); it != received.end(); ++it) {
            bool all = true;
            for (const auto& p : parts)
                all = all && it->find(p) != std::string::npos;
            if (all) {
                std::string text = *it;
                received.erase(it);
                return text;
            }
        }
        if (Clock::now() >= until || !up_)
            return std::nullopt;
        xmpp_run_once(ctx_, 20);
    }
}

std::string XmppTestAccount::base64(const std::string& bytes)
{
    xmpp_ctx_t* ctx = xmpp_ctx_new(nullptr, nullptr);
    char* text =
        xmpp_base64_encode(ctx, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    std::string out = text ? text : "";
    xmpp_free(ctx, text);
    xmpp_ctx_free(ctx);
    return out;
}

void XmppTestAccount::onConnection(xmpp_conn_t* conn, xmpp_conn_event_t event, int,
                                   xmpp_stream_error_t*, void* self)
{
    auto* a = static_cast<XmppTestAccount*>(self);
    if (event == XMPP_CONN_CONNECT) {
        a->up_ = true;
        const char* bound = xmpp_conn_get_bound_jid(conn);
        a->bound_ = bound ? bound : "";
    } else if (event != XMPP_CONN_RAW_CONNECT) {
        a->up_ = false;
        a->failed_ = true;
    }
}

int XmppTestAccount::onStanza(xmpp_conn_t*, xmpp_stanza_t* stanza, void* self)
{
    auto* a = static_cast<XmppTestAccount*>(self);
    char* text = nullptr;
    std::size_t length = 0;
    if (xmpp_stanza_to_text(stanza, &text, &length) == XMPP_EOK && text) {
        a->received.emplace_back(text, length);
        xmpp_free(a->ctx_, text);
    }
    return 1;
}
