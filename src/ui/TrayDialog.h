#pragma once

#include "ui/TrayIcon.h"

#include <QDialog>

// A dialog that lives in the notification area: closing it, Escape and Enter only hide it (or
// minimise it where the desktop has no notification area, so it stays reachable), the tray menu
// opens it again, and its context menu carries the about item that a desktop does not let a
// program add to the window manager's menu. The visible flag says whether it may be shown.
class TrayDialog : public QDialog
{
    Q_OBJECT
public:
    // The system menu's about command.
    static constexpr int kAboutCommand = 16;

    // headless: the offscreen platform, which cannot raise a window.
    explicit TrayDialog(bool headless);

    bool headless() const { return m_headless; }
    bool visibleFlag() const { return m_visible; }
    TrayIcon& tray() { return m_tray; }

    // Tray menu: open the window.
    void openFromTray();
    // A system-menu command (the about item opens the about box).
    void systemCommand(int id);

    // Escape and Enter (the dialog's own rejection and acceptance) only hide the window.
    void reject() override;
    void accept() override;

protected:
    // Visible flag 1: shown in its normal size and, on a real display, brought to the front.
    void showWindow();
    void hideWindow();
    void centreOnScreen();
    // Close box, Escape and Enter: hide into the tray, or minimise where there is no tray.
    void closeToTray();

    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool m_headless;
    bool m_visible = false;
    TrayIcon m_tray;
};
