#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// A non-blocking Unix-domain stream socket on the client side, for talking to a program of the
// same desktop at a fixed path. The event loop reports when bytes (or the peer's close) can be
// read; a caller that must wait for an answer before it returns uses waitReadable instead.
namespace plat {

class LocalSocket
{
public:
    // onReadable runs on the event loop whenever bytes or a close wait; it may close or destroy
    // the socket.
    explicit LocalSocket(std::function<void()> onReadable = {});
    ~LocalSocket();
    LocalSocket(const LocalSocket&) = delete;
    LocalSocket& operator=(const LocalSocket&) = delete;

    void setOnReadable(std::function<void()> onReadable);

    // Connects to the socket at path; false with *error (an errno) when nobody listens there.
    // A path that does not fit into a socket address fails with ENAMETOOLONG.
    bool connect(const std::string& path, int* error);

    // > 0 bytes read; 0 the peer closed; -1 with *error (EAGAIN: nothing to read now).
    long receive(void* buffer, std::size_t length, int* error);
    // Writes every byte, waiting at most timeoutMs in all for room; false on an error (in
    // *error) or when the time ran out (ETIMEDOUT). Part of the bytes may have left then.
    bool sendAll(const void* data, std::size_t length, int timeoutMs, int* error);
    // Waits at most timeoutMs until bytes or a close can be read; false when nothing came.
    bool waitReadable(int timeoutMs);

    void close();
    bool isOpen() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace plat
