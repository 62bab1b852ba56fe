#include "ClientSession.h"

#include "CommandRunner.h"
#include "MessengerLog.h"
#include "Site.h"
#include "platform/EventLoop.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QTimer>

namespace {
constexpr qint64 ReadChunk = 64 * 1024;
int g_sessionCount = 0;
} // namespace

ClientSession::ClientSession(Site& site, SiteUser& user, QLocalSocket* socket)
    : site_(site), user_(user), socket_(socket)
{
    name_ = user_.cfg.id + "#" + std::to_string(++g_sessionCount);
    MessengerLog::line(name_, "--", "program connected");
    QObject::connect(socket_, &QLocalSocket::readyRead, socket_, [this] { onReadyRead(); });
    QObject::connect(socket_, &QLocalSocket::disconnected, socket_,
                     [this] { close("program disconnected"); });
    QObject::connect(
        socket_, &QLocalSocket::errorOccurred, socket_, [this](QLocalSocket::LocalSocketError e) {
            close(e == QLocalSocket::PeerClosedError ? "program disconnected" : "socket error");
        });
    if (socket_->bytesAvailable() > 0)
        QTimer::singleShot(0, socket_, [this] { onReadyRead(); });
}

ClientSession::~ClientSession()
{
    QObject::disconnect(socket_, nullptr, nullptr, nullptr);
    socket_->abort();
    delete socket_;
}

void ClientSession::onReadyRead()
{
    char chunk[ReadChunk];
    while (!closing_ && socket_->bytesAvailable() > 0) {
        const qint64 n = socket_->read(chunk, ReadChunk);
        if (n <= 0)
            break;
        buffer_.insert(buffer_.end(), chunk, chunk + n);
        std::size_t used = 0;
        while (!closing_) {
            const auto r = ClientWire::parse(std::span(buffer_).subspan(used));
            if (r.status == ClientWire::Parse::NeedMore)
                break;
            if (r.status == ClientWire::Parse::Bad) {
                close("bad frame");
                return;
            }
            handle(r.frame);
            used += r.size;
        }
        buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(used));
    }
}

void ClientSession::handle(const ClientWire::Frame& frame)
{
    switch (frame.kind) {
    case ClientWire::Kind::Discover:
        MessengerLog::line(name_, "<-", "discover");
        discover();
        return;
    case ClientWire::Kind::Command: {
        MessengerLog::line(name_, "<- C", frame.text);
        std::uint32_t result = 0;
        if (attached_) {
            inCommand_ = true;
            result = CommandRunner::run(site_, *this, frame.text);
            inCommand_ = false;
        }
        send(ClientWire::encodeStatus(ClientWire::Kind::Result, result));
        MessengerLog::line(name_, "-> R", std::to_string(result));
        auto after = std::move(after_);
        after_.clear();
        for (const auto& text : after)
            notify(text);
        return;
    }
    case ClientWire::Kind::Attach:
    case ClientWire::Kind::Result:
    case ClientWire::Kind::Notification:
        MessengerLog::line(name_, "ignored", "a frame only the client sends");
        return;
    }
}

void ClientSession::discover()
{
    switch (user_.cfg.attach) {
    case AttachAnswer::Refuse:
        sendAttach(ClientWire::AttachPendingAuthorization);
        sendAttach(ClientWire::AttachRefused);
        return;
    case AttachAnswer::Unavailable:
        if (!user_.available) {
            sendAttach(ClientWire::AttachNotAvailable);
            toldUnavailable_ = true;
            user_.becomeAvailableLater();
            return;
        }
        break;
    case AttachAnswer::Accept:
        break;
    }
    if (attached_) {
        sendAttach(ClientWire::AttachSuccess);
        return;
    }
    sendAttach(ClientWire::AttachPendingAuthorization);
    if (user_.cfg.authoriseAfterMs <= 0) {
        attachNow();
    } else if (!authorising_) {
        authorising_ = true;
        QTimer::singleShot(plat::scaledMs(user_.cfg.authoriseAfterMs), socket_,
                           [this] { attachNow(); });
    }
}

void ClientSession::attachNow()
{
    authorising_ = false;
    if (closing_)
        return;
    attached_ = true;
    sendAttach(ClientWire::AttachSuccess);
    // What a desktop client tells a program as soon as it is attached.
    notify("CONNSTATUS ONLINE");
    notify("CURRENTUSERHANDLE " + user_.cfg.id);
    notify("USERSTATUS " + user_.cfg.presence);
}

void ClientSession::becameAvailable()
{
    if (!toldUnavailable_)
        return;
    toldUnavailable_ = false;
    sendAttach(ClientWire::AttachAvailable);
}

void ClientSession::notify(std::string_view text)
{
    const auto frame = ClientWire::encodeText(ClientWire::Kind::Notification, text);
    if (frame.empty())
        return;
    MessengerLog::line(name_, "-> N", text);
    send(frame);
}

void ClientSession::notifyAfter(std::string text)
{
    if (inCommand_)
        after_.push_back(std::move(text));
    else
        notify(text);
}

void ClientSession::sendAttach(std::uint32_t status)
{
    MessengerLog::line(name_, "-> A", std::to_string(status));
    send(ClientWire::encodeStatus(ClientWire::Kind::Attach, status));
}

void ClientSession::send(const std::vector<std::uint8_t>& frame)
{
    if (closing_)
        return;
    if (socket_->bytesToWrite() > MaxUnsent) {
        close("program does not read its notifications");
        return;
    }
    socket_->write(reinterpret_cast<const char*>(frame.data()), qint64(frame.size()));
}

void ClientSession::close(const char* why)
{
    if (closing_)
        return;
    closing_ = true;
    MessengerLog::line(name_, "--", why);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this] {
            site_.sessionClosed(this);
            delete this;
        },
        Qt::QueuedConnection);
}
