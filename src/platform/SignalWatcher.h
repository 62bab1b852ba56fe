#pragma once

#include <functional>
#include <initializer_list>
#include <memory>

// Turns POSIX signals into calls on the event loop (self-pipe), so that a SIGTERM ends the
// program through its orderly shutdown instead of in the middle of a handler.
namespace plat {

class SignalWatcher
{
public:
    // handler(signo) runs on the event loop, never inside the signal handler.
    SignalWatcher(std::initializer_list<int> signalNumbers, std::function<void(int)> handler);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // Makes the process ignore these signals (debug mode ignores SIGINT and SIGQUIT).
    static void ignore(std::initializer_list<int> signalNumbers);
    // Holds these signals back (they stay pending) until unblock: start-up blocks the stopping
    // signals before anything can be lost and releases them once a watcher handles them.
    static void block(std::initializer_list<int> signalNumbers);
    static void unblock(std::initializer_list<int> signalNumbers);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace plat
