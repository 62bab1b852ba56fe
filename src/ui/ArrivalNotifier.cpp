#include "ui/ArrivalNotifier.h"

#include "platform/Diag.h"
#include "platform/Files.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDesktopServices>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kOpenAction = QStringLiteral("open-folder");
const char* const kOpenText = "受信フォルダを開く";
} // namespace

ArrivalNotifier::ArrivalNotifier(QObject* parent) : QObject(parent) {}

QDBusConnection ArrivalNotifier::bus() const
{
    return m_bus ? *m_bus : QDBusConnection::sessionBus();
}

bool ArrivalNotifier::openFolder(const std::string& folder)
{
    plat::makeFolders(folder);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder)));
}

void ArrivalNotifier::notify(const QString& summary, const QString& body, const std::string& folder)
{
    if (notifyService(summary, body, folder))
        return;
    if (m_tray && m_tray->isVisible() && QSystemTrayIcon::supportsMessages()) {
        if (m_trayFolder.empty())
            connect(m_tray, &QSystemTrayIcon::messageClicked, this,
                    [this] { openFolder(m_trayFolder); });
        m_trayFolder = folder;
        m_tray->showMessage(summary, body, QSystemTrayIcon::Information);
        return;
    }
    plat::diag("arrival: no notification service and no tray: %s\n", body.toStdString().c_str());
}

bool ArrivalNotifier::notifyService(const QString& summary, const QString& body,
                                    const std::string& folder)
{
    QDBusConnection bus = this->bus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(kService).value())
        return false;
    if (!m_serviceWatched) {
        bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(actionInvoked(uint, QString)));
        bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(notificationClosed(uint, uint)));
        m_serviceWatched = true;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.pavo.Pavo"));
    // "default" is the click on the notification itself; the named action is its button.
    const QStringList actions{QStringLiteral("default"), QString::fromUtf8(kOpenText), kOpenAction,
                              QString::fromUtf8(kOpenText)};
    call << QStringLiteral("Pavo") << uint(0) << QStringLiteral("org.pavo.Pavo") << summary << body
         << actions << hints << int(-1);
    const QDBusReply<uint> reply = bus.call(call, QDBus::Block, 2000);
    if (!reply.isValid())
        return false;
    m_folders[reply.value()] = folder;
    return true;
}

void ArrivalNotifier::actionInvoked(uint id, const QString& action)
{
    const auto it = m_folders.find(id);
    if (it == m_folders.end())
        return; // another program's notification
    if (action == kOpenAction || action == QStringLiteral("default"))
        openFolder(it->second);
}

void ArrivalNotifier::notificationClosed(uint id, uint)
{
    m_folders.erase(id);
}
