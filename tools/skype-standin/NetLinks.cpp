#include "NetLinks.h"

#include "StandinLog.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <cstdio>

namespace {
constexpr qint64 ReadChunk = 64 * 1024;
constexpr qint64 MaxUnsent = 256 << 20;
constexpr int RetryMs = 1000;

void logMsg(std::string_view who, std::string_view dir, const NetMsg& msg)
{
    if (!StandinLog::enabled())
        return;
    std::string text(1, char(msg.type));
    for (const auto& f : msg.fields)
        text += " " + f;
    StandinLog::line(who, dir, text);
}
} // namespace

LocalLink::LocalLink(Site& site, Network& network) : site_(site), network_(network)
{
    toNetwork_.owner = this;
    toSite_.owner = this;
}

void LocalLink::start()
{
    network_.join(&toSite_);
    site_.hubUp(&toNetwork_);
}

void LocalLink::ToNetwork::send(const NetMsg& msg)
{
    QMetaObject::invokeMethod(
        &owner->context_, [o = owner, msg] { o->network_.receive(&o->toSite_, msg); },
        Qt::QueuedConnection);
}

void LocalLink::ToSite::send(const NetMsg& msg)
{
    QMetaObject::invokeMethod(
        &owner->context_, [o = owner, msg] { o->site_.fromHub(msg); }, Qt::QueuedConnection);
}

bool NetReader::read(QTcpSocket& socket, const std::function<void(const NetMsg&)>& onMessage)
{
    char chunk[ReadChunk];
    while (socket.bytesAvailable() > 0) {
        const qint64 n = socket.read(chunk, ReadChunk);
        if (n <= 0)
            break;
        buffer_.insert(buffer_.end(), chunk, chunk + n);
        std::size_t used = 0;
        for (;;) {
            auto r = NetWire::parse(std::span(buffer_).subspan(used));
            if (r.status == ClientWire::Parse::NeedMore)
                break;
            if (r.status == ClientWire::Parse::Bad)
                return false;
            used += r.size;
            onMessage(r.msg);
        }
        buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(used));
    }
    return true;
}

void sendNetMsg(QTcpSocket& socket, const NetMsg& msg)
{
    if (socket.state() != QAbstractSocket::ConnectedState)
        return;
    if (socket.bytesToWrite() > MaxUnsent) {
        std::fprintf(stderr, "skype-standin: a linked stand-in stopped reading; dropping it\n");
        // Closed on a later turn: the caller may be walking the network's tables.
        QMetaObject::invokeMethod(&socket, &QTcpSocket::abort, Qt::QueuedConnection);
        return;
    }
    const auto bytes = NetWire::encode(msg);
    socket.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

class NetServer::RemoteSite final : public SiteLink
{
public:
    RemoteSite(NetServer& server, QTcpSocket* socket) : server_(server), socket_(socket)
    {
        name_ = socket_->peerAddress().toString().toStdString() + ":" +
                std::to_string(socket_->peerPort());
        socket_->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] {
            const bool ok = reader_.read(*socket_, [this](const NetMsg& msg) {
                logMsg(name_, "<<", msg);
                if (!gone_)
                    server_.network_.receive(this, msg);
            });
            if (!ok)
                end("sent a bad message");
        });
        QObject::connect(socket_, &QTcpSocket::disconnected, socket_, [this] { end("left"); });
        QObject::connect(
            socket_, &QTcpSocket::errorOccurred, socket_, [this](QAbstractSocket::SocketError e) {
                end(e == QAbstractSocket::RemoteHostClosedError ? "left" : "link failed");
            });
    }
    ~RemoteSite() override
    {
        QObject::disconnect(socket_, nullptr, nullptr, nullptr);
        socket_->abort();
        delete socket_;
    }

    void send(const NetMsg& msg) override
    {
        logMsg(name_, ">>", msg);
        sendNetMsg(*socket_, msg);
    }
    std::string linkName() const override { return name_; }

private:
    void end(const char* why)
    {
        if (gone_)
            return;
        gone_ = true;
        std::fprintf(stderr, "skype-standin: stand-in %s %s\n", name_.c_str(), why);
        server_.network_.leave(this);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [s = &server_, self = this] { s->drop(self); },
            Qt::QueuedConnection);
    }

    NetServer& server_;
    QTcpSocket* socket_;
    std::string name_;
    NetReader reader_;
    bool gone_ = false;
};

NetServer::NetServer(Network& network) : network_(network)
{
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
}

NetServer::~NetServer() = default;

bool NetServer::listen(const std::string& host, quint16 port, std::string& error)
{
    const QHostAddress address = host.empty() || host == "*"
                                     ? QHostAddress(QHostAddress::Any)
                                     : QHostAddress(QString::fromStdString(host));
    if (address.isNull()) {
        error = "not an address: " + host;
        return false;
    }
    if (!server_.listen(address, port)) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": " +
                server_.errorString().toStdString();
        return false;
    }
    return true;
}

void NetServer::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        sites_.push_back(std::make_unique<RemoteSite>(*this, socket));
        std::fprintf(stderr, "skype-standin: stand-in %s joined\n",
                     sites_.back()->linkName().c_str());
        network_.join(sites_.back().get());
    }
}

void NetServer::drop(RemoteSite* site)
{
    std::erase_if(sites_, [site](const auto& p) { return p.get() == site; });
}

NetClient::NetClient(Site& site, std::string host, quint16 port)
    : site_(site), host_(std::move(host)), port_(port)
{
    retry_.setSingleShot(true);
    QObject::connect(&retry_, &QTimer::timeout, &socket_, [this] { start(); });
    QObject::connect(&socket_, &QTcpSocket::connected, &socket_, [this] { connected(); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_, [this] { lost(); });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, &socket_,
                     [this](QAbstractSocket::SocketError) { lost(); });
    QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] {
        const bool ok = reader_.read(socket_, [this](const NetMsg& msg) {
            logMsg("network", "<<", msg);
            if (up_)
                site_.fromHub(msg);
        });
        if (!ok) {
            std::fprintf(stderr, "skype-standin: the network sent a bad message\n");
            QMetaObject::invokeMethod(&socket_, &QTcpSocket::abort, Qt::QueuedConnection);
        }
    });
}

NetClient::~NetClient()
{
    // The socket reports its own closing while it is destroyed, after the retry timer is gone.
    QObject::disconnect(&socket_, nullptr, nullptr, nullptr);
}

void NetClient::start()
{
    if (socket_.state() != QAbstractSocket::UnconnectedState)
        return;
    socket_.connectToHost(QString::fromStdString(host_), port_);
}

void NetClient::send(const NetMsg& msg)
{
    logMsg("network", ">>", msg);
    sendNetMsg(socket_, msg);
}

void NetClient::connected()
{
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    up_ = true;
    std::printf("skype-standin: joined %s:%u\n", host_.c_str(), unsigned(port_));
    std::fflush(stdout);
    site_.hubUp(this);
}

void NetClient::lost()
{
    if (up_) {
        up_ = false;
        std::fprintf(stderr, "skype-standin: lost the network at %s:%u; joining again\n",
                     host_.c_str(), unsigned(port_));
        site_.hubDown();
    }
    if (!retry_.isActive())
        retry_.start(RetryMs);
}
