#pragma once

#include <QDBusConnection>
#include <QObject>

#include <map>
#include <optional>
#include <string>

class QSystemTrayIcon;

// Tells the desktop that files have arrived: through the freedesktop notification service when
// the session has one (with an action that opens the received folder), else as a message of the
// notification-area icon (a click on it opens the folder). Without either, nothing is shown.
class ArrivalNotifier : public QObject
{
    Q_OBJECT
public:
    explicit ArrivalNotifier(QObject* parent = nullptr);

    // The bus to find the notification service on; the session bus unless set.
    void setBus(const QDBusConnection& bus) { m_bus = bus; }
    // The tray icon that carries the message where the service is missing; may be nullptr.
    void setTrayIcon(QSystemTrayIcon* icon) { m_tray = icon; }

    // summary and body in the interface's language; folder: what the action opens.
    void notify(const QString& summary, const QString& body, const std::string& folder);

    // Opens a folder in the desktop's file manager.
    static bool openFolder(const std::string& folder);

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    bool notifyService(const QString& summary, const QString& body, const std::string& folder);

    QDBusConnection bus() const;

    std::optional<QDBusConnection> m_bus;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_serviceWatched = false;
    std::map<uint, std::string> m_folders; // open notifications and the folder each opens
    std::string m_trayFolder;              // the folder the tray message opens
};
