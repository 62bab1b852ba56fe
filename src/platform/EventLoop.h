#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// The one thread's event loop (Qt's): timers by id, work posted to run after the current
// handler returns, hidden message windows, deferred destruction. Every timer period passes
// through the PAVO_TIME_SCALE factor, so tests can run timer-driven behaviour quickly.
namespace plat {

// The factor from PAVO_TIME_SCALE (e.g. "0.01"); 1 when unset or not a positive number.
double timeScale();
// The factor that a PAVO_TIME_SCALE text stands for (null, empty or malformed: 1).
double parseTimeScale(const char* text);
// periodMs × timeScale(), at least 1 ms.
int scaledMs(int periodMs);

// Runs fn on the loop after the current handler has returned, in posting order.
void post(std::function<void()> fn);

// Destroys p on the next turn of the loop: for a handler that must end the object it runs in.
template <class T> void deferDelete(std::unique_ptr<T> p)
{
    if (p)
        post([raw = p.release()] { delete raw; });
}

// A set of periodic timers of one owner, addressed by id (like a window's timers).
// Destroying the set stops them all; a timer callback may kill or reset any timer of the set,
// and may destroy the set itself.
class TimerSet
{
public:
    explicit TimerSet(std::function<void(int id)> onTimer);
    ~TimerSet();
    TimerSet(const TimerSet&) = delete;
    TimerSet& operator=(const TimerSet&) = delete;

    // Starts (or restarts) timer id with the scaled period.
    void set(int id, int periodMs);
    void kill(int id);
    bool active(int id) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

struct WindowMessage
{
    unsigned msg = 0;
    std::uintptr_t wparam = 0;
    std::intptr_t lparam = 0;
};

class MessageWindow;

// A copyable reference to a message window; posting through it after the window is gone
// does nothing.
class WindowHandle
{
public:
    WindowHandle() = default;
    bool post(unsigned msg, std::uintptr_t wparam = 0, std::intptr_t lparam = 0) const;
    bool valid() const { return !state_.expired(); }
    explicit operator bool() const { return valid(); }

private:
    friend class MessageWindow;
    std::weak_ptr<void> state_;
};

// A hidden window that receives posted messages. Each posted message is handed to the handler
// after the current handler has returned, in posting order; messages still queued when the window
// is destroyed are dropped. The handler may destroy the window.
class MessageWindow
{
public:
    using Handler = std::function<void(const WindowMessage&)>;
    explicit MessageWindow(Handler handler);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    void post(unsigned msg, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);
    WindowHandle handle() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Runs the loop until pred() holds or timeoutMs (real, unscaled) have passed; returns pred().
bool runUntil(const std::function<bool()>& pred, int timeoutMs);
// Runs the loop for ms milliseconds (real, unscaled).
void runFor(int ms);

} // namespace plat
