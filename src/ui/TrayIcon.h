#pragma once

#include <QObject>

#include <memory>
#include <string>

class QMenu;
class QSystemTrayIcon;

// The node's notification-area icon with its tool-tip and menu ("メインウィンドウを開く", "終了").
// Where the desktop has no notification area, nothing is shown and available() is false.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    // The tool-tip is cut to this many bytes.
    static constexpr std::size_t kMaxToolTip = 127;

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // "<title>\r\nONLINE" while peers are connected, "<title>\r\nOFFLINE" otherwise, at most
    // kMaxToolTip bytes (never cutting a character in half).
    static std::string toolTipText(const std::string& title, bool peersConnected);

    bool available() const;
    const std::string& toolTip() const { return m_toolTip; }
    // The icon while it is added; nullptr without a notification area.
    QSystemTrayIcon* icon() const { return m_icon; }

    // Adds the icon with this tool-tip.
    void add(const std::string& toolTip);
    // Timer 102: takes the tool-tip when it differs and shows the icon again when it has gone
    // (for instance after the notification area restarted or appeared late).
    void refresh(const std::string& toolTip);
    void remove();

Q_SIGNALS:
    void openRequested();
    void exitRequested();

private:
    void createIcon();
    void setToolTipText(const std::string& toolTip);

    std::string m_toolTip;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon* m_icon = nullptr;
};
