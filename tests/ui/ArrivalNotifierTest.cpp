#include "ui/ArrivalNotifier.h"

#include "platform/EventLoop.h"
#include "support/TempDir.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QStringList>
#include <QThread>
#include <QUrl>
#include <QVariantMap>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

// The arrival notice through the freedesktop notification service, on a private bus with a
// stand-in service: what is asked of the service, and the action that opens the folder.
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// A private message bus for one test: dbus-daemon with the session configuration.
class PrivateBus
{
public:
    PrivateBus()
    {
        FILE* out = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 "
                            "2>/dev/null",
                            "r");
        if (!out)
            return;
        char line[512];
        if (std::fgets(line, sizeof line, out))
            address = QString::fromUtf8(line).trimmed();
        if (std::fgets(line, sizeof line, out))
            m_pid = std::atoi(line);
        ::pclose(out);
    }
    ~PrivateBus()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGTERM);
    }
    QString address;

private:
    int m_pid = 0;
};

} // namespace

// The stand-in service: records each Notify and answers with a new id. It lives on its own
// thread, since the notifier waits for the answer without turning the event loop.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call
    {
        QString app, summary, body;
        QStringList actions;
    };
    std::vector<Call> calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

public Q_SLOTS:
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap&, int)
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back({app, summary, body, actions});
        return uint(41 + m_calls.size());
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
};

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    std::vector<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.push_back(url); }
};

TEST(ArrivalNotifierTest, AskedOfTheServiceWithAnActionThatOpensTheFolder)
{
    PrivateBus bus;
    if (bus.address.isEmpty())
        GTEST_SKIP() << "dbus-daemon not available";
    QThread serviceThread;
    FakeNotifications service;
    service.moveToThread(&serviceThread);
    serviceThread.start();
    QDBusConnection serviceBus =
        QDBusConnection::connectToBus(bus.address, QStringLiteral("fake-service"));
    ASSERT_TRUE(serviceBus.registerService(kService));
    ASSERT_TRUE(serviceBus.registerObject(kPath, &service, QDBusConnection::ExportAllSlots));

    UrlRecorder urls;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls, "open");
    TempDir dir;
    {
        ArrivalNotifier notifier;
        notifier.setBus(QDBusConnection::connectToBus(bus.address, QStringLiteral("node")));
        notifier.notify(QStringLiteral("Pavo"), QStringLiteral("a.txt arrived"), dir.file("RECV"));

        const auto calls = service.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].app, QStringLiteral("Pavo"));
        EXPECT_EQ(calls[0].body, QStringLiteral("a.txt arrived"));
        EXPECT_TRUE(calls[0].actions.contains(QStringLiteral("open-folder")));

        // Another program's notification is not ours; the button of ours opens the folder.
        for (uint id : {7u, 42u}) {
            QDBusMessage signal =
                QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked"));
            signal << id << QStringLiteral("open-folder");
            serviceBus.send(signal);
        }
        EXPECT_TRUE(plat::runUntil([&] { return !urls.opened.empty(); }, 5000));
        plat::runFor(100);
        ASSERT_EQ(urls.opened.size(), 1u);
        EXPECT_EQ(urls.opened[0].toLocalFile().toStdString(), dir.file("RECV"));
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    serviceBus.unregisterObject(kPath);
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-service"));
    QDBusConnection::disconnectFromBus(QStringLiteral("node"));
    serviceThread.quit();
    serviceThread.wait();
}

#include "ArrivalNotifierTest.moc"
