#pragma once

#include <QIcon>

// The program's icons: the installed theme icon (data/icons) for the window, drawn at run time
// where it is not installed; the notification-area icon is always drawn, in its own colour.
namespace ui {

// The window icon (big and small) and the about box's picture.
QIcon mainIcon();
// The notification-area icon.
QIcon trayIcon();

} // namespace ui
