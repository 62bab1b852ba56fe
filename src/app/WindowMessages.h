#pragma once

// Private window messages of the program.
constexpr unsigned WM_USER = 0x400;
// The tray icon's callback.
constexpr unsigned WM_TRAYICON = WM_USER + 100;
// Posted by a TCP connection to its own window to process what it has received.
constexpr unsigned WM_TCPRECEIVED = WM_USER + 200;
// Connection notices, posted to the node's hidden window for the status line (CPostError).
constexpr unsigned WM_POSTERROR = WM_USER + 301;

static_assert(WM_TCPRECEIVED == 1224);
static_assert(WM_POSTERROR == 1325);
