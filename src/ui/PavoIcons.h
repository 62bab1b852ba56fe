#pragma once

#include <QIcon>

// The program's icons, drawn at run time so that no image files need installing.
namespace ui {

// The window icon (big and small) and the about box's picture.
QIcon mainIcon();
// The notification-area icon.
QIcon trayIcon();

} // namespace ui
