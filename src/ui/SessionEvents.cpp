#include "ui/SessionEvents.h"

#include "platform/Diag.h"
#include "platform/SignalWatcher.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QSessionManager>

#include <csignal>

SessionEvents::SessionEvents(Callbacks callbacks, bool endOnInterrupt, QObject* parent)
    : QObject(parent), m_callbacks(std::move(callbacks))
{
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
        if (m_callbacks.queryEndSession)
            m_callbacks.queryEndSession();
    });
    // A session that ends the application without asking first still takes the orderly path.
    connect(qGuiApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (m_callbacks.endSession)
            m_callbacks.endSession();
    });
    auto stop = [this](int signo) {
        plat::diag("signal %d: shutting down\n", signo);
        if (m_callbacks.endSession)
            m_callbacks.endSession();
    };
    if (endOnInterrupt)
        m_signals = std::make_unique<plat::SignalWatcher>(
            std::initializer_list<int>{SIGTERM, SIGHUP, SIGINT}, stop);
    else
        m_signals = std::make_unique<plat::SignalWatcher>(
            std::initializer_list<int>{SIGTERM, SIGHUP}, stop);
    watchSleep();
}

SessionEvents::~SessionEvents() = default;

// logind may be missing (containers, other init systems); the node then simply never hears of
// a suspend.
void SessionEvents::watchSleep()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    m_watchingSleep = bus.connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(prepareForSleep(bool)));
}

void SessionEvents::prepareForSleep(bool start)
{
    const auto& callback = start ? m_callbacks.suspend : m_callbacks.resume;
    if (callback)
        callback();
}
