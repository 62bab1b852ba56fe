#pragma once

#include "Network.h"
#include "Site.h"

#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Links between a site and the network. Every link delivers on a later turn of the loop and
// in order, whether it crosses TCP or not, so no request's effect reaches a program before the
// result of the command that caused it.

// The site and the network of one stand-in.
class LocalLink
{
public:
    LocalLink(Site& site, Network& network);
    void start();

private:
    struct ToNetwork : HubLink
    {
        LocalLink* owner;
        void send(const NetMsg& msg) override;
    };
    struct ToSite : SiteLink
    {
        LocalLink* owner;
        void send(const NetMsg& msg) override;
        std::string linkName() const override { return "local"; }
    };

    Site& site_;
    Network& network_;
    QObject context_;
    ToNetwork toNetwork_;
    ToSite toSite_;
};

// Collects NetWire frames from a socket; false when the peer sent something unusable.
class NetReader
{
public:
    bool read(QTcpSocket& socket, const std::function<void(const NetMsg&)>& onMessage);

private:
    std::vector<std::uint8_t> buffer_;
};

// Writes a message, dropping the connection when the peer stops reading.
void sendNetMsg(QTcpSocket& socket, const NetMsg& msg);

// The network's side of the TCP links: other stand-ins join here with --join.
class NetServer
{
public:
    explicit NetServer(Network& network);
    ~NetServer();
    bool listen(const std::string& host, quint16 port, std::string& error);
    quint16 port() const { return server_.serverPort(); }

private:
    class RemoteSite;
    void accept();
    void drop(RemoteSite* site);

    Network& network_;
    QTcpServer server_;
    std::vector<std::unique_ptr<RemoteSite>> sites_;
};

// A site's TCP link to the network of another stand-in; it joins again after a loss.
class NetClient final : public HubLink
{
public:
    NetClient(Site& site, std::string host, quint16 port);
    ~NetClient() override;
    void start();
    void send(const NetMsg& msg) override;

private:
    void connected();
    void lost();

    Site& site_;
    std::string host_;
    quint16 port_;
    QTcpSocket socket_;
    QTimer retry_;
    NetReader reader_;
    bool up_ = false;
};
