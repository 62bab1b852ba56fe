#pragma once

#include "skype/ClientWire.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QLocalSocket;
class Site;
struct SiteUser;

// One node program connected to a user's endpoint (its "window"): the attach handshake, then
// commands answered one at a time, each with its replies as notifications and one result.
class ClientSession
{
public:
    // Beyond this much unsent output the node is taken to have stopped reading.
    static constexpr std::int64_t MaxUnsent = 64 << 20;

    ClientSession(Site& site, SiteUser& user, QLocalSocket* socket);
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    SiteUser& user() { return user_; }
    bool attached() const { return attached_; }

    // Sent at once: inside a command that is before its result.
    void notify(std::string_view text);
    // Sent after the result of the command being handled (at once outside a command).
    void notifyAfter(std::string text);
    // The client was "not available" to this program and now is.
    void becameAvailable();

private:
    void onReadyRead();
    void handle(const ClientWire::Frame& frame);
    void discover();
    void attachNow();
    void send(const std::vector<std::uint8_t>& frame);
    void sendAttach(std::uint32_t status);
    // Ends the session on the next turn of the loop, so no caller iterating over sessions
    // sees the list change under it.
    void close(const char* why);

    Site& site_;
    SiteUser& user_;
    QLocalSocket* socket_;
    std::string name_;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::string> after_;
    bool inCommand_ = false;
    bool attached_ = false;
    bool authorising_ = false;
    bool toldUnavailable_ = false;
    bool closing_ = false;
};
