#pragma once

#include "ui/TrayIcon.h"

#include <QDialog>

#include <memory>

class QMenu;

// A dialog that lives in the notification area: closing it, Escape and Enter only hide it, and
// the tray menu opens it again. Where the desktop has no notification area, Escape and Enter
// minimise it, and the close box asks whether to end the program (the safe answer keeps it
// running, minimised). Its context menu carries the about item that a desktop does not let a
// program add to the window manager's menu, and "終了". The visible flag says whether it may be
// shown.
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
    // The window's context menu: the about item and "終了".
    std::unique_ptr<QMenu> contextMenu();

    // Escape and Enter (the dialog's own rejection and acceptance) only hide the window.
    void reject() override;
    void accept() override;

Q_SIGNALS:
    // The user chose to end the program (context menu, or the close box without a tray).
    void exitChosen();

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
