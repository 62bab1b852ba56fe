#pragma once

#include <QObject>

#include <functional>
#include <memory>

namespace plat {
class SignalWatcher;
}

// What the desktop session tells the node: the session manager's log-off query, the end of the
// session, suspend and resume (logind's PrepareForSleep on the system bus, when there is one),
// and the signals that end the program the orderly way (SIGTERM, SIGHUP, and SIGINT when
// endOnInterrupt). Each is handed to a callback on the event loop.
class SessionEvents : public QObject
{
    Q_OBJECT
public:
    struct Callbacks
    {
        std::function<void()> queryEndSession; // the session asks whether it may end
        std::function<void()> endSession;      // the program must end now
        std::function<void()> suspend;
        std::function<void()> resume;
    };

    SessionEvents(Callbacks callbacks, bool endOnInterrupt, QObject* parent = nullptr);
    ~SessionEvents() override;

    // True when logind's sleep notifications are being received.
    bool watchingSleep() const { return m_watchingSleep; }

private Q_SLOTS:
    void prepareForSleep(bool start);

private:
    void watchSleep();

    Callbacks m_callbacks;
    std::unique_ptr<plat::SignalWatcher> m_signals;
    bool m_watchingSleep = false;
};
